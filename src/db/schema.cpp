// The history database's file and tables. A file is looked at before SQLite may change it: only
// an empty file, or an SQLite file carrying our application id at a version this build knows, is
// ever opened for writing.
#include "db/schema.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "db/derive.h"
#include "db/sql.h"

namespace {

// Version 1. The column by column description is docs/database.md; keep the two together.
char const s_szSchema[] = R"sql(
CREATE TABLE downloads (
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    sha256 TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    vin TEXT,
    vehicle_type INTEGER,
    time_first INTEGER,
    time_last INTEGER,
    records INTEGER NOT NULL,
    records_new INTEGER NOT NULL,
    records_held INTEGER NOT NULL,
    records_skipped INTEGER NOT NULL,
    added INTEGER NOT NULL
);
CREATE TABLE records (
    id INTEGER PRIMARY KEY,
    part INTEGER NOT NULL,
    bucket INTEGER NOT NULL,
    time_first INTEGER NOT NULL,
    time_last INTEGER NOT NULL,
    count INTEGER NOT NULL,
    digest INTEGER NOT NULL,
    bytes BLOB NOT NULL
);
CREATE INDEX records_sums ON records (id, bucket, count, digest);
CREATE TABLE drives (
    id INTEGER PRIMARY KEY,
    time_start INTEGER NOT NULL,
    time_end INTEGER NOT NULL,
    duration INTEGER NOT NULL,
    soc_start INTEGER,
    soc_end INTEGER,
    miles REAL NOT NULL,
    mph_average REAL NOT NULL,
    mph_max REAL NOT NULL,
    odometer REAL,
    odometer_read INTEGER NOT NULL,
    wh REAL NOT NULL,
    ah_in REAL NOT NULL,
    ah_out REAL NOT NULL,
    tc_off INTEGER NOT NULL
);
CREATE TABLE charges (
    id INTEGER PRIMARY KEY,
    time_start INTEGER NOT NULL,
    time_end INTEGER NOT NULL,
    duration INTEGER NOT NULL,
    soc_start INTEGER,
    soc_end INTEGER,
    volts_line REAL,
    volts_line_readings INTEGER NOT NULL,
    amps_max REAL,
    amps_available INTEGER,
    wh REAL NOT NULL,
    ah_in REAL NOT NULL,
    ah_out REAL NOT NULL,
    wall_to_wheel INTEGER NOT NULL,
    miles_since_charge REAL NOT NULL
);
CREATE INDEX drives_by_time ON drives (time_start);
CREATE INDEX charges_by_time ON charges (time_start);
CREATE TABLE drive_samples (
    ts INTEGER PRIMARY KEY,
    speed INTEGER,
    power INTEGER,
    soc INTEGER,
    odometer INTEGER
);
CREATE VIEW drive_points AS
    SELECT ts, speed / 10.0 AS mph, power / 1000.0 AS kw, soc, odometer / 10.0 AS odometer
    FROM drive_samples;
CREATE TABLE charge_points (
    ts INTEGER PRIMARY KEY,
    volts_line REAL,
    amps_charge REAL,
    amps_available INTEGER,
    volts_battery REAL,
    amps_battery REAL,
    temp_min REAL,
    temp_max REAL,
    soc INTEGER
);
CREATE TABLE idle (
    ts INTEGER PRIMARY KEY,
    soc INTEGER,
    temp_min REAL,
    temp_max REAL,
    volts_brick_min REAL,
    volts_brick_max REAL
);
CREATE TABLE days (
    ts INTEGER PRIMARY KEY,
    cac REAL NOT NULL,
    brick_ah_min REAL NOT NULL,
    brick_ah_average REAL NOT NULL,
    odometer REAL NOT NULL,
    soc INTEGER NOT NULL,
    firmware TEXT
);
CREATE TABLE events (
    id INTEGER PRIMARY KEY,
    ts INTEGER NOT NULL,
    part INTEGER NOT NULL,
    kind TEXT NOT NULL,
    code INTEGER,
    description TEXT,
    firmware TEXT,
    psi_1 REAL,
    psi_2 REAL,
    psi_3 REAL,
    psi_4 REAL
);
CREATE INDEX events_by_time ON events (part, ts);
)sql";

