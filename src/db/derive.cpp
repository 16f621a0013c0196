// Decoded tables. Points are kept one row a second (a minute's charge record and the half-hour one
// written in the same second make one row), each column from the first record of that second that
// carries it. Drives and charges come from the default report's own walk; after a change only the
// stretch from the last drive before it is walked again, from a point where the walk's state that
// spans sessions is the same as in a walk over the whole history (see FRecomputeSessions).
#include "db/derive.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "db/sql.h"
#include "db/store.h"

namespace {

constexpr int partLongTerm = sectLongTerm;
constexpr int partTransient = sectTransient;
constexpr uint32_t timestampNoDate = 978307200u;
constexpr uint32_t timestampErased = 0xFFFFFFFFu;

bool FDated(uint32_t timestamp)
{
    return timestamp > timestampNoDate && timestamp != timestampErased;
}

// ---- Points ---------------------------------------------------------------------------------

// The statements of the point tables, prepared once per download.
struct POINTWRITER {
    sqlite3* pdb;
    int part;
    STMT stmtDrive, stmtCharge, stmtIdle, stmtEvent, stmtDay;
    STMT rgstmtClear[4];   // the points of a span of seconds go
    std::string strErr;
    bool fFailed = false;
    bool fNewVinf = false;
    bool fNewDay = false;
    unsigned int timestampLastValid = 0;
};

char const s_szUpsertDrive[] =
    "INSERT INTO drive_samples (ts, speed, power, soc, odometer) VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (ts) DO "
    "UPDATE SET speed = coalesce(speed, ?2), power = coalesce(power, ?3), soc = coalesce(soc, ?4), "
    "odometer = coalesce(odometer, ?5)";
char const s_szUpsertCharge[] =
    "INSERT INTO charge_points (ts, volts_line, amps_charge, amps_available, volts_battery, amps_battery, temp_min, "
    "temp_max, soc) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT (ts) DO UPDATE SET "
    "volts_line = coalesce(volts_line, ?2), amps_charge = coalesce(amps_charge, ?3), "
    "amps_available = coalesce(amps_available, ?4), volts_battery = coalesce(volts_battery, ?5), "
    "amps_battery = coalesce(amps_battery, ?6), temp_min = coalesce(temp_min, ?7), "
    "temp_max = coalesce(temp_max, ?8), soc = coalesce(soc, ?9)";
char const s_szUpsertIdle[] =
    "INSERT INTO idle (ts, soc, temp_min, temp_max, volts_brick_min, volts_brick_max) VALUES (?1, ?2, ?3, ?4, ?5, ?6) "
    "ON CONFLICT (ts) DO UPDATE SET soc = coalesce(soc, ?2), temp_min = coalesce(temp_min, ?3), "
    "temp_max = coalesce(temp_max, ?4), volts_brick_min = coalesce(volts_brick_min, ?5), "
    "volts_brick_max = coalesce(volts_brick_max, ?6)";
char const s_szInsertEvent[] =
    "INSERT INTO events (ts, part, kind, code, description, firmware, psi_1, psi_2, psi_3, psi_4) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
char const s_szInsertDay[] =
    "INSERT OR IGNORE INTO days (ts, cac, brick_ah_min, brick_ah_average, odometer, soc) VALUES (?, ?, ?, ?, ?, ?)";

char const* const s_rgszClear[] = {
    "DELETE FROM drive_samples WHERE ts BETWEEN ? AND ?",
    "DELETE FROM charge_points WHERE ts BETWEEN ? AND ?",
    "DELETE FROM idle WHERE ts BETWEEN ? AND ?",
    "DELETE FROM events WHERE part = 2 AND ts BETWEEN ? AND ?",
};

bool FPrepareWriter(POINTWRITER* pw, std::string* pstrErr)
{
    for (int i = 0; i < 4; i++) {
        if (!FPrepare(pw->pdb, s_rgszClear[i], &pw->rgstmtClear[i], pstrErr))
            return false;
    }
    return FPrepare(pw->pdb, s_szUpsertDrive, &pw->stmtDrive, pstrErr) &&
           FPrepare(pw->pdb, s_szUpsertCharge, &pw->stmtCharge, pstrErr) &&
           FPrepare(pw->pdb, s_szUpsertIdle, &pw->stmtIdle, pstrErr) &&
           FPrepare(pw->pdb, s_szInsertEvent, &pw->stmtEvent, pstrErr) &&
           FPrepare(pw->pdb, s_szInsertDay, &pw->stmtDay, pstrErr);
}

void Step(POINTWRITER* pw, STMT* pstmt)
{
    if (!pw->fFailed && !FStepDone(pw->pdb, pstmt, "can't write the decoded tables", &pw->strErr))
        pw->fFailed = true;
}

void BindIf(STMT* pstmt, int i, bool f, double d)
{
    if (f)
        BindDouble(pstmt, i, d);
    else
        BindNull(pstmt, i);
}

void BindIntIf(STMT* pstmt, int i, bool f, int64_t n)
{
    if (f)
        BindInt64(pstmt, i, n);
    else
        BindNull(pstmt, i);
}

bool FSoc(VLR const* pvlr)
{
    return (pvlr->grf & fvlrSOC) && pvlr->pctSOC >= 0 && pvlr->pctSOC <= 100;
}

void WriteEvent(POINTWRITER* pw, VLR const* pvlr, char const* szKind)
{
    STMT* pstmt = &pw->stmtEvent;
    BindInt64(pstmt, 1, pvlr->timestamp);
    BindInt64(pstmt, 2, pw->part);
    BindText(pstmt, 3, szKind);
    for (int i = 4; i <= 10; i++)
        BindNull(pstmt, i);
    if (pvlr->rt == rtERR) {
        BindInt64(pstmt, 4, pvlr->codeError);
        if (pvlr->grf & fvlrDesc)
            BindText(pstmt, 5, std::string(pvlr->szDesc, strnlen(pvlr->szDesc, sizeof pvlr->szDesc)));
    } else if (pvlr->rt == rtTPMS) {
        for (int i = 0; i < 4; i++)
            BindDouble(pstmt, 7 + i, pvlr->rgpsiTire[i]);
    }
    Step(pw, pstmt);
}

// One decoded record into the table of its kind.
void TakeDecoded(void* pv, size_t, VLR const* pvlr)
{
    POINTWRITER* pw = (POINTWRITER*)pv;
    if (!FDated(pvlr->timestamp))
        return;
    uint32_t const grf = pvlr->grf;
    switch (pvlr->rt) {
    case rtDR1S: {
        STMT* pstmt = &pw->stmtDrive;
        BindInt64(pstmt, 1, pvlr->timestamp);
        BindInt64(pstmt, 2, llround(pvlr->mphSpeed * 10));
        BindInt64(pstmt, 3, llround(pvlr->voltsESS * pvlr->ampsESS));
        BindNull(pstmt, 4);
        BindNull(pstmt, 5);
        Step(pw, pstmt);
        break;
    }
    case rtD10M: {
        STMT* pstmt = &pw->stmtDrive;
        BindInt64(pstmt, 1, pvlr->timestamp);
        BindNull(pstmt, 2);
        BindNull(pstmt, 3);
        BindIntIf(pstmt, 4, FSoc(pvlr), pvlr->pctSOC);
        BindIntIf(pstmt, 5, (grf & fvlrOdometer) != 0, llround(pvlr->milesOdo * 10));
        Step(pw, pstmt);
        break;
    }
    case rtC1MA:
    case rtC1MB:
    case rtC30M: {
        STMT* pstmt = &pw->stmtCharge;
        BindInt64(pstmt, 1, pvlr->timestamp);
        BindIf(pstmt, 2, (grf & fvlrLineVolts) != 0, pvlr->voltsLine);
        BindIf(pstmt, 3, (grf & fvlrChargeAmps) != 0, pvlr->ampsCharge);
        BindIntIf(pstmt, 4, (grf & fvlrAmpsAvailable) != 0, pvlr->ampsAvailable);
        BindIf(pstmt, 5, (grf & fvlrPower) != 0, pvlr->voltsESS);
        BindIf(pstmt, 6, (grf & fvlrPower) != 0, pvlr->ampsESS);
        BindIf(pstmt, 7, (grf & fvlrTempESS) != 0, pvlr->degESSMin);
        BindIf(pstmt, 8, (grf & fvlrTempESS) != 0, pvlr->degESSMax);
        BindIntIf(pstmt, 9, FSoc(pvlr), pvlr->pctSOC);
        Step(pw, pstmt);
        break;
    }
    case rtIDLE: {
        STMT* pstmt = &pw->stmtIdle;
        BindInt64(pstmt, 1, pvlr->timestamp);
        BindIntIf(pstmt, 2, FSoc(pvlr), pvlr->pctSOC);
        BindIf(pstmt, 3, (grf & fvlrTempESS) != 0, pvlr->degESSMin);
        BindIf(pstmt, 4, (grf & fvlrTempESS) != 0, pvlr->degESSMax);
        BindIf(pstmt, 5, (grf & fvlrBrickVolts) != 0, pvlr->voltsBrickMin);
        BindIf(pstmt, 6, (grf & fvlrBrickVolts) != 0, pvlr->voltsBrickMax);
        Step(pw, pstmt);
        break;
    }
    case rtTPMS:
        WriteEvent(pw, pvlr, "tyres");
        break;
    case rtERR:
        WriteEvent(pw, pvlr, "error");
        break;
    case rtDAY:
        if (pw->part == partLongTerm && (grf & fvlrCAC) && FCredibleTime(pvlr->timestamp, pw->timestampLastValid)) {
            STMT* pstmt = &pw->stmtDay;
            BindInt64(pstmt, 1, pvlr->timestamp);
            BindDouble(pstmt, 2, pvlr->ahCAC);
            BindDouble(pstmt, 3, pvlr->ahBrickMin);
            BindDouble(pstmt, 4, pvlr->ahBrickAve);
            BindDouble(pstmt, 5, pvlr->milesOdo);
            BindInt64(pstmt, 6, pvlr->pctSOC);
            Step(pw, pstmt);
            pw->fNewDay = true;
        }
        break;
    case rtVINF:
        if (pw->part == partLongTerm)
            pw->fNewVinf = true;
        break;
    default:
        break;
    }
}

// The points of a changed run: those of its bucket's seconds go, and its records (read back)
// give them anew.
bool FRederiveRun(POINTWRITER* pw, STMT* pstmtRun, uint32_t bucket, int rver, std::string* pstrErr)
{
    uint32_t timestampFirst = bucket << cbitBucket;
    uint32_t timestampLast = timestampFirst + (secBucket - 1);
    for (STMT& stmt : pw->rgstmtClear) {
        BindInt64(&stmt, 1, timestampFirst);
        BindInt64(&stmt, 2, timestampLast);
        if (!FStepDone(pw->pdb, &stmt, "can't write the decoded tables", pstrErr))
            return false;
    }
    sqlite3_reset(pstmtRun->pstmt);
    BindInt64(pstmtRun, 1, IdRun(partTransient, bucket));
    int rc = sqlite3_step(pstmtRun->pstmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pw->pdb, rc, "can't read the held records");
        return false;
    }
    RECORDS recs;
    if (rc == SQLITE_ROW)
        AppendRecords(&recs, (uint8_t const*)sqlite3_column_blob(pstmtRun->pstmt, 0),
                      (size_t)sqlite3_column_bytes(pstmtRun->pstmt, 0));
    DecodeRecords(recs, 0, recs.rgrec.size(), rver, TakeDecoded, pw);
    if (pw->fFailed) {
        *pstrErr = pw->strErr;
        return false;
    }
    return true;
}

