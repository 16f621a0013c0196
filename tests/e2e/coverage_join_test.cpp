// Joining more than two downloads: the merge keeps one time order across every input, whichever
// order they are named in, and each input starts and finishes where its own records do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

constexpr uint32_t t0 = 1243857600;   // 06/01/2009 12:00:00 UTC

}   // namespace

TEST(JoinManyInputs, InterleavedDownloadsComeOutInOneTimeOrder)
{
    std::string dir = TempDir();
    // Download k holds the idle records of minutes k+1, k+5 and k+9 after one shared VINF record:
    // no two downloads hold the same idle record, so every one of them is written.
    std::vector<std::string> rgpath;
    for (uint32_t k = 0; k < 4; k++) {
        LogBuilder log;
        log.Add(VinfRec(t0 - 3 * 86400, true)).Add(DayRec(t0 - 86400, 1000.0, 2700, 80)).Add(VinfRec(t0, false));
        for (uint32_t m : {k + 1, k + 5, k + 9})
            log.Add(IdleRec(t0 + 60 * m));
        rgpath.push_back(dir + "/d" + std::to_string(k) + ".log");
        log.WriteFile(rgpath.back());
    }
    std::string const& d0 = rgpath[0];
    std::string const& d1 = rgpath[1];
    std::string const& d2 = rgpath[2];
    std::string const& d3 = rgpath[3];
    std::string out = dir + "/out.log";

    RunResult r = RunQuenfell({"-j", out, d2, d0, d3, d1});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Sorted by newest record: d0 (12:09), d1 (12:10), d2 (12:11), d3 (12:12). The VINF record at
    // offset 0x51 is each download's oldest; after d0, each adds only its last idle record.
    EXPECT_EQ(r.out, "Analyze: " + d2 + "\nAnalyze: " + d0 + "\nAnalyze: " + d3 + "\nAnalyze: " + d1 + "\n\n" +
                         "06/01/2009 12:00:00 - 06/01/2009 12:09:00 00000051 00000051 " + d0 + "\n"
                         "\tused 4 records, up to 06/01/2009 12:09:00\n"
                         "06/01/2009 12:00:00 - 06/01/2009 12:10:00 00000051 00000051 " + d1 + "\n"
                         "\tused 1 records, up to 06/01/2009 12:10:00\n"
                         "06/01/2009 12:00:00 - 06/01/2009 12:11:00 00000051 00000051 " + d2 + "\n"
                         "\tused 1 records, up to 06/01/2009 12:11:00\n"
                         "06/01/2009 12:00:00 - 06/01/2009 12:12:00 00000051 00000051 " + d3 + "\n"
                         "\tused 1 records, up to 06/01/2009 12:12:00\n" +
                         d0 + " started\n" + d1 + " started\n" + d2 + " started\n" + d3 + " started\n" +
                         d0 + " finished\n" + d1 + " finished\n" + d2 + " finished\n" + d3 + " finished\n" +
                         "13 records written to " + out + "\n");
    std::vector<Rec> recsExpected{VinfRec(t0, false)};
    for (uint32_t m = 1; m <= 12; m++)
        recsExpected.push_back(IdleRec(t0 + 60 * m));
    std::string sOut = ReadText(out);
    EXPECT_EQ(Bytes(sOut.begin(), sOut.end()), Concat(recsExpected));
}
