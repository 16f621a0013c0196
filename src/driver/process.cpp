// One input of the command line: opening it (a plain log or the vms_log member of a download),
// then the analysis, the battery study or the join's collection, as the options in force say.
#include "driver/process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

#include "analysis/decoder.h"
#include "battery/histogram.h"
#include "support/fatal.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr int cchDate = 20;

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
void TakeDownloadTime(RUN* prun, const char* pszArg)
{
    const char* pszSlash = strrchr(pszArg, '/');
    if (!pszSlash)
        return;
    int year, month, day, hour, minute;
    if (sscanf(pszSlash + 1, "%4d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute) != 5)
        return;
    char szDate[cchDate];
    snprintf(szDate, sizeof szDate, "%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour, minute, 0);
    prun->timestampLastValid = TimestampFromDate(szDate);
}

[[noreturn]] void FailOpenFile(const char* pszArg, int err)
{
    // An empty file fails without a system error; "Success" would be a lie.
    GiveUsageAndExit("could not open file '%s' %s.", pszArg, err == 0 ? "file is empty" : strerror(err));
}

void CollectForJoin(JOINTABLE* pjoin, std::unique_ptr<STREAM> pstream, const char* pszArg, int cargLeft)
{
    if (!pjoin->rgin) {
        pjoin->cinMax = cargLeft + 1;
        pjoin->rgin = (JOININ*)calloc((size_t)pjoin->cinMax, sizeof(JOININ));
        if (!pjoin->rgin)
            GiveUsageAndExit("not enough memory to join %d files", cargLeft);
    }
    // Each input takes one argument, so the table sized by the arguments left never fills.
    JOININ* pin = &pjoin->rgin[pjoin->cin++];
    memset(pin, 0, sizeof *pin);
    pin->pszName = pszArg;
    pin->pstream = pstream.release();
    GetLogStats(pin->pstream, &pin->lstat);
}

void DecodeInput(PROGRAM* pprog, STREAM* pstream, const char* pszArg, bool fSummary)
{
    OPTIONS const& opt = pprog->opt;
    RUN* prun = &pprog->run;
    DECODE decode;
    decode.grfRt = opt.grfRt;
    decode.timestampStart = opt.timestampStart;
    decode.timestampEnd = opt.timestampEnd;
    decode.pszPath = pszArg;
    if (!opt.fBattery) {
        decode.fVerbose = opt.fVerbose;
        decode.fSummary = fSummary;
        decode.fChargeDetail = opt.fChargeDetail;
        decode.grfDisplay = (opt.fTab ? fdispTab : 0) | (opt.fMetric ? fdispMetric : 0);
        decode.fPermanent = opt.fPermanent;
        DecodeVmsFile(prun, pstream, decode);
        return;
    }
    // The battery study reads the long-term part and then the transient part of every log, and its
    // report (standard output) must hold nothing but the study: no summary, no listing, no raw
    // bytes, no notes, whatever other options were typed.
    PFNNOTES pfnNotes = prun->pfnNotes;
    prun->pfnNotes = nullptr;
    decode.grfDisplay = fdispAggregate;
    decode.fPermanent = 1;
    BeginAggregrateSection(&pprog->study, sectLongTerm, opt.timestampSkipUntil, prun->timestampLastValid);
    DecodeVmsFile(prun, pstream, decode);
    decode.fPermanent = 0;
    BeginAggregrateSection(&pprog->study, sectTransient, opt.timestampSkipUntil, prun->timestampLastValid);
    DecodeVmsFile(prun, pstream, decode);
    prun->pfnNotes = pfnNotes;
}

}   // namespace

JOINTABLE::~JOINTABLE()
{
    for (int iin = 0; iin < cin; iin++)
        delete rgin[iin].pstream;
    free(rgin);
}

void InitProgram(PROGRAM* pprog)
{
    pprog->opt = OPTIONS{};
    InitRun(&pprog->run);
    InitStudy(&pprog->study);
    pprog->run.pfnNotes = FPrintNotesForTimestamp;
    pprog->run.pvNotes = &pprog->notes;
    pprog->run.scan.pfnAggregate = AggregateVlr;
    pprog->run.scan.pvAggregate = &pprog->study;
}

void ProcessInput(PROGRAM* pprog, const char* pszArg, int cargLeft)
{
    OPTIONS const& opt = pprog->opt;
    if (opt.timestampEnd != 0 && opt.timestampStart > opt.timestampEnd)
        GiveUsageAndExit("start time is after end time");
    fprintf(opt.fBattery ? stderr : stdout, "Analyze: %s\n", pszArg);

    bool fSummary = !opt.fBattery && !opt.pszJoinOutput && opt.grfRt == 0 && !opt.fChargeDetail &&
                    !opt.fPermanent && opt.timestampStart == 0 && opt.timestampEnd == 0;
    pprog->run.timestampLastValid = (unsigned int)time(nullptr);
    std::unique_ptr<STREAM> pstream = std::make_unique<STREAM>();

    if (FTarballName(pszArg)) {
        if (!FOpenTarballLog(pstream.get(), pszArg, opt.fVerbose && fSummary))
            GiveUsageAndExit("could not find vms_log in '%s'", pszArg);
        TakeDownloadTime(&pprog->run, pszArg);
    } else {
        errno = 0;
        if (!pstream->FOpenFile(pszArg))
            FailOpenFile(pszArg, errno);
    }

    if (opt.pszJoinOutput) {
        CollectForJoin(&pprog->join, std::move(pstream), pszArg, cargLeft);
        return;
    }
    DecodeInput(pprog, pstream.get(), pszArg, fSummary);
    if (pstream->FChanged())
        GiveUsageAndExit("file '%s' changed while it was being read.", pszArg);
}

void FinishInputs(PROGRAM* pprog)
{
    JOINTABLE* pjoin = &pprog->join;
    if (pjoin->cin > 0) {
        JoinLogs(&pprog->run.scan, pjoin->rgin, pjoin->cin, pprog->opt.pszJoinOutput);
        pjoin->cin = 0;
    }
    if (pprog->opt.fBattery)
        ProcessAllData(&pprog->study);
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
