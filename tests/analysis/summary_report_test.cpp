// The summary as a whole report: headings and layouts (columns, tabs, metric), the totals line,
// the capacity line, daylight-saving notes, the -u trace of charge segments and the notes calls.
#include <gtest/gtest.h>

#include <tuple>

#include "analysis/decoder.h"
#include "summary_harness.h"
#include "support/timecal.h"

namespace {

const std::string sTitle = "Transient Log Summary\n=====================\n\n";
const std::string sHeadingColumns =
    "Start Date & Time     End Date & Time     Duration   Action Range SOC    Distance Ave Speed Max Speed "
    "Odometer     Volts Amps       Energy   Charge In Charge Out Batt2Whl   Wall2Whl   Notes\n"
    "-------------------   ------------------- ---------- ------ ------------ -------- --------- --------- "
    "------------ ----- ---------- -------- --------- ---------- ---------- ---------- -----\n";

std::string HeadingTab(const std::string& sDist, const std::string& sSpeed)
{
    return "Start Date & Time\tEnd Date & Time\tDuration\tAction\tRange SOC Start\tRange SOC End\tDistance (" + sDist +
           ")\tAve Speed (" + sSpeed + ")\tMax Speed (" + sSpeed + ")\tOdometer (" + sDist +
           ")\tVolts\tCharge Amps\tLineAmps\tEnergy\tCharge In (Ah)\tCharge Out (Ah)\tBattery-to-Wheel Efficiency (Wh/" +
           sDist + ")\tWall-to-Wheel Efficiency (Wh/" + sDist + ")\tNotes\n";
}

// A drive of 61 s at 72 mph between two odometer readings 1.3 mi apart, then a charge.
LogBuilder DriveThenChargeLog()
{
    LogBuilder log = LogStart();
    log.Add(D10mRec(tsBase + 50, 90, 1000.0));
    AddDrive(log, tsBase + 100, 61, 72);
    log.Add(D10mRec(tsBase + 200, 88, 1001.3)).Add(C30mRec(tsBase + 1000, 0, 88, 30));
    AddChargeMinutes(log, tsBase + 1010, 2);
    log.Add(C30mRec(tsBase + 1080, 0, 95, 30)).Add(IdleRec(tsBase + 1400, 95));
    return log;
}

const std::string sCapacity = "Approximate CAC: 171.39 Ah as of 01/01/2010 11:58:30\n";

}   // namespace

TEST(SummaryReport, ColumnMetricAndTabLayouts)
{
    ASSERT_TRUE(FSetZones("UTC"));
    const std::string sDriveStart = "01/01/2010 12:01:40 - 01/01/2010 12:02:40 (00:01:00) Drive   90% ->  88%";
    const std::string sCharge = "01/01/2010 12:16:40 - 01/01/2010 12:18:00 (00:01:20) Charge  88% ->  95%" + Sp(41) +
                                "  250V  25A of 30A  0.1 kWh   0.0 Ah    0.0 Ah  " + Sp(23) + "\n";
    const std::string sDriveTab = "01/01/2010 12:01:40\t01/01/2010 12:02:40\t00:01:00\tDrive\t90%\t88%\t";
    const std::string sChargeTab =
        "01/01/2010 12:16:40\t01/01/2010 12:18:00\t00:01:20\tCharge\t88%\t95%\t\t\t\t\t250\t25\t30\t0.10\t0.0\t0.0\t\t\n";
    const std::string sTotals = "vms_log Transient section: odometer: ";
    const std::string sHours = ", 0.0 hours of driving, 0.0 hours of charging, over 0.0 days\n\n";
    struct {
        int grfDisplay;
        std::string sOut;
    } rgcase[] = {
        {0, sTitle + sHeadingColumns + sDriveStart + "   1.3 mi  76.7 mph  72.0 mph    1001.3 mi" + Sp(18) +
                " 0.6 kWh   0.0 Ah    1.7 Ah   462 Wh/mi\n" + sCharge + sTotals + "1000.0 to 1001.3 (1.3 mi)" +
                sHours + sCapacity},
        {0x100, sTitle + sHeadingColumns + sDriveStart + "   2.1 km 123.4 kph 115.8 kph    1611.1 km" + Sp(18) +
                    " 0.6 kWh   0.0 Ah    1.7 Ah   287 Wh/km\n" + sCharge + sTotals + "1609.0 to 1611.1 (2.1 km)" +
                    sHours + sCapacity},
        {0x80, sTitle + HeadingTab("mi", "mph") + sDriveTab + "1.3\t76.7\t72.0\t1001.3\t\t\t\t0.6\t0.0\t1.7\t 462\n" +
                   sChargeTab + sTotals + "1000.0 to 1001.3 (1.3 mi)" + sHours + sCapacity},
        {0x180, sTitle + HeadingTab("km", "kph") + sDriveTab + "2.1\t123.4\t115.8\t1611.1\t\t\t\t0.6\t0.0\t1.7\t 287\n" +
                    sChargeTab + sTotals + "1609.0 to 1611.1 (2.1 km)" + sHours + sCapacity},
    };
    for (const auto& c : rgcase) {
        SUMMARYOPT opt;
        opt.grfDisplay = c.grfDisplay;
        EXPECT_EQ(RunSummary(DriveThenChargeLog(), opt), c.sOut) << std::hex << c.grfDisplay;
    }
}

