// The owner's figures, each against values worked out by hand: a charge's loss between the wall and
// the battery, the price window and a charge's cost, a parked night's loss, months and years, the
// capacity trend and the battery's health, the brick spread, the parked bands and a charging curve.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "analysis/owner.h"
#include "summary_harness.h"
#include "support/timecal.h"

namespace {

constexpr uint32_t ts20100101 = 1262304000u;   // 01/01/2010 00:00:00 UTC
constexpr uint32_t secHour = 3600;

// A C1MB record as the builder makes it, with the battery's volts and amps of this test.
Rec C1mbBattery(uint32_t ts, double voltsLine, double ampsLine, double voltsPack, double ampsIn)
{
    Rec r = C1mbRec(ts, voltsLine, ampsLine, ampsIn);
    r.U16(10, (unsigned)std::lround(voltsPack * 2.048));
    return r;
}

}  // namespace

// The summary hands each charge the energy into the battery and from the wall over the records
// that read both; the loss is the share of the wall's energy that did not reach the battery.
TEST(OwnerFigures, ChargeLossFromTheBatterysVoltsAndAmps)
{
    ASSERT_TRUE(FSetZones("UTC"));
    struct {
        const char* szName;
        std::function<void(LogBuilder&)> build;
        int cBattery;
        double whWall, whBattery, pctLoss;   // pctLoss pctLossNone: no figure
        double degBattery;                  // -1: not checked (the builder's C1MA temperature ends in its checksum)
    } const rgcase[] = {
        // 240 V x 32 A = 7680 W from the wall, 375 V x 18 A = 6750 W into the battery, three minutes
        // after the first record: 384 Wh and 337.5 Wh, 12.109375 % lost.
        {"four records a minute apart",
         [](LogBuilder& log) {
             for (uint32_t i = 0; i < 4; i++)
                 log.Add(C1mbBattery(tsBase + 1000 + i * 60, 240, 32, 375, 18));
         },
         4, 384, 337.5, 12.109375, 27},
        // The second minute draws twice the current: 60 s at 6750 W and 60 s at 2 x 6750 W.
        {"power that changes",
         [](LogBuilder& log) {
             log.Add(C1mbBattery(tsBase + 1000, 240, 32, 375, 18));
             log.Add(C1mbBattery(tsBase + 1060, 240, 32, 375, 18));
             log.Add(C1mbBattery(tsBase + 1120, 240, 64, 375, 36));
         },
         3, 128 + 256, 112.5 + 225, 12.109375, 27},
        {"one record draws nothing", [](LogBuilder& log) { log.Add(C1mbBattery(tsBase + 1000, 240, 32, 375, 18)); },
         1, 0, 0, pctLossNone, 27},
        {"records without battery volts (C1MA)",
         [](LogBuilder& log) {
             log.Add(C1maRec(tsBase + 1000, 250, 25, 12, 30)).Add(C1maRec(tsBase + 1060, 250, 25, 12, 31));
         },
         0, 0, 0, pctLossNone, -1},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        LogBuilder log = LogStart();
        tc.build(log);
        log.Add(IdleRec(tsBase + 3000, 60));
        SESSIONSSEEN seen;
        RunSummary(log, {}, "vms_log", &seen);
        ASSERT_EQ(seen.rgcharge.size(), 1u);
        CHARGESESSION const& cs = seen.rgcharge[0];
        EXPECT_EQ(cs.cBattery, tc.cBattery);
        EXPECT_NEAR(cs.whWallPaired, tc.whWall, 0.5);
        EXPECT_NEAR(cs.whBattery, tc.whBattery, 0.5);
        if (tc.pctLoss == pctLossNone) {
            EXPECT_EQ(PctChargeLoss(&cs), pctLossNone);
        } else {
            EXPECT_NEAR(PctChargeLoss(&cs), tc.pctLoss, 0.2);
        }
        EXPECT_GT(cs.cdegBattery, 0);
        if (tc.degBattery >= 0) {
            EXPECT_NEAR(cs.degBatteryAverage, tc.degBattery, 0.01);
        }
    }
}

