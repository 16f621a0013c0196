// Fuzz target for adding downloads to the history database: any bytes as one or two downloads of
// a fresh database, added, added again and written back as the joined log (and, in some inputs,
// as priced CSV files with the owner's figures). Nothing may crash, the database must stay whole,
// and the log written back after the first download must be that download's own join: its
// records as the join takes them, from the first vehicle-info record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "db/export.h"
#include "db/ingest.h"
#include "db/schema.h"
#include "db/store.h"
#include "fuzz_temp.h"
#include "support/timecal.h"

namespace {

std::string s_strDir;

void WriteFileOrDie(std::string const& strPath, uint8_t const* pb, size_t cb)
{
    int fd = open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || (cb > 0 && write(fd, pb, cb) != (ssize_t)cb) || close(fd) != 0)
        abort();
}

// A download holding the bytes as its one member, padded to whole blocks as an archiver does.
void WriteTarball(std::string const& strPath, uint8_t const* pb, size_t cb)
{
    std::string str(512, '\0');
    strcpy(&str[0], "vms_log");
    snprintf(&str[100], 8, "%07o", 0644);
    snprintf(&str[124], 12, "%011llo", (unsigned long long)cb);
    str[156] = '0';
    memcpy(&str[257], "ustar", 6);
    memcpy(&str[148], "        ", 8);
    unsigned sum = 0;
    for (unsigned char ch : str)
        sum += ch;
    snprintf(&str[148], 8, "%06o", sum);
    str.append((char const*)pb, cb);
    str.resize((str.size() + 511) / 512 * 512 + 1024, '\0');
    WriteFileOrDie(strPath, (uint8_t const*)str.data(), str.size());
}

std::string StrRead(std::string const& strPath)
{
    std::string str;
    FILE* pfile = fopen(strPath.c_str(), "rb");
    if (!pfile)
        return str;
    char rgch[65536];
    size_t cb;
    while ((cb = fread(rgch, 1, sizeof rgch, pfile)) > 0)
        str.append(rgch, cb);
    fclose(pfile);
    return str;
}

void RemoveDatabase(std::string const& strDb)
{
    unlink(strDb.c_str());
    unlink((strDb + "-wal").c_str());
    unlink((strDb + "-shm").c_str());
}

// The join of the one download: its transient records from the first vehicle-info record on.
std::string StrOwnJoin(std::string const& strPath)
{
    DOWNLOAD dl;
    std::string strErr;
    std::string str;
    if (!FReadDownload(strPath.c_str(), &dl, &strErr))
        return str;
    bool fStarted = false;
    for (size_t irec = 0; irec < dl.transient.rgrec.size(); irec++) {
        fStarted = fStarted || dl.transient.rgrec[irec].rt == rtVINF;
        if (fStarted)
            str.append((char const*)PbRecord(dl.transient, irec), dl.transient.rgrec[irec].cb);
    }
    return str;
}

void CheckWhole(HISTDB* phdb)
{
    sqlite3_stmt* pstmt = nullptr;
    if (sqlite3_prepare_v2(phdb->pdb, "PRAGMA integrity_check", -1, &pstmt, nullptr) != SQLITE_OK ||
        sqlite3_step(pstmt) != SQLITE_ROW || strcmp((char const*)sqlite3_column_text(pstmt, 0), "ok") != 0)
        abort();
    sqlite3_finalize(pstmt);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string strTemplate = StrTempTemplate("db");
    if (!mkdtemp(&strTemplate[0]))
        abort();
    s_strDir = strTemplate;
    FSetZones("UTC");
    return 0;
}

// The first byte: bit 0 the first download as a *.tar, bit 1 the second; the rest is cut in two
// where the second byte says.
extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size)
{
    if (size < 2)
        return 0;
    uint8_t bMode = data[0];
    size_t cbFirst = (size - 2) * data[1] / 255;
    uint8_t const* pbFirst = data + 2;
    uint8_t const* pbSecond = pbFirst + cbFirst;
    size_t cbSecond = size - 2 - cbFirst;
    std::string strFirst = s_strDir + ((bMode & 1) ? "/200906051330.tar" : "/first.log");
    std::string strSecond = s_strDir + ((bMode & 2) ? "/200906101330.tar" : "/second.log");
    if (bMode & 1)
        WriteTarball(strFirst, pbFirst, cbFirst);
    else
        WriteFileOrDie(strFirst, pbFirst, cbFirst);
    if (bMode & 2)
        WriteTarball(strSecond, pbSecond, cbSecond);
    else
        WriteFileOrDie(strSecond, pbSecond, cbSecond);

    std::string strDb = s_strDir + "/car.db";
    std::string strJoined = s_strDir + "/joined.log";
    RemoveDatabase(strDb);
    {
        HISTDB hdb;
        std::string strErr;
        if (!FOpenHistory(strDb.c_str(), true, nullptr, nullptr, &hdb, &strErr))
            abort();
        sqlite3_exec(hdb.pdb, "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
        ADDED added;
        ADDRESULT result = AddDownload(&hdb, strFirst.c_str(), nullptr, nullptr, &added, &strErr);
        if (result == addFailed)
            abort();
        long crec = 0;
        if (result == addDone) {
            if (added.crecNew + added.crecHeld != added.crec)
                abort();
            if (!FWriteJoinedLog(&hdb, strJoined.c_str(), &crec, &strErr) || StrRead(strJoined) != StrOwnJoin(strFirst))
                abort();
            if (AddDownload(&hdb, strFirst.c_str(), nullptr, nullptr, &added, &strErr) != addDone || !added.fAlreadyAdded)
                abort();
        }
        if (AddDownload(&hdb, strSecond.c_str(), nullptr, nullptr, &added, &strErr) == addFailed)
            abort();
        CheckWhole(&hdb);
        if (!FWriteJoinedLog(&hdb, strJoined.c_str(), &crec, &strErr))
            abort();
        // The owner's figures of whatever was added, priced across midnight, are written whole.
        if (bMode & 4) {
            PRICE price;
            char const* pszWhy = nullptr;
            int cfile = 0;
            if (!FParsePriceOption("0.30,0.12@23:00-07:00", &price, &pszWhy) ||
                !FWriteCsvFiles(&hdb, (s_strDir + "/csv").c_str(), &price, &cfile, &strErr))
                abort();
        }
    }
    RemoveDatabase(strDb);
    return 0;
}
