// The generator's downloads of one car hold the same bytes for the same record, as a car's do: a
// download cut early must not give a record the figures of a later time.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "dbtest.h"
#include "testsupport/logbuilder.h"

namespace {

// The records of a log's long-term part (up to its first transient vehicle-info record), by time
// and type.
std::map<std::pair<uint32_t, int>, std::string> LongTermOf(std::string const& strLog)
{
    std::map<std::pair<uint32_t, int>, std::string> map;
    unsigned char const* pb = (unsigned char const*)strLog.data();
    size_t cb = strLog.size();
    size_t ib = 0;
    while (ib + 10 <= cb) {
        size_t cbRec = (size_t)pb[ib + 2] + 2;
        unsigned sum = 0;
        for (size_t i = 2; i < cbRec && ib + i < cb; i++)
            sum += pb[ib + i];
        if (pb[ib] != 0x03 || pb[ib + 1] != 0x02 || cbRec < 10 || ib + cbRec > cb || (sum & 0xFF) != 0) {
            ib++;
            continue;
        }
        if (pb[ib + 3] == 1 && !(pb[ib + 5] & 0x80))
            break;
        uint32_t timestamp = pb[ib + 6] | pb[ib + 7] << 8 | pb[ib + 8] << 16 | (uint32_t)pb[ib + 9] << 24;
        map[{timestamp, pb[ib + 3]}] = strLog.substr(ib, cbRec);
        ib += cbRec;
    }
    return map;
}

// Cut a few minutes after the car's daily record, when the next transient record is still to
// come: the daily record of that morning is in the download, and must be the one the next
// download holds.
TEST(Genlog, OverlappingCutDownloadsHoldTheSameBytes)
{
    std::string strDir = TempDir();
    std::vector<std::string> rgstrLog;
    for (char const* szStop : {"2010-02-08 07:05", "2010-02-15 07:05", "2010-02-22 07:05"}) {
        std::string strPath = strDir + "/" + std::string(szStop).substr(0, 10) + ".log";
        RunResult r = RunProgram({PathGenlog(), "--seed", "11", "--days", "60", "--end", "2010-03-10 08:00", "--stop",
                                  szStop, "--ring", "2M", "--out", strPath});
        ASSERT_EQ(r.status, 0) << r.err;
        rgstrLog.push_back(strPath);
    }
    for (size_t i = 0; i + 1 < rgstrLog.size(); i++) {
        auto mapEarlier = LongTermOf(ReadText(rgstrLog[i]));
        auto mapLater = LongTermOf(ReadText(rgstrLog[i + 1]));
        ASSERT_GT(mapEarlier.size(), 20u);
        int cday = 0;
        for (auto const& [key, strRec] : mapEarlier) {
            auto it = mapLater.find(key);
            ASSERT_NE(it, mapLater.end()) << "a long-term record of " << rgstrLog[i] << " is missing later";
            EXPECT_TRUE(it->second == strRec) << "the record of " << key.first << " (type " << key.second
                                              << ") differs in " << rgstrLog[i + 1];
            cday += key.second == 6;
        }
        EXPECT_GT(cday, 20);
    }
    // The transient records the downloads share are the same too: the join finds no two copies of
    // one record that disagree.
    RunResult r = RunQuenfell({"-j", strDir + "/joined.log", rgstrLog[0], rgstrLog[1], rgstrLog[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("NOTE: non-matching records"), std::string::npos) << r.out;
}

}  // namespace