TEST(OwnerFigures, PriceParsesAndItsWindowMayCrossMidnight)
{
    struct {
        const char* sz;
        bool fOk;
        const char* szWhy;
        int minute;
        double price;
    } const rgcase[] = {
        {"0.30", true, "", 12 * 60, 0.30},
        {"0.30,0.12@23:00-07:00", true, "", 23 * 60, 0.12},
        {"0.30,0.12@23:00-07:00", true, "", 22 * 60 + 59, 0.30},
        {"0.30,0.12@23:00-07:00", true, "", 0, 0.12},
        {"0.30,0.12@23:00-07:00", true, "", 6 * 60 + 59, 0.12},
        {"0.30,0.12@23:00-07:00", true, "", 7 * 60, 0.30},
        {"0.30,0.12@01:30-05:00", true, "", 1 * 60 + 29, 0.30},
        {"0.30,0.12@01:30-05:00", true, "", 4 * 60 + 59, 0.12},
        {"0.30,0.12@05:00-05:00", true, "", 5 * 60, 0.30},
        {"0", true, "", 0, 0},
        {"", false, "a price is a number of 0 or more, such as 0.30", 0, 0},
        {"-0.3", false, "a price is a number of 0 or more, such as 0.30", 0, 0},
        {"0.3.1", false, "a price is a number of 0 or more, such as 0.30", 0, 0},
        {"0.30x", false, "a price is written PRICE or PRICE,OFFPEAK@HH:MM-HH:MM", 0, 0},
        {"0.30,0.12", false, "an off-peak price is written 0.12@23:00-07:00", 0, 0},
        {"0.30,0.12@24:00-07:00", false, "an off-peak window is written HH:MM-HH:MM, such as 23:00-07:00", 0, 0},
        {"0.30,0.12@23:00-7:00", false, "an off-peak window is written HH:MM-HH:MM, such as 23:00-07:00", 0, 0},
        {"0.30,0.12@23:00-07:00x", false, "a price is written PRICE or PRICE,OFFPEAK@HH:MM-HH:MM", 0, 0},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.sz);
        PRICE price;
        char const* pszWhy = "";
        EXPECT_EQ(FParsePrice(tc.sz, &price, &pszWhy), tc.fOk);
        EXPECT_STREQ(pszWhy, tc.szWhy);
        EXPECT_EQ(price.fGiven, tc.fOk);
        if (tc.fOk) {
            EXPECT_DOUBLE_EQ(PriceAtMinute(&price, tc.minute), tc.price);
        }
    }
}

// 6 kW from the wall is 0.1 kWh a minute; the window 23:00-07:00 at 0.12, else 0.30.
TEST(OwnerFigures, ChargeCostMinuteByMinuteOfTheDisplayClock)
{
    constexpr uint32_t ts2258 = ts20100101 + 22 * secHour + 58 * 60;
    constexpr uint32_t ts065930 = ts20100101 + 6 * secHour + 59 * 60 + 30;
    constexpr uint32_t ts235930 = ts20100101 + 23 * secHour + 59 * 60 + 30;
    struct {
        const char* szName;
        const char* szZone;
        const char* szPrice;
        std::vector<LINEPOWER> rglp;
        double kwhCharge;
        double cost, kwhOffPeak;
    } const rgcase[] = {
        // Two minutes at 0.30 and one at 0.12.
        {"into the window", "UTC", "0.30,0.12@23:00-07:00",
         {{ts2258, 6}, {ts2258 + 60, 6}, {ts2258 + 120, 6}, {ts2258 + 180, 6}}, 0.3, 0.03 + 0.03 + 0.012, 0.1},
        // Half a minute at 0.12, half at 0.30.
        {"out of it at 07:00", "UTC", "0.30,0.12@23:00-07:00", {{ts065930, 6}, {ts065930 + 60, 6}}, 0.1,
         0.05 * 0.12 + 0.05 * 0.30, 0.05},
        {"over midnight, inside it", "UTC", "0.30,0.12@23:00-07:00", {{ts235930, 6}, {ts235930 + 60, 6}}, 0.1, 0.012,
         0.1},
        // 22:58 UTC is 14:58 in Los Angeles: no minute of it is off-peak.
        {"the display zone's clock", "America/Los_Angeles", "0.30,0.12@23:00-07:00",
         {{ts2258, 6}, {ts2258 + 60, 6}, {ts2258 + 120, 6}, {ts2258 + 180, 6}}, 0.3, 0.09, 0},
        // The cost follows the charge's own kWh at the records' average price.
        {"scaled to the charge's kWh", "UTC", "0.30,0.12@23:00-07:00", {{ts065930, 6}, {ts065930 + 60, 6}}, 0.2,
         2 * (0.05 * 0.12 + 0.05 * 0.30), 0.1},
        {"no price", "UTC", "", {{ts2258, 6}, {ts2258 + 60, 6}}, 0.1, 0, 0.0},
        {"one record draws nothing", "UTC", "0.30", {{ts2258, 6}}, 0.1, 0, 0},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        ASSERT_TRUE(FSetZones(tc.szZone));
        PRICE price;
        char const* pszWhy;
        if (*tc.szPrice) {
            ASSERT_TRUE(FParsePrice(tc.szPrice, &price, &pszWhy));
        }
        CIVILCACHE cache;
        CHARGECOST cc = CostOfCharge(&price, tc.kwhCharge, tc.rglp.data(), (int)tc.rglp.size(), &cache);
        EXPECT_NEAR(cc.cost, tc.cost, 1e-9);
        if (*tc.szPrice) {
            EXPECT_NEAR(cc.kwhOffPeak, tc.kwhOffPeak, 1e-9);
        }
    }
    ASSERT_TRUE(FSetZones("UTC"));
}

