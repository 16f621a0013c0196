// Shared set-up for the log analysis tests: a fixed display zone and vehicle state, logs written
// to temporary files, and DecodeVmsFile or BuildLogLayout run with standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/sections.h"
#include "testsupport/logbuilder.h"

// 01/01/2010 00:00:00 UTC; raw dates this late are not touched by the 1024-week correction.
constexpr uint32_t T0 = 1262304000u;
constexpr uint32_t secDay = 86400u;

struct DECODE {
    int fVerbose = 0;
    int fSummary = 0;
    int fChargeDetail = 0;
    int grfDisplay = 0;
    int fPermanent = 0;
    unsigned grfRt = 0;
    unsigned timestampStart = 0;
    unsigned timestampEnd = 0;
};

class LogTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // DecodeVmsFile on the log; returns standard output.
    std::string Decode(Bytes const& log, DECODE const& d);
    // BuildLogLayout on the log into layout; returns standard output.
    std::string Layout(Bytes const& log, int fPrintContents, int grfDisplay = 0);
    // Offsets that a walk visits.
    std::vector<long> RingOffsets(Bytes const& log);
    std::vector<long> LongTermOffsets(Bytes const& log);

    static LOGLAYOUT layout;

private:
    std::string WriteLog(Bytes const& log);
};

// "CODE@timestamp" for every record line of a text-layout listing, in order.
std::vector<std::string> ListedRecords(std::string const& out);
// The output's lines from the first one equal to `first` on, up to the end.
std::string From(std::string const& out, std::string const& first);
