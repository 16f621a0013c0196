// One input of the command line: opening it (a plain log or the vms_log member of a download),
// then the analysis, the battery study or the join's collection, as the options in force say.
#include "driver/process.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <vector>
#include <strings.h>
#include <sys/stat.h>

#include "analysis/decoder.h"
#include "battery/histogram.h"
#include "support/fatal.h"
#include "support/output.h"
#include "support/timecal.h"
#include "support/workers.h"

namespace {

constexpr int cchDate = 20;

// The tar reader opens with standard I/O, which would wait forever on a FIFO without a writer, so
// anything but a regular file is turned away before it gets there.
bool FRegularFile(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// Opens pstream on the tarball's last vms_log member; false when there is none to read. The walk
// writes the members' name prefixes to pfileEcho.
bool FOpenTarballLog(STREAM* pstream, const char* pszArg, bool fList, FILE* pfileEcho)
{
    TAR tar;
    tar.EchoPrefixesTo(pfileEcho);
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

void TakeDownloadTime(RUN* prun, const char* pszArg)
{
    unsigned int timestamp;
    if (FDownloadTime(pszArg, &timestamp))
        prun->timestampLastValid = timestamp;
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
}

// Marks a worker's vehicle as not yet described by this download: no VINF byte gives it.
constexpr int rverNone = -1;

// The battery study reads the long-term part and then the transient part of every log, and its
// report (standard output) must hold nothing but the study: no summary, no listing, no raw
// bytes, no notes, whatever other options were typed. The run's collector takes the samples; with
// pbuf (a worker's run, whose collector buffers them) the section scan's message goes with the
// samples it comes before, and the study ends early (false) when the section scan found no
// vehicle-info record: the log would decode with the previous log's vehicle, which only the
// calling thread knows.
bool FStudyInput(RUN* prun, STREAM* pstream, STUDY* pstudy, unsigned int timestampSkipUntil, DECODE decode,
                 SAMPLEBUF* pbuf)
{
    decode.grfDisplay = fdispAggregate | (pbuf ? fdispDeferMessages : 0);
    // Both parts read one layout: a second section scan would find the same table and leave the
    // vehicle of the log's last VINF record again, so that is what the second part starts from.
    BuildLogLayout(&prun->scan, prun->timestampLastValid, pstream, decode.grfDisplay, 0, &prun->layout);
    VEHICLE const vehicleScanned = prun->scan.vehicle;
    if (pbuf && vehicleScanned.rver == rverNone)
        return false;
    for (int ipart = 0; ipart < 2; ipart++) {
        decode.fPermanent = ipart == 0;
        BeginAggregrateSection(pstudy, ipart == 0 ? sectLongTerm : sectTransient, timestampSkipUntil,
                               prun->timestampLastValid);
        if (ipart == 1) {
            if (!pbuf && prun->layout.fTableFull)
                fputs(szTooManySections, stdout);
            prun->scan.vehicle = vehicleScanned;
        }
        if (pbuf && FHandOverSamples(pbuf))
            PbatchFilling(pbuf)->fTableFullBefore = prun->layout.fTableFull;
        DecodeLaidOutFile(prun, pstream, decode);
    }
    return true;
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
    PFNNOTES pfnNotes = prun->pfnNotes;
    prun->pfnNotes = nullptr;
    FStudyInput(prun, pstream, &pprog->study, opt.timestampSkipUntil, decode, nullptr);
    prun->pfnNotes = pfnNotes;
}

}   // namespace

bool FTarballName(const char* pszArg)
{
    size_t cch = strlen(pszArg);
    return cch >= 5 && strcasecmp(pszArg + cch - 4, ".tar") == 0;
}

bool FDownloadTime(const char* pszArg, unsigned int* ptimestamp)
{
    const char* pszSlash = strrchr(pszArg, '/');
    if (!pszSlash)
        return false;
    int year, month, day, hour, minute;
    if (sscanf(pszSlash + 1, "%4d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute) != 5)
        return false;
    char szDate[cchDate];
    snprintf(szDate, sizeof szDate, "%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour, minute, 0);
    *ptimestamp = TimestampFromDate(szDate);
    return true;
}


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
    pprog->run.scan.pfnWants = GrfRtStudyWants;
}

namespace {

// Everything ProcessInput does after the "Analyze:" line.
void HandleInput(PROGRAM* pprog, const char* pszArg, int cargLeft)
{
    OPTIONS const& opt = pprog->opt;
    bool fSummary = !opt.fBattery && !opt.pszJoinOutput && opt.grfRt == 0 && !opt.fChargeDetail &&
                    !opt.fPermanent && opt.timestampStart == 0 && opt.timestampEnd == 0;
    pprog->run.timestampLastValid = (unsigned int)time(nullptr);
    // Without notes the walks need not ask for them at every record.
    pprog->run.pfnNotes = pprog->notes.cnote > 0 ? FPrintNotesForTimestamp : nullptr;
    std::unique_ptr<STREAM> pstream = std::make_unique<STREAM>();

    if (FTarballName(pszArg)) {
        if (!FOpenTarballLog(pstream.get(), pszArg, opt.fVerbose && fSummary, stdout))
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

void CheckTimeWindow(OPTIONS const& opt)
{
    if (opt.timestampEnd != 0 && opt.timestampStart > opt.timestampEnd)
        GiveUsageAndExit("start time is after end time");
}

// ---- The battery study of several downloads on every core ----
//
// A worker opens and decodes one download with a run of its own, and its collector only prepares
// the samples (BufferVlr), handing them over a batch at a time. The calling thread takes the
// batches in command-line order, as they come, and gives every sample to the study as the
// sequential run would, so the VIN lines, the out-of-order and capacity checks and their messages,
// the "Analyze:" lines and the fatal errors come out at the same points. A worker that has two
// batches waiting waits for the calling thread, so what waits is two batches per worker however
// large the downloads. A download whose result would depend on the runs before it (one without
// any vehicle-info record decodes with the previous vehicle) or that could not be opened is
// handled by the calling thread itself, in order, after the workers are stopped.

struct STUDYBATCH;

struct STUDYJOB {
    const char* pszArg;
    bool fDownloadTime;           // the name gives the download time (found by the calling thread)
    unsigned int timestampDownload;
    STUDYBATCH* pbatch;
    // The worker's result; the counts of batches and fFinished change under the batch's mutex.
    int cbatchReady;              // batches of buf handed over
    int cbatchTaken;              // batches the calling thread has taken (and given back)
    bool fFinished;               // nothing more comes: the fields below are set
    bool fRedo;                   // the calling thread must handle the download itself
    bool fOutOfMemory;            // the worker ran out of memory (and fRedo is set)
    bool fChanged;
    SAMPLEBUF buf;
    char* pchEcho;                // what the tar walk printed
    size_t cchEcho;
    VEHICLE vehicle;
    unsigned int timestampLastValid;
};

struct STUDYBATCH {
    OPTIONS opt;
    STUDYJOB* rgjob;
    // The hand-over of samples between the workers and the calling thread.
    std::mutex mtx;
    std::condition_variable cv;
    bool fStop = false;           // the calling thread takes no more batches
    // Sample buffers of downloads already taken, for the next ones (fresh memory would be faulted
    // in page by page again).
    std::vector<std::unique_ptr<SAMPLEBUF>> rgpbufSpare;
};

// A PFNHANDOVER: publishes batch ibatch of the job and waits until the calling thread has taken
// every batch but this one, so that the next batch may be filled.
bool FHandOverStudyBatch(void* pv, int ibatch)
{
    STUDYJOB* pjob = (STUDYJOB*)pv;
    STUDYBATCH* pbatch = pjob->pbatch;
    std::unique_lock<std::mutex> lock(pbatch->mtx);
    pjob->cbatchReady = ibatch + 1;
    pbatch->cv.notify_all();
    pbatch->cv.wait(lock, [pjob, pbatch, ibatch] {
        return pbatch->fStop || pjob->cbatchTaken > ibatch + 1 - cbatchSampleBuf;
    });
    return !pbatch->fStop;
}

// Tells the job's taker that nothing more comes.
void FinishStudyJob(STUDYJOB* pjob)
{
    STUDYBATCH* pbatch = pjob->pbatch;
    {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        pjob->fFinished = true;
    }
    pbatch->cv.notify_all();
}

void StudyJobOnWorker(STUDYBATCH* pbatch, STUDYJOB* pjob)
{
    OPTIONS const& opt = pbatch->opt;
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        if (!pbatch->rgpbufSpare.empty()) {
            MoveSampleBufMemory(&pjob->buf, pbatch->rgpbufSpare.back().get());
            pbatch->rgpbufSpare.pop_back();
        }
    }
    InitSampleBuf(&pjob->buf, FHandOverStudyBatch, pjob);
    prun->scan.pfnAggregate = BufferVlr;
    prun->scan.pvAggregate = &pjob->buf;
    prun->scan.pfnWants = GrfRtBufferWants;
    prun->scan.vehicle.rver = rverNone;
    prun->timestampLastValid = (unsigned int)time(nullptr);

    STREAM stream;
    stream.QuietMapFailure();
    bool fOpened;
    if (FTarballName(pjob->pszArg)) {
        FILE* pfileEcho = open_memstream(&pjob->pchEcho, &pjob->cchEcho);
        fOpened = pfileEcho && FOpenTarballLog(&stream, pjob->pszArg, false, pfileEcho);
        if (pfileEcho)
            fclose(pfileEcho);
        if (fOpened && pjob->fDownloadTime)
            prun->timestampLastValid = pjob->timestampDownload;
    } else {
        fOpened = stream.FOpenFile(pjob->pszArg);
    }

    // Without memory for its batches the download is left to the calling thread, which runs out
    // of memory as the sequential run would, or does not.
    if (!fOpened || pjob->buf.fOutOfMemory) {
        pjob->fRedo = true;
    } else {
        DECODE decode;
        decode.grfRt = opt.grfRt;
        decode.timestampStart = opt.timestampStart;
        decode.timestampEnd = opt.timestampEnd;
        decode.pszPath = pjob->pszArg;
        bool fStudied = FStudyInput(prun.get(), &stream, &pjob->buf.study, opt.timestampSkipUntil, decode, &pjob->buf);
        // The last batch goes over without waiting: nothing follows it.
        if (fStudied && !pjob->buf.fStopped) {
            std::lock_guard<std::mutex> lock(pbatch->mtx);
            pjob->cbatchReady = pjob->buf.ibatch + 1;
        }
        pjob->fChanged = stream.FChanged();
        pjob->vehicle = prun->scan.vehicle;
        pjob->timestampLastValid = prun->timestampLastValid;
        // A run stopped while its batches waited has lost samples: if it is taken at all, it is
        // taken again from the start.
        pjob->fRedo = !fStudied || pjob->buf.fStopped;
    }
    FinishStudyJob(pjob);
}

// A worker that runs out of memory leaves the download to the calling thread, which then runs out
// of memory as the sequential run would, or does not; if some of its samples were taken already,
// the run ends there with the message.
void StudyJob(void* pv, int ijob)
{
    STUDYBATCH* pbatch = (STUDYBATCH*)pv;
    STUDYJOB* pjob = &pbatch->rgjob[ijob];
    try {
        StudyJobOnWorker(pbatch, pjob);
    } catch (std::bad_alloc const&) {
        pjob->fOutOfMemory = true;
        pjob->fRedo = true;
        FinishStudyJob(pjob);
    }
}

void ReleaseJob(STUDYBATCH* pbatch, STUDYJOB* pjob)
{
    free(pjob->pchEcho);
    pjob->pchEcho = nullptr;
    pjob->cchEcho = 0;
    std::unique_ptr<SAMPLEBUF> pbufSpare = std::make_unique<SAMPLEBUF>();
    MoveSampleBufMemory(pbufSpare.get(), &pjob->buf);
    std::lock_guard<std::mutex> lock(pbatch->mtx);
    pbatch->rgpbufSpare.push_back(std::move(pbufSpare));
}

// Stops the workers, waking those that wait for their batches to be taken.
void StopStudyJobs(STUDYBATCH* pbatch, ORDEREDJOBS* pjobs)
{
    {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        pbatch->fStop = true;
    }
    pbatch->cv.notify_all();
    StopJobs(pjobs);
}

// Waits until the job has a batch to take or has finished; true for a batch.
bool FWaitForStudyBatch(STUDYBATCH* pbatch, STUDYJOB* pjob)
{
    std::unique_lock<std::mutex> lock(pbatch->mtx);
    pbatch->cv.wait(lock, [pjob] { return pjob->cbatchReady > pjob->cbatchTaken || pjob->fFinished; });
    return pjob->cbatchReady > pjob->cbatchTaken;
}

void GiveBackStudyBatch(STUDYBATCH* pbatch, STUDYJOB* pjob)
{
    {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        pjob->cbatchTaken++;
    }
    pbatch->cv.notify_all();
}

// Gives the study the samples of a job that has handed over its first batch (so it will not be
// redone), with the messages where the sequential run printed them, and leaves the program's
// state as that run would have left it.
void TakeStudyJob(PROGRAM* pprog, STUDYBATCH* pbatch, ORDEREDJOBS* pjobs, STUDYJOB* pjob)
{
    if (pjob->cchEcho > 0)
        fwrite(pjob->pchEcho, 1, pjob->cchEcho, stdout);
    while (FWaitForStudyBatch(pbatch, pjob)) {
        SAMPLEBATCH const* psbatch = &pjob->buf.rgbatch[pjob->cbatchTaken % cbatchSampleBuf];
        if (psbatch->fTableFullBefore)
            fputs(szTooManySections, stdout);
        TakeSampleBatch(&pprog->study, psbatch);
        GiveBackStudyBatch(pbatch, pjob);
    }
    pprog->run.scan.vehicle = pjob->vehicle;
    pprog->run.timestampLastValid = pjob->timestampLastValid;
    pprog->study.timestampFirstValid = pprog->opt.timestampSkipUntil;
    pprog->study.timestampLastValid = pjob->timestampLastValid;
    if (pjob->fOutOfMemory) {
        StopStudyJobs(pbatch, pjobs);
        GiveUsageAndExit("out of memory");
    }
    if (pjob->fChanged) {
        StopStudyJobs(pbatch, pjobs);
        GiveUsageAndExit("file '%s' changed while it was being read.", pjob->pszArg);
    }
}

void StudyInParallel(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft, int cworker)
{
    CheckTimeWindow(pprog->opt);
    std::unique_ptr<STUDYJOB[]> rgjob(new STUDYJOB[(size_t)carg]());
    STUDYBATCH batch;
    batch.opt = pprog->opt;
    batch.rgjob = rgjob.get();
    for (int iarg = 0; iarg < carg; iarg++) {
        STUDYJOB* pjob = &rgjob[iarg];
        pjob->pszArg = rgpszArg[iarg];
        pjob->pbatch = &batch;
        // The zone tables are the calling thread's.
        pjob->fDownloadTime = FTarballName(pjob->pszArg) && FDownloadTime(pjob->pszArg, &pjob->timestampDownload);
    }
    // At most one download per worker is mapped or has batches waiting to be taken, so the study
    // holds its samples, a download per worker and two batches per worker.
    ORDEREDJOBS jobs;
    StartJobs(&jobs, carg, cworker, cworker, StudyJob, &batch);
    // Not one worker could start (no room for a thread's stack): the inputs go one after another.
    if (jobs.rgthread.empty()) {
        for (int iarg = 0; iarg < carg; iarg++)
            ProcessInput(pprog, rgpszArg[iarg], cargLeft - iarg);
        return;
    }
    bool fStopped = false;
    for (int iarg = 0; iarg < carg; iarg++) {
        STUDYJOB* pjob = &rgjob[iarg];
        fprintf(stderr, "Analyze: %s\n", pjob->pszArg);
        bool fStarted = true;
        if (!fStopped)
            FWaitForStudyBatch(&batch, pjob);
        else
            fStarted = jobs.rgfDone[(size_t)iarg] != 0;
        // A job that handed over a batch is not redone; one that finished without any may be.
        bool fRedo;
        {
            std::lock_guard<std::mutex> lock(batch.mtx);
            fRedo = !fStarted || (pjob->fFinished && pjob->fRedo);
        }
        if (fRedo) {
            if (!fStopped) {
                StopStudyJobs(&batch, &jobs);
                fStopped = true;
            }
            HandleInput(pprog, pjob->pszArg, cargLeft - iarg);
        } else {
            TakeStudyJob(pprog, &batch, &jobs, pjob);
        }
        ReleaseJob(&batch, pjob);
        if (!fStopped)
            TakeJob(&jobs, iarg);
    }
}

}   // namespace

void ProcessInput(PROGRAM* pprog, const char* pszArg, int cargLeft)
{
    OPTIONS const& opt = pprog->opt;
    CheckTimeWindow(opt);
    fprintf(opt.fBattery ? stderr : stdout, "Analyze: %s\n", pszArg);
    HandleInput(pprog, pszArg, cargLeft);
}

void ProcessInputs(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft)
{
    OPTIONS const& opt = pprog->opt;
    int cworker = opt.fBattery && !opt.pszJoinOutput && carg > 1 ? CWorkers() : 1;
    if (cworker > 1) {
        StudyInParallel(pprog, rgpszArg, carg, cargLeft, cworker);
        return;
    }
    for (int iarg = 0; iarg < carg; iarg++)
        ProcessInput(pprog, rgpszArg[iarg], cargLeft - iarg);
}

void FinishInputs(PROGRAM* pprog)
{
    JOINTABLE* pjoin = &pprog->join;
    if (pjoin->cin > 0) {
        GatherLogStats(pjoin->rgin, pjoin->cin, CWorkers());
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
