// The command line, read left to right: options change a state that lasts for the rest of the
// run, and every other argument is an input log, handed to ProcessInput before the next argument
// is read. Also the help screen and the record types typed for -r.
#include "driver/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>

#include "driver/process.h"
#include "records/record.h"
#include "support/fatal.h"
#include "support/output.h"
#include "support/timecal.h"
#include "version.h"

namespace {

constexpr unsigned int grfRtAll = 0xFFFFFFFF;
constexpr unsigned long rtSelectableMax = 31;     // a bit of the 32-bit grfRt
constexpr int cchDate = 20;

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
    fprintf(pfile, "\nQuenfell version " QF_VERSION "\nBuilt on %s at %s\n\n", __DATE__, __TIME__);
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

[[noreturn]] void GiveHelpAndExit()
{
    FFlushOutput();
    PrintHelp();
    ExitFatal();
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

}   // namespace

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

int QuenfellMain(int argc, char** argv)
{
    // Standard output gets its large buffer once; fuzz targets call this function many times.
    static bool s_fOutputReady = false;
    if (!s_fOutputReady) {
        InitOutput();
        s_fOutputReady = true;
    }
    if (argc < 2)
        GiveHelpAndExit();

    // About 150 KB: the section table, the tally and the notes.
    std::unique_ptr<PROGRAM> pprog = std::make_unique<PROGRAM>();
    InitProgram(pprog.get());
    OPTIONS& opt = pprog->opt;
    for (int iarg = 1; iarg < argc; iarg++) {
        const char* pszArg = argv[iarg];
        if (pszArg[0] != '-') {
            ProcessInput(pprog.get(), pszArg, argc - iarg);
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
                opt.grfRt |= GrfRtOfSelection(fselCharge);
                break;
            case 'd':
                opt.grfRt |= GrfRtOfSelection(fselDrive);
                break;
            case 'e':
                opt.timestampEnd = TimestampFromOption(ch, PszTakeArg(argc, argv, &iargNext));
                PrintDateEcho("show records on or before %s\n", opt.timestampEnd);
                break;
            case 'h':
            case '?':
                GiveHelpAndExit();
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
                LoadAnnotationsFile(&pprog->notes, pszNotes);
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
                return StatusAfterFlush();
            default:
                GiveUsageAndExit("unknown switch: %c", ch);
            }
        }
        iarg = iargNext - 1;
    }

    FinishInputs(pprog.get());
    return StatusAfterFlush();
}
