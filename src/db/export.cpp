// The joined log and the CSV files, written from the tables.
#include "db/export.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>
#include <sys/stat.h>

#include "db/ingest.h"
#include "db/sql.h"
#include "db/store.h"
#include "support/civil.h"
#include "support/outfile.h"
#include "support/timecal.h"

namespace {

constexpr int partTransient = sectTransient;

bool FSameFile(char const* pszA, char const* pszB)
{
    struct stat stA, stB;
    return stat(pszA, &stA) == 0 && stat(pszB, &stB) == 0 && stA.st_dev == stB.st_dev && stA.st_ino == stB.st_ino;
}

bool FCommit(OUTFILE* pout, char const* pszPath, std::string* pstrErr)
{
    int err = ErrCommitOutFile(pout);
    if (err != 0) {
        *pstrErr = std::string("can't write '") + pszPath + "': " + (err > 0 ? strerror(err) : "write error");
        return false;
    }
    return true;
}

bool FOpenOut(OUTFILE* pout, char const* pszPath, std::string* pstrErr)
{
    int err = ErrOpenOutFile(pout, pszPath);
    if (err != 0) {
        *pstrErr = std::string("can't open '") + pszPath + "' for writing: " + strerror(err);
        return false;
    }
    return true;
}

// ---- CSV ------------------------------------------------------------------------------------

struct TABLESPEC {
    char const* szFile;
    char const* szSql;
};

// Every table in its own order; the points of drives in the view's units.
TABLESPEC const s_rgtable[] = {
    {"downloads", "SELECT * FROM downloads ORDER BY id"},
    {"records", "SELECT id, part, bucket, time_first, time_last, count, digest, lower(hex(bytes)) AS bytes "
                "FROM records ORDER BY id"},
    {"drives", "SELECT * FROM drives ORDER BY time_start, id"},
    {"charges", "SELECT * FROM charges ORDER BY time_start, id"},
    {"drive_points", "SELECT * FROM drive_points ORDER BY ts"},
    {"charge_points", "SELECT * FROM charge_points ORDER BY ts"},
    {"idle", "SELECT * FROM idle ORDER BY ts"},
    {"days", "SELECT * FROM days ORDER BY ts"},
    {"events", "SELECT * FROM events ORDER BY ts, id"},
    {"charge_curves", "SELECT * FROM charge_curves ORDER BY time_start, rowid"},
    {"parked", "SELECT * FROM parked ORDER BY time_start"},
    {"battery_health", "SELECT * FROM battery_health"},
    {"park_bands", "SELECT * FROM park_bands ORDER BY soc_band, temp_band"},
    {"imbalance", "SELECT * FROM imbalance ORDER BY day"},
    {"months", "SELECT * FROM months"},
    {"years", "SELECT * FROM years"},
};

// With a price: each charge's cost, and the cost of each month and year in the same calendar as
// the views (the reader's zone).
TABLESPEC const s_rgtablePriced[] = {
    {"charge_costs", "SELECT * FROM temp.charge_costs ORDER BY time_start, charge"},
    {"months", "SELECT m.*, coalesce(c.cost, 0) AS cost FROM months m LEFT JOIN ("
               "SELECT CAST(strftime('%Y', time_start, 'unixepoch', 'localtime') AS INTEGER) AS year, "
               "CAST(strftime('%m', time_start, 'unixepoch', 'localtime') AS INTEGER) AS month, total(cost) AS cost "
               "FROM temp.charge_costs GROUP BY year, month) c USING (year, month) ORDER BY year, month"},
    {"years", "SELECT y.*, coalesce(c.cost, 0) AS cost FROM years y LEFT JOIN ("
              "SELECT CAST(strftime('%Y', time_start, 'unixepoch', 'localtime') AS INTEGER) AS year, total(cost) AS cost "
              "FROM temp.charge_costs GROUP BY year) c USING (year) ORDER BY year"},
};

// Each charge's cost under the price, from the line power of its records (charge_points), into
// temp.charge_costs for the files above.
bool FPriceCharges(sqlite3* pdb, PRICE const* pprice, std::string* pstrErr)
{
    STMT stmtCharges, stmtPoints, stmtCost;
    if (!FExec(pdb,
               "CREATE TEMP TABLE charge_costs (charge INTEGER NOT NULL, time_start INTEGER NOT NULL, cost REAL NOT NULL, "
               "kwh_off_peak REAL NOT NULL, price_average REAL NOT NULL)",
               pstrErr) ||
        !FPrepare(pdb, "SELECT id, time_start, time_end, wh FROM charges ORDER BY time_start, id", &stmtCharges, pstrErr) ||
        !FPrepare(pdb,
                  "SELECT ts, volts_line, amps_charge FROM charge_points WHERE ts BETWEEN ? AND ? AND volts_line IS NOT "
                  "NULL AND amps_charge IS NOT NULL ORDER BY ts",
                  &stmtPoints, pstrErr) ||
        !FPrepare(pdb, "INSERT INTO temp.charge_costs VALUES (?, ?, ?, ?, ?)", &stmtCost, pstrErr))
        return false;
    std::vector<LINEPOWER> rglp;
    int rc;
    while ((rc = sqlite3_step(stmtCharges.pstmt)) == SQLITE_ROW) {
        sqlite3_stmt* pstmt = stmtCharges.pstmt;
        rglp.clear();
        sqlite3_reset(stmtPoints.pstmt);
        BindInt64(&stmtPoints, 1, sqlite3_column_int64(pstmt, 1));
        BindInt64(&stmtPoints, 2, sqlite3_column_int64(pstmt, 2));
        int rcPoint;
        while ((rcPoint = sqlite3_step(stmtPoints.pstmt)) == SQLITE_ROW) {
            // The record's line power as the charge record gives it (FLinePowerOfRecord's rule).
            double const volts = sqlite3_column_double(stmtPoints.pstmt, 1);
            double const amps = sqlite3_column_double(stmtPoints.pstmt, 2);
            rglp.push_back(LINEPOWER{(uint32_t)sqlite3_column_int64(stmtPoints.pstmt, 0), (float)(volts * amps / 1000)});
        }
        if (rcPoint != SQLITE_DONE) {
            *pstrErr = StrSqlError(pdb, rcPoint, "can't read the charge points");
            return false;
        }
        CHARGECOST const cc = CostOfChargePower(pprice, sqlite3_column_double(pstmt, 3) / 1000, rglp);
        BindInt64(&stmtCost, 1, sqlite3_column_int64(pstmt, 0));
        BindInt64(&stmtCost, 2, sqlite3_column_int64(pstmt, 1));
        BindDouble(&stmtCost, 3, cc.cost);
        BindDouble(&stmtCost, 4, cc.kwhOffPeak);
        BindDouble(&stmtCost, 5, cc.priceAverage);
        if (!FStepDone(pdb, &stmtCost, "can't price the charges", pstrErr))
            return false;
    }
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the charges");
        return false;
    }
    return true;
}

