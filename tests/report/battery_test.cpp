// The battery report: weights and gaps, carried readings and their range messages, the day and
// miles-per-day tables at their edges, the printed tables, and whole reports worked out by hand.
#include <climits>
#include <vector>

#include "battery/battery_test_util.h"

namespace {

DataPoint Temp(uint32_t ts, int degMin, int degMax)
{
    DataPoint dp = DpOf(sectTransient, rtIDLE, ts);
    dp.degESSMin = degMin;
    dp.degESSMax = degMax;
    return dp;
}

DataPoint Odo(int rt, uint32_t ts, int milesOdo)
{
    DataPoint dp = DpOf(sectLongTerm, rt, ts);
    dp.milesOdo = milesOdo;
    return dp;
}

std::string LastLine(const std::string& s)
{
    size_t ib = s.rfind('\n', s.size() >= 2 ? s.size() - 2 : 0);
    return ib == std::string::npos ? s : s.substr(ib + 1);
}

}  // namespace

class HistogramTest : public BatteryTest {
protected:
    // One pass over the samples, against the newest credible time the study was last given;
    // returns what the pass printed.
    std::string Process(std::vector<DataPoint> rgdp, SECT sect)
    {
        hist.timestampLastValid = study.timestampLastValid;
        testing::internal::CaptureStdout();
        ProcessData(&hist, rgdp.data(), static_cast<int>(rgdp.size()), sect);
        return testing::internal::GetCapturedStdout();
    }

    std::string PrintedData()
    {
        testing::internal::CaptureStdout();
        PrintData(&hist, &study);
        return testing::internal::GetCapturedStdout();
    }

    HISTOGRAMS hist{};
};

TEST_F(HistogramTest, EmptyReport)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ProcessAllData(&study);
    std::string err = testing::internal::GetCapturedStderr();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(err, "Process 0 long-term records...\nProcess 0 detail records...\n");
    EXPECT_EQ(out,
              "------, -------\n"
              "charging amps, seconds\n"
              "------, -------\n"
              "soc range %, seconds\n"
              "------, -------\n"
              "temp C, seconds\n"
              "------, -------\n"
              "kmiles, seconds\n"
              "------, -------\n"
              "milesperday, count\n"
              "--------------\n"
              "timestamp, brickahmin, brickahave, bricknumber, CAC\n"
              "--------------\n"
              "timestamp, firmware version\n"
              "Daily Timestamp from ------------------- to -------------------; 0 days\n"
              "Detail Timestamp from ------------------- to -------------------; 0 days\n"
              "Days of detail: 0, odomoter max: 0\n");
}

TEST_F(HistogramTest, TrimmedHistogramRuns)
{
    struct Case {
        std::vector<int> rg;
        int fTrim;
        const char* szRows;
    } const rgcase[] = {
        {{0, 0, 0, 5, 0, 0, 0, 9, 0, 0}, 1, "0, 0\n1, 0\n2, 0\n3, 5\n4, 0\n5, 0\n6, 0\n7, 9\n"},
        {{0, 0, 0, 5, 0, 0, 0, 9, 0, 0}, 0, "3, 5\n7, 9\n"},
        {{4, 0, 0}, 1, "0, 4\n"},
        {{0, 0, 0}, 1, ""},
        {{0, 0, -2}, 1, "0, 0\n1, 0\n2, -2\n"},
        {{}, 1, ""},
    };
    for (const Case& c : rgcase) {
        std::vector<int> rg = c.rg;
        testing::internal::CaptureStdout();
        PrintHistogram("soc range %", "seconds", rg.data(), static_cast<int>(rg.size()), c.fTrim);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("------, -------\nsoc range %, seconds\n") + c.szRows);
    }
}

TEST_F(HistogramTest, TransientGapAtTheThreshold)
{
    // 7,200 s is weighted in full without a word; 7,201 s is a gap of 2 hours weighted 7,200.
    std::string out = Process({Temp(tsMar4, 1, 20), Temp(tsMar4 + 7200, 1, 20), Temp(tsMar4 + 14401, 1, 20)},
                              sectTransient);
    EXPECT_EQ(out, "timeline gap from 03/04/2010 12:11:12 to 03/04/2010 14:11:13 (2 hours) in transient section\n");
    EXPECT_EQ(HistogramRows(PrintedData(), "temp C, seconds"), ZeroRows(0, 19) + "20, 14400\n");
}

