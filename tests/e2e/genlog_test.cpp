// The synthetic log generator and the committed sample download: the same seed gives the same bytes,
// the sample is what its documented command makes, and the logs have the layout of a real car's
// flash (long-term part, erased space, a wrapped ring) with records a scanner accepts.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

constexpr uint32_t ts20090501 = 1241136000;       // 2009-05-01 00:00:00 UTC
constexpr uint32_t ts200906051330 = 1244208600;   // 2009-06-05 13:30:00 UTC, the earliest reading of the name
constexpr uint32_t ts20190406 = 1554508800;       // 2019-04-06 00:00:00 UTC
constexpr size_t cbLongTermArea = 32768;

bool FExists(const std::string& path)
{
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

RunResult RunGenlog(std::vector<std::string> args)
{
    args.insert(args.begin(), PathGenlog());
    return RunProgram(args);
}

// Generates into a fresh file and returns its bytes.
Bytes Generate(std::vector<std::string> args)
{
    std::string path = TempDir() + "/out";
    args.push_back("--out");
    args.push_back(path);
    RunResult res = RunGenlog(args);
    EXPECT_EQ(res.status, 0) << res.err;
    return ReadBytes(path);
}

struct MEMBER {
    std::string name;
    size_t ibData, cb;
};

std::vector<MEMBER> TarMembers(const Bytes& tar)
{
    std::vector<MEMBER> members;
    size_t ib = 0;
    while (ib + 512 <= tar.size() && tar[ib] != 0) {
        std::string name((const char*)&tar[ib], strnlen((const char*)&tar[ib], 100));
        size_t cb = std::stoul(std::string((const char*)&tar[ib + 124], 11), nullptr, 8);
        members.push_back({name, ib + 512, cb});
        ib += 512 + (cb + 511) / 512 * 512;
    }
    return members;
}

Bytes VmsLogOf(const Bytes& tar)
{
    for (const MEMBER& m : TarMembers(tar))
        if (m.name == "vms_log" && m.ibData + m.cb <= tar.size())
            return Bytes(tar.begin() + (long)m.ibData, tar.begin() + (long)(m.ibData + m.cb));
    return Bytes();
}

struct FOUND {
    size_t ib, cb;
};

// Finds records the way the scanner is meant to: a 03 02 marker (where 03 03 resets the match), a
// count byte other than 1, and a zero checksum; after a miss the search resumes behind the count byte.
std::vector<FOUND> ScanRecords(const Bytes& b)
{
    std::vector<FOUND> found;
    int state = 0;
    for (size_t p = 0; p < b.size(); p++) {
        if (state == 2) {
            state = 0;
            size_t cb = b[p];
            if (cb >= 2 && p + cb <= b.size()) {
                unsigned sum = 0;
                for (size_t i = 0; i < cb; i++)
                    sum += b[p + i];
                if ((sum & 0xFF) == 0) {
                    found.push_back({p - 2, cb + 2});
                    p += cb - 1;
                }
            }
            continue;
        }
        if (b[p] == 0x03)
            state = state == 0 ? 1 : 0;
        else if (b[p] == 0x02 && state == 1)
            state = 2;
        else
            state = 0;
    }
    return found;
}

uint32_t RawDate(const Bytes& b, size_t ib)
{
    return b[ib + 6] | b[ib + 7] << 8 | b[ib + 8] << 16 | (uint32_t)b[ib + 9] << 24;
}

uint32_t Timestamp(const Bytes& b, size_t ib)
{
    uint32_t d = RawDate(b, ib);
    return d >= 935193601u && d <= 1199145599u ? d + 619315200u : d;
}

// Runs of records that follow one another without a gap, and the gaps between them.
struct LAYOUT {
    std::vector<std::vector<FOUND>> runs;
    std::vector<FOUND> gaps;   // ib, cb of the bytes that are no record
};

LAYOUT Layout(const Bytes& b)
{
    LAYOUT lay;
    size_t ibExpected = 0;
    for (const FOUND& f : ScanRecords(b)) {
        if (f.ib != ibExpected || lay.runs.empty()) {
            if (f.ib != ibExpected)
                lay.gaps.push_back({ibExpected, f.ib - ibExpected});
            lay.runs.emplace_back();
        }
        lay.runs.back().push_back(f);
        ibExpected = f.ib + f.cb;
    }
    if (ibExpected != b.size())
        lay.gaps.push_back({ibExpected, b.size() - ibExpected});
    return lay;
}

bool FAllErased(const Bytes& b, FOUND gap)
{
    for (size_t i = gap.ib; i < gap.ib + gap.cb; i++)
        if (b[i] != 0xFF)
            return false;
    return true;
}

// The layout every wrapped log of the generator has: long-term records from offset 0, erased space
// up to the ring, the newest pass, the remains of a partly overwritten record, the older pass, and
// erased space to the end. Returns the transient records in time order.
std::vector<FOUND> CheckWrappedLayout(const Bytes& log, size_t ibRing)
{
    LAYOUT lay = Layout(log);
    EXPECT_EQ(lay.runs.size(), 3u);
    EXPECT_GE(lay.gaps.size(), 2u);
    EXPECT_LE(lay.gaps.size(), 3u);
    if (lay.runs.size() != 3 || lay.gaps.size() < 2)
        return {};
    EXPECT_EQ(lay.runs[0][0].ib, 0u);
    EXPECT_EQ(log[3], 1);
    EXPECT_EQ(log[5] & 0x80, 0x80);
    EXPECT_EQ(lay.gaps[0].ib + lay.gaps[0].cb, ibRing);
    EXPECT_TRUE(FAllErased(log, lay.gaps[0]));
    EXPECT_EQ(lay.runs[1][0].ib, ibRing);
    EXPECT_EQ(log[ibRing + 3], 1);
    EXPECT_EQ(log[ibRing + 5] & 0x80, 0);
    EXPECT_FALSE(FAllErased(log, lay.gaps[1]));
    EXPECT_LT(lay.gaps[1].cb, 257u);
    if (lay.gaps.size() == 3) {
        EXPECT_TRUE(FAllErased(log, lay.gaps[2]));
        EXPECT_LT(lay.gaps[2].cb, 257u);
    }
    std::vector<FOUND> ring = lay.runs[2];
    ring.insert(ring.end(), lay.runs[1].begin(), lay.runs[1].end());
    for (size_t i = 1; i < ring.size(); i++)
        if (Timestamp(log, ring[i].ib) < Timestamp(log, ring[i - 1].ib)) {
            ADD_FAILURE() << "transient record at " << ring[i].ib << " is older than the one before it";
            break;
        }
    for (const FOUND& f : lay.runs[0]) {
        int rt = log[f.ib + 3];
        EXPECT_TRUE(rt == 1 || rt == 6 || rt == 23) << "type " << rt << " in the long-term part";
    }
    return ring;
}

class GenlogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!FExists(PathGenlog()))
            GTEST_SKIP() << "tools/genlog is not built";
    }
};

