// Worker threads: every job runs exactly once, the caller takes results in order while workers
// stay within their lead, and stopping part way leaves no job half done. Run under
// ThreadSanitizer by make test-tsan.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "support/workers.h"

namespace {

struct COUNTS {
    std::vector<std::atomic<int>> rgc;
    explicit COUNTS(int c) : rgc((size_t)c) {}
};

void CountJob(void* pv, int ijob)
{
    ((COUNTS*)pv)->rgc[(size_t)ijob]++;
}

TEST(Workers, EveryJobRunsOnceWhateverTheNumberOfWorkers)
{
    for (int cworker : {1, 2, 3, 16}) {
        COUNTS counts(37);
        EXPECT_TRUE(FRunJobs(37, cworker, CountJob, &counts));
        for (int i = 0; i < 37; i++)
            EXPECT_EQ(counts.rgc[(size_t)i].load(), 1) << cworker << " workers, job " << i;
    }
    EXPECT_TRUE(FRunJobs(0, 4, CountJob, nullptr));
}

// Each job writes its own result; the caller reads it only after FWaitForJob, and no job starts
// more than cAhead past the last one taken.
struct ORDERED {
    std::vector<int> rgResult;
    std::atomic<int> ijobTakenSeen{0};
    std::atomic<int> cTooFarAhead{0};
    int cAhead;
};

void OrderedJob(void* pv, int ijob)
{
    ORDERED* pordered = (ORDERED*)pv;
    if (ijob >= pordered->ijobTakenSeen.load() + pordered->cAhead)
        pordered->cTooFarAhead++;
    pordered->rgResult[(size_t)ijob] = ijob * 7 + 1;
}

TEST(Workers, ResultsAreTakenInOrderAndWorkersStayWithinTheirLead)
{
    for (int cworker : {1, 2, 4}) {
        ORDERED ordered;
        ordered.rgResult.assign(50, 0);
        ordered.cAhead = 3;
        ORDEREDJOBS jobs;
        StartJobs(&jobs, 50, cworker, ordered.cAhead, OrderedJob, &ordered);
        for (int i = 0; i < 50; i++) {
            EXPECT_TRUE(FWaitForJob(&jobs, i));
            EXPECT_EQ(ordered.rgResult[(size_t)i], i * 7 + 1);
            ordered.ijobTakenSeen = i + 1;
            TakeJob(&jobs, i);
        }
        EXPECT_EQ(ordered.cTooFarAhead.load(), 0) << cworker << " workers";
    }
}

TEST(Workers, StoppingPartWayJoinsTheWorkersAndStartsNoMoreJobs)
{
    ORDERED ordered;
    ordered.rgResult.assign(100, 0);
    ordered.cAhead = 2;
    ORDEREDJOBS jobs;
    StartJobs(&jobs, 100, 2, ordered.cAhead, OrderedJob, &ordered);
    EXPECT_TRUE(FWaitForJob(&jobs, 0));
    StopJobs(&jobs);
    int cDone = 0;
    for (int i = 0; i < 100; i++) {
        if (jobs.rgfDone[(size_t)i]) {
            cDone++;
            EXPECT_EQ(ordered.rgResult[(size_t)i], i * 7 + 1);
        } else {
            EXPECT_EQ(ordered.rgResult[(size_t)i], 0);
        }
    }
    EXPECT_GE(cDone, 1);
    EXPECT_LE(cDone, ordered.cAhead);
}

TEST(Workers, JobsFromTheEnvironmentOrTheCores)
{
    setenv("QUENFELL_JOBS", "3", 1);
    EXPECT_EQ(CWorkers(), 3);
    for (const char* sz : {"0", "-2", "x", "2x", ""}) {
        setenv("QUENFELL_JOBS", sz, 1);
        EXPECT_GE(CWorkers(), 1) << sz;
        EXPECT_EQ(CWorkers(), CWorkers());
    }
    unsetenv("QUENFELL_JOBS");
    EXPECT_GE(CWorkers(), 1);
}

}   // namespace
