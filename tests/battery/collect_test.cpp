// Sample collection: the -k skip, time order, capacities, the DataPoint fields taken from a
// decoded record, and the VIN check across logs.
#include <climits>
#include <cmath>
#include <cstdlib>

#include "battery_test_util.h"

using CollectTest = BatteryTest;

TEST_F(CollectTest, WithoutSkipMarkEveryLongTermRecordIsKept)
{
    Aggregate(DayVlr(tsMar1, 1000));
    Aggregate(DayVlr(tsMar1 + secDayT, 1010));
    EXPECT_EQ(study.dp1.c, 2);
}

TEST_F(CollectTest, SkipMarkDropsLongTermUpToTheMatchAndIsReArmedPerSection)
{
    uint32_t tsMark = tsMar1 + 10 * secDayT;
    BeginAggregrateSection(&study, sectLongTerm, tsMark, tsLastValid);
    // Before the mark nothing is looked at, not even a vehicle-info record's VIN.
    EXPECT_EQ(Aggregate(DayVlr(tsMark - secDayT, 1000)), "");
    EXPECT_EQ(Aggregate(VinfVlr(sectLongTerm, tsMark - 5, "SFZRE8B19A3000123")), "");
    EXPECT_EQ(study.achVIN[0], 0);
    // Later than the mark but not equal to it: still skipped.
    Aggregate(DayVlr(tsMark + 1, 1000));
    EXPECT_EQ(study.dp1.c, 0);
    Aggregate(DayVlr(tsMark, 1001));
    Aggregate(DayVlr(tsMark + secDayT, 1002));
    ASSERT_EQ(study.dp1.c, 2);
    EXPECT_EQ(study.dp1.rg[0].timestamp, static_cast<int32_t>(tsMark));
    EXPECT_EQ(study.dp1.rg[1].milesOdo, 1002);

    // The transient pass is never skipped, even with the mark armed.
    BeginAggregrateSection(&study, sectTransient, tsMark, tsLastValid);
    Aggregate(TempVlr(rtIDLE, tsMark - secDayT, 10, 20));
    EXPECT_EQ(study.dp2.c, 1);

    // The next log arms the mark again: its newer long-term records wait for the mark once more.
    BeginAggregrateSection(&study, sectLongTerm, tsMark, tsLastValid);
    Aggregate(DayVlr(tsMark + 2 * secDayT, 1003));
    EXPECT_EQ(study.dp1.c, 2);
}

TEST_F(CollectTest, SkipMarkThatNeverMatchesDropsTheWholeLongTermPart)
{
    BeginAggregrateSection(&study, sectLongTerm, tsMar4, tsLastValid);
    for (uint32_t i = 0; i < 5; i++)
        Aggregate(DayVlr(tsMar1 + i * secDayT, 1000 + i));
    EXPECT_EQ(study.dp1.c, 0);
}

TEST_F(CollectTest, EqualTimestampIsStoredEarlierIsDroppedSilently)
{
    EXPECT_EQ(Aggregate(DayVlr(tsMar4, 1000)), "");
    EXPECT_EQ(Aggregate(DayVlr(tsMar4, 1001)), "");
    EXPECT_EQ(Aggregate(DayVlr(tsMar4 - 1, 1002)), "");
    ASSERT_EQ(study.dp1.c, 2);
    EXPECT_EQ(study.dp1.rg[1].milesOdo, 1001);

    Aggregate(TempVlr(rtIDLE, tsMar4, 1, 2));
    Aggregate(TempVlr(rtIDLE, tsMar4, 1, 2));
    EXPECT_EQ(Aggregate(TempVlr(rtIDLE, tsMar4 - 1, 1, 2)), "");
    EXPECT_EQ(study.dp2.c, 2);
}

TEST_F(CollectTest, IncredibleTimestampsAreDropped)
{
    // 2001-01-01 00:00:00 itself is not after the epoch; 30 days past the newest credible time is
    // too late, one second less is not.
    Aggregate(VinfVlr(sectLongTerm, 978307200u, "SFZRE8B19A3000123"));
    Aggregate(VinfVlr(sectLongTerm, 0xFFFFFFFFu, "SFZRE8B19A3000123"));
    EXPECT_EQ(study.achVIN[0], 0);
    BeginAggregrateSection(&study, sectLongTerm, 0, tsMar4);
    Aggregate(DayVlr(tsMar4 + 30 * secDayT, 1000));
    EXPECT_EQ(study.dp1.c, 0);
    Aggregate(DayVlr(tsMar4 + 30 * secDayT - 1, 1000));
    EXPECT_EQ(study.dp1.c, 1);
}

