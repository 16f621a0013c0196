// The command line, read left to right: options change a state that lasts for the rest of the
// run, and every other argument is an input log, handed to ProcessInput before the next argument
// is read. Also the help screen and the record types typed for -r.
#include "driver/options.h"

#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <strings.h>

#include "driver/fatal.h"
#include "driver/process.h"
#include "records/record.h"
#include "report/report.h"
#include "support/output.h"
#include "support/timecal.h"
#include "version.h"

namespace {

constexpr unsigned int grfRtAll = 0xFFFFFFFF;
constexpr unsigned long rtSelectableMax = 31;     // a bit of the 32-bit grfRt
constexpr int cchDate = 20;

[[noreturn]] void GiveHelpAndExit();

// ---- Option values ----

// Flushes the report; a report that did not reach its file (disk full, closed descriptor) must
// not end the run as a success.
int StatusAfterFlush()
{
    if (FFlushOutput())
        return 0;
    ReportOutputError();
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
    // "a a date": the message is kept as users have seen it.
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

// ---- The options ----

// What an option letter takes from the arguments after it.
enum OPTARG {
    optargNone,
    optargNext,    // the next argument, always (a missing one is null)
    optargMaybe,   // the next argument if the option can use it (-z and a zone name)
};

// What the command line does after an option.
enum OPTRES { optresGoOn, optresUsedValue, optresEndRun };

typedef OPTRES (*PFNOPTION)(PROGRAM* pprog, char chOption, const char* pszValue);

OPTRES OptAll(PROGRAM* pprog, char, const char*)
{
    pprog->opt.grfRt = grfRtAll;
    return optresGoOn;
}

OPTRES OptBattery(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fBattery = true;
    pprog->opt.fPermanent = true;
    pprog->opt.grfRt = 0;
    return optresGoOn;
}

OPTRES OptCharge(PROGRAM* pprog, char, const char*)
{
    pprog->opt.grfRt |= GrfRtOfSelection(fselCharge);
    return optresGoOn;
}

OPTRES OptDrive(PROGRAM* pprog, char, const char*)
{
    pprog->opt.grfRt |= GrfRtOfSelection(fselDrive);
    return optresGoOn;
}

OPTRES OptEnd(PROGRAM* pprog, char chOption, const char* pszValue)
{
    pprog->opt.timestampEnd = TimestampFromOption(chOption, pszValue);
    PrintDateEcho("show records on or before %s\n", pprog->opt.timestampEnd);
    return optresGoOn;
}

OPTRES OptHelp(PROGRAM*, char, const char*)
{
    GiveHelpAndExit();
}

OPTRES OptJoin(PROGRAM* pprog, char chOption, const char* pszValue)
{
    // "and output": the message is kept as users have seen it.
    if (!pszValue)
        GiveUsageAndExit("the -%c option requires the next argument to be and output file name", chOption);
    pprog->opt.pszJoinOutput = pszValue;
    return optresGoOn;
}

OPTRES OptSkipUntil(PROGRAM* pprog, char chOption, const char* pszValue)
{
    pprog->opt.timestampSkipUntil = TimestampSkipFromOption(chOption, pszValue);
    PrintDateEcho("skip permanent records until a timestamp matching %s is found\n",
                  pprog->opt.timestampSkipUntil);
    return optresGoOn;
}

OPTRES OptMetric(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fMetric = !pprog->opt.fMetric;
    return optresGoOn;
}

OPTRES OptNotes(PROGRAM* pprog, char chOption, const char* pszValue)
{
    if (!pszValue)
        GiveUsageAndExit("the -%c option requires the next argument to be a file name", chOption);
    FAILURE fail;
    if (!FLoadAnnotationsFile(&pprog->notes, pszValue, &fail))
        GiveUsageAndExit("%s", fail.sz);
    return optresGoOn;
}

OPTRES OptPermanent(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fPermanent = !pprog->opt.fPermanent;
    return optresGoOn;
}

OPTRES OptRecordType(PROGRAM* pprog, char chOption, const char* pszValue)
{
    pprog->opt.grfRt = GrfRtToggled(pprog->opt.grfRt, chOption, pszValue);
    return optresGoOn;
}

OPTRES OptStart(PROGRAM* pprog, char chOption, const char* pszValue)
{
    pprog->opt.timestampStart = TimestampFromOption(chOption, pszValue);
    PrintDateEcho("show records at or after %s\n", pprog->opt.timestampStart);
    return optresGoOn;
}

OPTRES OptTab(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fTab = !pprog->opt.fTab;
    return optresGoOn;
}

OPTRES OptChargeDetail(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fChargeDetail = !pprog->opt.fChargeDetail;
    return optresGoOn;
}

OPTRES OptVerbose(PROGRAM* pprog, char, const char*)
{
    pprog->opt.fVerbose = !pprog->opt.fVerbose;
    return optresGoOn;
}

OPTRES OptZone(PROGRAM*, char, const char* pszValue)
{
    // Whatever follows is tried as a zone name, even text that starts with '-'; when it is none,
    // the list of known zones ends the run.
    double hoursOffset;
    if (pszValue && FUseTimeZone(pszValue, &hoursOffset)) {
        PrintTimeZoneUsed(pszValue, hoursOffset);
        return optresUsedValue;
    }
    PrintTimeZoneList();
    return optresEndRun;
}

struct OPTDEF {
    char ch;
    OPTARG optarg;
    PFNOPTION pfn;
    const char* szHelp;   // the help screen's line; null: not listed there
};

// Every option, in the help screen's order. The help lines are kept byte for byte as users and the
// manual page know them.
const OPTDEF s_rgoptdef[] = {
    {'n', optargNext, OptNotes, "\t-n    add notes to record list from specified notes file"},
    {'s', optargNext, OptStart, "\t-s    only show records on or after the specified date and time"},
    {'e', optargNext, OptEnd, "\t-e    only show records on or before the specified date and time"},
    {'r', optargNext, OptRecordType, "\t-r n  show records of type n"},
    {'b', optargNone, OptBattery, "\t-b    show histograms of battery-related data"},
    {'k', optargNext, OptSkipUntil, "\t-k    if -b, skip records in permanent section until specified timestamp is found"},
    {'a', optargNone, OptAll, "\t-a    show all records in the specified section"},
    {'c', optargNone, OptCharge, "\t-c    show charging records"},
    {'d', optargNone, OptDrive, "\t-d    show driving records"},
    {'m', optargNone, OptMetric, "\t-m    display in metric units"},
    {'p', optargNone, OptPermanent, "\t-p    show records from the permanent section (defaults to the transient section)"},
    {'t', optargNone, OptTab, "\t-t    tab delimited format"},
    {'v', optargNone, OptVerbose, "\t-v    verbose output (includes the raw byte values)"},
    {'j', optargNext, OptJoin, "\t-j    join multiple vms_log files together into a new combined file"},
    {'h', optargNone, OptHelp, "\t-h    show this help screen"},
    {'u', optargNone, OptChargeDetail, "\t-u    show detailed charge summary"},
    {'z', optargMaybe, OptZone, nullptr},
    {'?', optargNone, OptHelp, nullptr},
};

OPTDEF const* PoptdefFromCh(char ch)
{
    for (OPTDEF const& optdef : s_rgoptdef) {
        if (optdef.ch == ch)
            return &optdef;
    }
    return nullptr;
}

// ---- Help screen ----

struct EXAMPLE {
    const char* szCommand;
    const char* rgszExplain[3];
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
    for (OPTDEF const& optdef : s_rgoptdef) {
        if (optdef.szHelp)
            fprintf(pfile, "%s\n", optdef.szHelp);
    }

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

namespace {

struct FREEPROGRAM {
    void operator()(PROGRAM* pprog) const
    {
        pprog->~PROGRAM();
        free(pprog);
    }
};

}   // namespace

int QuenfellMain(int argc, char** argv)
{
    if (argc < 2)
        GiveHelpAndExit();

    // About 150 KB: the section table, the tally and the notes. Taken from malloc: in a small
    // address space operator new, even its nothrow form, may find no room for the exception it
    // raises inside and abort.
    static_assert(alignof(PROGRAM) <= alignof(std::max_align_t), "malloc's alignment suffices");
    void* pvProgram = malloc(sizeof(PROGRAM));
    if (!pvProgram)
        GiveUsageAndExit("out of memory");
    std::unique_ptr<PROGRAM, FREEPROGRAM> pprog(new (pvProgram) PROGRAM());
    InitProgram(pprog.get());
    for (int iarg = 1; iarg < argc; iarg++) {
        const char* pszArg = argv[iarg];
        if (pszArg[0] != '-') {
            // Inputs with no option between them are handled together (a battery study of them
            // runs on every core).
            int cargInputs = 1;
            while (iarg + cargInputs < argc && argv[iarg + cargInputs][0] != '-')
                cargInputs++;
            FAILURE fail;
            if (!FProcessInputs(pprog.get(), argv + iarg, cargInputs, argc - iarg, &fail))
                GiveUsageAndExit("%s", fail.sz);
            iarg += cargInputs - 1;
            continue;
        }
        // Letters that take a value consume the following arguments one each, in order.
        int iargNext = iarg + 1;
        for (const char* pch = pszArg + 1; *pch; pch++) {
            OPTDEF const* poptdef = PoptdefFromCh(*pch);
            if (!poptdef)
                GiveUsageAndExit("unknown switch: %c", *pch);
            const char* pszValue = nullptr;
            if (poptdef->optarg == optargNext)
                pszValue = PszTakeArg(argc, argv, &iargNext);
            else if (poptdef->optarg == optargMaybe && iargNext < argc)
                pszValue = argv[iargNext];
            OPTRES optres = poptdef->pfn(pprog.get(), *pch, pszValue);
            if (optres == optresEndRun)
                return StatusAfterFlush();
            if (optres == optresUsedValue)
                iargNext++;
        }
        iarg = iargNext - 1;
    }

    FAILURE fail;
    if (!FFinishInputs(pprog.get(), &fail))
        GiveUsageAndExit("%s", fail.sz);
    return StatusAfterFlush();
}
