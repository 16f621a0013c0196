// Every system call failing in turn: each program mode runs under the fault shim once without a
// fault, to learn how many calls of each kind it makes, and then once for every (or, in the
// sample, a few) N of every kind and error, with the Nth call failed. Each run must end by itself;
// either everything it gives (standard output and error, status, output file) is what the
// fault-free run gave, or its status is non-zero, standard error names the failure, the old output
// file is as it was and no temporary file is left that the message does not name. An interrupted
// call or a short transfer is no failure at all: the run must give the fault-free bytes.
//
// QF_FAULT_SWEEP=all runs the whole sweep (make test-faults); otherwise the sample runs. The few
// outcomes that are accepted although they break the rule are listed in s_rgknown, each with its
// reason, and reported without failing the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "shim/faultboard.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

extern char** environ;

namespace {

constexpr unsigned secHangLimit = 120;   // a run still going after this is taken as hung
char const s_szOldOutput[] = "yesterday's output\n";

struct MODE {
    char const* szName;
    bool fPlot;                        // quenfell-plot rather than quenfell
    std::vector<std::string> rgarg;    // "@x" is the input x, "%x" the output x (in the run's folder)
    char const* szOutput;              // the output file the run replaces, or null
    char const* szTZ;
};

// The zone of the report is read from the database, so its reads are failed too; the other modes
// run in UTC, which reads no zone file.
std::vector<MODE> const s_rgmode = {
    {"report", false, {"@a.tar"}, nullptr, "America/Los_Angeles"},
    {"listing", false, {"-a", "-t", "@b.log"}, nullptr, "UTC"},
    {"study", false, {"-b", "@a.tar", "@b.tar"}, nullptr, "UTC"},
    {"join", false, {"-j", "%joined.log", "@a.tar", "@b.tar", "@c.tar"}, "joined.log", "UTC"},
    {"carpage", true, {"-o", "%car.html", "@a.tar", "@b.tar"}, "car.html", "UTC"},
    {"batterypage", true, {"-o", "%battery.html", "@report.txt"}, "battery.html", "UTC"},
};

struct FAULT {
    int ikind;
    unsigned long n;
    char const* szError;             // as QF_FAULT_ERROR takes it
    int err;                         // 0 for a short transfer
    char const* szPath = nullptr;    // only opens of such paths count
    int ikindAlso = -1;              // a second call failing the same way
    unsigned long nAlso = 0;
};

int IkindOf(char const* szKind)
{
    for (int ikind = 0; ikind < ckindFault; ikind++)
        if (strcmp(s_rgszFaultKind[ikind], szKind) == 0)
            return ikind;
    return -1;
}

struct OUTCOME {
    std::string out, err;
    int status = -1;    // exit status, or -1 after a signal
    int sig = 0;
    bool fOutputExists = false;
    std::string strOutput;
    std::vector<std::string> rgstrStray;   // entries of the run's folder besides the output
    FAULTBOARD board{};
};

// A failure the sweep knows of in code that this branch does not own: the mode (null: any), the
// kind, the error (null: any) and a part of the verdict.
struct KNOWN {
    char const* szMode;
    char const* szKind;
    char const* szError;
    char const* szVerdictPart;
    char const* szWhere;
};
std::vector<KNOWN> const s_rgknown = {
    // The join's last line ("N records written") can only be said once the log has replaced the old
    // one; when that one line cannot be written the run ends with 255 beside a whole joined log.
    {"join", "write", nullptr, "the old output was changed",
     "the report's last line follows the replacement; the joined log is whole"},
    // The time-zone library passes over a folder that an interrupted call kept it from reading, and
    // keeps its database without the zone: the zone cannot be looked up again, and the line says so.
    {"report", "open", "EINTR", "time-zone library", "the time-zone library's folder walk"},
    {"report", "getdents", "EINTR", "time-zone library", "the time-zone library's folder walk"},
    {"report", "stat", "EINTR", "time-zone library", "the time-zone library's folder walk"},
};



std::string StrReadFile(std::string const& path)
{
    std::string str;
    FILE* pfile = fopen(path.c_str(), "rb");
    if (!pfile)
        return str;
    char buf[65536];
    size_t cb;
    while ((cb = fread(buf, 1, sizeof buf, pfile)) > 0)
        str.append(buf, cb);
    fclose(pfile);
    return str;
}

std::string StrFirstLine(std::string const& str)
{
    return str.substr(0, str.find('\n'));
}

bool FContains(std::string const& str, std::string const& part)
{
    return str.find(part) != std::string::npos;
}

struct SWEEP {
    std::string dirIn, dirRun, dirCapture;
    std::string pathShim = QF_FAULT_SHIM;