// A drive ends at 20:00, the car stands until 08:00, hourly status from 21:00 (80 %) to 07:00
// (78 %): 10 hours, 2 % lost, 4.8 % a day; at 150 Ah and 370 V that is 1110 Wh, 2664 Wh a day.
TEST(OwnerFigures, EnergyLostWhileParked)
{
    constexpr uint32_t ts20 = ts20100101 + 20 * secHour;
    auto night = [](int pctLast, int chour) {
        std::vector<IDLESAMPLE> rgidle;
        for (int i = 0; i <= chour; i++) {
            IDLESAMPLE idle{};
            idle.timestamp = ts20 + (uint32_t)(i + 1) * secHour;
            idle.pctSOC = i == 0 ? 80 : i == chour ? pctLast : 79;
            rgidle.push_back(idle);
        }
        return rgidle;
    };
    std::vector<DAYSAMPLE> const rgday{{ts20100101 - 86400, 160, 0, 0, 0}, {ts20100101 + 3600, 150, 0, 0, 0},
                                       {ts20 + 20 * secHour, 140, 0, 0, 0}};
    std::vector<SESSIONSPAN> const rgspan{{ts20 - secHour, ts20}, {ts20 + 12 * secHour, ts20 + 13 * secHour}};
    std::vector<IDLESAMPLE> rgidleGap = night(78, 10);
    rgidleGap[4].pctSOC = -1;   // readings without a SOC are passed over
    std::vector<IDLESAMPLE> rgidleTwoStretches = night(78, 10);
    IDLESAMPLE idleAfter{};
    idleAfter.timestamp = ts20 + 14 * secHour, idleAfter.pctSOC = 77;
    rgidleTwoStretches.push_back(idleAfter);
    idleAfter.timestamp = ts20 + 17 * secHour, idleAfter.pctSOC = 76;
    rgidleTwoStretches.push_back(idleAfter);
    struct {
        const char* szName;
        std::vector<IDLESAMPLE> rgidle;
        double voltsPack;
        std::vector<PARKED> rgparked;   // from, to, SOC from, to, hours, lost, Wh, per day
    } const rgcase[] = {
        {"a night", night(78, 10), 370,
         {{ts20 + secHour, ts20 + 11 * secHour, 80, 78, 10, 2, 1110, 4.8, 2664}}},
        {"a reading without a SOC", rgidleGap, 370, {{ts20 + secHour, ts20 + 11 * secHour, 80, 78, 10, 2, 1110, 4.8, 2664}}},
        {"no pack voltage: no energy", night(78, 10), 0, {{ts20 + secHour, ts20 + 11 * secHour, 80, 78, 10, 2, 0, 4.8, 0}}},
        {"under two hours", night(79, 1), 370, {}},
        // After the last session: 3 hours, 1 %, at the capacity of the same daily figure.
        {"and after the last session", rgidleTwoStretches, 370,
         {{ts20 + secHour, ts20 + 11 * secHour, 80, 78, 10, 2, 1110, 4.8, 2664},
          {ts20 + 14 * secHour, ts20 + 17 * secHour, 77, 76, 3, 1, 555, 8, 4440}}},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        std::vector<PARKED> rgparked;
        ParkedStretches(rgspan.data(), (int)rgspan.size(), tc.rgidle.data(), (int)tc.rgidle.size(), rgday.data(),
                        (int)rgday.size(), tc.voltsPack, &rgparked);
        ASSERT_EQ(rgparked.size(), tc.rgparked.size());
        for (size_t i = 0; i < rgparked.size(); i++) {
            PARKED const &p = rgparked[i], &e = tc.rgparked[i];
            EXPECT_EQ(p.timestampStart, e.timestampStart);
            EXPECT_EQ(p.timestampEnd, e.timestampEnd);
            EXPECT_EQ(p.pctStart, e.pctStart);
            EXPECT_EQ(p.pctEnd, e.pctEnd);
            EXPECT_DOUBLE_EQ(p.hours, e.hours);
            EXPECT_DOUBLE_EQ(p.pctLost, e.pctLost);
            EXPECT_NEAR(p.whLost, e.whLost, 1e-9);
            EXPECT_NEAR(p.pctPerDay, e.pctPerDay, 1e-9);
            EXPECT_NEAR(p.whPerDay, e.whPerDay, 1e-9);
        }
    }
}

