// Wall-to-wheel efficiency on the charge line: printed only when a charge brings the battery back
// to within one percent of where the previous charge ended, in every layout and unit.
#include <gtest/gtest.h>

#include "summary_harness.h"
#include "support/timecal.h"

namespace {

// A charge that ends at 90 %, a drive of 1.3 mi between two odometer readings, then a second
// charge (12:16:40 to 12:18:00, two minutes of 250 V at 25 A: 0.104 kWh) that ends at pctSOCEnd.
LogBuilder ChargeDriveChargeLog(int pctSOCEnd)
{
    LogBuilder log = LogStart();
    log.Add(C30mRec(tsBase + 10, 0, 80, 30));
    AddChargeMinutes(log, tsBase + 20, 2);
    log.Add(C30mRec(tsBase + 90, 0, 90, 30)).Add(IdleRec(tsBase + 400, 90));
    log.Add(D10mRec(tsBase + 450, 90, 1000.0));
    AddDrive(log, tsBase + 500, 61, 72);
    log.Add(D10mRec(tsBase + 600, 88, 1001.3)).Add(C30mRec(tsBase + 1000, 0, 88, 30));
    AddChargeMinutes(log, tsBase + 1010, 2);
    log.Add(C30mRec(tsBase + 1080, 0, pctSOCEnd, 30)).Add(IdleRec(tsBase + 1400, pctSOCEnd));
    return log;
}

}   // namespace

TEST(SummaryWallToWheel, OnlyWhenTheChargeRefillsToTheLastLevel)
{
    ASSERT_TRUE(FSetZones("UTC"));
    const std::string sDates = "01/01/2010 12:16:40 - 01/01/2010 12:18:00 (00:01:20) Charge  88% -> ";
    const std::string sColumns = Sp(41) + "  250V  25A of 30A  0.1 kWh   0.0 Ah    0.0 Ah  ";
    const std::string sDatesTab = "01/01/2010 12:16:40\t01/01/2010 12:18:00\t00:01:20\tCharge\t88%\t";
    const std::string sColumnsTab = "\t\t\t\t\t250\t25\t30\t0.10\t0.0\t0.0";
    // 104.17 Wh over 1.3 mi is 80 Wh/mi; over 1.3 * 1.609 km, 50 Wh/km.
    struct {
        int grfDisplay;
        int pctSOCEnd;
        std::string sLine;
    } rgcase[] = {
        {0, 89, sDates + " 89%" + sColumns + Sp(11) + "  80 Wh/mi"},
        {0, 91, sDates + " 91%" + sColumns + Sp(11) + "  80 Wh/mi"},
        {0, 92, sDates + " 92%" + sColumns + Sp(23)},
        {0x100, 89, sDates + " 89%" + sColumns + Sp(11) + "  50 Wh/km"},
        {0x80, 89, sDatesTab + "89%" + sColumnsTab + "\t\t80"},
        {0x80, 88, sDatesTab + "88%" + sColumnsTab + "\t\t"},
        {0x180, 91, sDatesTab + "91%" + sColumnsTab + "\t\t50"},
    };
    for (const auto& c : rgcase) {
        SUMMARYOPT opt;
        opt.grfDisplay = c.grfDisplay;
        std::string out = RunSummary(ChargeDriveChargeLog(c.pctSOCEnd), opt);
        std::vector<std::string> lines = LinesStartingWith(out, "01/01/2010 12:16:40");
        ASSERT_EQ(lines.size(), 1u) << out;
        EXPECT_EQ(lines[0], c.sLine) << std::hex << c.grfDisplay << std::dec << " " << c.pctSOCEnd;
    }
}