// ---- Firmware -------------------------------------------------------------------------------

struct LONGTERMREADER {
    RECORDS recs;
};

bool FTakeLongTermRun(void* pv, uint32_t, uint8_t const* pb, size_t cb)
{
    AppendRecords(&((LONGTERMREADER*)pv)->recs, pb, cb);
    return true;
}

struct FIRMWARE {
    uint32_t timestamp;
    uint32_t versFirmware;
};

void TakeFirmware(void* pv, size_t, VLR const* pvlr)
{
    if (pvlr->rt == rtVINF && pvlr->versFirmware != 0 && FDated(pvlr->timestamp))
        ((std::vector<FIRMWARE>*)pv)->push_back(FIRMWARE{pvlr->timestamp, pvlr->versFirmware});
}

// The firmware events are the changes among the long-term vehicle-info records (which the car
// writes when it starts on new firmware), and each day takes the firmware in effect then.
bool FRecomputeFirmware(sqlite3* pdb, int rver, std::string* pstrErr)
{
    LONGTERMREADER reader;
    if (!FReadRuns(pdb, partLongTerm, 0, FTakeLongTermRun, &reader, pstrErr))
        return false;
    std::vector<FIRMWARE> rgfw;
    DecodeRecords(reader.recs, 0, reader.recs.rgrec.size(), rver, TakeFirmware, &rgfw);
    std::stable_sort(rgfw.begin(), rgfw.end(), [](FIRMWARE const& a, FIRMWARE const& b) { return a.timestamp < b.timestamp; });
    if (!FExec(pdb, "DELETE FROM events WHERE kind = 'firmware'", pstrErr))
        return false;
    // The days of each firmware: from its first long-term record to the next change.
    STMT stmt, stmtDays;
    if (!FPrepare(pdb, "INSERT INTO events (ts, part, kind, firmware) VALUES (?, 1, 'firmware', ?)", &stmt, pstrErr) ||
        !FPrepare(pdb, "UPDATE days SET firmware = ? WHERE ts >= ? AND ts < ?", &stmtDays, pstrErr) ||
        !FExec(pdb, "UPDATE days SET firmware = NULL", pstrErr))
        return false;
    std::vector<FIRMWARE> rgfwChange;
    for (FIRMWARE const& fw : rgfw) {
        if (rgfwChange.empty() || rgfwChange.back().versFirmware != fw.versFirmware)
            rgfwChange.push_back(fw);
    }
    for (size_t ifw = 0; ifw < rgfwChange.size(); ifw++) {
        FIRMWARE const& fw = rgfwChange[ifw];
        std::string strFirmware = StrFirmware(fw.versFirmware);
        BindInt64(&stmt, 1, fw.timestamp);
        BindText(&stmt, 2, strFirmware);
        BindText(&stmtDays, 1, strFirmware);
        BindInt64(&stmtDays, 2, fw.timestamp);
        BindInt64(&stmtDays, 3, ifw + 1 < rgfwChange.size() ? (int64_t)rgfwChange[ifw + 1].timestamp : INT64_MAX);
        if (!FStepDone(pdb, &stmt, "can't write the decoded tables", pstrErr) ||
            !FStepDone(pdb, &stmtDays, "can't write the decoded tables", pstrErr))
            return false;
    }
    return true;
}

