// Worker threads for inputs that can be read independently: how many to run, a parallel loop, and
// jobs that workers run ahead while the caller takes their results one at a time, in order.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// QUENFELL_JOBS when it is a number from 1 up, else the number of cores (at least 1).
int CWorkers();

typedef void (*PFNJOB)(void* pvContext, int ijob);

// Runs pfnJob(pv, ijob) for every ijob in [0, cjob) on up to cworker threads; returns when all
// are done: true, or false when a job on a worker ran out of memory. With one worker (or one job)
// everything runs on the calling thread, in order.
bool FRunJobs(int cjob, int cworker, PFNJOB pfnJob, void* pv);

// Jobs [0, cjob) run by workers in order of their index, never more than cAhead past the last one
// the caller took, so that finished results do not pile up. The caller waits for each job in turn
// with WaitForJob, then TakeJob lets the workers move on. StopJobs (also run by the destructor)
// lets the running jobs finish, starts no more and joins the workers.
struct ORDEREDJOBS {
    PFNJOB pfnJob = nullptr;
    void* pv = nullptr;
    int cjob = 0;
    int cAhead = 1;
    std::mutex mtx;
    std::condition_variable cv;
    int ijobNext = 0;        // the next job a worker starts
    int ijobTaken = 0;       // jobs below this one are taken by the caller
    bool fStop = false;
    std::vector<char> rgfDone;
    std::vector<std::thread> rgthread;

    ORDEREDJOBS() = default;
    ORDEREDJOBS(ORDEREDJOBS const&) = delete;
    ORDEREDJOBS& operator=(ORDEREDJOBS const&) = delete;
    ~ORDEREDJOBS();
};

void StartJobs(ORDEREDJOBS* pjobs, int cjob, int cworker, int cAhead, PFNJOB pfnJob, void* pv);
// True once the job is done; false when it ran out of memory on its worker (the workers are then
// stopped, and the caller ends the run in order, as it would have ended on the calling thread).
bool FWaitForJob(ORDEREDJOBS* pjobs, int ijob);
void TakeJob(ORDEREDJOBS* pjobs, int ijob);
void StopJobs(ORDEREDJOBS* pjobs);
