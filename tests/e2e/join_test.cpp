// Joining downloads with -j: the preview, the merge's order and tie rules, skipped records, and the
// safety of the output file.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <tuple>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "merge/merge.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

constexpr uint32_t t0 = 1243857600;   // 06/01/2009 12:00:00 UTC
constexpr uint32_t tLongTerm = t0 - 86400;

// A long-term part (81 bytes: VINF 40 + DAY 41) followed by the given transient records.
LogBuilder Download(const std::vector<Rec>& transient)
{
    return DownloadBefore(t0, transient);
}

struct JoinTest : ::testing::Test {
    std::string dir = TempDir();
    std::string Path(const char* name) { return dir + "/" + name; }
};

TEST_F(JoinTest, OverlappingDownloadsAreMergedOnceInTimeOrder)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200)}).WriteFile(Path("a.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200), IdleRec(t0 + 10800)})
        .WriteFile(Path("b.log"));

    // b is named first but sorts after a, whose newest transient record is older.
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("b.log"), Path("a.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    std::string a = Path("a.log"), b = Path("b.log");
    EXPECT_EQ(r.out, "Analyze: " + b + "\nAnalyze: " + a + "\n\n"
                     "06/01/2009 12:00:00 - 06/01/2009 14:00:00 00000051 00000051 " + a + "\n"
                     "\tused 3 records, up to 06/01/2009 14:00:00\n"
                     "06/01/2009 12:00:00 - 06/01/2009 15:00:00 00000051 00000051 " + b + "\n"
                     "\tused 1 records, up to 06/01/2009 15:00:00\n" +
                     a + " started\n" + a + " finished\n" + b + " started\n" + b + " finished\n"
                     "4 records written to " + Path("out.log") + "\n");
    EXPECT_EQ(ReadBytes(Path("out.log")),
              Concat({VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200), IdleRec(t0 + 10800)}));
}

TEST_F(JoinTest, IdenticalDownloadsGiveEveryRecordOnceWithoutNotes)
{
    std::vector<Rec> transient{VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 7200)};
    Download(transient).WriteFile(Path("a.log"));
    Download(transient).WriteFile(Path("b.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("a.log"), Path("b.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string a = Path("a.log"), b = Path("b.log");
    EXPECT_NE(r.out.find("\tused 0 records, up to 06/01/2009 14:00:00\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("NOTE"), std::string::npos);
    // Twins are compared from the last input to the first, so b is used up first.
    EXPECT_NE(r.out.find(a + " started\n" + b + " finished\n" + a + " finished\n3 records written to "),
              std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(Path("out.log")), Concat(transient));
}

TEST_F(JoinTest, DisagreeingCopiesAreReportedAndTheFirstIsWritten)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 3600, 50)}).WriteFile(Path("a.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 3600, 51), IdleRec(t0 + 7200)}).WriteFile(Path("b.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("a.log"), Path("b.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t ich = r.out.find("NOTE: non-matching records\n" + Path("a.log") + ": 06/01/2009 13:00:00 | 1243861200 | IDLE |");
    EXPECT_NE(ich, std::string::npos) << r.out;
    EXPECT_NE(r.out.find(Path("b.log") + ": 06/01/2009 13:00:00 | 1243861200 | IDLE |", ich), std::string::npos);
    EXPECT_NE(r.out.find("--------------------------"), std::string::npos);
    EXPECT_EQ(ReadBytes(Path("out.log")),
              Concat({VinfRec(t0, false), IdleRec(t0 + 3600, 50), IdleRec(t0 + 7200)}));
}

TEST_F(JoinTest, RecordsOfOneSecondAreWrittenInTypeOrder)
{
    Download({VinfRec(t0, false), C30mRec(t0 + 60, 0, 50, 32)}).WriteFile(Path("a.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("b.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("a.log"), Path("b.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadBytes(Path("out.log")), Concat({VinfRec(t0, false), IdleRec(t0 + 60), C30mRec(t0 + 60, 0, 50, 32)}));
}

TEST_F(JoinTest, WrappedRingIsReadOnceAndRecordsBeforeTheFirstVehicleInfoAreDropped)
{
    // The transient part: VINF and one newer record, then the two oldest records of the ring.
    Download({VinfRec(t0 + 5000, false), IdleRec(t0 + 6000), IdleRec(t0 + 1000), IdleRec(t0 + 2000)})
        .WriteFile(Path("a.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("a.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    // ibOldest is the record at 0x51 + 40 + 25.
    EXPECT_NE(r.out.find("06/01/2009 12:16:40 - 06/01/2009 13:40:00 00000051 00000092 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 records written to"), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(Path("out.log")), Concat({VinfRec(t0 + 5000, false), IdleRec(t0 + 6000)}));
}

TEST_F(JoinTest, ImplausibleRecordsAreSkippedWithoutHoldingTheirInputBack)
{
    uint32_t t30 = tLongTerm + 2592000;
    Download({VinfRec(t0, false), IdleRec(0xFFFFFFFF), IdleRec(t0 + 60), IdleRec(t30), IdleRec(t30 - 86400)})
        .WriteFile(Path("a.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 120)}).WriteFile(Path("b.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("a.log"), Path("b.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Skip: " + Path("a.log") + " ------------------- |         -1 | IDLE | 03 02 17 07 00 00 FFFFFFFF |"),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Skip: " + Path("a.log") + " 06/30/2009 12:00:00 | 1246363200 | IDLE |"), std::string::npos);
    EXPECT_EQ(ReadBytes(Path("out.log")),
              Concat({VinfRec(t0, false), IdleRec(t0 + 60), IdleRec(t0 + 120), IdleRec(t30 - 86400)}));
}

TEST_F(JoinTest, SkipLinesOfInputsThatMovedTogetherComeInTableOrder)
{
    // Both inputs pass their copy of one record at once, then each meets an erased time. a holds
    // older records than b, so it comes first in the sorted table and its "Skip: " line first,
    // whatever the order on the command line.
    Download({VinfRec(t0, false), IdleRec(t0 + 60), IdleRec(0xFFFFFFFF), IdleRec(t0 + 120)}).WriteFile(Path("a.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 60), IdleRec(0xFFFFFFFF), IdleRec(t0 + 180)}).WriteFile(Path("b.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("b.log"), Path("a.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t ichA = r.out.find("Skip: " + Path("a.log"));
    size_t ichB = r.out.find("Skip: " + Path("b.log"));
    ASSERT_NE(ichA, std::string::npos) << r.out;
    ASSERT_NE(ichB, std::string::npos) << r.out;
    EXPECT_LT(ichA, ichB) << r.out;
}

// Idle records a minute apart from t0 + 60 * iFirst on, before iLim, with a state of charge of
// their minute's last two digits plus dSOC.
std::vector<Rec> Minutes(int iFirst, int iLim, int iStep = 1, int dSOC = 0)
{
    std::vector<Rec> recs;
    for (int i = iFirst; i < iLim; i += iStep)
        recs.push_back(IdleRec(t0 + 60 * (uint32_t)i, i % 100 + dSOC));
    return recs;
}

// The records of the lists one after another.
std::vector<Rec> Seq(std::initializer_list<std::vector<Rec>> rgrecs)
{
    std::vector<Rec> recs;
    for (auto const& recsPart : rgrecs)
        recs.insert(recs.end(), recsPart.begin(), recsPart.end());
    return recs;
}

// Copies of one long run of records: the merge passes over what they share in one go, and must
// stop exactly where the step-by-step merge would act: a copy that differs, another input's record
// in between, a record that only one copy skips, a gap in one copy's bytes, a copy that ends.
TEST_F(JoinTest, SharedRunsOfRecordsStopWhereTheMergeMustAct)
{
    std::vector<Rec> vinf{VinfRec(t0, false)};
    std::vector<Rec> quarterDays;   // every six hours for 40 days: beyond a's 30-day bound
    for (uint32_t i = 0; i < 160; i++)
        quarterDays.push_back(IdleRec(t0 + 21600 * i, (int)i % 100));
    Bytes cut = Download(Seq({vinf, Minutes(0, 300)})).Data();
    cut.resize(cut.size() - 5);
    LogBuilder gap = Download(Seq({vinf, Minutes(0, 100)}));
    gap.Garbage(37);
    for (auto const& rec : Minutes(100, 200))
        gap.Add(rec);

    struct CASE {
        const char* szName;
        std::vector<Bytes> rglog;          // a.log, b.log, ... in table order
        std::vector<Rec> recsJoined;
        int cnote;                         // NOTE blocks, each naming a.log and then the differing copy
        std::vector<int> rgcskip;          // "Skip: " lines per input
    } const rgcase[] = {
        {"each copy differs once",
         {Download(Seq({vinf, Minutes(0, 300)})).Data(),
          Download(Seq({vinf, Minutes(0, 150), Minutes(150, 151, 1, 7), Minutes(151, 301)})).Data(),
          Download(Seq({vinf, Minutes(0, 250), Minutes(250, 251, 1, 9), Minutes(251, 302)})).Data()},
         Seq({vinf, Minutes(0, 302)}), 2, {0, 0, 0}},
        {"another input's record between",
         {Download(Seq({vinf, Minutes(0, 200, 2)})).Data(), Download(Seq({vinf, Minutes(0, 204, 2)})).Data(),
          Download(Seq({vinf, Minutes(101, 102), Minutes(205, 206)})).Data()},
         Seq({vinf, Minutes(0, 101, 2), Minutes(101, 102), Minutes(102, 204, 2), Minutes(205, 206)}), 0,
         {0, 0, 0}},
        {"a record only one copy skips",
         {DownloadBefore(t0, Seq({vinf, quarterDays})).Data(),
          DownloadBefore(t0 + 12 * 86400, Seq({vinf, quarterDays, {IdleRec(t0 + 21600 * 160)}})).Data()},
         Seq({vinf, quarterDays, {IdleRec(t0 + 21600 * 160)}}), 0, {44, 0}},
        {"a gap in one copy",
         {gap.Data(), Download(Seq({vinf, Minutes(0, 201)})).Data()}, Seq({vinf, Minutes(0, 201)}), 0, {0, 0}},
        {"a copy cut short",
         {cut, Download(Seq({vinf, Minutes(0, 301)})).Data()}, Seq({vinf, Minutes(0, 301)}), 0, {0, 0}},
    };
    for (CASE const& c : rgcase) {
        SCOPED_TRACE(c.szName);
        std::string dirCase = TempDir();
        std::vector<std::string> rgpath;
        std::vector<std::string> args{"-j", dirCase + "/out.log"};
        for (size_t i = 0; i < c.rglog.size(); i++) {
            rgpath.push_back(dirCase + "/" + (char)('a' + i) + ".log");
            WriteBytes(rgpath.back(), c.rglog[i]);
            args.push_back(rgpath.back());
        }
        RunResult r = RunQuenfell(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadBytes(dirCase + "/out.log"), Concat(c.recsJoined));
        EXPECT_NE(r.out.find(std::to_string(c.recsJoined.size()) + " records written to "), std::string::npos) << r.out;
        size_t ich = 0;
        for (int inote = 0; inote < c.cnote; inote++) {
            ich = r.out.find("NOTE: non-matching records\n" + rgpath[0] + ": ", ich);
            ASSERT_NE(ich, std::string::npos) << r.out;
            ich = r.out.find("\n" + rgpath[(size_t)inote + 1] + ": ", ich);
            ASSERT_NE(ich, std::string::npos) << r.out;
        }
        EXPECT_EQ(r.out.find("NOTE", ich + 1), std::string::npos) << r.out;
        for (size_t i = 0; i < c.rglog.size(); i++) {
            int cskip = 0;
            for (size_t ichSkip = r.out.find("Skip: " + rgpath[i] + " "); ichSkip != std::string::npos;
                 ichSkip = r.out.find("Skip: " + rgpath[i] + " ", ichSkip + 1))
                cskip++;
            EXPECT_EQ(cskip, c.rgcskip[i]) << rgpath[i];
        }
    }
}

TEST_F(JoinTest, AJoinedLogWithoutLongTermPartCanBeJoinedAgain)
{
    std::vector<Rec> transient{VinfRec(t0, false), IdleRec(t0 + 3600), IdleRec(t0 + 90 * 86400)};
    LogBuilder joined;
    for (auto const& rec : transient)
        joined.Add(rec);
    joined.WriteFile(Path("joined.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("joined.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("Skip"), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(Path("out.log")), joined.Data());
}

TEST_F(JoinTest, InputWithoutTransientPartIsFinishedAtOnce)
{
    LogBuilder longTermOnly;
    longTermOnly.Add(VinfRec(t0 - 3 * 86400, true)).Add(DayRec(tLongTerm, 1000.0, 2700, 80));
    longTermOnly.WriteFile(Path("lt.log"));
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    RunResult r = RunQuenfell({"-j", Path("out.log"), Path("lt.log"), Path("a.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(Path("lt.log") + " finished\n" + Path("a.log") + " started\n"), std::string::npos) << r.out;
    EXPECT_EQ(ReadBytes(Path("out.log")), Concat({VinfRec(t0, false), IdleRec(t0 + 60)}));
}

TEST_F(JoinTest, JoinWithoutInputsCreatesNoFile)
{
    RunResult r = RunQuenfell({"-j", Path("out.log")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(Path("out.log")));
}

TEST_F(JoinTest, OutputThatIsAnInputIsRefusedAndLeftAlone)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    Bytes before = ReadBytes(Path("a.log"));
    std::filesystem::create_symlink(Path("a.log"), Path("link.log"));
    for (const char* out : {"a.log", "link.log"}) {
        RunResult r = RunQuenfell({"-j", Path(out), Path("a.log")});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "ERROR: output file '" + Path(out) + "' is also an input\n");
        EXPECT_EQ(ReadBytes(Path("a.log")), before);
    }
}

TEST_F(JoinTest, FailedWriteLeavesNoPartialLog)
{
    LogBuilder log;
    log.Add(VinfRec(t0 - 3 * 86400, true)).Add(DayRec(tLongTerm, 1000.0, 2700, 80)).Add(VinfRec(t0, false));
    for (int i = 1; i <= 400; i++)
        log.Add(IdleRec(t0 + 60 * (uint32_t)i));
    log.WriteFile(Path("a.log"));
    WriteText(Path("out.log"), "the old joined log\n");
    // A file size limit of 2 KiB makes the writes fail with EFBIG; the signal is ignored.
    RunResult r = RunProgram({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" -j \"$1\" \"$2\"", QF_BINARY,
                              Path("out.log"), Path("a.log")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ERROR: can't write file '" + Path("out.log") + "'. File too large.\n");
    EXPECT_EQ(ReadText(Path("out.log")), "the old joined log\n");
    int cfiles = 0;
    for (auto const& entry : std::filesystem::directory_iterator(dir)) {
        (void)entry;
        cfiles++;
    }
    EXPECT_EQ(cfiles, 2);   // a.log and out.log, no temporary file left
}

TEST_F(JoinTest, UnwritableOutputFolderIsAFatalError)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    std::string out = Path("missing") + "/out.log";
    RunResult r = RunQuenfell({"-j", out, Path("a.log")});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "ERROR: can't open file '" + out + "' for writing. No such file or directory.\n");
}

TEST_F(JoinTest, NewFileGetsTheUsualPermissions)
{
    Download({VinfRec(t0, false), IdleRec(t0 + 60)}).WriteFile(Path("a.log"));
    RunResult r = RunProgram({"/bin/sh", "-c", "umask 022; exec \"$0\" -j \"$1\" \"$2\"", QF_BINARY, Path("out.log"),
                              Path("a.log")});
    ASSERT_EQ(r.status, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat(Path("out.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// The start time and kind of every drive and charge line of a default report.
std::set<std::string> SessionKeys(const std::string& report)
{
    std::set<std::string> keys;
    std::istringstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        size_t ich = line.find(") Drive ");
        if (ich == std::string::npos)
            ich = line.find(") Charge ");
        if (ich != std::string::npos && line.size() > 19)
            keys.insert(line.substr(0, 19) + line.substr(ich, 8));
    }
    return keys;
}

TEST_F(JoinTest, JoinedLogReportsEverySessionOfItsDownloads)
{
    // Two downloads of one car's history: the older ring has not wrapped yet, the newer one has
    // wrapped several times and overlaps it by a day.
    std::string genlog = PathGenlog();
    for (auto const& [name, stop, ring] : {std::tuple{"a.log", "2009-06-05 08:00", "4M"},
                                           std::tuple{"b.log", "2009-06-08 08:00", "256K"}}) {
        RunResult g = RunProgram({genlog, "--seed", "4", "--days", "20", "--end", "2009-06-10 08:00", "--stop", stop,
                                  "--ring", ring, "--out", Path(name)});
        ASSERT_EQ(g.status, 0) << g.err;
    }
    RunResult j = RunQuenfell({"-j", Path("all.log"), Path("a.log"), Path("b.log")});
    ASSERT_EQ(j.status, 0) << j.err;

    std::set<std::string> keysA = SessionKeys(RunQuenfell({Path("a.log")}).out);
    std::set<std::string> keysB = SessionKeys(RunQuenfell({Path("b.log")}).out);
    std::set<std::string> keysAll = SessionKeys(RunQuenfell({Path("all.log")}).out);
    ASSERT_GT(keysA.size(), 20u);
    ASSERT_GT(keysB.size(), 5u);
    for (auto const* pkeys : {&keysA, &keysB})
        for (auto const& key : *pkeys)
            EXPECT_TRUE(keysAll.count(key)) << key;
    // The newest session of a (cut by its download) is one session of the joined log, not two.
    std::set<std::string> keysUnion = keysA;
    keysUnion.insert(keysB.begin(), keysB.end());
    EXPECT_EQ(keysAll.size(), keysUnion.size());
}

} // namespace

// The preview passes over the blocks of an input that cannot change what it shows: its rows are those
// of the preview that walks every record, for downloads that overlap, wrap, run back in time, carry
// erased and pre-2001 times and garbage, and reach past the preview's window.
TEST_F(JoinTest, PreviewPassingOverBlocksShowsWhatWalkingEveryRecordShows)
{
    std::vector<std::string> rgpath;
    for (int k = 0; k < 5; k++) {
        uint32_t const timestampStart = t0 + (uint32_t)k * 5 * 86400;
        std::vector<Rec> rgrec = {VinfRec(timestampStart, false)};
        int const crec = 60000;
        int const irecWrap = 17000 + 5000 * k;   // the ring's oldest record
        for (int i = 0; i < crec; i++) {
            int j = (i + irecWrap) % crec;     // the ring's order from its oldest record
            uint32_t ts = timestampStart + 30u * (uint32_t)j;
            if (j % 9973 == 5)
                ts = 0xFFFFFFFF;
            else if (j % 7919 == 3)
                ts = 900000000u;               // before 2001
            else if (j == 41234 || (j >= 52000 && j < 57000))
                ts -= 43200;                   // time running back, once for a stretch of blocks
            rgrec.push_back(IdleRec(ts));
        }
        // The long-term part's newest time sets the preview's window: the last downloads reach past it.
        LogBuilder log = DownloadBefore(t0 + (k < 3 ? 40u : 12u) * 86400, {});
        for (size_t i = 0; i < rgrec.size(); i++) {
            if (i % 12345 == 7)
                log.Garbage(3);
            log.Add(rgrec[i]);
        }
        char szName[24];
        snprintf(szName, sizeof szName, "p%d.log", k);
        rgpath.push_back(Path(szName));
        log.WriteFile(rgpath.back());
    }
    auto preview = [&](bool fBlocks) {
        JOINTABLE join;
        EXPECT_TRUE(FReserveJoinTable(&join, (int)rgpath.size()));
        for (std::string const& path : rgpath) {
            STREAM* pstream = new STREAM();
            EXPECT_TRUE(pstream->FOpenFile(path.c_str()));
            AddJoinInput(&join, path.c_str(), pstream);
        }
        EXPECT_TRUE(FGatherLogStats(join.rgin, join.cin, 1));
        for (int i = 0; i < join.cin && !fBlocks; i++)
            for (PBLOCK& block : join.rgin[i].lstat.rgpblock)
                block.ibFirst = -1;
        SortJoinInputs(join.rgin, join.cin);
        std::vector<std::tuple<std::string, uint32_t, uint32_t, int64_t, int64_t, int, uint32_t>> rgrow;
        auto take = [](void* pv, PREVIEWROW const* prow) {
            ((decltype(rgrow)*)pv)->emplace_back(prow->pszName, prow->timestampMin, prow->timestampMax, prow->ibStart,
                                                 prow->ibOldest, prow->cused, prow->timestampHigh);
        };
        EXPECT_TRUE(FPreviewSortedJoin(join.rgin, join.cin, take, &rgrow));
        return rgrow;
    };
    auto rgrowWalked = preview(false);
    ASSERT_EQ(rgrowWalked.size(), rgpath.size());
    EXPECT_EQ(preview(true), rgrowWalked);
    // The first input in the table reaches past its window with all of its transient part; the
    // others each add records of their own.
    EXPECT_EQ(std::get<2>(rgrowWalked[0]), 0u);
    for (size_t i = 1; i < rgrowWalked.size(); i++)
        EXPECT_GT(std::get<5>(rgrowWalked[i]), 0) << i;
}