TEST(SummaryReport, TotalsWithoutOdometerReadingCountHoursAndCredibleDays)
{
    ASSERT_TRUE(FSetZones("UTC"));
    LogBuilder log = LogStart();
    AddChargeMinutes(log, tsBase, 90);
    // A record dated past the newest credible time does not stretch the span.
    log.Add(IdleRec(tsBase + 2 * 86400, 50)).Add(TpmsRec(0x7FFFFF00u));
    const std::string sHours = ", 0.0 hours of driving, 1.5 hours of charging, over 2.0 days";
    EXPECT_EQ(TotalsLine(RunSummary(log, {}, "200906051330.tar")),
              "200906051330.tar Transient section: odometer: -1.0 to -1.0 (0.0 mi)" + sHours);
    SUMMARYOPT opt;
    opt.grfDisplay = 0x100;
    EXPECT_EQ(TotalsLine(RunSummary(log, opt)), "vms_log Transient section: odometer: -1.6 to -1.6 (0.0 km)" + sHours);
}

TEST(SummaryReport, CapacityFromTheLastDailyRecordOfTheLongTermPart)
{
    ASSERT_TRUE(FSetZones("UTC"));
    const std::string sEmptyWalk =
        sTitle + sHeadingColumns +
        "vms_log Transient section: odometer: -1.0 to -1.0 (0.0 mi), 0.0 hours of driving, 0.0 hours of charging, "
        "over 0.0 days\n\n";
    LogBuilder logTwoDays;
    logTwoDays.Add(VinfRec(tsBase - 100, true)).Add(DayRec(tsBase - 90, 990.0, 3000, 95));
    logTwoDays.Add(DayRec(tsBase - 85, 991.0, 2900, 94)).Add(VinfRec(tsBase - 80, false));
    LogBuilder logLongTermOnly;
    logLongTermOnly.Add(VinfRec(tsBase - 100, true)).Add(DayRec(tsBase - 90, 990.0, 3000, 95));
    LogBuilder logGarbage;
    logGarbage.Garbage(100);

    std::string out = RunSummary(logTwoDays);
    EXPECT_EQ(out.substr(out.rfind("Approximate")), "Approximate CAC: 165.68 Ah as of 01/01/2010 11:58:35\n");
    EXPECT_EQ(RunSummary(LogStart(tsBase, 0)).find("Approximate"), std::string::npos);
    EXPECT_EQ(RunSummary(logLongTermOnly), sEmptyWalk + sCapacity);
    EXPECT_EQ(RunSummary(logGarbage), sEmptyWalk);
}

