// One input of the command line: opening it (a plain log or the vms_log member of a download),
// then the analysis, the battery study or the join's collection, as the options in force say.
#include "driver/process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "analysis/decoder.h"
#include "driver/fatal.h"
#include "driver/study.h"
#include "input/download.h"
#include "merge/join.h"
#include "report/battery.h"
#include "support/output.h"
#include "support/workers.h"

namespace {

void TakeDownloadTime(RUN* prun, const char* pszArg)
{
    unsigned int timestamp;
    if (FDownloadTime(pszArg, &timestamp))
        prun->timestampLastValid = timestamp;
}

bool FCollectForJoin(JOINTABLE* pjoin, std::unique_ptr<STREAM> pstream, const char* pszArg, int cargLeft,
                     FAILURE* pfail)
{
    // Each input takes one argument, so the table sized by the arguments left never fills.
    if (!pjoin->rgin && !FReserveJoinTable(pjoin, cargLeft + 1)) {
        SetFailure(pfail, "not enough memory to join %d files", cargLeft);
        return false;
    }
    AddJoinInput(pjoin, pszArg, pstream.release());
    return true;
}

bool FDecodeInput(PROGRAM* pprog, STREAM* pstream, const char* pszArg, FAILURE* pfail)
{
    OPTIONS const& opt = pprog->opt;
    DECODE decode = DecodeOfOptions(opt, pszArg);
    if (decode.mode != modeStudy) {
        CONSUMER const cons = ConsumerOfReport(&pprog->reporter);
        decode.pcons = &cons;
        DecodeVmsFile(&pprog->run, pstream, decode);
        return true;
    }
    CONSUMER const cons = ConsumerOfStudyReport(&pprog->reporter);
    decode.pcons = &cons;
    // The ring is walked over the records of the types the study keeps, which the section scan
    // notes; without memory for them, over every record.
    std::unique_ptr<RECORDINDEX> pindex(new (std::nothrow) RECORDINDEX);
    SetRunIndex(&pprog->run, pindex.get(), GrfRtStudyWants(&pprog->study, sectTransient));
    FStudyLog(&pprog->run, pstream, &pprog->study, opt.timestampSkipUntil, decode, nullptr);
    SetRunIndex(&pprog->run, nullptr, 0);
    if (pprog->study.fOutOfMemory) {
        SetFailure(pfail, "out of memory");
        return false;
    }
    return true;
}

// The join's report so far must have reached its destination before the joined log replaces the
// old one.
bool FReportWritten(void*, FAILURE* pfail)
{
    if (FFlushOutput())
        return true;
    PrintOutputErrorReason();
    SetFailure(pfail, szWriteErrorOnStdout);
    return false;
}

}   // namespace

MODE ModeOfOptions(OPTIONS const& opt)
{
    if (opt.pszJoinOutput)
        return modeJoin;
    if (opt.fBattery)
        return modeStudy;
    if (opt.fChargeDetail)
        return modeDetail;
    if (opt.grfRt == 0 && !opt.fPermanent && opt.timestampStart == 0 && opt.timestampEnd == 0)
        return modeSummary;
    return modeListing;
}

DECODE DecodeOfOptions(OPTIONS const& opt, const char* pszArg)
{
    DECODE decode;
    decode.mode = ModeOfOptions(opt);
    decode.grfRt = opt.grfRt;
    decode.timestampStart = opt.timestampStart;
    decode.timestampEnd = opt.timestampEnd;
    decode.pszPath = pszArg;
    // The study lists nothing, whatever else was typed: no raw bytes, no other part.
    if (decode.mode != modeStudy) {
        decode.fVerbose = opt.fVerbose;
        decode.fPermanent = opt.fPermanent;
    }
    return decode;
}

void InitProgram(PROGRAM* pprog)
{
    pprog->opt = OPTIONS{};
    InitRun(&pprog->run);
    InitStudy(&pprog->study);
    pprog->study.hook = StudyHookOfReport();
    pprog->run.scan.pfnAggregate = AggregateVlr;
    pprog->run.scan.pvAggregate = &pprog->study;
    pprog->run.scan.pfnWants = GrfRtStudyWants;
    pprog->reporter = REPORTER{};
    pprog->reporter.pnotes = &pprog->notes;
    pprog->reporter.cworkerListing = CWorkers();
}

