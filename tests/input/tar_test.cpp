// Tests of TAR: archives written by real tar programs in each of their formats, and hand-made
// headers for the size field, names and prefixes, cut archives and damaged fields.
#include "input/tar.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "input/stream.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

struct MEMBER {
    int chType;
    std::string name;
    unsigned long long cb;
    long long ibData;
    bool fTruncated;
    std::string prefix;
};

int _CollectMember(TARF const& tarf, void* context)
{
    ((std::vector<MEMBER>*)context)
        ->push_back({tarf.chType, tarf.szName, tarf.cb, tarf.ibData, tarf.fTruncated, tarf.szPrefix});
    return 1;
}

// Every member of the archive, and the ustar name prefixes the walk found, one after another.
std::vector<MEMBER> ScanAll(const std::string& path, std::string* pstrPrefixes = nullptr)
{
    std::vector<MEMBER> rgmember;
    TAR tar;
    EXPECT_TRUE(tar.FOpen(path.c_str())) << path;
    tar.Scan(_CollectMember, &rgmember);
    if (pstrPrefixes) {
        pstrPrefixes->clear();
        for (MEMBER const& member : rgmember)
            *pstrPrefixes += member.prefix;
    }
    return rgmember;
}

const std::string s_magicUstar("ustar\0", 6);

// One 512-byte header; fields are copied as given (no terminating zero is added), so a test can
// fill a field completely or put any bytes in it.
Bytes HeaderBytes(std::string const& name, std::string const& size = "00000000000", std::string const& prefix = "",
                  std::string const& magic = s_magicUstar, std::string const& version = "00")
{
    Bytes b(512, 0);
    memcpy(&b[0], name.data(), std::min<size_t>(name.size(), 100));
    memcpy(&b[100], "0000644", 7);
    memcpy(&b[124], size.data(), std::min<size_t>(size.size(), 12));
    b[156] = '0';
    memcpy(&b[257], magic.data(), std::min<size_t>(magic.size(), 6));
    memcpy(&b[263], version.data(), std::min<size_t>(version.size(), 2));
    memcpy(&b[345], prefix.data(), std::min<size_t>(prefix.size(), 155));
    return b;
}

Bytes& Append(Bytes& b, Bytes const& more)
{
    b.insert(b.end(), more.begin(), more.end());
    return b;
}

Bytes Filled(size_t cb, uint8_t v)
{
    return Bytes(cb, v);
}

std::string WriteArchive(Bytes const& bytes)
{
    std::string path = TempDir() + "/200906051330.tar";
    WriteBytes(path, bytes);
    return path;
}

// The absolute path of a program on PATH, or "" when there is none.
std::string PathOfTool(const char* name)
{
    const char* pszPath = getenv("PATH");
    std::string strPath = pszPath ? pszPath : "/usr/bin:/bin";
    size_t ich = 0;
    while (ich <= strPath.size()) {
        size_t ichEnd = strPath.find(':', ich);
        if (ichEnd == std::string::npos)
            ichEnd = strPath.size();
        std::string cand = strPath.substr(ich, ichEnd - ich) + "/" + name;
        if (access(cand.c_str(), X_OK) == 0)
            return cand;
        ich = ichEnd + 1;
    }
    return "";
}

// ---------------------------------------------------------------------------------------------
// Archives written by real tar programs

const std::string s_dirLong(110, 'd');
const std::string s_nameLong(120, 'L');

struct TREE {
    std::string dir;
    Bytes log, logNested, readme, notes, longFile;
};

// readme.txt, data/notes.txt, vms_log, a 120-character name and a vms_log below a 110-character
// directory (which ustar can only store with its name prefix).
TREE MakeTree()
{
    TREE tree;
    tree.dir = TempDir();
    tree.log = Bytes(3000);
    for (size_t i = 0; i < tree.log.size(); i++)
        tree.log[i] = (uint8_t)(i * 13 + 1);
    tree.logNested = Bytes(1500, 0x42);
    tree.readme = Bytes{'h', 'e', 'l', 'l', 'o', '\n'};
    tree.notes = Bytes(512, 'n');
    tree.longFile = Bytes{'l', 'o', 'n', 'g'};
    std::filesystem::create_directories(tree.dir + "/data");
    std::filesystem::create_directories(tree.dir + "/" + s_dirLong);
    WriteBytes(tree.dir + "/readme.txt", tree.readme);
    WriteBytes(tree.dir + "/data/notes.txt", tree.notes);
    WriteBytes(tree.dir + "/vms_log", tree.log);
    WriteBytes(tree.dir + "/" + s_nameLong, tree.longFile);
    WriteBytes(tree.dir + "/" + s_dirLong + "/vms_log", tree.logNested);
    return tree;
}

