// The owner's figures of the history database are the car page's: the same downloads read by the
// page's reader and its owner functions, against the tables and views of the database made of
// them; the charges priced by --csv --price against the page's costs under the same price; and a
// database of version 1 brought up to date in place holds what a new one holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "analysis/owner.h"
#include "dbtest.h"
#include "plot/history.h"
#include "support/timecal.h"
#include "testsupport/logbuilder.h"

namespace {

constexpr char s_szZone[] = "America/Los_Angeles";

// Both calendars of this process, the display zone's and SQLite's ('localtime' follows TZ).
struct ZONED {
    ZONED()
    {
        setenv("TZ", s_szZone, 1);
        tzset();
        FSetZones(s_szZone);
    }
    ~ZONED()
    {
        setenv("TZ", "UTC", 1);
        tzset();
        FSetZones("UTC");
    }
};

// The same figure but for the order of a sum's terms.
bool FNear(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// What the car page works out of the downloads (ComputeOwner's steps).
struct PAGE {
    HISTORY hist;
    std::vector<DRIVESESSION> rgds;
    std::vector<CHARGESESSION> rgcs;
    std::vector<double> rgcost;
    std::vector<DAYSAMPLE> rgday;
    double voltsPack = 0;
    std::vector<PARKED> rgparked;
    std::vector<PERIOD> rgmonth, rgyear;
    HEALTH health;
    std::vector<IMBALANCE> rgimb;
    PARKBANDS bands;
};

void ReadPage(std::vector<std::string> const& rgstrPath, PRICE const& price, PAGE* ppage)
{
    std::vector<char const*> rgpsz;
    for (std::string const& str : rgstrPath)
        rgpsz.push_back(str.c_str());
    ppage->hist.price = price;
    std::string strErr;
    ASSERT_TRUE(FReadHistory(rgpsz.data(), (int)rgpsz.size(), &ppage->hist, &strErr)) << strErr;
    HISTORY const& hist = ppage->hist;
    for (DRIVEROW const& row : hist.rgdrive)
        ppage->rgds.push_back(row.ds);
    for (CHARGEROW const& row : hist.rgcharge) {
        ppage->rgcs.push_back(row.cs);
        ppage->rgcost.push_back(row.cost.cost);
    }
    for (DAYROW const& day : hist.rgday)
        ppage->rgday.push_back(DAYSAMPLE{day.timestamp, day.ahCAC, day.ahBrickMin, day.ahBrickAve, day.milesOdo});
    ppage->voltsPack = hist.cvoltsPack > 0 ? hist.voltsPackSum / (double)hist.cvoltsPack : 0;
    std::vector<SESSIONSPAN> rgspan;
    SpansOfSessions(ppage->rgds.data(), (int)ppage->rgds.size(), ppage->rgcs.data(), (int)ppage->rgcs.size(), &rgspan);
    ParkedStretches(rgspan.data(), (int)rgspan.size(), hist.rgidle.data(), (int)hist.rgidle.size(), ppage->rgday.data(),
                    (int)ppage->rgday.size(), ppage->voltsPack, &ppage->rgparked);
    PeriodsOf(ppage->rgds.data(), (int)ppage->rgds.size(), ppage->rgcs.data(), (int)ppage->rgcs.size(),
              price.fGiven ? ppage->rgcost.data() : nullptr, ppage->rgparked.data(), (int)ppage->rgparked.size(),
              &ppage->rgmonth, &ppage->rgyear);
    BatteryHealthOf(ppage->rgday.data(), (int)ppage->rgday.size(), &ppage->health);
    CIVILCACHE cache;
    ImbalanceByDay(hist.rgidle.data(), (int)hist.rgidle.size(), &cache, &ppage->rgimb);
    ParkBandsOf(hist.rgidle.data(), (int)hist.rgidle.size(), &ppage->bands);
}

// Every row of the query, each value a double (NULL as NaN).
std::vector<std::vector<double>> RowsOf(std::string const& strDb, std::string const& strSql)
{
    std::vector<std::vector<double>> rgrow;
    sqlite3* pdb = nullptr;
    EXPECT_EQ(sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* pstmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(pdb, strSql.c_str(), -1, &pstmt, nullptr), SQLITE_OK) << strSql << sqlite3_errmsg(pdb);
    while (sqlite3_step(pstmt) == SQLITE_ROW) {
        std::vector<double> row;
        for (int i = 0; i < sqlite3_column_count(pstmt); i++)
            row.push_back(sqlite3_column_type(pstmt, i) == SQLITE_NULL ? NAN : sqlite3_column_double(pstmt, i));
        rgrow.push_back(row);
    }
    sqlite3_finalize(pstmt);
    sqlite3_close(pdb);
    return rgrow;
}

// The rows against the page's, figure by figure; szWhat names the table in a failure.
void ExpectRows(std::vector<std::vector<double>> const& rgrowDb, std::vector<std::vector<double>> const& rgrowPage,
                char const* szWhat)
{
    ASSERT_EQ(rgrowDb.size(), rgrowPage.size()) << szWhat;
    for (size_t irow = 0; irow < rgrowDb.size(); irow++) {
        ASSERT_EQ(rgrowDb[irow].size(), rgrowPage[irow].size()) << szWhat;
        for (size_t i = 0; i < rgrowDb[irow].size(); i++)
            EXPECT_TRUE(FNear(rgrowDb[irow][i], rgrowPage[irow][i]))
                << szWhat << " row " << irow << " column " << i << ": " << rgrowDb[irow][i] << " in the database, "
                << rgrowPage[irow][i] << " on the page";
    }
}

double NanUnless(bool f, double d)
{
    return f ? d : NAN;
}

std::vector<double> RowOfPeriod(PERIOD const& period, bool fMonth, bool fEnergy)
{
    std::vector<double> row{(double)period.year};
    if (fMonth)
        row.push_back(period.month);
    double const whOut = WhPerMileOut(&period), whWall = WhPerMileWall(&period);
    row.insert(row.end(), {period.miles, (double)period.cdrive, period.secDriving, period.whOut, period.kwhWall,
                           (double)period.ccharge, NanUnless(whOut >= 0, whOut), NanUnless(whWall >= 0, whWall),
                           (double)period.cparked, period.hoursParked, period.pctParkedLost,
                           NanUnless(fEnergy && period.cparked > 0, period.whParkedLost)});
    return row;
}

TEST(OwnerFigures, TheDatabaseHoldsThePagesFiguresOfTheSameDownloads)
{
    ZONED zoned;
    CARSET const& set = Downloads();
    std::string strDb = TempDir() + "/car.db";
    // Added in two runs, the newer ones first: the figures are kept in step, not made once.
    RunResult r = RunDb({strDb, set.rgstrPath[3], set.rgstrPath[4], set.rgstrPath[5]}, s_szZone);
    ASSERT_EQ(r.status, 0) << r.err;
    r = RunDb({strDb, set.rgstrPath[0], set.rgstrPath[1], set.rgstrPath[2]}, s_szZone);
    ASSERT_EQ(r.status, 0) << r.err;
    PAGE page;
    ReadPage(set.rgstrPath, PRICE{}, &page);
    ASSERT_GT(page.rgds.size(), 50u);
    ASSERT_GT(page.rgparked.size(), 50u);
    ASSERT_GT(page.voltsPack, 0);

    std::vector<std::vector<double>> rgrow;
    for (DRIVESESSION const& ds : page.rgds)
        rgrow.push_back({(double)ds.timestampStart, NanUnless(ds.cdegBattery > 0, ds.degBatteryAverage)});
    ExpectRows(RowsOf(strDb, "SELECT time_start, temp_battery FROM drives ORDER BY time_start"), rgrow, "drives");
    rgrow.clear();
    for (CHARGESESSION const& cs : page.rgcs) {
        double const pctLoss = PctChargeLoss(&cs);
        rgrow.push_back({(double)cs.timestampStart, NanUnless(cs.cdegBattery > 0, cs.degBatteryAverage),
                         (double)cs.cBattery, NanUnless(cs.cBattery > 0, cs.whBattery),
                         NanUnless(cs.cBattery > 0, cs.whWallPaired), NanUnless(pctLoss != pctLossNone, pctLoss)});
    }
    ExpectRows(RowsOf(strDb, "SELECT time_start, temp_battery, battery_readings, wh_battery, wh_wall_paired, loss_pct "
                             "FROM charges ORDER BY time_start"),
               rgrow, "charges");
    EXPECT_TRUE(std::any_of(page.rgcs.begin(), page.rgcs.end(), [](CHARGESESSION const& cs) { return cs.cBattery > 1; }));

    rgrow.clear();
    for (PARKED const& parked : page.rgparked)
        rgrow.push_back({(double)parked.timestampStart, (double)parked.timestampEnd, (double)parked.pctStart,
                         (double)parked.pctEnd, parked.hours, parked.pctLost, parked.whLost, parked.pctPerDay,
                         parked.whPerDay});
    ExpectRows(RowsOf(strDb, "SELECT time_start, time_end, soc_start, soc_end, hours, soc_lost, wh_lost, "
                             "soc_lost_per_day, wh_lost_per_day FROM parked ORDER BY time_start"),
               rgrow, "parked");

    HEALTH const& health = page.health;
    ASSERT_TRUE(health.trendByAge.fFit && health.trendByMiles.fFit && health.trendBrickByAge.fFit);
    ExpectRows(RowsOf(strDb, "SELECT days, time_first, days_span, cac_first, cac_now, share_left_pct, cac_at_first_day, "
                             "cac_per_day, cac_at_no_miles, cac_per_mile, brick_ah_at_first_day, brick_ah_per_day "
                             "FROM battery_health"),
               {{(double)health.cday, (double)page.rgday.front().timestamp, health.daysSpan, health.ahCACFirst,
                 health.ahCACNow, health.pctLeft, health.trendByAge.vAt0, health.trendByAge.slope,
                 health.trendByMiles.vAt0, health.trendByMiles.slope, health.trendBrickByAge.vAt0,
                 health.trendBrickByAge.slope}},
               "battery_health");

    rgrow.clear();
    for (int isoc = 0; isoc < cbandSOC; isoc++)
        for (int itemp = 0; itemp < cbandTemp; itemp++)
            rgrow.push_back({(double)isoc, (double)itemp, page.bands.rghours[isoc][itemp]});
    ExpectRows(RowsOf(strDb, "SELECT soc_band, temp_band, hours FROM park_bands ORDER BY soc_band, temp_band"), rgrow,
               "park_bands");
    EXPECT_GT(page.bands.hoursAll, 100);

    rgrow.clear();
    for (CHARGEROW const& row : page.hist.rgcharge) {
        std::vector<SOCPOWER> rgsp, rgspPct;
        ChargeCurveOf(row.rgptPower.data(), (int)row.rgptPower.size(), row.rgptSOC.data(), (int)row.rgptSOC.size(),
                      &rgsp);
        CurveByPercent(rgsp, &rgspPct);
        for (SOCPOWER const& sp : rgspPct)
            rgrow.push_back({(double)row.cs.timestampStart, sp.pct, sp.kw});
    }
    EXPECT_GT(rgrow.size(), 10 * page.rgcs.size());
    ExpectRows(RowsOf(strDb, "SELECT time_start, soc, kw FROM charge_curves ORDER BY time_start, rowid"), rgrow,
               "charge_curves");

    bool const fEnergy = page.voltsPack > 0 && !page.rgday.empty();
    rgrow.clear();
    for (PERIOD const& period : page.rgmonth)
        rgrow.push_back(RowOfPeriod(period, true, fEnergy));
    ASSERT_GE(rgrow.size(), 2u);
    ExpectRows(RowsOf(strDb, "SELECT * FROM months"), rgrow, "months");
    rgrow.clear();
    for (PERIOD const& period : page.rgyear)
        rgrow.push_back(RowOfPeriod(period, false, fEnergy));
    ExpectRows(RowsOf(strDb, "SELECT * FROM years"), rgrow, "years");

    rgrow.clear();
    for (IMBALANCE const& imb : page.rgimb)
        rgrow.push_back({(double)imb.secCivilDay, imb.mvMean, imb.mvMax, (double)imb.csample});
    ASSERT_GT(rgrow.size(), 20u);
    ExpectRows(RowsOf(strDb, "SELECT (julianday(day) - 2440587.5) * 86400, mv_mean, mv_max, samples FROM imbalance "
                             "ORDER BY day"),
               rgrow, "imbalance");
}

// A price with an off-peak window that crosses midnight: each charge's cost, its off-peak kWh and
// each month's cost from --csv are the page's under the same price.
TEST(OwnerFigures, ChargeCostsOfTheCsvFilesAreThePagesUnderTheSamePrice)
{
    ZONED zoned;
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    std::string strDb = strDir + "/car.db";
    RunResult r = RunDb({strDb, set.rgstrPath[0], set.rgstrPath[1], set.rgstrPath[2]}, s_szZone);
    ASSERT_EQ(r.status, 0) << r.err;
    char const szPrice[] = "0.30,0.12@23:00-07:00";
    r = RunDb({"--csv", strDir + "/csv", "--price", szPrice, strDb}, s_szZone);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "17 CSV files written to " + strDir + "/csv\n");
    PRICE price;
    char const* pszWhy = nullptr;
    ASSERT_TRUE(FParsePrice(szPrice, &price, &pszWhy));
    PAGE page;
    ReadPage({set.rgstrPath[0], set.rgstrPath[1], set.rgstrPath[2]}, price, &page);

    bool fWellFormed = false;
    std::vector<std::vector<std::string>> rgrow = RowsOfCsv(ReadText(strDir + "/csv/charge_costs.csv"), &fWellFormed);
    ASSERT_TRUE(fWellFormed);
    ASSERT_EQ(rgrow.size(), page.hist.rgcharge.size() + 1);
    EXPECT_EQ(rgrow[0], (std::vector<std::string>{"charge", "time_start", "time_start_unix", "cost", "kwh_off_peak",
                                                  "price_average"}));
    int cchargeAcross = 0;
    for (size_t i = 0; i < page.hist.rgcharge.size(); i++) {
        CHARGEROW const& row = page.hist.rgcharge[i];
        std::vector<std::string> const& rgstr = rgrow[i + 1];
        EXPECT_EQ(std::stoll(rgstr[2]), (long long)row.cs.timestampStart);
        EXPECT_TRUE(FNear(std::strtod(rgstr[3].c_str(), nullptr), row.cost.cost)) << i << " " << rgstr[3];
        EXPECT_TRUE(FNear(std::strtod(rgstr[4].c_str(), nullptr), row.cost.kwhOffPeak)) << i;
        EXPECT_TRUE(FNear(std::strtod(rgstr[5].c_str(), nullptr), row.cost.priceAverage)) << i;
        cchargeAcross += row.cost.kwhOffPeak > 0.01 && row.cost.kwhOffPeak < row.cs.kwh - 0.01;
    }
    // Some charges run into or out of the window: priced in part at each price.
    EXPECT_GT(cchargeAcross, 0);

    rgrow = RowsOfCsv(ReadText(strDir + "/csv/months.csv"), &fWellFormed);
    ASSERT_EQ(rgrow.size(), page.rgmonth.size() + 1);
    ASSERT_EQ(rgrow[0].back(), "cost");
    for (size_t i = 0; i < page.rgmonth.size(); i++)
        EXPECT_TRUE(FNear(std::strtod(rgrow[i + 1].back().c_str(), nullptr), page.rgmonth[i].cost)) << i;
    rgrow = RowsOfCsv(ReadText(strDir + "/csv/years.csv"), &fWellFormed);
    ASSERT_EQ(rgrow.size(), page.rgyear.size() + 1);
    EXPECT_TRUE(FNear(std::strtod(rgrow[1].back().c_str(), nullptr), page.rgyear[0].cost));

    // A price the page refuses, the database refuses with the same words; a price is for --csv.
    r = RunDb({"--csv", strDir + "/csv2", "--price", "0.30,0.12@23:00", strDb});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
              "quenfell-db: --price '0.30,0.12@23:00': an off-peak window is written HH:MM-HH:MM, such as 23:00-07:00");
    r = RunDb({"--price", "0.30", strDb});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(strDir + "/csv2"));
}