// The columns that hold a time in UTC seconds.
bool FTimeColumn(char const* szName)
{
    static char const* const s_rgszTime[] = {"ts", "time_start", "time_end", "time_first", "time_last", "added"};
    for (char const* sz : s_rgszTime) {
        if (strcmp(sz, szName) == 0)
            return true;
    }
    return false;
}

void AppendValue(sqlite3_stmt* pstmt, int icol, std::string* pstrLine)
{
    switch (sqlite3_column_type(pstmt, icol)) {
    case SQLITE_NULL:
        break;
    case SQLITE_INTEGER:
        *pstrLine += std::to_string((long long)sqlite3_column_int64(pstmt, icol));
        break;
    case SQLITE_FLOAT: {
        char rgch[32];
        auto res = std::to_chars(rgch, rgch + sizeof rgch, sqlite3_column_double(pstmt, icol));
        pstrLine->append(rgch, res.ptr);
        break;
    }
    default: {
        char const* pch = (char const*)sqlite3_column_text(pstmt, icol);
        *pstrLine += StrCsvField(pch ? std::string(pch, (size_t)sqlite3_column_bytes(pstmt, icol)) : std::string());
        break;
    }
    }
}

bool FWriteTable(sqlite3* pdb, TABLESPEC const& table, std::string const& strDir, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, table.szSql, &stmt, pstrErr))
        return false;
    std::string strPath = strDir + "/" + table.szFile + ".csv";
    OUTFILE out;
    if (!FOpenOut(&out, strPath.c_str(), pstrErr))
        return false;
    int ccol = sqlite3_column_count(stmt.pstmt);
    std::string strLine;
    for (int icol = 0; icol < ccol; icol++) {
        char const* szName = sqlite3_column_name(stmt.pstmt, icol);
        strLine += icol > 0 ? "," : "";
        strLine += StrCsvField(szName);
        if (FTimeColumn(szName)) {
            strLine += ',';
            strLine += StrCsvField(std::string(szName) + "_unix");
        }
    }
    strLine += "\r\n";
    WriteOutFile(&out, strLine.data(), strLine.size());
    int rc;
    while ((rc = sqlite3_step(stmt.pstmt)) == SQLITE_ROW) {
        strLine.clear();
        for (int icol = 0; icol < ccol; icol++) {
            if (icol > 0)
                strLine += ',';
            if (FTimeColumn(sqlite3_column_name(stmt.pstmt, icol))) {
                bool fNull = sqlite3_column_type(stmt.pstmt, icol) == SQLITE_NULL;
                if (!fNull)
                    strLine += StrIsoDate(sqlite3_column_int64(stmt.pstmt, icol));
                strLine += ',';
            }
            AppendValue(stmt.pstmt, icol, &strLine);
        }
        strLine += "\r\n";
        WriteOutFile(&out, strLine.data(), strLine.size());
    }
    if (rc != SQLITE_DONE) {
        AbandonOutFile(&out);
        *pstrErr = StrSqlError(pdb, rc, (std::string("can't read table ") + table.szFile).c_str());
        return false;
    }
    return FCommit(&out, strPath.c_str(), pstrErr);
}

