// The history database file: opening it (refusing anything that is not one of ours, untouched),
// creating its tables, and bringing an older one up to the current version in place.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>

// PRAGMA application_id of every Quenfell history database ("QFDB").
constexpr int32_t idApplication = 0x51464442;
// PRAGMA user_version of the tables this build writes; docs/database.md describes them.
constexpr int versSchema = 2;

// Told when the database is locked by another run and this one starts to wait for it.
typedef void (*PFNWAITING)(void* pv);

// An open history database.
struct HISTDB {
    sqlite3* pdb = nullptr;
    std::string strPath;
    bool fCreated = false;      // this run made the file
    PFNWAITING pfnWaiting = nullptr;
    void* pvWaiting = nullptr;
    int cmsWaited = 0;          // time spent waiting for another run's lock
    HISTDB() = default;
    HISTDB(HISTDB const&) = delete;
    HISTDB& operator=(HISTDB const&) = delete;
    ~HISTDB();
};

// How long a run waits for another one to let go of the database before it gives up.
constexpr int cmsWaitMax = 10 * 60 * 1000;

// Opens the history database at pszPath for changes (fWrite; a missing or empty file is then
// created) or only to read it. Refuses, without changing a byte, a file that is not a history
// database, one written by a newer version, and for changes a file that cannot be written. An
// older version is upgraded in place. False with the message.
bool FOpenHistory(char const* pszPath, bool fWrite, PFNWAITING pfnWaiting, void* pvWaiting, HISTDB* phdb,
                  std::string* pstrErr);

// The statements that take a database from one version to the next, run inside the upgrade's
// transaction: rgstep[i] takes version i + 1 to version i + 2. pfnFill, when not null, then fills
// what the new tables and columns hold from what the database held (false with the message).
struct UPGRADESTEP {
    char const* szSql;
    bool (*pfnFill)(sqlite3* pdb, std::string* pstrErr) = nullptr;
};
// Brings the open database from its user_version (1 up to cstep + 1) to version cstep + 1, with
// the steps from its version on, in one transaction that also sets the version: a failure leaves
// it as it was. Offered to tests with steps of their own; FOpenHistory calls it with the real
// ones.
bool _FUpgradeSchema(sqlite3* pdb, UPGRADESTEP const* rgstep, int cstep, std::string* pstrErr);