const std::string szSample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";

TEST_F(GenlogTest, SampleIsWhatItsDocumentedCommandMakes)
{
    Bytes made = Generate({"--seed", "4", "--days", "28", "--end", "2009-06-05 08:00", "--ring", "768K", "--tar"});
    Bytes committed = ReadBytes(szSample);
    ASSERT_FALSE(committed.empty());
    EXPECT_TRUE(made == committed) << "examples/200906051330.tar differs from the output of its command";
}

TEST_F(GenlogTest, SampleIsASmallCredibleDownload)
{
    Bytes tar = ReadBytes(szSample);
    EXPECT_LT(tar.size(), 1u << 20);
    std::vector<MEMBER> members = TarMembers(tar);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "download_info.txt");
    EXPECT_EQ(members[1].name, "vms_log");
    EXPECT_EQ(members[2].name, "vms_status.txt");
    Bytes log = VmsLogOf(tar);
    EXPECT_EQ(log.size(), cbLongTermArea + 768 * 1024);

    std::vector<FOUND> ring = CheckWrappedLayout(log, cbLongTermArea);
    ASSERT_FALSE(ring.empty());
    uint32_t tsOldest = Timestamp(log, ring.front().ib), tsNewest = Timestamp(log, ring.back().ib);
    EXPECT_GE(tsNewest - tsOldest, 6u * 86400) << "about a week of transient records";
    EXPECT_LE(tsNewest - tsOldest, 9u * 86400);

    int rgc[256] = {};
    int cDay = 0;
    for (const FOUND& f : ScanRecords(log)) {
        uint32_t ts = Timestamp(log, f.ib);
        EXPECT_GE(ts, ts20090501);
        EXPECT_LT(ts, ts200906051330);
        if (f.ib < cbLongTermArea)
            cDay += log[f.ib + 3] == 6;
        else
            rgc[log[f.ib + 3]]++;
    }
    EXPECT_GE(cDay, 21) << "a few weeks of daily status";
    for (int rt : {1, 3, 4, 7, 9, 10, 11, 12, 20, 24})
        EXPECT_GT(rgc[rt], 0) << "no transient record of type " << rt;
    EXPECT_GE(rgc[1], 10) << "a power-on section per drive and charge";
    EXPECT_EQ(rgc[8], 0) << "a type 4 car writes C1MB, not C1MA";
}

