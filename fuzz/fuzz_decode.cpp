// Fuzz target for the whole analysis of one log held in memory: section scan, summary, listings,
// battery study and join. The first byte picks the options (as a command line would), the rest is
// the log. Static tables are reset after every input so that inputs do not leak into each other.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "analysis/decoder.h"
#include "battery/collect.h"
#include "battery/histogram.h"
#include "driver/join.h"
#include "driver/notes.h"
#include "driver/options.h"
#include "input/stream.h"
#include "records/record.h"
#include "records/scanner.h"
#include "records/tagstats.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

// Option byte: bits 0-2 the mode, then one bit each for -v, -t, -m, a time window, and which
// newest credible time applies (a 2009 download or a run in 2021).
enum MODE {
    modeSummary = 0,
    modeSummaryVerbose = 1,
    modeChargeDetail = 2,
    modeListAll = 3,
    modeListPermanent = 4,
    modeListDriveCharge = 5,
    modeBattery = 6,
    modeJoin = 7,
};
constexpr uint8_t fbVerbose = 0x08;
constexpr uint8_t fbTab = 0x10;
constexpr uint8_t fbMetric = 0x20;
constexpr uint8_t fbWindow = 0x40;
constexpr uint8_t fbDownload2009 = 0x80;

constexpr unsigned int grfRtAll = 0xFFFFFFFFu;
constexpr unsigned int grfRtDriveCharge = 0x1000380u | 0x1C80u;
constexpr unsigned int timestampWindowStart = 1230768000u;   // 01/01/2009 00:00:00 UTC
constexpr unsigned int timestampWindowEnd = 1262303999u;     // 12/31/2009 23:59:59 UTC
constexpr unsigned int timestampDownload2009 = 1244233800u;  // 06/05/2009 13:30:00 in Los Angeles
constexpr unsigned int timestampRun2021 = 1612000000u;

// Two in-memory files: the log (and the join's first input), and the join's second input.
struct MEMFILE {
    int fd;
    std::string strPath;
};
MEMFILE s_rgmf[2];
std::string s_strJoinOut;

void OpenMemFile(MEMFILE* pmf, const char* szName)
{
    pmf->fd = memfd_create(szName, 0);
    if (pmf->fd < 0)
        abort();
    pmf->strPath = "/proc/self/fd/" + std::to_string(pmf->fd);
}

void FillMemFile(MEMFILE const* pmf, const uint8_t* pb, size_t cb)
{
    if (ftruncate(pmf->fd, 0) != 0 || (cb > 0 && pwrite(pmf->fd, pb, cb, 0) != (ssize_t)cb))
        abort();
}

// A few notes inside the seed logs' time span, so that the walks print notes between records.
void LoadSomeNotes(const std::string& strDir)
{
    std::string strPath = strDir + "/notes.txt";
    FILE* pfile = fopen(strPath.c_str(), "w");
    if (!pfile)
        abort();
    fputs("06/01/2009 08:00:00\tleft home\n06/01/2009 18:30:00\tplugged in\n"
          "11/01/2009 01:30:00\trepeated hour\n01/01/2010\tnew year\n",
          pfile);
    fclose(pfile);
    LoadAnnotationsFile(strPath.c_str());
}

void RunJoin(const uint8_t* pb, size_t cb)
{
    // Two overlapping downloads: the first three quarters of the log and its last three quarters.
    size_t cbQuarter = cb / 4;
    FillMemFile(&s_rgmf[0], pb, cb - cbQuarter);
    FillMemFile(&s_rgmf[1], pb + cbQuarter, cb - cbQuarter);
    LSTAT* rglstat = (LSTAT*)calloc(3, sizeof(LSTAT));
    int clstat = 0;
    for (MEMFILE const& mf : s_rgmf) {
        STREAM* pstream = new STREAM;
        if (!pstream->FOpenFile(mf.strPath.c_str())) {
            delete pstream;
            continue;
        }
        LSTAT* plstat = &rglstat[clstat++];
        plstat->pszName = mf.strPath.c_str();
        plstat->pstream = pstream;
        GetLogStats(pstream, plstat);
    }
    if (clstat > 0)
        JoinLogs(rglstat, clstat, s_strJoinOut.c_str());
    free(rglstat);
}

void RunDecode(uint8_t bOptions, const uint8_t* pb, size_t cb)
{
    FillMemFile(&s_rgmf[0], pb, cb);
    STREAM stream;
    if (!stream.FOpenFile(s_rgmf[0].strPath.c_str()))
        return;

    int mode = bOptions & 7;
    int fVerbose = (bOptions & fbVerbose) || mode == modeSummaryVerbose;
    int grfDisplay = ((bOptions & fbTab) ? fdispTab : 0) | ((bOptions & fbMetric) ? fdispMetric : 0);
    int fChargeDetail = mode == modeChargeDetail;
    int fPermanent = mode == modeListPermanent;
    unsigned int grfRt = mode == modeListAll ? grfRtAll : mode == modeListDriveCharge ? grfRtDriveCharge : 0;
    unsigned int timestampStart = (bOptions & fbWindow) ? timestampWindowStart : 0;
    unsigned int timestampEnd = (bOptions & fbWindow) ? timestampWindowEnd : 0;
    int fSummary = !grfRt && !fChargeDetail && !fPermanent && !timestampStart && !timestampEnd;

    if (mode != modeBattery) {
        DecodeVmsFile("vms_log", &stream, fVerbose, fSummary, fChargeDetail, grfDisplay, fPermanent, grfRt,
                      timestampStart, timestampEnd);
        return;
    }
    // As main runs the study: no notes, the long-term part and then the transient part, then the report.
    SetNotesPrinter(nullptr);
    BeginAggregrateSection(sectLongTerm, 0, s_timestampLastValid);
    DecodeVmsFile("vms_log", &stream, 0, 0, 0, fdispAggregate, 1, 0, timestampStart, timestampEnd);
    BeginAggregrateSection(sectTransient, 0, s_timestampLastValid);
    DecodeVmsFile("vms_log", &stream, 0, 0, 0, fdispAggregate, 0, 0, timestampStart, timestampEnd);
    SetNotesPrinter(FPrintNotesForTimestamp);
    ProcessAllData();
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Reports go to standard output and the study's progress lines to the stderr stream; both are
    // silenced. Descriptor 2 stays, as it carries the fuzzer's and the sanitizers' own reports.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    InitOutput();
    FILE* pfileNull = fopen("/dev/null", "w");
    if (pfileNull)
        stderr = pfileNull;

    char szDir[] = "/tmp/qf-fuzz-decode-XXXXXX";
    if (!mkdtemp(szDir))
        abort();
    s_strJoinOut = std::string(szDir) + "/joined_log";
    OpenMemFile(&s_rgmf[0], "qf-log-a");
    OpenMemFile(&s_rgmf[1], "qf-log-b");

    // A zone with daylight saving time, so that the summary's notes on it are reached.
    if (!FSetZonesForTest("America/Los_Angeles"))
        abort();
    LoadSomeNotes(szDir);
    SetNotesPrinter(FPrintNotesForTimestamp);
    SetAggregateHook(AggregateVlr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    uint8_t bOptions = data[0];
    s_timestampLastValid = (bOptions & fbDownload2009) ? timestampDownload2009 : timestampRun2021;
    try {
        if ((bOptions & 7) == modeJoin)
            RunJoin(data + 1, size - 1);
        else
            RunDecode(bOptions, data + 1, size - 1);
    } catch (FuzzExit const&) {
    }
    ResetTagStats();
    ResetVehicleInfo();
    ResetCollection();
    ResetData();
    return 0;
}