// Sessions count in the month they start in on the display zone's calendar: 02/01/2010 05:00 UTC
// is 01/31/2010 21:00 in Los Angeles.
TEST(OwnerFigures, MonthsAndYearsOfTheDisplayZone)
{
    constexpr uint32_t tsFeb1 = 1264982400u;   // 02/01/2010 00:00:00 UTC
    constexpr uint32_t tsDec31 = 1293753600u;  // 12/31/2010 00:00:00 UTC
    auto drive = [](uint32_t ts, double miles, double wh) {
        DRIVESESSION ds{};
        ds.timestampStart = ts, ds.timestampEnd = ts + 1800, ds.secDuration = 1800, ds.miles = miles, ds.wh = wh;
        return ds;
    };
    auto charge = [](uint32_t ts, double kwh) {
        CHARGESESSION cs{};
        cs.timestampStart = ts, cs.timestampEnd = ts + 3600, cs.kwh = kwh;
        return cs;
    };
    std::vector<DRIVESESSION> const rgds{drive(tsFeb1 - 20 * secHour, 10, 3000), drive(tsFeb1 + 5 * secHour, 20, 5000),
                                         drive(tsFeb1 + 20 * secHour, 0.5, 200), drive(tsDec31 + 20 * secHour, 40, 9000)};
    std::vector<CHARGESESSION> const rgcs{charge(tsFeb1 + 6 * secHour, 10), charge(tsFeb1 + 21 * secHour, 2)};
    std::vector<double> const rgcost{3.0, 0.5};
    std::vector<PARKED> const rgparked{{tsFeb1 + 7 * secHour, tsFeb1 + 17 * secHour, 80, 78, 10, 2, 1110, 4.8, 2664}};
    struct {
        const char* szZone;
        // year, month, miles, drives, kWh out, kWh wall, charges, Wh lost parked, cost
        std::vector<std::tuple<int, int, double, int, double, double, int, double, double>> rgmonth, rgyear;
    } const rgcase[] = {
        {"UTC",
         {{2010, 1, 10, 1, 3, 0, 0, 0, 0}, {2010, 2, 20.5, 2, 5.2, 12, 2, 1110, 3.5}, {2010, 12, 40, 1, 9, 0, 0, 0, 0}},
         {{2010, 0, 70.5, 4, 17.2, 12, 2, 1110, 3.5}}},
        {"America/Los_Angeles",
         {{2010, 1, 30, 2, 8, 10, 1, 1110, 3}, {2010, 2, 0.5, 1, 0.2, 2, 1, 0, 0.5}, {2010, 12, 40, 1, 9, 0, 0, 0, 0}},
         {{2010, 0, 70.5, 4, 17.2, 12, 2, 1110, 3.5}}},
        // 12/31/2010 20:00 UTC is 01/01/2011 05:00 in Tokyo: a year of its own.
        {"Asia/Tokyo",
         {{2010, 1, 10, 1, 3, 0, 0, 0, 0}, {2010, 2, 20.5, 2, 5.2, 12, 2, 1110, 3.5}, {2011, 1, 40, 1, 9, 0, 0, 0, 0}},
         {{2010, 0, 30.5, 3, 8.2, 12, 2, 1110, 3.5}, {2011, 0, 40, 1, 9, 0, 0, 0, 0}}},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szZone);
        ASSERT_TRUE(FSetZones(tc.szZone));
        std::vector<PERIOD> rgmonth, rgyear;
        PeriodsOf(rgds.data(), (int)rgds.size(), rgcs.data(), (int)rgcs.size(), rgcost.data(), rgparked.data(),
                  (int)rgparked.size(), &rgmonth, &rgyear);
        for (auto [prg, prgExpected] : {std::pair{&rgmonth, &tc.rgmonth}, std::pair{&rgyear, &tc.rgyear}}) {
            ASSERT_EQ(prg->size(), prgExpected->size());
            for (size_t i = 0; i < prg->size(); i++) {
                PERIOD const& p = (*prg)[i];
                auto const& [year, month, miles, cdrive, kwhOut, kwhWall, ccharge, whParked, cost] = (*prgExpected)[i];
                SCOPED_TRACE(std::to_string(year) + "-" + std::to_string(month));
                EXPECT_EQ(p.year, year);
                EXPECT_EQ(p.month, month);
                EXPECT_DOUBLE_EQ(p.miles, miles);
                EXPECT_EQ(p.cdrive, cdrive);
                EXPECT_NEAR(p.whOut / 1000, kwhOut, 1e-9);
                EXPECT_DOUBLE_EQ(p.kwhWall, kwhWall);
                EXPECT_EQ(p.ccharge, ccharge);
                EXPECT_DOUBLE_EQ(p.whParkedLost, whParked);
                EXPECT_DOUBLE_EQ(p.cost, cost);
                EXPECT_DOUBLE_EQ(p.secDriving, 1800.0 * cdrive);
            }
        }
        // Wh per mile both ways, none under a mile or without wall energy.
        if (std::string(tc.szZone) == "UTC") {
            EXPECT_DOUBLE_EQ(WhPerMileOut(&rgmonth[0]), 300);
            EXPECT_DOUBLE_EQ(WhPerMileWall(&rgmonth[0]), -1);
            EXPECT_NEAR(WhPerMileWall(&rgmonth[1]), 12000 / 20.5, 1e-9);
        }
    }
    ASSERT_TRUE(FSetZones("UTC"));
}

