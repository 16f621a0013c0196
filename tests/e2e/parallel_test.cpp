// The battery study and the join over several downloads give the same bytes whether the downloads
// are read on one thread or on several: standard output, standard error, the exit status and the
// joined log, for downloads whose messages depend on the ones before them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

constexpr uint32_t t0 = 1243857600;   // 06/01/2009 12:00:00 UTC

// Runs quenfell with QUENFELL_JOBS set (through env, as the harness sets only TZ).
RunResult RunWithJobs(const std::string& jobs, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {"/usr/bin/env", "QUENFELL_JOBS=" + jobs, QF_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

struct ParallelTest : ::testing::Test {
    std::string dir = TempDir();
    std::string Path(const std::string& name) { return dir + "/" + name; }

    // Downloads of one car written by genlog (tarballs named by their time, so each has its own
    // time limit), and small logs built here whose study depends on the logs before them.
    std::vector<std::string> MakeDownloads()
    {
        std::string genlog = PathGenlog();
        if (genlog.empty())
            return {};
        std::vector<std::string> rgpath;
        const char* rgszStop[] = {"2009-05-20 08:00", "2009-05-27 08:00", "2009-06-03 08:00"};
        const char* rgszName[] = {"200905200800.tar", "200905270800.tar", "200906030800.tar"};
        for (int i = 0; i < 3; i++) {
            RunResult r = RunProgram({genlog, "--seed", "5", "--days", "40", "--end", "2009-06-05 08:00", "--stop",
                                      rgszStop[i], "--ring", "256K", "--tar", "--out", Path(rgszName[i])});
            EXPECT_EQ(r.status, 0) << r.err;
            rgpath.push_back(Path(rgszName[i]));
        }
        // No vehicle-info record at all: its records decode by the vehicle of the download before.
        LogBuilder logNoVinf;
        for (int i = 0; i < 40; i++)
            logNoVinf.Add(IdleRec(t0 + 60u * i, 50 + i % 10)).Add(Dr1sRec(t0 + 60u * i + 30, 40.0, 100.0));
        logNoVinf.WriteFile(Path("novinf.log"));
        // Another car, and samples older than the previous download's newest.
        LogBuilder logOther;
        logOther.Add(VinfRec(t0 - 86400 * 60, true, "SFZRE8B19A3000999")).Add(DayRec(t0 - 86400 * 59, 900.0, 2600, 70));
        logOther.Add(VinfRec(t0 - 86400 * 50, false, "SFZRE8B19A3000999"));
        for (int i = 0; i < 20; i++)
            logOther.Add(IdleRec(t0 - 86400 * 50 + 60u * i, 60));
        logOther.WriteFile(Path("other.log"));
        // More sections than the table holds: the section scan's message, once per part.
        LogBuilder logFull;
        logFull.Add(VinfRec(t0, false));
        for (int i = 0; i < 1005; i++)
            logFull.Garbage(1).Add(IdleRec(t0 + 1 + i, 40));
        logFull.WriteFile(Path("full.log"));
        rgpath.insert(rgpath.begin() + 2, Path("other.log"));
        rgpath.push_back(Path("full.log"));
        rgpath.push_back(Path("novinf.log"));
        rgpath.push_back(rgpath[0]);
        return rgpath;
    }

    void ExpectSameOnAnyThreads(std::vector<std::string> const& args, std::string const& pathOut = "")
    {
        RunResult rOne = RunWithJobs("1", args);
        std::string bytesOne = pathOut.empty() ? "" : ReadText(pathOut);
        for (const char* szJobs : {"2", "3", "8"}) {
            RunResult r = RunWithJobs(szJobs, args);
            EXPECT_EQ(r.status, rOne.status) << szJobs << " workers";
            EXPECT_EQ(r.out, rOne.out) << szJobs << " workers";
            EXPECT_EQ(r.err, rOne.err) << szJobs << " workers";
            if (!pathOut.empty()) {
                EXPECT_TRUE(ReadText(pathOut) == bytesOne) << szJobs << " workers: joined log differs";
            }
        }
    }
};

TEST_F(ParallelTest, BatteryStudyAndJoinAreTheSameOnOneThreadAndOnMany)
{
    std::vector<std::string> rgpath = MakeDownloads();
    if (rgpath.empty())
        GTEST_SKIP() << "tools/genlog is not built";

    std::vector<std::string> args = {"-b"};
    args.insert(args.end(), rgpath.begin(), rgpath.end());
    RunResult r = RunWithJobs("1", args);
    ASSERT_EQ(r.status, 0) << r.err;
    // The cases the ordered merge must get right are all there.
    EXPECT_NE(r.out.find("VIN: "), std::string::npos);
    EXPECT_NE(r.out.find("mismatched VINs: "), std::string::npos);
    EXPECT_NE(r.out.find("ERROR: too many sections in log file!\n"), std::string::npos);
    ExpectSameOnAnyThreads(args);

    // The -k mark, and other options between the inputs (two batches).
    ExpectSameOnAnyThreads({"-b", "-k", "05/10/2009", rgpath[0], rgpath[2], rgpath[4], "-m", rgpath[1], rgpath[3]});

    // A fatal error in the middle: everything before it is printed, nothing after.
    std::vector<std::string> argsMissing = {"-b", rgpath[0], rgpath[1], Path("missing.log"), rgpath[2], rgpath[4]};
    RunResult rMissing = RunWithJobs("1", argsMissing);
    EXPECT_NE(rMissing.status, 0);
    EXPECT_NE(rMissing.err.find("could not open file"), std::string::npos);
    ExpectSameOnAnyThreads(argsMissing);

    // A tarball without a vms_log member.
    WriteBytes(Path("empty.tar"), MakeTar({{"notes.txt", Bytes{'x', '\n'}}}));
    ExpectSameOnAnyThreads({"-b", rgpath[0], Path("empty.tar"), rgpath[2]});

    // The join's statistics and preview per input.
    std::vector<std::string> argsJoin = {"-j", Path("joined.log")};
    argsJoin.insert(argsJoin.end(), rgpath.begin(), rgpath.end() - 1);
    ExpectSameOnAnyThreads(argsJoin, Path("joined.log"));
}

}   // namespace