// ---- Drives and charges ---------------------------------------------------------------------

// The walk's sessions, and what the owner's figures take of each: a drive's resting battery volts
// (sum and count), a charge's curve.
struct SESSIONS {
    std::vector<DRIVESESSION> rgds;
    std::vector<CHARGESESSION> rgcs;
    std::vector<RESTVOLTS> rgrest;                      // rgds's order
    std::vector<std::vector<SOCPOWER>> rgcurve;         // rgcs's order
    OWNERWALK walk;
};

void TakeDrive(void* pv, DRIVESESSION const* pds)
{
    SESSIONS* psessions = (SESSIONS*)pv;
    psessions->rgds.push_back(*pds);
    psessions->rgrest.push_back(CloseOwnerDrive(&psessions->walk, pds));
}

void TakeCharge(void* pv, CHARGESESSION const* pcs)
{
    SESSIONS* psessions = (SESSIONS*)pv;
    psessions->rgcs.push_back(*pcs);
    psessions->rgcurve.emplace_back();
    CloseOwnerCharge(&psessions->walk, pcs, &psessions->rgcurve.back());
}

void TakeWalkRecord(void* pv, VLR const* pvlr)
{
    TakeOwnerRecord(&((SESSIONS*)pv)->walk, pvlr);
}

// The walk's records: the stored history from bucket bucketFirst on, after the last vehicle-info
// record before it; from the history's first vehicle-info record when bucketFirst is 0 or no
// vehicle-info record comes before it (the joined log starts there).
struct WALKLOG {
    RECORDS recs;
    bool fLead = false;      // recs holds the vehicle-info record that leads the walk
    bool fStarted = false;   // a vehicle-info record was taken: the log runs from it
    uint32_t bucketLast = 0; // the last run taken
    bool fMore = false;      // runs lie past it
};

bool FTakeLeadRun(void* pv, uint32_t, uint8_t const* pb, size_t cb)
{
    WALKLOG* plog = (WALKLOG*)pv;
    RECORDS recs;
    AppendRecords(&recs, pb, cb);
    for (size_t irec = recs.rgrec.size(); irec-- > 0;) {
        if (recs.rgrec[irec].rt == rtVINF) {
            AppendRecord(&plog->recs, recs, irec);
            plog->fLead = true;
            return false;
        }
    }
    return true;
}

bool FTakeWalkRun(void* pv, uint32_t bucket, uint8_t const* pb, size_t cb)
{
    WALKLOG* plog = (WALKLOG*)pv;
    if (bucket > plog->bucketLast) {
        plog->fMore = true;
        return false;
    }
    if (plog->fStarted) {
        AppendRecords(&plog->recs, pb, cb);
        return true;
    }
    RECORDS recs;
    AppendRecords(&recs, pb, cb);
    for (size_t irec = 0; irec < recs.rgrec.size(); irec++) {
        if (recs.rgrec[irec].rt == rtVINF) {
            AppendRecordRange(&plog->recs, recs, irec, recs.rgrec.size());
            plog->fStarted = true;
            break;
        }
    }
    return true;
}

