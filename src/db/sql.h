// The few pieces of SQLite's C API the history database uses, in the shape the rest of it wants:
// statements that finalize themselves, and every failure turned into a message.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>

// A prepared statement, finalized when it goes.
struct STMT {
    sqlite3_stmt* pstmt = nullptr;
    STMT() = default;
    STMT(STMT const&) = delete;
    STMT& operator=(STMT const&) = delete;
    ~STMT() { sqlite3_finalize(pstmt); }
};

// Why the last call on pdb failed, after szWhat: "szWhat: disk I/O error". SQLITE_FULL and the
// read-only codes get words a user can act on.
std::string StrSqlError(sqlite3* pdb, int rc, char const* szWhat);

// Prepares szSql into *pstmt (finalizing what it held); false with the message.
bool FPrepare(sqlite3* pdb, char const* szSql, STMT* pstmt, std::string* pstrErr);
// Runs statements that return no rows; false with the message.
bool FExec(sqlite3* pdb, char const* szSql, std::string* pstrErr);
// Runs a statement that returns one integer (0 when it returns no row).
bool FQueryInt64(sqlite3* pdb, char const* szSql, int64_t* pn, std::string* pstrErr);

// Steps a statement that returns no rows and resets it for the next bindings.
bool FStepDone(sqlite3* pdb, STMT* pstmt, char const* szWhat, std::string* pstrErr);

inline void BindInt64(STMT* pstmt, int i, int64_t n) { sqlite3_bind_int64(pstmt->pstmt, i, n); }
inline void BindDouble(STMT* pstmt, int i, double d) { sqlite3_bind_double(pstmt->pstmt, i, d); }
inline void BindNull(STMT* pstmt, int i) { sqlite3_bind_null(pstmt->pstmt, i); }
inline void BindText(STMT* pstmt, int i, std::string const& str)
{
    sqlite3_bind_text(pstmt->pstmt, i, str.data(), (int)str.size(), SQLITE_TRANSIENT);
}
// The blob must stay unchanged until the statement is stepped.
inline void BindBlob(STMT* pstmt, int i, void const* pv, size_t cb)
{
    sqlite3_bind_blob64(pstmt->pstmt, i, cb > 0 ? pv : "", (sqlite3_uint64)cb, SQLITE_STATIC);
}