// Version 2: the owner's figures. A new file is made as version 1 and taken through the same
// steps, so that it has the tables and columns of an upgraded one in the same order.
char const s_szOwnerFigures[] = R"sql(
ALTER TABLE drives ADD COLUMN temp_battery REAL;
ALTER TABLE drives ADD COLUMN volts_rest REAL;
ALTER TABLE drives ADD COLUMN volts_rest_readings INTEGER NOT NULL DEFAULT 0;
ALTER TABLE charges ADD COLUMN temp_battery REAL;
ALTER TABLE charges ADD COLUMN battery_readings INTEGER NOT NULL DEFAULT 0;
ALTER TABLE charges ADD COLUMN wh_battery REAL;
ALTER TABLE charges ADD COLUMN wh_wall_paired REAL;
ALTER TABLE charges ADD COLUMN loss_pct REAL;
CREATE TABLE charge_curves (
    time_start INTEGER NOT NULL,
    soc REAL NOT NULL,
    kw REAL NOT NULL
);
CREATE INDEX charge_curves_by_charge ON charge_curves (time_start);
CREATE TABLE parked (
    id INTEGER PRIMARY KEY,
    time_start INTEGER NOT NULL,
    time_end INTEGER NOT NULL,
    soc_start INTEGER NOT NULL,
    soc_end INTEGER NOT NULL,
    hours REAL NOT NULL,
    soc_lost REAL NOT NULL,
    wh_lost REAL,
    soc_lost_per_day REAL NOT NULL,
    wh_lost_per_day REAL
);
CREATE TABLE battery_health (
    days INTEGER NOT NULL,
    time_first INTEGER NOT NULL,
    days_span REAL NOT NULL,
    cac_first REAL NOT NULL,
    cac_now REAL,
    share_left_pct REAL,
    cac_at_first_day REAL,
    cac_per_day REAL,
    cac_at_no_miles REAL,
    cac_per_mile REAL,
    brick_ah_at_first_day REAL,
    brick_ah_per_day REAL
);
CREATE TABLE park_bands (
    soc_band INTEGER NOT NULL,
    temp_band INTEGER NOT NULL,
    hours REAL NOT NULL,
    PRIMARY KEY (soc_band, temp_band)
);
CREATE VIEW months AS
    WITH items (time, miles, drives, seconds_driving, wh_out, wh_wall, charges, parked, hours_parked, soc_lost_parked,
                wh_lost_parked) AS (
        SELECT time_start, miles, 1, duration, wh, 0, 0, 0, 0, 0, NULL FROM drives
        UNION ALL SELECT time_start, 0, 0, 0, 0, wh, 1, 0, 0, 0, NULL FROM charges
        UNION ALL SELECT time_start, 0, 0, 0, 0, 0, 0, 1, hours, soc_lost, wh_lost FROM parked
    ), dated AS (
        SELECT CAST(strftime('%Y', time, 'unixepoch', 'localtime') AS INTEGER) AS year,
               CAST(strftime('%m', time, 'unixepoch', 'localtime') AS INTEGER) AS month, *
        FROM items WHERE time >= 978307200 AND time <= 2147483647
    )
    SELECT year, month, total(miles) AS miles, sum(drives) AS drives, sum(seconds_driving) AS seconds_driving,
           total(wh_out) AS wh_out, total(wh_wall) / 1000 AS kwh_wall, sum(charges) AS charges,
           CASE WHEN total(miles) >= 1 THEN total(wh_out) / total(miles) END AS wh_per_mile_out,
           CASE WHEN total(miles) >= 1 AND total(wh_wall) > 0 THEN total(wh_wall) / total(miles) END AS wh_per_mile_wall,
           sum(parked) AS parked, total(hours_parked) AS hours_parked, total(soc_lost_parked) AS soc_lost_parked,
           sum(wh_lost_parked) AS wh_lost_parked
    FROM dated GROUP BY year, month ORDER BY year, month;
CREATE VIEW years AS
    SELECT year, total(miles) AS miles, sum(drives) AS drives, sum(seconds_driving) AS seconds_driving,
           total(wh_out) AS wh_out, total(kwh_wall) AS kwh_wall, sum(charges) AS charges,
           CASE WHEN total(miles) >= 1 THEN total(wh_out) / total(miles) END AS wh_per_mile_out,
           CASE WHEN total(miles) >= 1 AND total(kwh_wall) > 0 THEN total(kwh_wall) * 1000 / total(miles) END
               AS wh_per_mile_wall,
           sum(parked) AS parked, total(hours_parked) AS hours_parked, total(soc_lost_parked) AS soc_lost_parked,
           sum(wh_lost_parked) AS wh_lost_parked
    FROM months GROUP BY year ORDER BY year;
CREATE TABLE imbalance (
    day TEXT PRIMARY KEY,
    mv_mean REAL NOT NULL,
    mv_max REAL NOT NULL,
    samples INTEGER NOT NULL
);
)sql";