// The one integer the query gives for nBind (and nBind2, when the query takes two); *pfFound false
// when it gives none or NULL.
bool FQueryOne(sqlite3* pdb, char const* szSql, int64_t nBind, int64_t* pn, bool* pfFound, std::string* pstrErr,
               int64_t nBind2 = 0)
{
    STMT stmt;
    if (!FPrepare(pdb, szSql, &stmt, pstrErr))
        return false;
    BindInt64(&stmt, 1, nBind);
    if (sqlite3_bind_parameter_count(stmt.pstmt) >= 2)
        BindInt64(&stmt, 2, nBind2);
    int rc = sqlite3_step(stmt.pstmt);
    *pfFound = rc == SQLITE_ROW && sqlite3_column_type(stmt.pstmt, 0) != SQLITE_NULL;
    if (*pfFound)
        *pn = sqlite3_column_int64(stmt.pstmt, 0);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the drives and charges");
        return false;
    }
    return true;
}

// Where the walk must start so that it is in the state of the whole history's walk at the last
// drive starting before timestampChanged (*ptimestampKeep; sessions from it on are replaced). The
// state a walk carries from one session to the next is the last SOC read, the odometer reading
// and the distance not yet handed to a drive, the last charge's end SOC and the miles driven since
// it, and running sums of which sessions take differences. Walking a drive that ended with the
// odometer read, and then a whole charge, sets all of it as the long walk has it (the running sums
// start lower, which can move the last digits of a figure, never its printed value). *ptimestampWalk
// is 0 when the whole history must be walked.
bool FFindRestart(sqlite3* pdb, uint32_t timestampChanged, uint32_t* ptimestampWalk, uint32_t* ptimestampKeep,
                  std::string* pstrErr)
{
    *ptimestampWalk = 0;
    *ptimestampKeep = 0;
    if (timestampChanged == 0)
        return true;
    int64_t timestampKeep = 0, timestampCharge = 0, timestampDrive = 0;
    bool fKeep = false, fCharge = false, fDrive = false;
    if (!FQueryOne(pdb, "SELECT max(time_start) FROM drives WHERE time_start < ?", timestampChanged, &timestampKeep,
                   &fKeep, pstrErr))
        return false;
    if (fKeep && !FQueryOne(pdb, "SELECT max(time_start) FROM charges WHERE time_end < ?", timestampKeep,
                            &timestampCharge, &fCharge, pstrErr))
        return false;
    if (fCharge && !FQueryOne(pdb, "SELECT max(time_start) FROM drives WHERE time_end < ? AND odometer_read = 1",
                              timestampCharge, &timestampDrive, &fDrive, pstrErr))
        return false;
    if (fDrive) {
        *ptimestampWalk = (uint32_t)timestampDrive;
        *ptimestampKeep = (uint32_t)timestampKeep;
    }
    return true;
}

// How far past the change the walk goes at first, and how far before the end of what it walked a
// session must end to be trusted (the walk's end closes the session then open, and a drive's
// figures take in readings of the minutes after it).
constexpr uint32_t secConvergeWindow = 86400;

bool FNear(double a, double b)
{
    double dMax = std::max({1.0, std::fabs(a), std::fabs(b)});
    return std::fabs(a - b) <= 1e-9 * dMax;
}

// A held row and a walked session are one session with the same figures (but for the last bits).
bool FSameDrive(sqlite3_stmt* pstmt, DRIVESESSION const& ds)
{
    auto soc = [&](int i) { return sqlite3_column_type(pstmt, i) == SQLITE_NULL ? -1 : sqlite3_column_int(pstmt, i); };
    bool fOdometer = sqlite3_column_type(pstmt, 8) != SQLITE_NULL;
    return (uint32_t)sqlite3_column_int64(pstmt, 1) == ds.timestampEnd && soc(3) == ds.pctSOCStart &&
           soc(4) == ds.pctSOCEnd && FNear(sqlite3_column_double(pstmt, 5), ds.miles) &&
           FNear(sqlite3_column_double(pstmt, 6), ds.mphAverage) && FNear(sqlite3_column_double(pstmt, 7), ds.mphMax) &&
           fOdometer == ds.fOdometer && (!fOdometer || FNear(sqlite3_column_double(pstmt, 8), ds.milesOdo)) &&
           sqlite3_column_int(pstmt, 9) == (ds.fOdometer && ds.fOdoCurrent ? 1 : 0) &&
           FNear(sqlite3_column_double(pstmt, 10), ds.wh) && FNear(sqlite3_column_double(pstmt, 11), ds.ahIn) &&
           FNear(sqlite3_column_double(pstmt, 12), ds.ahOut) && sqlite3_column_int(pstmt, 13) == ds.cTCOff;
}

bool FSameCharge(sqlite3_stmt* pstmt, CHARGESESSION const& cs)
{
    auto soc = [&](int i) { return sqlite3_column_type(pstmt, i) == SQLITE_NULL ? -1 : sqlite3_column_int(pstmt, i); };
    return (uint32_t)sqlite3_column_int64(pstmt, 1) == cs.timestampEnd && soc(3) == cs.pctSOCStart &&
           soc(4) == cs.pctSOCEnd && sqlite3_column_int(pstmt, 6) == cs.cVoltsLine &&
           (cs.cVoltsLine == 0 || FNear(sqlite3_column_double(pstmt, 5), cs.voltsLineAverage)) &&
           FNear(sqlite3_column_double(pstmt, 7), cs.ampsMax) && sqlite3_column_int(pstmt, 8) == cs.ampsAvailable &&
           FNear(sqlite3_column_double(pstmt, 9), cs.kwh * 1000) && FNear(sqlite3_column_double(pstmt, 10), cs.ahIn) &&
           FNear(sqlite3_column_double(pstmt, 11), cs.ahOut) && sqlite3_column_int(pstmt, 12) == (cs.fWallToWheel ? 1 : 0) &&
           FNear(sqlite3_column_double(pstmt, 13), cs.milesSinceCharge);
}

