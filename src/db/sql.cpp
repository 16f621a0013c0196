// Statements and messages over SQLite's C API.
#include "db/sql.h"


std::string StrSqlError(sqlite3* pdb, int rc, char const* szWhat)
{
    std::string str = szWhat;
    str += ": ";
    // A write that the system refuses outright (rather than cutting it short, which SQLite calls a
    // full disk) comes back as a write error: a file past its size limit, a full quota.
    if (rc == SQLITE_IOERR_WRITE) {
        str += "the disk refused to write (it may be full, or the file may grow no larger)";
        return str;
    }
    switch (rc & 0xFF) {
    case SQLITE_FULL:
        str += "the disk is full";
        break;
    case SQLITE_READONLY:
        str += "the database can only be read here (a read-only file or folder)";
        break;
    case SQLITE_BUSY:
        str += "the database is locked by another program";
        break;
    default:
        str += pdb ? sqlite3_errmsg(pdb) : sqlite3_errstr(rc);
        break;
    }
    return str;
}

bool FPrepare(sqlite3* pdb, char const* szSql, STMT* pstmt, std::string* pstrErr)
{
    sqlite3_finalize(pstmt->pstmt);
    pstmt->pstmt = nullptr;
    int rc = sqlite3_prepare_v2(pdb, szSql, -1, &pstmt->pstmt, nullptr);
    if (rc != SQLITE_OK) {
        *pstrErr = StrSqlError(pdb, rc, "can't prepare a statement");
        return false;
    }
    return true;
}

bool FExec(sqlite3* pdb, char const* szSql, std::string* pstrErr)
{
    int rc = sqlite3_exec(pdb, szSql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        *pstrErr = StrSqlError(pdb, rc, "can't change the database");
        return false;
    }
    return true;
}

bool FQueryInt64(sqlite3* pdb, char const* szSql, int64_t* pn, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, szSql, &stmt, pstrErr))
        return false;
    int rc = sqlite3_step(stmt.pstmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the database");
        return false;
    }
    *pn = rc == SQLITE_ROW ? sqlite3_column_int64(stmt.pstmt, 0) : 0;
    return true;
}

bool FStepDone(sqlite3* pdb, STMT* pstmt, char const* szWhat, std::string* pstrErr)
{
    int rc = sqlite3_step(pstmt->pstmt);
    sqlite3_reset(pstmt->pstmt);
    sqlite3_clear_bindings(pstmt->pstmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        *pstrErr = StrSqlError(pdb, rc, szWhat);
        return false;
    }
    return true;
}
