// The annotation notes: loading "date<TAB>text" files (pieces of long lines, CR, NUL bytes, the
// limit over several files, every failure's message) and printing the notes of a time window.
#include <gtest/gtest.h>

#include <string>

#include "report/notes.h"
#include "testsupport/logbuilder.h"
#include "support/timecal.h"

namespace {

// Worked out by hand, UTC.
constexpr unsigned int ts0102 = 1262390400;       // 01/02/2010 00:00:00
constexpr unsigned int ts0102_1234 = 1262435696;  // 01/02/2010 12:34:56
constexpr unsigned int ts0102_1300 = 1262437200;  // 01/02/2010 13:00:00
constexpr unsigned int ts0103 = 1262476800;       // 01/03/2010 00:00:00

class NotesTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FSetZones("UTC"));
        dir = TempDir();
    }

    // Loads the file; "" when it loaded, else why it did not.
    std::string Load(const std::string& path)
    {
        FAILURE fail;
        return FLoadAnnotationsFile(&notes, path.c_str(), &fail) ? "" : fail.sz;
    }

    std::string Write(const std::string& name, const std::string& text)
    {
        std::string path = dir + "/" + name;
        WriteText(path, text);
        return path;
    }
    std::string Print(unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
    {
        testing::internal::CaptureStdout();
        PrintNotes(&notes, timestampPrev, timestampCur, cchIndent);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }

    NOTES notes;   // every test starts with none
    std::string dir;
};

TEST_F(NotesTest, NothingLoadedPrintsNothing)
{
    EXPECT_EQ(Print(0, 0xFFFFFFFF, 0), "");
}

TEST_F(NotesTest, WindowIsAfterPrevUpToAndIncludingCur)
{
    Load(Write("n.txt", "01/02/2010 12:34:56\taccelerator to the floor\n"
                                       "\n"
                                       "01/02/2010 13:00:00\tsecond\tpart\n"));
    const std::string line1 = "01/02/2010 12:34:56  (NOTE)  accelerator to the floor\n";
    const std::string line2 = "01/02/2010 13:00:00  (NOTE)  second\tpart\n";
    struct {
        unsigned int prev, cur;
        int indent;
        std::string out;
    } const rgcase[] = {
        {ts0102_1234 - 1, ts0102_1234, 0, line1},   // a note at cur is printed
        {ts0102_1234, ts0102_1300 - 1, 0, ""},      // one at prev is not
        {ts0102_1234, ts0102_1300, 4, "    " + line2},
        {0, 0xFFFFFFFF, 2, "  " + line1 + "  " + line2},
        {0, ts0102_1234 - 1, 0, ""},
        {ts0102_1300, 0xFFFFFFFF, 0, ""},
    };
    for (auto const& c : rgcase) {
            EXPECT_EQ(Print(c.prev, c.cur, c.indent), c.out) << c.prev << ".." << c.cur;
    }
}

TEST_F(NotesTest, DescendingNotesStopAtTheFirstLaterOne)
{
    Load(Write("n.txt", "01/03/2010\tlater\n01/02/2010\tearlier\n"));
    // The window reaches 01/02 only: the walk stops at the 01/03 note standing first.
    EXPECT_EQ(Print(0, ts0102 + 3600, 0), "");
    EXPECT_EQ(Print(0, ts0103, 0),
              "01/03/2010 00:00:00  (NOTE)  later\n01/02/2010 00:00:00  (NOTE)  earlier\n");
}

TEST_F(NotesTest, LineShapes)
{
    // Date alone is midnight; empty text; CR kept; no final newline; a NUL ends the text early.
    std::string text = "01/02/2010\t\n";
    text += "01/02/2010 12:34:56\tcrlf\r\n";
    text += std::string("01/02/2010 13:00:00\tab\0cd\n", 26);
    text += "01/03/2010 00:00:00\tlast";
    Load(Write("n.txt", text));
    EXPECT_EQ(Print(0, 0xFFFFFFFF, 0), "01/02/2010 00:00:00  (NOTE)  \n"
                                           "01/02/2010 12:34:56  (NOTE)  crlf\r\n"
                                           "01/02/2010 13:00:00  (NOTE)  ab\n"
                                           "01/03/2010 00:00:00  (NOTE)  last\n");
}

TEST_F(NotesTest, LongLinesArriveInPiecesOf1023)
{
    // The first piece fills the buffer (1023 characters); the second starts with a date of its own.
    std::string head = "01/02/2010 12:34:56\t";
    std::string piece1 = head + std::string(1023 - head.size(), 'x');
    Load(Write("n.txt", piece1 + "01/03/2010 00:00:00\tsecond piece\n"));
    EXPECT_EQ(Print(0, 0xFFFFFFFF, 0), "01/02/2010 12:34:56  (NOTE)  " + std::string(1023 - head.size(), 'x') +
                                               "\n01/03/2010 00:00:00  (NOTE)  second piece\n");
}

TEST_F(NotesTest, MultipleFilesAccumulateUpTo1000)
{
    std::string a, b;
    for (int i = 0; i < 600; i++)
        a += "01/02/2010\ta\n";
    for (int i = 0; i < 400; i++)
        b += "01/03/2010\tb\n";
    Load(Write("a.txt", a));
    Load(Write("b.txt", b));
    std::string out = Print(ts0102, ts0103, 0);
    EXPECT_EQ(out.size(), 400 * std::string("01/03/2010 00:00:00  (NOTE)  b\n").size());
}

TEST_F(NotesTest, FailuresNameFileAndLine)
{
    std::string pathMissing = dir + "/missing.txt";
    EXPECT_EQ(Load(pathMissing), "can't open annotation file: '" + pathMissing + "' No such file or directory.\n");
    EXPECT_EQ(Load(dir), "can't open annotation file: '" + dir + "' Is a directory.\n");

    // Line numbers count empty lines and pieces of long lines.
    struct {
        std::string text;
        std::string message;   // after "'path"
    } const rgcase[] = {
        {"01/02/2010 12:00:00\tok\n\nno tab here\n", "(3)' missing tab between date and note\n"},
        {"01/02/2010 12:34\tminutes without seconds\n", "(1)' invalid date string: 01/02/2010 12:34\n"},
        {"\n\nnot a date\tx\n", "(3)' invalid date string: not a date\n"},
        {"01/02/2010\t" + std::string(1100, 'x') + "\n", "(2)' missing tab between date and note\n"},
        // 1023 characters and the line feed: the line feed alone is the second piece (empty).
        {"01/02/2010\t" + std::string(1012, 'x') + "\nbad\n", "(3)' missing tab between date and note\n"},
    };
    for (auto const& c : rgcase) {
        std::string path = Write("bad.txt", c.text);
        // Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal + string chain here.
        std::string expected = "'";
        expected += path;
        expected += c.message;
        EXPECT_EQ(Load(path), expected);
    }
}

TEST_F(NotesTest, The1001stNoteOverTwoFilesIsRefused)
{
    std::string a, b;
    for (int i = 0; i < 600; i++)
        a += "01/02/2010\ta\n";
    b.push_back('\n');   // an assignment from a literal here draws a false -Wrestrict from GCC 12
    for (int i = 0; i < 401; i++)
        b += "01/03/2010\tb\n";
    std::string pathA = Write("a.txt", a), pathB = Write("b.txt", b);
    EXPECT_EQ(Load(pathA), "");
    EXPECT_EQ(Load(pathB), "'" + pathB + "(402)' too many notes in annotation file!\n");
}

}   // namespace