// Whether the held row of the session starting at timestampStart passes fSame.
template <class SESSION>
bool FHeldSame(STMT* pstmt, SESSION const& session, bool (*pfnSame)(sqlite3_stmt*, SESSION const&), bool* pfSame,
               std::string* pstrErr)
{
    sqlite3_reset(pstmt->pstmt);
    BindInt64(pstmt, 1, session.timestampStart);
    int rc = sqlite3_step(pstmt->pstmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(nullptr, rc, "can't read the drives and charges");
        return false;
    }
    *pfSame = rc == SQLITE_ROW && pfnSame(pstmt->pstmt, session);
    return true;
}

// Where the walk, past the change, has met the held sessions again: a drive that ended with the
// odometer read and then a charge, both as held, both ending before timestampTrusted. From there
// on the walk is in the state the held sessions were worked out in, so they stand; *ptimestampMet
// is the charge's start, or 0 when the walk has not met them.
bool FFindMeeting(sqlite3* pdb, SESSIONS const& sessions, uint32_t timestampChangedLast, uint32_t timestampTrusted,
                  uint32_t* ptimestampMet, std::string* pstrErr)
{
    *ptimestampMet = 0;
    STMT stmtDrive, stmtCharge;
    if (!FPrepare(pdb,
                  "SELECT time_start, time_end, duration, soc_start, soc_end, miles, mph_average, mph_max, odometer, "
                  "odometer_read, wh, ah_in, ah_out, tc_off FROM drives WHERE time_start = ?",
                  &stmtDrive, pstrErr) ||
        !FPrepare(pdb,
                  "SELECT time_start, time_end, duration, soc_start, soc_end, volts_line, volts_line_readings, "
                  "coalesce(amps_max, 0), coalesce(amps_available, 0), wh, ah_in, ah_out, wall_to_wheel, "
                  "miles_since_charge FROM charges WHERE time_start = ?",
                  &stmtCharge, pstrErr))
        return false;
    size_t ics = 0;
    for (DRIVESESSION const& ds : sessions.rgds) {
        if (ds.timestampStart <= timestampChangedLast || !ds.fOdometer || !ds.fOdoCurrent)
            continue;
        if (ds.timestampEnd >= timestampTrusted)
            return true;
        bool fSame = false;
        if (!FHeldSame(&stmtDrive, ds, FSameDrive, &fSame, pstrErr))
            return false;
        if (!fSame)
            continue;
        while (ics < sessions.rgcs.size() && sessions.rgcs[ics].timestampStart <= ds.timestampEnd)
            ics++;
        if (ics >= sessions.rgcs.size() || sessions.rgcs[ics].timestampEnd >= timestampTrusted)
            return true;
        if (!FHeldSame(&stmtCharge, sessions.rgcs[ics], FSameCharge, &fSame, pstrErr))
            return false;
        if (fSame) {
            *ptimestampMet = sessions.rgcs[ics].timestampStart;
            return true;
        }
    }
    return true;
}

