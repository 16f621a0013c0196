// The battery study: one log's two parts, and many downloads decoded on every core while the
// calling thread takes their samples in command-line order.
#include "driver/study.h"

#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "analysis/decoder.h"
#include "input/download.h"
#include "report/report.h"
#include "support/assert.h"
#include "support/workers.h"

namespace {

// Marks a worker's vehicle as not yet described by this download: no VINF byte gives it.
constexpr int rverNone = -1;

void TellTableFull(CONSUMER const* pcons)
{
    if (pcons && pcons->pfnTableFull)
        pcons->pfnTableFull(pcons->pv);
}

}   // namespace

bool FStudyLog(RUN* prun, STREAM* pstream, STUDY* pstudy, unsigned int timestampSkipUntil, DECODE decode,
               SAMPLEBUF* pbuf)
{
    QF_ASSERT(decode.mode == modeStudy);
    CONSUMER const* pcons = decode.pcons;
    // Both parts read one layout: a second section scan would find the same table and leave the
    // vehicle of the log's last VINF record again, so that is what the second part starts from.
    BuildLogLayout(&prun->scan, prun->timestampLastValid, pstream, nullptr, &prun->layout, prun->pindex);
    if (!pbuf && prun->layout.fTableFull)
        TellTableFull(pcons);
    VEHICLE const vehicleScanned = prun->scan.vehicle;
    if (pbuf && vehicleScanned.rver == rverNone)
        return false;
    for (int ipart = 0; ipart < 2; ipart++) {
        decode.fPermanent = ipart == 0;
        BeginAggregrateSection(pstudy, ipart == 0 ? sectLongTerm : sectTransient, timestampSkipUntil,
                               prun->timestampLastValid);
        if (ipart == 1) {
            if (!pbuf && prun->layout.fTableFull)
                TellTableFull(pcons);
            prun->scan.vehicle = vehicleScanned;
        }
        if (pbuf && FHandOverSamples(pbuf))
            PbatchFilling(pbuf)->fTableFullBefore = prun->layout.fTableFull;
        DecodeLaidOutFile(prun, pstream, decode);
        if (!pbuf && pstudy->fOutOfMemory)
            break;
    }
    return true;
}