TEST_F(HistogramTest, LongTermGapsInHoursUpToThreeDays)
{
    std::string out = Process({Odo(rtDAY, tsMar1, 1500), Odo(rtDAY, tsMar1 + 259200, 1500),
                               Odo(rtDAY, tsMar1 + 259200 + 259201, 1500)},
                              sectLongTerm);
    EXPECT_EQ(out,
              "timeline gap from 03/01/2010 00:00:00 to 03/04/2010 00:00:00 (72 hours) in long-term section\n"
              "timeline gap from 03/04/2010 00:00:00 to 03/07/2010 00:00:01 (3 days) in long-term section\n");
    EXPECT_EQ(HistogramRows(PrintedData(), "kmiles, seconds"), "0, 0\n1, 345600\n");
}

TEST_F(HistogramTest, CarriedReadingsRepeatTheirRangeMessages)
{
    std::vector<DataPoint> rgdp;
    for (uint32_t i = 0; i < 7; i++)
        rgdp.push_back(DpOf(sectTransient, rtC1MB, tsMar4 + 60 * i));
    rgdp[0].pctSOC = 101;
    rgdp[0].ampsCharge = 500;
    rgdp[1].ampsCharge = 499;
    rgdp[2].pctSOC = 50;
    rgdp[4].degESSMin = 200;
    rgdp[4].degESSMax = -5;
    rgdp[6].degESSMin = 10;
    rgdp[6].degESSMax = 30;
    rgdp[6].ampsCharge = -1;
    EXPECT_EQ(Process(rgdp, sectTransient),
              "03/04/2010 10:11:12: amps value '500' out of range\n"
              "03/04/2010 10:11:12: SOC value '101' out of range\n"
              "03/04/2010 10:12:12: SOC value '101' out of range\n"
              "03/04/2010 10:15:12: minimum temperature '200' out of range\n"
              "03/04/2010 10:15:12: maximum temperature '-5' out of range\n"
              "03/04/2010 10:16:12: minimum temperature '200' out of range\n"
              "03/04/2010 10:16:12: maximum temperature '-5' out of range\n"
              "03/04/2010 10:17:12: amps value '-1' out of range\n");
    std::string out = PrintedData();
    EXPECT_EQ(HistogramRows(out, "charging amps, seconds"), ZeroRows(0, 498) + "499, 60\n");
    EXPECT_EQ(HistogramRows(out, "soc range %, seconds"), ZeroRows(0, 49) + "50, 300\n");
    EXPECT_EQ(HistogramRows(out, "temp C, seconds"), ZeroRows(0, 29) + "30, 60\n");
}

TEST_F(HistogramTest, OdometerBinsAndMilesPerDay)
{
    std::vector<DataPoint> rgdp = {
        Odo(rtDAY, tsMar1, 1000),                  // no previous reading
        Odo(rtDAY, tsMar1 + 1 * secDayT, 1037),    // 37
        Odo(rtVINF, tsMar1 + 2 * secDayT, 0),      // carried 1037: 0
        Odo(rtDAY, tsMar1 + 3 * secDayT, 2500),    // 1463: 999
        Odo(rtDAY, tsMar1 + 4 * secDayT, 2400),    // below the previous: nothing
        Odo(rtDAY, tsMar1 + 5 * secDayT, 499999),  // 999
        Odo(rtDAY, tsMar1 + 6 * secDayT, 500000),  // 1
        Odo(rtDAY, tsMar1 + 7 * secDayT, -5000),   // below: nothing
    };
    EXPECT_EQ(Process(rgdp, sectLongTerm),
              "03/07/2010 00:00:00: kMiles value '500' out of range\n"
              "03/08/2010 00:00:00: kMiles value '-5' out of range\n");
    std::string out = PrintedData();
    EXPECT_EQ(HistogramRows(out, "kmiles, seconds"),
              "0, 0\n1, 172800\n2, 172800\n" + ZeroRows(3, 498) + "499, 86400\n");
    EXPECT_EQ(HistogramRows(out, "milesperday, count"),
              "0, 1\n1, 1\n" + ZeroRows(2, 36) + "37, 1\n" + ZeroRows(38, 998) + "999, 2\n");
    EXPECT_EQ(LastLine(out), "Days of detail: 0, odomoter max: 500000\n");
}