// Replaces the held sessions that start in [timestampKeep, timestampLast] by the walked ones, and
// their charging curves.
bool FWriteSessions(sqlite3* pdb, SESSIONS const& sessions, uint32_t timestampKeep, uint32_t timestampLast,
                    std::string* pstrErr)
{
    STMT stmtDelDrives, stmtDelCharges, stmtDelCurves, stmtDrive, stmtCharge, stmtCurve;
    if (!FPrepare(pdb, "DELETE FROM drives WHERE time_start BETWEEN ? AND ?", &stmtDelDrives, pstrErr) ||
        !FPrepare(pdb, "DELETE FROM charges WHERE time_start BETWEEN ? AND ?", &stmtDelCharges, pstrErr) ||
        !FPrepare(pdb, "DELETE FROM charge_curves WHERE time_start BETWEEN ? AND ?", &stmtDelCurves, pstrErr) ||
        !FPrepare(pdb,
                  "INSERT INTO drives (time_start, time_end, duration, soc_start, soc_end, miles, mph_average, mph_max, "
                  "odometer, odometer_read, wh, ah_in, ah_out, tc_off, temp_battery, volts_rest, volts_rest_readings) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                  &stmtDrive, pstrErr) ||
        !FPrepare(pdb,
                  "INSERT INTO charges (time_start, time_end, duration, soc_start, soc_end, volts_line, "
                  "volts_line_readings, amps_max, amps_available, wh, ah_in, ah_out, wall_to_wheel, miles_since_charge, "
                  "temp_battery, battery_readings, wh_battery, wh_wall_paired, loss_pct) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                  &stmtCharge, pstrErr) ||
        !FPrepare(pdb, "INSERT INTO charge_curves (time_start, soc, kw) VALUES (?, ?, ?)", &stmtCurve, pstrErr))
        return false;
    for (STMT* pstmt : {&stmtDelDrives, &stmtDelCharges, &stmtDelCurves}) {
        BindInt64(pstmt, 1, timestampKeep);
        BindInt64(pstmt, 2, timestampLast);
        if (!FStepDone(pdb, pstmt, "can't write the drives and charges", pstrErr))
            return false;
    }
    for (size_t ids = 0; ids < sessions.rgds.size(); ids++) {
        DRIVESESSION const& ds = sessions.rgds[ids];
        if (ds.timestampStart < timestampKeep || ds.timestampStart > timestampLast)
            continue;
        STMT* p = &stmtDrive;
        BindInt64(p, 1, ds.timestampStart);
        BindInt64(p, 2, ds.timestampEnd);
        BindInt64(p, 3, ds.secDuration);
        BindIntIf(p, 4, ds.pctSOCStart >= 0, ds.pctSOCStart);
        BindIntIf(p, 5, ds.pctSOCEnd >= 0, ds.pctSOCEnd);
        BindDouble(p, 6, ds.miles);
        BindDouble(p, 7, ds.mphAverage);
        BindDouble(p, 8, ds.mphMax);
        BindIf(p, 9, ds.fOdometer, ds.milesOdo);
        BindInt64(p, 10, ds.fOdometer && ds.fOdoCurrent ? 1 : 0);
        BindDouble(p, 11, ds.wh);
        BindDouble(p, 12, ds.ahIn);
        BindDouble(p, 13, ds.ahOut);
        BindInt64(p, 14, ds.cTCOff);
        BindIf(p, 15, ds.cdegBattery > 0, ds.degBatteryAverage);
        RESTVOLTS const& rest = sessions.rgrest[ids];
        BindIf(p, 16, rest.cvolts > 0, rest.cvolts > 0 ? rest.voltsSum / (double)rest.cvolts : 0);
        BindInt64(p, 17, rest.cvolts);
        if (!FStepDone(pdb, p, "can't write the drives", pstrErr))
            return false;
    }
    for (size_t ics = 0; ics < sessions.rgcs.size(); ics++) {
        CHARGESESSION const& cs = sessions.rgcs[ics];
        if (cs.timestampStart < timestampKeep || cs.timestampStart > timestampLast)
            continue;
        STMT* p = &stmtCharge;
        BindInt64(p, 1, cs.timestampStart);
        BindInt64(p, 2, cs.timestampEnd);
        BindInt64(p, 3, cs.secDuration);
        BindIntIf(p, 4, cs.pctSOCStart >= 0, cs.pctSOCStart);
        BindIntIf(p, 5, cs.pctSOCEnd >= 0, cs.pctSOCEnd);
        BindIf(p, 6, cs.cVoltsLine > 0, cs.voltsLineAverage);
        BindInt64(p, 7, cs.cVoltsLine);
        BindIf(p, 8, cs.ampsMax != 0, cs.ampsMax);
        BindIntIf(p, 9, cs.ampsAvailable != 0, cs.ampsAvailable);
        BindDouble(p, 10, cs.kwh * 1000);
        BindDouble(p, 11, cs.ahIn);
        BindDouble(p, 12, cs.ahOut);
        BindInt64(p, 13, cs.fWallToWheel ? 1 : 0);
        BindDouble(p, 14, cs.milesSinceCharge);
        BindIf(p, 15, cs.cdegBattery > 0, cs.degBatteryAverage);
        BindInt64(p, 16, cs.cBattery);
        BindIf(p, 17, cs.cBattery > 0, cs.whBattery);
        BindIf(p, 18, cs.cBattery > 0, cs.whWallPaired);
        double const pctLoss = PctLossOfCharge(&cs);
        BindIf(p, 19, pctLoss != pctLossNone, pctLoss);
        if (!FStepDone(pdb, p, "can't write the charges", pstrErr))
            return false;
        for (SOCPOWER const& sp : sessions.rgcurve[ics]) {
            BindInt64(&stmtCurve, 1, cs.timestampStart);
            BindDouble(&stmtCurve, 2, sp.pct);
            BindDouble(&stmtCurve, 3, sp.kw);
            if (!FStepDone(pdb, &stmtCurve, "can't write the charging curves", pstrErr))
                return false;
        }
    }
    return true;
}

// ---- The owner's figures ----------------------------------------------------------------------

// Reads rows of szSql one by one into pfn; false with the message.
template <class FN>
bool FEachRow(sqlite3* pdb, char const* szSql, FN fn, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, szSql, &stmt, pstrErr))
        return false;
    int rc;
    while ((rc = sqlite3_step(stmt.pstmt)) == SQLITE_ROW)
        fn(stmt.pstmt);
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the decoded tables");
        return false;
    }
    return true;
}

bool FNull(sqlite3_stmt* pstmt, int i)
{
    return sqlite3_column_type(pstmt, i) == SQLITE_NULL;
}

bool FTakeHistoryStart(void* pv, uint32_t, uint8_t const* pb, size_t cb)
{
    RECORDS recs;
    AppendRecords(&recs, pb, cb);
    for (RECINFO const& info : recs.rgrec) {
        if (info.rt == rtVINF) {
            *(uint32_t*)pv = info.timestamp;
            return false;
        }
    }
    return true;
}

