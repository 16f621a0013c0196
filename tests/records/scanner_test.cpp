// Finding records: the marker state machine, checksums, count bytes 0 and 1, the search limit and
// the end of the stream, checked on the in-memory scanner and through both stream paths; and a
// differential test of the fast scanner against a byte-at-a-time reference.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "input/stream.h"
#include "records/scanner.h"
#include "testsupport/logbuilder.h"
#include "testsupport/refscan.h"

namespace {

constexpr uint32_t dateApr2019 = 1554552000u;   // 0x5CA894C0: no marker bytes in it

// The byte-at-a-time reference over a whole vector.
int FRefScan(Bytes const& d, long* ppos, long posLimit, int* pcb)
{
    return FRefScanBytes(d.data(), (long)d.size(), ppos, posLimit, pcb);
}

Bytes Cat(std::initializer_list<Bytes> rgbytes)
{
    Bytes out;
    for (Bytes const& b : rgbytes)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes Rec12() { return Rec(rtXX04, 12, dateApr2019).Get(); }

struct SCANCASE {
    const char* szName;
    Bytes data;
    long p0;
    long posLimit;   // -1: the data's size
    int fFound;
    long pos;
    int cb;
};

std::vector<SCANCASE> ScanCases()
{
    Bytes rec12 = Rec12();
    Bytes rec12Bad = rec12;
    rec12Bad.back()++;
    Bytes const rec6 = {0x03, 0x02, 0x04, 0x04, 0x00, 0xF8};
    Bytes const filler5(5, 0x55);
    Bytes const zeros255(255, 0x00);
    return {
        {"twelve-byte record", rec12, 0, -1, 1, 0, 12},
        {"twelve-byte record after garbage", Cat({filler5, rec12}), 0, -1, 1, 5, 12},
        {"wrong checksum: nothing", rec12Bad, 0, -1, 0, 0, 0},
        // The failed candidate's count byte covers a whole record; the scan resumes right after it.
        {"resume after count byte", Cat({{0x03, 0x02, 0x0A}, rec6, {0x00, 0x00, 0x00}}), 0, -1, 1, 3, 6},
        {"03 03 02 is no marker", Cat({{0x03}, rec12}), 0, -1, 0, 0, 0},
        {"03 03 03 02 is a marker", Cat({{0x03, 0x03}, rec12}), 0, -1, 1, 2, 12},
        {"four 03 then 02 is none", Cat({{0x03, 0x03, 0x03}, rec12}), 0, -1, 0, 0, 0},
        {"five 03 then 02 is one", Cat({{0x03, 0x03, 0x03, 0x03}, rec12}), 0, -1, 1, 4, 12},
        {"run counted from the start", Cat({{0x03, 0x03}, rec12}), 1, -1, 0, 0, 0},
        {"count byte 0 starts nothing", Cat({{0x03, 0x02, 0x00}, zeros255}), 0, -1, 0, 0, 0},
        {"after count byte 0", Cat({{0x03, 0x02, 0x00}, zeros255, rec12}), 0, -1, 1, 258, 12},
        {"count byte 1 starts nothing", Cat({{0x03, 0x02, 0x01}, rec12}), 0, -1, 1, 3, 12},
        {"count byte never part of a marker", Cat({{0x03, 0x02}, rec12}), 0, -1, 0, 0, 0},
        {"count byte just before limit", Cat({filler5, rec12}), 0, 8, 1, 5, 12},
        {"marker 02 just before limit", Cat({filler5, rec12}), 0, 7, 0, 0, 0},
        {"marker 03 just before limit", Cat({filler5, rec12}), 0, 6, 0, 0, 0},
        {"start at limit", Cat({filler5, rec12}), 5, 5, 0, 0, 0},
        {"start past limit", Cat({filler5, rec12}), 6, 5, 0, 0, 0},
        {"start at the record", Cat({filler5, rec12}), 5, 8, 1, 5, 12},
        {"start past the record", Cat({filler5, rec12}), 6, -1, 0, 0, 0},
        {"limit beyond the data", Cat({filler5, rec12}), 0, 1000, 1, 5, 12},
        {"negative start", rec12, -3, -1, 0, 0, 0},
        {"stream ends mid-candidate", Bytes(rec12.begin(), rec12.begin() + 8), 0, -1, 0, 0, 0},
        {"shortest record inside a cut candidate", {0x03, 0x02, 0x0A, 0x03, 0x02, 0x02, 0xFE}, 0, -1, 1, 3, 4},
        {"record ends the data", Cat({{0x02, 0x05}, rec12}), 1, -1, 1, 2, 12},
    };
}

void ExpectCase(SCANCASE const& c, int fFound, long pos, int cb, const char* szHow)
{
    EXPECT_EQ(fFound, c.fFound) << c.szName << " (" << szHow << ")";
    if (c.fFound) {
        EXPECT_EQ(pos, c.pos) << c.szName << " (" << szHow << ")";
        EXPECT_EQ(cb, c.cb) << c.szName << " (" << szHow << ")";
    } else {
        EXPECT_EQ(pos, c.p0) << c.szName << " (" << szHow << "): position must stay";
        EXPECT_EQ(cb, -7) << c.szName << " (" << szHow << "): length must stay";
    }
}

TEST(FScanToRecord, EdgeCasesInMemory)
{
    for (SCANCASE const& c : ScanCases()) {
        long posLimit = c.posLimit < 0 ? (long)c.data.size() : c.posLimit;
        long pos = c.p0;
        int cb = -7;
        int fFound = FScanToRecordInBytes(c.data.data(), (long)c.data.size(), &pos, posLimit, &cb);
        ExpectCase(c, fFound, pos, cb, "memory");
        long posRef = c.p0;
        int cbRef = -7;
        EXPECT_EQ(FRefScan(c.data, &posRef, posLimit, &cbRef), c.fFound) << c.szName << " (reference)";
    }
}

TEST(FScanToRecord, EdgeCasesThroughStream)
{
    std::string dir = TempDir();
    int iCase = 0;
    for (SCANCASE const& c : ScanCases()) {
        std::string path = dir + "/log" + std::to_string(iCase++);
        WriteBytes(path, c.data);
        STREAM stream;
        ASSERT_TRUE(stream.FOpenFile(path.c_str())) << c.szName;
        long posLimit = c.posLimit < 0 ? (long)c.data.size() : c.posLimit;

        long pos = c.p0;
        int cb = -7;
        int fFound = FScanToRecord(&stream, &pos, posLimit, &cb);
        ExpectCase(c, fFound, pos, cb, "mapped stream");

        pos = c.p0;
        cb = -7;
        fFound = FScanToRecordBytewise(&stream, &pos, posLimit, &cb);
        ExpectCase(c, fFound, pos, cb, "byte by byte");
    }
}

// Inputs rich in marker bytes, runs of 0x03, planted records and near misses.
Bytes RandomLog(std::mt19937& rng, size_t cb)
{
    Bytes d;
    std::uniform_int_distribution<int> pick(0, 99);
    std::uniform_int_distribution<int> anyByte(0, 255);
    while (d.size() < cb) {
        int k = pick(rng);
        if (k < 25) {
            d.push_back(0x03);
        } else if (k < 45) {
            d.push_back(0x02);
        } else if (k < 55) {
            d.push_back((uint8_t)(pick(rng) % 3));   // 0, 1, 2: odd count bytes and markers
        } else if (k < 70) {
            d.push_back((uint8_t)anyByte(rng));
        } else if (k < 80) {
            d.insert(d.end(), (size_t)(1 + pick(rng) % 6), 0x03);
        } else {
            // A record or a near miss, of any length including the longest.
            int cbRec = pick(rng) < 20 ? 200 + anyByte(rng) % 58 : 4 + anyByte(rng) % 40;
            Bytes rec((size_t)cbRec);
            rec[0] = 0x03;
            rec[1] = 0x02;
            rec[2] = (uint8_t)(cbRec - 2);
            unsigned sum = rec[2];
            for (int i = 3; i < cbRec - 1; i++) {
                int r = pick(rng);
                rec[(size_t)i] = (uint8_t)(r < 10 ? 0x03 : r < 20 ? 0x02 : anyByte(rng));
                sum += rec[(size_t)i];
            }
            rec[(size_t)cbRec - 1] = (uint8_t)(0x100 - (sum & 0xFF) + (pick(rng) < 30 ? 1 : 0));
            d.insert(d.end(), rec.begin(), rec.end());
        }
    }
    d.resize(cb);
    return d;
}

void CompareWalk(Bytes const& d, long p0, long posLimit, const std::string& szWhat)
{
    long pos = p0, posRef = p0;
    for (int i = 0; i < 100000; i++) {
        int cb = -1, cbRef = -1;
        int f = FScanToRecordInBytes(d.data(), (long)d.size(), &pos, posLimit, &cb);
        int fRef = FRefScan(d, &posRef, posLimit, &cbRef);
        ASSERT_EQ(f, fRef) << szWhat << " from " << p0 << " limit " << posLimit << " step " << i;
        ASSERT_EQ(pos, posRef) << szWhat << " step " << i;
        ASSERT_EQ(cb, cbRef) << szWhat << " step " << i;
        if (!f)
            return;
        // Continue after the record, and sometimes one byte on, as a searching caller might.
        pos += (i % 5 == 4) ? 1 : cb;
        posRef = pos;
    }
}

TEST(FScanToRecord, FastMatchesReferenceOnRandomLogs)
{
    std::mt19937 rng(20240611);
    for (int iLog = 0; iLog < 400; iLog++) {
        size_t cb = iLog < 300 ? (size_t)(rng() % 700) : (size_t)(20000 + rng() % 50000);
        Bytes d = RandomLog(rng, cb);
        long cbData = (long)d.size();
        std::string szWhat = "log " + std::to_string(iLog);
        CompareWalk(d, 0, cbData, szWhat);
        CompareWalk(d, 0, cbData + 100, szWhat);
        for (int q = 0; q < 20; q++) {
            long p0 = cbData ? (long)(rng() % (unsigned long)(cbData + 3)) - 1 : 0;
            long posLimit = (long)(rng() % (unsigned long)(cbData + 20));
            CompareWalk(d, p0, posLimit, szWhat);
            if (HasFatalFailure())
                return;
        }
    }
}

TEST(FScanToRecord, FastMatchesReferenceOnAdversarialRuns)
{
    // Long stretches of candidates that all fail, ending in a record; runs of every length.
    std::vector<Bytes> rgd;
    Bytes d;
    for (int i = 0; i < 3000; i++)
        d.insert(d.end(), {0x03, 0x02, 0xFF});
    Bytes const rec12 = Rec12();
    d.insert(d.end(), rec12.begin(), rec12.end());
    rgd.push_back(d);
    d.clear();
    for (int cRun = 1; cRun < 40; cRun++) {
        d.insert(d.end(), (size_t)cRun, 0x03);
        d.insert(d.end(), rec12.begin() + 1, rec12.end());
    }
    rgd.push_back(d);
    d.clear();
    // Near misses of every count byte, each one off by one in its checksum, with short records
    // inside the reach of the long candidates.
    for (int L = 0; L < 256; L++) {
        d.insert(d.end(), {0x03, 0x02, (uint8_t)L});
        for (int i = 0; i < 40; i++)
            d.push_back((uint8_t)(i * 7));
        d.insert(d.end(), {0x03, 0x02, 0x02, 0xFE});
    }
    rgd.push_back(d);
    for (size_t i = 0; i < rgd.size(); i++) {
        CompareWalk(rgd[i], 0, (long)rgd[i].size(), "adversarial " + std::to_string(i));
        for (long p0 = 0; p0 < 64; p0++)
            CompareWalk(rgd[i], p0, (long)rgd[i].size() - p0, "adversarial " + std::to_string(i));
    }
}

TEST(FScanToRecord, BytewiseMatchesReferenceThroughStream)
{
    std::mt19937 rng(77);
    std::string dir = TempDir();
    for (int iLog = 0; iLog < 30; iLog++) {
        Bytes d = RandomLog(rng, 1 + rng() % 3000);
        std::string path = dir + "/log" + std::to_string(iLog);
        WriteBytes(path, d);
        STREAM stream;
        ASSERT_TRUE(stream.FOpenFile(path.c_str()));
        long pos = 0, posRef = 0;
        for (;;) {
            int cb = -1, cbRef = -1;
            int f = FScanToRecordBytewise(&stream, &pos, (long)d.size(), &cb);
            int fRef = FRefScan(d, &posRef, (long)d.size(), &cbRef);
            ASSERT_EQ(f, fRef);
            ASSERT_EQ(pos, posRef);
            if (!f)
                break;
            ASSERT_EQ(cb, cbRef);
            pos += cb;
            posRef = pos;
        }
    }
}

}  // namespace