TEST(SummaryReport, DaylightSavingNotes)
{
    ASSERT_TRUE(FSetZones("America/Los_Angeles"));
    const uint32_t tsAutumn = 1289120400u;   // 11/07/2010 02:00 PDT becomes 01:00 PST
    const uint32_t tsSpring = 1268560800u;   // 03/14/2010 02:00 PST becomes 03:00 PDT
    const uint32_t tsJuly = 1278000000u;
    auto charge = [](uint32_t ts, int crec) {
        LogBuilder log = LogStart(ts);
        AddChargeMinutes(log, ts, crec);
        return log;
    };
    LogBuilder logDrive = LogStart(tsAutumn - 600);
    AddDrive(logDrive, tsAutumn - 600, 13, 36, 100);
    struct {
        const char* szName;
        LogBuilder log;
        std::string sStart, sEnd;
    } rgcase[] = {
        {"drive across the autumn change", logDrive, "11/07/2010 01:50:00 - 11/07/2010 01:10:00 (00:20:00) Drive ",
         Sp(11) + "start time is in daylight saving time, end time is in standard time\n"},
        {"charge in the hour before the autumn change", charge(tsAutumn - 3000, 17),
         "11/07/2010 01:10:00 - 11/07/2010 01:26:00 (00:16:00) Charge ",
         "\tstart time is in daylight saving time, end time is in daylight saving time\n"},
        {"charge in the repeated hour", charge(tsAutumn + 600, 11),
         "11/07/2010 01:10:00 - 11/07/2010 01:20:00 (00:10:00) Charge ",
         "\tstart time is in standard time, end time is in standard time\n"},
        {"charge across the spring change", charge(tsSpring - 600, 21),
         "03/14/2010 01:50:00 - 03/14/2010 03:10:00 (00:20:00) Charge ",
         "\tnote transition from standard time to daylight saving time\n"},
        {"charge in July", charge(tsJuly, 11), "07/01/2010 09:00:00 - 07/01/2010 09:10:00 (00:10:00) Charge ",
         " Ah  " + Sp(23) + "\n"},
    };
    for (const auto& c : rgcase) {
        std::string sLines = SessionLines(RunSummary(c.log));
        EXPECT_EQ(sLines.substr(0, c.sStart.size()), c.sStart) << c.szName;
        ASSERT_GE(sLines.size(), c.sEnd.size()) << c.szName;
        EXPECT_EQ(sLines.substr(sLines.size() - c.sEnd.size()), c.sEnd) << c.szName;
    }
    FSetZones("UTC");
}

// -u: the summary with a filter lists the records that pass it (offset first) and traces the
// charge segments; without a filter it is the plain summary.
TEST(SummaryReport, ChargeDetailWithAndWithoutFilter)
{
    ASSERT_TRUE(FSetZones("UTC"));
    LogBuilder log = LogStart();   // 121 bytes
    log.Add(C30mRec(tsBase + 1000, 0, 60, 30));   // 0x79
    AddChargeMinutes(log, tsBase + 1060, 2);      // 0x90, 0xb7
    log.Add(C30mRec(tsBase + 1180, 0, 62, 30));   // 0xde
    log.Add(IdleRec(tsBase + 1500, 62));          // 0xf5

    SUMMARYOPT optU;
    optU.fChargeDetail = 1;
    EXPECT_EQ(RunSummary(log, optU), RunSummary(log));

    SUMMARYOPT optUS = optU;
    optUS.timestampStart = tsBase + 1000;
    std::string sTrace;
    for (std::string line : LinesStartingWith(SessionLines(RunSummary(log, optUS)), ""))
        sTrace += (line.compare(0, 2, "0x") == 0 ? line.substr(0, 12) : line) + "\n";
    EXPECT_EQ(sTrace, "0x00000079: \n"
                      "----------------------------- start charge\n"
                      "begin charge segment\n"
                      "0x00000090: \n"
                      "0x000000b7: \n"
                      "0x000000de: \n"
                      "end charge segment\n"
                      "CGSEG\t01/01/2010 12:16:40\t01/01/2010 12:19:40\t00:03:00\t2\t60\t62\t27.0\t27.0\t27.0\t"
                      "250.0\t250.0\t250.0\t25.0\t25.0\t25.0\t208\t4.2\t104\t60.0\n"
                      "0x000000f5: \n"
                      "01/01/2010 12:16:40 - 01/01/2010 12:19:40 (00:03:00) Charge  60% ->  62%" +
                          Sp(41) + "  250V  25A of 30A  0.1 kWh   0.0 Ah    0.0 Ah  " + Sp(23) + "\n");
}

TEST(SummaryReport, SegmentLineWithoutElapsedTimeOrSOCChange)
{
    ASSERT_TRUE(FSetZones("UTC"));
    const std::string sSpread = "27.0\t27.0\t27.0\t250.0\t250.0\t250.0\t25.0\t25.0\t25.0\t104\t";
    struct {
        uint32_t secSample, secEnd;
        int pctSOCEnd;
        std::string sLine;
    } rgcase[] = {
        {1000, 1000, 62, "CGSEG\t01/01/2010 12:16:40\t01/01/2010 12:16:40\t00:00:00\t1\t60\t62\t" + sSpread + "0.0\t52\t120.0"},
        {1060, 1120, 60, "CGSEG\t01/01/2010 12:16:40\t01/01/2010 12:18:40\t00:02:00\t1\t60\t60\t" + sSpread + "3.1\t0\t0.0"},
    };
    for (const auto& c : rgcase) {
        LogBuilder log = LogStart();
        log.Add(C30mRec(tsBase + 1000, 0, 60, 30)).Add(C1mbRec(tsBase + c.secSample, 250, 25));
        log.Add(C30mRec(tsBase + c.secEnd, 0, c.pctSOCEnd, 30));
        SUMMARYOPT opt;
        opt.fChargeDetail = 1;
        opt.grfRt = 1u << 7;
        std::vector<std::string> rgline = LinesStartingWith(RunSummary(log, opt), "CGSEG");
        ASSERT_EQ(rgline.size(), 1u) << c.secEnd;
        EXPECT_EQ(rgline[0], c.sLine);
    }
}