TEST_F(CollectTest, LongTermCapacityDropsWithDateAndCode)
{
    // The 7,300th sample is stored; the 7,301st in-order one, on 03/04/2010 10:11:12, is not.
    uint32_t tsFirst = tsMar4 - cDP1Max * 60;
    testing::internal::CaptureStdout();
    for (int i = 0; i < cDP1Max; i++) {
        VLR vlr = DayVlr(tsFirst + 60 * i, 1000);
        AggregateVlr(&study, &vlr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(study.dp1.c, cDP1Max);
    EXPECT_EQ(Aggregate(DayVlr(tsMar4, 1000)), "L drop 03/04/2010 10:11:12 DAY\n");
    EXPECT_EQ(Aggregate(VinfVlr(sectLongTerm, tsMar4 + 1, "SFZRE8B19A3000123")),
              "VIN: SFZRE8B19A3000123\nL drop 03/04/2010 10:11:13 VINF\n");
    // Out of order is tested first, so a full array drops old records without a word.
    EXPECT_EQ(Aggregate(DayVlr(tsMar4 - 61, 1000)), "");
    EXPECT_EQ(study.dp1.c, cDP1Max);
}

TEST_F(CollectTest, TransientCapacityDropsWithDateAndCode)
{
    // Pretend the array is one short of full: a block of the whole capacity, of which only the
    // last stored slot is written, so the test does not make the whole array resident.
    study.dp2.rg = static_cast<DataPoint*>(std::malloc(sizeof(DataPoint) * cDP2Max));
    ASSERT_NE(study.dp2.rg, nullptr);
    study.dp2.cAlloc = cDP2Max;
    study.dp2.rg[cDP2Max - 2] = DpOf(sectTransient, rtIDLE, tsMar4 - 120);
    study.dp2.c = cDP2Max - 1;
    BeginAggregrateSection(&study, sectTransient, 0, tsLastValid);
    EXPECT_EQ(Aggregate(TempVlr(rtIDLE, tsMar4 - 60, 1, 2)), "");
    EXPECT_EQ(study.dp2.c, cDP2Max);
    EXPECT_EQ(study.dp2.rg[cDP2Max - 1].timestamp, static_cast<int32_t>(tsMar4 - 60));
    EXPECT_EQ(Aggregate(TempVlr(rtIDLE, tsMar4, 1, 2)), "T skip 03/04/2010 10:11:12 IDLE\n");
    EXPECT_EQ(Aggregate(ChargeVlr(tsMar4, 10, 240)), "T skip 03/04/2010 10:11:12 C1MB\n");
    EXPECT_EQ(study.dp2.c, cDP2Max);
}

TEST_F(CollectTest, TypesKeptPerSection)
{
    struct Case {
        int sect;
        int rt;
        int fLongTerm;   // expected array: 1 long-term, 0 transient, -1 none
    } const rgcase[] = {
        {sectLongTerm, rtDAY, 1},       {sectLongTerm, rtVINF, 1},      {sectLongTerm, rtIDLE, -1},
        {sectLongTerm, rtERR, -1},      {sectTransient, rtVINF, 0},     {sectTransient, rtIDLE, 0},
        {sectTransient, rtC1MA, 0},     {sectTransient, rtDR1M, 0},     {sectTransient, rtD10M, 0},
        {sectTransient, rtC1MB, 0},     {sectTransient, rtDAY, -1},     {sectTransient, rtDR1S, -1},
        {sectTransient, rtERR, -1},     {sectTransient, rtC30M, -1},    {sectTransient, rtTPMS, -1},
        {sectTransient, 31, -1},        {sectTransient, 200, -1},       {sectTransient, -1, -1},
        {sectNil, rtIDLE, 0},           {sectNil, rtDAY, -1},           {7, rtD10M, 0},
    };
    for (const Case& c : rgcase) {
        STUDY studyCase;
        InitStudy(&studyCase);
        studyCase.hook = StudyHookOfReport();
        BeginAggregrateSection(&studyCase, sectLongTerm, 0, tsLastValid);
        VLR vlr = VlrOf(c.sect, c.rt, tsMar4);
        std::memcpy(vlr.achVIN, "SFZRE8B19A3000123", 17);
        AggregateInto(&studyCase, vlr);
        EXPECT_EQ(studyCase.dp1.c, c.fLongTerm == 1 ? 1 : 0) << c.sect << " " << c.rt;
        EXPECT_EQ(studyCase.dp2.c, c.fLongTerm == 0 ? 1 : 0) << c.sect << " " << c.rt;
    }
}

TEST_F(CollectTest, ChargingCurrentTruncatedAndHalvedOnLowLine)
{
    struct Case {
        double amps;
        double volts;
        uint32_t grf;
        int ampsExpected;
    } const rgcase[] = {
        {13.9, 120.0, fvlrChargeAmps | fvlrLineVolts, 6},
        {13.9, 180.0, fvlrChargeAmps | fvlrLineVolts, 13},
        {13.9, 179.99, fvlrChargeAmps | fvlrLineVolts, 6},
        {13.9, 0.0, fvlrChargeAmps, 0},
        {13.9, 240.0, fvlrLineVolts, 0},
        {-13.9, 120.0, fvlrChargeAmps | fvlrLineVolts, -6},
        {70.0, 240.0, fvlrChargeAmps | fvlrLineVolts, 70},
        {1e300, 240.0, fvlrChargeAmps | fvlrLineVolts, INT_MAX},
        {-1e300, 240.0, fvlrChargeAmps | fvlrLineVolts, INT_MIN},
        {NAN, 240.0, fvlrChargeAmps | fvlrLineVolts, 0},
    };
    BeginAggregrateSection(&study, sectTransient, 0, tsLastValid);
    uint32_t ts = tsMar4;
    for (const Case& c : rgcase) {
        Aggregate(ChargeVlr(ts++, c.amps, c.volts, c.grf));
        ASSERT_GT(study.dp2.c, 0);
        EXPECT_EQ(study.dp2.rg[study.dp2.c - 1].ampsCharge, c.ampsExpected) << c.amps << " A at " << c.volts << " V";
    }
}

TEST_F(CollectTest, ReadingsTruncatedTowardZero)
{
    struct Case {
        double deg;
        double miles;
        int degExpected;
        int milesExpected;
    } const rgcase[] = {
        {-3.7, 12345.9, -3, 12345}, {0.4, 0.9, 0, 0},       {45.99, -7.5, 45, -7},
        {1e20, 5e9, INT_MAX, INT_MAX}, {-1e20, -5e9, INT_MIN, INT_MIN}, {NAN, NAN, 0, 0},
    };
    BeginAggregrateSection(&study, sectTransient, 0, tsLastValid);
    uint32_t ts = tsMar4;
    for (const Case& c : rgcase) {
        VLR vlr = TempVlr(rtD10M, ts++, c.deg, c.deg);
        vlr.grf |= fvlrOdometer;
        vlr.milesOdo = c.miles;
        Aggregate(vlr);
        ASSERT_GT(study.dp2.c, 0);
        DataPoint const& dp = study.dp2.rg[study.dp2.c - 1];
        EXPECT_EQ(dp.degESSMin, c.degExpected) << c.deg;
        EXPECT_EQ(dp.degESSMax, c.degExpected) << c.deg;
        EXPECT_EQ(dp.milesOdo, c.milesExpected) << c.miles;
    }
}

TEST_F(CollectTest, FieldsComeOnlyWithTheirFlags)
{
    VLR vlr = DayVlr(tsMar4, 1234.5);
    vlr.grf |= fvlrSOC | fvlrBrickAh | fvlrCAC;
    vlr.pctSOC = 88;
    vlr.ahBrickAve = 150.5;
    vlr.ahBrickMin = 148.25;
    vlr.iBrickAhMin = 77;
    vlr.ahCAC = 140.125;
    vlr.degESSMin = 30;   // no fvlrTempESS: not taken
    vlr.ampsCharge = 40;  // no fvlrChargeAmps: not taken
    vlr.versFirmware = 0x01020304;   // not a vehicle-info record: not taken
    Aggregate(vlr);
    ASSERT_EQ(study.dp1.c, 1);
    DataPoint const& dp = study.dp1.rg[0];
    EXPECT_EQ(dp.sect, sectLongTerm);
    EXPECT_EQ(dp.rt, rtDAY);
    EXPECT_EQ(dp.timestamp, static_cast<int32_t>(tsMar4));
    EXPECT_EQ(dp.pctSOC, 88);
    EXPECT_EQ(dp.ahBrickAve, 150.5);
    EXPECT_EQ(dp.ahBrickMin, 148.25);
    EXPECT_EQ(dp.iBrickAhMin, 77);
    EXPECT_EQ(dp.ahCAC, 140.125);
    EXPECT_EQ(dp.milesOdo, 1234);
    EXPECT_EQ(dp.degESSMin, 0);
    EXPECT_EQ(dp.ampsCharge, 0);
    EXPECT_EQ(dp.versFirmware, 0u);

    // The same values without their flags leave the sample empty but for its header fields.
    VLR vlrBare = vlr;
    vlrBare.grf = 0;
    vlrBare.timestamp = tsMar4 + 1;
    Aggregate(vlrBare);
    ASSERT_EQ(study.dp1.c, 2);
    EXPECT_EQ(study.dp1.rg[1].pctSOC, 0);
    EXPECT_EQ(study.dp1.rg[1].ahBrickAve, 0.0);
    EXPECT_EQ(study.dp1.rg[1].ahCAC, 0.0);
    EXPECT_EQ(study.dp1.rg[1].milesOdo, 0);

    Aggregate(VinfVlr(sectLongTerm, tsMar4 + 2, "SFZRE8B19A3000123", 0x01020304));
    ASSERT_EQ(study.dp1.c, 3);
    EXPECT_EQ(study.dp1.rg[2].versFirmware, 0x01020304u);
}

TEST_F(CollectTest, VinLineThenOneMismatchLinePerChange)
{
    const char* pszA = "SFZRE8B19A3000123";
    const char* pszB = "SFZRE8B17B3000456";
    EXPECT_EQ(Aggregate(VinfVlr(sectLongTerm, tsMar4, pszA)), "VIN: SFZRE8B19A3000123\n");
    EXPECT_STREQ(study.achVIN, pszA);
    EXPECT_EQ(Aggregate(VinfVlr(sectLongTerm, tsMar4 + 1, pszA)), "");
    EXPECT_EQ(Aggregate(VinfVlr(sectTransient, tsMar4 + 2, pszB)),
              "mismatched VINs: SFZRE8B19A3000123 and SFZRE8B17B3000456\n");
    EXPECT_STREQ(study.achVIN, pszB);
    EXPECT_EQ(Aggregate(VinfVlr(sectTransient, tsMar4 + 3, pszB)), "");
    // The check comes before the order test: an old record of another car still reports.
    EXPECT_EQ(Aggregate(VinfVlr(sectLongTerm, tsMar4 - secDayT, pszA)),
              "mismatched VINs: SFZRE8B17B3000456 and SFZRE8B19A3000123\n");
    EXPECT_EQ(study.dp1.c, 2);
    EXPECT_EQ(study.dp2.c, 2);
}

TEST_F(CollectTest, VinComparedAsTextStoppingAtZero)
{
    VLR vlr = VinfVlr(sectLongTerm, tsMar4, "ABC");
    EXPECT_EQ(Aggregate(vlr), "VIN: ABC\n");
    // Nothing past the zero counts, so these are the same car.
    vlr = VinfVlr(sectLongTerm, tsMar4 + 1, "ABC");
    std::memcpy(vlr.achVIN + 4, "XYZ", 3);
    EXPECT_EQ(Aggregate(vlr), "");
    vlr = VinfVlr(sectLongTerm, tsMar4 + 2, "ABCD");
    EXPECT_EQ(Aggregate(vlr), "mismatched VINs: ABC and ABCD\n");
}
