// Opening a download: a plain log mapped whole, or the vms_log member of a tar download mapped in
// place, and the download time that a download's name gives.
#include "input/download.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>

#include "support/timecal.h"

namespace {

constexpr int cchDate = 20;

// The member the search keeps: the last one named vms_log (ibData stays 0 when there is none).
struct FINDLOG {
    MEMBERHOOK const* phook;
    TARF tarfLog;
};

int FTakeMember(TARF const& tarf, void* pv)
{
    FINDLOG* pfind = (FINDLOG*)pv;
    if (pfind->phook && pfind->phook->pfnMember)
        pfind->phook->pfnMember(pfind->phook->pv, tarf);
    if (strcmp(tarf.szName, "vms_log") == 0)
        pfind->tarfLog = tarf;
    return 1;
}

// The tar reader opens with standard I/O, which would wait forever on a FIFO without a writer, so
// anything but a regular file is turned away before it gets there.
int ErrRegularFile(char const* pszPath)
{
    struct stat st;
    if (stat(pszPath, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    return S_ISREG(st.st_mode) ? 0 : ENODEV;
}

OPENRESULT OpenTarballLog(STREAM* pstream, char const* pszPath, MEMBERHOOK const* phook, OPENERROR* perror)
{
    TAR tar;
    perror->err = ErrRegularFile(pszPath);
    if (perror->err != 0)
        return openNoLog;
    if (!tar.FOpen(pszPath)) {
        perror->err = errno;
        return openNoLog;
    }
    if (phook && phook->pfnOpened)
        phook->pfnOpened(phook->pv);
    FINDLOG find{};
    find.phook = phook;
    tar.Scan(FTakeMember, &find);
    tar.Close();
    // A walk that a failed read cut short may have missed the log; one that found it reads it.
    if (tar.ErrScan() != 0 && find.tarfLog.ibData == 0) {
        perror->err = tar.ErrScan();
        return openNoLog;
    }
    // An empty member has nothing to map; asking for it would only add a system complaint.
    if (find.tarfLog.ibData != 0 && find.tarfLog.cb > 0 &&
        !pstream->FOpenFileSegment(pszPath, (unsigned long)find.tarfLog.ibData, (unsigned long)find.tarfLog.cb))
        perror->err = errno;
    perror->errMap = pstream->ErrMap();
    return pstream->CbSize() > 0 ? openOk : openNoLog;
}

}   // namespace

bool FTarballName(char const* pszPath)
{
    size_t cch = strlen(pszPath);
    return cch >= 5 && strcasecmp(pszPath + cch - 4, ".tar") == 0;
}

bool FDownloadTime(char const* pszPath, unsigned int* ptimestamp)
{
    const char* pszSlash = strrchr(pszPath, '/');
    if (!pszSlash)
        return false;
    int year, month, day, hour, minute;
    if (sscanf(pszSlash + 1, "%4d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute) != 5)
        return false;
    char szDate[cchDate];
    snprintf(szDate, sizeof szDate, "%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour, minute, 0);
    *ptimestamp = TimestampFromDate(szDate);
    return true;
}

OPENRESULT OpenDownload(STREAM* pstream, char const* pszPath, MEMBERHOOK const* phook, OPENERROR* perror)
{
    *perror = OPENERROR{};
    if (FTarballName(pszPath))
        return OpenTarballLog(pstream, pszPath, phook, perror);
    errno = 0;
    if (pstream->FOpenFile(pszPath))
        return openOk;
    perror->err = errno;
    perror->errMap = pstream->ErrMap();
    return openNoFile;
}

bool FOpenDownloadSayingWhy(char const* pszPath, STREAM* pstream, unsigned int* ptimestampLastValid,
                            std::string* pstrErr)
{
    unsigned int const timestampNow = (unsigned int)time(nullptr);
    *ptimestampLastValid = timestampNow;
    struct stat st;
    if (stat(pszPath, &st) != 0) {
        *pstrErr = std::string("can't open '") + pszPath + "': " + strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *pstrErr = std::string("'") + pszPath + "' is not a regular file";
        return false;
    }
    OPENERROR openerr;
    switch (OpenDownload(pstream, pszPath, nullptr, &openerr)) {
    case openOk:
        break;
    case openNoLog:
        if (openerr.err != 0)
            *pstrErr = std::string("can't read '") + pszPath + "': " + strerror(openerr.err);
        else
            *pstrErr = std::string("could not find vms_log in '") + pszPath + "'";
        return false;
    case openNoFile:
        *pstrErr = std::string("can't open '") + pszPath + "': " +
                   (openerr.err == 0 ? "file is empty" : strerror(openerr.err));
        return false;
    }
    // The download's name bounds its times, as quenfell reads it, so every program sees the same sessions.
    unsigned int timestampDownload;
    if (FTarballName(pszPath) && FDownloadTime(pszPath, &timestampDownload))
        *ptimestampLastValid = timestampDownload;
    return true;
}
