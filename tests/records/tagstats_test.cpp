// Record-type statistics: tallying by header signature, the capacity limit, and the sorted table.
#include <gtest/gtest.h>

#include <string>

#include "testsupport/logbuilder.h"
#include "records/record.h"
#include "records/tagstats.h"
#include "report/report.h"

namespace {

const char szHeading[] =
    "rt t2 t3 cb    firmware   count    bytes  tag   notes\n"
    "-- -- -- -- ----------- ------- --------  ----  -----\n";

class TagStats : public testing::Test {
protected:
    void Tally(Rec const& rec)
    {
        Bytes b = rec.Get();
        TallyRecord(&tags, b.data(), (int)b.size(), versFirmware);
    }

    std::string PrintedStats(const char* title)
    {
        SortTagStats(&tags);
        testing::internal::CaptureStdout();
        PrintTagStats(&tags, title);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    TAGSTATS tags{};
    unsigned int versFirmware = 0;
};

TEST_F(TagStats, EmptyTablePrintsTitleHeadingAndBlankLine)
{
    EXPECT_EQ(PrintedStats("Record Stats"), std::string("Record Stats\n============\n\n") + szHeading + "\n");
}

// Type first although the tag starts with cb; one line per distinct cb, t2 and t3; the firmware of
// the first record with the tag; names only for the types that have a code.
TEST_F(TagStats, SortsByTypeThenT2T3CbAndNamesKnownTypes)
{
    versFirmware = 0x04010205;
    Tally(Rec(7, 18));                  // 10 07 00 00
    Tally(Rec(6, 66));                  // 40 06 00 00
    Tally(Rec(7, 18).T2(0x10));         // 10 07 10 00
    Tally(Rec(7, 25));                  // 17 07 00 00
    versFirmware = 0x05000000;          // a repeat keeps the version of its first record
    Tally(Rec(7, 18));
    versFirmware = 0;
    Tally(Rec(2, 12));                  // 0A 02 00 00, no version known yet
    versFirmware = 0x04010205;
    Tally(Rec(30, 10));                 // 08 1E 00 00
    Tally(Rec(5, 10).T3(3));            // 08 05 00 03
    Tally(Rec(7, 18).T3(1));            // 10 07 00 01
    EXPECT_EQ(tags.ctage, 8);

    std::string expected = std::string("Transient Record Stats\n======================\n\n") + szHeading +
        "02 00 00 0A     0.0.0 0       1       12\n"
        "05 00 03 08     4.1.2 5       1       10  XX05  \n"
        "06 00 00 40     4.1.2 5       1       66  DAY   Daily Status (stored in permanent section)\n"
        "07 00 00 10     4.1.2 5       2       36  IDLE  Status every 60 minutes when idle\n"
        "07 00 00 17     4.1.2 5       1       25  IDLE  Status every 60 minutes when idle\n"
        "07 00 01 10     4.1.2 5       1       18  IDLE  Status every 60 minutes when idle\n"
        "07 10 00 10     4.1.2 5       1       18  IDLE  Status every 60 minutes when idle\n"
        "1E 00 00 08     4.1.2 5       1       10\n"
        "\n";
    EXPECT_EQ(PrintedStats("Transient Record Stats"), expected);
}

TEST_F(TagStats, ThousandFirstTagIsNotCounted)
{
    unsigned char rec[10] = {0x03, 0x02, 8, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < ctageMax; i++) {
        rec[3] = (unsigned char)(i & 0xFF);
        rec[4] = (unsigned char)(i >> 8);
        TallyRecord(&tags, rec, 10, 0);
    }
    ASSERT_EQ(tags.ctage, ctageMax);
    rec[3] = 0;
    rec[4] = 0;
    rec[5] = 0x77;   // a new tag
    TallyRecord(&tags, rec, 10, 0);
    TallyRecord(&tags, rec, 10, 0);
    EXPECT_EQ(tags.ctage, ctageMax);
    for (int i = 0; i < tags.ctage; i++)
        EXPECT_NE(tags.rgtage[i].tag[3], 0x77) << i;

    rec[5] = 0;   // the very first tag goes on being counted
    TallyRecord(&tags, rec, 10, 0);
    EXPECT_EQ(tags.rgtage[0].crec, 2u);
    EXPECT_EQ(tags.rgtage[0].cbTotal, 20u);
}

TEST_F(TagStats, ComparisonNeverReturnsZero)
{
    TAGE rgtage[3] = {
        {{0x10, 7, 0, 0}, 0x04000000, 1, 18},
        {{0x10, 7, 0, 0}, 0x04000000, 5, 90},
        {{0x10, 7, 0, 0}, 0x03000000, 1, 18},
    };
    EXPECT_EQ(_CmpTags(0, 1, rgtage), 1);
    EXPECT_EQ(_CmpTags(1, 0, rgtage), 1);
    EXPECT_EQ(_CmpTags(0, 0, rgtage), 1);
    // The firmware version decides last.
    EXPECT_EQ(_CmpTags(2, 0, rgtage), -1);
    EXPECT_EQ(_CmpTags(0, 2, rgtage), 1);
}

}   // namespace
