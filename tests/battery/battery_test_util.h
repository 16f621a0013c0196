// Shared pieces of the battery study tests: decoded records and samples built field by field,
// fixed times in UTC, and a fixture that starts every test from an empty study.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "battery/collect.h"
#include "report/battery.h"
#include "support/timecal.h"

// 03/04/2010 10:11:12 UTC and midnight of 03/01/2010 UTC.
constexpr uint32_t tsMar4 = 1267697472u;
constexpr uint32_t tsMar1 = 1267401600u;
// 01/01/2020 00:00:00 UTC: every 2010 time is credible against it.
constexpr uint32_t tsLastValid = 1577836800u;
constexpr uint32_t secDayT = 86400;
constexpr uint32_t secHourT = 3600;

inline VLR VlrOf(int sect, int rt, uint32_t timestamp)
{
    VLR vlr;
    std::memset(&vlr, 0, sizeof(vlr));
    vlr.sect = sect;
    vlr.rt = rt;
    vlr.timestamp = timestamp;
    return vlr;
}

inline VLR VinfVlr(int sect, uint32_t timestamp, const char* pszVIN, uint32_t vers = 0x04010205)
{
    VLR vlr = VlrOf(sect, rtVINF, timestamp);
    vlr.grf = fvlrVehicleInfo;
    std::memcpy(vlr.achVIN, pszVIN, std::min<size_t>(std::strlen(pszVIN), sizeof(vlr.achVIN)));
    vlr.versFirmware = vers;
    return vlr;
}

inline VLR DayVlr(uint32_t timestamp, double milesOdo, int sect = sectLongTerm)
{
    VLR vlr = VlrOf(sect, rtDAY, timestamp);
    vlr.grf = fvlrDaily | fvlrOdometer;
    vlr.milesOdo = milesOdo;
    return vlr;
}

inline VLR ChargeVlr(uint32_t timestamp, double amps, double volts, uint32_t grf = fvlrChargeAmps | fvlrLineVolts)
{
    VLR vlr = VlrOf(sectTransient, rtC1MB, timestamp);
    vlr.grf = grf;
    vlr.ampsCharge = amps;
    vlr.voltsLine = volts;
    return vlr;
}

inline VLR TempVlr(int rt, uint32_t timestamp, double degMin, double degMax)
{
    VLR vlr = VlrOf(sectTransient, rt, timestamp);
    vlr.grf = fvlrTempESS;
    vlr.degESSMin = degMin;
    vlr.degESSMax = degMax;
    return vlr;
}

inline DataPoint DpOf(int sect, int rt, uint32_t timestamp)
{
    DataPoint dp{};
    dp.sect = sect;
    dp.rt = rt;
    dp.timestamp = static_cast<int32_t>(timestamp);
    return dp;
}

// Rows "j, 0" for j in [jFirst, jLast]: the zero rows a trimmed histogram prints.
inline std::string ZeroRows(int jFirst, int jLast)
{
    std::string s;
    for (int j = jFirst; j <= jLast; j++)
        s += std::to_string(j) + ", 0\n";
    return s;
}

// The rows printed under one histogram's title line, up to the next separator.
inline std::string HistogramRows(const std::string& out, const std::string& titleLine)
{
    size_t ib = out.find(titleLine + "\n");
    if (ib == std::string::npos)
        return "<no " + titleLine + ">";
    ib += titleLine.size() + 1;
    size_t ibEnd = out.find("------", ib);
    return out.substr(ib, ibEnd == std::string::npos ? std::string::npos : ibEnd - ib);
}

// Offers the record to the study and returns what the collection printed.
inline std::string AggregateInto(STUDY* pstudy, VLR vlr)
{
    testing::internal::CaptureStdout();
    AggregateVlr(pstudy, &vlr);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class BatteryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(FSetZones("UTC"), 1);
        InitStudy(&study);
        study.hook = StudyHookOfReport();
        BeginAggregrateSection(&study, sectLongTerm, 0, tsLastValid);
    }

    std::string Aggregate(VLR vlr) { return AggregateInto(&study, vlr); }

    STUDY study;
};
