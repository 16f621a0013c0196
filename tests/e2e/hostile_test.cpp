// Hostile inputs against the built binary: random bytes and random records, cut and lying tarballs,
// marker-only and erased logs, special files, a sparse log past 4 GiB and a join that cannot write.
// Every run must end on its own, with status 0, or with 255 and an error message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const szTz = "America/Los_Angeles";
constexpr uint32_t ts0601 = 1243843200;   // 06/01/2009 08:00:00 UTC
constexpr uint32_t seedRandom = 20090605;

// Sanitized binaries start slowly, so the longest tests thin out their runs there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool fSanitized = true;
#else
constexpr bool fSanitized = false;
#endif

// A hang shows as timeout's 124 instead of blocking the suite; the limit is not a speed check.
RunResult RunGuarded(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"/usr/bin/timeout", "120", QF_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, szTz);
}

bool FStartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool FContains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

std::string Describe(const std::vector<std::string>& args)
{
    std::string str;
    for (auto const& arg : args)
        str += " " + arg;
    return str;
}

// A readable log: status 0, the Analyze line (after the echo of any dates), and nothing on standard error but the battery
// study's progress lines.
void ExpectReadable(const RunResult& res, const std::vector<std::string>& args)
{
    EXPECT_EQ(res.status, 0) << Describe(args) << "\n" << res.err;
    bool fBattery = false;
    for (auto const& arg : args)
        fBattery = fBattery || arg == "-b";
    if (fBattery) {
        EXPECT_EQ(res.err.find("ERROR"), std::string::npos) << Describe(args);
    } else {
        EXPECT_TRUE(FStartsWith(res.out, "Analyze: ") || FContains(res.out, "\nAnalyze: ")) << Describe(args);
        EXPECT_EQ(res.err, "") << Describe(args);
    }
}

// Status 255 and the error as the last line on standard error (the battery study's Analyze line
// may come before it).
void ExpectRefused(const RunResult& res, const std::vector<std::string>& args)
{
    EXPECT_EQ(res.status, 255) << Describe(args);
    size_t ichLine = res.err.rfind('\n', res.err.empty() ? 0 : res.err.size() - 2);
    ichLine = ichLine == std::string::npos ? 0 : ichLine + 1;
    EXPECT_TRUE(FStartsWith(res.err.substr(ichLine), "ERROR: ")) << Describe(args) << "\n" << res.err;
}

Bytes RandomBytes(std::mt19937* pgen, size_t cb)
{
    Bytes bytes(cb);
    for (auto& b : bytes)
        b = (uint8_t)(*pgen)();
    return bytes;
}

// Well-framed records of any type and length with random bodies and 2009-2011 dates, between
// short runs of random bytes: what gets past the scanner and into every decoder and report.
Bytes RandomRecords(std::mt19937* pgen, int crec)
{
    LogBuilder lb;
    for (int irec = 0; irec < crec; irec++) {
        int rt = (int)((*pgen)() % 27);
        int cbTotal = 10 + (int)((*pgen)() % 248);
        uint32_t date = ts0601 + (uint32_t)((*pgen)() % (86400u * 900));
        Rec rec(rt, cbTotal, date);
        rec.T2((int)(*pgen)()).T3((int)(*pgen)());
        for (int ib = 10; ib < cbTotal - 1; ib++)
            rec.U8(ib, (int)(*pgen)());
        lb.Add(rec);
        if ((*pgen)() % 4 == 0)
            lb.Add(RandomBytes(pgen, (*pgen)() % 20));
    }
    return lb.Data();
}

LogBuilder SmallLog()
{
    LogBuilder lb;
    lb.Add(VinfRec(ts0601, true)).Add(DayRec(ts0601 + 60, 1234.5, 0x1000, 80));
    lb.Add(VinfRec(ts0601 + 120, false)).Add(IdleRec(ts0601 + 3600, 80));
    lb.Add(Dr1sRec(ts0601 + 3700, 30, 50)).Add(Dr1sRec(ts0601 + 3701, 31, 52));
    return lb;
}

class Hostile : public testing::Test {
protected:
    void SetUp() override { dir = TempDir(); }
    std::string dir;
};

// Every way of reading a log: summary, contents, listings of both parts, tab and metric, the
// charge trace, filters, the battery study and the join.
std::vector<std::vector<std::string>> AllModes(const std::string& path, const std::string& pathJoined)
{
    return {
        {path},
        {"-v", path},
        {"-v", "-a", path},
        {"-p", "-a", "-t", "-m", "-v", path},
        {"-u", "-v", path},
        {"-d", "-c", "-u", path},
        {"-s", "01/01/2009", "-e", "12/31/2011 23:59:59", "-a", "-t", path},
        {"-b", path},
        {"-j", pathJoined, path, path},
    };
}

