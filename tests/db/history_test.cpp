// quenfell-db end to end: what a user adds and gets back. The history written back is the join of
// the same downloads byte for byte whatever the order and the runs; its drives and charges are the
// default report's lines; a download added twice, or one whose records are all held, adds nothing
// and says so.
#include <gtest/gtest.h>

#include <set>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "dbtest.h"
#include "testsupport/logbuilder.h"

namespace {

std::string Base(std::string const& strPath)
{
    return strPath.substr(strPath.rfind('/') + 1);
}

struct ORDERCASE {
    char const* szName;
    std::vector<std::vector<int>> rgrgiRun;   // the downloads of each run, by index
};

TEST(History, RebuildEqualsTheJoinWhateverTheOrderAndTheRuns)
{
    CARSET const& set = Downloads();
    ORDERCASE const rgcase[] = {
        {"all in one run", {{0, 1, 2, 3, 4, 5}}},
        {"two runs", {{0, 1, 2}, {3, 4, 5}}},
        {"newest first, one run each", {{5}, {4}, {3}, {2}, {1}, {0}}},
        {"scattered, with one added again", {{2, 4}, {0, 5, 2}, {3, 1}}},
        {"the middle last", {{0, 5}, {1, 4}, {2, 3}}},
        // Twelve days apart their rings do not meet: the older download's records before its own
        // vehicle-info record still go in after the newer one's start, as the join writes them.
        {"a gap between two downloads", {{0}, {3}}},
        {"a gap, the newer first", {{5, 1}}},
    };
    for (ORDERCASE const& c : rgcase) {
        std::string strDb = TempDir() + "/car.db";
        for (std::vector<int> const& rgi : c.rgrgiRun) {
            std::vector<std::string> args{strDb};
            for (int i : rgi)
                args.push_back(set.rgstrPath[(size_t)i]);
            RunResult r = RunDb(args);
            ASSERT_EQ(r.status, 0) << c.szName << ": " << r.err;
            EXPECT_EQ(r.out, "") << c.szName;
        }
        std::set<int> setiDownload;
        for (std::vector<int> const& rgi : c.rgrgiRun)
            setiDownload.insert(rgi.begin(), rgi.end());
        std::vector<std::string> rgstrPath;
        for (int i : setiDownload)
            rgstrPath.push_back(set.rgstrPath[(size_t)i]);
        EXPECT_TRUE(JoinedFromDb(strDb) == (setiDownload.size() == 6 ? set.strJoined : JoinOf(rgstrPath))) << c.szName;
        EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM downloads"), std::to_string(setiDownload.size())) << c.szName;
    }
}

// One line per download: its name, the period it covers, its records new and already held.
TEST(History, EachDownloadSaysWhatItAdded)
{
    CARSET const& set = Downloads();
    std::string strDb = TempDir() + "/car.db";
    std::string strFirst = set.rgstrPath[0], strSecond = set.rgstrPath[1];
    RunResult r = RunDb({strDb, strFirst, strSecond, strFirst});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.err);
    std::string strLine;
    std::getline(lines, strLine);
    long crec = 0, crecNew = 0, crecHeld = 0;
    char szFrom[20], szTo[20];
    std::string strFormat = strFirst + ": %10s %*s to %10s %*s %ld records: %ld new, %ld already held";
    ASSERT_EQ(sscanf(strLine.c_str(), strFormat.c_str(), szFrom, szTo, &crec, &crecNew, &crecHeld), 5) << strLine;
    // The period of its ring from the oldest record, as the join's preview gives it.
    EXPECT_STREQ(szFrom, "01/20/2010");
    EXPECT_STREQ(szTo, "02/01/2010");
    EXPECT_EQ(crecNew, crec);
    EXPECT_EQ(crecHeld, 0);
    std::getline(lines, strLine);
    ASSERT_EQ(sscanf(strLine.c_str(), (strSecond + ": %10s %*s to %10s %*s %ld records: %ld new, %ld already held").c_str(),
                     szFrom, szTo, &crec, &crecNew, &crecHeld), 5) << strLine;
    EXPECT_GT(crecNew, 0);
    EXPECT_GT(crecHeld, 0);
    EXPECT_EQ(crecNew + crecHeld, crec);
    std::getline(lines, strLine);
    char szToday[20];
    time_t now = time(nullptr);
    strftime(szToday, sizeof szToday, "%m/%d/%Y", gmtime(&now));
    std::string strAgain = strFirst + ": already added (as " + Base(strFirst) + " on " + szToday + " ";
    EXPECT_EQ(strLine.substr(0, strAgain.size()), strAgain);
    EXPECT_EQ(strLine.substr(strLine.size() - 16), "): nothing added");
    EXPECT_FALSE(std::getline(lines, strLine)) << r.err;

    // The same records in other bytes (the first download's log without its tar) add nothing.
    std::string strLog = TempDir() + "/vms_log";
    RunResult rTake = RunProgram({PathGenlog(), "--seed", "3", "--days", "40", "--end", "2010-03-01 08:00", "--stop",
                                  "2010-02-01 08:00", "--ring", "1M", "--out", strLog});
    ASSERT_EQ(rTake.status, 0) << rTake.err;
    r = RunDb({strDb, strLog});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(" records: 0 new, "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 14), ": nothing new\n") << r.err;
    EXPECT_EQ(StrQuery(strDb, "SELECT records_new FROM downloads ORDER BY id DESC LIMIT 1"), "0");
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM downloads"), "3");
}