// A C1MB record with the battery's amps of this test (the builder's battery volts: 778 / 2.048 V).
Rec C1mbAt(uint32_t ts)
{
    return C1mbRec(ts, 240, 32, 18);
}

// One evening and night worked by hand, through quenfell-db: a drive ending at 20:00 whose last
// seconds draw 5 A at 370 V (the pack's resting voltage), hourly status from 21:00 at 80 % to 07:00
// at 78 %, and a charge from 07:28 to 07:31 at 240 V x 32 A from the wall and 379.88 V x 18 A into
// the battery, priced 0.30 a kWh and 0.12 inside 23:00-07:30, a window across midnight.
TEST(OwnerFigures, ANightParkedAndAChargeWorkedByHand)
{
    constexpr uint32_t ts20100101 = 1262304000u;   // 01/01/2010 00:00:00 UTC
    constexpr uint32_t secHour = 3600;
    LogBuilder log;
    // The daily figure's CAC: 2626 / 17.5039 = 150.0237 Ah.
    log.Add(VinfRec(ts20100101 - 100, true)).Add(DayRec(ts20100101 - 90, 990.0, 2626, 95));
    log.Add(VinfRec(ts20100101 - 80, false));
    uint32_t const tsDrive = ts20100101 + 19 * secHour + 50 * 60;
    for (uint32_t i = 0; i < 60; i++)
        log.Add(Dr1sRec(tsDrive + i * 10, 30, 100, 360));
    for (uint32_t i = 0; i < 6; i++)
        log.Add(Dr1sRec(ts20100101 + 20 * secHour + i, 0, 5, 370));
    for (uint32_t i = 0; i <= 10; i++)
        log.Add(IdleRec(ts20100101 + (21 + i) * secHour, i == 0 ? 80 : i == 10 ? 78 : 79));
    uint32_t const tsCharge = ts20100101 + 31 * secHour + 28 * 60;
    for (uint32_t i = 0; i < 4; i++)
        log.Add(C1mbAt(tsCharge + i * 60));
    log.Add(IdleRec(tsCharge + secHour));
    std::string strDir = TempDir();
    log.WriteFile(strDir + "/vms_log");
    std::string strDb = strDir + "/car.db";
    RunResult r = RunDb({strDb, strDir + "/vms_log"});
    ASSERT_EQ(r.status, 0) << r.err;

    struct {
        char const* szSql;
        double v, dv;
    } const rgcase[] = {
        {"SELECT count(*) FROM drives", 1, 0},
        {"SELECT volts_rest FROM drives", 370, 0},
        {"SELECT volts_rest_readings FROM drives", 6, 0},
        // 10 hours from 80 % to 78 %: 2 %, 4.8 % a day; 0.02 x 150.0237 Ah x 370 V = 1110.18 Wh.
        {"SELECT count(*) FROM parked", 1, 0},
        {"SELECT hours FROM parked", 10, 0},
        {"SELECT soc_lost FROM parked", 2, 0},
        {"SELECT soc_lost_per_day FROM parked", 4.8, 1e-9},
        {"SELECT wh_lost FROM parked", 1110.18, 0.01},
        {"SELECT wh_lost_per_day FROM parked", 2664.42, 0.01},
        // Three minutes at 7680 W from the wall: 384 Wh; at 6837.9 W into the battery: 341.9 Wh.
        {"SELECT battery_readings FROM charges", 4, 0},
        {"SELECT wh_wall_paired FROM charges", 384.0, 0.01},
        {"SELECT wh_battery FROM charges", 341.89, 0.01},
        {"SELECT loss_pct FROM charges", 10.97, 0.01},
        // The month holds them all. The status is 3 readings on the 1st and 9 on the 2nd (the one
        // after the charge reads no SOC), each with bricks at 3.8999 and 3.9500 V; of the 11 with a
        // SOC, 80 % is in the 80 % band, 79 % and 78 % in the 70 % one, all in the 20 °C band.
        {"SELECT count(*) FROM months", 1, 0},
        {"SELECT drives + charges + parked FROM months WHERE year = 2010 AND month = 1", 3, 0},
        {"SELECT soc_lost_parked FROM years WHERE year = 2010", 2, 0},
        {"SELECT group_concat(day || ' ' || samples) FROM imbalance", NAN, 0},
        {"SELECT mv_max FROM imbalance WHERE day = '2010-01-02'", 50.05, 0.01},
        {"SELECT hours FROM park_bands WHERE soc_band = 7 AND temp_band = 3", 10, 0},
        {"SELECT hours FROM park_bands WHERE soc_band = 8 AND temp_band = 3", 1, 0},
        {"SELECT sum(hours) FROM park_bands", 11, 0},
        {"SELECT cac_first FROM battery_health", 150.0237, 1e-4},
        {"SELECT share_left_pct IS NULL FROM battery_health", 1, 0},
    };
    for (auto const& tc : rgcase) {
        std::string const str = StrQuery(strDb, tc.szSql);
        if (std::isnan(tc.v))
            EXPECT_EQ(str, "2010-01-01 3,2010-01-02 9") << tc.szSql;
        else
            EXPECT_NEAR(std::strtod(str.c_str(), nullptr), tc.v, tc.dv) << tc.szSql << ": " << str;
    }

    // Two minutes inside the window and one after it, 0.128 kWh each.
    r = RunDb({"--csv", strDir + "/csv", "--price", "0.30,0.12@23:00-07:30", strDb});
    ASSERT_EQ(r.status, 0) << r.err;
    bool fWellFormed = false;
    std::vector<std::vector<std::string>> rgrow = RowsOfCsv(ReadText(strDir + "/csv/charge_costs.csv"), &fWellFormed);
    ASSERT_EQ(rgrow.size(), 2u);
    EXPECT_NEAR(std::strtod(rgrow[1][3].c_str(), nullptr), 0.128 * (0.12 + 0.12 + 0.30), 1e-4);
    EXPECT_NEAR(std::strtod(rgrow[1][4].c_str(), nullptr), 0.256, 1e-4);
    EXPECT_NEAR(std::strtod(rgrow[1][5].c_str(), nullptr), (0.12 + 0.12 + 0.30) / 3, 1e-6);
    rgrow = RowsOfCsv(ReadText(strDir + "/csv/months.csv"), &fWellFormed);
    ASSERT_EQ(rgrow.size(), 2u);
    EXPECT_NEAR(std::strtod(rgrow[1].back().c_str(), nullptr), 0.128 * (0.12 + 0.12 + 0.30), 1e-4);
}