// Each later version adds one step here (and raises versSchema).
UPGRADESTEP const s_rgstepUpgrade[] = {{s_szOwnerFigures, FRecomputeAllOwnerFigures}};
constexpr int cstepUpgrade = versSchema - 1;
static_assert(sizeof s_rgstepUpgrade / sizeof s_rgstepUpgrade[0] == cstepUpgrade);

constexpr char s_szSqliteMagic[] = "SQLite format 3";   // and its NUL: the first 16 bytes
constexpr int cbSqliteHeader = 100;

// The busy handler: waits in short naps, says once that it waits, and gives up after cmsWaitMax.
int FWaitForLock(void* pv, int ccall)
{
    HISTDB* phdb = (HISTDB*)pv;
    if (ccall == 0 && phdb->pfnWaiting)
        phdb->pfnWaiting(phdb->pvWaiting);
    constexpr int cmsNap = 20;
    if (phdb->cmsWaited >= cmsWaitMax)
        return 0;
    struct timespec ts = {0, cmsNap * 1000000L};
    nanosleep(&ts, nullptr);
    phdb->cmsWaited += cmsNap;
    return 1;
}

enum KIND { kindMissing, kindEmpty, kindSqlite, kindForeign, kindUnreadable };

// What the file is, from its first bytes, before SQLite opens it.
KIND KindOfFile(char const* pszPath, std::string* pstrErr)
{
    struct stat st;
    if (stat(pszPath, &st) != 0) {
        if (errno == ENOENT)
            return kindMissing;
        *pstrErr = std::string("can't open '") + pszPath + "': " + strerror(errno);
        return kindUnreadable;
    }
    if (!S_ISREG(st.st_mode)) {
        *pstrErr = std::string("'") + pszPath + "' is not a regular file";
        return kindUnreadable;
    }
    if (st.st_size == 0)
        return kindEmpty;
    int fd = open(pszPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *pstrErr = std::string("can't open '") + pszPath + "': " + strerror(errno);
        return kindUnreadable;
    }
    char rgch[cbSqliteHeader];
    ssize_t cb = read(fd, rgch, sizeof rgch);
    close(fd);
    if (cb == (ssize_t)sizeof rgch && memcmp(rgch, s_szSqliteMagic, sizeof s_szSqliteMagic) == 0)
        return kindSqlite;
    return kindForeign;
}

std::string StrNotOurs(char const* pszPath, char const* szWhy)
{
    return std::string("'") + pszPath + "' is not a Quenfell history database (" + szWhy + "); it is left as it is";
}

// The application id and version of an SQLite file, read through SQLite without changing it.
bool FReadIdentity(char const* pszPath, int64_t* pidApp, int64_t* pvers, int64_t* pcobject, std::string* pstrErr)
{
    sqlite3* pdb = nullptr;
    int rc = sqlite3_open_v2(pszPath, &pdb, SQLITE_OPEN_READONLY, nullptr);
    bool fOk = rc == SQLITE_OK && FQueryInt64(pdb, "PRAGMA application_id", pidApp, pstrErr) &&
               FQueryInt64(pdb, "PRAGMA user_version", pvers, pstrErr) &&
               FQueryInt64(pdb, "SELECT count(*) FROM sqlite_master", pcobject, pstrErr);
    if (rc != SQLITE_OK)
        *pstrErr = StrSqlError(pdb, rc, (std::string("can't open '") + pszPath + "'").c_str());
    sqlite3_close(pdb);
    return fOk;
}

bool FConfigure(HISTDB* phdb, bool fWrite, std::string* pstrErr)
{
    sqlite3_busy_handler(phdb->pdb, FWaitForLock, phdb);
    sqlite3_extended_result_codes(phdb->pdb, 1);
    if (!FExec(phdb->pdb, "PRAGMA cache_size = -32768", pstrErr))
        return false;
    if (!fWrite)
        return true;
    // A commit reaches the disk before the run goes on: a power cut loses at most the download
    // being added.
    return FExec(phdb->pdb, "PRAGMA journal_mode = WAL", pstrErr) &&
           FExec(phdb->pdb, "PRAGMA synchronous = FULL", pstrErr);
}

// The tables of every later version, in an empty file: the steps' statements, with nothing to fill.
bool FCreateLaterVersions(sqlite3* pdb, std::string* pstrErr)
{
    for (UPGRADESTEP const& step : s_rgstepUpgrade) {
        if (!FExec(pdb, step.szSql, pstrErr))
            return false;
    }
    return true;
}

