// Shared set-up for the log analysis tests.
#include "logfixture.h"

#include <algorithm>

#include "analysis/decoder.h"
#include "input/stream.h"
#include "records/listing.h"
#include "records/record.h"
#include "records/scanner.h"
#include "report/report.h"
#include "support/timecal.h"
#include "summary_harness.h"

namespace {

// Opens the log at path into *pstream and runs the section scan into the run's layout; returns
// what the report printed of it.
std::string OpenAndLayout(std::string const& path, STREAM* pstream, RUN* prun, int fPrintContents, int grfDisplay)
{
    EXPECT_TRUE(pstream->FOpenFile(path.c_str()));
    REPORTER reporter{};
    CONSUMER cons = grfDisplay & grfdispStudy ? ConsumerOfStudyReport(&reporter) : ConsumerOfReport(&reporter);
    testing::internal::CaptureStdout();
    BuildLogLayout(&prun->scan, prun->timestampLastValid, pstream, &cons, &prun->layout);
    if (fPrintContents)
        PrintLogContents(&prun->layout);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

MODE ModeOf(DECODEOPT const& d)
{
    if (d.grfDisplay & grfdispStudy)
        return modeStudy;
    if (d.fChargeDetail)
        return modeDetail;
    return d.fSummary ? modeSummary : modeListing;
}

}   // namespace

std::unique_ptr<RUN> LogTest::NewRun()
{
    auto prun = std::make_unique<RUN>();
    InitRun(prun.get());
    return prun;
}

void LogTest::SetUp()
{
    ASSERT_TRUE(FSetZones("UTC"));
    prun->timestampLastValid = 1300000000u;   // 03/13/2011, after every date the tests use
}

std::string LogTest::WriteLog(Bytes const& log)
{
    std::string path = TempDir() + "/vms_log";
    WriteBytes(path, log);
    return path;
}

std::string LogTest::Decode(Bytes const& log, DECODEOPT const& d)
{
    std::string path = WriteLog(log);
    STREAM stream;
    EXPECT_TRUE(stream.FOpenFile(path.c_str()));
    REPORTER reporter{(d.grfDisplay & fdispTab) != 0, (d.grfDisplay & fdispMetric) != 0, nullptr, 0, 0, nullptr};
    DECODE decode;
    decode.mode = ModeOf(d);
    CONSUMER cons = decode.mode == modeStudy ? ConsumerOfStudyReport(&reporter) : ConsumerOfReport(&reporter);
    cons.pfnNotes = pfnNotes;
    decode.fVerbose = d.fVerbose;
    decode.fPermanent = d.fPermanent;
    decode.grfRt = d.grfRt;
    decode.timestampStart = d.timestampStart;
    decode.timestampEnd = d.timestampEnd;
    decode.pszPath = path.c_str();
    decode.pcons = &cons;
    testing::internal::CaptureStdout();
    DecodeVmsFile(prun.get(), &stream, decode);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string LogTest::Layout(Bytes const& log, int fPrintContents, int grfDisplay)
{
    STREAM stream;
    return OpenAndLayout(WriteLog(log), &stream, prun.get(), fPrintContents, grfDisplay);
}

std::vector<long> LogTest::RingOffsets(Bytes const& log)
{
    STREAM stream;
    OpenAndLayout(WriteLog(log), &stream, prun.get(), 0, 0);
    std::vector<long> rgpos;
    RINGWALK walk;
    BeginLogRingWalk(&layout, &walk);
    long pos;
    int cb;
    while (FNextRingRecord(&stream, &walk, &pos, &cb))
        rgpos.push_back(pos);
    EXPECT_EQ(FNextRingRecord(&stream, &walk, &pos, &cb), 0);
    return rgpos;
}

std::vector<long> LogTest::LongTermOffsets(Bytes const& log)
{
    STREAM stream;
    OpenAndLayout(WriteLog(log), &stream, prun.get(), 0, 0);
    std::vector<long> rgpos;
    LINEARWALK walk;
    BeginLinearWalk(0, IbEndLongTerm(&layout), &walk);
    long pos;
    int cb;
    while (FNextLinearRecord(&stream, &walk, &pos, &cb))
        rgpos.push_back(pos);
    return rgpos;
}

void LogTest::ExpectTrustedWalksSearchAlike(Bytes const& log)
{
    STREAM stream;
    OpenAndLayout(WriteLog(log), &stream, prun.get(), 0, 0);
    typedef std::vector<std::pair<long, int>> VISITS;
    long pos;
    int cb;

    RINGWALK walkTrusted, walkSearching;
    BeginLogRingWalk(&layout, &walkTrusted);
    walkSearching = walkTrusted;
    walkSearching.playout = nullptr;
    VISITS rgTrusted, rgSearching;
    while (FNextRingRecord(&stream, &walkTrusted, &pos, &cb))
        rgTrusted.push_back({pos, cb});
    while (FNextRingRecord(&stream, &walkSearching, &pos, &cb))
        rgSearching.push_back({pos, cb});
    EXPECT_EQ(rgTrusted, rgSearching) << "ring walk";

    // The ring's records of some types, taken from what the scan noted of them, and a ring walk
    // that goes on after any of them: the records the searching walk visits, up to there only
    // those of the types.
    auto pindex = std::make_unique<RECORDINDEX>();
    auto playoutIndexed = std::make_unique<LOGLAYOUT>();
    for (uint32_t grfRt : {1u << rtVINF, 1u << rtVINF | 1u << 4, grfRtAll}) {
        SCOPED_TRACE("types " + std::to_string(grfRt));
        pindex->grfRt = grfRt;
        BuildLogLayout(&prun->scan, prun->timestampLastValid, &stream, nullptr, playoutIndexed.get(), pindex.get());
        VISITS rgExpected;
        for (auto const& visit : rgSearching)
            if ((grfRt >> (log[(size_t)visit.first + 3] % 32)) & 1)
                rgExpected.push_back(visit);
        for (size_t cTaken = 0; cTaken <= rgExpected.size(); cTaken++) {
            INDEXEDWALK walkIndexed;
            if (!FBeginIndexedRingWalk(playoutIndexed.get(), pindex.get(), &stream, grfRt, &walkIndexed)) {
                EXPECT_TRUE(playoutIndexed->fTableFull);
                break;
            }
            VISITS rgVisited;
            while (rgVisited.size() < cTaken && FNextIndexedRecord(&stream, &walkIndexed, &pos, &cb))
                rgVisited.push_back({pos, cb});
            EXPECT_FALSE(walkIndexed.fBroken);
            VISITS rgWanted(rgExpected.begin(), rgExpected.begin() + (long)cTaken);
            if (cTaken == rgExpected.size()) {
                EXPECT_EQ(FNextIndexedRecord(&stream, &walkIndexed, &pos, &cb), 0);
                EXPECT_EQ(rgVisited, rgWanted) << "indexed walk";
                break;
            }
            // Going on as a ring walk after the last record given.
            RINGWALK walkOn;
            BeginLogRingWalk(playoutIndexed.get(), &walkOn);
            ResumeRingWalk(&walkIndexed, &walkOn);
            while (FNextRingRecord(&stream, &walkOn, &pos, &cb))
                rgVisited.push_back({pos, cb});
            auto itAfter = cTaken == 0 ? rgSearching.begin()
                                       : std::find(rgSearching.begin(), rgSearching.end(), rgWanted.back()) + 1;
            rgWanted.insert(rgWanted.end(), itAfter, rgSearching.end());
            EXPECT_EQ(rgVisited, rgWanted) << "resumed after " << cTaken;
        }
    }

    LINEARWALK linearTrusted, linearSearching;
    BeginLinearWalk(0, (long)log.size(), &linearTrusted, &layout);
    BeginLinearWalk(0, (long)log.size(), &linearSearching);
    rgTrusted.clear();
    rgSearching.clear();
    while (FNextLinearRecord(&stream, &linearTrusted, &pos, &cb))
        rgTrusted.push_back({pos, cb});
    while (FNextLinearRecord(&stream, &linearSearching, &pos, &cb))
        rgSearching.push_back({pos, cb});
    EXPECT_EQ(rgTrusted, rgSearching) << "linear walk";
}

Rec Xx04(uint32_t date) { return Rec(4, 11, date); }

Bytes WrappedLog()
{
    LogBuilder log;
    log.Add(VinfRec(T0 - 10 * secDay, true, "SFZRE8B19A3000123", 4, 1, 2, 5))
        .Add(Xx04(T0 - 5 * secDay))
        .Add(Xx04(T0 - secDay))
        .Garbage(1)
        .Add(Xx04(T0 - 3600))
        .Add(VinfRec(T0 + 7200, false, "SFZRE8B19A3000123", 4, 1, 3, 7))
        .Add(Xx04(T0 + 7300))
        .Garbage(5)
        .Add(Xx04(T0))
        .Add(Xx04(T0 + 60))
        .Garbage(3);
    return log.Data();
}

std::vector<std::string> ListedRecords(std::string const& out)
{
    std::vector<std::string> rg;
    for (std::string const& line : LinesStartingWith(out, "")) {
        // "mm/dd/yyyy hh:mm:ss | %10d | CODE |"
        if (line.size() < 40 || line.compare(19, 3, " | ") != 0 || line.compare(32, 3, " | ") != 0)
            continue;
        std::string ts = line.substr(22, 10);
        ts.erase(0, ts.find_first_not_of(' '));
        std::string code = line.substr(35, 4);
        code.erase(code.find_last_not_of(' ') + 1);
        rg.push_back(code + "@" + ts);
    }
    return rg;
}

std::string From(std::string const& out, std::string const& first)
{
    size_t ich = out.rfind("\n" + first + "\n");
    if (ich == std::string::npos)
        return out.compare(0, first.size() + 1, first + "\n") == 0 ? out : "";
    return out.substr(ich + 1);
}