// Each owner's table and view, without the row numbers that rewriting renumbers.
std::vector<std::vector<double>> RowsOfOwnerFigures(std::string const& strDb)
{
    std::vector<std::vector<double>> rgrowAll;
    for (char const* szSql :
         {"SELECT * FROM drives ORDER BY time_start", "SELECT * FROM charges ORDER BY time_start",
          "SELECT * FROM parked ORDER BY time_start", "SELECT * FROM charge_curves ORDER BY time_start, rowid",
          "SELECT * FROM battery_health", "SELECT * FROM park_bands", "SELECT * FROM months", "SELECT * FROM years",
          "SELECT julianday(day), mv_mean, mv_max, samples FROM imbalance ORDER BY day"}) {
        bool const fId = strstr(szSql, "drives") || strstr(szSql, "charges ") || strstr(szSql, "parked");
        for (std::vector<double>& row : RowsOf(strDb, szSql)) {
            if (fId)
                row.erase(row.begin());
            rgrowAll.push_back(row);
        }
    }
    return rgrowAll;
}

TEST(OwnerFigures, AVersionOneDatabaseIsUpgradedInPlaceWithEveryFigure)
{
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    std::string strDb = strDir + "/car.db", strOld = strDir + "/old.db";
    RunResult r = RunDb({strDb, set.rgstrPath[0], set.rgstrPath[1], set.rgstrPath[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    std::filesystem::copy_file(strDb, strOld);
    // Version 1 had none of the owner's tables, views and columns.
    sqlite3* pdb = nullptr;
    ASSERT_EQ(sqlite3_open(strOld.c_str(), &pdb), SQLITE_OK);
    char* pszErr = nullptr;
    EXPECT_EQ(sqlite3_exec(pdb,
                           "DROP VIEW years; DROP VIEW months; DROP TABLE imbalance; DROP TABLE charge_curves; "
                           "DROP TABLE parked; DROP TABLE battery_health; DROP TABLE park_bands; "
                           "ALTER TABLE drives DROP COLUMN temp_battery; ALTER TABLE drives DROP COLUMN volts_rest; "
                           "ALTER TABLE drives DROP COLUMN volts_rest_readings; "
                           "ALTER TABLE charges DROP COLUMN temp_battery; "
                           "ALTER TABLE charges DROP COLUMN battery_readings; ALTER TABLE charges DROP COLUMN wh_battery; "
                           "ALTER TABLE charges DROP COLUMN wh_wall_paired; ALTER TABLE charges DROP COLUMN loss_pct; "
                           "PRAGMA user_version = 1; VACUUM",
                           nullptr, nullptr, &pszErr),
              SQLITE_OK)
        << pszErr;
    sqlite3_free(pszErr);
    sqlite3_close(pdb);

    // Read only, it is not changed; adding a download (here one it holds) upgrades it.
    r = RunDb({"--csv", strDir + "/csv", strOld});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is of an older version"), std::string::npos) << r.err;
    EXPECT_EQ(StrQuery(strOld, "PRAGMA user_version"), "1");
    r = RunDb({strOld, set.rgstrPath[1]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("already added"), std::string::npos) << r.err;
    EXPECT_EQ(StrQuery(strOld, "PRAGMA user_version"), "2");
    EXPECT_EQ(StrQuery(strOld, "SELECT count(*) FROM parked") != "0", true);
    // The sessions are walked once over the whole history: the running sums of which their
    // figures are differences may move their last bits.
    ExpectRows(RowsOfOwnerFigures(strOld), RowsOfOwnerFigures(strDb), "upgraded");
    EXPECT_TRUE(JoinedFromDb(strOld) == JoinedFromDb(strDb));
}

}  // namespace