bool FCreateTables(sqlite3* pdb, std::string* pstrErr)
{
    char szPragmas[128];
    snprintf(szPragmas, sizeof szPragmas, "PRAGMA application_id = %d; PRAGMA user_version = %d;", (int)idApplication,
             versSchema);
    if (!FExec(pdb, "BEGIN IMMEDIATE", pstrErr))
        return false;
    int64_t cobject = 0;
    // Another run may have made the tables while this one waited for the lock.
    if (!FQueryInt64(pdb, "SELECT count(*) FROM sqlite_master", &cobject, pstrErr) ||
        (cobject == 0 && (!FExec(pdb, s_szSchema, pstrErr) || !FCreateLaterVersions(pdb, pstrErr) ||
                          !FExec(pdb, szPragmas, pstrErr))) ||
        !FExec(pdb, "COMMIT", pstrErr)) {
        sqlite3_exec(pdb, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

}  // namespace

HISTDB::~HISTDB()
{
    if (pdb)
        sqlite3_close(pdb);
}

bool _FUpgradeSchema(sqlite3* pdb, UPGRADESTEP const* rgstep, int cstep, std::string* pstrErr)
{
    if (!FExec(pdb, "BEGIN IMMEDIATE", pstrErr))
        return false;
    int64_t vers = 0;
    bool fOk = FQueryInt64(pdb, "PRAGMA user_version", &vers, pstrErr);
    for (int64_t istep = vers - 1; fOk && istep >= 0 && istep < cstep; istep++)
        fOk = FExec(pdb, rgstep[istep].szSql, pstrErr) && (!rgstep[istep].pfnFill || rgstep[istep].pfnFill(pdb, pstrErr));
    char szVersion[64];
    snprintf(szVersion, sizeof szVersion, "PRAGMA user_version = %d", cstep + 1);
    fOk = fOk && FExec(pdb, szVersion, pstrErr) && FExec(pdb, "COMMIT", pstrErr);
    if (!fOk)
        sqlite3_exec(pdb, "ROLLBACK", nullptr, nullptr, nullptr);
    return fOk;
}

bool FOpenHistory(char const* pszPath, bool fWrite, PFNWAITING pfnWaiting, void* pvWaiting, HISTDB* phdb,
                  std::string* pstrErr)
{
    phdb->strPath = pszPath;
    phdb->pfnWaiting = pfnWaiting;
    phdb->pvWaiting = pvWaiting;
    KIND kind = KindOfFile(pszPath, pstrErr);
    switch (kind) {
    case kindUnreadable:
        return false;
    case kindForeign:
        *pstrErr = StrNotOurs(pszPath, "it is no SQLite database");
        return false;
    case kindMissing:
    case kindEmpty:
        if (!fWrite) {
            *pstrErr = std::string("'") + pszPath + "' holds no history yet: add downloads to it first";
            return false;
        }
        break;
    case kindSqlite: {
        int64_t idApp = 0, vers = 0, cobject = 0;
        if (!FReadIdentity(pszPath, &idApp, &vers, &cobject, pstrErr))
            return false;
        if (idApp != idApplication) {
            *pstrErr = StrNotOurs(pszPath, cobject > 0 ? "an SQLite database of another program" : "an empty SQLite database");
            return false;
        }
        if (vers > versSchema) {
            *pstrErr = std::string("'") + pszPath + "' was written by a newer Quenfell (database version " +
                       std::to_string(vers) + "; this one knows versions up to " + std::to_string(versSchema) +
                       "); it is left as it is";
            return false;
        }
        if (fWrite && access(pszPath, W_OK) != 0) {
            *pstrErr = std::string("can't change '") + pszPath + "': " + strerror(errno);
            return false;
        }
        break;
    }
    }

    // One thread uses the connection: SQLite's own locks on it would only cost time.
    int grfOpen = (fWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(pszPath, &phdb->pdb, grfOpen, nullptr);
    if (rc != SQLITE_OK) {
        *pstrErr = StrSqlError(phdb->pdb, rc, (std::string("can't open '") + pszPath + "'").c_str());
        return false;
    }
    if (!FConfigure(phdb, fWrite, pstrErr))
        return false;
    if (kind == kindMissing || kind == kindEmpty) {
        phdb->fCreated = kind == kindMissing;
        return FCreateTables(phdb->pdb, pstrErr);
    }
    int64_t vers = 0;
    if (!FQueryInt64(phdb->pdb, "PRAGMA user_version", &vers, pstrErr))
        return false;
    if (vers < versSchema) {
        if (!fWrite) {
            *pstrErr = std::string("'") + pszPath + "' is of an older version: add a download to it to bring it up to date";
            return false;
        }
        return _FUpgradeSchema(phdb->pdb, s_rgstepUpgrade, cstepUpgrade, pstrErr);
    }
    return true;
}