namespace {

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
    std::string strEcho;          // what the tar walk shows (its name prefixes), printed in order
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
    // The record indexes of the workers' section scans, handed on likewise.
    std::vector<std::unique_ptr<RECORDINDEX>> rgpindexSpare;
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

// The tar walk's name prefixes go out with the job's samples, in order.
void EchoMember(void* pv, TARF const& tarf)
{
    ((STUDYJOB*)pv)->strEcho += tarf.szPrefix;
}

void StudyJobOnWorker(STUDYBATCH* pbatch, STUDYJOB* pjob)
{
    OPTIONS const& opt = pbatch->opt;
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    std::unique_ptr<RECORDINDEX> pindex;
    {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        if (!pbatch->rgpbufSpare.empty()) {
            MoveSampleBufMemory(&pjob->buf, pbatch->rgpbufSpare.back().get());
            pbatch->rgpbufSpare.pop_back();
        }
        if (!pbatch->rgpindexSpare.empty()) {
            pindex = std::move(pbatch->rgpindexSpare.back());
            pbatch->rgpindexSpare.pop_back();
        }
    }
    InitSampleBuf(&pjob->buf, FHandOverStudyBatch, pjob);
    prun->scan.pfnAggregate = BufferVlr;
    prun->scan.pvAggregate = &pjob->buf;
    prun->scan.pfnWants = GrfRtBufferWants;
    prun->scan.vehicle.rver = rverNone;
    prun->timestampLastValid = (unsigned int)time(nullptr);
    // The ring is then walked over the records of the types the study keeps; without memory for the
    // index, over every record. Only the entries the scan fills are ever touched.
    if (!pindex)
        pindex.reset(new (std::nothrow) RECORDINDEX);
    SetRunIndex(prun.get(), pindex.get(), GrfRtBufferWants(&pjob->buf, sectTransient));

    STREAM stream;
    MEMBERHOOK const members{pjob, nullptr, EchoMember};
    OPENERROR openerr;
    bool const fOpened = OpenDownload(&stream, pjob->pszArg, &members, &openerr) == openOk;
    if (fOpened && pjob->fDownloadTime)
        prun->timestampLastValid = pjob->timestampDownload;

    // Without memory for its batches the download is left to the calling thread, which runs out
    // of memory as the sequential run would, or does not.
    if (!fOpened || pjob->buf.fOutOfMemory) {
        pjob->fRedo = true;
    } else {
        DECODE decode = DecodeOfOptions(opt, pjob->pszArg);
        bool fStudied = FStudyLog(prun.get(), &stream, &pjob->buf.study, opt.timestampSkipUntil, decode, &pjob->buf);
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
    if (pindex) {
        std::lock_guard<std::mutex> lock(pbatch->mtx);
        try {
            pbatch->rgpindexSpare.push_back(std::move(pindex));
        } catch (std::bad_alloc const&) {
            // The next job makes its own.
        }
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
    std::string().swap(pjob->strEcho);
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
// state as that run would have left it. False with the reason when the run ends there.
bool FTakeStudyJob(PROGRAM* pprog, STUDYBATCH* pbatch, ORDEREDJOBS* pjobs, STUDYJOB* pjob, FAILURE* pfail)
{
    if (!pjob->strEcho.empty())
        fwrite(pjob->strEcho.data(), 1, pjob->strEcho.size(), stdout);
    while (FWaitForStudyBatch(pbatch, pjob)) {
        QF_ASSERT(pjob->cbatchTaken < pjob->cbatchReady && pjob->cbatchReady - pjob->cbatchTaken <= cbatchSampleBuf);
        SAMPLEBATCH const* psbatch = &pjob->buf.rgbatch[pjob->cbatchTaken % cbatchSampleBuf];
        if (psbatch->fTableFullBefore)
            PrintTooManySections();
        TakeSampleBatch(&pprog->study, psbatch);
        GiveBackStudyBatch(pbatch, pjob);
        if (pprog->study.fOutOfMemory)
            break;
    }
    pprog->run.scan.vehicle = pjob->vehicle;
    pprog->run.timestampLastValid = pjob->timestampLastValid;
    pprog->study.timestampFirstValid = pprog->opt.timestampSkipUntil;
    pprog->study.timestampLastValid = pjob->timestampLastValid;
    if (pjob->fOutOfMemory || pprog->study.fOutOfMemory) {
        StopStudyJobs(pbatch, pjobs);
        SetFailure(pfail, "out of memory");
        return false;
    }
    if (pjob->fChanged) {
        StopStudyJobs(pbatch, pjobs);
        SetFailure(pfail, "file '%s' changed while it was being read.", pjob->pszArg);
        return false;
    }
    return true;
}

}   // namespace

bool FStudyInParallel(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft, int cworker, FAILURE* pfail)
{
    if (!FCheckTimeWindow(pprog->opt, pfail))
        return false;
    std::unique_ptr<STUDYJOB[]> rgjob(new STUDYJOB[(size_t)carg]());
    // Every path out stops the workers before the jobs they point into go.
    struct STOPPER {
        STUDYBATCH* pbatch;
        ORDEREDJOBS* pjobs;
        ~STOPPER() { StopStudyJobs(pbatch, pjobs); }
    };
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
    STOPPER stopper{&batch, &jobs};
    StartJobs(&jobs, carg, cworker, cworker, StudyJob, &batch);
    // Not one worker could start (no room for a thread's stack): the inputs go one after another.
    if (jobs.rgthread.empty()) {
        for (int iarg = 0; iarg < carg; iarg++) {
            if (!FProcessInput(pprog, rgpszArg[iarg], cargLeft - iarg, pfail))
                return false;
        }
        return true;
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
            if (!FHandleInput(pprog, pjob->pszArg, cargLeft - iarg, pfail)) {
                StopStudyJobs(&batch, &jobs);
                return false;
            }
        } else if (!FTakeStudyJob(pprog, &batch, &jobs, pjob, pfail)) {
            return false;
        }
        ReleaseJob(&batch, pjob);
        if (!fStopped)
            TakeJob(&jobs, iarg);
    }
    return true;
}

