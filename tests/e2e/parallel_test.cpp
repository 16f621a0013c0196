// The battery study and the join over several downloads give the same bytes whether the downloads
// are read on one thread or on several: standard output, standard error, the exit status and the
// joined log, for downloads whose messages depend on the ones before them. So do the listings,
// whose records are formatted in blocks on every core.
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

    // Downloads whose transient parts hold several batches of samples (idle and charge status a
    // minute apart): a transient VINF record every cvinEvery samples, every third of another car;
    // every cbackEvery samples the time runs back cbackSec seconds; with fGarbage a garbage byte
    // every 9 samples starts a new section, so that the section table fills.
    std::vector<std::string> MakeLongDownloads()
    {
        struct LONGLOG {
            const char* szName;
            uint32_t timestampStart;
            int csample;
            int cvinEvery;
            int cbackEvery;
            uint32_t cbackSec;
            bool fGarbage;
        };
        const LONGLOG rglong[] = {
            {"long1.log", t0, 12000, 31, 0, 0, false},
            {"long2.log", t0 + 86400 * 3, 15000, 100, 333, 100000, false},
            {"long3.log", t0 + 86400 * 20, 7000, 2, 700, 7200, false},
            {"long4.log", t0 + 86400 * 40, 11000, 1000, 0, 0, true},
        };
        std::vector<std::string> rgpath;
        for (LONGLOG const& lg : rglong) {
            LogBuilder log;
            log.Add(VinfRec(lg.timestampStart - 3 * 86400, true)).Add(DayRec(lg.timestampStart - 86400, 1000.0, 2700, 80));
            uint32_t timestamp = lg.timestampStart;
            for (int i = 0; i < lg.csample; i++) {
                if (i % lg.cvinEvery == 0)
                    log.Add(VinfRec(timestamp, false, (i / lg.cvinEvery) % 3 == 2 ? "SFZRE8B19A3000999" : "SFZRE8B19A3000123"));
                if (lg.cbackEvery != 0 && i % lg.cbackEvery == lg.cbackEvery - 1)
                    timestamp -= lg.cbackSec;
                if (lg.fGarbage && i % 9 == 0)
                    log.Garbage(1);
                log.Add(IdleRec(timestamp, 20 + i % 80));
                if (i % 7 == 0)
                    log.Add(C1mbRec(timestamp + 5, i % 2 ? 120.0 : 240.0, 10 + i % 70));
                timestamp += 60;
            }
            log.WriteFile(Path(lg.szName));
            rgpath.push_back(Path(lg.szName));
        }
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

    // Downloads of many batches each: VIN lines (a batch's room for VINs runs out before its room
    // for samples), time running back within a download, the section scan's message before a
    // part of many batches; a download without vehicle information and a missing file while the
    // workers wait with batches that the calling thread will never take.
    std::vector<std::string> rgpathLong = MakeLongDownloads();
    std::vector<std::string> argsLong = {"-b"};
    argsLong.insert(argsLong.end(), rgpathLong.begin(), rgpathLong.end());
    RunResult rLong = RunWithJobs("1", argsLong);
    ASSERT_EQ(rLong.status, 0) << rLong.err;
    EXPECT_NE(rLong.out.find("mismatched VINs: "), std::string::npos);
    EXPECT_NE(rLong.out.find("ERROR: too many sections in log file!\n"), std::string::npos);
    ExpectSameOnAnyThreads(argsLong);
    ExpectSameOnAnyThreads({"-b", rgpathLong[0], rgpathLong[1], Path("novinf.log"), rgpathLong[2], rgpathLong[0]});
    ExpectSameOnAnyThreads({"-b", rgpathLong[0], rgpathLong[1], Path("missing.log"), rgpathLong[2], rgpathLong[3]});

    // The join's statistics and preview per input.
    std::vector<std::string> argsJoin = {"-j", Path("joined.log")};
    argsJoin.insert(argsJoin.end(), rgpath.begin(), rgpath.end() - 1);
    ExpectSameOnAnyThreads(argsJoin, Path("joined.log"));
}

