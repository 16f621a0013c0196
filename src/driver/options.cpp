// The command line, read left to right: options change a state that lasts for the rest of the
// run, and every other argument is an input log, handled completely (decoded, studied for the
// battery report or collected for the join) before the next argument is read.
#include "driver/options.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>

#include "analysis/decoder.h"
#include "battery/collect.h"
#include "battery/histogram.h"
#include "driver/join.h"
#include "driver/notes.h"
#include "input/stream.h"
#include "records/record.h"
#include "records/scanner.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr unsigned int grfRtAll = 0xFFFFFFFF;
constexpr unsigned int grfRtCharge = 0x1000380;   // IDLE, C1MA, C30M, C1MB
constexpr unsigned int grfRtDrive = 0x1C80;       // IDLE, DR1S, DR1M, D10M
constexpr unsigned long rtSelectableMax = 31;     // a bit of the 32-bit grfRt
constexpr int cchMessage = 1024;
constexpr int cchDate = 20;
constexpr int statusFatal = 255;

struct OPTIONS {
    unsigned int timestampStart;
    unsigned int timestampEnd;
    unsigned int timestampSkipUntil;
    unsigned int grfRt;
    bool fVerbose;
    bool fTab;
    bool fMetric;
    bool fPermanent;
    bool fChargeDetail;
    bool fBattery;
    const char* pszJoinOutput;
};

// The join's inputs, gathered from the first input that arrives while -j is in force.
struct JOINTABLE {
    LSTAT* rglstat;
    int clstat;
    int clstatMax;
};

// ---- Help screen ----

struct EXAMPLE {
    const char* szCommand;
    const char* rgszExplain[3];
};

const char* const s_rgszOptionHelp[] = {
    "\t-n    add notes to record list from specified notes file",
    "\t-s    only show records on or after the specified date and time",
    "\t-e    only show records on or before the specified date and time",
    "\t-r n  show records of type n",
    "\t-b    show histograms of battery-related data",
    "\t-k    if -b, skip records in permanent section until specified timestamp is found",
    "\t-a    show all records in the specified section",
    "\t-c    show charging records",
    "\t-d    show driving records",
    "\t-m    display in metric units",
    "\t-p    show records from the permanent section (defaults to the transient section)",
    "\t-t    tab delimited format",
    "\t-v    verbose output (includes the raw byte values)",
    "\t-j    join multiple vms_log files together into a new combined file",
    "\t-h    show this help screen",
    "\t-u    show detailed charge summary",
};

const EXAMPLE s_rgexample[] = {
    {"Quenfell 200906051330.tar",
     {"From the file 200906051330.tar, show a summary of driving and charging sessions."}},
    {"Quenfell -v 200906051330.tar",
     {"From the file 200906051330.tar, show the table of contents, a summary of driving and charging,",
      "and a table of stats on the record types found in the log file."}},
    {"Quenfell -p 200906051330.tar",
     {"From the file 200906051330.tar, dump out the permanent section records."}},
    {"Quenfell -s \"12/30/2009\" -e \"12/31/2009\" -r IDLE 200906051330.tar",
     {"From the tar file, show all IDLE records during the day of 12/30/2009."}},
    {"Quenfell -s \"12/30/2009 11:00:00\" -e \"12/30/2009 13:00:00\" -d -t 200906051330.tar",
     {"From the tar file, show all drive-related records in the specified time interval",
      "in tab-delimited format for easy importing into a spreadsheet or database."}},
    {"Quenfell -b *.tar > output.txt",
     {"Run this in the folder that holds all of your downloaded log files, then send the",
      "resulting output.txt to the owners' battery study."}},
    {"Quenfell -n log_notes.txt -s \"01/01/2010\" 200906051330.tar",
     {"From the tar file, show all records on or after Jan 1, 2010, with annotations from",
      "log_notes.txt.",
      "sample annotation line: 01/02/2010 12:34:56<tab>accelerator to the floor"}},
};

void PrintHelp()
{
    FILE* pfile = stderr;
    fprintf(pfile, "\nQuenfell version 1.2.8\nBuilt on %s at %s\n\n", __DATE__, __TIME__);
    fputs("usage: Quenfell [-n annotation_file] [-s start_date] [-e end_date] [-r n] [-cdmptvhbu] "
          "[-k timestamp] [-j output_filename] [vms_file|tarball]\n\n",
          pfile);
    for (const char* sz : s_rgszOptionHelp)
        fprintf(pfile, "%s\n", sz);

    fputs("\nrecognized record types:\n\n", pfile);
    for (RI const& ri : s_mp_rt_ri) {
        if (ri.szCode)
            fprintf(pfile, "\t%-4s  %s\n", ri.szCode, ri.szDesc ? ri.szDesc : "");
    }

    fputs("\nexamples:\n\n", pfile);
    for (EXAMPLE const& example : s_rgexample) {
        fprintf(pfile, "\t%s\n\t", example.szCommand);
        for (size_t ich = strlen(example.szCommand); ich > 0; ich--)
            fputc('-', pfile);
        fputc('\n', pfile);
        for (const char* szExplain : example.rgszExplain) {
            if (szExplain)
                fprintf(pfile, "\t%s\n", szExplain);
        }
        fputc('\n', pfile);
    }
}

