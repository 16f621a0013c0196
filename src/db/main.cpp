// quenfell-db: keeps the car's whole history in one SQLite database file. Adds downloads to it
// (each record once, as the join takes them), writes the history back as one joined log or as CSV
// files, and tells what it holds. The only place that ends the process.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

#include "db/export.h"
#include "db/ingest.h"
#include "db/schema.h"
#include "db/sql.h"
#include "db/store.h"
#include "support/output.h"
#include "support/timecal.h"
#include "version.h"

namespace {

constexpr int statusOk = 0;
constexpr int statusFailed = 1;
constexpr int statusUsage = 2;
constexpr int cchDate = 20;

char const s_szUsage[] =
    "usage: quenfell-db [-z zone] [-j log] [--csv folder] [--price PRICE[,OFFPEAK@HH:MM-HH:MM]] database "
    "[download...]\n"
    "  database      the car's history, one SQLite file (made when downloads are added to a missing file)\n"
    "  download...   logs (vms_log) or downloads (*.tar) to add, each record once\n"
    "  -j log        write the whole history as one log, as quenfell -j writes it\n"
    "  --csv folder  write every table and view as a CSV file into the folder\n"
    "  --price PRICE[,OFFPEAK@HH:MM-HH:MM]\n"
    "                with --csv: the price of a kWh from the wall, and a lower one inside a daily window of\n"
    "                the display zone's clock; adds each charge's cost and that of each month and year\n"
    "  -z zone       show times in this zone (a name such as Europe/London, or a rule)\n"
    "  -h, --help    this help; --version the version\n"
    "Without a download, -j or --csv: what the database holds.\n";

struct ARGS {
    char const* pszDatabase = nullptr;
    char const* pszJoin = nullptr;
    char const* pszCsv = nullptr;
    char const* pszZone = nullptr;
    PRICE price;
    std::vector<char const*> rgpszDownload;
};

[[noreturn]] void ExitUsage(char const* szWhy)
{
    if (szWhy)
        fprintf(stderr, "quenfell-db: %s\n", szWhy);
    fputs(s_szUsage, stderr);
    exit(statusUsage);
}

ARGS ParseArgs(int argc, char** argv)
{
    ARGS args;
    bool fOptionsDone = false;
    for (int iarg = 1; iarg < argc; iarg++) {
        char const* psz = argv[iarg];
        bool fValue = iarg + 1 < argc;
        if (!fOptionsDone && psz[0] == '-' && psz[1] != 0) {
            if (strcmp(psz, "--") == 0) {
                fOptionsDone = true;
            } else if (strcmp(psz, "-h") == 0 || strcmp(psz, "--help") == 0) {
                fputs(s_szUsage, stdout);
                exit(statusOk);
            } else if (strcmp(psz, "--version") == 0) {
                printf("quenfell-db %s\n", QF_VERSION);
                exit(statusOk);
            } else if (strcmp(psz, "-j") == 0 && fValue) {
                args.pszJoin = argv[++iarg];
            } else if (strcmp(psz, "--csv") == 0 && fValue) {
                args.pszCsv = argv[++iarg];
            } else if (strcmp(psz, "--price") == 0 && fValue) {
                char const* pszWhy = nullptr;
                if (!FParsePriceOption(argv[++iarg], &args.price, &pszWhy))
                    ExitUsage((std::string("--price '") + argv[iarg] + "': " + pszWhy).c_str());
            } else if (strcmp(psz, "-z") == 0 && fValue) {
                args.pszZone = argv[++iarg];
            } else {
                ExitUsage((std::string("unknown option or missing value: ") + psz).c_str());
            }
            continue;
        }
        if (!args.pszDatabase)
            args.pszDatabase = psz;
        else
            args.rgpszDownload.push_back(psz);
    }
    if (!args.pszDatabase)
        ExitUsage("no database named");
    if (args.price.fGiven && !args.pszCsv)
        ExitUsage("--price goes with --csv: it prices the charges of the CSV files");
    return args;
}

// SQLite's calendar ('localtime', which the months and years views use) follows TZ: -z names it
// there too, an abbreviation by the zone it stands for, so that every date of a run is of one zone.
void FollowZoneInSql(char const* pszZone)
{
    char const* pszTZ = pszZone;
    KNOWNZONE known;
    for (int iabbrev = 0; FKnownAbbreviation(iabbrev, &known); iabbrev++) {
        if (strcmp(known.szAbbrev, pszZone) == 0)
            pszTZ = known.szZone;
    }
    setenv("TZ", pszTZ, 1);
    tzset();
}

void Complain(std::string const& str)
{
    fprintf(stderr, "quenfell-db: %s\n", str.c_str());
}

// ---- Progress ---------------------------------------------------------------------------------

struct PROGRESS {
    bool fTerminal;
    int idownload, cdownload;
    char const* pszName;
    char const* pszStopAt;      // QUENFELL_DB_STOP_AT: the step at which a test stops the run
    bool fLineShown;
};

void ClearProgress(PROGRESS* pprog)
{
    if (pprog->fLineShown)
        fputs("\r\033[K", stderr);
    pprog->fLineShown = false;
}

void ShowStep(void* pv, char const* szStep)
{
    PROGRESS* pprog = (PROGRESS*)pv;
    if (pprog->fTerminal) {
        fprintf(stderr, "\r\033[K[%d/%d] %s: %s", pprog->idownload + 1, pprog->cdownload, pprog->pszName, szStep);
        fflush(stderr);
        pprog->fLineShown = true;
    }
    // Tests wait for this line, then kill or continue the stopped run.
    if (pprog->pszStopAt && strcmp(pprog->pszStopAt, szStep) == 0) {
        ClearProgress(pprog);
        fprintf(stderr, "quenfell-db: stopped at %s\n", szStep);
        fflush(stderr);
        raise(SIGSTOP);
    }
}

void SayWaiting(void* pv)
{
    PROGRESS* pprog = (PROGRESS*)pv;
    ClearProgress(pprog);
    fprintf(stderr, "quenfell-db: another run is changing the database; waiting for it to finish\n");
    fflush(stderr);
}

std::string StrDate(uint32_t timestamp)
{
    char sz[cchDate];
    return DateFromTimestamp(timestamp, sz, cchDate);
}

std::string StrAddedLine(char const* pszPath, ADDED const& added)
{
    std::string str = pszPath;
    str += ": ";
    if (added.fAlreadyAdded)
        return str + "already added (as " + added.strNameBefore + " on " + StrDate((uint32_t)added.timestampAddedBefore) +
               "): nothing added";
    if (added.timestampFirst != 0)
        str += StrDate(added.timestampFirst) + " to " + StrDate(added.timestampLast) + ", ";
    str += std::to_string(added.crec) + " records: " + std::to_string(added.crecNew) + " new, " +
           std::to_string(added.crecHeld) + " already held";
    if (added.crecSkipped > 0)
        str += ", " + std::to_string(added.crecSkipped) + " skipped (bad or implausible times)";
    if (added.cconflict > 0)
        str += ", " + std::to_string(added.cconflict) + " held with other bytes (the held copy kept)";
    if (added.crecNew == 0)
        str += ": nothing new";
    return str;
}

// ---- What the database holds ----------------------------------------------------------------

bool FPrintSummary(HISTDB* phdb, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(phdb->pdb,
                  "SELECT (SELECT count(*) FROM downloads), (SELECT min(time_first) FROM downloads), "
                  "(SELECT max(time_last) FROM downloads), (SELECT coalesce(sum(count), 0) FROM records WHERE part = 2), "
                  "(SELECT coalesce(sum(count), 0) FROM records WHERE part = 1), (SELECT count(*) FROM drives), "
                  "(SELECT count(*) FROM charges), (SELECT coalesce(max(vin), '') FROM downloads)",
                  &stmt, pstrErr))
        return false;
    int rc = sqlite3_step(stmt.pstmt);
    if (rc != SQLITE_ROW) {
        *pstrErr = StrSqlError(phdb->pdb, rc, "can't read the database");
        return false;
    }
    auto n = [&](int i) { return (long long)sqlite3_column_int64(stmt.pstmt, i); };
    std::string strVIN = (char const*)sqlite3_column_text(stmt.pstmt, 7);
    printf("%s: %s%lld downloads", phdb->strPath.c_str(), strVIN.empty() ? "" : ("VIN " + strVIN + ", ").c_str(), n(0));
    if (sqlite3_column_type(stmt.pstmt, 1) != SQLITE_NULL)
        printf(", %s to %s", StrDate((uint32_t)n(1)).c_str(), StrDate((uint32_t)n(2)).c_str());
    printf(", %lld transient and %lld long-term records, %lld drives, %lld charges\n", n(3), n(4), n(5), n(6));
    return true;
}

