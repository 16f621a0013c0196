// Opening a download: a plain log, or the log inside a tar download (its last member named
// vms_log), and what a download's name tells. Every program that reads downloads opens them here.
#pragma once

#include <string>

#include "input/stream.h"
#include "input/tar.h"

// A name that ends in ".tar" (any case): a download to look into for its vms_log member.
bool FTarballName(char const* pszPath);

// A download named like 200906051330.tar (given with a directory) tells when it was taken: no
// record of it can be newer. False when the name tells nothing (an unknown date gives 0).
bool FDownloadTime(char const* pszPath, unsigned int* ptimestamp);

// What a tar download shows while it is searched: that it opened (its members follow), then each
// member in archive order. Either may be null.
struct MEMBERHOOK {
    void* pv;
    void (*pfnOpened)(void* pv);
    void (*pfnMember)(void* pv, TARF const& tarf);
};

enum OPENRESULT {
    openOk,
    openNoFile,     // a plain log that could not be opened or mapped, or is empty
    openNoLog,      // a tar download that could not be read, or holds no vms_log member to read
};

// Why an open failed: errno of the open or read that failed (0 for an empty file, or a tar that was
// read but holds no log to read). errMap is the errno of a mapping that could not be made, whose
// bytes were read instead (the open may still have succeeded).
struct OPENERROR {
    int err;
    int errMap;
};

// Opens pstream on the log of the download at pszPath (a tar download when FTarballName says so).
// Only regular files are read: anything else is turned away before a read could wait on it.
OPENRESULT OpenDownload(STREAM* pstream, char const* pszPath, MEMBERHOOK const* phook, OPENERROR* perror);

// OpenDownload for the programs that name their failures themselves (the car page, the history
// database): only a regular file is opened, and *pstrErr says why one could not be ("can't open
// 'x': reason", "could not find vms_log in 'x'", ...). *ptimestampLastValid is the newest time a
// record of it can have: the download's time from its name, as quenfell reads it, else now.
bool FOpenDownloadSayingWhy(char const* pszPath, STREAM* pstream, unsigned int* ptimestampLastValid,
                            std::string* pstrErr);