// ---- Option values ----

// Flushes the report; a report that did not reach its file (disk full, closed descriptor) must
// not end the run as a success.
int StatusAfterFlush()
{
    if (FFlushOutput())
        return 0;
    fputs("ERROR: write error on standard output\n", stderr);
    return statusFatal;
}

// The argument that a value-taking option letter consumes, or null when none is left.
const char* PszTakeArg(int argc, char** argv, int* piargNext)
{
    if (*piargNext >= argc)
        return nullptr;
    return argv[(*piargNext)++];
}

unsigned int TimestampFromOption(char chOption, const char* pszValue)
{
    if (!pszValue)
        GiveUsageAndExit("the -%c option requires the next argument to be a date string", chOption);
    unsigned int timestamp = TimestampFromDate(pszValue);
    if (timestamp == 0)
        GiveUsageAndExit("'%s' is an invalid date/time string following the -%c option", pszValue, chOption);
    return timestamp;
}

unsigned int TimestampSkipFromOption(char chOption, const char* pszValue)
{
    unsigned int timestamp = pszValue ? TimestampFromDate(pszValue) : 0;
    if (timestamp == 0)
        GiveUsageAndExit("the -%c option requires the next argument to be a a date string", chOption);
    return timestamp;
}

unsigned int GrfRtToggled(unsigned int grfRt, char chOption, const char* pszValue)
{
    if (!pszValue)
        GiveUsageAndExit("the -%c option requires the next argument to be an integer", chOption);
    unsigned long rt = RtFromSz(pszValue);
    if (rt < 1 || rt > rtSelectableMax)
        GiveUsageAndExit("the -%c option requires the next argument to be a record type code or an integer "
                         "between 1 and 31",
                         chOption);
    return grfRt ^ (1u << rt);
}

void PrintDateEcho(const char* szFormat, unsigned int timestamp)
{
    char szDate[cchDate];
    printf(szFormat, DateFromTimestamp(timestamp, szDate, sizeof szDate));
}

// ---- One input ----

bool FTarballName(const char* pszArg)
{
    size_t cch = strlen(pszArg);
    return cch >= 5 && strcasecmp(pszArg + cch - 4, ".tar") == 0;
}

