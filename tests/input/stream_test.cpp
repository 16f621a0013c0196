// Tests of STREAM: whole files and segments at any alignment, reads at and beyond the ends, odd
// positions and sizes, and what opening a directory, FIFO, device or missing file reports.
#include "input/stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testsupport/logbuilder.h"

namespace {

// Bytes that differ from their neighbours and do not repeat on page boundaries.
Bytes PatternBytes(size_t cb)
{
    Bytes b(cb);
    for (size_t i = 0; i < cb; i++)
        b[i] = (uint8_t)((i * 7 + i / 251) & 0xFF);
    return b;
}

int CountOpenFds()
{
    int c = 0;
    DIR* pdir = opendir("/proc/self/fd");
    if (!pdir)
        return -1;
    while (readdir(pdir))
        c++;
    closedir(pdir);
    return c;
}

bool FMapped(const std::string& path)
{
    return ReadText("/proc/self/maps").find(path) != std::string::npos;
}

TEST(Stream, WholeFileReadsEveryByteAndStopsAtTheEnd)
{
    std::string path = TempDir() + "/log";
    Bytes data = PatternBytes(5000);
    WriteBytes(path, data);

    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(path.c_str()));
    EXPECT_EQ(stream.CbSize(), 5000);
    EXPECT_EQ(stream.PosCur(), 0);
    ASSERT_NE(stream.PbMap(), nullptr);
    EXPECT_EQ(memcmp(stream.PbMap(), data.data(), data.size()), 0);

    Bytes got(5000);
    ASSERT_TRUE(stream.FReadBytes(4999, got.data()));
    unsigned char b = 0;
    ASSERT_TRUE(stream.FReadByte(&b));
    got[4999] = b;
    EXPECT_EQ(got, data);
    EXPECT_EQ(stream.PosCur(), 5000);

    // One byte more fails and leaves the position at the end.
    b = 0xAA;
    EXPECT_FALSE(stream.FReadByte(&b));
    EXPECT_EQ(b, 0xAA);
    EXPECT_EQ(stream.PosCur(), 5000);
    // A zero-byte read at the very end is within the stream.
    EXPECT_TRUE(stream.FReadBytes(0, &b));

    // Two bytes from the last one: fails without moving.
    ASSERT_TRUE(stream.FSetPos(4999));
    EXPECT_FALSE(stream.FReadBytes(2, got.data()));
    EXPECT_EQ(stream.PosCur(), 4999);
    EXPECT_TRUE(stream.FReadByte(&b));
    EXPECT_EQ(b, data[4999]);
}

// Position and size combinations on a 10-byte stream, including those whose sum overflows.
TEST(Stream, ReadsOutsideTheMappingFailAndChangeNothing)
{
    std::string path = TempDir() + "/log";
    WriteBytes(path, PatternBytes(10));
    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(path.c_str()));

    struct Case {
        long pos;
        int cb;
        bool fOk;
    } const rgcase[] = {
        {0, 10, true},          {5, 5, true},         {10, 0, true},         {9, 1, true},
        {5, 6, false},          {0, 11, false},       {10, 1, false},        {11, 0, false},
        {-1, 1, false},         {-1, 0, false},       {LONG_MIN, 1, false},  {LONG_MIN, INT_MAX, false},
        {LONG_MAX, 1, false},   {LONG_MAX, INT_MAX, false},  {LONG_MAX - 5, 10, false},
        {0, INT_MAX, false},    {0, -1, false},       {0, INT_MIN, false},   {3, -2, false},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(testing::Message() << "pos " << c.pos << " cb " << c.cb);
        EXPECT_TRUE(stream.FSetPos(c.pos));   // a mapped stream keeps any position
        EXPECT_EQ(stream.PosCur(), c.pos);
        unsigned char rgb[16];
        memset(rgb, 0xEE, sizeof(rgb));
        bool fOk = stream.FReadBytes(c.cb, rgb);
        EXPECT_EQ(fOk, c.fOk);
        if (fOk) {
            EXPECT_EQ(stream.PosCur(), c.pos + c.cb);
        } else {
            EXPECT_EQ(stream.PosCur(), c.pos);
            EXPECT_EQ(rgb[0], 0xEE);
        }
    }
    // FReadByte checks the same bounds.
    unsigned char b;
    for (long pos : {-1L, 10L, LONG_MAX, LONG_MIN}) {
        stream.FSetPos(pos);
        EXPECT_FALSE(stream.FReadByte(&b)) << pos;
        EXPECT_EQ(stream.PosCur(), pos);
    }
}

