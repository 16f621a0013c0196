// The section table: entries, time spans, firmware inheritance, the ring's start and wrap points,
// the table of contents and the walks that follow from it.
#include <gtest/gtest.h>

#include <cstring>

#include "logfixture.h"
#include "report/report.h"
#include "records/record.h"

namespace {

const char szRecordHeader[] =
    "  offset   timestamp - date                 firmware        records\n"
    "--------   ------------------------------   ----------- -----------\n";

struct SECEXPECT {
    int64_t ibStart;
    int64_t cb;
    uint32_t timestampFirst;
    uint32_t versFirmware;
    int fLongTerm;
    int crec;
};

void ExpectTable(LOGLAYOUT const& layout, std::vector<SECEXPECT> const& rgexp)
{
    ASSERT_EQ(layout.csec, (int)rgexp.size());
    for (size_t i = 0; i < rgexp.size(); i++) {
        SEC const& sec = layout.rgsec[i];
        SECEXPECT const& exp = rgexp[i];
        EXPECT_EQ(sec.ibStart, exp.ibStart) << "entry " << i;
        EXPECT_EQ(sec.cb, exp.cb) << "entry " << i;
        EXPECT_EQ(sec.timestampFirst, exp.timestampFirst) << "entry " << i;
        EXPECT_EQ(sec.versFirmware, exp.versFirmware) << "entry " << i;
        EXPECT_EQ(sec.fLongTerm, exp.fLongTerm) << "entry " << i;
        EXPECT_EQ(sec.crec, exp.crec) << "entry " << i;
    }
}

using SectionTable = LogTest;

TEST_F(SectionTable, WrappedLogEntriesSpansAndRingPoints)
{
    EXPECT_EQ(Layout(WrappedLog(), 0), szVinLine);
    // The section after the 5-byte gap has no VINF of its own: it takes the version of the last
    // earlier-dated long-term section before the first transient one (0x3F inherited it too).
    ExpectTable(layout, {
                            {0x00, 0x3E, T0 - 10 * secDay, 0x04010205, 1, 3},
                            {0x3E, 1, 0xFFFFFFFF, 0, 1, 0},
                            {0x3F, 0x0B, T0 - 3600, 0x04010205, 1, 1},
                            {0x4A, 0x33, T0 + 7200, 0x04010307, 0, 2},
                            {0x7D, 5, 0xFFFFFFFF, 0, 0, 0},
                            {0x82, 0x16, T0, 0x04010205, 0, 2},
                            {0x98, 3, 0xFFFFFFFF, 0, 0, 0},
                        });
    EXPECT_EQ(layout.cbFile, 0x9B);
    EXPECT_EQ(layout.timestampMinLongTerm, T0 - 10 * secDay);
    EXPECT_EQ(layout.timestampMaxLongTerm, T0 - 3600);
    EXPECT_EQ(layout.timestampMinTransient, T0);
    EXPECT_EQ(layout.timestampMaxTransient, T0 + 7300);
    EXPECT_EQ(layout.isecFirstTransient, 3);
    EXPECT_EQ(layout.isecOldest, 5);
    EXPECT_EQ(IbEndLongTerm(&layout), 0x4A);
}

TEST_F(SectionTable, WrappedLogTableOfContents)
{
    std::string expected = std::string(szVinLine) +
        "Long-term Records\n"
        "=================\n"
        "\n" +
        szRecordHeader +
        "00000000 | 4B300C00 - 12/22/2009 00:00:00 | 4.1.2 5        3 records\n"
        "0000003E | 1 unused byte\n"
        "0000003F | 4B3D2CF0 - 12/31/2009 23:00:00 | 4.1.2 5        1 record\n"
        "4 records cover from 12/22/2009 00:00:00 to 12/31/2009 23:00:00\n"
        "\n"
        "Transient Records\n"
        "=================\n"
        "\n" +
        szRecordHeader +
        "0000004A | 4B3D5720 - 01/01/2010 02:00:00 | 4.1.3 7        2 records\n"
        "0000007D | 5 unused bytes\n"
        "00000082 | 4B3D3B00 - 01/01/2010 00:00:00 | 4.1.2 5        2 records\n"
        "00000098 | 3 unused bytes\n"
        "4 records cover from 01/01/2010 00:00:00 to 01/01/2010 02:01:40\n"
        "\n";
    EXPECT_EQ(Layout(WrappedLog(), 1), expected);
}

TEST_F(SectionTable, BatteryStudyPrintsNoVinLine)
{
    EXPECT_EQ(Layout(WrappedLog(), 0, grfdispStudy), "");
    EXPECT_EQ(layout.isecOldest, 5);
}

TEST_F(SectionTable, RingIsWalkedOnceFromItsOldestRecord)
{
    EXPECT_EQ(RingOffsets(WrappedLog()), (std::vector<long>{0x82, 0x8D, 0x4A, 0x72}));
    EXPECT_EQ(LongTermOffsets(WrappedLog()), (std::vector<long>{0x00, 0x28, 0x33, 0x3F}));
}

// The ring's oldest section comes first in the file: the walk runs to the end, wraps to the same
// section and stops at once.
TEST_F(SectionTable, RingWithoutWrapStopsAtItsStart)
{
    LogBuilder log;
    log.Add(VinfRec(T0 - secDay, true)).Add(VinfRec(T0, false)).Add(Xx04(T0 + 1)).Add(Xx04(T0 + 2));
    EXPECT_EQ(RingOffsets(log.Data()), (std::vector<long>{40, 80, 91}));
    EXPECT_EQ(layout.isecOldest, 1);
    EXPECT_EQ(layout.isecFirstTransient, 1);
}

// A transient section dated 30 days or more after the newest long-term record is listed but never
// taken as the ring's start or wrap point; one second less still qualifies.
TEST_F(SectionTable, TransientSectionThirtyDaysLateDoesNotQualify)
{
    const uint32_t timestampLimit = T0 + 100 + 30 * secDay;
    LogBuilder log;
    log.Add(VinfRec(T0, true))                        // 0x00
        .Add(Xx04(T0 + 100))                          // 0x28: newest long-term time
        .Add(VinfRec(timestampLimit, false))          // 0x33
        .Add(Xx04(timestampLimit + 10))               // 0x5B
        .Add(VinfRec(timestampLimit - 1, false))      // 0x66
        .Add(Xx04(timestampLimit + 5));               // 0x8E
    std::string out = Layout(log.Data(), 1);
    EXPECT_EQ(layout.timestampMaxLongTerm, T0 + 100);
    EXPECT_EQ(layout.isecFirstTransient, 2);
    EXPECT_EQ(layout.isecOldest, 2);
    EXPECT_EQ(IbEndLongTerm(&layout), 0x66);
    EXPECT_NE(out.find("\n00000033 | 4B64C864 - 01/31/2010 00:01:40 | 4.1.2 5        2 records\n"), std::string::npos)
        << out;
}

// Without any long-term time there is no "too late": a joined log or a download without a
// long-term part still has a ring.
TEST_F(SectionTable, WithoutLongTermTimeTransientSectionsQualify)
{
    LogBuilder log;
    log.Add(VinfRec(T0, false)).Add(Xx04(T0 + 60)).Garbage(2).Add(Xx04(T0 - 600)).Add(Xx04(T0 - 540));
    std::vector<long> rgpos = RingOffsets(log.Data());
    EXPECT_EQ(layout.timestampMaxLongTerm, 0u);
    EXPECT_EQ(layout.isecFirstTransient, 0);
    EXPECT_EQ(layout.isecOldest, 2);
    EXPECT_EQ(rgpos, (std::vector<long>{53, 64, 0, 40}));
}

// Records before the first VINF or gap belong to no entry and leave the spans alone; with no
// qualifying transient section the ring is empty and the long-term part runs to the end.
TEST_F(SectionTable, LeadingRecordsAndNoTransientPart)
{
    LogBuilder log;
    log.Add(Xx04(T0 - 50 * secDay)).Add(Xx04(T0 - 40 * secDay)).Add(VinfRec(T0, true)).Add(Xx04(T0 + 60));
    EXPECT_EQ(RingOffsets(log.Data()), std::vector<long>{});
    ExpectTable(layout, {{22, 51, T0, 0x04010205, 1, 2}});
    EXPECT_EQ(layout.timestampMinLongTerm, T0);
    EXPECT_EQ(layout.timestampMaxLongTerm, T0 + 60);
    EXPECT_EQ(layout.isecOldest, -1);
    EXPECT_EQ(layout.isecFirstTransient, -1);
    EXPECT_EQ(IbEndLongTerm(&layout), 73);
    EXPECT_EQ(LongTermOffsets(log.Data()), (std::vector<long>{0, 11, 22, 62}));
}

TEST_F(SectionTable, FileWithoutRecordsIsOneUnusedEntry)
{
    LogBuilder log;
    log.Garbage(7);
    std::string out = Layout(log.Data(), 1);
    ExpectTable(layout, {{0, 7, 0xFFFFFFFF, 0, 0, 0}});
    EXPECT_EQ(layout.isecOldest, -1);
    EXPECT_EQ(out, "\n VIN \n\n"
                   "00000000 | 7 unused bytes\n"
                   "0 records cover from ------------------- to -------------------\n\n");
}

TEST_F(SectionTable, EmptyStreamHasNoEntries)
{
    STREAM stream;   // never opened: size 0
    REPORTER reporter{};
    CONSUMER cons = ConsumerOfReport(&reporter);
    testing::internal::CaptureStdout();
    BuildLogLayout(&prun->scan, prun->timestampLastValid, &stream, &cons, &prun->layout);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n VIN \n\n");
    EXPECT_EQ(layout.csec, 0);
    EXPECT_EQ(layout.isecOldest, -1);
    EXPECT_EQ(layout.isecFirstTransient, -1);
}

// Drive records never move the spans; a long-term record newer than the newest credible time does
// not either, nor do records of a transient section whose first time is before 2001.
TEST_F(SectionTable, SpansIgnoreDriveRecordsAndIncredibleTimes)
{
    LogBuilder log;
    log.Add(VinfRec(T0, true))
        .Add(Dr1sRec(T0 + 5000, 10, 20))
        .Add(D10mRec(T0 + 6000, 50, 100.0))
        .Add(Xx04(1400000000u))   // after the run's newest credible time
        .Add(Xx04(T0 + 10))
        .Add(VinfRec(T0 + 100, false))
        .Add(Dr1sRec(T0 + 7000, 10, 20))
        .Add(D10mRec(T0 + 8000, 50))
        .Add(Xx04(T0 + 200))
        .Add(VinfRec(900000000u, false))   // 1998: before 2001
        .Add(Xx04(T0 + 9000));
    Layout(log.Data(), 0);
    EXPECT_EQ(layout.timestampMinLongTerm, T0);
    EXPECT_EQ(layout.timestampMaxLongTerm, T0 + 10);
    EXPECT_EQ(layout.timestampMinTransient, T0 + 100);
    EXPECT_EQ(layout.timestampMaxTransient, T0 + 200);
}

// Inheritance looks only at the long-term sections before the first transient one: a long-term
// section that comes after it in the file lends its version to nobody.
TEST_F(SectionTable, FirmwareIsInheritedFromBeforeTheFirstTransientSection)
{
    LogBuilder log;
    log.Add(VinfRec(T0 - 10 * secDay, true))
        .Add(Xx04(T0 - 9 * secDay))
        .Add(VinfRec(T0, false, "SFZRE8B19A3000123", 4, 1, 3, 7))
        .Add(Xx04(T0 + 10))
        .Add(VinfRec(T0 - 5 * secDay, true, "SFZRE8B19A3000123", 4, 2, 0, 0))
        .Garbage(3)
        .Add(Xx04(T0 + 100));
    Layout(log.Data(), 0);
    ASSERT_EQ(layout.csec, 5);
    EXPECT_EQ(layout.rgsec[2].versFirmware, 0x04020000u);
    EXPECT_EQ(layout.rgsec[4].fLongTerm, 1);
    EXPECT_EQ(layout.rgsec[4].versFirmware, 0x04010205u);
}

// The 2001st entry is never made, whether a record or a run of unused bytes would start it: the
// scan stops there and says so once.
TEST_F(SectionTable, TooManySectionsStopsTheScanOnce)
{
    // 1 VINF entry, then 1005 times (1 byte of garbage, one record): the garbage of the 1000th
    // pair is the 2000th entry, its record would be the 2001st.
    LogBuilder log;
    log.Add(VinfRec(T0, false));
    for (int i = 0; i < 1005; i++)
        log.Garbage(1).Add(Xx04(T0 + 1 + i));
    std::string out = Layout(log.Data(), 0);
    EXPECT_EQ(out, std::string("ERROR: too many sections in log file!\n") + szVinLine);
    ASSERT_EQ(layout.csec, csecMax);
    SEC const& secLast = layout.rgsec[csecMax - 1];
    EXPECT_EQ(secLast.crec, 0);
    EXPECT_EQ(secLast.ibStart, 40 + 999 * 12);
    EXPECT_EQ(secLast.cb, (int64_t)log.Size() - (40 + 999 * 12));
    EXPECT_EQ(layout.isecOldest, 0);

    // 1 VINF entry and 999 pairs make 1999 entries; a VINF record is the 2000th, and the garbage
    // after it would be the 2001st.
    LogBuilder logGap;
    logGap.Add(VinfRec(T0, false));
    for (int i = 0; i < 999; i++)
        logGap.Garbage(1).Add(Xx04(T0 + 1 + i));
    logGap.Add(VinfRec(T0 + 2000, false)).Garbage(1).Add(Xx04(T0 + 2001)).Garbage(1).Add(Xx04(T0 + 2002));
    out = Layout(logGap.Data(), 0);
    EXPECT_EQ(out, std::string("ERROR: too many sections in log file!\n") + szVinLine);
    ASSERT_EQ(layout.csec, csecMax);
    EXPECT_EQ(layout.rgsec[csecMax - 1].ibStart, 40 + 999 * 12);
    EXPECT_EQ(layout.rgsec[csecMax - 1].crec, 1);
    EXPECT_EQ(layout.rgsec[csecMax - 1].timestampFirst, T0 + 2000);
}

// Offsets above 4 GiB print all their digits, and runs of unused bytes above 2 GiB count right.
// Inside the runs of records the section scan found back to back, and from the unused bytes where
// it searched, the walks take what the scan found instead of searching again: they must visit the
// very records a searching walk visits, whatever the bytes.
TEST_F(SectionTable, WalksGivenTheTableVisitWhatSearchingWalksVisit)
{
    std::vector<Bytes> rglog;
    Bytes wrapped = WrappedLog();
    rglog.push_back(wrapped);
    // Every single byte of the wrapped log damaged in turn: records lost, runs split, false
    // candidates, a count byte that runs past the end.
    for (size_t ib = 0; ib < wrapped.size(); ib++) {
        Bytes damaged = wrapped;
        damaged[ib] ^= 0x5A;
        rglog.push_back(damaged);
        damaged[ib] = 0x03;
        rglog.push_back(damaged);
    }
    // Garbage first and last, short records (a header cut by the record's end), a record cut
    // short by the end of the file, runs of marker bytes.
    LogBuilder edges;
    edges.Garbage(7).Add(VinfRec(T0, true)).Add(Rec(4, 6, T0 + 1)).Add(Xx04(T0 + 2)).Add(Rec(4, 9, T0 + 3));
    edges.Add(VinfRec(T0 + 60, false)).Add(Xx04(T0 + 61)).Garbage(4, 0x03).Add(Xx04(T0 + 62)).Garbage(2, 0x02);
    Bytes cut = edges.Data();
    Bytes rec = Xx04(T0 + 63).Get();
    cut.insert(cut.end(), rec.begin(), rec.end() - 3);
    rglog.push_back(edges.Data());
    rglog.push_back(cut);
    // Full tables: the scan stops inside its last entry, a run of records or unused bytes; a
    // marker and count byte without their checksum stand between the records.
    Bytes const falseRecord = {0x03, 0x02, 0x02, 0x07};
    for (int fLeadingFalse : {0, 1}) {
        LogBuilder full;
        if (fLeadingFalse)
            full.Add(falseRecord);
        full.Add(VinfRec(T0, false));
        for (int i = 0; i < 1005; i++)
            full.Add(falseRecord).Add(Xx04(T0 + 1 + i)).Add(Xx04(T0 + 2 + i));
        rglog.push_back(full.Data());
    }
    for (size_t ilog = 0; ilog < rglog.size(); ilog++) {
        SCOPED_TRACE("log " + std::to_string(ilog));
        ExpectTrustedWalksSearchAlike(rglog[ilog]);
    }
}

TEST_F(SectionTable, ContentsPrintLargeOffsetsAndCounts)
{
    static LOGLAYOUT big;
    memset(&big, 0, sizeof big);
    big.csec = 4;
    big.rgsec[0] = {0, 0x10, T0, 0x04010205, 1, 1, 0};
    big.rgsec[1] = {0x10, 3000000000ll, 0xFFFFFFFF, 0, 1, 0, 0};
    big.rgsec[2] = {0x123456789ll, 0x20, T0 + 60, 0, 0, 2, 0};
    big.rgsec[3] = {0x123456789ll + 0x20, 5000000000ll, 0xFFFFFFFF, 0, 0, 0, 0};
    big.timestampMinLongTerm = big.timestampMaxLongTerm = T0;
    big.timestampMinTransient = big.timestampMaxTransient = T0 + 60;
    testing::internal::CaptureStdout();
    PrintLogContents(&big);
    std::string out = testing::internal::GetCapturedStdout();
    std::string expected = std::string("Long-term Records\n=================\n\n") + szRecordHeader +
        "00000000 | 4B3D3B00 - 01/01/2010 00:00:00 | 4.1.2 5        1 record\n"
        "00000010 | 3000000000 unused bytes\n"
        "1 records cover from 01/01/2010 00:00:00 to 01/01/2010 00:00:00\n\n"
        "Transient Records\n=================\n\n" +
        szRecordHeader +
        "123456789 | 4B3D3B3C - 01/01/2010 00:01:00 | 0.0.0 0        2 records\n"
        "1234567A9 | 5000000000 unused bytes\n"
        "2 records cover from 01/01/2010 00:01:00 to 01/01/2010 00:01:00\n\n";
    EXPECT_EQ(out, expected);
}

}   // namespace
