// Record listing lines in the text and tab layouts, the headings, the unit helpers, and the
// printf-exactness of the fast number formatting.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "input/stream.h"
#include "records/listing.h"
#include "records/scanner.h"
#include "support/timecal.h"
#include "testsupport/logbuilder.h"

namespace {

constexpr uint32_t dateApr2019 = 1554552000u;   // 04/06/2019 12:00:00 UTC, 0x5CA894C0
constexpr int grfList = 0;
constexpr int grfTab = fdispTab;

std::string Capture(const std::function<void()>& fn)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

class Listing : public testing::Test {
protected:
    void SetUp() override
    {
        FSetZones("UTC");
        InitScanState(&scan);
        ClearVlr(&vlr, sectTransient);
    }

    // The record taken into the fixture's VLR and listed as the walks list it.
    std::string List(Bytes const& bytes, int grfDisplay, VLR* pvlr = nullptr)
    {
        if (!pvlr)
            pvlr = &vlr;
        return Capture([&] {
            ScanRecord(&scan, bytes.data(), (int)bytes.size(), 0, pvlr);
            PrintRecordLine(0, bytes.data(), (int)bytes.size(), pvlr, grfDisplay);
        });
    }
    std::string ListFromFile(STREAM* pstream, long pos, unsigned long cb, int grfDisplay)
    {
        return Capture([&] {
            unsigned char rgbBuf[cbRecordBuffer];
            unsigned char const* pb = PbRecordBytes(pstream, pos, &cb, rgbBuf);
            ScanRecord(&scan, pb, (int)cb, 0, &vlr);
            PrintRecordLine(pos, pb, (int)cb, &vlr, grfDisplay);
        });
    }
    std::string List(Rec const& rec, int grfDisplay) { return List(rec.Get(), grfDisplay); }