TEST_F(HistogramTest, TransientBeforeTheFirstTimeCountsOnlyWithinADay)
{
    Process({Odo(rtDAY, tsMar4, 1000)}, sectLongTerm);
    std::string out = Process({Temp(tsMar4 - secDayT, 1, 20), Temp(tsMar4 - secDayT + 1, 1, 20),
                               Temp(tsMar4 + 2 * secDayT, 1, 20)},
                              sectTransient);
    EXPECT_EQ(out,
              "'03/03/2010 10:11:12' is less than minimum set date '03/04/2010 10:11:12'\n"
              "'03/03/2010 10:11:13' is less than minimum set date '03/04/2010 10:11:12'\n"
              "timeline gap from 03/03/2010 10:11:13 to 03/06/2010 10:11:12 (71 hours) in transient section\n");
    std::string outData = PrintedData();
    EXPECT_NE(outData.find("Daily Timestamp from 03/04/2010 10:11:12 to 03/06/2010 10:11:12; 2 days\n"),
              std::string::npos);
    EXPECT_NE(outData.find("Detail Timestamp from 03/03/2010 10:11:12 to 03/06/2010 10:11:12; 3 days\n"),
              std::string::npos);
    EXPECT_EQ(LastLine(outData), "Days of detail: 2, odomoter max: 1000\n");
}

TEST_F(HistogramTest, DayTableEndsAfter7300Days)
{
    Process({Odo(rtDAY, tsMar1, 1000)}, sectLongTerm);
    // Steps of 25 days keep every sample within 30 days of the newest valid time.
    std::vector<DataPoint> rgdp;
    for (uint32_t k = 0; k < 292; k++)
        rgdp.push_back(Temp(tsMar1 + k * 25 * secDayT, 1, 20));
    rgdp.push_back(Temp(tsMar1 + 7300 * secDayT - 1, 1, 20));
    rgdp.push_back(Temp(tsMar1 + 7300 * secDayT, 1, 20));
    Process(rgdp, sectTransient);
    EXPECT_EQ(LastLine(PrintedData()), "Days of detail: 293, odomoter max: 1000\n");
}

TEST_F(HistogramTest, SamplesNeverCredibleLeaveTheDatesEmpty)
{
    // Seeding needs one sample credible against the last log's time; without it nothing is
    // valid, though the readings still count.
    BeginAggregrateSection(&study, sectTransient, 0, tsMar1);
    std::string out = Process({Temp(tsMar1 + 30 * secDayT, 1, 20), Temp(tsMar1 + 30 * secDayT + 60, 1, 20)},
                              sectTransient);
    EXPECT_EQ(out, "");
    std::string outData = PrintedData();
    EXPECT_EQ(HistogramRows(outData, "temp C, seconds"), ZeroRows(0, 19) + "20, 60\n");
    EXPECT_NE(outData.find("Detail Timestamp from ------------------- to -------------------; 0 days\n"),
              std::string::npos);
    EXPECT_EQ(LastLine(outData), "Days of detail: 0, odomoter max: 0\n");
}

TEST_F(HistogramTest, CapacityAndFirmwareTables)
{
    const uint32_t versA = 0x04010205;
    const uint32_t versB = 0x04020000;
    std::vector<DataPoint> rgdp = {
        DpOf(sectLongTerm, rtVINF, tsMar1),   // version 0: same as "none before"
        DpOf(sectLongTerm, rtVINF, tsMar1 + 1 * secHourT),
        DpOf(sectLongTerm, rtDAY, tsMar1 + 2 * secHourT),
        DpOf(sectLongTerm, rtVINF, tsMar1 + 3 * secHourT),
        DpOf(sectLongTerm, rtVINF, tsMar1 + 4 * secHourT),
        DpOf(sectLongTerm, rtDAY, tsMar1 + 5 * secHourT),
        DpOf(sectLongTerm, rtVINF, tsMar1 + 6 * secHourT),
    };
    rgdp[1].versFirmware = versA;
    rgdp[3].versFirmware = versA;
    rgdp[4].versFirmware = versB;
    rgdp[6].versFirmware = versA;
    rgdp[2].ahBrickMin = 148.25;
    rgdp[2].ahBrickAve = 150.5;
    rgdp[2].iBrickAhMin = 42;
    rgdp[2].ahCAC = 139.996;
    testing::internal::CaptureStdout();
    PrintPermanentData(rgdp.data(), static_cast<int>(rgdp.size()));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "--------------\n"
              "timestamp, brickahmin, brickahave, bricknumber, CAC\n"
              "03/01/2010 02:00:00, 148.25, 150.50, 42, 140.00\n"
              "03/01/2010 05:00:00, 0.00, 0.00, 0, 0.00\n"
              "--------------\n"
              "timestamp, firmware version\n"
              "03/01/2010 01:00:00, 4.1.2 5\n"
              "03/01/2010 04:00:00, 4.2.0 0\n"
              "03/01/2010 06:00:00, 4.1.2 5\n");
}

