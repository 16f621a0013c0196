// What the history database's tests share: running quenfell-db, the overlapping downloads of one
// car made by genlog, a child process that can be stopped, killed and continued at a state it
// reports, and reading a database back through SQLite.
#pragma once

#include <sqlite3.h>
#include <string>
#include <sys/types.h>
#include <vector>

#include "testsupport/run.h"

RunResult RunDb(std::vector<std::string> const& args, std::string const& tz = "UTC");

// Downloads of one plan, cut four days apart (the even ones as *.tar named after their time, the
// odd ones as plain logs), made once per test program, and their join by quenfell -j.
struct CARSET {
    std::vector<std::string> rgstrPath;
    std::string strJoined;   // the bytes of quenfell -j over all of them
};
CARSET const& Downloads();
// quenfell -j over the given downloads, as bytes.
std::string JoinOf(std::vector<std::string> const& rgstrPath);
// The bytes of quenfell-db -j over the database; "" (and a test failure) when it fails.
std::string JoinedFromDb(std::string const& strDb);

// A run of quenfell-db whose standard error is read as it comes.
struct CHILD {
    pid_t pid = -1;
    int fdErr = -1;
    std::string strErr;
    ~CHILD();
};
// Starts quenfell-db with args; env holds NAME=VALUE pairs to add; cbFileMax, when not 0, is the
// largest file it may write (RLIMIT_FSIZE). With fKeepPermissions even root may not read or write
// files against their permission bits (the capabilities that allow it are dropped).
void StartDb(CHILD* pchild, std::vector<std::string> const& args, std::vector<std::string> const& env = {},
             long long cbFileMax = 0, bool fKeepPermissions = false);
// Reads standard error until it holds szText; false when the child ends first.
bool FWaitForText(CHILD* pchild, char const* szText);
// Reads to the end and returns the status (128 + signal when a signal ended it).
int WaitForEnd(CHILD* pchild);

// A value of the database, read through SQLite ("" when the query gives no row).
std::string StrQuery(std::string const& strDb, std::string const& strSql);
// Every row of every table, as text: what "the database as it was" means to the tests.
std::string StrDump(std::string const& strDb);

// The records of an RFC 4180 file (fields in double quotes may hold commas, doubled quotes and
// line ends; every record ends with CRLF); *pfWellFormed false when it breaks a rule.
std::vector<std::vector<std::string>> RowsOfCsv(std::string const& str, bool* pfWellFormed);