// 40 daily figures on 150 - 0.05 x: a wild one at x = 20 tilts the first line and is then let go.
TEST(OwnerFigures, CapacityTrendAndShareLeft)
{
    std::vector<double> rgx, rgy, rgyWild;
    for (int i = 0; i < 40; i++) {
        rgx.push_back(i);
        rgy.push_back(150 - 0.05 * i);
        rgyWild.push_back(i == 20 ? 120 : 150 - 0.05 * i);
    }
    struct {
        const char* szName;
        std::vector<double> rgx, rgy;
        bool fFit;
        double slope, vAt0;
        int cpt;
    } const rgcase[] = {
        {"on the line", rgx, rgy, true, -0.05, 150, 40},
        {"a wild figure", rgx, rgyWild, true, -0.05, 150, 39},
        {"one point", {3}, {150}, false, 0, 0, 0},
        {"one x", {3, 3}, {150, 140}, false, 0, 0, 0},
        {"two points", {0, 10}, {150, 140}, true, -1, 150, 2},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        TREND trend = TrendOf(tc.rgx.data(), tc.rgy.data(), (int)tc.rgx.size());
        EXPECT_EQ(trend.fFit, tc.fFit);
        if (!tc.fFit)
            continue;
        EXPECT_NEAR(trend.slope, tc.slope, 1e-9);
        EXPECT_NEAR(trend.vAt0, tc.vAt0, 1e-9);
        EXPECT_EQ(trend.cpt, tc.cpt);
    }
    // A year of daily figures on 160 - 0.01 per day, with the odometer 40 miles a day from 1000: the
    // first 90 days average 160 - 0.445 = 159.555, the line ends at 160 - 3.64 = 156.36.
    std::vector<DAYSAMPLE> rgday;
    for (uint32_t day = 0; day < 365; day++)
        rgday.push_back(DAYSAMPLE{ts20100101 + day * 86400, 160 - 0.01 * day, 140 - 0.02 * day, 150, 1000 + 40.0 * day});
    HEALTH health;
    BatteryHealthOf(rgday.data(), (int)rgday.size(), &health);
    EXPECT_EQ(health.cday, 365);
    EXPECT_NEAR(health.ahCACFirst, 159.555, 1e-9);
    EXPECT_NEAR(health.ahCACNow, 156.36, 1e-9);
    EXPECT_NEAR(health.pctLeft, 156.36 / 159.555 * 100, 1e-9);
    EXPECT_NEAR(health.trendByMiles.slope, -0.01 / 40, 1e-12);
    EXPECT_NEAR(health.trendBrickByAge.slope, -0.02, 1e-12);
    BatteryHealthOf(rgday.data(), 0, &health);
    EXPECT_EQ(health.pctLeft, -1);
}