// What the owner's figures are made of, as the car page takes it from the same records: the
// sessions' spans, the hourly status of credible times, the daily figures, the pack's resting
// voltage over every drive.
bool FReadOwnerInputs(sqlite3* pdb, std::vector<SESSIONSPAN>* prgspan, std::vector<IDLESAMPLE>* prgidle,
                      std::vector<DAYSAMPLE>* prgday, double* pvoltsPack, std::string* pstrErr)
{
    std::vector<SESSIONSPAN> rgspanDrive, rgspanCharge;
    auto takeSpan = [](std::vector<SESSIONSPAN>* prg) {
        return [prg](sqlite3_stmt* pstmt) {
            prg->push_back(SESSIONSPAN{(uint32_t)sqlite3_column_int64(pstmt, 0), (uint32_t)sqlite3_column_int64(pstmt, 1)});
        };
    };
    double voltsSum = 0;
    long cvolts = 0;
    unsigned int const timestampNow = (unsigned int)time(nullptr);
    // The history starts, as the joined log does, at its first vehicle-info record: the hourly
    // status of the ring's remains before it is no part of it, and without one there is none.
    uint32_t timestampStart = UINT32_MAX;
    if (!FReadRuns(pdb, partTransient, 0, FTakeHistoryStart, &timestampStart, pstrErr))
        return false;
    bool fOk =
        FEachRow(pdb, "SELECT time_start, time_end FROM drives ORDER BY time_start, id", takeSpan(&rgspanDrive), pstrErr) &&
        FEachRow(pdb, "SELECT time_start, time_end FROM charges ORDER BY time_start, id", takeSpan(&rgspanCharge),
                 pstrErr) &&
        FEachRow(pdb, "SELECT volts_rest, volts_rest_readings FROM drives WHERE volts_rest_readings > 0",
                 [&](sqlite3_stmt* pstmt) {
                     voltsSum += sqlite3_column_double(pstmt, 0) * (double)sqlite3_column_int64(pstmt, 1);
                     cvolts += (long)sqlite3_column_int64(pstmt, 1);
                 },
                 pstrErr) &&
        FEachRow(pdb, "SELECT ts, soc, temp_max, volts_brick_min, volts_brick_max FROM idle ORDER BY ts",
                 [&](sqlite3_stmt* pstmt) {
                     IDLESAMPLE idle{};
                     idle.timestamp = (uint32_t)sqlite3_column_int64(pstmt, 0);
                     if (idle.timestamp < timestampStart || !FCredibleTime(idle.timestamp, timestampNow))
                         return;
                     idle.pctSOC = FNull(pstmt, 1) ? -1 : sqlite3_column_int(pstmt, 1);
                     idle.fTemp = !FNull(pstmt, 2);
                     idle.degMax = (float)sqlite3_column_double(pstmt, 2);
                     idle.fBrickVolts = !FNull(pstmt, 3) && !FNull(pstmt, 4);
                     idle.voltsBrickMin = (float)sqlite3_column_double(pstmt, 3);
                     idle.voltsBrickMax = (float)sqlite3_column_double(pstmt, 4);
                     prgidle->push_back(idle);
                 },
                 pstrErr) &&
        FEachRow(pdb, "SELECT ts, cac, brick_ah_min, brick_ah_average, odometer FROM days ORDER BY ts",
                 [&](sqlite3_stmt* pstmt) {
                     prgday->push_back(DAYSAMPLE{(uint32_t)sqlite3_column_int64(pstmt, 0), sqlite3_column_double(pstmt, 1),
                                                 sqlite3_column_double(pstmt, 2), sqlite3_column_double(pstmt, 3),
                                                 sqlite3_column_double(pstmt, 4)});
                 },
                 pstrErr);
    if (!fOk)
        return false;
    SpansOf(rgspanDrive, rgspanCharge, prgspan);
    *pvoltsPack = cvolts > 0 ? voltsSum / (double)cvolts : 0;
    return true;
}

void BindTrend(STMT* pstmt, int i, TREND const& trend)
{
    BindIf(pstmt, i, trend.fFit, trend.vAt0);
    BindIf(pstmt, i + 1, trend.fFit, trend.slope);
}

