// quenfell-plot: draws one self-contained HTML page. Given the car's logs or downloads, the car's
// page (its drives, charges, efficiency, battery and events); given a battery study report (the
// output of `quenfell -b`, from a file or standard input), the battery page. Writes the page to
// standard output or to the file named with -o.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>
#include <string>
#include <vector>

#include "plot/carpage.h"
#include "plot/history.h"
#include "plot/page.h"
#include "db/export.h"
#include "db/schema.h"
#include "plot/studyreport.h"
#include "input/download.h"
#include "support/outfile.h"
#include "support/output.h"
#include "support/retry.h"
#include "support/timecal.h"

namespace {

constexpr const char* s_szUsage = "usage: quenfell-plot [-m] [-z zone] [--price PRICE[,OFFPEAK@HH:MM-HH:MM]] [-o page.html] "
                                     "[report.txt|-|car.db|log...]\n";
constexpr size_t cbSniff = 4096;

REPORT s_report;   // about a megabyte: the capacity and firmware tables at full size

// The rest of the file, appended; false with errno set when a read fails. Reads that a signal
// interrupts are made again.
bool FReadAll(int fd, std::string* pstr)
{
    char ach[65536];
    for (;;) {
        ssize_t cb = CbReadAll(fd, ach, sizeof ach);
        if (cb < 0)
            return false;
        pstr->append(ach, (size_t)cb);
        if ((size_t)cb < sizeof ach)
            return true;
    }
}

// The descriptor, closed when it goes.
struct FD {
    int fd;
    explicit FD(const char* pszPath) : fd(FdOpenRetry(pszPath, O_RDONLY | O_CLOEXEC)) {}
    ~FD()
    {
        if (fd >= 0) {
            int err = errno;
            close(fd);
            errno = err;
        }
    }
    FD(FD const&) = delete;
    FD& operator=(FD const&) = delete;
};

int Fail(const char* szWhat, const char* szPath)
{
    std::fprintf(stderr, "quenfell-plot: %s '%s': %s\n", szWhat, szPath, std::strerror(errno));
    return 1;
}

int FailWith(std::string const& strWhy)
{
    std::fprintf(stderr, "quenfell-plot: %s\n", strWhy.c_str());
    return 1;
}

// A report is text: never a NUL byte (it is printed with %s), and other bytes outside printable
// text only where a damaged log's VIN or member name was printed into it. A log's binary fields are
// full of zeros, and erased flash reads as 0xFF. An empty file is read as a report and says why it
// is none.
bool FLooksLikeReport(std::string const& str)
{
    size_t const cb = str.size() < cbSniff ? str.size() : cbSniff;
    size_t cbOdd = 0;
    for (size_t ib = 0; ib < cb; ib++) {
        unsigned char ch = (unsigned char)str[ib];
        if (ch == 0)
            return false;
        if ((ch < 0x20 && ch != '\n' && ch != '\r' && ch != '\t') || ch >= 0x7f)
            cbOdd++;
    }
    return cbOdd * 8 <= cb;
}

// A file that opens and starts as text; a file that does not open is left for the log reader to
// report.
bool FStartsAsReport(const char* pszPath)
{
    FD file(pszPath);
    if (file.fd < 0)
        return false;
    char ach[cbSniff];
    ssize_t cb = CbReadAll(file.fd, ach, sizeof ach);
    return cb > 0 && FLooksLikeReport(std::string(ach, (size_t)cb));
}

int FailWithErr(const char* szWhat, const char* szPath, int err)
{
    errno = err;
    return Fail(szWhat, szPath);
}

int WritePageOut(std::string const& strPage, const char* pszOutput)
{
    if (!pszOutput) {
        bool fOk = std::fwrite(strPage.data(), 1, strPage.size(), stdout) == strPage.size();
        if (std::fflush(stdout) != 0 || !fOk)
            return FailWithErr("can't write", "-", ErrOutput() != 0 ? ErrOutput() : errno);
        return 0;
    }
    // The page is opened only now, so inputs that do not read leave an older page alone, and it
    // takes the old page's place only once it is whole on the disk.
    OUTFILE outfile;
    int err = ErrOpenOutFile(&outfile, pszOutput);
    if (err != 0)
        return FailWithErr("can't create", pszOutput, err);
    WriteOutFile(&outfile, strPage.data(), strPage.size());
    err = ErrCommitOutFile(&outfile);
    if (err != 0)
        return FailWithErr("can't write", pszOutput, err > 0 ? err : EIO);
    return 0;
}

int PlotReport(std::string const& strReport, const char* pszOutput)
{
    PARSEERR err;
    if (!FParseReport(strReport.data(), strReport.size(), &s_report, &err)) {
        std::fprintf(stderr, "quenfell-plot: line %d: %s\n", err.iLine, err.achMsg);
        return 1;
    }
    std::string strPage;
    WritePage(&s_report, &strPage);
    return WritePageOut(strPage, pszOutput);
}

int PlotLogs(std::vector<const char*> const& rgpszInput, int fMetric, const char* pszZone, PRICE const& price,
             const char* pszOutput)
{
    HISTORY hist;
    hist.price = price;
    std::string strErr;
    double hoursOffset;
    if (pszZone && !FUseTimeZone(pszZone, &hoursOffset))
        return FailWith(std::string("unknown time zone '") + pszZone + "'");
    if (!FReadHistory(rgpszInput.data(), (int)rgpszInput.size(), &hist, &strErr))
        return FailWith(strErr);
    std::string strPage;
    WriteCarPage(&hist, fMetric, &strPage);
    return WritePageOut(strPage, pszOutput);
}

// An SQLite file (the history database of quenfell-db) starts with these 16 bytes.
bool FDatabaseHeader(std::string const& strStart)
{
    static char const s_szSqlite[] = "SQLite format 3";
    return strStart.size() >= sizeof s_szSqlite && memcmp(strStart.data(), s_szSqlite, sizeof s_szSqlite) == 0;
}

// The car's page of a history database: the history it keeps decoded as the downloads it holds are,
// without them.
int PlotDatabase(const char* pszPath, int fMetric, const char* pszZone, PRICE const& price, const char* pszOutput)
{
    double hoursOffset;
    if (pszZone && !FUseTimeZone(pszZone, &hoursOffset))
        return FailWith(std::string("unknown time zone '") + pszZone + "'");
    HISTDB hdb;
    HISTORYLOGS logs;
    std::string strErr;
    if (!FOpenHistory(pszPath, false, nullptr, nullptr, &hdb, &strErr) || !FReadHistoryLogs(&hdb, &logs, &strErr))
        return FailWith(strErr);
    HISTORY hist;
    hist.price = price;
    HISTORYOFLOGS const of{logs.rgbJoined.data(), logs.rgbJoined.size(), logs.rgbLongTerm.data(),
                           logs.rgbLongTerm.size(), logs.cdownload, logs.crecJoined};
    if (!FReadHistoryOfLogs(of, &hist, &strErr))
        return FailWith(strErr);
    std::string strPage;
    WriteCarPage(&hist, fMetric, &strPage);
    return WritePageOut(strPage, pszOutput);
}

int PlotMain(int argc, char** argv)
{
    std::vector<const char*> rgpszInput;
    const char* pszOutput = nullptr;
    const char* pszZone = nullptr;
    int fMetric = 0;
    bool fStdin = false;
    PRICE price;
    for (int iarg = 1; iarg < argc; iarg++) {
        const char* psz = argv[iarg];
        if (std::strcmp(psz, "-h") == 0 || std::strcmp(psz, "--help") == 0) {
            std::fputs(s_szUsage, stdout);
            return 0;
        }
        if (std::strcmp(psz, "-o") == 0 && iarg + 1 < argc) {
            pszOutput = argv[++iarg];
        } else if (std::strcmp(psz, "-z") == 0 && iarg + 1 < argc) {
            pszZone = argv[++iarg];
        } else if (std::strcmp(psz, "--price") == 0 && iarg + 1 < argc) {
            char const* pszWhy;
            if (!FParsePrice(argv[++iarg], &price, &pszWhy))
                return FailWith(std::string("--price '") + argv[iarg] + "': " + pszWhy);
        } else if (std::strcmp(psz, "-m") == 0) {
            fMetric = 1;
        } else if (std::strcmp(psz, "-") == 0 && !fStdin && rgpszInput.empty()) {
            fStdin = true;
        } else if (psz[0] != '-' && !fStdin) {
            rgpszInput.push_back(psz);
        } else {
            std::fputs(s_szUsage, stderr);
            return 1;
        }
    }

    if (rgpszInput.empty()) {
        std::string strReport;
        if (!FReadAll(STDIN_FILENO, &strReport))
            return Fail("can't read", "-");
        return PlotReport(strReport, pszOutput);
    }

    // One input that is not a download may be a report: its first bytes tell.
    if (rgpszInput.size() == 1 && !FTarballName(rgpszInput[0])) {
        const char* pszName = rgpszInput[0];
        FD file(pszName);
        if (file.fd < 0)
            return Fail("can't open", pszName);
        std::string strText;
        char ach[cbSniff];
        ssize_t cb = CbReadAll(file.fd, ach, sizeof ach);
        bool fOk = cb >= 0;
        if (fOk)
            strText.append(ach, (size_t)cb);
        if (fOk && FDatabaseHeader(strText))
            return PlotDatabase(pszName, fMetric, pszZone, price, pszOutput);
        bool fReport = fOk && FLooksLikeReport(strText);
        if (fReport)
            fOk = FReadAll(file.fd, &strText);
        if (!fOk)
            return Fail("can't read", pszName);
        if (fReport)
            return PlotReport(strText, pszOutput);
    }
    // A report among logs is a mistake of the command line, not a log to decode as noise.
    for (size_t i = 0; i < rgpszInput.size() && rgpszInput.size() > 1; i++) {
        if (FTarballName(rgpszInput[i]) || !FStartsAsReport(rgpszInput[i]))
            continue;
        return FailWith(std::string("'") + rgpszInput[i] + "' is a battery report: it is drawn alone");
    }
    return PlotLogs(rgpszInput, fMetric, pszZone, price, pszOutput);
}

}  // namespace

int main(int argc, char** argv)
{
    // Years of history fill memory in proportion to the inputs; an address space too small for them
    // ends with the program's own kind of message.
    InitOutput();
    if (char const* pszWarning = PszSystemZoneWarning())
        std::fprintf(stderr, "quenfell-plot: %s\n", pszWarning);
    try {
        return PlotMain(argc, argv);
    } catch (std::bad_alloc const&) {
        return FailWith("out of memory");
    }
}