TEST_F(Hostile, RandomBytesAndRandomRecordsInEveryMode)
{
    std::mt19937 gen(seedRandom);
    Bytes bytesRandom = RandomBytes(&gen, 64 * 1024);
    Bytes bytesRecords = RandomRecords(&gen, 1500);
    // Random records after a proper start, so that the long-term part and the ring both exist.
    LogBuilder lbStarted = SmallLog();
    lbStarted.Add(RandomRecords(&gen, 1500));

    struct {
        const char* szName;
        Bytes bytes;
    } const rgcase[] = {
        {"random-bytes", bytesRandom},
        {"random-records", bytesRecords},
        {"started-random-records", lbStarted.Data()},
    };
    for (auto const& c : rgcase) {
        std::string path = dir + "/" + c.szName;
        WriteBytes(path, c.bytes);
        for (auto const& args : AllModes(path, dir + "/joined")) {
            RunResult res = RunGuarded(args);
            ExpectReadable(res, args);
        }
        // The same bytes as the log inside a download.
        std::string pathTar = dir + "/" + c.szName + ".tar";
        WriteBytes(pathTar, MakeTar({{"readme.txt", {'h', 'i', '\n'}}, {"vms_log", c.bytes}}));
        for (auto const& args : AllModes(pathTar, dir + "/joined-tar")) {
            RunResult res = RunGuarded(args);
            ExpectReadable(res, args);
        }
    }
}

TEST_F(Hostile, EveryTruncationOfATarball)
{
    Bytes log = SmallLog().Data();
    Bytes readme = {'h', 'i', '\n'};
    Bytes tar = MakeTar({{"readme.txt", readme}, {"vms_log", log}});
    // readme header, its data block, then the log's header.
    const size_t ibLogData = 3 * 512;
    std::string path = dir + "/cut.tar";

    // Every length through the log's last byte; past it only padding and end blocks are cut, so
    // one length per block boundary stands for the rest. Sanitized builds keep every 64th length
    // and those next to a block boundary or to the log's end.
    const size_t ibLogEnd = ibLogData + log.size();
    auto fNear = [](size_t cb, size_t ib) { return cb + 2 >= ib && cb <= ib + 2; };
    std::vector<size_t> rgcb;
    for (size_t cb = 0; cb <= ibLogEnd; cb++) {
        if (!fSanitized || cb % 64 == 0 || fNear(cb % 512, 0) || fNear(cb % 512, 512) || fNear(cb, ibLogEnd))
            rgcb.push_back(cb);
    }
    for (size_t cb = (ibLogEnd + 511) / 512 * 512; cb <= tar.size(); cb += 512)
        rgcb.push_back(cb);

    // Thousands of runs: each starts the program alone, in UTC (no zone files to read), and a hang
    // is left to the suite's limit on the test.
    for (size_t cb : rgcb) {
        WriteBytes(path, Bytes(tar.begin(), tar.begin() + (long)cb));
        // The log is there as soon as one of its bytes is, cut to the bytes present.
        bool fLog = cb > ibLogData;
        size_t cbLog = fLog ? std::min(log.size(), cb - ibLogData) : 0;
        for (bool fVerbose : {false, true}) {
            std::vector<std::string> args = fVerbose ? std::vector<std::string>{"-v", path}
                                                     : std::vector<std::string>{path};
            std::vector<std::string> argv{QF_BINARY};
            argv.insert(argv.end(), args.begin(), args.end());
            RunResult res = RunProgram(argv, "UTC");
            SCOPED_TRACE("length " + std::to_string(cb) + Describe(args));
            if (!fLog) {
                EXPECT_EQ(res.status, 255);
                EXPECT_EQ(res.err, "ERROR: could not find vms_log in '" + path + "'\n");
                continue;
            }
            EXPECT_EQ(res.status, 0);
            EXPECT_EQ(res.err, "");
            if (fVerbose) {
                char szLine[64];
                snprintf(szLine, sizeof szLine, "\n%8zu vms_log \n", cbLog);
                EXPECT_TRUE(FContains(res.out, szLine)) << res.out;
            }
        }
    }
}