TEST_F(HistogramTest, ExtremeSamplesStayInsideTheTables)
{
    // Whatever the samples hold, no table index leaves its bounds and no arithmetic overflows
    // (the sanitizer build makes either fatal).
    const int rgn[] = {INT_MIN, -1000000, -1, 1, 999, 1000000, INT_MAX};
    const uint32_t rgts[] = {0x80000000u, 0xFFFFFFFEu, 978307201u, 0x7FFFFFFFu};
    std::vector<DataPoint> rgdp;
    for (uint32_t ts : rgts) {
        for (int n : rgn) {
            DataPoint dp = DpOf(sectTransient, rtC1MB, ts);
            dp.pctSOC = dp.degESSMin = dp.degESSMax = dp.milesOdo = dp.ampsCharge = n;
            rgdp.push_back(dp);
        }
    }
    BeginAggregrateSection(&study, sectTransient, 0, 3000000000u);
    for (int iPass = 0; iPass < 2; iPass++) {
        std::vector<DataPoint> rgdpLong = rgdp;
        for (DataPoint& dp : rgdpLong)
            dp.rt = rtDAY;
        Process(rgdpLong, sectLongTerm);
        Process(rgdp, sectTransient);
        std::string out = PrintedData();
        EXPECT_NE(out.find("odomoter max: 2147483647\n"), std::string::npos);
        hist = HISTOGRAMS{};
    }
}

TEST_F(HistogramTest, WeightedSumsStopAtTheLargestInt)
{
    // Years of samples add up to more seconds than an int holds: a bin then stays at the largest
    // value instead of wrapping round to a negative count.
    hist.rgHistAmps[16] = hist.rgHistSOC[50] = hist.rgHistTempMax[20] = hist.rgHistMilesOdo[1] = INT_MAX - 100;
    std::vector<DataPoint> rgdp;
    for (uint32_t ts : {tsMar4, tsMar4 + 3600}) {
        DataPoint dp = DpOf(sectTransient, rtC1MB, ts);
        dp.ampsCharge = 16;
        dp.pctSOC = 50;
        dp.degESSMax = 20;
        rgdp.push_back(dp);
    }
    Process(rgdp, sectTransient);
    Process({Odo(rtDAY, tsMar1, 1500), Odo(rtDAY, tsMar1 + secDayT, 1500)}, sectLongTerm);
    EXPECT_EQ(hist.rgHistAmps[16], INT_MAX);
    EXPECT_EQ(hist.rgHistSOC[50], INT_MAX);
    EXPECT_EQ(hist.rgHistTempMax[20], INT_MAX);
    EXPECT_EQ(hist.rgHistMilesOdo[1], INT_MAX);
    EXPECT_NE(PrintedData().find("\n16, 2147483647\n"), std::string::npos);
}