// The database's drives and charges printed as the default report prints them (tab layout) are
// the report's lines over the joined log, one for one.
std::string StrDate(long long timestamp)
{
    time_t t = (time_t)timestamp;
    char sz[24];
    strftime(sz, sizeof sz, "%m/%d/%Y %H:%M:%S", gmtime(&t));
    return sz;
}

std::string StrDuration(long long sec)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%02lld:%02lld:%02lld", sec / 3600, sec / 60 % 60, sec % 60);
    return sz;
}

std::string StrF(char const* szFormat, double d)
{
    char sz[64];
    snprintf(sz, sizeof sz, szFormat, d);
    return sz;
}

struct ROW {
    long long timestampStart;
    std::string strLine;
};

// The fields with a tab between each two, as the report's tab layout writes them.
std::string StrTabbed(std::vector<std::string> const& rgstr)
{
    std::string str;
    for (size_t i = 0; i < rgstr.size(); i++) {
        if (i > 0)
            str += '\t';
        str += rgstr[i];
    }
    return str;
}

std::vector<ROW> RowsOf(std::string const& strDb)
{
    std::vector<ROW> rgrow;
    sqlite3* pdb = nullptr;
    EXPECT_EQ(sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* pstmt = nullptr;
    auto soc = [&](int i) {
        return std::to_string(sqlite3_column_type(pstmt, i) == SQLITE_NULL ? -1 : sqlite3_column_int(pstmt, i)) + "%";
    };
    auto d = [&](int i) { return sqlite3_column_double(pstmt, i); };
    auto fNull = [&](int i) { return sqlite3_column_type(pstmt, i) == SQLITE_NULL; };
    auto start = [&](char const* szAction) {
        return std::vector<std::string>{StrDate(sqlite3_column_int64(pstmt, 0)), StrDate(sqlite3_column_int64(pstmt, 1)),
                                        StrDuration(sqlite3_column_int64(pstmt, 2)), szAction, soc(3), soc(4)};
    };
    sqlite3_prepare_v2(pdb,
                       "SELECT time_start, time_end, duration, soc_start, soc_end, miles, mph_average, mph_max, "
                       "odometer, wh, ah_in, ah_out, tc_off FROM drives ORDER BY time_start",
                       -1, &pstmt, nullptr);
    while (sqlite3_step(pstmt) == SQLITE_ROW) {
        std::vector<std::string> rgstr = start("Drive");
        for (std::string const& str : {StrF("%.1f", d(5)), StrF("%.1f", d(6)), StrF("%.1f", d(7)),
                                       fNull(8) ? std::string() : StrF("%.1f", d(8)), std::string(), std::string(),
                                       std::string(), StrF("%.1f", d(9) / 1000), StrF("%.1f", d(10)),
                                       StrF("%.1f", d(11)), d(5) >= 1.0 ? StrF("%4.0f", d(9) / d(5)) : std::string()})
            rgstr.push_back(str);
        int secTCOff = sqlite3_column_int(pstmt, 12);
        if (secTCOff > 0) {
            int n = secTCOff < 120 ? secTCOff : secTCOff < 7200 ? secTCOff / 60 : secTCOff / 3600;
            rgstr.push_back("");
            rgstr.push_back("TC off for " + std::to_string(n) +
                            (secTCOff < 120 ? " seconds" : secTCOff < 7200 ? " minutes" : " hours"));
        }
        rgrow.push_back(ROW{sqlite3_column_int64(pstmt, 0), StrTabbed(rgstr)});
    }
    sqlite3_finalize(pstmt);
    sqlite3_prepare_v2(pdb,
                       "SELECT time_start, time_end, duration, soc_start, soc_end, volts_line, amps_max, amps_available, "
                       "wh, ah_in, ah_out, wall_to_wheel, miles_since_charge FROM charges ORDER BY time_start",
                       -1, &pstmt, nullptr);
    while (sqlite3_step(pstmt) == SQLITE_ROW) {
        std::vector<std::string> rgstr = start("Charge");
        for (int i = 0; i < 4; i++)
            rgstr.push_back("");
        rgstr.push_back(fNull(5) ? std::string() : StrF("%.0f", d(5)));
        rgstr.push_back(fNull(6) ? std::string() : StrF("%.0f", d(6)));
        rgstr.push_back(fNull(6) || fNull(7) ? std::string() : std::to_string(sqlite3_column_int(pstmt, 7)));
        if (d(8) != 0)
            rgstr.push_back(StrF("%.2f", d(8) / 1000));
        rgstr.push_back(StrF("%.1f", d(9)));
        rgstr.push_back(StrF("%.1f", d(10)));
        if (d(8) != 0) {
            rgstr.push_back("");
            rgstr.push_back(sqlite3_column_int(pstmt, 11) ? StrF("%.0f", d(8) / d(12)) : std::string());
        }
        rgrow.push_back(ROW{sqlite3_column_int64(pstmt, 0), StrTabbed(rgstr)});
    }
    sqlite3_finalize(pstmt);
    sqlite3_close(pdb);
    std::stable_sort(rgrow.begin(), rgrow.end(),
                     [](ROW const& a, ROW const& b) { return a.timestampStart < b.timestampStart; });
    return rgrow;
}

TEST(History, DrivesAndChargesAreTheReportsLinesOfTheJoinedLog)
{
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    std::string strJoined = strDir + "/joined.log";
    WriteText(strJoined, set.strJoined);
    RunResult rReport = RunQuenfell({"-t", strJoined});
    ASSERT_EQ(rReport.status, 0) << rReport.err;
    std::vector<std::string> rgstrReport;
    std::istringstream lines(rReport.out);
    std::string strLine;
    while (std::getline(lines, strLine)) {
        if (strLine.find("\tDrive\t") != std::string::npos || strLine.find("\tCharge\t") != std::string::npos)
            rgstrReport.push_back(strLine);
    }
    ASSERT_GT(rgstrReport.size(), 20u);

    // Built in several runs, out of order: the drives and charges are recomputed from where the
    // new records start, not over the whole history each time.
    std::string strDb = strDir + "/car.db";
    for (std::vector<int> const& rgi : {std::vector<int>{1, 2}, {0}, {3}, {5, 4}}) {
        std::vector<std::string> args{strDb};
        for (int i : rgi)
            args.push_back(set.rgstrPath[(size_t)i]);
        RunResult r = RunDb(args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::vector<ROW> rgrow = RowsOf(strDb);
    ASSERT_EQ(rgrow.size(), rgstrReport.size());
    for (size_t i = 0; i < rgrow.size(); i++)
        EXPECT_EQ(rgrow[i].strLine, rgstrReport[i]) << "line " << i;
}

// ---- The other tables --------------------------------------------------------------------------

TEST(History, DecodedTablesHoldTheRecordsOfTheHistory)
{
    CARSET const& set = Downloads();
    std::string strDb = TempDir() + "/car.db";
    std::vector<std::string> args{strDb};
    args.insert(args.end(), set.rgstrPath.begin(), set.rgstrPath.end());
    RunResult r = RunDb(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // Every transient record once: the runs count what the joined log holds, and more only before
    // its first vehicle-info record.
    long long crecRuns = std::stoll(StrQuery(strDb, "SELECT sum(count) FROM records WHERE part = 2"));
    long crecJoined = 0;
    for (size_t ib = 0; ib + 2 <= set.strJoined.size(); ib += (unsigned char)set.strJoined[ib + 2] + 2)
        crecJoined++;
    // What lies before it: the oldest download's records before its own vehicle-info record in the
    // ring, which the join leaves out when that download is alone.
    std::string strDbOldest = TempDir() + "/oldest.db";
    ASSERT_EQ(RunDb({strDbOldest, set.rgstrPath[0]}).status, 0);
    long long crecOldest = std::stoll(StrQuery(strDbOldest, "SELECT sum(count) FROM records WHERE part = 2"));
    std::string strJoinedOldest = JoinOf({set.rgstrPath[0]});
    long crecJoinedOldest = 0;
    for (size_t ib = 0; ib + 2 <= strJoinedOldest.size(); ib += (unsigned char)strJoinedOldest[ib + 2] + 2)
        crecJoinedOldest++;
    EXPECT_GT(crecOldest, crecJoinedOldest);
    EXPECT_EQ(crecRuns, crecJoined + (crecOldest - crecJoinedOldest));
    // A second of driving, a minute of charging, an hour standing, a day's figures, each as the
    // listing of the joined log gives them.
    EXPECT_NE(StrQuery(strDb, "SELECT count(*) FROM drive_points WHERE mph > 0"), "0");
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM drive_points WHERE mph < 0 OR mph > 120"), "0");
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM charge_points WHERE soc > 100"), "0");
    EXPECT_NE(StrQuery(strDb, "SELECT count(*) FROM charge_points WHERE volts_line > 200"), "0");
    EXPECT_NE(StrQuery(strDb, "SELECT count(*) FROM idle"), "0");
    EXPECT_NE(StrQuery(strDb, "SELECT count(*) FROM days WHERE cac > 100 AND firmware = '4.1.1 3'"), "0");
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM days WHERE firmware IS NULL"), "0");
    EXPECT_EQ(StrQuery(strDb, "SELECT firmware FROM events WHERE kind = 'firmware' ORDER BY ts LIMIT 1"), "4.1.1 3");
    EXPECT_NE(StrQuery(strDb, "SELECT count(*) FROM events WHERE kind = 'tyres' AND psi_1 > 20"), "0");
    // Each drive's seconds are its points.
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM drives WHERE (SELECT count(*) FROM drive_points WHERE ts BETWEEN "
                              "time_start AND time_end AND mph IS NOT NULL) < duration / 2"),
              "0");
    EXPECT_EQ(StrQuery(strDb, "PRAGMA integrity_check"), "ok");
}

}  // namespace