    void SetUp()
    {
        std::string dir = TempDir();
        dirIn = dir + "/in";
        dirRun = dir + "/run";
        dirCapture = dir + "/capture";
        for (auto const& d : {dirIn, dirRun, dirCapture})
            std::filesystem::create_directories(d);
        // Three overlapping downloads of one car and the plain log of the middle one.
        std::string genlog = PathGenlog();
        struct GEN {
            char const* szOut;
            char const* szStop;
            bool fTar;
        } const rggen[] = {{"a.tar", nullptr, true}, {"b.tar", "2009-06-03 08:00", true},
                           {"c.tar", "2009-06-04 08:00", true}, {"b.log", "2009-06-03 08:00", false}};
        for (GEN const& gen : rggen) {
            std::vector<std::string> argv{genlog, "--seed", "3", "--days", "6", "--end", "2009-06-05 08:00",
                                          "--ring", "64K", "--out", dirIn + "/" + gen.szOut};
            if (gen.szStop)
                argv.insert(argv.end(), {"--stop", gen.szStop});
            if (gen.fTar)
                argv.push_back("--tar");
            RunResult r = RunProgram(argv);
            ASSERT_EQ(r.status, 0) << r.err;
        }
        RunResult r = RunQuenfell({"-b", dirIn + "/a.tar", dirIn + "/b.tar"});
        ASSERT_EQ(r.status, 0) << r.err;
        WriteText(dirIn + "/report.txt", r.out);
    }

    std::vector<std::string> Argv(MODE const& mode) const
    {
        std::vector<std::string> argv{mode.fPlot ? QF_PLOT_BINARY : QF_BINARY};
        for (std::string const& arg : mode.rgarg) {
            if (arg[0] == '@')
                argv.push_back(dirIn + "/" + arg.substr(1));
            else if (arg[0] == '%')
                argv.push_back(dirRun + "/" + arg.substr(1));
            else
                argv.push_back(arg);
        }
        return argv;
    }