    SCANSTATE scan;
    VLR vlr;
};

Rec Dr1s(int flags)
{
    Rec r = Rec(rtDR1S, 26, dateApr2019).I16(10, 760).I16(12, -320).I16(14, 655);
    r.U16(16, 32768).U16(20, 16384).U8(22, 255).U8(24, flags);
    return r;
}

Rec C1mb()
{
    Rec r = Rec(rtC1MB, 39, dateApr2019).U16(10, 779).I16(12, -64).U16(14, 32768).U16(16, 32768);
    r.U8(21, 110).U8(22, 3).U16(26, 32768).U16(28, 32000).U8(30, 12).U8(31, 87);
    r.U16(34, 6400).U16(36, 65280);
    return r;
}

Rec Tpms()
{
    return Rec(rtTPMS, 19, dateApr2019).U8(10, 82).U8(11, 20).U8(12, 83).U8(13, 21).U8(14, 84).U8(15, 22)
        .U8(16, 85).U8(17, 250);
}

const char* const szStart = "04/06/2019 12:00:00 | 1554552000 | ";
const char* const szStartTab = "04/06/2019 12:00:00\t1554552000\t";

TEST_F(Listing, TextLines)
{
    struct {
        const char* szName;
        Rec rec;
        int grfDisplay;
        std::string sLine;
    } const rgcase[] = {
        {"D10M", D10mRec(dateApr2019, 80, 12345.6).T2(0x01).I16(10, 100), grfList,
         std::string(szStart) + "D10M | odo = 12345.6 range soc = 80% elevation = 328 ft\n"},
        {"D10M metric", D10mRec(dateApr2019, 80, 100.0).T2(0x01).I16(10, 100), grfList | fdispMetric,
         std::string(szStart) + "D10M | odo = 160.9 range soc = 80% elevation = 100 m\n"},
        {"elevation below sea level", D10mRec(dateApr2019, 7).T2(0x01).I16(10, -10), grfList,
         std::string(szStart) + "D10M | range soc = 7% elevation = -32 ft\n"},
        {"DR1S", Dr1s(0x4D), grfList,
         std::string(szStart) + "DR1S | speed = 65.5 mph volts = 380.0 amps = 10.0 motor amps = 500 torque = 74"
                                " pedal = 100% brake applied regen TC off drive dist = 0.0 mi\n"},
        {"DR1S metric, TC on", Dr1s(0x01), grfList | fdispMetric,
         std::string(szStart) + "DR1S | speed = 105.4 kph volts = 380.0 amps = 10.0 motor amps = 500 torque = 74"
                                " pedal = 100% drive dist = 0.0 km\n"},
        {"C1MB", C1mb(), grfList,
         std::string(szStart) + "C1MB | volts = 380.4 amps = -2.0 Coolant 25C ESS 25.00C - 255.00C cooling = 3"
                                " charging at 250.0V 100.00A, 4.000V min, 3.906V max, 12 brick min V,"
                                " 87 brick max V\n"},
        {"DAY", Rec(rtDAY, 41, dateApr2019).U32(30, 123456).U16(34, 8192).U16(36, 4096).U8(38, 17).U8(39, 80),
         grfList,
         std::string(szStart) + "DAY  | odo = 12345.6 range soc = 80%, brick ave 467.000Ah, brick min 233.500Ah,"
                                " min Ah brick 17, CAC 234.00 Ah\n"},
        {"IDLE", Rec(rtIDLE, 25, dateApr2019).T2(0x10).I16(12, -512).I16(14, 5760).U8(16, 66).U16(18, 32768)
                     .U16(20, 32000).U8(22, 5).U8(23, 9),
         grfList,
         std::string(szStart) + "IDLE | range soc = 66% ESS -2.00C - 22.50C, 4.000V min, 3.906V max,"
                                " 5 brick min V, 9 brick max V\n"},
        {"C30M amperes available", Rec(rtC30M, 23, dateApr2019).T3(3).U8(14, 40).U8(17, 90), grfList,
         std::string(szStart) + "C30M | range soc = 90%, 40A available\n"},
        {"C30M sub-kind 2", Rec(rtC30M, 23, dateApr2019).T3(2).U8(14, 40).U8(17, 90), grfList,
         std::string(szStart) + "C30M |\n"},
        {"C1MA", Rec(rtC1MA, 43, dateApr2019).U16(18, 32768).U16(20, 32768).U8(25, 110).U16(38, 6400)
                     .U16(40, 6528),
         grfList,
         std::string(szStart) + "C1MA | Coolant 25C ESS 25.00C - 25.50C charging at 250.0V 100.00A\n"},
        {"DR1M", Rec(rtDR1M, 36, dateApr2019).U8(17, 101).U8(18, 64).U8(20, 140).I16(26, -256).I16(28, 7680),
         grfList, std::string(szStart) + "DR1M | PEM 50C Motor 64C Coolant 40C ESS -1.00C - 30.00C\n"},
        {"TPMS", Tpms(), grfList,
         std::string(szStart) + "TPMS |LF: 32.0 psi 20 deg | RF: 32.4 psi 21 deg | LR: 32.8 psi 22 deg"
                                " | RR: 33.2 psi 250 deg\n"},
        {"ERR known", Rec(rtERR, 18, dateApr2019).U16(14, 53).U8(16, 4), grfList,
         std::string(szStart) + "ERR  | error code 53 (VMS: GPS thread was gone for 30 seconds) 4 bytes\n"},
        {"ERR code 0", Rec(rtERR, 18, dateApr2019).U16(14, 0).U8(16, 4), grfList,
         std::string(szStart) + "ERR  | 4 bytes\n"},
        {"ERR code 0, no data", Rec(rtERR, 18, dateApr2019), grfList, std::string(szStart) + "ERR  |\n"},
        {"XX03", Rec(rtXX03, 14, dateApr2019).U8(10, 0x09).U8(11, 3), grfList,
         std::string(szStart) + "XX03 | turn off car\n"},
        {"VINF", VinfRec(dateApr2019, true), grfList,
         std::string(szStart) + "VINF | L SFZRE8B19A3000123 '4.1.2 5'\n"},
        {"XX02 erased time", Rec(2, 12, 0xFFFFFFFF), grfList, "------------------- |         -1 | XX02 |\n"},
        {"type 200", Rec(200, 12, dateApr2019), grfList, std::string(szStart) + "XX20 |\n"},
        {"corrected date", Rec(rtXX04, 12, 935193601u), grfList,
         "04/06/2019 00:00:01 | 1554508801 | XX04 |\n"},
        {"before 2001", Rec(rtXX04, 12, 900000000u), grfList, "------------------- |  900000000 | XX04 |\n"},
        {"header and raw bytes", Rec(rtXX04, 12, dateApr2019).U8(10, 0xAB),
         fdispRawBytes | fdispHeaderBytes,
         std::string(szStart) + "XX04 | 03 02 0A 04 00 00 5CA894C0 | AB EF\n"},
        {"header bytes show the corrected time", Rec(rtXX05, 12, 935193601u).T2(0x7F).T3(0x80),
         fdispHeaderBytes, "04/06/2019 00:00:01 | 1554508801 | XX05 | 03 02 0A 05 7F 80 5CA7EC01\n"},
    };
    for (auto const& c : rgcase) {
        ClearVlr(&vlr, sectTransient);
        EXPECT_EQ(List(c.rec, c.grfDisplay), c.sLine) << c.szName;
    }
}

TEST_F(Listing, TabLines)
{
    const std::string sTabs12(12, '\t');
    const std::string sTabs7(7, '\t');
    struct {
        const char* szName;
        Rec rec;
        int grfDisplay;
        std::string sLine;
    } const rgcase[] = {
        {"no values: no trailing tabs", Rec(rtXX04, 12, dateApr2019), grfTab, std::string(szStartTab) + "XX04\n"},
        {"XX02 erased time", Rec(2, 12, 0xFFFFFFFF), grfTab, "-------------------\t        -1\tXX02\n"},
        {"DR1S, TC off", Dr1s(0x4D), grfTab,
         std::string(szStartTab) + "DR1S\t\t\t\t65.5\t380.0\t10.0\t500\t74\t100%\t1\t1\t0\t" + sTabs7 + "0.0\t" +
             sTabs12 + "\n"},
        {"DR1S, TC on, metric", Dr1s(0x01), grfTab | fdispMetric,
         std::string(szStartTab) + "DR1S\t\t\t\t105.4\t380.0\t10.0\t500\t74\t100%\t0\t0\t1\t" + sTabs7 +
             "0.0\t" + sTabs12 + "\n"},
        {"D10M", D10mRec(dateApr2019, 80, 100.0).T2(0x01).I16(10, -10), grfTab,
         std::string(szStartTab) + "D10M\t100.0\t80\t-32\t" + std::string(29, '\t') + "\n"},
        {"D10M metric", D10mRec(dateApr2019, 80, 100.0).T2(0x01).I16(10, -10), grfTab | fdispMetric,
         std::string(szStartTab) + "D10M\t160.9\t80\t-10\t" + std::string(29, '\t') + "\n"},
        {"C1MB", C1mb(), grfTab,
         std::string(szStartTab) + "C1MB\t\t\t\t\t380.4\t-2.0\t" + std::string(9, '\t') +
             "25\t25.00\t255.00\t3\t\t250.0\t100.00\t\t4.000\t3.906\t12\t87\t\t\t\t\t\t\n"},
        {"DAY", Rec(rtDAY, 41, dateApr2019).U32(30, 123456).U16(34, 8192).U16(36, 4096).U8(38, 17).U8(39, 80),
         grfTab,
         std::string(szStartTab) + "DAY \t12345.6\t80\t" + std::string(25, '\t') +
             "467.000\t233.500\t17\t234.00\t\t\n"},
        {"C30M", Rec(rtC30M, 23, dateApr2019).T3(0).U8(16, 32).U8(17, 90), grfTab,
         std::string(szStartTab) + "C30M\t\t90\t" + std::string(20, '\t') + "32\t" + std::string(9, '\t') + "\n"},
        {"ERR with code", Rec(rtERR, 18, dateApr2019).U16(14, 416), grfTab,
         std::string(szStartTab) + "ERR \t" + std::string(31, '\t') + "416\t (Tire Pressure Warning)\n"},
        {"ERR code 0", Rec(rtERR, 18, dateApr2019).U16(14, 0).U8(16, 2), grfTab,
         std::string(szStartTab) + "ERR \t" + std::string(32, '\t') + " 2 bytes\n"},
        {"TPMS", Tpms(), grfTab,
         std::string(szStartTab) + "TPMS\t" + std::string(32, '\t') +
             "LF: 32.0 psi 20 deg | RF: 32.4 psi 21 deg | LR: 32.8 psi 22 deg | RR: 33.2 psi 250 deg\n"},
        {"header and raw bytes", Rec(rtXX04, 12, dateApr2019).U8(10, 0xAB), grfTab | fdispRawBytes | fdispHeaderBytes,
         std::string(szStartTab) + "XX04\t03 02 0A 04 00 00 5CA894C0 |\tAB\tEF\n"},
    };
    for (auto const& c : rgcase) {
        ClearVlr(&vlr, sectTransient);
        EXPECT_EQ(List(c.rec, c.grfDisplay), c.sLine) << c.szName;
    }
}

TEST_F(Listing, AnyValueGivesExactly33TabsAfterTheType)
{
    for (Rec const& rec : {Dr1s(1), C1mb(), Tpms(), D10mRec(dateApr2019, 50)}) {
        std::string s = List(rec, grfTab);
        size_t ibType = s.find('\t', s.find('\t') + 1) + 1;
        EXPECT_EQ(std::count(s.begin() + (long)ibType, s.end(), '\t'), 33) << s;
    }
}

TEST_F(Listing, RawBytesOfATenByteRecord)
{
    Bytes rec = {0x03, 0x02, 0x08, rtXX04, 0x00, 0x00, 0xC0, 0x94, 0xA8, 0x5C};
    EXPECT_EQ(List(rec, grfList | fdispRawBytes), std::string(szStart) + "XX04 | |\n");
    EXPECT_EQ(List(rec, grfTab | fdispRawBytes), std::string(szStartTab) + "XX04 |\n");
}

// The merge's messages decode each record afresh: no running sum carries over between them.
TEST_F(Listing, FreshVlrEachTime)
{
    Bytes rec = Rec(rtDR1S, 26, dateApr2019).I16(14, 30000).U8(24, 1).Get();
    // 0 x -0.03125 is minus zero, which printf shows with its sign.
    std::string sOwn = "DR1S | speed = 3000.0 mph volts = 0.0 amps = -0.0 motor amps = 0 torque = 0 pedal = 0%"
                       " drive dist = 0.8 mi\n";
    for (int i = 0; i < 2; i++) {
        VLR vlrFresh;
        ClearVlr(&vlrFresh, sectNil);
        EXPECT_EQ(List(rec, grfList, &vlrFresh), szStart + sOwn);
    }
    List(rec, grfList);
    std::string s = List(rec, grfList);
    EXPECT_NE(s.find("drive dist = 1.7 mi"), std::string::npos) << s;
}

TEST_F(Listing, Offsets)
{
    EXPECT_EQ(Capture([] { PrintRecordOffset(0x1234, 0); }), "0x00001234: ");
    EXPECT_EQ(Capture([] { PrintRecordOffset(0x1234, fdispTab); }), "0x00001234\t");
    EXPECT_EQ(Capture([] { PrintRecordOffset(0xABCDEF12, 0); }), "0xabcdef12: ");
    EXPECT_EQ(Capture([] { PrintRecordOffset(0x123456789L, 0); }), "0x123456789: ");
}

TEST_F(Listing, FromFileWithOffset)
{
    std::string path = TempDir() + "/vms_log";
    LogBuilder().Garbage(5).Add(Rec(rtXX04, 12, dateApr2019).U8(10, 0xAB)).WriteFile(path);
    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(path.c_str()));
    int grf = fdispOffset | fdispRawBytes | fdispHeaderBytes;
    EXPECT_EQ(ListFromFile(&stream, 5, 12, grf),
              "0x00000005: " + std::string(szStart) + "XX04 | 03 02 0A 04 00 00 5CA894C0 | AB EF\n");
    EXPECT_EQ(ListFromFile(&stream, 5, 12, grf | fdispTab),
              "0x00000005\t" + std::string(szStartTab) + "XX04\t03 02 0A 04 00 00 5CA894C0 |\tAB\tEF\n");
}

