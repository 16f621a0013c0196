// Fuzz target for the whole analysis of one log: section scan, summary, listings, battery study
// and join, each reached through the driver's own per-input step on a program of its own, so that
// no input leaks into the next. The first byte picks the options (as a command line would), the
// rest is the log.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "driver/process.h"
#include "fuzz_temp.h"
#include "records/record.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

// Option byte: bits 0-2 the mode, then one bit each for -v, -t, -m, a time window, and which
// newest credible time applies (that of a download taken in 2009, or the time of the run).
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
constexpr unsigned int timestampWindowStart = 1230768000u;   // 01/01/2009 00:00:00 UTC
constexpr unsigned int timestampWindowEnd = 1262303999u;     // 12/31/2009 23:59:59 UTC
// The driver takes a download's time from its name: 06/05/2009 13:30:00 in Los Angeles.
constexpr char szDownload2009[] = "200906051330.tar";

constexpr int cbTarBlock = 512;

// The inputs live in memory files (rewriting a disk file for every input would wait on its
// write-back): the log (and the join's first input), the join's second input, and the log as the
// vms_log member of a download. The download is reached through a link with a download's name.
struct MEMFILE {
    int fd;
    std::string strPath;
};
MEMFILE s_mfLog, s_mfJoin, s_mfTar;
std::string s_strTarPath;
std::string s_strNotesPath;
std::string s_strJoinOut;

void OpenMemFile(MEMFILE* pmf, const char* szName)
{
    pmf->fd = memfd_create(szName, 0);
    if (pmf->fd < 0)
        abort();
    pmf->strPath = "/proc/self/fd/" + std::to_string(pmf->fd);
}

void FillMemFile(MEMFILE const* pmf, const uint8_t* pb, size_t cb, off_t ib = 0)
{
    if ((ib == 0 && ftruncate(pmf->fd, 0) != 0) || (cb > 0 && pwrite(pmf->fd, pb, cb, ib) != (ssize_t)cb))
        abort();
}

// A download holding the log as its one member, padded to whole blocks as an archiver does.
void FillTarball(const uint8_t* pb, size_t cb)
{
    uint8_t hdr[cbTarBlock] = {};
    strcpy((char*)hdr, "vms_log");
    memcpy(hdr + 100, "0000644", 8);
    snprintf((char*)hdr + 124, 12, "%011lo", (unsigned long)cb);
    hdr[156] = '0';
    FillMemFile(&s_mfTar, hdr, sizeof hdr);
    FillMemFile(&s_mfTar, pb, cb, cbTarBlock);
    size_t cbPad = (cbTarBlock - cb % cbTarBlock) % cbTarBlock + 2 * cbTarBlock;
    uint8_t rgbZero[3 * cbTarBlock] = {};
    FillMemFile(&s_mfTar, rgbZero, cbPad, (off_t)(cbTarBlock + cb));
}

// A few notes inside the seed logs' time span, so that the walks print notes between records.
void WriteSomeNotes(const std::string& strDir)
{
    s_strNotesPath = strDir + "/notes.txt";
    FILE* pfile = fopen(s_strNotesPath.c_str(), "w");
    if (!pfile)
        abort();
    fputs("06/01/2009 08:00:00\tleft home\n06/01/2009 18:30:00\tplugged in\n"
          "11/01/2009 01:30:00\trepeated hour\n01/01/2010\tnew year\n",
          pfile);
    fclose(pfile);
}

// The options as typed before the input: bits the command line sets the same way.
void SetOptions(OPTIONS* popt, uint8_t bOptions)
{
    int mode = bOptions & 7;
    popt->fVerbose = (bOptions & fbVerbose) || mode == modeSummaryVerbose;
    popt->fTab = (bOptions & fbTab) != 0;
    popt->fMetric = (bOptions & fbMetric) != 0;
    popt->fChargeDetail = mode == modeChargeDetail;
    popt->fPermanent = mode == modeListPermanent;
    popt->grfRt = mode == modeListAll           ? grfRtAll
                  : mode == modeListDriveCharge ? GrfRtOfSelection(fselDrive | fselCharge)
                                                : 0;
    popt->fBattery = mode == modeBattery;
    popt->pszJoinOutput = mode == modeJoin ? s_strJoinOut.c_str() : nullptr;
    if (bOptions & fbWindow) {
        popt->timestampStart = timestampWindowStart;
        popt->timestampEnd = timestampWindowEnd;
    }
}

void RunProgram(uint8_t bOptions, const uint8_t* pb, size_t cb)
{
    std::unique_ptr<PROGRAM> pprog = std::make_unique<PROGRAM>();
    InitProgram(pprog.get());
    FAILURE fail;
    if (!FLoadAnnotationsFile(&pprog->notes, s_strNotesPath.c_str(), &fail))
        abort();
    SetOptions(&pprog->opt, bOptions);

    // A failure ends the run as the program would: nothing after it is read.
    bool fOk;
    if ((bOptions & 7) == modeJoin) {
        // Two overlapping downloads: the first three quarters of the log and its last three quarters.
        size_t cbQuarter = cb / 4;
        FillMemFile(&s_mfLog, pb, cb - cbQuarter);
        FillMemFile(&s_mfJoin, pb + cbQuarter, cb - cbQuarter);
        fOk = FProcessInput(pprog.get(), s_mfLog.strPath.c_str(), 2, &fail) &&
              FProcessInput(pprog.get(), s_mfJoin.strPath.c_str(), 1, &fail);
    } else if (bOptions & fbDownload2009) {
        FillTarball(pb, cb);
        fOk = FProcessInput(pprog.get(), s_strTarPath.c_str(), 1, &fail);
    } else {
        FillMemFile(&s_mfLog, pb, cb);
        fOk = FProcessInput(pprog.get(), s_mfLog.strPath.c_str(), 1, &fail);
    }
    if (fOk)
        FFinishInputs(pprog.get(), &fail);
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

    std::string strDir = StrTempTemplate("decode");
    if (!mkdtemp(strDir.data()))
        abort();
    s_strJoinOut = strDir + "/joined_log";
    OpenMemFile(&s_mfLog, "qf-log-a");
    OpenMemFile(&s_mfJoin, "qf-log-b");
    OpenMemFile(&s_mfTar, "qf-download");
    s_strTarPath = strDir + "/" + szDownload2009;
    if (symlink(s_mfTar.strPath.c_str(), s_strTarPath.c_str()) != 0)
        abort();

    // A zone with daylight saving time, so that the summary's notes on it are reached.
    if (!FSetZones("America/Los_Angeles"))
        abort();
    WriteSomeNotes(strDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    RunProgram(data[0], data + 1, size - 1);
    return 0;
}