// The brick spread per day, the hours parked by band, and power against SOC.
TEST(OwnerFigures, BrickSpreadParkedBandsAndChargingCurve)
{
    ASSERT_TRUE(FSetZones("UTC"));
    auto idle = [](uint32_t ts, int pct, float deg, float voltsMin, float voltsMax) {
        return IDLESAMPLE{ts, pct, true, deg, true, voltsMin, voltsMax};
    };
    std::vector<IDLESAMPLE> const rgidle{idle(ts20100101 + 3600, 95, 25, 3.90f, 3.95f),
                                         idle(ts20100101 + 7200, 100, 41, 3.90f, 3.93f),
                                         idle(ts20100101 + 90000, 9, -2, 3.80f, 3.82f),
                                         idle(ts20100101 + 93600, -1, 20, 3.80f, 3.80f)};
    std::vector<IMBALANCE> rgimb;
    CIVILCACHE cache;
    ImbalanceByDay(rgidle.data(), (int)rgidle.size(), &cache, &rgimb);
    ASSERT_EQ(rgimb.size(), 2u);
    EXPECT_EQ(rgimb[0].secCivilDay, (int64_t)ts20100101);
    EXPECT_NEAR(rgimb[0].mvMean, 40, 0.01);
    EXPECT_NEAR(rgimb[0].mvMax, 50, 0.01);
    EXPECT_EQ(rgimb[0].csample, 2);
    EXPECT_NEAR(rgimb[1].mvMean, 10, 0.01);
    EXPECT_EQ(rgimb[1].csample, 2);

    struct {
        double deg;
        int iband;
    } const rgtemp[] = {{-0.5, 0}, {0, 1}, {9.9, 1}, {10, 2}, {39.9, 4}, {40, 5}, {55, 5}};
    for (auto const& tc : rgtemp)
        EXPECT_EQ(IbandTemp(tc.deg), tc.iband) << tc.deg;
    PARKBANDS bands;
    ParkBandsOf(rgidle.data(), (int)rgidle.size(), &bands);
    EXPECT_EQ(bands.hoursAll, 3);
    EXPECT_EQ(bands.rghours[9][3], 1);   // 95 % at 25 degrees
    EXPECT_EQ(bands.rghours[9][5], 1);   // 100 % at 41 degrees
    EXPECT_EQ(bands.rghours[0][0], 1);   // 9 % below freezing

    // SOC read at the start (50 %) and after two minutes (60 %): the power point between gets 55 %,
    // the one after the last SOC none.
    std::vector<PT> const rgptPower{{0, 6.5f}, {60, 6.6f}, {120, 6.7f}, {180, 3.0f}};
    std::vector<PT> const rgptSOC{{0, 50}, {120, 60}};
    std::vector<SOCPOWER> rgsp;
    ChargeCurveOf(rgptPower.data(), (int)rgptPower.size(), rgptSOC.data(), (int)rgptSOC.size(), &rgsp);
    ASSERT_EQ(rgsp.size(), 3u);
    EXPECT_FLOAT_EQ(rgsp[0].pct, 50);
    EXPECT_FLOAT_EQ(rgsp[1].pct, 55);
    EXPECT_FLOAT_EQ(rgsp[1].kw, 6.6f);
    EXPECT_FLOAT_EQ(rgsp[2].pct, 60);
}