TEST_F(Hostile, MemberThatRunsPastTheEnd)
{
    Bytes log = SmallLog().Data();
    Bytes tar = MakeTar({{"vms_log", log}});
    tar.resize(512 + log.size());
    struct {
        const char* szName;
        const char* szSize;   // the 12-byte octal size field
    } const rgcase[] = {
        {"one-mebibyte.tar", "00004000000"},
        {"low-32-bits-all-ones.tar", "777777777777"},
        {"eight-gibibytes.tar", "100000000000"},   // low 32 bits 0: an empty member
    };
    for (auto const& c : rgcase) {
        Bytes tarLying = tar;
        memcpy(tarLying.data() + 124, c.szSize, strlen(c.szSize));
        std::string path = dir + "/" + c.szName;
        WriteBytes(path, tarLying);
        RunResult res = RunGuarded({"-v", path});
        SCOPED_TRACE(c.szName);
        if (strcmp(c.szName, "eight-gibibytes.tar") == 0) {
            EXPECT_EQ(res.status, 255);
            EXPECT_EQ(res.err, "ERROR: could not find vms_log in '" + path + "'\n");
            continue;
        }
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(res.err, "");
        char szLine[64];
        snprintf(szLine, sizeof szLine, "\n%8zu vms_log \n", log.size());
        EXPECT_TRUE(FContains(res.out, szLine)) << res.out;
        EXPECT_TRUE(FContains(res.out, " VIN SFZRE8B19A3000123\n")) << res.out;
    }
}

TEST_F(Hostile, LogsWithoutAnyRecord)
{
    constexpr size_t cb = 64 * 1024;
    Bytes bytesPairs;
    for (size_t ib = 0; ib < cb; ib += 2)
        bytesPairs.insert(bytesPairs.end(), {0x03, 0x02});
    // 03 03 02 never matches at the second 03, and a count byte of 1 never starts a record.
    Bytes bytesMarkerRuns;
    while (bytesMarkerRuns.size() < cb)
        bytesMarkerRuns.insert(bytesMarkerRuns.end(), {0x03, 0x03, 0x02, 0x01, 0xFF, 0x00});
    struct {
        const char* szName;
        Bytes bytes;
    } const rgcase[] = {
        {"pairs-03-02", bytesPairs},
        {"erased-ff", Bytes(cb, 0xFF)},
        {"zeros", Bytes(cb, 0x00)},
        {"marker-runs", bytesMarkerRuns},
    };
    for (auto const& c : rgcase) {
        std::string path = dir + "/" + c.szName;
        WriteBytes(path, c.bytes);
        SCOPED_TRACE(c.szName);
        // The whole file is one run of unused bytes, and nothing is counted.
        RunResult res = RunGuarded({"-v", path});
        EXPECT_EQ(res.status, 0);
        EXPECT_EQ(res.err, "");
        EXPECT_TRUE(FContains(res.out, "\n00000000 | " + std::to_string(c.bytes.size()) + " unused bytes\n"))
            << res.out;
        EXPECT_TRUE(FContains(res.out, "\n0 records cover from ")) << res.out;
        for (auto const& args : AllModes(path, dir + "/joined")) {
            res = RunGuarded(args);
            ExpectReadable(res, args);
        }
    }
}

TEST_F(Hostile, TooManySectionsAreCutAtTheTableSize)
{
    // 2500 records each after a stray byte: every record and every stray byte is an entry.
    LogBuilder lb;
    lb.Add(VinfRec(ts0601, false));
    for (int irec = 0; irec < 2500; irec++)
        lb.Garbage(1, 0xFF).Add(IdleRec(ts0601 + 3600 * (uint32_t)irec, 50));
    std::string path = dir + "/sections";
    lb.WriteFile(path);
    // Once per section scan: the battery study scans each log twice.
    struct {
        std::vector<std::string> args;
        int cmessage;
    } const rgcase[] = {{{"-v", path}, 1}, {{"-a", path}, 1}, {{"-b", path}, 2}};
    for (auto const& c : rgcase) {
        RunResult res = RunGuarded(c.args);
        ExpectReadable(res, c.args);
        int cmessage = 0;
        for (size_t ich = res.out.find("ERROR: too many sections in log file!\n"); ich != std::string::npos;
             ich = res.out.find("ERROR: too many sections in log file!\n", ich + 1))
            cmessage++;
        EXPECT_EQ(cmessage, c.cmessage) << Describe(c.args);
    }
}