// A record shorter than a header, in the middle of a mapped file: its header is its own bytes and
// zeros, never the bytes of the record after it.
TEST_F(Listing, ShortRecordInTheMappingReadsZerosPastItsEnd)
{
    std::string path = TempDir() + "/vms_log";
    Bytes bytes = {0x03, 0x02, 0x04, rtXX04, 0x00, 0xF8};   // 4 + 4 + 0 + 0xF8: the checksum holds
    Bytes next = Rec(rtXX05, 12, dateApr2019).Get();
    bytes.insert(bytes.end(), next.begin(), next.end());
    WriteBytes(path, bytes);
    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(path.c_str()));
    EXPECT_EQ(ListFromFile(&stream, 0, 6, fdispHeaderBytes | fdispRawBytes),
              "------------------- |          0 | XX04 | 03 02 04 04 00 F8 00000000 |\n");
}

// A record read at the end of the file: what is missing reads as zero, not as stale buffer bytes.
TEST_F(Listing, FromFileShortReadIsZeroPadded)
{
    std::string path = TempDir() + "/vms_log";
    Bytes d10m = D10mRec(dateApr2019, 80, 12345.6).Get();
    Bytes cut(d10m.begin(), d10m.begin() + 20);
    WriteBytes(path, cut);
    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(path.c_str()));
    EXPECT_EQ(ListFromFile(&stream, 0, 23, grfList | fdispRawBytes),
              std::string(szStart) + "D10M | | 00 00 00 00 00 50 00 00 40 E2 00 00 00 odo = 5792.0 range soc = 80%\n");
}