TEST(SummaryReport, ChargeDetailAbortedSegmentAndDriveStart)
{
    ASSERT_TRUE(FSetZones("UTC"));
    LogBuilder log = LogStart();
    log.Add(Dr1sRec(tsBase + 900, 0, 159.0 / 32));   // opens no drive
    log.Add(C30mRec(tsBase + 1000, 0, 60, 30));
    log.Add(C1mbRec(tsBase + 1060, 250, 25)).Add(C1mbRec(tsBase + 1300, 250, 25));
    log.Add(C30mRec(tsBase + 1360, 0, 63, 30));
    log.Add(Dr1sRec(tsBase + 2000, 0, 159.0 / 32)).Add(Dr1sRec(tsBase + 2001, 0, 5.0));
    log.Add(Dr1sRec(tsBase + 2002, 0, 5.0)).Add(IdleRec(tsBase + 2400, 50));
    SUMMARYOPT opt;
    opt.fChargeDetail = 1;
    opt.grfRt = 1u << 7;   // IDLE only
    std::string sTrace;
    for (const std::string& line : LinesStartingWith(SessionLines(RunSummary(log, opt)), ""))
        if (line.compare(0, 3, "01/") != 0)
            sTrace += (line.compare(0, 2, "0x") == 0 ? line.substr(0, 12) : line) + "\n";
    EXPECT_EQ(sTrace, "----------------------------- start charge\n"
                      "begin charge segment\n"
                      "abort charge seg\n"      // a sample 240 s after the last one
                      "begin charge segment\n"  // the next SOC reading of a charge record
                      "----------------------------- start drive\n"
                      "0x0000015d: \n"
                      "abort charge seg\n");    // a SOC reading long after the last sample
}

namespace {
using NOTESCALLS = std::vector<std::tuple<unsigned, unsigned, int>>;
void RecordNotesCall(void* pvCalls, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent)
{
    ((NOTESCALLS*)pvCalls)->emplace_back(timestampPrev, timestampCur, cchIndent);
}
}   // namespace

TEST(SummaryReport, NotesAskedForBetweenWalkedRecordsOnly)
{
    ASSERT_TRUE(FSetZones("UTC"));
    LogBuilder log = LogStart();
    AddDrive(log, tsBase + 100, 3, 36);
    log.Add(TpmsRec(tsBase + 300));
    NOTESCALLS rgcallNotes;
    SUMMARYOPT opt;
    opt.pfnNotes = RecordNotesCall;
    opt.pvNotes = &rgcallNotes;
    RunSummary(log, opt);
    // The drive's forward scan reads the TPMS record too, but asks for no notes; the end step
    // neither.
    NOTESCALLS rgcallExpected = {
        {0u - 3600u, tsBase - 80, 0},   // the cleared record's time, an hour back: no note before it
        {tsBase - 80, tsBase + 100, 0},
        {tsBase + 100, tsBase + 101, 0},
        {tsBase + 101, tsBase + 102, 0},
        {tsBase + 102, tsBase + 300, 0},
    };
    EXPECT_EQ(rgcallNotes, rgcallExpected);
}

TEST(SummaryReport, VerboseStatisticsBetweenTotalsAndCapacity)
{
    ASSERT_TRUE(FSetZones("UTC"));
    SUMMARYOPT opt;
    opt.fVerbose = 1;
    std::string out = RunSummary(LogStart(), opt);
    size_t ichTotals = out.find(" Transient section: ");
    size_t ichStats = out.find("Transient Record Stats\n======================\n");
    size_t ichCapacity = out.find(sCapacity);
    ASSERT_NE(ichStats, std::string::npos);
    EXPECT_LT(ichTotals, ichStats);
    EXPECT_LT(ichStats, ichCapacity);
}