    // One run in a fresh run folder that holds only the old output; pfault null: no fault.
    OUTCOME Run(MODE const& mode, FAULT const* pfault, bool fShim = true)
    {
        for (auto const& entry : std::filesystem::directory_iterator(dirRun))
            std::filesystem::remove_all(entry.path());
        if (mode.szOutput)
            WriteText(dirRun + "/" + mode.szOutput, s_szOldOutput);
        std::string pathOut = dirCapture + "/out", pathErr = dirCapture + "/err", pathBoard = dirCapture + "/board";
        int fdBoard = open(pathBoard.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        OUTCOME outcome;
        if (fdBoard < 0 || ftruncate(fdBoard, sizeof(FAULTBOARD)) != 0) {
            ADD_FAILURE() << "cannot make the board: " << strerror(errno);
            return outcome;
        }
        std::vector<std::string> argv = Argv(mode);
        std::vector<std::string> env;
        for (char** ppsz = environ; *ppsz; ppsz++)
            if (strncmp(*ppsz, "TZ=", 3) != 0 && strncmp(*ppsz, "QF_FAULT_", 9) != 0 && strncmp(*ppsz, "LD_PRELOAD=", 11) != 0)
                env.push_back(*ppsz);
        env.push_back(std::string("TZ=") + mode.szTZ);
        if (fShim) {
            env.push_back("LD_PRELOAD=" + pathShim);
            env.push_back("QF_FAULT_BOARD=" + pathBoard);
        }
        if (pfault) {
            env.push_back(std::string("QF_FAULT_KIND=") + s_rgszFaultKind[pfault->ikind]);
            env.push_back("QF_FAULT_N=" + std::to_string(pfault->n));
            env.push_back(std::string("QF_FAULT_ERROR=") + pfault->szError);
            if (pfault->szPath)
                env.push_back(std::string("QF_FAULT_PATH=") + pfault->szPath);
            if (pfault->ikindAlso >= 0) {
                env.push_back(std::string("QF_FAULT_ALSO_KIND=") + s_rgszFaultKind[pfault->ikindAlso]);
                env.push_back("QF_FAULT_ALSO_N=" + std::to_string(pfault->nAlso));
            }
        }
        std::vector<char*> rgpszArg = RgpszOf(argv), rgpszEnv = RgpszOf(env);

        pid_t pid = fork();
        if (pid == 0) {
            int fdIn = open("/dev/null", O_RDONLY);
            int fdOut = open(pathOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int fdErr = open(pathErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fdIn < 0 || fdOut < 0 || fdErr < 0 || dup2(fdIn, 0) < 0 || dup2(fdOut, 1) < 0 || dup2(fdErr, 2) < 0 ||
                chdir(dirRun.c_str()) != 0)
                _exit(126);
            alarm(secHangLimit);
            execve(rgpszArg[0], rgpszArg.data(), rgpszEnv.data());
            _exit(127);
        }
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        outcome.sig = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
        outcome.out = StrReadFile(pathOut);
        outcome.err = StrReadFile(pathErr);
        void* pv = mmap(nullptr, sizeof(FAULTBOARD), PROT_READ, MAP_SHARED, fdBoard, 0);
        if (pv != MAP_FAILED) {
            memcpy(&outcome.board, pv, sizeof(FAULTBOARD));
            munmap(pv, sizeof(FAULTBOARD));
        }
        close(fdBoard);
        for (auto const& entry : std::filesystem::directory_iterator(dirRun)) {
            std::string name = entry.path().filename().string();
            if (mode.szOutput && name == mode.szOutput) {
                outcome.fOutputExists = true;
                outcome.strOutput = StrReadFile(entry.path().string());
            } else {
                outcome.rgstrStray.push_back(name);
            }
        }
        return outcome;
    }
};

bool FSameOutcome(OUTCOME const& a, OUTCOME const& b)
{
    return a.out == b.out && a.err == b.err && a.status == b.status && a.sig == b.sig &&
           a.fOutputExists == b.fOutputExists && a.strOutput == b.strOutput && a.rgstrStray == b.rgstrStray;
}

// Calls that can be interrupted by a signal on Linux, and must then be made again.
bool FRetriedWhenInterrupted(int ikind)
{
    static char const* const s_rgszKind[] = {"read", "write", "readv", "writev", "open", "rename", "link", "fsync"};
    for (char const* sz : s_rgszKind)
        if (strcmp(sz, s_rgszFaultKind[ikind]) == 0)
            return true;
    return false;
}

// The zone the report is shown in could not be read: one line says so, with the reason and the
// zone used instead, and the run goes on in that zone.
bool FZoneFallback(OUTCOME const& outcome, MODE const& mode)
{
    std::string line = StrFirstLine(outcome.err);
    return outcome.status == 0 && line.rfind(std::string("time zone ") + mode.szTZ + " from TZ cannot be used (", 0) == 0 &&
           FContains(line, "): using ") && FContains(line, " instead");
}

// Empty when the run kept the promise, else what went wrong.
std::string StrVerdict(MODE const& mode, FAULT const& fault, OUTCOME const& base, OUTCOME const& outcome)
{
    if (outcome.sig == SIGALRM)
        return "hung";
    if (outcome.sig != 0)
        return std::string("killed by ") + strsignal(outcome.sig);
    if (!outcome.board.fActive)
        return "the shim was not active";
    for (std::string const& stray : outcome.rgstrStray)
        if (!FContains(outcome.err, stray))
            return "left " + stray + " without naming it";
    if (FSameOutcome(outcome, base))
        return "";
    if (!outcome.board.fFired)
        return "gave other output without a fault: " + StrFirstLine(outcome.err);
    if (fault.err == 0)
        return "short transfer not made good: status " + std::to_string(outcome.status) + ", " +
               StrFirstLine(outcome.err);
    if (FZoneFallback(outcome, mode))
        return fault.err == EINTR && FRetriedWhenInterrupted(fault.ikind)
                   ? "interrupted call not retried by the time-zone library: " + StrFirstLine(outcome.err)
                   : "";
    if (fault.err == EINTR && FRetriedWhenInterrupted(fault.ikind))
        return "interrupted call not retried: status " + std::to_string(outcome.status) + ", " +
               StrFirstLine(outcome.err);
    if (outcome.status == 0) {
        if (outcome.err == base.err)
            return "failure reported as success, nothing said";
        return "failure reported as success: " + StrFirstLine(outcome.err);
    }
    if (mode.szOutput && (!outcome.fOutputExists || outcome.strOutput != s_szOldOutput))
        return "the old output was changed";
    std::string strReason = strerror(fault.err);
    if (!FContains(outcome.err, strReason) && !(fault.err == ENOMEM && FContains(outcome.err, "out of memory")))
        return "message does not name the failure: " + StrFirstLine(outcome.err);
    return "";
}

bool FKnown(MODE const& mode, FAULT const& fault, std::string const& verdict, char const** pszWhere)
{
    for (KNOWN const& known : s_rgknown) {
        if ((known.szMode == nullptr || strcmp(known.szMode, mode.szName) == 0) &&
            strcmp(known.szKind, s_rgszFaultKind[fault.ikind]) == 0 &&
            (known.szError == nullptr || strcmp(known.szError, fault.szError) == 0) &&
            FContains(verdict, known.szVerdictPart)) {
            *pszWhere = known.szWhere;
            return true;
        }
    }
    return false;
}

struct ERRORCASE {
    char const* szName;
    int err;
};
ERRORCASE const s_rgerrcase[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"ENOMEM", ENOMEM}, {"EINTR", EINTR}, {"short", 0}};

bool FShortKind(int ikind)
{
    return strcmp(s_rgszFaultKind[ikind], "read") == 0 || strcmp(s_rgszFaultKind[ikind], "write") == 0;
}

// The calls of a kind that the sample tries: the first, the middle and the last.
std::vector<unsigned long> RgnSample(unsigned long ccall)
{
    std::vector<unsigned long> rgn{1, (ccall + 1) / 2, ccall};
    std::sort(rgn.begin(), rgn.end());
    rgn.erase(std::unique(rgn.begin(), rgn.end()), rgn.end());
    return rgn;
}

TEST(Faults, EverySystemCallFailingInTurn)
{
    bool fAll = getenv("QF_FAULT_SWEEP") && strcmp(getenv("QF_FAULT_SWEEP"), "all") == 0;
    SWEEP sweep;
    sweep.SetUp();
    if (HasFatalFailure())
        return;
    std::map<std::string, int> mpVerdictRuns;
    std::string strSize, strKnown;
    int cRuns = 0, cFailures = 0;
    for (MODE const& mode : s_rgmode) {
        OUTCOME plain = sweep.Run(mode, nullptr, false);
        OUTCOME base = sweep.Run(mode, nullptr);
        ASSERT_EQ(plain.status, 0) << mode.szName << ": " << plain.err;
        ASSERT_TRUE(base.board.fActive) << mode.szName << ": " << base.err;
        // The shim alone changes nothing.
        ASSERT_TRUE(FSameOutcome(plain, base)) << mode.szName << ": " << base.err;
        strSize += std::string(mode.szName) + ":";
        for (int ikind = 0; ikind < ckindFault; ikind++) {
            unsigned long ccall = base.board.rgccall[ikind];
            if (ccall == 0)
                continue;
            int cRunsKind = 0;
            std::vector<unsigned long> rgn;
            if (fAll)
                for (unsigned long n = 1; n <= ccall; n++)
                    rgn.push_back(n);
            else
                rgn = RgnSample(ccall);
            for (unsigned long n : rgn) {
                for (ERRORCASE const& errcase : s_rgerrcase) {
                    if (errcase.err == 0 && !FShortKind(ikind))
                        continue;
                    // The sample tries one lasting error, the interruption and the short transfer.
                    if (!fAll && errcase.err != EIO && errcase.err != EINTR && errcase.err != 0)
                        continue;
                    FAULT fault{ikind, n, errcase.szName, errcase.err};
                    OUTCOME outcome = sweep.Run(mode, &fault);
                    cRunsKind++;
                    std::string verdict = StrVerdict(mode, fault, base, outcome);
                    if (verdict.empty())
                        continue;
                    std::string where = std::string(mode.szName) + " " + s_rgszFaultKind[ikind] + " #" +
                                        std::to_string(n) + " " + errcase.szName;
                    char const* szWhere = nullptr;
                    if (FKnown(mode, fault, verdict, &szWhere)) {
                        strKnown += "  " + where + ": " + verdict + " (" + szWhere + ")\n";
                        continue;
                    }
                    cFailures++;
                    ADD_FAILURE() << where << ": " << verdict;
                }
            }
            cRuns += cRunsKind;
            strSize += std::string(" ") + s_rgszFaultKind[ikind] + " " + std::to_string(ccall) + " calls/" +
                       std::to_string(cRunsKind) + " runs";
        }
        strSize += "\n";
    }
    printf("%s sweep, %d runs:\n%s", fAll ? "whole" : "sample", cRuns, strSize.c_str());
    if (!strKnown.empty())
        printf("accepted outcomes:\n%s", strKnown.c_str());
    EXPECT_EQ(cFailures, 0);
}

// The joined log reaches the disk before its name does: a failed sync of the file leaves the old
// log, a failed sync of the folder after the rename leaves the whole new one (the folder is let
// be), and a rename that fails when the clean-up's unlink fails too leaves a temporary file that
// the message names.
TEST(Faults, ReplacedFileIsSyncedBeforeItsName)
{
    SWEEP sweep;
    sweep.SetUp();
    if (HasFatalFailure())
        return;
    MODE const& join = s_rgmode[3];
    ASSERT_STREQ(join.szName, "join");
    OUTCOME base = sweep.Run(join, nullptr);
    ASSERT_EQ(base.status, 0) << base.err;
    EXPECT_EQ(base.board.rgccall[IkindOf("fsync")], 2u);
    std::string out = sweep.dirRun + "/joined.log";
    std::string errWrite = "ERROR: can't write file '" + out + "'. Input/output error.\n";

    FAULT faultFile{IkindOf("fsync"), 1, "EIO", EIO};
    OUTCOME r = sweep.Run(join, &faultFile);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errWrite);
    EXPECT_EQ(r.strOutput, s_szOldOutput);
    EXPECT_TRUE(r.rgstrStray.empty());