Bytes BytesAt(const std::string& path, long long ib, unsigned long long cb)
{
    Bytes b((size_t)cb);
    FILE* pfile = fopen(path.c_str(), "rb");
    if (!pfile)
        return {};
    if (fseeko(pfile, ib, SEEK_SET) != 0 || fread(b.data(), 1, b.size(), pfile) != b.size())
        b.clear();
    fclose(pfile);
    return b;
}

struct EXPECTED {
    int chType;
    std::string name;
    unsigned long long cb;
    Bytes const* pdata;   // the member's bytes, when it is a file of the tree
};

struct FORMATCASE {
    const char* szTool;     // "tar" or "python3"
    const char* szFormat;   // ustar, gnu or pax
};

class RealTar : public testing::TestWithParam<FORMATCASE> {};

TEST_P(RealTar, MembersAndTheLogAreFoundInPlace)
{
    FORMATCASE const& fc = GetParam();
    std::string tool = PathOfTool(fc.szTool);
    if (tool.empty())
        GTEST_SKIP() << fc.szTool << " is not installed";
    TREE tree = MakeTree();
    std::string fmt = fc.szFormat;
    bool fUstar = fmt == "ustar", fPax = fmt == "pax";

    // ustar cannot hold a 120-character name without a slash.
    std::vector<std::string> rgpath{"readme.txt", "data", "data/notes.txt", "vms_log"};
    if (!fUstar)
        rgpath.push_back(s_nameLong);
    rgpath.push_back(s_dirLong + "/vms_log");

    std::vector<std::string> argv{tool};
    if (std::string(fc.szTool) == "tar") {
        argv.insert(argv.end(), {"--format=" + fmt, "--no-recursion", "-cf", "out.tar"});
    } else {
        argv.insert(argv.end(), {"-c",
                                 "import sys, tarfile\n"
                                 "fmt = {'ustar': tarfile.USTAR_FORMAT, 'gnu': tarfile.GNU_FORMAT,\n"
                                 "       'pax': tarfile.PAX_FORMAT}[sys.argv[1]]\n"
                                 "with tarfile.open('out.tar', 'w', format=fmt) as tf:\n"
                                 "    for p in sys.argv[2:]:\n"
                                 "        tf.add(p, recursive=False)\n",
                                 fmt});
    }
    argv.insert(argv.end(), rgpath.begin(), rgpath.end());
    RunResult res = RunProgram(argv, "UTC", tree.dir);
    ASSERT_EQ(res.status, 0) << res.err;
    std::string pathTar = tree.dir + "/out.tar";

    // A name longer than 100 characters: ustar splits it at the slash into prefix and name; the
    // GNU format puts the whole name in a ././@LongLink member (type L, size with its zero) and
    // the first 100 characters in the header; pax keeps the whole name in the extended header.
    std::vector<EXPECTED> rgexp{
        {'0', "readme.txt", 6, &tree.readme},
        {'5', "data/", 0, nullptr},
        {'0', "data/notes.txt", 512, &tree.notes},
        {'0', "vms_log", 3000, &tree.log},
    };
    if (fmt == "gnu") {
        rgexp.push_back({'L', "././@LongLink", 121, nullptr});
        rgexp.push_back({'0', std::string(100, 'L'), 4, &tree.longFile});
        rgexp.push_back({'L', "././@LongLink", 119, nullptr});
        rgexp.push_back({'0', std::string(100, 'd'), 1500, &tree.logNested});
    } else if (fPax) {
        rgexp.push_back({'0', std::string(100, 'L'), 4, &tree.longFile});
        rgexp.push_back({'0', std::string(100, 'd'), 1500, &tree.logNested});
    } else {
        rgexp.push_back({'0', s_dirLong + "/vms_log", 1500, &tree.logNested});
    }

    std::string strOut;
    std::vector<MEMBER> rgmember = ScanAll(pathTar, &strOut);
    // Only ustar headers have a prefix; the old GNU magic and pax headers carry none.
    EXPECT_EQ(strOut, fUstar ? s_dirLong : "");

    // Pax writers may put an extended header before any member, and must before the long ones.
    std::vector<MEMBER> rgmemberPlain;
    for (size_t i = 0; i < rgmember.size(); i++) {
        if (rgmember[i].chType != 'x') {
            rgmemberPlain.push_back(rgmember[i]);
            continue;
        }
        EXPECT_TRUE(fPax) << rgmember[i].name;
        EXPECT_TRUE(i + 1 < rgmember.size() && rgmember[i + 1].chType != 'x');
        if (std::string(fc.szTool) == "python3") {
            EXPECT_EQ(rgmember[i].name, "././@PaxHeader");
        }
    }
    if (fPax) {
        for (size_t i = 1; i < rgmember.size(); i++) {
            if (rgmember[i].chType != 'x' && rgmember[i].name.size() == 100) {
                EXPECT_EQ(rgmember[i - 1].chType, 'x') << rgmember[i].name;
            }
        }
    }

    ASSERT_EQ(rgmemberPlain.size(), rgexp.size());
    for (size_t i = 0; i < rgexp.size(); i++) {
        SCOPED_TRACE(rgexp[i].name);
        EXPECT_EQ(rgmemberPlain[i].chType, rgexp[i].chType);
        EXPECT_EQ(rgmemberPlain[i].name, rgexp[i].name);
        EXPECT_EQ(rgmemberPlain[i].cb, rgexp[i].cb);
        EXPECT_FALSE(rgmemberPlain[i].fTruncated);
        EXPECT_EQ(rgmemberPlain[i].ibData % 512, 0);
        if (rgexp[i].pdata) {
            EXPECT_EQ(BytesAt(pathTar, rgmemberPlain[i].ibData, rgmemberPlain[i].cb), *rgexp[i].pdata);
        }
    }

    // The log is found by name and read in place through a segment stream.
    TAR tar;
    ASSERT_TRUE(tar.FOpen(pathTar.c_str()));
    TARF tarf;
    ASSERT_TRUE(tar.FFindFile("vms_log", &tarf));
    EXPECT_EQ(tarf.cb, 3000u);
    tar.Close();
    STREAM stream;
    ASSERT_TRUE(stream.FOpenFileSegment(pathTar.c_str(), (unsigned long)tarf.ibData, (unsigned long)tarf.cb));
    ASSERT_EQ(stream.CbSize(), 3000);
    EXPECT_EQ(Bytes(stream.PbMap(), stream.PbMap() + 3000), tree.log);
}