// A small run through collection and report, every line worked out from the records.
TEST_F(HistogramTest, FullRun)
{
    const char* pszVIN = "SFZRE8B19A3000123";
    std::vector<VLR> rgvlrLong;
    rgvlrLong.push_back(VinfVlr(sectLongTerm, 1267401600, pszVIN, 0x01020304));   // 03/01 00:00
    auto day = [](uint32_t ts, double miles, int pct, double ahAve, double ahMin, int iBrick, double ahCAC) {
        VLR vlr = DayVlr(ts, miles);
        vlr.grf |= fvlrSOC | fvlrBrickAh | fvlrCAC;
        vlr.pctSOC = pct;
        vlr.ahBrickAve = ahAve;
        vlr.ahBrickMin = ahMin;
        vlr.iBrickAhMin = static_cast<uint8_t>(iBrick);
        vlr.ahCAC = ahCAC;
        return vlr;
    };
    rgvlrLong.push_back(day(1267423200, 1000.6, 80, 150.25, 148.5, 17, 145.678));   // 03/01 06:00
    rgvlrLong.push_back(VlrOf(sectLongTerm, rtERR, 1267430000));
    rgvlrLong.push_back(day(1267509600, 1037.2, 75, 150.0, 148.0, 3, 145.0));       // 03/02 06:00
    rgvlrLong.push_back(VinfVlr(sectLongTerm, 1267531200, pszVIN, 0x01020305));   // 03/02 12:00
    rgvlrLong.push_back(day(1267855200, 1200.0, 60, 149.994, 147.0, 0, 144.5));     // 03/06 06:00
    rgvlrLong.push_back(day(1267855199, 1300.0, 60, 1, 1, 1, 1));                  // out of order

    std::vector<VLR> rgvlrTransient;
    VLR vlr = TempVlr(rtIDLE, 1267358400, 5.5, 8.7);   // 02/28 12:00
    rgvlrTransient.push_back(vlr);
    vlr = TempVlr(rtIDLE, 1267747200, 10.2, 20.9);     // 03/05 00:00
    vlr.grf |= fvlrSOC;
    vlr.pctSOC = 70;
    rgvlrTransient.push_back(vlr);
    vlr = ChargeVlr(1267747260, 30.5, 240.0, fvlrChargeAmps | fvlrLineVolts | fvlrTempESS);
    vlr.degESSMin = 11.0;
    vlr.degESSMax = 21.3;
    rgvlrTransient.push_back(vlr);
    vlr = ChargeVlr(1267747320, 13.9, 120.0, fvlrChargeAmps | fvlrLineVolts | fvlrTempESS);
    vlr.degESSMin = 11.0;
    vlr.degESSMax = 22.0;
    rgvlrTransient.push_back(vlr);
    rgvlrTransient.push_back(DayVlr(1267747400, 5000, sectTransient));   // not a transient type
    vlr = VlrOf(sectTransient, rtD10M, 1267758120);    // 03/05 03:02
    vlr.grf = fvlrSOC | fvlrOdometer;
    vlr.pctSOC = 75;
    vlr.milesOdo = 1100.0;
    rgvlrTransient.push_back(vlr);
    rgvlrTransient.push_back(VlrOf(sectTransient, rtDR1S, 1267758150));
    rgvlrTransient.push_back(TempVlr(rtDR1M, 1267758180, 12.0, 23.0));   // 03/05 03:03

    testing::internal::CaptureStdout();
    BeginAggregrateSection(&study, sectLongTerm, 0, tsLastValid);
    for (VLR& v : rgvlrLong)
        AggregateVlr(&study, &v);
    BeginAggregrateSection(&study, sectTransient, 0, tsLastValid);
    for (VLR& v : rgvlrTransient)
        AggregateVlr(&study, &v);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "VIN: SFZRE8B19A3000123\n");
    EXPECT_EQ(study.dp1.c, 5);
    EXPECT_EQ(study.dp2.c, 6);

    const std::string outExpected =
        "timeline gap from 03/02/2010 12:00:00 to 03/06/2010 06:00:00 (3 days) in long-term section\n"
        "'02/28/2010 12:00:00' is less than minimum set date '03/01/2010 00:00:00'\n"
        "timeline gap from 02/28/2010 12:00:00 to 03/05/2010 00:00:00 (4 days) in transient section\n"
        "timeline gap from 03/05/2010 00:02:00 to 03/05/2010 03:02:00 (3 hours) in transient section\n"
        "------, -------\n"
        "charging amps, seconds\n" +
        ZeroRows(0, 5) + "6, 60\n" + ZeroRows(7, 29) + "30, 60\n" +
        "------, -------\n"
        "soc range %, seconds\n" +
        ZeroRows(0, 69) + "70, 7320\n" + ZeroRows(71, 74) + "75, 7260\n" +
        "------, -------\n"
        "temp C, seconds\n" +
        ZeroRows(0, 19) + "20, 7200\n21, 60\n22, 7260\n23, 60\n" +
        "------, -------\n"
        "kmiles, seconds\n"
        "0, 0\n"
        "1, 302400\n"
        "------, -------\n"
        "milesperday, count\n"
        "0, 1\n" +
        ZeroRows(1, 36) + "37, 1\n" + ZeroRows(38, 162) + "163, 1\n" + ZeroRows(164, 998) + "999, 1\n" +
        "--------------\n"
        "timestamp, brickahmin, brickahave, bricknumber, CAC\n"
        "03/01/2010 06:00:00, 148.50, 150.25, 17, 145.68\n"
        "03/02/2010 06:00:00, 148.00, 150.00, 3, 145.00\n"
        "03/06/2010 06:00:00, 147.00, 149.99, 0, 144.50\n"
        "--------------\n"
        "timestamp, firmware version\n"
        "03/01/2010 00:00:00, 1.2.3 4\n"
        "03/02/2010 12:00:00, 1.2.3 5\n"
        "Daily Timestamp from 03/01/2010 00:00:00 to 03/06/2010 06:00:00; 5 days\n"
        "Detail Timestamp from 02/28/2010 12:00:00 to 03/05/2010 03:03:00; 4 days\n"
        "Days of detail: 2, odomoter max: 1200\n";

    // Twice: the report starts from zeroed tables, so it depends only on the samples.
    for (int iRun = 0; iRun < 2; iRun++) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        ProcessAllData(&study);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Process 5 long-term records...\nProcess 6 detail records...\n");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), outExpected);
    }
}