TEST(Stream, SegmentsAtAnyAlignmentReadExactlyTheirBytes)
{
    std::string path = TempDir() + "/archive";
    Bytes data = PatternBytes(3 * 4096 + 100);
    WriteBytes(path, data);

    struct Case {
        unsigned long ibStart, cb;
    } const rgcase[] = {
        {0, 1}, {1, 10}, {511, 513}, {4095, 2}, {4096, 4096}, {5000, 3000}, {4097, 8192},
        {0, 3 * 4096 + 100}, {3 * 4096 + 99, 1}, {12288, 100},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(testing::Message() << "ib " << c.ibStart << " cb " << c.cb);
        STREAM stream;
        ASSERT_TRUE(stream.FOpenFileSegment(path.c_str(), c.ibStart, c.cb));
        EXPECT_EQ(stream.CbSize(), (long)c.cb);
        EXPECT_EQ(stream.PosCur(), 0);
        Bytes want(data.begin() + c.ibStart, data.begin() + c.ibStart + c.cb);
        Bytes got(c.cb);
        ASSERT_TRUE(stream.FReadBytes((int)c.cb, got.data()));
        EXPECT_EQ(got, want);
        EXPECT_EQ(memcmp(stream.PbMap(), want.data(), c.cb), 0);
        unsigned char b;
        EXPECT_FALSE(stream.FReadByte(&b));
        ASSERT_TRUE(stream.FSetPos(0));
        ASSERT_TRUE(stream.FReadByte(&b));
        EXPECT_EQ(b, data[c.ibStart]);
    }
}

// A segment is cut to the bytes the file holds; one with no bytes in the file does not open.
TEST(Stream, SegmentsBeyondTheFileAreCutOrRefused)
{
    std::string path = TempDir() + "/archive";
    Bytes data = PatternBytes(5000);
    WriteBytes(path, data);

    struct Case {
        unsigned long ibStart, cb;
        long cbExpected;   // 0: the open fails
    } const rgcase[] = {
        {4990, 100, 10},
        {4096, ULONG_MAX, 904},
        {1, ULONG_MAX, 4999},
        {0, 0, 0},
        {100, 0, 0},
        {5000, 1, 0},
        {5001, 1, 0},
        {ULONG_MAX, 2, 0},
        {ULONG_MAX - 4095, ULONG_MAX, 0},
        {(unsigned long)LONG_MAX + 1, 10, 0},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(testing::Message() << "ib " << c.ibStart << " cb " << c.cb);
        STREAM stream;
        bool fOpened = stream.FOpenFileSegment(path.c_str(), c.ibStart, c.cb);
        EXPECT_EQ(fOpened, c.cbExpected != 0);
        EXPECT_EQ(stream.CbSize(), c.cbExpected);
        if (!fOpened) {
            EXPECT_EQ(stream.PbMap(), nullptr);
            continue;
        }
        Bytes got((size_t)c.cbExpected);
        ASSERT_TRUE(stream.FReadBytes((int)c.cbExpected, got.data()));
        EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin() + c.ibStart));
        unsigned char b;
        EXPECT_FALSE(stream.FReadByte(&b));
    }
}

// A sparse file keeps this cheap; the offset does not fit in 32 bits.
TEST(Stream, SegmentAboveFourGiB)
{
    std::string path = TempDir() + "/big";
    const unsigned long ib = (1UL << 32) + 4096 + 123;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    if (ftruncate(fd, (off_t)ib + 4096) != 0 || pwrite(fd, "quenfell", 8, (off_t)ib) != 8) {
        close(fd);
        GTEST_SKIP() << "no room for a sparse 4 GiB file here";
    }
    close(fd);

    STREAM stream;
    ASSERT_TRUE(stream.FOpenFileSegment(path.c_str(), ib, 8));
    char ach[9] = {};
    ASSERT_TRUE(stream.FReadBytes(8, ach));
    EXPECT_STREQ(ach, "quenfell");

    ASSERT_TRUE(stream.FOpenFile(path.c_str()));
    EXPECT_EQ(stream.CbSize(), (long)ib + 4096);
    ASSERT_TRUE(stream.FSetPos((long)ib + 4));
    ASSERT_TRUE(stream.FReadBytes(4, ach));
    EXPECT_EQ(memcmp(ach, "fell", 4), 0);
    unlink(path.c_str());
}

TEST(Stream, EmptyFileFailsWithoutAnErrorNumber)
{
    std::string path = TempDir() + "/empty";
    WriteBytes(path, {});
    STREAM stream;
    errno = EBADF;
    EXPECT_FALSE(stream.FOpenFile(path.c_str()));
    EXPECT_EQ(errno, 0);
    EXPECT_EQ(stream.PbMap(), nullptr);
    EXPECT_EQ(stream.CbSize(), 0);
    unsigned char b;
    EXPECT_FALSE(stream.FReadByte(&b));
    EXPECT_EQ(stream.PosCur(), 0);

    EXPECT_FALSE(stream.FOpenFileSegment(path.c_str(), 0, 10));
    EXPECT_EQ(stream.CbSize(), 0);
}