TEST_F(Listing, Headings)
{
    EXPECT_EQ(Capture([] { PrintTextHeader(grfList); }),
              "date and time         timestamp    tag    data\n"
              "-------------------   ----------   ----   ----\n");
    EXPECT_EQ(Capture([] { PrintTextHeader(grfList | fdispOffset | fdispRawBytes | fdispHeaderBytes); }),
              "file offset date and time         timestamp    tag    start cb rt t2 t3 date       data\n"
              "----------- -------------------   ----------   ----   ----- -- -- -- -- --------   ----\n");
    std::string sRest = "\tspeed\tESS V\tESS A\tMotor A\ttorque\tpedal\tbrake\tregen\tTC state\tPEM Temp (C)\t"
                        "Motor Temp (C)\tMotor2 Temp (C)\tCoolant Temp (C)\tESS Min Temp (C)\tESS Max Temp (C)\t"
                        "Cooling\tdrive dist (";
    std::string sEnd = ")\tline V\tcharge A\tline A avail\tvBrickMin\tvBrickMax\tBrickMinV\tBrickMaxV\t"
                       "Brick Ah Ave\tBrick Ah Min\tMin Ah Brick Number\tCAC\terror code\tnotes\n";
    EXPECT_EQ(Capture([] { PrintVlrHeader(grfTab); }),
              "date\ttimestamp\trecord type\todometer (mi)\tSOC (Range %)\tElevation (ft)" + sRest + "mi" + sEnd);
    EXPECT_EQ(Capture([] { PrintVlrHeader(grfTab | fdispOffset | fdispMetric); }),
              "file offset\tdate\ttimestamp\trecord type\todometer (km)\tSOC (Range %)\tElevation (m)" + sRest +
                  "km" + sEnd);
}