// Length of the UTF-8 sequence at pb (cb bytes left), or 0 when it is not one.
size_t CbUtf8Sequence(unsigned char const* pb, size_t cb)
{
    unsigned char b = pb[0];
    size_t cbSeq = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (cbSeq == 0 || cbSeq > cb || (cbSeq == 2 && b < 0xC2) || (cbSeq == 4 && b > 0xF4))
        return 0;
    for (size_t i = 1; i < cbSeq; i++) {
        if ((pb[i] & 0xC0) != 0x80)
            return 0;
    }
    if (cbSeq == 3 && ((b == 0xE0 && pb[1] < 0xA0) || (b == 0xED && pb[1] >= 0xA0)))
        return 0;
    if (cbSeq == 4 && ((b == 0xF0 && pb[1] < 0x90) || (b == 0xF4 && pb[1] >= 0x90)))
        return 0;
    return cbSeq;
}

// ---- The joined log -------------------------------------------------------------------------

// Where the joined history's bytes go, in order: a file, or memory.
typedef void (*PFNBYTES)(void* pv, uint8_t const* pb, size_t cb);

void WriteBytesOut(void* pv, uint8_t const* pb, size_t cb)
{
    WriteOutFile((OUTFILE*)pv, pb, cb);
}

void AppendBytes(void* pv, uint8_t const* pb, size_t cb)
{
    std::vector<uint8_t>* prgb = (std::vector<uint8_t>*)pv;
    prgb->insert(prgb->end(), pb, pb + cb);
}

bool FWalkTransient(sqlite3* pdb, PFNBYTES pfnBytes, void* pvBytes, long* pcrec, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, "SELECT count, bytes FROM records WHERE id BETWEEN ? AND ? ORDER BY id", &stmt, pstrErr))
        return false;
    BindInt64(&stmt, 1, IdRun(partTransient, 0));
    BindInt64(&stmt, 2, IdRun(partTransient, (uint32_t)(cbucketPart - 1)));
    // The joined log starts at the first vehicle-info record: the join writes nothing before it.
    bool fStarted = false;
    int rc;
    while ((rc = sqlite3_step(stmt.pstmt)) == SQLITE_ROW) {
        uint8_t const* pb = (uint8_t const*)sqlite3_column_blob(stmt.pstmt, 1);
        size_t cb = (size_t)sqlite3_column_bytes(stmt.pstmt, 1);
        if (fStarted) {
            pfnBytes(pvBytes, pb, cb);
            *pcrec += (long)sqlite3_column_int64(stmt.pstmt, 0);
            continue;
        }
        RECORDS recs;
        AppendRecords(&recs, pb, cb);
        for (size_t irec = 0; irec < recs.rgrec.size(); irec++) {
            if (recs.rgrec[irec].rt != rtVINF)
                continue;
            fStarted = true;
            pfnBytes(pvBytes, PbRecord(recs, irec), recs.rgb.size() - recs.rgrec[irec].ib);
            *pcrec += (long)(recs.rgrec.size() - irec);
            break;
        }
    }
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the held records");
        return false;
    }
    return true;
}

bool FAppendRun(void* pv, uint32_t, uint8_t const* pb, size_t cb)
{
    AppendBytes(pv, pb, cb);
    return true;
}

}  // namespace

