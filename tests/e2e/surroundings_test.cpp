// The program in hostile surroundings rather than on hostile input: join outputs that are pipes,
// devices, links, folders or another user's files; signals and file-size limits in the middle of
// a join; closed standard descriptors; inputs cut short while they are read; endless notes; and
// time-zone rules in TZ. Each run must end on its own, leave no temporary file, and keep the old
// output unless it wrote a complete new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

extern char** environ;

namespace {

constexpr uint32_t t0 = 1243857600;   // 06/01/2009 12:00:00 UTC
constexpr auto durWaitMax = std::chrono::seconds(30);

bool FContains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

// How the child is started: the surroundings under test.
struct SPAWN {
    SPAWN(std::vector<std::string> argvIn, bool fRawArgvIn = false) : argv(std::move(argvIn)), fRawArgv(fRawArgvIn) {}

    std::vector<std::string> argv;   // without the program, which is quenfell unless fRawArgv
    bool fRawArgv;
    std::string tz = "UTC";
    bool fRefuseTmpfile = false;      // openat with O_TMPFILE fails as on file systems without it
    std::vector<int> rgfdClosed;      // standard descriptors closed at the start
    rlim_t cbFileLimit = RLIM_INFINITY;
};

struct CHILD {
    pid_t pid = -1;
    int fdOut = -1;
    int fdErr = -1;
};

// A seccomp filter that answers every openat asking for an unnamed file with EOPNOTSUPP, so the
// named temporary file's way is taken on this machine too. False where the filter cannot be
// written for the architecture.
bool FRefuseTmpfileInChild()
{
#if defined(__x86_64__)
    struct sock_filter rgfilter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, args[2])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog prog = {(unsigned short)(sizeof rgfilter / sizeof rgfilter[0]), rgfilter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
#else
    return false;
#endif
}

bool FCanRefuseTmpfile()
{
#if defined(__x86_64__)
    return true;
#else
    return false;
#endif
}

CHILD Spawn(SPAWN const& spawn)
{
    CHILD child;
    int pipeOut[2], pipeErr[2];
    if (pipe2(pipeOut, O_CLOEXEC) != 0 || pipe2(pipeErr, O_CLOEXEC) != 0)
        return child;
    std::vector<std::string> argv = spawn.argv;
    if (!spawn.fRawArgv)
        argv.insert(argv.begin(), QF_BINARY);
    std::vector<std::string> env;
    for (char** ppsz = environ; *ppsz; ppsz++) {
        if (strncmp(*ppsz, "TZ=", 3) != 0)
            env.push_back(*ppsz);
    }
    env.push_back("TZ=" + spawn.tz);
    std::vector<char*> rgpszArg = RgpszOf(argv), rgpszEnv = RgpszOf(env);

    child.pid = fork();
    if (child.pid == 0) {
        int fdNull = open("/dev/null", O_RDONLY);
        dup2(fdNull, 0);
        dup2(pipeOut[1], 1);
        dup2(pipeErr[1], 2);
        for (int fd : spawn.rgfdClosed)
            close(fd);
        struct rlimit rl = {spawn.cbFileLimit, spawn.cbFileLimit};
        if (spawn.cbFileLimit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &rl) != 0)
            _exit(126);
        if (spawn.fRefuseTmpfile && !FRefuseTmpfileInChild())
            _exit(126);
        execve(rgpszArg[0], rgpszArg.data(), rgpszEnv.data());
        _exit(127);
    }
    close(pipeOut[1]);
    close(pipeErr[1]);
    child.fdOut = pipeOut[0];
    child.fdErr = pipeErr[0];
    return child;
}

