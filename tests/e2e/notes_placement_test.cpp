// The user's notes in their places: among listed records (with and without the offset column) and
// between the lines of the session summary.
#include <gtest/gtest.h>

#include <sstream>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

constexpr uint32_t t0 = 1243857600;   // 06/01/2009 12:00:00 UTC

struct NotesPlacementTest : ::testing::Test {
    std::string dir = TempDir();
    std::string log = dir + "/vms_log";
    std::string notes = dir + "/notes.txt";

    void SetUp() override
    {
        LogBuilder b;
        b.Add(VinfRec(t0 - 3 * 86400, true)).Add(DayRec(t0 - 86400, 1000.0, 2700, 80));
        b.Add(VinfRec(t0, false)).Add(IdleRec(t0 + 3600, 80));
        for (uint32_t s = 10; s < 70; s++)
            b.Add(Dr1sRec(t0 + 3600 + s, 30.0, 20.0));
        b.Add(IdleRec(t0 + 7200, 78));
        b.WriteFile(log);
        // The 13:30 note stands after a later one: it is shown only once the window passes 14:00.
        // The 12:45 note stands after one dated past the log, so no window ever reaches it.
        WriteText(notes, "06/01/2009 12:30:00\thalf past\n"
                         "06/01/2009 13:00:00\tat the first idle\n"
                         "\n"
                         "06/01/2009 14:00:00\tat the second idle\n"
                         "06/01/2009 13:30:00\tout of order\n"
                         "06/01/2009 15:00:00\tafter the log\n"
                         "06/01/2009 12:45:00\tnever reached\n");
    }
};

// The lines that hold a note, an IDLE record or a session, in order.
std::vector<std::string> Lines(const std::string& out, std::initializer_list<const char*> rgszKeep)
{
    std::vector<std::string> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line))
        for (const char* sz : rgszKeep)
            if (line.find(sz) != std::string::npos) {
                lines.push_back(line);
                break;
            }
    return lines;
}

TEST_F(NotesPlacementTest, NotesStandBeforeTheFirstListedRecordAtOrAfterThem)
{
    RunResult r = RunQuenfell({"-n", notes, "-r", "IDLE", log});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> expected{
        "06/01/2009 12:30:00  (NOTE)  half past",
        "06/01/2009 13:00:00  (NOTE)  at the first idle",
        "06/01/2009 13:00:00 | 1243861200 | IDLE |",
        "06/01/2009 14:00:00  (NOTE)  at the second idle",
        "06/01/2009 13:30:00  (NOTE)  out of order",
        "06/01/2009 14:00:00 | 1243864800 | IDLE |",
    };
    std::vector<std::string> got = Lines(r.out, {"(NOTE)", "| IDLE |"});
    ASSERT_EQ(got.size(), expected.size()) << r.out;
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(got[i].substr(0, expected[i].size()), expected[i]);
}

TEST_F(NotesPlacementTest, NotesAreIndentedPastTheOffsetColumn)
{
    RunResult r = RunQuenfell({"-v", "-n", notes, "-r", "IDLE", log});
    ASSERT_EQ(r.status, 0) << r.err;
    // The first IDLE record follows the long-term part (81 bytes) and the transient VINF (40).
    std::vector<std::string> expected{
        "            06/01/2009 12:30:00  (NOTE)  half past",
        "            06/01/2009 13:00:00  (NOTE)  at the first idle",
        "0x00000079: 06/01/2009 13:00:00 | 1243861200 | IDLE |",
        "            06/01/2009 14:00:00  (NOTE)  at the second idle",
        "            06/01/2009 13:30:00  (NOTE)  out of order",
    };
    std::vector<std::string> got = Lines(r.out, {"(NOTE)", "| IDLE |"});
    ASSERT_EQ(got.size(), expected.size() + 1) << r.out;
    for (size_t i = 0; i < expected.size(); i++)
        EXPECT_EQ(got[i].substr(0, expected[i].size()), expected[i]);
}

TEST_F(NotesPlacementTest, NotesAreShownBetweenSummaryLinesAsTheWalkPassesThem)
{
    RunResult r = RunQuenfell({"-n", notes, log});
    ASSERT_EQ(r.status, 0) << r.err;
    // The drive is closed by the second IDLE record, whose notes come first.
    std::vector<std::string> got = Lines(r.out, {"(NOTE)", ") Drive ", "Transient section:"});
    ASSERT_EQ(got.size(), 6u) << r.out;
    EXPECT_EQ(got[0], "06/01/2009 12:30:00  (NOTE)  half past");
    EXPECT_EQ(got[1], "06/01/2009 13:00:00  (NOTE)  at the first idle");
    EXPECT_EQ(got[2], "06/01/2009 14:00:00  (NOTE)  at the second idle");
    EXPECT_EQ(got[3], "06/01/2009 13:30:00  (NOTE)  out of order");
    EXPECT_EQ(got[4].substr(0, 53), "06/01/2009 13:00:10 - 06/01/2009 13:01:09 (00:00:59) ");
    EXPECT_NE(got[5].find(" Transient section: "), std::string::npos);
}

TEST_F(NotesPlacementTest, NotesOfSeveralFilesAddUp)
{
    std::string more = dir + "/more.txt";
    WriteText(more, "06/01/2009 13:00:00\tsecond file\n");
    RunResult r = RunQuenfell({"-n", notes, "-n", more, "-r", "IDLE", log});
    ASSERT_EQ(r.status, 0) << r.err;
    // The second file's note stands after the first file's 15:00 note: never reached either.
    EXPECT_EQ(r.out.find("second file"), std::string::npos);
    RunResult r2 = RunQuenfell({"-n", more, "-n", notes, "-r", "IDLE", log});
    std::vector<std::string> got = Lines(r2.out, {"(NOTE)"});
    ASSERT_GE(got.size(), 1u) << r2.out;
    EXPECT_EQ(got[0], "06/01/2009 13:00:00  (NOTE)  second file");
}

} // namespace