bool FWriteOwnerFigures(sqlite3* pdb, OWNERFIGURES const& fig, std::vector<DAYSAMPLE> const& rgday, bool fEnergy,
                        std::string* pstrErr)
{
    STMT stmtParked, stmtHealth, stmtBand, stmtImbalance;
    if (!FExec(pdb, "DELETE FROM parked; DELETE FROM battery_health; DELETE FROM park_bands; DELETE FROM imbalance",
               pstrErr) ||
        !FPrepare(pdb, "INSERT INTO imbalance (day, mv_mean, mv_max, samples) VALUES (?, ?, ?, ?)", &stmtImbalance,
                  pstrErr) ||
        !FPrepare(pdb,
                  "INSERT INTO parked (time_start, time_end, soc_start, soc_end, hours, soc_lost, wh_lost, "
                  "soc_lost_per_day, wh_lost_per_day) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                  &stmtParked, pstrErr) ||
        !FPrepare(pdb,
                  "INSERT INTO battery_health (days, time_first, days_span, cac_first, cac_now, share_left_pct, "
                  "cac_at_first_day, cac_per_day, cac_at_no_miles, cac_per_mile, brick_ah_at_first_day, "
                  "brick_ah_per_day) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                  &stmtHealth, pstrErr) ||
        !FPrepare(pdb, "INSERT INTO park_bands (soc_band, temp_band, hours) VALUES (?, ?, ?)", &stmtBand, pstrErr))
        return false;
    for (PARKED const& parked : fig.rgparked) {
        STMT* p = &stmtParked;
        BindInt64(p, 1, parked.timestampStart);
        BindInt64(p, 2, parked.timestampEnd);
        BindInt64(p, 3, parked.pctStart);
        BindInt64(p, 4, parked.pctEnd);
        BindDouble(p, 5, parked.hours);
        BindDouble(p, 6, parked.pctLost);
        BindIf(p, 7, fEnergy, parked.whLost);
        BindDouble(p, 8, parked.pctPerDay);
        BindIf(p, 9, fEnergy, parked.whPerDay);
        if (!FStepDone(pdb, p, "can't write the parked stretches", pstrErr))
            return false;
    }
    HEALTH const& health = fig.health;
    if (health.cday > 0) {
        STMT* p = &stmtHealth;
        BindInt64(p, 1, health.cday);
        BindInt64(p, 2, rgday.front().timestamp);
        BindDouble(p, 3, health.daysSpan);
        BindDouble(p, 4, health.ahCACFirst);
        BindIf(p, 5, health.pctLeft >= 0, health.ahCACNow);
        BindIf(p, 6, health.pctLeft >= 0, health.pctLeft);
        BindTrend(p, 7, health.trendByAge);
        BindTrend(p, 9, health.trendByMiles);
        BindTrend(p, 11, health.trendBrickByAge);
        if (!FStepDone(pdb, p, "can't write the battery's health", pstrErr))
            return false;
    }
    for (IMBALANCE const& imb : fig.rgimb) {
        BindText(&stmtImbalance, 1, StrDayOfSecCivil(imb.secCivilDay));
        BindDouble(&stmtImbalance, 2, imb.mvMean);
        BindDouble(&stmtImbalance, 3, imb.mvMax);
        BindInt64(&stmtImbalance, 4, imb.csample);
        if (!FStepDone(pdb, &stmtImbalance, "can't write the imbalance", pstrErr))
            return false;
    }
    if (fig.bands.hoursAll > 0) {
        for (int isoc = 0; isoc < cbandSOC; isoc++) {
            for (int itemp = 0; itemp < cbandTemp; itemp++) {
                BindInt64(&stmtBand, 1, isoc);
                BindInt64(&stmtBand, 2, itemp);
                BindDouble(&stmtBand, 3, fig.bands.rghours[isoc][itemp]);
                if (!FStepDone(pdb, &stmtBand, "can't write the hours parked", pstrErr))
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

bool FRecomputeOwnerFigures(sqlite3* pdb, std::string* pstrErr)
{
    std::vector<SESSIONSPAN> rgspan;
    std::vector<IDLESAMPLE> rgidle;
    std::vector<DAYSAMPLE> rgday;
    double voltsPack = 0;
    if (!FReadOwnerInputs(pdb, &rgspan, &rgidle, &rgday, &voltsPack, pstrErr))
        return false;
    OWNERFIGURES fig;
    OwnerFiguresOf(rgspan, rgidle, rgday, voltsPack, &fig);
    // The energy is known only where a capacity and a pack voltage are.
    return FWriteOwnerFigures(pdb, fig, rgday, !rgday.empty() && voltsPack > 0, pstrErr);
}

bool FRecomputeSessions(sqlite3* pdb, uint32_t timestampChanged, uint32_t timestampChangedLast, std::string* pstrErr)
{
    uint32_t timestampWalk = 0, timestampKeep = 0;
    pstrErr->clear();
    if (!FFindRestart(pdb, timestampChanged, &timestampWalk, &timestampKeep, pstrErr))
        return false;
    WALKLOG logLead;
    uint32_t bucketFirst = timestampWalk >> cbitBucket;
    if (bucketFirst > 0 && !FReadRunsBackwards(pdb, partTransient, bucketFirst - 1, FTakeLeadRun, &logLead, pstrErr))
        return false;
    if (!logLead.fLead) {
        bucketFirst = 0;
        timestampKeep = 0;
    }
    // Past the change the walk meets the held sessions again: it goes a few days into the held
    // records after the change, further each time it has not met them yet, so that what it holds
    // stays a little past the change.
    int64_t timestampHeldNext = 0;
    bool fFound = false;
    if (!FQueryOne(pdb, "SELECT min(time_first) FROM records WHERE id BETWEEN ? AND ?",
                   IdRun(partTransient, (timestampChangedLast >> cbitBucket) + 1), &timestampHeldNext, &fFound,
                   pstrErr, IdRun(partTransient, (uint32_t)(cbucketPart - 1))))
        return false;
    uint64_t timestampPastFrom = std::max((uint64_t)timestampChangedLast, fFound ? (uint64_t)timestampHeldNext : 0);
    uint64_t secPast = 2 * secConvergeWindow;
    for (;;) {
        WALKLOG log;
        log.recs = logLead.recs;
        log.fLead = log.fStarted = logLead.fLead;
        uint64_t timestampLast = timestampPastFrom + secPast;
        log.bucketLast = timestampLast >= timestampErased ? (uint32_t)(cbucketPart - 1) : (uint32_t)(timestampLast >> cbitBucket);
        if (!FReadRuns(pdb, partTransient, bucketFirst, FTakeWalkRun, &log, pstrErr))
            return false;
        SESSIONS sessions;
        SESSIONSINK sink{TakeDrive, TakeCharge, &sessions, TakeWalkRecord};
        WalkSessions(log.recs, &sink);
        if (!log.fMore)
            return FWriteSessions(pdb, sessions, timestampKeep, timestampErased, pstrErr);
        uint32_t timestampMet = 0;
        uint32_t timestampTrusted = (uint32_t)(((uint64_t)log.bucketLast << cbitBucket) - secConvergeWindow);
        if (!FFindMeeting(pdb, sessions, timestampChangedLast, timestampTrusted, &timestampMet, pstrErr))
            return false;
        if (timestampMet != 0)
            return FWriteSessions(pdb, sessions, timestampKeep, timestampMet, pstrErr);
        secPast *= 2;
    }
}

bool FDeriveChanged(sqlite3* pdb, std::vector<uint32_t> const& rgbucketChanged, RECORDS const& recsLongTermNew,
                    int rver, unsigned int timestampLastValid, std::string* pstrErr)
{
    POINTWRITER pw;
    pw.pdb = pdb;
    pw.timestampLastValid = timestampLastValid;
    if (!FPrepareWriter(&pw, pstrErr))
        return false;
    pw.part = partTransient;
    STMT stmtRun;
    if (!FPrepare(pdb, "SELECT bytes FROM records WHERE id = ?", &stmtRun, pstrErr))
        return false;
    uint32_t bucketChanged = cbucketPart, bucketChangedLast = 0;
    for (uint32_t bucket : rgbucketChanged) {
        if (!FRederiveRun(&pw, &stmtRun, bucket, rver, pstrErr))
            return false;
        bucketChanged = std::min(bucketChanged, bucket);
        bucketChangedLast = std::max(bucketChangedLast, bucket);
    }
    pw.part = partLongTerm;
    DecodeRecords(recsLongTermNew, 0, recsLongTermNew.rgrec.size(), rver, TakeDecoded, &pw);
    if (pw.fFailed) {
        *pstrErr = pw.strErr;
        return false;
    }
    if ((pw.fNewVinf || pw.fNewDay) && !FRecomputeFirmware(pdb, rver, pstrErr))
        return false;
    if (rgbucketChanged.empty())
        return !pw.fNewDay || FRecomputeOwnerFigures(pdb, pstrErr);
    return FRecomputeSessions(pdb, bucketChanged << cbitBucket, (bucketChangedLast << cbitBucket) + (secBucket - 1),
                              pstrErr) &&
           FRecomputeOwnerFigures(pdb, pstrErr);
}

bool FRecomputeAllOwnerFigures(sqlite3* pdb, std::string* pstrErr)
{
    // A change that reaches past every held record walks the whole history and meets nothing.
    return FRecomputeSessions(pdb, 0, timestampErased - 1, pstrErr) && FRecomputeOwnerFigures(pdb, pstrErr);
}