// Listings of many blocks of records in every layout, with the user's notes between records of
// the middle of a block and at block ends, several inputs in one run, the -u trace (printed as it
// goes) and the section scan's table-full message: the same bytes on one thread as on several.
TEST_F(ParallelTest, ListingsAreTheSameOnOneThreadAndOnMany)
{
    std::vector<std::string> rgpathLong = MakeLongDownloads();
    std::vector<std::string> rgpath = MakeDownloads();
    // Notes inside the first long log (a minute per sample from 06/01/2009 12:00:00 UTC), two of
    // them at the same time, one before every record and one after all of them.
    WriteText(Path("notes.txt"), "05/01/2009 00:00:00\tbefore everything\n"
                                 "06/01/2009 12:00:30\tbetween the first records\n"
                                 "06/02/2009 22:08:00\tin the middle of a block\n"
                                 "06/02/2009 22:08:00\tat the same time\n"
                                 "06/04/2009 06:17:01\tlater\n"
                                 "12/31/2009 23:59:59\tafter everything\n");
    struct CASE {
        const char* szName;
        std::vector<std::string> args;
    };
    std::vector<CASE> rgcase = {
        {"tab layout", {"-a", "-t"}},
        {"column layout", {"-a"}},
        {"column layout in metric units with raw bytes", {"-a", "-m", "-v"}},
        {"tab layout with raw bytes", {"-a", "-t", "-v"}},
        {"charging records", {"-c", "-t"}},
        {"the long-term part", {"-p", "-a"}},
        {"notes between the records", {"-n", Path("notes.txt"), "-a", "-t"}},
        {"the -u trace", {"-u", "-c"}},
    };
    for (CASE& c : rgcase) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), rgpathLong.begin(), rgpathLong.end());
        RunResult r = RunWithJobs("1", args);
        EXPECT_EQ(r.status, 0) << c.szName << ": " << r.err;
        EXPECT_NE(r.out.find("ERROR: too many sections in log file!\n"), std::string::npos) << c.szName;
        SCOPED_TRACE(c.szName);
        ExpectSameOnAnyThreads(args);
    }
    // A log whose last record ends where its last page ends: nothing past it may be read.
    LogBuilder logPage;
    logPage.Add(VinfRec(t0, false));
    for (int i = 0; i < 3000; i++)
        logPage.Add(IdleRec(t0 + 60u * i, 50));
    Rec const last = IdleRec(t0 + 60u * 3000, 51);
    size_t cbLast = Concat({last}).size();
    logPage.Garbage(4096 - (logPage.Size() + cbLast) % 4096).Add(last);
    ASSERT_EQ(logPage.Size() % 4096, 0u);
    logPage.WriteFile(Path("page.log"));
    ExpectSameOnAnyThreads({"-a", "-t", "-v", Path("page.log")});
    EXPECT_EQ(RunWithJobs("2", {"-a", Path("page.log")}).status, 0);

    // Blocks of lines written past the output buffer fail on a full disk as every write does.
    RunResult rFull = RunProgram({"/usr/bin/env", "QUENFELL_JOBS=2", "/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full",
                                  QF_BINARY, "-a", "-t", rgpathLong[0]});
    EXPECT_EQ(rFull.err, "could not write standard output: No space left on device.\n"
                         "ERROR: write error on standard output\n");
    EXPECT_EQ(rFull.status, 255);

    RunResult rNotes = RunWithJobs("1", {"-n", Path("notes.txt"), "-a", "-t", rgpathLong[0]});
    EXPECT_NE(rNotes.out.find("in the middle of a block"), std::string::npos);
    if (!rgpath.empty()) {
        std::vector<std::string> args = {"-a", "-t"};
        args.insert(args.end(), rgpath.begin(), rgpath.end());
        ExpectSameOnAnyThreads(args);
    }
}

}   // namespace
