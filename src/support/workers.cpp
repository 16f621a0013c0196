// Worker threads: a parallel loop over independent jobs, and jobs run ahead of a caller that takes
// their results in order. Nothing here is shared between two sets of jobs.
#include "support/workers.h"

#include <atomic>
#include <cstdlib>

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

struct LOOP {
    PFNJOB pfnJob;
    void* pv;
    int cjob;
    std::atomic<int> ijobNext;
};

void RunLoop(LOOP* ploop)
{
    for (;;) {
        int ijob = ploop->ijobNext.fetch_add(1);
        if (ijob >= ploop->cjob)
            return;
        ploop->pfnJob(ploop->pv, ijob);
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
        pjobs->pfnJob(pjobs->pv, ijob);
        {
            std::lock_guard<std::mutex> lock(pjobs->mtx);
            pjobs->rgfDone[(size_t)ijob] = 1;
        }
        pjobs->cv.notify_all();
    }
}

}   // namespace

void RunJobs(int cjob, int cworker, PFNJOB pfnJob, void* pv)
{
    if (cworker > cjob)
        cworker = cjob;
    LOOP loop{pfnJob, pv, cjob, {0}};
    if (cworker <= 1) {
        RunLoop(&loop);
        return;
    }
    // The calling thread is one of the workers.
    std::vector<std::thread> rgthread;
    for (int i = 1; i < cworker; i++)
        rgthread.emplace_back(RunLoop, &loop);
    RunLoop(&loop);
    for (std::thread& thread : rgthread)
        thread.join();
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
    for (int i = 0; i < cworker; i++)
        pjobs->rgthread.emplace_back(RunOrdered, pjobs);
}

void WaitForJob(ORDEREDJOBS* pjobs, int ijob)
{
    std::unique_lock<std::mutex> lock(pjobs->mtx);
    pjobs->cv.wait(lock, [pjobs, ijob] { return pjobs->rgfDone[(size_t)ijob] != 0; });
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