TEST(Units, Conversions)
{
    EXPECT_STREQ(UnitsDistMiKm(0), "mi");
    EXPECT_STREQ(UnitsDistMiKm(fdispMetric), "km");
    EXPECT_STREQ(UnitsSpeed(0), "mph");
    EXPECT_STREQ(UnitsSpeed(1), "kph");
    EXPECT_STREQ(UnitsDistFtM(0), "ft");
    EXPECT_STREQ(UnitsDistFtM(1), "m");
    EXPECT_DOUBLE_EQ(DistConvertMiles(100.0, 1), 160.9);
    EXPECT_DOUBLE_EQ(DistConvertMiles(100.0, 0), 100.0);
    EXPECT_DOUBLE_EQ(SpeedConvertMph(60.0, 1), 96.54);
    struct {
        short metres;
        short feet;
    } const rgcase[] = {{100, 328}, {-10, -32}, {0, 0}, {1, 3}, {-1, -3}, {9987, 32765}, {10000, 32808 - 65536}};
    for (auto const& c : rgcase) {
        EXPECT_EQ(DistConvertMeters(c.metres, 0), c.feet) << c.metres;
        EXPECT_EQ(DistConvertMeters(c.metres, 1), c.metres);
    }
}

// The tab layout with every value present, against printf with the same formats, over values
// that include rounding ties, negatives, large and tiny magnitudes, infinities and NaN.
TEST(ListingNumbers, MatchPrintfOnManyValues)
{
    static double const s_rgvalueEdge[] = {
        0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 0.125, 0.375, -0.125, 0.0625, 1.005, 2.675, 0.045, 1e-10, -0.0001,
        -0.004, -0.005, -0.0049999, 0.049999999, 9.9999999995, 99.95, 999999.5, 123456789.987654321,
        4294967295.5, 9007199254740993.0, 9223372036854774784.0, 9223372036854775808.0, 18446744073709549568.0,
        0.0500000000000000027756, 1099511627775.5, 8.5, 9.5, 8589934592.5, 8589934593.5, 17179869183.5,
        4294967295.25, 0.00048828125, 0.0009765625, 0.00146484375, 1e15, 1e16, 1e17, 1e21, 1e22, 1e23, 1e100, -1e100, 1e300, DBL_MAX,
        -DBL_MAX, DBL_MIN, DBL_TRUE_MIN, -DBL_TRUE_MIN, 3.2808399, 1.609, 4.5e-9, 0.1, 1.0 / 3.0, 2.0 / 3.0,
        INFINITY, -INFINITY, NAN, -NAN,
    };
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> wide(-1e7, 1e7);
    std::uniform_int_distribution<int> pick(0, 10);
    auto value = [&]() {
        switch (pick(rng)) {
        case 10: return s_rgvalueEdge[rng() % (sizeof s_rgvalueEdge / sizeof s_rgvalueEdge[0])];
        case 0: return (double)(int)(wide(rng) / 1000) + 0.5;
        case 1: return (double)(int)(wide(rng) / 1000) + 0.125;
        case 2: return (double)(int)(wide(rng) / 1000) + 0.0625;
        case 3: return (double)(int)(wide(rng) / 1000) / 256.0;
        case 4: return -0.0;
        case 5: return wide(rng) * 1e10;
        case 6: return wide(rng) / 1e9;
        // Every binary exponent a fixed-point figure can meet, up to and past 2^63.
        case 7: return std::ldexp(wide(rng) / 1e7, (int)(rng() % 140) - 75);
        default: return wide(rng);
        }
    };
    for (int i = 0; i < 3000; i++) {
        VLR vlr;
        ClearVlr(&vlr, sectNil);
        vlr.grf = 0x9FFFFFFF & ~fvlrTPMS & ~fvlrDesc;
        vlr.milesOdo = value();
        vlr.pctSOC = (int)wide(rng);
        vlr.mElevation = (short)(int)wide(rng);
        vlr.mphSpeed = value();
        vlr.voltsESS = value();
        vlr.ampsESS = value();
        vlr.ampsMotor = value();
        vlr.lbftTorque = value();
        vlr.bPedal = (uint8_t)rng();
        vlr.degPEM = value();
        vlr.degMotor = value();
        vlr.degMotor2 = value();
        vlr.degCoolant = value();
        vlr.degESSMin = value();
        vlr.degESSMax = value();
        vlr.nCooling = (int)wide(rng);
        vlr.milesDrive = value();
        vlr.voltsLine = value();
        vlr.ampsCharge = value();
        vlr.ampsAvailable = (int)wide(rng);
        vlr.voltsBrickMin = value();
        vlr.voltsBrickMax = value();
        vlr.ahBrickAve = value();
        vlr.ahBrickMin = value();
        vlr.ahCAC = value();
        vlr.codeError = (uint16_t)(1 + rng() % 65535);
        int fMetric = (int)(rng() & 1) * fdispMetric;
        std::string s = Capture([&] { PrintVlr(fdispTab | fMetric, &vlr); });

        char buf[8192];
        int cch = snprintf(buf, sizeof buf,
                           "\t%.1f\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.0f\t%.0f\t%.0f%%\t%d\t%d\t%d\t%.0f\t%.0f\t%.0f\t%.0f\t"
                           "%.2f\t%.2f\t%d\t%.1f\t%.1f\t%.2f\t%d\t%.3f\t%.3f\t%d\t%d\t%.3f\t%.3f\t%d\t%.2f\t%d\t",
                           DistConvertMiles(vlr.milesOdo, fMetric), vlr.pctSOC,
                           DistConvertMeters(vlr.mElevation, fMetric), SpeedConvertMph(vlr.mphSpeed, fMetric),
                           vlr.voltsESS, vlr.ampsESS, vlr.ampsMotor, vlr.lbftTorque, vlr.bPedal / 2.55, vlr.fBrake,
                           vlr.fRegen, vlr.fTCOff ? 0 : 1, vlr.degPEM, vlr.degMotor, vlr.degMotor2, vlr.degCoolant,
                           vlr.degESSMin, vlr.degESSMax, vlr.nCooling, DistConvertMiles(vlr.milesDrive, fMetric),
                           vlr.voltsLine, vlr.ampsCharge, vlr.ampsAvailable, vlr.voltsBrickMin, vlr.voltsBrickMax,
                           vlr.iBrickVMin, vlr.iBrickVMax, vlr.ahBrickAve, vlr.ahBrickMin, vlr.iBrickAhMin,
                           vlr.ahCAC, vlr.codeError);
        ASSERT_EQ(s, std::string(buf, (size_t)cch)) << i;
    }
}

}  // namespace