INSTANTIATE_TEST_SUITE_P(Formats, RealTar,
                         testing::Values(FORMATCASE{"tar", "ustar"}, FORMATCASE{"tar", "gnu"},
                                         FORMATCASE{"tar", "pax"}, FORMATCASE{"python3", "ustar"},
                                         FORMATCASE{"python3", "gnu"}, FORMATCASE{"python3", "pax"}),
                         [](testing::TestParamInfo<FORMATCASE> const& info) {
                             return std::string(info.param.szTool == std::string("tar") ? "GnuTar" : "Python") +
                                    "_" + info.param.szFormat;
                         });

// ---------------------------------------------------------------------------------------------
// Hand-made headers

TEST(Tar, EmptyOrZeroFirstArchivesHaveNoMembers)
{
    Bytes zeroFirst = Filled(512, 0);
    Append(zeroFirst, HeaderBytes("vms_log"));
    Append(zeroFirst, Filled(1024, 0));
    Bytes cutHeader = HeaderBytes("vms_log", "00000000010");
    cutHeader.resize(511);

    for (Bytes const& bytes : {Bytes{}, Filled(1, 'v'), Filled(1024, 0), zeroFirst, cutHeader}) {
        SCOPED_TRACE(bytes.size());
        std::string strOut;
        EXPECT_TRUE(ScanAll(WriteArchive(bytes), &strOut).empty());
        EXPECT_EQ(strOut, "");
    }
}