TEST_F(Hostile, SpecialFilesAreRefusedWithoutWaiting)
{
    std::string pathFifo = dir + "/fifo";
    std::string pathFifoTar = dir + "/fifo.tar";
    std::string pathDirTar = dir + "/folder.tar";
    std::string pathZeroTar = dir + "/zero.tar";
    std::string pathZeroLink = dir + "/zero-link";
    ASSERT_EQ(mkfifo(pathFifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(pathFifoTar.c_str(), 0600), 0);
    std::filesystem::create_directory(pathDirTar);
    std::filesystem::create_symlink("/dev/zero", pathZeroTar);
    std::filesystem::create_symlink("/dev/zero", pathZeroLink);

    for (std::string const& path :
         {dir, pathFifo, pathFifoTar, pathDirTar, pathZeroTar, pathZeroLink, std::string("/dev/null"),
          std::string("/dev/zero")}) {
        for (auto const& args : std::vector<std::vector<std::string>>{
                 {path}, {"-v", path}, {"-b", path}, {"-j", dir + "/joined", path}}) {
            RunResult res = RunGuarded(args);
            ExpectRefused(res, args);
        }
    }
}

TEST_F(Hostile, JoinToAPlaceThatCannotBeWritten)
{
    std::string path = dir + "/vms_log";
    SmallLog().WriteFile(path);
    std::string pathMissing = dir + "/missing/joined";
    std::string pathFolder = dir + "/folder";
    std::filesystem::create_directory(pathFolder);

    RunResult res = RunGuarded({"-j", pathMissing, path});
    EXPECT_EQ(res.status, 255);
    EXPECT_EQ(res.err, "ERROR: can't open file '" + pathMissing + "' for writing. No such file or directory.\n");

    for (std::string const& pathOut : {std::string("/proc/x"), pathFolder}) {
        res = RunGuarded({"-j", pathOut, path});
        ExpectRefused(res, {"-j", pathOut, path});
        EXPECT_TRUE(FContains(res.err, "'" + pathOut + "'")) << res.err;
    }
    // A failed join leaves nothing behind, and the folder named as the output is untouched.
    for (auto const& entry : std::filesystem::directory_iterator(dir))
        EXPECT_TRUE(entry.path().filename() == "vms_log" || entry.path().filename() == "folder") << entry.path();
    EXPECT_TRUE(std::filesystem::is_empty(pathFolder));
}

// A log of more than 4 GiB, nearly all of it a hole: offsets and lengths past 32 bits must print
// in full. Release builds only (sanitizers make the walks over the hole slow), and only where the
// file system takes a sparse file.
TEST_F(Hostile, SparseLogPastFourGibibytes)
{
    if (fSanitized)
        GTEST_SKIP() << "sanitizer build";
    struct statvfs stfs;
    if (statvfs(dir.c_str(), &stfs) != 0 || (unsigned long long)stfs.f_bavail * stfs.f_frsize < (64ull << 20))
        GTEST_SKIP() << "not enough disk space";

    Bytes bytesLongTerm = LogBuilder().Add(VinfRec(ts0601, true)).Add(DayRec(ts0601 + 60, 1234.5, 0x1000, 80)).Data();
    Bytes bytesTransient =
        LogBuilder().Add(VinfRec(ts0601 + 3600, false)).Add(IdleRec(ts0601 + 7200, 80)).Data();
    constexpr long long ibTransient = 0x100000200ll;
    std::string path = dir + "/sparse";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    bool fWritten = pwrite(fd, bytesLongTerm.data(), bytesLongTerm.size(), 0) == (ssize_t)bytesLongTerm.size() &&
                    pwrite(fd, bytesTransient.data(), bytesTransient.size(), ibTransient) ==
                        (ssize_t)bytesTransient.size();
    struct stat st;
    bool fSparse = fstat(fd, &st) == 0 && (long long)st.st_blocks * 512 < (1ll << 30);
    close(fd);
    if (!fWritten || !fSparse) {
        std::filesystem::remove(path);
        GTEST_SKIP() << "no sparse file of this size here";
    }

    // 40 + 41 bytes of records, then the hole up to the transient part.
    const long long cbHole = ibTransient - (long long)bytesLongTerm.size();
    RunResult res = RunGuarded({"-v", path});
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(FContains(res.out, "\n00000051 | " + std::to_string(cbHole) + " unused bytes\n")) << res.out;
    EXPECT_TRUE(FContains(res.out, "\n100000200 | 4A239890 - 06/01/2009 02:00:00 | 4.1.2 5        2 records\n"))
        << res.out;

    res = RunGuarded({"-v", "-a", path});
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(FContains(res.out, "\n0x100000200: ")) << res.out;
    EXPECT_TRUE(FContains(res.out, "\n0x100000228: ")) << res.out;
    std::filesystem::remove(path);
}

}   // namespace