int DbMain(int argc, char** argv)
{
    // Past the file-size limit a write then fails with EFBIG and SQLite reports a full disk,
    // instead of the signal ending the run without a word.
    signal(SIGXFSZ, SIG_IGN);
    ARGS args = ParseArgs(argc, argv);
    if (args.pszZone && !FSetZones(args.pszZone)) {
        Complain(std::string("unknown time zone '") + args.pszZone + "'");
        return statusUsage;
    }
    if (args.pszZone)
        FollowZoneInSql(args.pszZone);

    PROGRESS prog{isatty(2) != 0, 0, (int)args.rgpszDownload.size(), "", getenv("QUENFELL_DB_STOP_AT"), false};
    HISTDB hdb;
    std::string strErr;
    bool fWrite = !args.rgpszDownload.empty();
    if (!FOpenHistory(args.pszDatabase, fWrite, SayWaiting, &prog, &hdb, &strErr)) {
        Complain(strErr);
        return statusFailed;
    }

    int status = statusOk;
    for (size_t i = 0; i < args.rgpszDownload.size(); i++) {
        char const* pszPath = args.rgpszDownload[i];
        prog.idownload = (int)i;
        prog.pszName = pszPath;
        ADDED added;
        std::string strWhy;
        ADDRESULT result = AddDownload(&hdb, pszPath, ShowStep, &prog, &added, &strWhy);
        ClearProgress(&prog);
        if (result == addFailed) {
            Complain(strWhy);
            return statusFailed;
        }
        if (result == addRefused) {
            Complain(strWhy);
            status = statusFailed;
            continue;
        }
        fprintf(stderr, "%s\n", StrAddedLine(pszPath, added).c_str());
    }

    if (args.pszJoin) {
        long crec = 0;
        if (!FWriteJoinedLog(&hdb, args.pszJoin, &crec, &strErr)) {
            Complain(strErr);
            return statusFailed;
        }
        fprintf(stderr, "%ld records written to %s\n", crec, args.pszJoin);
    }
    if (args.pszCsv) {
        int cfile = 0;
        if (!FWriteCsvFiles(&hdb, args.pszCsv, &args.price, &cfile, &strErr)) {
            Complain(strErr);
            return statusFailed;
        }
        fprintf(stderr, "%d CSV files written to %s\n", cfile, args.pszCsv);
    }
    if (!fWrite && !args.pszJoin && !args.pszCsv && !FPrintSummary(&hdb, &strErr)) {
        Complain(strErr);
        return statusFailed;
    }
    if (fflush(stdout) != 0 || ferror(stdout)) {
        Complain("can't write to standard output");
        return statusFailed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    InitOutput();
    if (char const* pszWarning = PszSystemZoneWarning())
        fprintf(stderr, "quenfell-db: %s\n", pszWarning);
    // Out of memory ends the run with a message instead of an abort; the download being added is
    // rolled back with the connection.
    try {
        return DbMain(argc, argv);
    } catch (std::bad_alloc const&) {
        fputs("quenfell-db: out of memory\n", stderr);
        return statusFailed;
    }
}