TEST_F(GenlogTest, SameSeedSameBytes)
{
    Bytes a = Generate({"--seed", "42", "--days", "3"});
    Bytes b = Generate({"--seed", "42", "--days", "3"});
    Bytes c = Generate({"--seed", "43", "--days", "3"});
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
}

// Each variant keeps the ring layout; the table says what else must hold.
TEST_F(GenlogTest, VariantsKeepTheLayout)
{
    struct CASE {
        std::vector<std::string> args;
        size_t cbMin, cbMax;   // log size
        int rtCharge;          // the one-minute charge type
        bool fRawDates;
    };
    const CASE rgcase[] = {
        {{"--seed", "7", "--days", "12", "--ring", "256K"}, 32768 + 262144, 32768 + 262144, 24, false},
        {{"--seed", "8", "--days", "12", "--ring", "256K", "--vehicle", "3"}, 32768 + 262144, 32768 + 262144, 8, false},
        {{"--seed", "9", "--days", "12", "--ring", "256K", "--raw-dates"}, 32768 + 262144, 32768 + 262144, 24, true},
        {{"--seed", "10", "--size", "2M"}, 2u << 20, (2u << 20) + 32768, 24, false},
    };
    for (const CASE& c : rgcase) {
        SCOPED_TRACE(c.args[1]);
        Bytes log = Generate(c.args);
        EXPECT_GE(log.size(), c.cbMin);
        EXPECT_LE(log.size(), c.cbMax);
        std::vector<FOUND> ring = CheckWrappedLayout(log, cbLongTermArea);
        ASSERT_FALSE(ring.empty());
        int cCharge = 0, cOther = 0;
        for (const FOUND& f : ScanRecords(log)) {
            int rt = log[f.ib + 3];
            cCharge += rt == c.rtCharge;
            cOther += rt == (c.rtCharge == 24 ? 8 : 24);
            if (rt == 1) {
                EXPECT_EQ(log[f.ib + 14], c.rtCharge == 8 ? 3 : 4) << "vehicle type in the firmware version";
            }
            uint32_t dateRaw = RawDate(log, f.ib);
            if (c.fRawDates) {
                EXPECT_GE(dateRaw, 935193601u);
                EXPECT_LE(dateRaw, 1199145599u);
                EXPECT_GE(Timestamp(log, f.ib), ts20190406);
            } else {
                EXPECT_GT(dateRaw, 1199145599u);
            }
        }
        EXPECT_GT(cCharge, 0);
        EXPECT_EQ(cOther, 0);
    }
}

TEST_F(GenlogTest, AdversarialBytesHoldNoRecord)
{
    Bytes b = Generate({"--seed", "3", "--adversarial", "--size", "256K"});
    ASSERT_EQ(b.size(), 256u * 1024);
    EXPECT_TRUE(ScanRecords(b).empty());
    int cCandidates = 0, c030302 = 0;
    for (size_t i = 0; i + 2 < b.size(); i++) {
        cCandidates += b[i] == 0x03 && b[i + 1] == 0x02;
        c030302 += b[i] == 0x03 && b[i + 1] == 0x03 && b[i + 2] == 0x02;
    }
    EXPECT_GT(cCandidates, 10000);
    EXPECT_GT(c030302, 0);
}

TEST_F(GenlogTest, TarHoldsTheSameLog)
{
    Bytes log = Generate({"--seed", "11", "--days", "2"});
    Bytes tar = Generate({"--seed", "11", "--days", "2", "--tar"});
    EXPECT_EQ(tar.size() % 10240, 0u);
    EXPECT_TRUE(VmsLogOf(tar) == log);
}

TEST_F(GenlogTest, BadOptionsAreRefused)
{
    const std::vector<std::string> rgargs[] = {
        {"--days", "3"},
        {"--out", "x", "--vehicle", "5"},
        {"--out", "x", "--end", "2009-13-01 00:00"},
        {"--out", "x", "--size", "12"},
        {"--out", "x", "--bogus"},
        {"--out"},
    };
    for (const auto& args : rgargs) {
        RunResult res = RunGenlog(args);
        EXPECT_EQ(res.status, 2) << args[0];
        EXPECT_NE(res.err.find("usage: genlog"), std::string::npos);
        EXPECT_EQ(res.out, "");
    }
}

}   // namespace
