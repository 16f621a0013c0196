// The record tables and helpers: timestamp correction, credibility, type codes, error texts and
// the firmware version packing.
#include <gtest/gtest.h>

#include <cstring>

#include "records/record.h"

namespace {

RH RhWithDate(uint32_t dateRaw)
{
    RH rh{};
    rh.start[0] = 0x03;
    rh.start[1] = 0x02;
    rh.date[0] = (uint8_t)dateRaw;
    rh.date[1] = (uint8_t)(dateRaw >> 8);
    rh.date[2] = (uint8_t)(dateRaw >> 16);
    rh.date[3] = (uint8_t)(dateRaw >> 24);
    return rh;
}

TEST(TimestampCorrection, WindowBoundaries)
{
    struct {
        uint32_t dateRaw;
        uint32_t timestamp;
    } const rgcase[] = {
        {0, 0},
        {935193600u, 935193600u},                 // one second before the window
        {935193601u, 1554508801u},                // first corrected value
        {1150765199u, 1770080399u},               // the old upper limit is now inside
        {1150765200u, 1770080400u},
        {1199145599u, 1818460799u},               // last corrected value
        {1199145600u, 1199145600u},               // just past the window: unchanged
        {1554552000u, 1554552000u},               // an already correct time
        {0xFFFFFFFFu, 0xFFFFFFFFu},               // erased flash
    };
    for (auto const& c : rgcase) {
        EXPECT_EQ(TimestampFromRaw(c.dateRaw), c.timestamp) << c.dateRaw;
        RH rh = RhWithDate(c.dateRaw);
        EXPECT_EQ(TimestampFromRh(&rh), c.timestamp) << c.dateRaw;
    }
}

TEST(FValidTimestamp, Edges)
{
    struct {
        uint32_t timestamp;
        uint32_t timestampLastValid;
        int fValid;
    } const rgcase[] = {
        {978307200u, 0xFFFFFFF0u, 0},          // 2001-01-01 00:00:00 itself is never credible
        {978307200u, 1554552000u, 0},
        {978307201u, 978307201u, 1},
        {0xFFFFFFFFu, 0x7FFFFFFFu, 0},
        {0xFFFFFFFEu, 0xFFFFFFF0u, 0},         // the bound wraps to a small number
        {0xFFFFFFFEu, 0xFFD872FFu, 1},         // bound 0xFFFFFFFF admits 0xFFFFFFFE
        {1554552000u, 0, 0},                   // with no last valid time the bound is 30 days
        {1554552000u + 2592000u, 1554552000u, 0},
        {1554552000u + 2591999u, 1554552000u, 1},
        {1554552000u, 1554552000u, 1},
    };
    for (auto const& c : rgcase)
        EXPECT_EQ(FValidTimestamp(c.timestamp, c.timestampLastValid), c.fValid)
            << c.timestamp << " " << c.timestampLastValid;
}

TEST(RecordTypes, CodesAndListCodes)
{
    struct {
        int rt;
        const char* szCode;   // SzFromRt, null for none
        const char* szList;   // SzListCodeFromRt
    } const rgcase[] = {
        {0, nullptr, "XX00"},    {1, "VINF", "VINF"},     {2, nullptr, "XX02"},  {3, "XX03", "XX03"},
        {5, "XX05", "XX05"},     {6, "DAY", "DAY"},       {12, "D10M", "D10M"},  {13, nullptr, "XX13"},
        {19, nullptr, "XX19"},   {20, "TPMS", "TPMS"},    {22, nullptr, "XX22"}, {23, "ERR", "ERR"},
        {24, "C1MB", "C1MB"},    {25, "UNK_TYPE", "XX25"}, {200, "UNK_TYPE", "XX20"},
        {255, "UNK_TYPE", "XX25"},
    };
    for (auto const& c : rgcase) {
        const char* sz = SzFromRt(c.rt);
        if (c.szCode)
            EXPECT_STREQ(sz, c.szCode) << c.rt;
        else
            EXPECT_EQ(sz, nullptr) << c.rt;
        char buf[5];
        EXPECT_STREQ(SzListCodeFromRt(c.rt, buf), c.szList) << c.rt;
    }
    EXPECT_STREQ(s_mp_rt_ri[5].szDesc, "");
    EXPECT_STREQ(s_mp_rt_ri[24].szDesc, "1-minute charge status, version 2.x (2010+) Roadsters");
    for (int rt = 0; rt < rtMax; rt++)
        EXPECT_EQ(s_mp_rt_ri[rt].rt, rt);
}

TEST(ErrorCodes, Descriptions)
{
    EXPECT_STREQ(SzDescForErrorCode(52), "VMS: VMS restarted");
    EXPECT_STREQ(SzDescForErrorCode(53), "VMS: GPS thread was gone for 30 seconds");
    EXPECT_STREQ(SzDescForErrorCode(412), "Tire Pressure Warning");
    EXPECT_STREQ(SzDescForErrorCode(416), "Tire Pressure Warning");
    EXPECT_STREQ(SzDescForErrorCode(1412), "Coolant System Failure");
    EXPECT_EQ(SzDescForErrorCode(0), nullptr);
    EXPECT_EQ(SzDescForErrorCode(417), nullptr);
    EXPECT_EQ(SzDescForErrorCode(65535), nullptr);
}

TEST(FirmwareVersion, FormatPackAndStore)
{
    char buf[20];
    EXPECT_STREQ(FormatFirmwareVersion(0x01020304, buf, 20), "1.2.3 4");
    EXPECT_STREQ(FormatFirmwareVersion(0xFF00FE7F, buf, 20), "255.0.254 127");
    EXPECT_STREQ(FormatFirmwareVersion(0, buf, 20), "0.0.0 0");
    FormatFirmwareVersion(0x01020304, buf, 4);
    EXPECT_STREQ(buf, "1.2");
    FormatFirmwareVersion(0xFF00FE7F, buf, 6);
    EXPECT_STREQ(buf, "255.0");
    FormatFirmwareVersion(0xFF00FE7F, buf, 1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(CchFirmwareVersion(0xFFFFFFFF, buf), cchFirmwareVersionMax);

    unsigned char rec[40] = {0x03, 0x02, 38, rtVINF};
    rec[12] = 2;
    rec[13] = 1;
    rec[14] = 4;
    rec[18] = 5;
    EXPECT_EQ(VersFirmwareFromRecord(rec), 0x04010205u);

    SetFirmwareVersionInRecord(0x0A0B0C0D, rec, 40);
    EXPECT_EQ(rec[14], 0x0A);
    EXPECT_EQ(rec[13], 0x0B);
    EXPECT_EQ(rec[12], 0x0C);
    EXPECT_EQ(rec[18], 0x0D);
    EXPECT_EQ(VersFirmwareFromRecord(rec), 0x0A0B0C0Du);

    // Too short to hold byte 18, or not a VINF record: untouched.
    unsigned char recBefore[40];
    memcpy(recBefore, rec, sizeof rec);
    SetFirmwareVersionInRecord(0x01010101, rec, 18);
    EXPECT_EQ(memcmp(rec, recBefore, sizeof rec), 0);
    rec[3] = rtDAY;
    SetFirmwareVersionInRecord(0x01010101, rec, 40);
    rec[3] = rtVINF;
    EXPECT_EQ(memcmp(rec, recBefore, sizeof rec), 0);
    SetFirmwareVersionInRecord(0x01010101, rec, 19);
    EXPECT_EQ(VersFirmwareFromRecord(rec), 0x01010101u);
}

TEST(ClearVlr, ZeroesEverythingAndSetsSection)
{
    VLR vlr;
    memset(&vlr, 0xAB, sizeof vlr);
    ClearVlr(&vlr, sectTransient);
    EXPECT_EQ(vlr.sect, sectTransient);
    EXPECT_EQ(vlr.grf, 0u);
    EXPECT_EQ(vlr.milesDrive, 0.0);
    EXPECT_EQ(vlr.ahIn, 0.0);
    EXPECT_EQ(vlr.szDesc[0], 0);
    EXPECT_EQ(vlr.szDesc[255], 0);
}

TEST(VehicleInfo, NamesAndUnknownVehicle)
{
    EXPECT_STREQ(SzRoadsterVersion(3), "V1.5 Roadster");
    EXPECT_STREQ(SzRoadsterVersion(4), "V2.x Roadster");
    EXPECT_STREQ(SzRoadsterVersion(5), "V2.x Roadster");
    EXPECT_STREQ(SzRoadsterVersion(0), "Unknown Vehicle Type");
    EXPECT_STREQ(SzRoadsterVersion(6), "Unknown Vehicle Type");

    VEHICLE vehicle = VehicleUnknown();
    EXPECT_EQ(vehicle.versFirmware, 0u);
    EXPECT_EQ(vehicle.rver, 0);
    EXPECT_EQ(vehicle.achVIN[0], 0);
    EXPECT_STREQ(vehicle.pszRoadsterVersion, "");
}

}  // namespace
