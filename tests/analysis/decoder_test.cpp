// DecodeVmsFile's listing walk: order of the records, filters, headings of both layouts, notes
// between records, the statistics and their titles, and the battery-study pass.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <tuple>
#include <unistd.h>

#include "analysis/decoder.h"
#include "logfixture.h"
#include "merge/merge.h"
#include "records/record.h"
#include "records/scanner.h"
#include "report/report.h"
#include "summary_harness.h"

namespace {

const char szTextHeading[] =
    "date and time         timestamp    tag    data\n"
    "-------------------   ----------   ----   ----\n";
const char szStatsHeading[] =
    "rt t2 t3 cb    firmware   count    bytes  tag   notes\n"
    "-- -- -- -- ----------- ------- --------  ----  -----\n";
const char szStatsVinf[] = "  VINF  Vehicle Info: VIN, firmware version\n";
const char szStatsXx04[] = "  XX04  Car Operating State?\n";

using Listing = LogTest;

// Every transient record once, oldest first: the oldest section to the end of the file, then
// the section at the wrap point. The statistics count the walk's records only (the section scan
// decoded two VINF records) and tag each with the firmware current when it was first met.
TEST_F(Listing, TransientRingInTimeOrder)
{
    std::string expected = std::string(szVinLine) + szTextHeading +
        "01/01/2010 00:00:00 | 1262304000 | XX04 |\n"
        "01/01/2010 00:01:00 | 1262304060 | XX04 |\n"
        "01/01/2010 02:00:00 | 1262311200 | VINF | T SFZRE8B19A3000123 '4.1.3 7'\n"
        "01/01/2010 02:01:40 | 1262311300 | XX04 |\n"
        "\n"
        "Transient Record Stats\n"
        "======================\n"
        "\n" +
        szStatsHeading + "01 00 00 26     4.1.3 7       1       40" + szStatsVinf +
        "04 00 00 09     4.1.2 5       3       33" + szStatsXx04 + "\n";
    EXPECT_EQ(Decode(WrappedLog(), {}), expected);
}

TEST_F(Listing, LongTermPartStopsBeforeTheTransientPart)
{
    std::string expected = std::string(szVinLine) + szTextHeading +
        "12/22/2009 00:00:00 | 1261440000 | VINF | L SFZRE8B19A3000123 '4.1.2 5'\n"
        "12/27/2009 00:00:00 | 1261872000 | XX04 |\n"
        "12/31/2009 00:00:00 | 1262217600 | XX04 |\n"
        "12/31/2009 23:00:00 | 1262300400 | XX04 |\n"
        "\n"
        "Long-term Record Stats\n"
        "======================\n"
        "\n" +
        szStatsHeading + "01 00 80 26     4.1.2 5       1       40" + szStatsVinf +
        "04 00 00 09     4.1.2 5       3       33" + szStatsXx04 + "\n";
    EXPECT_EQ(Decode(WrappedLog(), {.fPermanent = 1}), expected);
}

// Without a qualifying transient section the long-term listing runs to the end of the file, the
// firmware starts unknown (records before the first VINF are tagged 0.0.0 0), and the transient
// listing lists nothing.
TEST_F(Listing, NoTransientPart)
{
    LogBuilder log;
    log.Add(Xx04(T0 - 7200)).Add(VinfRec(T0 - 3600, true)).Add(Xx04(T0));
    std::string expectedLongTerm = std::string(szVinLine) + szTextHeading +
        "12/31/2009 22:00:00 | 1262296800 | XX04 |\n"
        "12/31/2009 23:00:00 | 1262300400 | VINF | L SFZRE8B19A3000123 '4.1.2 5'\n"
        "01/01/2010 00:00:00 | 1262304000 | XX04 |\n"
        "\n"
        "Long-term Record Stats\n"
        "======================\n"
        "\n" +
        szStatsHeading + "01 00 80 26     4.1.2 5       1       40" + szStatsVinf +
        "04 00 00 09     0.0.0 0       2       22" + szStatsXx04 + "\n";
    EXPECT_EQ(Decode(log.Data(), {.fPermanent = 1}), expectedLongTerm);

    std::string expectedTransient = std::string(szVinLine) + szTextHeading + "\n" +
        "Transient Record Stats\n"
        "======================\n"
        "\n" +
        szStatsHeading + "\n";
    EXPECT_EQ(Decode(log.Data(), {}), expectedTransient);
}

// One transient section of many types, a record stamped 0xFFFFFFFF and a type above 31.
Bytes MixedLog()
{
    LogBuilder log;
    log.Add(VinfRec(T0, false))
        .Add(IdleRec(T0 + 10))
        .Add(C1mbRec(T0 + 20, 240, 32))
        .Add(Dr1sRec(T0 + 30, 20, 10))
        .Add(D10mRec(T0 + 40, 80, 100.0))
        .Add(Xx04(0xFFFFFFFF))
        .Add(C30mRec(T0 + 50, 0, 80, 40))
        .Add(Rec(8, 42, T0 + 60))
        .Add(Rec(11, 35, T0 + 70))
        .Add(Rec(20, 18, T0 + 80))
        .Add(Rec(23, 17, T0 + 90))
        .Add(Rec(2, 11, T0 + 100))
        .Add(Rec(33, 11, T0 + 110));
    return log.Data();
}

std::string At(const char* code, uint32_t timestamp)
{
    return std::string(code) + "@" + std::to_string((int32_t)timestamp);
}

TEST_F(Listing, FiltersAndTheirCombinations)
{
    const unsigned grfC = 0x1000380;   // -c
    const unsigned grfD = 0x1C80;      // -d
    const std::vector<std::string> rgAll = {
        At("VINF", T0),      At("IDLE", T0 + 10), At("C1MB", T0 + 20), At("DR1S", T0 + 30),
        At("D10M", T0 + 40), At("XX04", ~0u),     At("C30M", T0 + 50), At("C1MA", T0 + 60),
        At("DR1M", T0 + 70), At("TPMS", T0 + 80), At("ERR", T0 + 90),  At("XX02", T0 + 100),
        At("XX33", T0 + 110),
    };
    struct {
        const char* szName;
        DECODEOPT d;
        std::vector<std::string> rgExpected;
    } const rgcase[] = {
        {"all types", {.grfRt = 0xFFFFFFFF}, rgAll},
        {"-s drops erased times",
         {.timestampStart = T0 + 50},
         {At("C30M", T0 + 50), At("C1MA", T0 + 60), At("DR1M", T0 + 70), At("TPMS", T0 + 80), At("ERR", T0 + 90),
          At("XX02", T0 + 100), At("XX33", T0 + 110)}},
        {"-e", {.timestampEnd = T0 + 30}, {At("VINF", T0), At("IDLE", T0 + 10), At("C1MB", T0 + 20), At("DR1S", T0 + 30)}},
        {"-s -e",
         {.timestampStart = T0 + 20, .timestampEnd = T0 + 60},
         {At("C1MB", T0 + 20), At("DR1S", T0 + 30), At("D10M", T0 + 40), At("C30M", T0 + 50), At("C1MA", T0 + 60)}},
        {"-r 7", {.grfRt = 1u << 7}, {At("IDLE", T0 + 10)}},
        {"-r 1 takes type 33 too", {.grfRt = 1u << 1}, {At("VINF", T0), At("XX33", T0 + 110)}},
        {"-c", {.grfRt = grfC}, {At("IDLE", T0 + 10), At("C1MB", T0 + 20), At("C30M", T0 + 50), At("C1MA", T0 + 60)}},
        {"-c -r 7", {.grfRt = grfC ^ (1u << 7)}, {At("C1MB", T0 + 20), At("C30M", T0 + 50), At("C1MA", T0 + 60)}},
        {"-d", {.grfRt = grfD}, {At("IDLE", T0 + 10), At("DR1S", T0 + 30), At("D10M", T0 + 40), At("DR1M", T0 + 70)}},
        {"-d -s -e",
         {.grfRt = grfD, .timestampStart = T0 + 25, .timestampEnd = T0 + 75},
         {At("DR1S", T0 + 30), At("D10M", T0 + 40), At("DR1M", T0 + 70)}},
    };
    for (auto const& tc : rgcase) {
        std::string out = Decode(MixedLog(), tc.d);
        EXPECT_EQ(ListedRecords(out), tc.rgExpected) << tc.szName;
        EXPECT_NE(out.find("\n\nRecord Stats\n============\n\n"), std::string::npos) << tc.szName;
    }
    std::string out = Decode(MixedLog(), {});
    EXPECT_EQ(ListedRecords(out), rgAll);
    EXPECT_NE(out.find("\n\nTransient Record Stats\n"), std::string::npos);
}

// A type filter passes over the entries in which the scan found none of its types: the records of
// those types still come in ring order, from entries on either side of gaps and of the wrap, and
// none of an entry that only holds others.
TEST_F(Listing, TypeFiltersFindTheirRecordsInEveryEntry)
{
    LogBuilder log;
    log.Add(VinfRec(T0 - 10 * secDay, true))
        .Add(Rec(23, 17, T0 - 5 * secDay))
        .Add(Xx04(T0 - secDay))
        .Garbage(1)
        .Add(Xx04(T0 - 3600))
        .Add(VinfRec(T0 + 7200, false))
        .Add(IdleRec(T0 + 7300))
        .Add(Rec(2, 11, T0 + 7400))
        .Garbage(5)
        .Add(Xx04(T0))
        .Add(IdleRec(T0 + 60))
        .Garbage(3)
        .Add(Rec(33, 11, T0 + 120))
        .Add(Rec(23, 17, T0 + 180))
        .Garbage(2);
    struct {
        const char* szName;
        DECODEOPT d;
        std::vector<std::string> rgExpected;
    } const rgcase[] = {
        {"-r 7: before and after the wrap", {.grfRt = 1u << 7}, {At("IDLE", T0 + 60), At("IDLE", T0 + 7300)}},
        {"-r 23: after a gap", {.grfRt = 1u << 23}, {At("ERR", T0 + 180)}},
        {"-r 2: the newest entry only", {.grfRt = 1u << 2}, {At("XX02", T0 + 7400)}},
        {"-r 1 takes type 33 too", {.grfRt = 1u << 1}, {At("XX33", T0 + 120), At("VINF", T0 + 7200)}},
        {"-r 4: the oldest entry only", {.grfRt = 1u << 4}, {At("XX04", T0)}},
        {"-r 5: in no entry", {.grfRt = 1u << 5}, {}},
        {"-r 7 -s", {.grfRt = 1u << 7, .timestampStart = T0 + 100}, {At("IDLE", T0 + 7300)}},
        {"-r 7 -r 23", {.grfRt = 1u << 7 | 1u << 23}, {At("IDLE", T0 + 60), At("ERR", T0 + 180), At("IDLE", T0 + 7300)}},
        {"-p -r 23", {.fPermanent = 1, .grfRt = 1u << 23}, {At("ERR", T0 - 5 * secDay)}},
        {"-p -r 4: both sides of a gap", {.fPermanent = 1, .grfRt = 1u << 4}, {At("XX04", T0 - secDay), At("XX04", T0 - 3600)}},
    };
    for (auto const& tc : rgcase)
        EXPECT_EQ(ListedRecords(Decode(log.Data(), tc.d)), tc.rgExpected) << tc.szName;
}

// A record shorter than a header that ends where the mapping ends is listed from a zero-padded copy:
// its line reads a header's bytes, and the page after the mapping cannot be read.
TEST_F(Listing, ShortRecordAtTheMappingsEndIsListedWithoutReadingPastIt)
{
    LogBuilder log;
    log.Add(VinfRec(T0, false)).Add(IdleRec(T0 + 10)).Add(Bytes{0x03, 0x02, 0x02, 0xFE});
    Bytes const& bytes = log.Data();
    long const cbPage = sysconf(_SC_PAGESIZE);
    unsigned char* pbPages =
        (unsigned char*)mmap(nullptr, (size_t)(2 * cbPage), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pbPages, MAP_FAILED);
    ASSERT_EQ(mprotect(pbPages + cbPage, (size_t)cbPage, PROT_NONE), 0);
    unsigned char* pb = pbPages + cbPage - bytes.size();
    memcpy(pb, bytes.data(), bytes.size());
    for (int fTab = 0; fTab < 2; fTab++) {
        STREAM stream;
        ASSERT_TRUE(stream.FOpenMemory(pb, bytes.size()));
        REPORTER reporter{fTab, 0, nullptr, 0, 0, nullptr};
        CONSUMER cons = ConsumerOfReport(&reporter);
        DECODE decode;
        decode.mode = modeListing;
        decode.grfRt = 0xFFFFFFFF;
        decode.fVerbose = 1;
        decode.pcons = &cons;
        fflush(stdout);
        testing::internal::CaptureStdout();
        DecodeVmsFile(prun.get(), &stream, decode);
        fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();
        // The short record's line: its four bytes, and zeros for the rest of its header.
        EXPECT_NE(out.find("03 02 02 FE 00 00 00000000"), std::string::npos) << out;
    }
    munmap(pbPages, (size_t)(2 * cbPage));
}

TEST_F(Listing, FilteredStatisticsCountOnlyListedRecords)
{
    std::string out = Decode(MixedLog(), {.grfRt = 1u << 7});
    std::string expected = std::string("Record Stats\n============\n\n") + szStatsHeading +
        "07 00 00 17     4.1.2 5       1       25  IDLE  Status every 60 minutes when idle\n\n";
    EXPECT_EQ(From(out, "Record Stats"), expected);
}

TEST_F(Listing, PassesFilterRules)
{
    struct {
        unsigned timestamp;
        int rt;
        unsigned grfRt, start, end;
        int fPass;
    } const rgcase[] = {
        {0xFFFFFFFF, 4, 0, 0, 0, 1},       {0xFFFFFFFF, 4, 0, 1, 0, 0},
        {0xFFFFFFFF, 4, 0, 0, 0xFFFFFFFE, 0}, {T0, 7, 0, T0, 0, 1},
        {T0 - 1, 7, 0, T0, 0, 0},          {T0, 7, 0, 0, T0, 1},
        {T0 + 1, 7, 0, 0, T0, 0},          {T0, 7, 1u << 7, 0, 0, 1},
        {T0, 8, 1u << 7, 0, 0, 0},         {T0, 39, 1u << 7, 0, 0, 1},
        {T0, 31, 0x80000000u, 0, 0, 1},    {T0, 0, 1u, 0, 0, 1},
    };
    for (auto const& tc : rgcase)
        EXPECT_EQ(FPassesFilter({.grfRt = tc.grfRt, .timestampStart = tc.start, .timestampEnd = tc.end}, tc.timestamp,
                                tc.rt),
                  tc.fPass)
            << tc.timestamp << " rt " << tc.rt << " grf " << tc.grfRt << " " << tc.start << ".." << tc.end;
}

// -v: offsets, header bytes and raw bytes, in both layouts.
TEST_F(Listing, VerboseTextLayout)
{
    std::string out = Decode(WrappedLog(), {.fVerbose = 1});
    std::string expectedStart = std::string(szVinLine) +
        "file offset date and time         timestamp    tag    start cb rt t2 t3 date       data\n"
        "----------- -------------------   ----------   ----   ----- -- -- -- -- --------   ----\n"
        "0x00000082: 01/01/2010 00:00:00 | 1262304000 | XX04 | 03 02 09 04 00 00 4B3D3B00 | 30\n"
        "0x0000008d: 01/01/2010 00:01:00 | 1262304060 | XX04 | 03 02 09 04 00 00 4B3D3B3C | F4\n"
        "0x0000004a: 01/01/2010 02:00:00 | 1262311200 | VINF | 03 02 26 01 00 00 4B3D5720 | 00 00 03 01 04 00 "
        "00 00 07 00 00 00 53 46 5A 52 45 38 42 31 39 41 33 30 30 30 31 32 33 ";
    EXPECT_EQ(out.substr(0, expectedStart.size()), expectedStart);
    EXPECT_NE(out.find(" T SFZRE8B19A3000123 '4.1.3 7'\n"
                       "0x00000072: 01/01/2010 02:01:40 | 1262311300 | XX04 | 03 02 09 04 00 00 4B3D5784 | 90\n"
                       "\nTransient Record Stats\n"),
              std::string::npos)
        << out;
}

const char szTabColumns[] =
    "date\ttimestamp\trecord type\todometer (%s)\tSOC (Range %%)\tElevation (%s)\tspeed\tESS V\tESS A\tMotor A\t"
    "torque\tpedal\tbrake\tregen\tTC state\tPEM Temp (C)\tMotor Temp (C)\tMotor2 Temp (C)\tCoolant Temp (C)\t"
    "ESS Min Temp (C)\tESS Max Temp (C)\tCooling\tdrive dist (%s)\tline V\tcharge A\tline A avail\tvBrickMin\t"
    "vBrickMax\tBrickMinV\tBrickMaxV\tBrick Ah Ave\tBrick Ah Min\tMin Ah Brick Number\tCAC\terror code\tnotes\n";

std::string TabHeading(bool fOffset, bool fMetric)
{
    char sz[1024];
    snprintf(sz, sizeof sz, szTabColumns, fMetric ? "km" : "mi", fMetric ? "m" : "ft", fMetric ? "km" : "mi");
    return std::string(fOffset ? "file offset\t" : "") + sz;
}

TEST_F(Listing, TabLayoutHeadingsAndLines)
{
    struct {
        const char* szName;
        DECODEOPT d;
        std::string headingAndFirst;
    } const rgcase[] = {
        {"-t", {.grfDisplay = 0x80}, TabHeading(false, false) + "01/01/2010 00:00:00\t1262304000\tXX04\n"},
        {"-t -m", {.grfDisplay = 0x180}, TabHeading(false, true) + "01/01/2010 00:00:00\t1262304000\tXX04\n"},
        {"-t -v",
         {.fVerbose = 1, .grfDisplay = 0x80},
         TabHeading(true, false) + "0x00000082\t01/01/2010 00:00:00\t1262304000\tXX04\t03 02 09 04 00 00 4B3D3B00 |\t30\n"},
    };
    for (auto const& tc : rgcase) {
        std::string out = Decode(WrappedLog(), tc.d);
        std::string expected = std::string(szVinLine) + tc.headingAndFirst;
        EXPECT_EQ(out.substr(0, expected.size()), expected) << tc.szName;
    }
    // A record with values has 33 tabs after its type code, the notes column last.
    std::string out = Decode(WrappedLog(), {.grfDisplay = 0x80});
    EXPECT_NE(out.find("\n01/01/2010 02:00:00\t1262311200\tVINF" + std::string(33, '\t') +
                       " T SFZRE8B19A3000123 '4.1.3 7'\n"),
              std::string::npos)
        << out;
}

TEST_F(Listing, MetricUnitsReachTheRecordLines)
{
    LogBuilder log;
    log.Add(VinfRec(T0, false)).Add(D10mRec(T0 + 60, 80, 100.0));
    std::string line = "01/01/2010 00:01:00 | 1262304060 | D10M | odo = ";
    EXPECT_NE(Decode(log.Data(), {}).find(line + "100.0 range soc = 80%\n"), std::string::npos);
    std::string out = Decode(log.Data(), {.grfDisplay = 0x100});
    EXPECT_NE(out.find(std::string(szTextHeading) + "01/01/2010 00:00:00"), std::string::npos) << out;
    EXPECT_NE(out.find(line + "160.9 range soc = 80%\n"), std::string::npos) << out;
}

// A notes printer that logs its calls into the listing.
void PrintNoteCall(void*, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent)
{
    printf("[notes %u %u %d]\n", timestampPrev - T0, timestampCur - T0, cchIndent);
}

// Notes come before each listed record, for the span since the previous listed record; the span
// starts at the ring's oldest time or the -s time, whichever is later.
TEST_F(Listing, NotesBetweenListedRecords)
{
    pfnNotes = PrintNoteCall;
    std::string out = Decode(WrappedLog(), {});
    std::string expected = std::string(szTextHeading) +
        "[notes 0 0 0]\n"
        "01/01/2010 00:00:00 | 1262304000 | XX04 |\n"
        "[notes 0 60 0]\n"
        "01/01/2010 00:01:00 | 1262304060 | XX04 |\n"
        "[notes 60 7200 0]\n"
        "01/01/2010 02:00:00 | 1262311200 | VINF | T SFZRE8B19A3000123 '4.1.3 7'\n"
        "[notes 7200 7300 0]\n"
        "01/01/2010 02:01:40 | 1262311300 | XX04 |\n"
        "\n";
    EXPECT_EQ(out.substr(sizeof szVinLine - 1, expected.size()), expected);

    out = Decode(WrappedLog(), {.grfRt = 1u << 4, .timestampStart = T0 + 30});
    EXPECT_NE(out.find("[notes 30 60 0]\n01/01/2010 00:01:00 | 1262304060 | XX04 |\n"
                       "[notes 60 7300 0]\n01/01/2010 02:01:40 | 1262311300 | XX04 |\n\nRecord Stats\n"),
              std::string::npos)
        << out;

    // With offsets the notes are indented past them.
    out = Decode(WrappedLog(), {.fVerbose = 1});
    EXPECT_NE(out.find("[notes 0 60 12]\n0x0000008d: "), std::string::npos) << out;
}

// Without a ring the notes' span starts at the -s time.
TEST_F(Listing, NotesWithoutRingStartAtTheStartTime)
{
    pfnNotes = PrintNoteCall;
    LogBuilder log;
    log.Add(VinfRec(T0, true)).Add(Xx04(T0 + 60));
    std::string out = Decode(log.Data(), {.fPermanent = 1, .timestampStart = T0 + 10});
    EXPECT_NE(out.find(std::string(szTextHeading) + "[notes 10 60 0]\n"), std::string::npos) << out;
}

using AGGREGATED = std::vector<std::tuple<int, uint32_t, int>>;

void Aggregate(void* pvAggregated, VLR* pvlr)
{
    ((AGGREGATED*)pvAggregated)->push_back({pvlr->sect, pvlr->timestamp, pvlr->rt});
}

// The battery study's two passes print nothing and hand every record of the part to the study.
TEST_F(Listing, BatteryStudyPassesPrintNothing)
{
    AGGREGATED rgaggregated;
    prun->scan.pfnAggregate = Aggregate;
    prun->scan.pvAggregate = &rgaggregated;
    EXPECT_EQ(Decode(WrappedLog(), {.grfDisplay = grfdispStudy, .fPermanent = 1}), "");
    EXPECT_EQ(Decode(WrappedLog(), {.grfDisplay = grfdispStudy, .fPermanent = 0}), "");
    AGGREGATED rgExpected = {
        {1, T0 - 10 * secDay, 1}, {1, T0 - 5 * secDay, 4}, {1, T0 - secDay, 4}, {1, T0 - 3600, 4},
        {2, T0, 4},               {2, T0 + 60, 4},         {2, T0 + 7200, 1},   {2, T0 + 7300, 4},
    };
    EXPECT_EQ(rgaggregated, rgExpected);
}

// The table of contents belongs to the verbose summary only.
TEST_F(Listing, TableOfContentsOnlyWithVerboseSummary)
{
    std::string out = Decode(WrappedLog(), {.fVerbose = 1, .fSummary = 1});
    EXPECT_EQ(out.substr(0, sizeof szVinLine - 1 + 18), std::string(szVinLine) + "Long-term Records\n");
    out = Decode(WrappedLog(), {.fVerbose = 1, .fPermanent = 1});
    EXPECT_EQ(out.find("Long-term Records\n"), std::string::npos);
}

// What a consumer that only counts is told; nothing of it is printed.
struct TOLD {
    int cvehicle = 0, crecord = 0, cend = 0, csessionrecord = 0, cdrive = 0, ccharge = 0, ctotals = 0, cnote = 0;
    int cmerged = 0, cstarted = 0, cfinished = 0;
    long cbMerged = 0;
};

CONSUMER CountingConsumer(TOLD* ptold)
{
    CONSUMER cons{};
    cons.pv = ptold;
    cons.pfnVehicle = [](void* pv, VEHICLE const*) { ((TOLD*)pv)->cvehicle++; };
    cons.pfnNotes = [](void* pv, uint32_t, uint32_t, int) { ((TOLD*)pv)->cnote++; };
    cons.pfnRecord = [](void* pv, SHOWNRECORD const*) { ((TOLD*)pv)->crecord++; };
    cons.pfnListingEnd = [](void* pv, TAGSTATS const*, char const*) { ((TOLD*)pv)->cend++; };
    cons.pfnSessionRecord = [](void* pv, VLR const*) { ((TOLD*)pv)->csessionrecord++; };
    cons.pfnDrive = [](void* pv, DRIVESESSION const*) { ((TOLD*)pv)->cdrive++; };
    cons.pfnCharge = [](void* pv, CHARGESESSION const*) { ((TOLD*)pv)->ccharge++; };
    cons.pfnTotals = [](void* pv, SUMMARYTOTALS const*) { ((TOLD*)pv)->ctotals++; };
    return cons;
}

// Whatever a run asks for, the core tells its consumer and writes nothing itself: a consumer that
// only counts (the car page's kind) leaves standard output empty, in every mode and in the merge.
TEST_F(Listing, ACountingConsumerLeavesStandardOutputEmpty)
{
    LogBuilder log = LogStart(tsBase);
    AddDrive(log, tsBase + 60, 300, 30.0);
    log.Add(IdleRec(tsBase + 900, 70));
    AddChargeMinutes(log, tsBase + 3600, 20);
    log.Add(IdleRec(tsBase + 9000, 90));
    std::string path = TempDir() + "/counted_log";
    log.WriteFile(path);
    prun->timestampLastValid = tsBase + 86400;

    struct {
        const char* szName;
        MODE mode;
        int fVerbose, fPermanent;
        unsigned grfRt;
    } const rgcase[] = {
        {"summary -v", modeSummary, 1, 0, 0},
        {"-u -d", modeDetail, 0, 0, GrfRtOfSelection(fselDrive)},
        {"-a -v", modeListing, 1, 0, 0xFFFFFFFF},
        {"-p", modeListing, 0, 1, 0},
        {"-b, long-term part", modeStudy, 0, 1, 0},
    };
    for (auto const& c : rgcase) {
        STREAM stream;
        ASSERT_TRUE(stream.FOpenFile(path.c_str()));
        TOLD told;
        CONSUMER cons = CountingConsumer(&told);
        DECODE decode;
        decode.mode = c.mode;
        decode.fVerbose = c.fVerbose;
        decode.fPermanent = c.fPermanent;
        decode.grfRt = c.grfRt;
        decode.pcons = &cons;
        fflush(stdout);
        testing::internal::CaptureStdout();
        DecodeVmsFile(prun.get(), &stream, decode);
        fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.szName;
        EXPECT_EQ(told.cvehicle, 1) << c.szName;
        bool const fSummary = c.mode == modeSummary || c.mode == modeDetail;
        EXPECT_EQ(told.ctotals, fSummary ? 1 : 0) << c.szName;
        EXPECT_EQ(told.cdrive, fSummary ? 1 : 0) << c.szName;
        EXPECT_EQ(told.ccharge, fSummary ? 1 : 0) << c.szName;
        EXPECT_EQ(told.csessionrecord > 300, fSummary) << c.szName;
        EXPECT_EQ(told.cend, c.mode == modeListing ? 1 : 0) << c.szName;
        // -u with -d shows the drive records it walks; a listing shows what passes its filters.
        EXPECT_EQ(told.crecord > 0, c.mode == modeListing || c.mode == modeDetail) << c.szName;
    }

    // The merge of two copies: every record once, progress told to the hook.
    JOINTABLE join;
    ASSERT_TRUE(FReserveJoinTable(&join, 2));
    for (int i = 0; i < 2; i++) {
        AddJoinInput(&join, path.c_str(), new STREAM());
        ASSERT_TRUE(join.rgin[i].pstream->FOpenFile(path.c_str()));
        GetLogStats(join.rgin[i].pstream, &join.rgin[i].lstat);
    }
    TOLD told;
    MERGEHOOK hook{&told, [](void* pv, char const*) { ((TOLD*)pv)->cstarted++; },
                   [](void* pv, char const*) { ((TOLD*)pv)->cfinished++; }, nullptr, nullptr};
    SCANSTATE scan;
    InitScanState(&scan);
    fflush(stdout);
    testing::internal::CaptureStdout();
    long crec = CrecMergeLogs(&scan, join.rgin, join.cin, &hook,
                              [](void* pv, unsigned char const*, int cb) {
                                  ((TOLD*)pv)->cbMerged += cb;
                                  return true;
                              },
                              &told);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_GT(crec, 300);
    EXPECT_EQ(told.cstarted, 1);
    EXPECT_EQ(told.cfinished, 2);
    EXPECT_GT(told.cbMerged, 300 * 20);

    // A sink that cannot take the bytes stops the merge, which says so.
    for (int i = 0; i < 2; i++) {
        join.rgin[i].fStarted = join.rgin[i].fFinished = false;
        GetLogStats(join.rgin[i].pstream, &join.rgin[i].lstat);
    }
    EXPECT_EQ(CrecMergeLogs(&scan, join.rgin, join.cin, nullptr, [](void*, unsigned char const*, int) { return false; },
                            nullptr),
              -1);
}

}   // namespace

