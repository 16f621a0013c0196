// In-process runs of the session summary for the summary tests.
#include "summary_harness.h"

#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <type_traits>
#include <unistd.h>

#include "analysis/run.h"
#include "analysis/summary.h"
#include "input/stream.h"
#include "records/listing.h"
#include "records/record.h"
#include "records/tagstats.h"
#include "report/report.h"
#include "support/timecal.h"

namespace {

std::string CaptureStdout(const std::function<void()>& fn)
{
    std::string path = TempDir() + "/stdout.txt";
    fflush(stdout);
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    int fdSaved = dup(1);
    dup2(fd, 1);
    close(fd);
    fn();
    fflush(stdout);
    dup2(fdSaved, 1);
    close(fdSaved);
    return ReadText(path);
}

// The report's consumer with the sessions noted on their way to it and the test's own notes hook.
// The reporter comes first, so the context is the reporter too for the report's own callbacks.
struct WATCHER {
    REPORTER reporter;
    CONSUMER consReport;
    SESSIONSSEEN* pseen;
    SUMMARYOPT const* popt;
};

void WatchDrive(void* pv, DRIVESESSION const* pds)
{
    WATCHER* pwatch = (WATCHER*)pv;
    pwatch->pseen->rgdrive.push_back(*pds);
    pwatch->consReport.pfnDrive(pv, pds);
}

void WatchCharge(void* pv, CHARGESESSION const* pcs)
{
    WATCHER* pwatch = (WATCHER*)pv;
    pwatch->pseen->rgcharge.push_back(*pcs);
    pwatch->consReport.pfnCharge(pv, pcs);
}

void WatchTotals(void* pv, SUMMARYTOTALS const* ptotals)
{
    WATCHER* pwatch = (WATCHER*)pv;
    pwatch->pseen->totals = *ptotals;
    pwatch->consReport.pfnTotals(pv, ptotals);
}

void WatchNotes(void* pv, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent)
{
    SUMMARYOPT const* popt = ((WATCHER*)pv)->popt;
    popt->pfnNotes(popt->pvNotes, timestampPrev, timestampCur, cchIndent);
}

}   // namespace

LogBuilder LogStart(uint32_t ts, unsigned rawAhDay)
{
    LogBuilder log;
    log.Add(VinfRec(ts - 100, true)).Add(DayRec(ts - 90, 990.0, rawAhDay, 95)).Add(VinfRec(ts - 80, false));
    return log;
}

std::string RunSummary(const LogBuilder& log, const SUMMARYOPT& opt, const char* pszPath, SESSIONSSEEN* pseen)
{
    std::string path = TempDir() + "/vms_log";
    log.WriteFile(path);
    auto prun = std::make_unique<RUN>();
    InitRun(prun.get());
    // Far enough ahead that every test time is credible.
    prun->timestampLastValid = 1400000000u;
    STREAM stream;
    if (!stream.FOpenFile(path.c_str()))
        return "(cannot open log)";
    BuildLogLayout(&prun->scan, prun->timestampLastValid, &stream, nullptr, &prun->layout);
    // As the decoder does: the statistics leave out the section scan's records.
    prun->scan.tags.ctage = 0;
    SESSIONSSEEN seenOwn;
    WATCHER watch{{(opt.grfDisplay & fdispTab) != 0, (opt.grfDisplay & fdispMetric) != 0, nullptr, 0, 0, nullptr}, {},
                  pseen ? pseen : &seenOwn, &opt};
    static_assert(std::is_standard_layout_v<WATCHER>, "the reporter is where the context points");
    watch.consReport = ConsumerOfReport(&watch.reporter);
    CONSUMER cons = watch.consReport;
    cons.pfnDrive = WatchDrive;
    cons.pfnCharge = WatchCharge;
    cons.pfnTotals = WatchTotals;
    cons.pfnNotes = opt.pfnNotes ? WatchNotes : nullptr;
    DECODE decode;
    decode.mode = opt.fChargeDetail ? modeDetail : modeSummary;
    decode.fVerbose = opt.fVerbose;
    decode.grfRt = opt.grfRt;
    decode.timestampStart = opt.timestampStart;
    decode.timestampEnd = opt.timestampEnd;
    decode.pszPath = pszPath;
    decode.pcons = &cons;
    return CaptureStdout([&] { RunSessionSummary(prun.get(), &stream, decode); });
}

static size_t IchAfterHeading(const std::string& out)
{
    // The heading ends with the line of dashes (column layout) or the "Notes" heading (tab layout).
    size_t ich = out.find("-----\n");
    if (ich != std::string::npos)
        return ich + 6;
    ich = out.find("\tNotes\n");
    return ich == std::string::npos ? 0 : ich + 7;
}

std::string SessionLines(const std::string& out)
{
    size_t ichStart = IchAfterHeading(out);
    size_t ichEnd = out.find(" Transient section: ", ichStart);
    if (ichEnd == std::string::npos)
        return out.substr(ichStart);
    ichEnd = out.rfind('\n', ichEnd);
    return ichEnd == std::string::npos || ichEnd < ichStart ? "" : out.substr(ichStart, ichEnd + 1 - ichStart);
}

std::string TotalsLine(const std::string& out)
{
    for (const std::string& line : LinesStartingWith(out, ""))
        if (line.find(" Transient section: ") != std::string::npos)
            return line;
    return "";
}

std::vector<std::string> LinesStartingWith(const std::string& out, const std::string& prefix)
{
    std::vector<std::string> lines;
    size_t ich = 0;
    while (ich < out.size()) {
        size_t ichEnd = out.find('\n', ich);
        if (ichEnd == std::string::npos)
            ichEnd = out.size();
        std::string line = out.substr(ich, ichEnd - ich);
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
        ich = ichEnd + 1;
    }
    return lines;
}

void AddDrive(LogBuilder& log, uint32_t ts, int crec, double mph, int secStep, int flags)
{
    for (int i = 0; i < crec; i++)
        log.Add(Dr1sRec(ts + (uint32_t)(i * secStep), mph, 100.0, 360.0, flags));
}

void AddChargeMinutes(LogBuilder& log, uint32_t ts, int crec)
{
    for (int i = 0; i < crec; i++)
        log.Add(C1mbRec(ts + (uint32_t)(i * 60), 250.0, 25.0));
}

std::string Sp(int cch)
{
    return std::string((size_t)cch, ' ');
}

Rec TpmsRec(uint32_t date)
{
    Rec r(20, 18, date);
    r.U8(10, 80).U8(12, 80).U8(14, 80).U8(16, 80);
    return r;
}

Rec NilRec(uint32_t date)
{
    return Rec(0, 12, date);
}

Rec C1maRec(uint32_t date, double voltsLine, double ampsCharge, double ampsIn, double degESSMax)
{
    Rec r(8, 42, date);
    r.I16(16, (int)std::lround(ampsIn * 32)).U16(18, (unsigned)std::lround(ampsCharge * 327.68));
    r.U16(20, (unsigned)std::lround(voltsLine * 131.072));
    r.U16(38, (unsigned)std::lround((degESSMax - 2) * 256)).U16(40, (unsigned)std::lround(degESSMax * 256));
    return r;
}