// Blanks are skipped, then octal digits are read up to the first other character; the value
// keeps its low 32 bits. A first byte with its high bit set starts a big-endian binary size, as
// GNU tar writes sizes of 8 GiB and more; its next bit marks a negative, impossible size. The
// member sits in 4096 bytes of data followed by nothing, so a size beyond them is reported cut to
// the 4096 bytes.
TEST(Tar, SizeFieldIsReadAsOctalText)
{
    struct Case {
        std::string size;
        unsigned long long cb;
    } const rgcase[] = {
        {"00000001750", 1000},
        {"   1234", 668},
        {"     1234   ", 668},
        {"00000001234 ", 668},
        {std::string("1234\0" "777777", 11), 668},
        {"x1234", 0},
        {"-1234", 0},
        {"\t1234", 0},
        {"12 34", 10},
        {"17778", 1023},
        {"00000000009", 0},
        {"", 0},
        {"            ", 0},
        {std::string("\x80\0\0\0\0\0\0\0\0\0\x02\x00", 12), 512},
        {std::string("\x80\0\0\0\0\0\0\0\0\0\x03\xE8", 12), 1000},
        {std::string("\x80\0\0\0\0\0\0\0\0\0\x10\x01", 12), 4096},       // cut
        {std::string("\x80\0\0\0\0\0\0\x02\0\0\0\0", 12), 4096},         // 8 GiB, cut
        {std::string("\x80\0\0\0\0\0\0\x02\0\0\0\x01", 12), 4096},       // not its low 32 bits
        {std::string("\xBF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 12), 4096},   // past 64 bits, cut
        {std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFC\x18", 12), 4096},   // -1000, cut
        {"00000010000", 4096},
        {"00000010001", 4096},                  // cut: 4097 bytes do not fit
        {"37777777777", 4096},                  // 2^32 - 1, cut
        {"777777777777", 4096},                 // 2^36 - 1 keeps 0xFFFFFFFF, cut
        {"40000000001", 1},                     // 2^32 + 1 keeps 1
        {"400000000000", 0},                    // 2^35 keeps 0
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(testing::Message() << "size field '" << c.size << "'");
        Bytes bytes = HeaderBytes("vms_log", c.size);
        Append(bytes, Filled(4096, 0));
        std::vector<MEMBER> rgmember = ScanAll(WriteArchive(bytes));
        ASSERT_EQ(rgmember.size(), 1u);
        EXPECT_EQ(rgmember[0].cb, c.cb);
        EXPECT_EQ(rgmember[0].ibData, 512);
    }
}

TEST(Tar, MembersFollowTheirPaddedData)
{
    Bytes bytes = MakeTar({{"readme.txt", Filled(10, 'r')}, {"empty", {}}, {"block", Filled(512, 'b')},
                           {"vms_log", Filled(513, 'v')}});
    std::vector<MEMBER> rgmember = ScanAll(WriteArchive(bytes));
    std::vector<MEMBER> const rgexp{
        {'0', "readme.txt", 10, 512, false, ""},
        {'0', "empty", 0, 1536, false, ""},
        {'0', "block", 512, 2048, false, ""},
        {'0', "vms_log", 513, 3072, false, ""},
    };
    ASSERT_EQ(rgmember.size(), rgexp.size());
    for (size_t i = 0; i < rgexp.size(); i++) {
        EXPECT_EQ(rgmember[i].name, rgexp[i].name);
        EXPECT_EQ(rgmember[i].cb, rgexp[i].cb);
        EXPECT_EQ(rgmember[i].ibData, rgexp[i].ibData);
        EXPECT_EQ(rgmember[i].fTruncated, rgexp[i].fTruncated);
    }
}

// An archive cut inside a member reports it once, marked and cut to what is left, and ends.
TEST(Tar, CutArchiveEndsWithTheTruncatedMember)
{
    Bytes full = MakeTar({{"readme.txt", Filled(10, 'r')}, {"vms_log", Filled(2000, 'v')}, {"after", Filled(5, 'a')}});
    // readme header 0, data 512; vms_log header 1024, data 1536..3535, padding to 3584.
    struct Case {
        size_t cbArchive;
        size_t cmember;
        unsigned long long cbLast;
        bool fTruncated;
    } const rgcase[] = {
        {1536, 2, 0, true},      // nothing after the header
        {1537, 2, 1, true},
        {3000, 2, 1464, true},
        {3535, 2, 1999, true},
        {3536, 2, 2000, true},   // the data is whole, its padding is not: the size stays
        {3583, 2, 2000, true},
        {3584, 2, 2000, false},  // ends exactly after the padding: the walk ends there
        {3585, 2, 2000, false},  // a scrap of the next header is no member
        {4095, 2, 2000, false},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(c.cbArchive);
        Bytes bytes(full.begin(), full.begin() + (long)c.cbArchive);
        std::vector<MEMBER> rgmember = ScanAll(WriteArchive(bytes));
        ASSERT_EQ(rgmember.size(), c.cmember);
        EXPECT_EQ(rgmember.back().name, "vms_log");
        EXPECT_EQ(rgmember.back().ibData, 1536);
        EXPECT_EQ(rgmember.back().cb, c.cbLast);
        EXPECT_EQ(rgmember.back().fTruncated, c.fTruncated);
        EXPECT_FALSE(rgmember.front().fTruncated);
    }
}

// Damaged sizes in a longer archive: each walk stays inside the file and ends.
TEST(Tar, GarbageHeadersNeverLeaveTheArchive)
{
    std::string path = TempDir() + "/junk.tar";
    for (uint8_t fill : {0x01, 0x20, 0x37, 0x7F, 0xFF}) {
        SCOPED_TRACE((int)fill);
        Bytes bytes;
        for (int i = 0; i < 8; i++) {
            std::string size(12, (char)fill);
            if (i % 3 == 1)
                size = std::string("0000000").append(std::to_string(i));
            // Appended rather than "m" + ...: GCC 12 warns falsely (-Wrestrict) about that form.
            Append(bytes, HeaderBytes(std::string("m").append(std::to_string(i)), size));
        }
        Append(bytes, Filled(700, fill));
        WriteBytes(path, bytes);
        std::vector<MEMBER> rgmember = ScanAll(path);
        ASSERT_FALSE(rgmember.empty());
        for (MEMBER const& m : rgmember) {
            EXPECT_GE(m.ibData, 512);
            EXPECT_LE(m.ibData + (long long)m.cb, (long long)bytes.size());
        }
    }
}

TEST(Tar, NamesAndPrefixes)
{
    std::string name100(100, 'n');
    std::string prefix155(155, 'p'), prefix154(154, 'p');
    struct Case {
        std::string name, prefix, magic, version;
        std::string nameExpected;
        std::string outExpected;
    } const rgcase[] = {
        {"vms_log", "logs", s_magicUstar, "00", "logs/vms_log", "logs"},
        {"vms_log", "", s_magicUstar, "00", "vms_log", ""},
        {name100, "", s_magicUstar, "00", name100, ""},
        // The older magic "ustar  ", or a version other than "00", has no prefix.
        {"vms_log", "logs", "ustar ", std::string(" \0", 2), "vms_log", ""},
        {"vms_log", "logs", s_magicUstar, "0 ", "vms_log", ""},
        {"vms_log", "logs", "ustar ", "00", "vms_log", ""},
        // Prefix and name up to 254 characters are joined; longer ones keep the name only.
        {name100, prefix154, s_magicUstar, "00", prefix154 + "/" + name100, prefix154},
        {name100, prefix155, s_magicUstar, "00", name100, prefix155},
        {"vms_log", prefix155, s_magicUstar, "00", prefix155 + "/vms_log", prefix155},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(c.nameExpected);
        Bytes bytes = HeaderBytes(c.name, "00000000000", c.prefix, c.magic, c.version);
        Append(bytes, Filled(1024, 0));
        std::string strOut;
        std::vector<MEMBER> rgmember = ScanAll(WriteArchive(bytes), &strOut);
        ASSERT_EQ(rgmember.size(), 1u);
        EXPECT_EQ(rgmember[0].name, c.nameExpected);
        EXPECT_EQ(strOut, c.outExpected);
    }
}

int _KeepLastLog(TARF const& tarf, void* context)
{
    if (strcmp(tarf.szName, "vms_log") == 0)
        *(TARF*)context = tarf;
    return 1;
}

int _StopAtSecond(TARF const&, void* context)
{
    return ++*(int*)context < 2;
}

TEST(Tar, FindFileTakesTheFirstMatch)
{
    Bytes bytes = MakeTar({{"vms_log", Filled(100, '1')}, {"VMS_LOG", Filled(5, 'x')}, {"vms_log", Filled(200, '2')},
                           {"logs/vms_log", Filled(7, 'z')}});
    std::string path = WriteArchive(bytes);
    TAR tar;
    ASSERT_TRUE(tar.FOpen(path.c_str()));

    TARF tarf;
    ASSERT_TRUE(tar.FFindFile("vms_log", &tarf));
    EXPECT_EQ(tarf.cb, 100u);
    EXPECT_EQ(tarf.ibData, 512);
    ASSERT_TRUE(tar.FFindFile("VMS_LOG", &tarf));
    EXPECT_EQ(tarf.cb, 5u);
    EXPECT_TRUE(tar.FFindFile("logs/vms_log", nullptr));

    memset(&tarf, 0x5A, sizeof(tarf));
    EXPECT_FALSE(tar.FFindFile("vms_lo", &tarf));
    TARF tarfZero;
    memset(&tarfZero, 0, sizeof(tarfZero));
    EXPECT_EQ(memcmp(&tarf, &tarfZero, sizeof(tarf)), 0);
    EXPECT_FALSE(tar.FFindFile("", nullptr));

    // A walk that keeps going sees the later member of the same name.
    TARF tarfLast{};
    tar.Scan(_KeepLastLog, &tarfLast);
    EXPECT_EQ(tarfLast.cb, 200u);
    EXPECT_EQ(tarfLast.ibData, 2048 + 512);

    int ccall = 0;
    tar.Scan(_StopAtSecond, &ccall);
    EXPECT_EQ(ccall, 2);
    tar.Scan(nullptr, nullptr);
}

// Offsets past 4 GiB, in a sparse file: a member of 2^32 - 1 bytes, then the log.
TEST(Tar, OffsetsAboveFourGiB)
{
    std::string path = TempDir() + "/big.tar";
    const long long ibSecond = 512 + (1LL << 32);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    Bytes hdrBig = HeaderBytes("big", "37777777777");
    Bytes hdrLog = HeaderBytes("vms_log", "00000000005");
    bool fOk = pwrite(fd, hdrBig.data(), 512, 0) == 512 && pwrite(fd, hdrLog.data(), 512, ibSecond) == 512 &&
               pwrite(fd, "hello", 5, ibSecond + 512) == 5 && ftruncate(fd, ibSecond + 2048) == 0;
    close(fd);
    if (!fOk)
        GTEST_SKIP() << "no room for a sparse 4 GiB file here";

    std::vector<MEMBER> rgmember = ScanAll(path);
    ASSERT_EQ(rgmember.size(), 2u);
    EXPECT_EQ(rgmember[0].cb, 0xFFFFFFFFu);
    EXPECT_FALSE(rgmember[0].fTruncated);
    EXPECT_EQ(rgmember[1].name, "vms_log");
    EXPECT_EQ(rgmember[1].ibData, ibSecond + 512);

    STREAM stream;
    ASSERT_TRUE(stream.FOpenFileSegment(path.c_str(), (unsigned long)rgmember[1].ibData, 5));
    char ach[6] = {};
    ASSERT_TRUE(stream.FReadBytes(5, ach));
    EXPECT_STREQ(ach, "hello");
    unlink(path.c_str());
}

TEST(Tar, NonRegularFilesDoNotOpen)
{
    std::string dir = TempDir();
    std::string pathFifo = dir + "/x.tar";
    ASSERT_EQ(mkfifo(pathFifo.c_str(), 0600), 0);
    std::filesystem::create_directories(dir + "/d.tar");
    std::string pathGood = WriteArchive(MakeTar({{"vms_log", Filled(10, 'v')}}));

    struct Case {
        std::string path;
        int errnoExpected;
    } const rgcase[] = {
        {pathFifo, ENODEV},
        {dir + "/d.tar", EISDIR},
        {"/dev/null", ENODEV},
        {dir + "/missing.tar", ENOENT},
    };
    for (Case const& c : rgcase) {
        SCOPED_TRACE(c.path);
        TAR tar;
        ASSERT_TRUE(tar.FOpen(pathGood.c_str()));
        errno = 0;
        EXPECT_FALSE(tar.FOpen(c.path.c_str()));
        EXPECT_EQ(errno, c.errnoExpected);
        // The archive open before is closed: nothing is walked.
        EXPECT_FALSE(tar.FFindFile("vms_log", nullptr));
    }
    TAR tar;
    EXPECT_FALSE(tar.FFindFile("vms_log", nullptr));
}

}   // namespace
