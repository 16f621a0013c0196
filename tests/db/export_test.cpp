// What leaves the database as CSV: RFC 4180 fields, ISO 8601 dates in the display zone, and every
// table read back by a CSV parser with the same rows the tables hold. And the schema's upgrade
// steps, run in one transaction.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "db/export.h"
#include "db/schema.h"
#include "dbtest.h"
#include "support/timecal.h"
#include "testsupport/logbuilder.h"

namespace {

TEST(Csv, FieldsAreQuotedAsRfc4180Asks)
{
    struct CASE {
        std::string strIn, strOut;
    };
    CASE const rgcase[] = {
        {"", ""},
        {"plain text", "plain text"},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"caf\xC3\xA9", "caf\xC3\xA9"},                      // UTF-8 stays
        {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},          // a byte that is no UTF-8 becomes U+FFFD
        {"cut \xE2\x82", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},     // so does each byte of a cut sequence
        {"overlong \xC0\x80", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (CASE const& c : rgcase)
        EXPECT_EQ(StrCsvField(c.strIn), c.strOut) << c.strIn;
}

TEST(Csv, DatesAreIso8601InTheDisplayZone)
{
    struct CASE {
        char const* szZone;
        long long timestamp;
        char const* szIso;
    };
    CASE const rgcase[] = {
        {"UTC", 1262791615, "2010-01-06T15:26:55+00:00"},
        {"America/Los_Angeles", 1262791615, "2010-01-06T07:26:55-08:00"},
        {"America/Los_Angeles", 1276000000, "2010-06-08T05:26:40-07:00"},
        // The hour before and the first second after the spring change.
        {"America/Los_Angeles", 1268557200, "2010-03-14T01:00:00-08:00"},
        {"America/Los_Angeles", 1268560800, "2010-03-14T03:00:00-07:00"},
        {"Asia/Kolkata", 1262791615, "2010-01-06T20:56:55+05:30"},
        {"UTC", 978307200, ""},   // 2001-01-01 00:00:00 and before: no date
        {"UTC", 0, ""},
    };
    for (CASE const& c : rgcase) {
        ASSERT_TRUE(FSetZones(c.szZone)) << c.szZone;
        EXPECT_EQ(StrIsoDate(c.timestamp), c.szIso) << c.szZone << " " << c.timestamp;
    }
    FSetZones("UTC");
}

// "2010-01-06T07:26:55-08:00" as UTC seconds.
long long TimestampOfIso(std::string const& str)
{
    int y, mo, d, h, mi, s, oh, om;
    char chSign;
    if (sscanf(str.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &y, &mo, &d, &h, &mi, &s, &chSign, &oh, &om) != 9)
        return -1;
    struct tm tm = {};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    long long secOffset = (oh * 3600 + om * 60) * (chSign == '-' ? -1 : 1);
    return (long long)timegm(&tm) - secOffset;
}

std::vector<std::string> ColumnsOf(std::string const& strDb, std::string const& strTable)
{
    std::vector<std::string> rgstr;
    sqlite3* pdb = nullptr;
    sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* pstmt = nullptr;
    sqlite3_prepare_v2(pdb, ("SELECT * FROM " + strTable).c_str(), -1, &pstmt, nullptr);
    for (int i = 0; i < sqlite3_column_count(pstmt); i++)
        rgstr.push_back(sqlite3_column_name(pstmt, i));
    sqlite3_finalize(pstmt);
    sqlite3_close(pdb);
    return rgstr;
}

TEST(Csv, EveryTableReadsBackWithACsvParser)
{
    // The months and years are views in the reader's calendar: this process reads them as
    // quenfell-db does, in UTC.
    setenv("TZ", "UTC", 1);
    tzset();
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    // A name with a comma and a quote in it, which its field must carry through.
    std::string strOdd = strDir + "/the \"first\", again.log";
    std::filesystem::copy_file(set.rgstrPath[1], strOdd);
    std::string strDb = strDir + "/car.db";
    RunResult r = RunDb({strDb, set.rgstrPath[0], strOdd, set.rgstrPath[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string strCsv = strDir + "/csv";
    r = RunDb({"-z", "America/Los_Angeles", "--csv", strCsv, strDb});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "16 CSV files written to " + strCsv + "\n");
    // Without a price, no cost anywhere.
    EXPECT_FALSE(std::filesystem::exists(strCsv + "/charge_costs.csv"));

    for (char const* szTable : {"downloads", "records", "drives", "charges", "drive_points", "charge_points", "idle",
                                "days", "events", "charge_curves", "parked", "battery_health", "park_bands",
                                "imbalance", "months", "years"}) {
        bool fWellFormed = false;
        std::vector<std::vector<std::string>> rgrow =
            RowsOfCsv(ReadText(strCsv + "/" + szTable + ".csv"), &fWellFormed);
        EXPECT_TRUE(fWellFormed) << szTable;
        ASSERT_FALSE(rgrow.empty()) << szTable;
        std::vector<std::string> rgstrHeader;
        std::vector<int> rgicolTime;
        for (std::string const& strColumn : ColumnsOf(strDb, szTable)) {
            rgstrHeader.push_back(strColumn);
            bool fTime = strColumn == "ts" || strColumn.rfind("time_", 0) == 0 || strColumn == "added";
            if (fTime) {
                rgicolTime.push_back((int)rgstrHeader.size() - 1);
                rgstrHeader.push_back(strColumn + "_unix");
            }
        }
        EXPECT_EQ(rgrow[0], rgstrHeader) << szTable;
        EXPECT_EQ(std::to_string(rgrow.size() - 1), StrQuery(strDb, std::string("SELECT count(*) FROM ") + szTable))
            << szTable;
        for (size_t irow = 1; irow < rgrow.size(); irow++) {
            ASSERT_EQ(rgrow[irow].size(), rgstrHeader.size()) << szTable << " row " << irow;
            for (int icol : rgicolTime) {
                std::string const& strIso = rgrow[irow][(size_t)icol];
                std::string const& strUnix = rgrow[irow][(size_t)icol + 1];
                if (strUnix.empty())
                    continue;
                EXPECT_EQ(TimestampOfIso(strIso), std::stoll(strUnix)) << szTable << " " << strIso;
                EXPECT_TRUE(strIso.size() == 25 && (strIso.substr(19) == "-08:00" || strIso.substr(19) == "-07:00"))
                    << strIso;
            }
        }
    }
    bool fWellFormed = false;
    std::vector<std::vector<std::string>> rgrow = RowsOfCsv(ReadText(strCsv + "/downloads.csv"), &fWellFormed);
    ASSERT_EQ(rgrow.size(), 4u);
    EXPECT_EQ(rgrow[2][1], "the \"first\", again.log");
    // A figure comes back as the double the table holds.
    rgrow = RowsOfCsv(ReadText(strCsv + "/drives.csv"), &fWellFormed);
    ASSERT_GT(rgrow.size(), 1u);
    EXPECT_EQ(rgrow[0][8], "miles");
    sqlite3* pdb = nullptr;
    sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* pstmt = nullptr;
    sqlite3_prepare_v2(pdb, "SELECT miles FROM drives ORDER BY time_start, id LIMIT 1", -1, &pstmt, nullptr);
    ASSERT_EQ(sqlite3_step(pstmt), SQLITE_ROW);
    EXPECT_EQ(std::strtod(rgrow[1][8].c_str(), nullptr), sqlite3_column_double(pstmt, 0));
    sqlite3_finalize(pstmt);
    sqlite3_close(pdb);
}

// ---- The schema's upgrade steps ----------------------------------------------------------------

std::string StrOf(sqlite3* pdb, char const* szSql)
{
    sqlite3_stmt* pstmt = nullptr;
    std::string str;
    if (sqlite3_prepare_v2(pdb, szSql, -1, &pstmt, nullptr) == SQLITE_OK && sqlite3_step(pstmt) == SQLITE_ROW &&
        sqlite3_column_text(pstmt, 0))
        str = (char const*)sqlite3_column_text(pstmt, 0);
    sqlite3_finalize(pstmt);
    return str;
}

TEST(Schema, UpgradeStepsRunFromTheFilesVersionInOneTransaction)
{
    UPGRADESTEP const rgstep[] = {
        {"CREATE TABLE t2 (x INTEGER)"},
        {"INSERT INTO t2 VALUES (3)"},
        {"ALTER TABLE t2 ADD COLUMN y INTEGER"},
    };
    struct CASE {
        int versFrom;
        int cstep;
        bool fOk;
        char const* szVersion;
        char const* szTables;   // what t2 holds after, or "" when there is no t2
    };
    CASE const rgcase[] = {
        {1, 3, true, "4", "1"},    // every step
        {2, 3, false, "2", ""},    // from 2, the first step is not run: its table is missing, nothing changes
        {4, 3, true, "4", ""},     // up to date: no step
        {1, 1, true, "2", "0"},    // one step only
    };
    for (CASE const& c : rgcase) {
        std::string strDb = TempDir() + "/up.db";
        sqlite3* pdb = nullptr;
        ASSERT_EQ(sqlite3_open(strDb.c_str(), &pdb), SQLITE_OK);
        sqlite3_exec(pdb, ("PRAGMA user_version = " + std::to_string(c.versFrom)).c_str(), nullptr, nullptr, nullptr);
        std::string strErr;
        EXPECT_EQ(_FUpgradeSchema(pdb, rgstep, c.cstep, &strErr), c.fOk) << c.versFrom << " " << strErr;
        EXPECT_EQ(StrOf(pdb, "PRAGMA user_version"), c.szVersion) << c.versFrom;
        EXPECT_EQ(StrOf(pdb, "SELECT count(*) FROM sqlite_master WHERE name = 't2'") == "1" ? StrOf(pdb, "SELECT count(*) FROM t2") : "",
                  c.szTables)
            << c.versFrom;
        EXPECT_EQ(sqlite3_get_autocommit(pdb), 1) << "a transaction was left open";
        sqlite3_close(pdb);
    }
}

}  // namespace