// The tar reader opens with standard I/O, which would wait forever on a FIFO without a writer, so
// anything but a regular file is turned away before it gets there.
bool FRegularFile(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Opens pstream on the tarball's last vms_log member; false when there is none to read.
bool FOpenTarballLog(STREAM* pstream, const char* pszArg, bool fList)
{
    TAR tar;
    if (!FRegularFile(pszArg) || !tar.FOpen(pszArg))
        return false;
    if (fList) {
        printf("\n");
        PrintSectionTitle("Tarball Contents");
        printf("    Size Name\n");
        printf("-------- -----------------\n");
    }
    TARSCAN scan{};
    scan.fPrint = fList;
    tar.Scan(_ProcessTarFileEntry, &scan);
    tar.Close();
    // An empty member has nothing to map; asking for it would only add a system complaint.
    if (scan.tarfLog.ibData != 0 && scan.tarfLog.cb > 0)
        pstream->FOpenFileSegment(pszArg, (unsigned long)scan.tarfLog.ibData, (unsigned long)scan.tarfLog.cb);
    return pstream->CbSize() > 0;
}

// A download named like 200906051330.tar (given with a directory) tells when it was taken: no
// record of it can be newer.
void TakeDownloadTime(const char* pszArg)
{
    const char* pszSlash = strrchr(pszArg, '/');
    if (!pszSlash)
        return;
    int year, month, day, hour, minute;
    if (sscanf(pszSlash + 1, "%4d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute) != 5)
        return;
    char szDate[cchDate];
    snprintf(szDate, sizeof szDate, "%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour, minute, 0);
    s_timestampLastValid = TimestampFromDate(szDate);
}

[[noreturn]] void FailOpenFile(const char* pszArg, int err)
{
    // An empty file fails without a system error; "Success" would be a lie.
    GiveUsageAndExit("could not open file '%s' %s.", pszArg, err == 0 ? "file is empty" : strerror(err));
}

void CollectForJoin(JOINTABLE* pjoin, STREAM* pstream, const char* pszArg, int cargLeft)
{
    if (!pjoin->rglstat) {
        pjoin->clstatMax = cargLeft + 1;
        pjoin->rglstat = (LSTAT*)calloc((size_t)pjoin->clstatMax, sizeof(LSTAT));
        if (!pjoin->rglstat)
            GiveUsageAndExit("not enough memory to join %d files", cargLeft);
    }
    // Each input takes one argument, so the table sized by the arguments left never fills.
    LSTAT* plstat = &pjoin->rglstat[pjoin->clstat++];
    memset(plstat, 0, sizeof *plstat);
    plstat->pszName = pszArg;
    plstat->pstream = pstream;
    GetLogStats(pstream, plstat);
}

// For a run that ends before the join: the streams are closed here instead.
void FreeJoinTable(JOINTABLE* pjoin)
{
    for (int ilstat = 0; ilstat < pjoin->clstat; ilstat++)
        delete pjoin->rglstat[ilstat].pstream;
    free(pjoin->rglstat);
    *pjoin = JOINTABLE{};
}

void DecodeInput(OPTIONS const& opt, STREAM* pstream, const char* pszArg, bool fSummary)
{
    if (!opt.fBattery) {
        int grfDisplay = (opt.fTab ? fdispTab : 0) | (opt.fMetric ? fdispMetric : 0);
        DecodeVmsFile(pszArg, pstream, opt.fVerbose, fSummary, opt.fChargeDetail, grfDisplay, opt.fPermanent,
                      opt.grfRt, opt.timestampStart, opt.timestampEnd);
        return;
    }
    // The battery study reads the long-term part and then the transient part of every log, and its
    // report (standard output) must hold nothing but the study: no summary, no listing, no raw
    // bytes, no notes, whatever other options were typed.
    SetNotesPrinter(nullptr);
    BeginAggregrateSection(sectLongTerm, opt.timestampSkipUntil, s_timestampLastValid);
    DecodeVmsFile(pszArg, pstream, 0, 0, 0, fdispAggregate, 1, opt.grfRt, opt.timestampStart, opt.timestampEnd);
    BeginAggregrateSection(sectTransient, opt.timestampSkipUntil, s_timestampLastValid);
    DecodeVmsFile(pszArg, pstream, 0, 0, 0, fdispAggregate, 0, opt.grfRt, opt.timestampStart, opt.timestampEnd);
    SetNotesPrinter(FPrintNotesForTimestamp);
}

// cargLeft counts the command-line arguments from this one to the last.
void ProcessInput(OPTIONS const& opt, JOINTABLE* pjoin, const char* pszArg, int cargLeft)
{
    if (opt.timestampEnd != 0 && opt.timestampStart > opt.timestampEnd)
        GiveUsageAndExit("start time is after end time");
    fprintf(opt.fBattery ? stderr : stdout, "Analyze: %s\n", pszArg);

    bool fSummary = !opt.fBattery && !opt.pszJoinOutput && opt.grfRt == 0 && !opt.fChargeDetail &&
                    !opt.fPermanent && opt.timestampStart == 0 && opt.timestampEnd == 0;
    s_timestampLastValid = (unsigned int)time(nullptr);
    STREAM* pstream = new STREAM;

    if (FTarballName(pszArg)) {
        if (!FOpenTarballLog(pstream, pszArg, opt.fVerbose && fSummary)) {
            delete pstream;
            GiveUsageAndExit("could not find vms_log in '%s'", pszArg);
        }
        TakeDownloadTime(pszArg);
    } else {
        errno = 0;
        if (!pstream->FOpenFile(pszArg)) {
            int err = errno;
            delete pstream;
            FailOpenFile(pszArg, err);
        }
    }

    if (opt.pszJoinOutput) {
        CollectForJoin(pjoin, pstream, pszArg, cargLeft);
        return;
    }
    DecodeInput(opt, pstream, pszArg, fSummary);
    delete pstream;
}

}   // namespace

void GiveUsageAndExit(const char* format, ...)
{
    FFlushOutput();
    if (format) {
        char szMessage[cchMessage];
        va_list args;
        va_start(args, format);
        vsnprintf(szMessage, sizeof szMessage, format, args);
        va_end(args);
        fprintf(stderr, "ERROR: %s\n", szMessage);
    } else {
        PrintHelp();
    }
#ifdef QF_FUZZ_BUILD
    throw FuzzExit{statusFatal};
#else
    exit(statusFatal);
#endif
}

unsigned long RtFromSz(const char* text)
{
    size_t cch = strlen(text);
    // strtoul saturates at ULONG_MAX, so forty digits cannot wrap around into 1..31.
    if (strspn(text, "0123456789") == cch)
        return strtoul(text, nullptr, 10);
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') && cch > 2 &&
        strspn(text + 2, "0123456789abcdefABCDEF") == cch - 2)
        return strtoul(text + 2, nullptr, 16);
    for (int rt = 0; rt < rtMax; rt++) {
        if (s_mp_rt_ri[rt].szCode && strcasecmp(text, s_mp_rt_ri[rt].szCode) == 0)
            return (unsigned long)rt;
    }
    return 0;
}

int _ProcessTarFileEntry(TARF const& tarf, void* context)
{
    TARSCAN* pscan = (TARSCAN*)context;
    if (pscan->fPrint) {
        if (tarf.chType == '0')
            printf("%8lu", (unsigned long)tarf.cb);
        else
            printf("%8s", "");
        printf(" %s \n", tarf.szName);
    }
    if (strcmp(tarf.szName, "vms_log") == 0)
        pscan->tarfLog = tarf;
    return 1;
}

int QuenfellMain(int argc, char** argv)
{
    // Standard output gets its large buffer once; fuzz targets call this function many times.
    static bool s_fOutputReady = false;
    if (!s_fOutputReady) {
        InitOutput();
        s_fOutputReady = true;
    }
    SetNotesPrinter(FPrintNotesForTimestamp);
    SetAggregateHook(AggregateVlr);

    if (argc < 2)
        GiveUsageAndExit();

    OPTIONS opt{};
    JOINTABLE join{};
    for (int iarg = 1; iarg < argc; iarg++) {
        const char* pszArg = argv[iarg];
        if (pszArg[0] != '-') {
            ProcessInput(opt, &join, pszArg, argc - iarg);
            continue;
        }
        // Letters that take a value consume the following arguments one each, in order.
        int iargNext = iarg + 1;
        for (const char* pch = pszArg + 1; *pch; pch++) {
            char ch = *pch;
            switch (ch) {
            case 'a':
                opt.grfRt = grfRtAll;
                break;
            case 'b':
                opt.fBattery = true;
                opt.fPermanent = true;
                opt.grfRt = 0;
                break;
            case 'c':
                opt.grfRt |= grfRtCharge;
                break;
            case 'd':
                opt.grfRt |= grfRtDrive;
                break;
            case 'e':
                opt.timestampEnd = TimestampFromOption(ch, PszTakeArg(argc, argv, &iargNext));
                PrintDateEcho("show records on or before %s\n", opt.timestampEnd);
                break;
            case 'h':
            case '?':
                GiveUsageAndExit();
            case 'j':
                opt.pszJoinOutput = PszTakeArg(argc, argv, &iargNext);
                if (!opt.pszJoinOutput)
                    GiveUsageAndExit("the -%c option requires the next argument to be and output file name", ch);
                break;
            case 'k':
                opt.timestampSkipUntil = TimestampSkipFromOption(ch, PszTakeArg(argc, argv, &iargNext));
                PrintDateEcho("skip permanent records until a timestamp matching %s is found\n",
                              opt.timestampSkipUntil);
                break;
            case 'm':
                opt.fMetric = !opt.fMetric;
                break;
            case 'n': {
                const char* pszNotes = PszTakeArg(argc, argv, &iargNext);
                if (!pszNotes)
                    GiveUsageAndExit("the -%c option requires the next argument to be a file name", ch);
                LoadAnnotationsFile(pszNotes);
                break;
            }
            case 'p':
                opt.fPermanent = !opt.fPermanent;
                break;
            case 'r':
                opt.grfRt = GrfRtToggled(opt.grfRt, ch, PszTakeArg(argc, argv, &iargNext));
                break;
            case 's':
                opt.timestampStart = TimestampFromOption(ch, PszTakeArg(argc, argv, &iargNext));
                PrintDateEcho("show records at or after %s\n", opt.timestampStart);
                break;
            case 't':
                opt.fTab = !opt.fTab;
                break;
            case 'u':
                opt.fChargeDetail = !opt.fChargeDetail;
                break;
            case 'v':
                opt.fVerbose = !opt.fVerbose;
                break;
            case 'z':
                // Whatever follows is tried as a zone name, even text that starts with '-'; when
                // it is none, the list of known zones ends the run.
                if (iargNext < argc && FUseTimeZone(argv[iargNext])) {
                    iargNext++;
                    break;
                }
                PrintTimeZoneList();
                FreeJoinTable(&join);
                return StatusAfterFlush();
            default:
                GiveUsageAndExit("unknown switch: %c", ch);
            }
        }
        iarg = iargNext - 1;
    }

    if (join.clstat > 0)
        JoinLogs(join.rglstat, join.clstat, opt.pszJoinOutput);
    free(join.rglstat);
    if (opt.fBattery)
        ProcessAllData();
    return StatusAfterFlush();
}