bool FReadHistoryLogs(HISTDB* phdb, HISTORYLOGS* plogs, std::string* pstrErr)
{
    // One read transaction: both logs and the count show the same history.
    if (!FExec(phdb->pdb, "BEGIN", pstrErr))
        return false;
    bool fOk = FWalkTransient(phdb->pdb, AppendBytes, &plogs->rgbJoined, &plogs->crecJoined, pstrErr) &&
               FReadRuns(phdb->pdb, sectLongTerm, 0, FAppendRun, &plogs->rgbLongTerm, pstrErr);
    if (fOk) {
        STMT stmt;
        fOk = FPrepare(phdb->pdb, "SELECT count(*) FROM downloads", &stmt, pstrErr);
        if (fOk && sqlite3_step(stmt.pstmt) == SQLITE_ROW)
            plogs->cdownload = (int)sqlite3_column_int(stmt.pstmt, 0);
    }
    sqlite3_exec(phdb->pdb, fOk ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return fOk;
}

std::string StrIsoDate(long long timestamp)
{
    if (timestamp <= (long long)timestampEpoch2001 || timestamp >= 0x80000000LL)
        return "";
    char szDate[20];
    DateFromTimestamp((unsigned int)timestamp, szDate, sizeof szDate);
    int month, day, year, hour, minute, second;
    if (sscanf(szDate, "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second) != 6)
        return "";
    long long timestampLocal = DaysFromCivil(year, month, day) * 86400LL + hour * 3600 + minute * 60 + second;
    long long secOffset = timestampLocal - timestamp;
    char chSign = secOffset < 0 ? '-' : '+';
    long long secAbs = secOffset < 0 ? -secOffset : secOffset;
    char sz[40];
    snprintf(sz, sizeof sz, "%04d-%02d-%02dT%02d:%02d:%02d%c%02lld:%02lld", year, month, day, hour, minute, second,
             chSign, secAbs / 3600, secAbs / 60 % 60);
    return sz;
}

std::string StrCsvField(std::string const& str)
{
    std::string strOut;
    bool fQuote = false;
    unsigned char const* pb = (unsigned char const*)str.data();
    size_t cb = str.size();
    for (size_t ib = 0; ib < cb;) {
        size_t cbSeq = CbUtf8Sequence(pb + ib, cb - ib);
        if (cbSeq == 0) {
            strOut += "\xEF\xBF\xBD";
            ib++;
            continue;
        }
        char ch = (char)pb[ib];
        if (ch == ',' || ch == '"' || ch == '\r' || ch == '\n')
            fQuote = true;
        if (ch == '"')
            strOut += '"';
        strOut.append((char const*)pb + ib, cbSeq);
        ib += cbSeq;
    }
    if (!fQuote)
        return strOut;
    std::string strQuoted;
    strQuoted.reserve(strOut.size() + 2);
    strQuoted += '"';
    strQuoted += strOut;
    strQuoted += '"';
    return strQuoted;
}

bool FWriteJoinedLog(HISTDB* phdb, char const* pszOutput, long* pcrec, std::string* pstrErr)
{
    *pcrec = 0;
    if (FSameFile(pszOutput, phdb->strPath.c_str())) {
        *pstrErr = std::string("the joined log '") + pszOutput + "' would take the place of the database";
        return false;
    }
    OUTFILE out;
    if (!FOpenOut(&out, pszOutput, pstrErr))
        return false;
    if (!FWalkTransient(phdb->pdb, WriteBytesOut, &out, pcrec, pstrErr)) {
        AbandonOutFile(&out);
        return false;
    }
    return FCommit(&out, pszOutput, pstrErr);
}

bool FWriteCsvFiles(HISTDB* phdb, char const* pszDir, PRICE const* pprice, int* pcfile, std::string* pstrErr)
{
    *pcfile = 0;
    struct stat st;
    if (stat(pszDir, &st) != 0) {
        if (errno != ENOENT || mkdir(pszDir, 0777) != 0) {
            *pstrErr = std::string("can't make the folder '") + pszDir + "': " + strerror(errno);
            return false;
        }
    } else if (!S_ISDIR(st.st_mode)) {
        *pstrErr = std::string("'") + pszDir + "' is not a folder";
        return false;
    }
    // One read transaction: every file shows the same history, whatever another run adds meanwhile.
    if (!FExec(phdb->pdb, "BEGIN", pstrErr))
        return false;
    bool const fPriced = pprice->fGiven;
    if (fPriced && !FPriceCharges(phdb->pdb, pprice, pstrErr)) {
        sqlite3_exec(phdb->pdb, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    auto write = [&](TABLESPEC const& table) {
        if (!FWriteTable(phdb->pdb, table, pszDir, pstrErr)) {
            sqlite3_exec(phdb->pdb, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
        (*pcfile)++;
        return true;
    };
    for (TABLESPEC const& table : s_rgtable) {
        TABLESPEC const* ptable = &table;
        for (TABLESPEC const& tablePriced : s_rgtablePriced) {
            if (fPriced && strcmp(tablePriced.szFile, table.szFile) == 0)
                ptable = &tablePriced;
        }
        if (!write(*ptable))
            return false;
    }
    if (fPriced && !write(s_rgtablePriced[0]))
        return false;
    return FExec(phdb->pdb, "COMMIT", pstrErr);
}