TEST(Stream, ClosedStreamReadsNothing)
{
    std::string path = TempDir() + "/log";
    WriteBytes(path, PatternBytes(100));
    STREAM stream;
    for (int pass = 0; pass < 2; pass++) {
        SCOPED_TRACE(pass == 0 ? "new" : "after CloseFile");
        unsigned char rgb[4];
        EXPECT_EQ(stream.CbSize(), 0);
        EXPECT_EQ(stream.PosCur(), 0);
        EXPECT_EQ(stream.PbMap(), nullptr);
        EXPECT_FALSE(stream.FSetPos(0));
        EXPECT_FALSE(stream.FReadByte(rgb));
        EXPECT_FALSE(stream.FReadBytes(4, rgb));
        EXPECT_FALSE(stream.FReadBytes(0, rgb));
        ASSERT_TRUE(stream.FOpenFile(path.c_str()));
        ASSERT_TRUE(stream.FSetPos(50));
        stream.CloseFile();
    }
}

// Opening again releases the descriptor and the mapping of what the stream held, and a failed
// open leaves no mapping behind.
TEST(Stream, OpeningAgainReleasesTheFirstFile)
{
    std::string dir = TempDir();
    std::string pathA = dir + "/first_log", pathB = dir + "/second_log";
    WriteBytes(pathA, PatternBytes(9000));
    WriteBytes(pathB, PatternBytes(300));
    int cfdBefore = CountOpenFds();

    STREAM stream;
    ASSERT_TRUE(stream.FOpenFile(pathA.c_str()));
    EXPECT_TRUE(FMapped(pathA));
    EXPECT_EQ(CountOpenFds(), cfdBefore + 1);   // the standard I/O handle beside the mapping

    ASSERT_TRUE(stream.FOpenFileSegment(pathB.c_str(), 7, 200));
    EXPECT_FALSE(FMapped(pathA));
    EXPECT_TRUE(FMapped(pathB));
    EXPECT_EQ(CountOpenFds(), cfdBefore);       // segments keep no descriptor

    ASSERT_TRUE(stream.FOpenFileSegment(pathA.c_str(), 4097, 10));
    EXPECT_FALSE(FMapped(pathB));
    EXPECT_TRUE(FMapped(pathA));

    EXPECT_FALSE(stream.FOpenFile((dir + "/missing").c_str()));
    EXPECT_FALSE(FMapped(pathA));
    EXPECT_EQ(stream.PbMap(), nullptr);
    EXPECT_EQ(stream.CbSize(), 0);
    EXPECT_EQ(CountOpenFds(), cfdBefore);

    ASSERT_TRUE(stream.FOpenFile(pathB.c_str()));
    stream.CloseFile();
    EXPECT_FALSE(FMapped(pathB));
    EXPECT_EQ(CountOpenFds(), cfdBefore);
}

// What the driver's "could not open file" message will say: the open's own error, EISDIR for a
// directory, ENODEV for other files that are not regular. None of them may block.
TEST(Stream, NonRegularFilesAreRefusedWithTheRightErrorNumber)
{
    std::string dir = TempDir();
    std::string pathFifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(pathFifo.c_str(), 0600), 0);
    std::string pathLog = dir + "/log";
    WriteBytes(pathLog, PatternBytes(100));

    struct Case {
        std::string path;
        int errnoExpected;
    } const rgcase[] = {
        {dir, EISDIR},
        {pathFifo, ENODEV},
        {"/dev/null", ENODEV},
        {"/dev/zero", ENODEV},
        {dir + "/missing", ENOENT},
        {pathLog + "/below_a_file", ENOTDIR},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(c.path);
        STREAM stream;
        ASSERT_TRUE(stream.FOpenFile(pathLog.c_str()));
        errno = 0;
        EXPECT_FALSE(stream.FOpenFile(c.path.c_str()));
        EXPECT_EQ(errno, c.errnoExpected);
        EXPECT_EQ(stream.PbMap(), nullptr);
        EXPECT_EQ(stream.CbSize(), 0);

        errno = 0;
        EXPECT_FALSE(stream.FOpenFileSegment(c.path.c_str(), 0, 512));
        EXPECT_EQ(errno, c.errnoExpected);
        EXPECT_EQ(stream.PbMap(), nullptr);
    }
}

}   // namespace