// Reads what is left on the child's pipes (a closed one is skipped) and waits for its end.
RunResult Finish(CHILD* pchild)
{
    RunResult res{"", "", -1};
    struct pollfd rgpfd[2] = {{pchild->fdOut, POLLIN, 0}, {pchild->fdErr, POLLIN, 0}};
    char buf[65536];
    while (rgpfd[0].fd >= 0 || rgpfd[1].fd >= 0) {
        if (poll(rgpfd, 2, -1) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (rgpfd[i].fd < 0 || !(rgpfd[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t cb = read(rgpfd[i].fd, buf, sizeof buf);
            if (cb > 0) {
                (i == 0 ? res.out : res.err).append(buf, (size_t)cb);
            } else {
                close(rgpfd[i].fd);
                rgpfd[i].fd = -1;
            }
        }
    }
    int wstatus = 0;
    waitpid(pchild->pid, &wstatus, 0);
    res.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : WIFSIGNALED(wstatus) ? 128 + WTERMSIG(wstatus) : -1;
    return res;
}

RunResult RunSpawn(SPAWN const& spawn)
{
    CHILD child = Spawn(spawn);
    return Finish(&child);
}

// Reads the child's report until the marker has come, then stops reading. The report leaves the
// child in its output buffer's fills, so the marker has come once the child has written a full
// buffer of it, and the child is then in the middle of its work: what is left to print is far more
// than the pipe and the buffer hold, so it cannot finish while nobody reads. This waits for that
// state, however slow the machine; false when the child ended first.
bool FReadUntil(CHILD const& child, std::string const& strMarker)
{
    std::string str;
    char buf[65536];
    while (str.find(strMarker) == std::string::npos) {
        ssize_t cb = read(child.fdOut, buf, sizeof buf);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
            return false;
        str.append(buf, (size_t)cb);
    }
    return true;
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> rgstr;
    for (auto const& entry : std::filesystem::directory_iterator(dir))
        rgstr.push_back(entry.path().filename().string());
    std::sort(rgstr.begin(), rgstr.end());
    return rgstr;
}

bool FTempLeft(const std::string& dir)
{
    for (auto const& str : Entries(dir))
        if (str.rfind(".quenfell-join-", 0) == 0)
            return true;
    return false;
}

// A long-term part (81 bytes: VINF 40 + DAY 41) followed by the given transient records.
LogBuilder Download(const std::vector<Rec>& transient)
{
    return DownloadBefore(t0, transient);
}

struct Surroundings : ::testing::Test {
    std::string dir = TempDir();
    std::string Path(const char* name) { return dir + "/" + name; }

    // Two overlapping downloads and the log their join gives.
    Bytes WriteTwoDownloads()
    {
        Download({VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200)}).WriteFile(Path("a.log"));
        Download({VinfRec(t0, false), IdleRec(t0 + 7200), IdleRec(t0 + 10800)}).WriteFile(Path("b.log"));
        return Concat({VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200), IdleRec(t0 + 10800)});
    }

    // A download whose merge prints a line for each of its many passed-over records: a report
    // far larger than the output buffer and a pipe, so a child writing it into a pipe that is
    // not read stops in the middle of the merge.
    void WriteLongMerge(const char* name)
    {
        LogBuilder log = Download({VinfRec(t0, false), IdleRec(t0 + 60)});
        for (int i = 0; i < 20000; i++)
            log.Add(IdleRec(0xFFFFFFFF));
        log.WriteFile(Path(name));
    }
};

TEST_F(Surroundings, JoinOutputOfEveryKind)
{
    Bytes joined = WriteTwoDownloads();
    std::string a = Path("a.log"), b = Path("b.log");

    // Written in place: a FIFO (read here once the join has ended: the log fits its buffer), a
    // device node like /dev/null, and standard output through /dev/stdout.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    int fdFifo = open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fdFifo, 0);
    RunResult r = RunSpawn({{"-j", Path("fifo"), a, b}});
    EXPECT_EQ(r.status, 0) << r.err;
    char buf[4096];
    ssize_t cb = read(fdFifo, buf, sizeof buf);
    close(fdFifo);
    EXPECT_EQ(Bytes(buf, buf + (cb > 0 ? cb : 0)), joined);
    struct stat st;
    ASSERT_EQ(lstat(Path("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    bool fDevice = mknod(Path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    if (fDevice) {
        r = RunSpawn({{"-j", Path("null"), a, b}});
        EXPECT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(lstat(Path("null").c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }

    r = RunSpawn({{"-j", "/dev/stdout", a, b}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(FContains(r.out, std::string(joined.begin(), joined.end())));

    // Links are followed and stay links; the file at their end is replaced and keeps its mode.
    std::filesystem::create_directory(Path("sub"));
    WriteText(Path("sub/old.log"), "the old joined log\n");
    chmod(Path("sub/old.log").c_str(), 0640);
    std::filesystem::create_symlink("sub/old.log", Path("link.log"));
    std::filesystem::create_symlink("link.log", Path("link2.log"));
    std::filesystem::create_symlink("sub/new.log", Path("dangling.log"));
    for (const char* szLink : {"link2.log", "dangling.log"}) {
        r = RunSpawn({{"-j", Path(szLink), a, b}});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(std::filesystem::is_symlink(Path(szLink))) << szLink;
    }
    EXPECT_EQ(ReadBytes(Path("sub/old.log")), joined);
    EXPECT_EQ(ReadBytes(Path("sub/new.log")), joined);
    ASSERT_EQ(stat(Path("sub/old.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A folder, and a read-only file of someone else's: refused before the merge, nothing changed.
    std::filesystem::create_directory(Path("folder"));
    struct REFUSAL {
        std::vector<std::string> argvPrefix;
        std::string path;
        const char* szWhy;
    };
    std::vector<REFUSAL> rgrefusal = {{{}, Path("folder"), "Is a directory"}};
    bool fUnprivileged = getuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
    if (fUnprivileged) {
        std::filesystem::create_directory(Path("shared"));
        chmod(Path("shared").c_str(), 0777);
        WriteText(Path("shared/ro.log"), "the old joined log\n");
        chmod(Path("shared/ro.log").c_str(), 0444);
        rgrefusal.push_back({{"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", QF_BINARY},
                             Path("shared/ro.log"), "Permission denied"});
    }
    for (auto const& refusal : rgrefusal) {
        SPAWN spawn{refusal.argvPrefix, true};
        if (spawn.argv.empty())
            spawn.argv.push_back(QF_BINARY);
        spawn.argv.insert(spawn.argv.end(), {"-j", refusal.path, a, b});
        r = RunSpawn(spawn);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "ERROR: can't open file '" + refusal.path + "' for writing. " + refusal.szWhy + ".\n");
        EXPECT_FALSE(FContains(r.out, " started\n")) << r.out;
    }
    EXPECT_TRUE(std::filesystem::is_empty(Path("folder")));
    if (fUnprivileged) {
        EXPECT_EQ(ReadText(Path("shared/ro.log")), "the old joined log\n");
    }
    for (auto const& sub : {dir, Path("sub"), Path("folder")})
        EXPECT_FALSE(FTempLeft(sub)) << sub;
    if (!fDevice || !fUnprivileged)
        GTEST_SKIP() << "not root: no device node, no run as another user";
}

// A join stopped half way, by a signal or the file-size limit, on file systems with unnamed files
// and without: the old output stays, and no temporary file is left (SIGKILL only where the file
// has no name to leave).
TEST_F(Surroundings, JoinStoppedHalfWayKeepsTheOldOutput)
{
    WriteLongMerge("long.log");
    Download({VinfRec(t0, false), IdleRec(t0 + 120)}).WriteFile(Path("b.log"));
    std::string out = Path("out.log");
    constexpr int sigNone = 0;
    for (bool fRefuseTmpfile : {false, true}) {
        if (fRefuseTmpfile && !FCanRefuseTmpfile())
            continue;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGKILL, sigNone}) {
            if (sig == SIGKILL && fRefuseTmpfile)
                continue;
            SCOPED_TRACE(std::string(fRefuseTmpfile ? "named temporary file, " : "unnamed file, ") +
                         (sig == sigNone ? "file-size limit" : strsignal(sig)));
            WriteText(out, "the old joined log\n");
            SPAWN spawn{{"-j", out, Path("long.log"), Path("b.log")}};
            spawn.fRefuseTmpfile = fRefuseTmpfile;
            RunResult r;
            if (sig == sigNone) {
                // No signal is ignored beforehand: the program itself must turn SIGXFSZ into EFBIG.
                spawn.cbFileLimit = 16;
                r = RunSpawn(spawn);
                EXPECT_EQ(r.status, 255);
                EXPECT_EQ(r.err, "ERROR: can't write file '" + out + "'. File too large.\n");
            } else {
                CHILD child = Spawn(spawn);
                ASSERT_TRUE(FReadUntil(child, "Skip: "));
                EXPECT_EQ(FTempLeft(dir), fRefuseTmpfile);
                if (sig == SIGPIPE) {
                    close(child.fdOut);   // the reader of the report goes away
                    child.fdOut = -1;
                } else {
                    kill(child.pid, sig);
                }
                r = Finish(&child);
                EXPECT_EQ(r.status, 128 + sig);
            }
            EXPECT_EQ(ReadText(out), "the old joined log\n");
            EXPECT_FALSE(FTempLeft(dir));
        }
    }
}

// Closed standard descriptors are taken by /dev/null, not by the files the program opens: the
// inputs are downloads, whose descriptors are closed once mapped, so the joined log would be the
// first file to take a free descriptor 1.
TEST_F(Surroundings, ClosedStandardDescriptorsKeepTheReportOutOfTheJoinedLog)
{
    Bytes joined = WriteTwoDownloads();
    WriteBytes(Path("a.tar"), MakeTar({{"vms_log", ReadBytes(Path("a.log"))}}));
    WriteBytes(Path("b.tar"), MakeTar({{"vms_log", ReadBytes(Path("b.log"))}}));
    for (auto const& rgfd : std::vector<std::vector<int>>{{1}, {0, 1, 2}, {0, 1}}) {
        SCOPED_TRACE("closed descriptors " + std::to_string(rgfd.size()));
        std::filesystem::remove(Path("out.log"));
        SPAWN spawn{{"-j", Path("out.log"), Path("a.tar"), Path("b.tar")}};
        spawn.rgfdClosed = rgfd;
        RunResult r = RunSpawn(spawn);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadBytes(Path("out.log")), joined);
    }
}

// A log cut short by another program while it is read ends the run with an error instead of a
// crash or a report from zeros, and a join keeps the old output. Both cuts happen while the
// program waits: for notes from a FIFO between collecting the join's inputs, or for a pipe full
// of its report in the middle of a listing.
TEST_F(Surroundings, InputCutShortWhileItIsRead)
{
    // Sanitized builds need no help: the program's handler takes SIGBUS over from the sanitizer's.
    WriteTwoDownloads();
    std::string a = Path("a.log");
    std::string out = Path("out.log");
    WriteText(out, "the old joined log\n");
    ASSERT_EQ(mkfifo(Path("notes").c_str(), 0600), 0);

    CHILD child = Spawn({{"-j", out, a, "-n", Path("notes"), Path("b.log")}});
    // The FIFO opens for writing once the program opens it for reading, after it has mapped a.
    int fdNotes = -1;
    auto timeEnd = std::chrono::steady_clock::now() + durWaitMax;
    while (fdNotes < 0 && std::chrono::steady_clock::now() < timeEnd) {
        fdNotes = open(Path("notes").c_str(), O_WRONLY | O_NONBLOCK);
        if (fdNotes < 0)
            usleep(2000);
    }
    ASSERT_GE(fdNotes, 0);
    ASSERT_EQ(truncate(a.c_str(), 0), 0);
    close(fdNotes);
    RunResult r = Finish(&child);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ERROR: file '" + a + "' changed while it was being read.\n");
    EXPECT_EQ(ReadText(out), "the old joined log\n");
    EXPECT_FALSE(FTempLeft(dir));

    WriteLongMerge("long.log");
    child = Spawn({{"-a", "-v", Path("long.log")}});
    ASSERT_TRUE(FReadUntil(child, "\n"));
    ASSERT_EQ(truncate(Path("long.log").c_str(), 0), 0);
    r = Finish(&child);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ERROR: file '" + Path("long.log") + "' changed while it was being read.\n");
}

// A line is empty only when it holds no byte: NUL bytes are text without a tab, so an endless
// file of them ends at its first piece instead of being read for ever.
TEST_F(Surroundings, NotesOfNulBytesAreNotEmptyLines)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    WriteBytes(Path("nuls.txt"), Bytes{'\n', 0, 0, '\n', '\n'});
    struct {
        std::string path;
        int iLine;
    } const rgcase[] = {{"/dev/zero", 1}, {Path("nuls.txt"), 2}};
    for (auto const& c : rgcase) {
        RunResult r = RunSpawn({{"/usr/bin/timeout", "60", QF_BINARY, "-n", c.path, Path("a.log")}, true});
        EXPECT_EQ(r.status, 255) << c.path;
        EXPECT_EQ(r.err, "ERROR: '" + c.path + "(" + std::to_string(c.iLine) +
                             ")' missing tab between date and note\n\n");
    }
}

// A rule in TZ reads like the zone it describes: every date shown, every date typed (in the hour
// that happens twice too) and every daylight-saving note. The rules are the ones in force since
// 2007; the generated car charges around the European change.
TEST_F(Surroundings, TimeZoneRulesInTZ)
{
    struct {
        const char* szRule;
        const char* szZone;
        const char* szEnd;       // of the generated log: the autumn change is in its last days
        const char* szStart;     // -s and -e around the change, in local time
        const char* szStop;
        const char* szSeen;      // a sign that the zone's changes were used
    } const rgcase[] = {
        {"JST-9", "Asia/Tokyo", "2009-11-04 08:00", "11/01/2009 01:30:00", "11/01/2009 03:00:00", ""},
        {"EST5EDT,M3.2.0,M11.1.0", "America/New_York", "2009-11-04 08:00", "11/01/2009 01:30:00",
         "11/01/2009 03:00:00", ""},
        {"CET-1CEST,M3.5.0,M10.5.0/3", "Europe/Paris", "2009-10-27 08:00", "10/25/2009 02:30:00",
         "10/25/2009 03:30:00", "start time is in daylight saving time"},
    };
    for (auto const& c : rgcase) {
        std::string log = Path("generated.log");
        RunResult g = RunProgram({PathGenlog(), "--seed", "8", "--days", "6", "--end", c.szEnd, "--out", log});
        ASSERT_EQ(g.status, 0) << g.err;
        for (auto const& args : std::vector<std::vector<std::string>>{
                 {"-u", log}, {"-s", c.szStart, "-e", c.szStop, "-a", log}}) {
            SCOPED_TRACE(std::string(c.szRule) + " " + args[0]);
            RunResult rRule = RunQuenfell(args, c.szRule);
            RunResult rZone = RunQuenfell(args, c.szZone);
            EXPECT_EQ(rRule.status, 0);
            EXPECT_EQ(rRule.status, rZone.status);
            EXPECT_EQ(rRule.out, rZone.out);
            EXPECT_EQ(rRule.err, rZone.err);
            EXPECT_NE(rRule.out, RunQuenfell(args, "UTC").out);
            if (args[0] == "-u") {
                EXPECT_TRUE(FContains(rRule.out, c.szSeen)) << rRule.out;
            }
        }
    }
    // UTC, which needs no database, reads exactly like the database's own UTC zone.
    std::string log = Path("generated.log");
    for (auto const& args : std::vector<std::vector<std::string>>{{"-u", log}, {"-a", "-z", "UTC", log}, {"-z"}}) {
        RunResult rUTC = RunQuenfell(args, "UTC");
        RunResult rDatabase = RunQuenfell(args, "Etc/Universal");
        EXPECT_EQ(rUTC.status, rDatabase.status);
        EXPECT_EQ(rUTC.out, rDatabase.out);
        EXPECT_EQ(rUTC.err, rDatabase.err);
    }
    // One record at 12:01 UTC shows at 21:01 in Japan.
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    RunResult r = RunQuenfell({"-a", Path("a.log")}, "JST-9");
    EXPECT_TRUE(FContains(r.out, "\n06/01/2009 21:01:00 | ")) << r.out;
}

}   // namespace

// However little address space the program is given, it ends with its help screen, its report or
// an error message (or the loader refuses to start it), never with a signal; the battery study's
// sample tables are taken as they fill, so even the help screen no longer needs hundreds of MB.
TEST_F(Surroundings, SmallAddressSpaceEndsWithAMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own shadow memory needs more address space than any limit here";
#else
    std::string sample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
    auto run = [&](int kib, std::vector<std::string> const& args) {
        std::vector<std::string> argv = {"/bin/sh", "-c", "ulimit -v " + std::to_string(kib) + "; exec \"$0\" \"$@\"",
                                         QF_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    };
    RunResult rHelp = run(600000, {"-h"});
    EXPECT_EQ(rHelp.status, 255);
    EXPECT_TRUE(FContains(rHelp.err, "usage: Quenfell")) << rHelp.err;
    EXPECT_EQ(run(600000, {"-b", sample}).status, 0);

    // Two inputs start worker threads, whose stacks may find no room: the run goes on with fewer.
    std::string joined = Path("joined.log");
    std::vector<std::vector<std::string>> rgargs = {
        {"-b", sample}, {"-b", sample, sample}, {"-j", joined, sample, sample}};
    bool fOutOfMemory = false;
    for (int kib = 24000; kib >= 4000; kib -= 500) {
        for (std::vector<std::string> const& args : rgargs) {
            RunResult r = run(kib, args);
            SCOPED_TRACE("ulimit -v " + std::to_string(kib) + " " + args[0] + " x" + std::to_string(args.size()) +
                         ": " + r.err);
            // 127: the loader could not map the program's libraries.
            EXPECT_TRUE(r.status == 0 || r.status == 127 || (r.status == 255 && FContains(r.err, "ERROR: ")));
            fOutOfMemory = fOutOfMemory || r.err == "ERROR: out of memory\n" ||
                           FContains(r.err, "\nERROR: out of memory\n");
        }
    }
    EXPECT_TRUE(fOutOfMemory);
#endif
}
