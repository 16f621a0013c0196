// Shared set-up for the log analysis tests: a fixed display zone and vehicle state, logs written
// to temporary files, and DecodeVmsFile or BuildLogLayout run with the text report's consumer and
// standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "analysis/run.h"
#include "testsupport/logbuilder.h"

// 01/01/2010 00:00:00 UTC; raw dates this late are not touched by the 1024-week correction.
constexpr uint32_t T0 = 1262304000u;
constexpr uint32_t secDay = 86400u;

// A request as the tests write it: what the command line would ask for and the report's layout
// (fdispTab, fdispMetric; 0x200 for the battery study, which lists nothing).
struct DECODEOPT {
    int fVerbose = 0;
    int fSummary = 0;
    int fChargeDetail = 0;
    int grfDisplay = 0;
    int fPermanent = 0;
    unsigned int grfRt = 0;
    unsigned int timestampStart = 0;
    unsigned int timestampEnd = 0;
};
constexpr int grfdispStudy = 0x200;

// A notes hook of a test's own, for the consumer of the report.
typedef void (*PFNTESTNOTES)(void* pv, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent);

class LogTest : public testing::Test {
protected:
    void SetUp() override;

    // DecodeVmsFile on the log with the test's run and the report's consumer (with pfnNotes when
    // set); returns standard output.
    std::string Decode(Bytes const& log, DECODEOPT const& d);
    // BuildLogLayout on the log into the run's layout, the VIN line and (with fPrintContents) the
    // table of contents as the report prints them; returns standard output.
    std::string Layout(Bytes const& log, int fPrintContents, int grfDisplay = 0);
    // Offsets that a walk visits.
    std::vector<long> RingOffsets(Bytes const& log);
    std::vector<long> LongTermOffsets(Bytes const& log);
    // Checks that the ring walk and a linear walk over the whole log visit the same records
    // (offset and length) whether they are given the section table or search for every record.
    void ExpectTrustedWalksSearchAlike(Bytes const& log);

    // Every test has a run of its own (too large for the stack): no vehicle, notes or collector.
    std::unique_ptr<RUN> prun = NewRun();
    LOGLAYOUT& layout = prun->layout;
    PFNTESTNOTES pfnNotes = nullptr;

private:
    static std::unique_ptr<RUN> NewRun();
    std::string WriteLog(Bytes const& log);
};

// 11 bytes: in a 10-byte record the checksum byte would be the date's top byte.
Rec Xx04(uint32_t date);

// A long-term part, a transient section written after the ring wrapped, and the ring's oldest
// section behind a gap; garbage of 1, 5 and 3 bytes.
//   0x00 VINF L 12/22/2009  0x28 XX04 12/27  0x33 XX04 12/31  0x3E 1 byte
//   0x3F XX04 12/31 23:00   0x4A VINF T 01/01/2010 02:00  0x72 XX04 02:01:40  0x7D 5 bytes
//   0x82 XX04 01/01 00:00   0x8D XX04 00:01  0x98 3 bytes, size 0x9B
Bytes WrappedLog();
// What the section scan prints first for WrappedLog's VIN.
inline constexpr char szVinLine[] = "\nV2.x Roadster VIN SFZRE8B19A3000123\n\n";

// "CODE@timestamp" for every record line of a text-layout listing, in order.
std::vector<std::string> ListedRecords(std::string const& out);
// The output's lines from the first one equal to `first` on, up to the end.
std::string From(std::string const& out, std::string const& first);