    FAULT faultFolder{IkindOf("fsync"), 2, "EIO", EIO};
    r = sweep.Run(join, &faultFolder);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.strOutput, base.strOutput);
    EXPECT_EQ(r.out, base.out);

    FAULT faultDouble{IkindOf("rename"), 1, "EIO", EIO, nullptr, IkindOf("unlink"), 1};
    r = sweep.Run(join, &faultDouble);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.strOutput, s_szOldOutput);
    ASSERT_EQ(r.rgstrStray.size(), 1u);
    EXPECT_EQ(r.rgstrStray[0].rfind(".quenfell-join-", 0), 0u) << r.rgstrStray[0];
    EXPECT_EQ(r.err, "temporary file '" + sweep.dirRun + "/" + r.rgstrStray[0] +
                         "' left behind: could not remove it. Input/output error.\n" + errWrite);
}

// A TZ that names no zone, or a zone whose file cannot be read, is said in one line with the
// reason and the zone used instead; the run goes on in that zone with its usual status. An
// interrupted read of the zone's file is made again and says nothing.
TEST(Faults, UnusableZoneIsSaidAndTheRunGoesOn)
{
    SWEEP sweep;
    sweep.SetUp();
    if (HasFatalFailure())
        return;
    struct CASE {
        char const* szTZ;
        char const* szError;   // the zone file's open fails so, or null
        char const* szWhy;     // null: nothing is said
    } const rgcase[] = {
        {"Mars/Base", nullptr, "no such zone"},
        {"America/Los_Angeles", "EIO", "Input/output error"},
        {"America/Los_Angeles", "ENOMEM", "Cannot allocate memory"},
        {"America/Los_Angeles", "EINTR", nullptr},
    };
    for (CASE const& c : rgcase) {
        SCOPED_TRACE(std::string(c.szTZ) + " " + (c.szError ? c.szError : ""));
        MODE mode = s_rgmode[0];
        mode.szTZ = c.szTZ;
        FAULT fault{IkindOf("open"), 1, c.szError ? c.szError : "EIO", 0, c.szTZ};
        OUTCOME r = sweep.Run(mode, c.szError ? &fault : nullptr);
        EXPECT_EQ(r.status, 0) << r.err;
        if (c.szWhy == nullptr) {
            OUTCOME base = sweep.Run(mode, nullptr);
            EXPECT_TRUE(r.board.fFired);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, base.out);
            continue;
        }
        std::string strStart = std::string("time zone ") + c.szTZ + " from TZ cannot be used (" + c.szWhy + "): using ";
        ASSERT_EQ(r.err.rfind(strStart, 0), 0u) << r.err;
        ASSERT_GT(r.err.size(), strStart.size() + 9);
        ASSERT_EQ(r.err.substr(r.err.size() - 9), " instead\n") << r.err;
        std::string strZone = r.err.substr(strStart.size(), r.err.size() - 9 - strStart.size());
        MODE modeUsed = mode;
        modeUsed.szTZ = strZone.c_str();
        OUTCOME used = sweep.Run(modeUsed, nullptr);
        EXPECT_EQ(used.err, "");
        EXPECT_EQ(r.out, used.out) << "the times are not those of " << strZone;
    }
}

}   // namespace

// The car page decodes through the core, which prints nothing, so it never needs /dev/null to
// silence anything: with every open of it failing, the page on standard output is the page alone.
TEST(Faults, CarPageNeedsNoDevNull)
{
    SWEEP sweep;
    sweep.SetUp();
    if (HasFatalFailure())
        return;
    MODE const mode{"carpage to standard output", true, {"@a.tar", "@b.tar"}, nullptr, "UTC"};
    FAULT fault{IkindOf("open"), 1, "EIO", EIO, "/dev/null"};
    OUTCOME base = sweep.Run(mode, nullptr);
    OUTCOME r = sweep.Run(mode, &fault);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.board.fFired);
    EXPECT_EQ(r.out, base.out);
    EXPECT_EQ(r.out.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_EQ(r.out.find("Transient Log Summary"), std::string::npos);
}