namespace {

// Downloads of one history, each a stretch of it that overlaps the next by a third: every input's
// mapped bytes, for the merge's memory.
struct MEMORYPROBE {
    JOININ const* rgin;
    int cin;
    int ccall;
    long kibPeak;                 // of all inputs together, at the sink's calls
    long kibFirstUnreached;       // at the first call, of the inputs whose period starts later
};

long KibOfInputs(JOININ const* rgin, int iinFirst, int cin)
{
    long kib = 0;
    for (int i = iinFirst; i < cin; i++)
        kib += KibResidentOfMapping(rgin[i].pstream->PbMap());
    return kib;
}

}   // namespace

// The statistics let go of each input once read, an input that the merge has not reached holds no
// memory, and what the merge has passed is let go of: at any time it holds about what the inputs
// whose periods overlap its current time hold, and nothing once it is over. The bytes are those of
// the merge's input order, every record once.
TEST(Merge, HoldsOnlyTheInputsWhosePeriodsOverlapItsTime)
{
    constexpr int cin = 5;
    constexpr uint32_t secStep = 10;
    constexpr uint32_t secLog = 18 * 86400;
    constexpr uint32_t secApart = 12 * 86400;
    constexpr uint32_t timestampStart = 1262304000;   // 01/01/2010 00:00:00 UTC
    std::string dir = TempDir();
    JOINTABLE join;
    ASSERT_TRUE(FReserveJoinTable(&join, cin));
    std::vector<std::string> rgpath;
    long kibTotal = 0;
    for (int i = 0; i < cin; i++) {
        uint32_t timestampFirst = timestampStart + secApart * (uint32_t)i;
        std::vector<Rec> transient{VinfRec(timestampFirst, false)};
        for (uint32_t timestamp = timestampFirst + 1; timestamp < timestampFirst + secLog; timestamp += secStep)
            transient.push_back(IdleRec(timestamp, 50));
        rgpath.push_back(dir + "/d" + std::to_string(i) + ".log");
        LogBuilder log = DownloadBefore(timestampFirst + secLog, transient);
        log.WriteFile(rgpath.back());
        kibTotal += (long)log.Size() / 1024;
    }
    for (int i = 0; i < cin; i++) {
        AddJoinInput(&join, rgpath[(size_t)i].c_str(), new STREAM());
        ASSERT_TRUE(join.rgin[i].pstream->FOpenFile(rgpath[(size_t)i].c_str()));
        GetLogStats(join.rgin[i].pstream, &join.rgin[i].lstat);
        long kib = KibResidentOfMapping(join.rgin[i].pstream->PbMap());
        if (kib < 0)
            GTEST_SKIP() << "no /proc/self/smaps";
        EXPECT_LE(kib, 8) << "input " << i << " after its statistics";
    }

    MEMORYPROBE probe{join.rgin, cin, 0, 0, -1};
    SCANSTATE scan;
    InitScanState(&scan);
    long cbMerged = 0;
    struct SINK {
        MEMORYPROBE* pprobe;
        long* pcb;
    } sink{&probe, &cbMerged};
    long crec = CrecMergeLogs(&scan, join.rgin, cin, nullptr,
                              [](void* pv, unsigned char const*, int cb) {
                                  SINK* psink = (SINK*)pv;
                                  MEMORYPROBE* pprobe = psink->pprobe;
                                  *psink->pcb += cb;
                                  if (pprobe->ccall++ == 0)
                                      pprobe->kibFirstUnreached = KibOfInputs(pprobe->rgin, 2, pprobe->cin);
                                  long kib = KibOfInputs(pprobe->rgin, 0, pprobe->cin);
                                  if (kib > pprobe->kibPeak)
                                      pprobe->kibPeak = kib;
                                  return true;
                              },
                              &sink);
    // The history's records once each, and each input's own vehicle-info record.
    long crecHistory = (long)((secApart * (cin - 1) + secLog - 2) / secStep) + 1;
    EXPECT_EQ(crec, crecHistory + cin);
    EXPECT_GT(probe.ccall, 4);
    EXPECT_LE(probe.kibFirstUnreached, 8 * (cin - 2));
    // Two inputs overlap at a time; each keeps what it reads and a step behind it.
    EXPECT_LT(probe.kibPeak, kibTotal / 2) << kibTotal << " KiB of inputs";
    EXPECT_LE(KibOfInputs(join.rgin, 0, cin), 8 * cin);
}