// ReleaseBytes lets go of the pages wholly inside the range (the stream's end counting as a page's
// end), whatever the range's alignment and whether the stream is a whole file or a segment; the
// bytes read the same afterwards, and a stream in memory keeps its own. In small pages the pages
// outside the range stay (in large blocks the system may let go of a whole block around it).
// PopulateBytes maps the pages of its range before anything reads them.
TEST(Stream, ReleasedPagesLeaveMemoryAndReadTheSame)
{
    constexpr long cbPage = 4096;
    constexpr long cbFile = 4L << 20;
    std::string dir = TempDir();
    std::string path = dir + "/big.log";
    Bytes pattern = PatternBytes((size_t)cbFile);
    WriteBytes(path, pattern);
    struct CASE {
        const char* szName;
        unsigned long ibSegment;   // 0 with cbSegment 0: the whole file
        unsigned long cbSegment;
        long ibStart, ibEnd;       // released
        long kibLeftMin, kibLeftMax;   // of the mapping, before it is read again
    };
    const CASE rgcase[] = {
        {"whole file, all of it", 0, 0, 0, cbFile, 0, 8},
        {"whole file, a page-aligned middle", 0, 0, 1L << 20, 3L << 20, 2048 - 8, 2048 + 8},
        {"whole file, an unaligned middle: the page of ibEnd stays", 0, 0, (1L << 20) + 100, (3L << 20) + 100,
         2048 - 8, 2048 + 8},
        {"whole file, up to the end", 0, 0, 3L << 20, cbFile, 3072 - 8, 3072 + 8},
        {"segment at an odd offset, all of it", 1000, (unsigned long)cbFile - 3000, 0, cbFile - 3000, 0, 8},
        {"segment at an odd offset, its first half", 1000, (unsigned long)cbFile - 3000, 0, (cbFile - 3000) / 2,
         2048 - 8, 2048 + 8},
    };
    for (CASE const& c : rgcase) {
        STREAM stream;
        stream.PreferSmallPages();
        ASSERT_TRUE(c.cbSegment == 0 ? stream.FOpenFile(path.c_str())
                                     : stream.FOpenFileSegment(path.c_str(), c.ibSegment, c.cbSegment))
            << c.szName;
        unsigned char const* pb = stream.PbMap();
        long cb = stream.CbSize();
        volatile unsigned sum = 0;
        for (long ib = 0; ib < cb; ib += cbPage / 2)
            sum = sum + pb[ib];
        long kibMapped = KibResidentOfMapping(pb);
        if (kibMapped < 0)
            GTEST_SKIP() << "no /proc/self/smaps";
        EXPECT_GE(kibMapped, cb / 1024 - 8) << c.szName;
        stream.ReleaseBytes(c.ibStart, c.ibEnd);
        long kibLeft = KibResidentOfMapping(pb);
        EXPECT_GE(kibLeft, c.kibLeftMin) << c.szName;
        EXPECT_LE(kibLeft, c.kibLeftMax) << c.szName;
        EXPECT_EQ(memcmp(pb, pattern.data() + c.ibSegment, (size_t)cb), 0) << c.szName;
    }

    {
        STREAM stream;
        stream.PreferSmallPages();
        ASSERT_TRUE(stream.FOpenFile(path.c_str()));
        stream.PopulateBytes((1L << 20) + 100, (3L << 20) - 100);
        long kibMapped = KibResidentOfMapping(stream.PbMap());
        // A system without the request maps nothing ahead (the reads fault the pages in instead);
        // one that keeps the file in large blocks maps the blocks around the range too.
        bool fSystemMapsAhead = false;
#if defined(MADV_POPULATE_READ)
        int fd = open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        void* pvProbe = mmap(nullptr, (size_t)cbPage, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        ASSERT_NE(pvProbe, MAP_FAILED);
        fSystemMapsAhead = madvise(pvProbe, (size_t)cbPage, MADV_POPULATE_READ) == 0;
        munmap(pvProbe, (size_t)cbPage);
#endif
        if (fSystemMapsAhead) {
            EXPECT_GE(kibMapped, 2048 - 8);
        }
        EXPECT_EQ(memcmp(stream.PbMap(), pattern.data(), (size_t)cbFile), 0);
    }

    Bytes copy = pattern;
    STREAM stream;
    ASSERT_TRUE(stream.FOpenMemory(copy.data(), copy.size()));
    stream.ReleaseBytes(0, (long)copy.size());
    stream.PopulateBytes(0, (long)copy.size());
    EXPECT_EQ(memcmp(stream.PbMap(), pattern.data(), pattern.size()), 0);
}