bool FCheckTimeWindow(OPTIONS const& opt, FAILURE* pfail)
{
    if (opt.timestampEnd != 0 && opt.timestampStart > opt.timestampEnd) {
        SetFailure(pfail, "start time is after end time");
        return false;
    }
    return true;
}

bool FHandleInput(PROGRAM* pprog, const char* pszArg, int cargLeft, FAILURE* pfail)
{
    OPTIONS const& opt = pprog->opt;
    MODE const mode = ModeOfOptions(opt);
    pprog->run.timestampLastValid = (unsigned int)time(nullptr);
    REPORTER* preporter = &pprog->reporter;
    preporter->fTab = opt.fTab;
    preporter->fMetric = opt.fMetric;
    preporter->fListMembers = opt.fVerbose && mode == modeSummary;
    std::unique_ptr<STREAM> pstream = std::make_unique<STREAM>();

    MEMBERHOOK const members = MemberHookOfReport(preporter);
    OPENERROR openerr;
    OPENRESULT openres = OpenDownload(pstream.get(), pszArg, &members, &openerr);
    if (openres == openNoLog) {
        // A download that could not be read at all says why before the line users know.
        if (openerr.err != 0) {
            FFlushOutput();
            fprintf(stderr, "could not open file '%s' %s.\n", pszArg, strerror(openerr.err));
        }
        SetFailure(pfail, "could not find vms_log in '%s'", pszArg);
        return false;
    }
    if (openres == openNoFile) {
        // An empty file fails without a system error; "Success" would be a lie.
        SetFailure(pfail, "could not open file '%s' %s.", pszArg,
                   openerr.err == 0 ? "file is empty" : strerror(openerr.err));
        return false;
    }
    if (FTarballName(pszArg))
        TakeDownloadTime(&pprog->run, pszArg);

    if (mode == modeJoin)
        return FCollectForJoin(&pprog->join, std::move(pstream), pszArg, cargLeft, pfail);
    if (!FDecodeInput(pprog, pstream.get(), pszArg, pfail))
        return false;
    if (pstream->FChanged()) {
        SetFailure(pfail, "file '%s' changed while it was being read.", pszArg);
        return false;
    }
    return true;
}

bool FProcessInput(PROGRAM* pprog, const char* pszArg, int cargLeft, FAILURE* pfail)
{
    OPTIONS const& opt = pprog->opt;
    if (!FCheckTimeWindow(opt, pfail))
        return false;
    fprintf(opt.fBattery ? stderr : stdout, "Analyze: %s\n", pszArg);
    return FHandleInput(pprog, pszArg, cargLeft, pfail);
}

bool FProcessInputs(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft, FAILURE* pfail)
{
    if (ModeOfOptions(pprog->opt) == modeStudy && carg > 1) {
        int cworker = CWorkers();
        if (cworker > 1)
            return FStudyInParallel(pprog, rgpszArg, carg, cargLeft, cworker, pfail);
    }
    for (int iarg = 0; iarg < carg; iarg++) {
        if (!FProcessInput(pprog, rgpszArg[iarg], cargLeft - iarg, pfail))
            return false;
    }
    return true;
}

bool FFinishInputs(PROGRAM* pprog, FAILURE* pfail)
{
    JOINTABLE* pjoin = &pprog->join;
    if (pjoin->cin > 0) {
        if (!FGatherLogStats(pjoin->rgin, pjoin->cin, CWorkers())) {
            SetFailure(pfail, "out of memory");
            return false;
        }
        PrintJoinStart();
        MERGEHOOK const hook = MergeHookOfReport(&pprog->reporter);
        long cwritten;
        if (!FJoinLogs(&pprog->run.scan, pjoin, pprog->opt.pszJoinOutput, PrintPreviewRow, &hook, FReportWritten,
                       &cwritten, pfail))
            return false;
        PrintJoinEnd(cwritten, pprog->opt.pszJoinOutput);
    }
    if (pprog->opt.fBattery)
        ProcessAllData(&pprog->study);
    return true;
}
