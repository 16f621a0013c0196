// Worker threads: a parallel loop over independent jobs, and jobs run ahead of a caller that takes
// their results in order. Nothing here is shared between two sets of jobs.
#include "support/workers.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <system_error>


int CWorkers()
{
    const char* psz = getenv("QUENFELL_JOBS");
    if (psz && *psz) {
        char* pszEnd = nullptr;
        long c = strtol(psz, &pszEnd, 10);
        if (*pszEnd == '\0' && c >= 1)
            return c > 256 ? 256 : (int)c;
    }
    unsigned int c = std::thread::hardware_concurrency();
    return c == 0 ? 1 : (int)c;
}

namespace {

// rgfDone's mark for a job that ended with std::bad_alloc.
constexpr char fdoneOutOfMemory = 2;

struct LOOP {
    PFNJOB pfnJob;
    void* pv;
    int cjob;
    std::atomic<int> ijobNext;
    std::atomic<bool> fOutOfMemory;
};

// A job's std::bad_alloc must not leave its thread (that would abort the program): the loop stops
// taking jobs and RunJobs ends the run with the message main gives for it.
void RunLoop(LOOP* ploop)
{
    for (;;) {
        int ijob = ploop->ijobNext.fetch_add(1);
        if (ijob >= ploop->cjob || ploop->fOutOfMemory.load())
            return;
        try {
            ploop->pfnJob(ploop->pv, ijob);
        } catch (std::bad_alloc const&) {
            ploop->fOutOfMemory.store(true);
            return;
        }
    }
}

void RunOrdered(ORDEREDJOBS* pjobs)
{
    for (;;) {
        int ijob;
        {
            std::unique_lock<std::mutex> lock(pjobs->mtx);
            pjobs->cv.wait(lock, [pjobs] {
                return pjobs->fStop || pjobs->ijobNext >= pjobs->cjob ||
                       pjobs->ijobNext < pjobs->ijobTaken + pjobs->cAhead;
            });
            if (pjobs->fStop || pjobs->ijobNext >= pjobs->cjob)
                return;
            ijob = pjobs->ijobNext++;
        }
        char fDone = 1;
        try {
            pjobs->pfnJob(pjobs->pv, ijob);
        } catch (std::bad_alloc const&) {
            fDone = fdoneOutOfMemory;
        }
        {
            std::lock_guard<std::mutex> lock(pjobs->mtx);
            pjobs->rgfDone[(size_t)ijob] = fDone;
        }
        pjobs->cv.notify_all();
    }
}

// Starts a thread running fn; false when the system refuses one (too little memory or address
// space for its stack, too many threads), and the caller goes on with the threads it has.
template <class FN>
bool FStartThread(std::vector<std::thread>* prgthread, FN fn)
{
    try {
        prgthread->emplace_back(fn);
        return true;
    } catch (std::system_error const&) {
        return false;
    } catch (std::bad_alloc const&) {
        return false;
    }
}

}   // namespace

bool FRunJobs(int cjob, int cworker, PFNJOB pfnJob, void* pv)
{
    if (cworker > cjob)
        cworker = cjob;
    LOOP loop{pfnJob, pv, cjob, {0}, {false}};
    if (cworker <= 1) {
        // On the calling thread a std::bad_alloc reaches main's handler as anywhere else.
        for (int ijob = 0; ijob < cjob; ijob++)
            pfnJob(pv, ijob);
        return true;
    }
    // The calling thread is one of the workers, and runs every job alone if no thread can start.
    std::vector<std::thread> rgthread;
    for (int i = 1; i < cworker; i++) {
        if (!FStartThread(&rgthread, [&loop] { RunLoop(&loop); }))
            break;
    }
    RunLoop(&loop);
    for (std::thread& thread : rgthread)
        thread.join();
    return !loop.fOutOfMemory.load();
}

void StartJobs(ORDEREDJOBS* pjobs, int cjob, int cworker, int cAhead, PFNJOB pfnJob, void* pv)
{
    pjobs->pfnJob = pfnJob;
    pjobs->pv = pv;
    pjobs->cjob = cjob;
    pjobs->cAhead = cAhead < 1 ? 1 : cAhead;
    pjobs->rgfDone.assign((size_t)cjob, 0);
    if (cworker > cjob)
        cworker = cjob;
    for (int i = 0; i < cworker; i++) {
        if (!FStartThread(&pjobs->rgthread, [pjobs] { RunOrdered(pjobs); }))
            break;
    }
}

bool FWaitForJob(ORDEREDJOBS* pjobs, int ijob)
{
    // No worker could start: the caller runs each job itself as it asks for it.
    if (pjobs->rgthread.empty()) {
        if (!pjobs->rgfDone[(size_t)ijob]) {
            pjobs->pfnJob(pjobs->pv, ijob);
            pjobs->rgfDone[(size_t)ijob] = 1;
        }
        return true;
    }
    char fDone;
    {
        std::unique_lock<std::mutex> lock(pjobs->mtx);
        pjobs->cv.wait(lock, [pjobs, ijob] { return pjobs->rgfDone[(size_t)ijob] != 0; });
        fDone = pjobs->rgfDone[(size_t)ijob];
    }
    if (fDone == fdoneOutOfMemory) {
        StopJobs(pjobs);
        return false;
    }
    return true;
}

void TakeJob(ORDEREDJOBS* pjobs, int ijob)
{
    {
        std::lock_guard<std::mutex> lock(pjobs->mtx);
        if (ijob + 1 > pjobs->ijobTaken)
            pjobs->ijobTaken = ijob + 1;
    }
    pjobs->cv.notify_all();
}

void StopJobs(ORDEREDJOBS* pjobs)
{
    {
        std::lock_guard<std::mutex> lock(pjobs->mtx);
        pjobs->fStop = true;
    }
    pjobs->cv.notify_all();
    for (std::thread& thread : pjobs->rgthread)
        thread.join();
    pjobs->rgthread.clear();
}

ORDEREDJOBS::~ORDEREDJOBS()
{
    StopJobs(this);
}
