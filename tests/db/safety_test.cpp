// quenfell-db when things go wrong: a run killed in the middle of a download, two runs on one file
// at once, files that are not a history database, a full disk, a read-only file, and damaged or
// hostile downloads. The database is as it was before the download that failed, whole.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "db/schema.h"
#include "dbtest.h"
#include "testsupport/logbuilder.h"

namespace {

// A database holding the first three downloads, and what it holds.
struct HELD {
    std::string strDb;
    std::string strDump;
    std::string strJoined;
};

HELD HeldFirstThree()
{
    CARSET const& set = Downloads();
    HELD held;
    held.strDb = TempDir() + "/car.db";
    RunResult r = RunDb({held.strDb, set.rgstrPath[0], set.rgstrPath[1], set.rgstrPath[2]});
    EXPECT_EQ(r.status, 0) << r.err;
    held.strDump = StrDump(held.strDb);
    held.strJoined = JoinedFromDb(held.strDb);
    return held;
}

void ExpectAsItWas(HELD const& held, char const* szCase)
{
    EXPECT_EQ(StrQuery(held.strDb, "PRAGMA integrity_check"), "ok") << szCase;
    EXPECT_TRUE(StrDump(held.strDb) == held.strDump) << szCase;
    EXPECT_TRUE(JoinedFromDb(held.strDb) == held.strJoined) << szCase;
}

// Killed with SIGKILL once its records are written but not committed, or while the decoded tables
// are brought up to date: nothing of that download remains, and the next run adds it whole.
TEST(Safety, KilledWhileAddingLeavesTheDatabaseAsItWas)
{
    CARSET const& set = Downloads();
    for (char const* szStep : {"deriving", "writing"}) {
        HELD held = HeldFirstThree();
        CHILD child;
        StartDb(&child, {held.strDb, set.rgstrPath[3]}, {std::string("QUENFELL_DB_STOP_AT=") + szStep});
        ASSERT_TRUE(FWaitForText(&child, (std::string("quenfell-db: stopped at ") + szStep + "\n").c_str()))
            << child.strErr;
        kill(child.pid, SIGKILL);
        EXPECT_EQ(WaitForEnd(&child), 128 + SIGKILL);
        ExpectAsItWas(held, szStep);

        RunResult r = RunDb({held.strDb, set.rgstrPath[3], set.rgstrPath[4], set.rgstrPath[5]});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(JoinedFromDb(held.strDb) == set.strJoined) << szStep;
    }
}

// The second run waits for the first one's transaction and then adds its own download.
TEST(Safety, TwoWritersBothFinish)
{
    CARSET const& set = Downloads();
    HELD held = HeldFirstThree();
    CHILD first, second;
    StartDb(&first, {held.strDb, set.rgstrPath[3]}, {"QUENFELL_DB_STOP_AT=writing"});
    ASSERT_TRUE(FWaitForText(&first, "quenfell-db: stopped at writing\n")) << first.strErr;
    StartDb(&second, {held.strDb, set.rgstrPath[5], set.rgstrPath[4]});
    ASSERT_TRUE(FWaitForText(&second, "quenfell-db: another run is changing the database; waiting for it to finish\n"))
        << second.strErr;
    kill(first.pid, SIGCONT);
    EXPECT_EQ(WaitForEnd(&first), 0) << first.strErr;
    EXPECT_EQ(WaitForEnd(&second), 0) << second.strErr;
    EXPECT_TRUE(JoinedFromDb(held.strDb) == set.strJoined);
    EXPECT_EQ(StrQuery(held.strDb, "SELECT count(*) FROM downloads"), "6");
}

// Anything that is not a history database of a version this build knows is refused, byte for
// byte untouched, with the reason.
TEST(Safety, ForeignFilesAreRefusedUntouched)
{
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    struct CASE {
        char const* szName;
        std::string strPath;
        std::string strWhy;
    };
    std::string strText = strDir + "/notes.txt";
    WriteText(strText, "01/02/2010 12:34:56\taccelerator to the floor\n");
    std::string strOther = strDir + "/other.db";
    {
        sqlite3* pdb = nullptr;
        sqlite3_open(strOther.c_str(), &pdb);
        sqlite3_exec(pdb, "CREATE TABLE photos (name TEXT); INSERT INTO photos VALUES ('car.jpg')", nullptr, nullptr, nullptr);
        sqlite3_close(pdb);
    }
    std::string strNewer = strDir + "/newer.db";
    {
        RunResult r = RunDb({strNewer, set.rgstrPath[0]});
        ASSERT_EQ(r.status, 0) << r.err;
        sqlite3* pdb = nullptr;
        sqlite3_open(strNewer.c_str(), &pdb);
        sqlite3_exec(pdb, ("PRAGMA user_version = " + std::to_string(versSchema + 1)).c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(pdb);
    }
    CASE const rgcase[] = {
        {"text", strText, "is not a Quenfell history database (it is no SQLite database); it is left as it is"},
        {"another program's", strOther,
         "is not a Quenfell history database (an SQLite database of another program); it is left as it is"},
        {"newer", strNewer,
         "was written by a newer Quenfell (database version " + std::to_string(versSchema + 1) +
             "; this one knows versions up to " + std::to_string(versSchema) + "); it is left as it is"},
    };
    for (CASE const& c : rgcase) {
        std::string strBefore = ReadText(c.strPath);
        for (bool fAdd : {true, false}) {
            std::vector<std::string> args{c.strPath};
            if (fAdd)
                args.push_back(set.rgstrPath[1]);
            RunResult r = RunDb(args);
            EXPECT_EQ(r.status, 1) << c.szName;
            EXPECT_EQ(r.err, "quenfell-db: '" + c.strPath + "' " + c.strWhy + "\n") << c.szName;
            EXPECT_TRUE(ReadText(c.strPath) == strBefore) << c.szName;
        }
    }
    RunResult r = RunDb({strDir, set.rgstrPath[1]});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "quenfell-db: '" + strDir + "' is not a regular file\n");
}

// A disk that fills (here: the largest file the run may write, which the download's changes do
// not fit in) ends the download with a message that says so, and so does a file that may only be
// read; the database is as before.
TEST(Safety, FullDiskAndReadOnlyFileLeaveTheDatabaseAsItWas)
{
    CARSET const& set = Downloads();
    HELD held = HeldFirstThree();
    CHILD child;
    StartDb(&child, {held.strDb, set.rgstrPath[3]}, {}, 256 * 1024);
    EXPECT_EQ(WaitForEnd(&child), 1);
    EXPECT_EQ(child.strErr, "quenfell-db: '" + set.rgstrPath[3] +
                                "' not added (can't change the database: the disk refused to write (it may be full, or "
                                "the file may grow no larger)); '" + held.strDb + "' is as it was before it\n");
    ExpectAsItWas(held, "full disk");

    chmod(held.strDb.c_str(), 0444);
    CHILD childReadOnly;
    StartDb(&childReadOnly, {held.strDb, set.rgstrPath[3]}, {}, 0, true);
    EXPECT_EQ(WaitForEnd(&childReadOnly), 1);
    EXPECT_EQ(childReadOnly.strErr, "quenfell-db: can't change '" + held.strDb + "': Permission denied\n");
    ExpectAsItWas(held, "read-only");
}

// Damaged downloads add what can be read and say what was skipped; one that cannot be read at all
// is named and the others are still added.
TEST(Safety, DamagedDownloadsAddWhatCanBeRead)
{
    CARSET const& set = Downloads();
    std::string strDir = TempDir();
    std::string strLog = ReadText(set.rgstrPath[1]);
    std::string strCut = strDir + "/cut.log";
    WriteText(strCut, strLog.substr(0, strLog.size() * 2 / 3));
    std::string strNoise = strDir + "/noise.log";
    std::string strNoisy;
    for (size_t i = 0; i < strLog.size(); i += 4096)
        strNoisy += strLog.substr(i, 4000) + std::string(96, '\x03');
    WriteText(strNoise, strNoisy);
    // A record dated in erased flash, which the join passes over.
    uint32_t const t0 = 1264982400;   // 02/01/2010 00:00:00 UTC
    std::string strErased = strDir + "/erased.log";
    DownloadBefore(t0, {VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(0xFFFFFFFFu), IdleRec(t0 + 7200)})
        .WriteFile(strErased);
    std::string strNoTar = strDir + "/201002010800.tar";
    WriteText(strNoTar, std::string(10240, '\0'));

    std::string strDb = strDir + "/car.db";
    RunResult r = RunDb({strDb, strCut, strNoise, strNoTar, set.rgstrPath[0]});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(strCut + ": 01/26/2010 15:20:42 to 02/0"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(strNoise + ": 01/26/2010 15:20:42 to 02/05/2010 07:15:28, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("quenfell-db: could not find vms_log in '" + strNoTar + "'\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(set.rgstrPath[0] + ": 01/20/2010"), std::string::npos) << r.err;
    EXPECT_EQ(StrQuery(strDb, "SELECT count(*) FROM downloads"), "3");
    EXPECT_EQ(StrQuery(strDb, "PRAGMA integrity_check"), "ok");

    std::string strDbOther = strDir + "/other.db";
    r = RunDb({strDbOther, strErased});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, strErased + ": 02/01/2010 00:00:00 to 02/01/2010 02:00:00, 5 records: 5 new, 0 already held, "
                                 "1 skipped (bad or implausible times)\n");
}

}  // namespace
