// When drives and charges begin, stay open and end, and what their lines say: the thresholds, the
// odometer estimate, the forward scan after a drive, traction control and wall-to-wheel figures.
#include <gtest/gtest.h>

#include <functional>

#include "summary_harness.h"
#include "support/timecal.h"

namespace {

struct SESSIONCASE {
    const char* szName;
    std::function<void(LogBuilder&)> build;   // records after LogStart()
    std::string sLines;                       // expected session lines and messages
};

std::string DateText(uint32_t timestamp)
{
    char sz[20];
    return DateFromTimestamp(timestamp, sz, sizeof sz);
}

// The log with every DR1S record lengthened to cbFieldsMax bytes, zeros before its checksum: the
// walk takes such records one step at a time, not as a run, and they decode the same.
LogBuilder WithLongerSeconds(const LogBuilder& log)
{
    LogBuilder logOut;
    Bytes const& bytes = log.Data();
    for (size_t ib = 0; ib < bytes.size();) {
        size_t cb = bytes[ib + 2] + 2u;
        if (bytes[ib + 3] == rtDR1S && cb == 26) {
            Rec rec(rtDR1S, cbFieldsMax);
            for (int i = 4; i < 25; i++)
                rec.U8(i, bytes[ib + i]);
            logOut.Add(rec);
        } else {
            logOut.Add(Bytes(bytes.begin() + (long)ib, bytes.begin() + (long)(ib + cb)));
        }
        ib += cb;
    }
    return logOut;
}

// The lines, and the sessions handed to the consumer: one per line, in the line's order, with the
// line's times and SOC. The lines, the drives' figures and the totals stay the same with the
// drives' seconds taken one at a time.
void ExpectSessions(const std::vector<SESSIONCASE>& rgcase)
{
    ASSERT_TRUE(FSetZones("UTC"));
    for (const SESSIONCASE& c : rgcase) {
        LogBuilder log = LogStart();
        c.build(log);
        SESSIONSSEEN seen;
        std::string out = RunSummary(log, {}, "vms_log", &seen);
        std::string sLines = SessionLines(out);
        EXPECT_EQ(sLines, c.sLines) << c.szName;
        SESSIONSSEEN seenLong;
        std::string outLong = RunSummary(WithLongerSeconds(log), {}, "vms_log", &seenLong);
        EXPECT_EQ(SessionLines(outLong), sLines) << c.szName;
        EXPECT_EQ(TotalsLine(outLong), TotalsLine(out)) << c.szName;
        EXPECT_EQ(seenLong.totals.secDriving, seen.totals.secDriving) << c.szName;
        EXPECT_EQ(seenLong.totals.secSpan, seen.totals.secSpan) << c.szName;
        ASSERT_EQ(seenLong.rgdrive.size(), seen.rgdrive.size()) << c.szName;
        for (size_t i = 0; i < seen.rgdrive.size(); i++) {
            DRIVESESSION const& a = seen.rgdrive[i];
            DRIVESESSION const& b = seenLong.rgdrive[i];
            EXPECT_TRUE(a.miles == b.miles && a.wh == b.wh && a.ahIn == b.ahIn && a.ahOut == b.ahOut &&
                        a.mphAverage == b.mphAverage && a.milesOdo == b.milesOdo && a.cTCOff == b.cTCOff)
                << c.szName << ": drive " << i;
        }
        size_t idrive = 0, icharge = 0;
        for (std::string const& line : LinesStartingWith(sLines, "")) {
            // "start - end (duration) Action  ss% -> ee%", the duration as long as its hours
            size_t ichAction = line.find(") ", 41) + 2;
            if (line.compare(19, 3, " - ") != 0 || ichAction < 2 || line.size() < ichAction + 18)
                continue;
            bool fDrive = line.compare(ichAction, 6, "Drive ") == 0;
            uint32_t tsStart, tsEnd;
            int pctStart, pctEnd;
            if (fDrive) {
                ASSERT_LT(idrive, seen.rgdrive.size()) << c.szName;
                DRIVESESSION const& ds = seen.rgdrive[idrive++];
                tsStart = ds.timestampStart, tsEnd = ds.timestampEnd, pctStart = ds.pctSOCStart, pctEnd = ds.pctSOCEnd;
            } else {
                ASSERT_LT(icharge, seen.rgcharge.size()) << c.szName;
                CHARGESESSION const& cs = seen.rgcharge[icharge++];
                tsStart = cs.timestampStart, tsEnd = cs.timestampEnd, pctStart = cs.pctSOCStart, pctEnd = cs.pctSOCEnd;
            }
            EXPECT_EQ(line.substr(0, 19), DateText(tsStart)) << c.szName;
            EXPECT_EQ(line.substr(22, 19), DateText(tsEnd)) << c.szName;
            EXPECT_EQ(std::stoi(line.substr(ichAction + 7, 3)), pctStart) << c.szName;
            EXPECT_EQ(std::stoi(line.substr(ichAction + 15, 3)), pctEnd) << c.szName;
        }
        EXPECT_EQ(idrive, seen.rgdrive.size()) << c.szName;
        EXPECT_EQ(icharge, seen.rgcharge.size()) << c.szName;
    }
}

Rec StandingDr1s(uint32_t ts, double ampsOut)
{
    return Dr1sRec(ts, 0.0, ampsOut, 360.0);
}

// 11 seconds at 36 mph from 100 s after the base: the first second's distance is not counted.
const std::string sDriveShortFigures =
    "   0.1 mi  32.7 mph  36.0 mph" + Sp(10) + Sp(18) + " 0.1 kWh   0.0 Ah    0.3 Ah " + Sp(11) + "\n";
const std::string sDriveShort = "01/01/2010 12:01:40 - 01/01/2010 12:01:50 (00:00:10) Drive   -1% ->  -1%" +
                                sDriveShortFigures;
const std::string sChargeBlankCols = Sp(41) + "  250V ";   // " %4.0fV "

}   // namespace

TEST(SummarySessions, DriveStartsStaysOpenAndCloses)
{
    ExpectSessions({
        {"standing below 5 A starts nothing",
         [](LogBuilder& log) {
             for (int i = 0; i < 10; i++)
                 log.Add(StandingDr1s(tsBase + 100 + i, 159.0 / 32));
             AddDrive(log, tsBase + 200, 11, 36);
         },
         "01/01/2010 12:03:20 - 01/01/2010 12:03:30 (00:00:10) Drive   -1% ->  -1%" + sDriveShortFigures},
        {"standing at 5 A starts the drive",
         [](LogBuilder& log) {
             for (int i = 0; i < 10; i++)
                 log.Add(StandingDr1s(tsBase + 100 + i, 5.0));
             AddDrive(log, tsBase + 200, 11, 36);
         },
         "01/01/2010 12:01:40 - 01/01/2010 12:03:30 (00:01:50) Drive   -1% ->  -1%   0.1 mi  36.0 mph  36.0 mph" +
             Sp(10) + Sp(18) + " 0.1 kWh   0.0 Ah    0.3 Ah " + Sp(11) + "\n"},
        {"a drive that never moves prints nothing",
         [](LogBuilder& log) {
             AddDrive(log, tsBase + 100, 10, 0);
             log.Add(TpmsRec(tsBase + 300));
         },
         ""},
        {"another record 120 s after the last DR1S keeps the drive open",
         [](LogBuilder& log) {
             AddDrive(log, tsBase + 100, 11, 36);
             log.Add(TpmsRec(tsBase + 230));
             AddDrive(log, tsBase + 240, 11, 36);
         },
         "01/01/2010 12:01:40 - 01/01/2010 12:04:10 (00:02:30) Drive   -1% ->  -1%   0.2 mi  34.4 mph  36.0 mph" +
             Sp(10) + Sp(18) + " 0.2 kWh   0.0 Ah    0.6 Ah " + Sp(11) + "\n"},
        {"121 s closes it; the drive open at the end of the log gets its line too",
         [](LogBuilder& log) {
             AddDrive(log, tsBase + 100, 11, 36);
             log.Add(TpmsRec(tsBase + 231));
             AddDrive(log, tsBase + 240, 11, 36);
         },
         // The forward scan decodes the next drive's first second into the closed drive's distance.
         "01/01/2010 12:01:40 - 01/01/2010 12:01:50 (00:00:10) Drive   -1% ->  -1%   0.1 mi  36.0 mph  36.0 mph" +
             Sp(10) + Sp(18) + " 0.1 kWh   0.0 Ah    0.3 Ah " + Sp(11) + "\n" +
             "01/01/2010 12:04:00 - 01/01/2010 12:04:10 (00:00:10) Drive   -1% ->  -1%" + sDriveShortFigures},
        {"standing seconds keep a drive open",
         [](LogBuilder& log) {
             AddDrive(log, tsBase + 100, 11, 36);
             log.Add(StandingDr1s(tsBase + 200, 1.0)).Add(StandingDr1s(tsBase + 300, 1.0));
             log.Add(StandingDr1s(tsBase + 400, 1.0));
             AddDrive(log, tsBase + 500, 11, 36);
         },
         "01/01/2010 12:01:40 - 01/01/2010 12:08:30 (00:06:50) Drive   -1% ->  -1%   0.2 mi  34.4 mph  36.0 mph" +
             Sp(10) + Sp(18) + " 0.2 kWh   0.0 Ah    0.6 Ah " + Sp(11) + "\n"},
        {"a charge record closes the drive at once",
         [](LogBuilder& log) {
             AddDrive(log, tsBase + 100, 11, 36);
             log.Add(C1mbRec(tsBase + 120, 250, 25));
         },
         sDriveShort + "01/01/2010 12:02:00 - 01/01/2010 12:02:00 (00:00:00) Charge  -1% ->  -1%" +
             sChargeBlankCols + " 25A" + Sp(7) + "   0.0 Ah    0.0 Ah  \n"},
    });
}

TEST(SummarySessions, ChargeStaysOpenAndCloses)
{
    auto chargeWithIdleAt = [](uint32_t secIdle) {
        return [secIdle](LogBuilder& log) {
            log.Add(C30mRec(tsBase + 990, 0, 40, 30));
            AddChargeMinutes(log, tsBase + 1000, 2);
            log.Add(IdleRec(tsBase + secIdle, 50));
            AddChargeMinutes(log, tsBase + 1400, 1);
        };
    };
    ExpectSessions({
        {"IDLE 300 s after the last charge record keeps it open until the end of the log",
         chargeWithIdleAt(1360),
         "01/01/2010 12:16:30 - 01/01/2010 12:23:20 (00:06:50) Charge  40% ->  50%" + sChargeBlankCols +
             " 25A of 30A  0.7 kWh   0.0 Ah    0.0 Ah  " + Sp(23) + "\n"},
        {"IDLE 301 s after closes it at the IDLE's SOC", chargeWithIdleAt(1361),
         "01/01/2010 12:16:30 - 01/01/2010 12:17:40 (00:01:10) Charge  40% ->  50%" + sChargeBlankCols +
             " 25A of 30A  0.1 kWh   0.0 Ah    0.0 Ah  " + Sp(23) + "\n" +
             "01/01/2010 12:23:20 - 01/01/2010 12:23:20 (00:00:00) Charge  50% ->  50%" + sChargeBlankCols +
             " 25A" + Sp(7) + "   0.0 Ah    0.0 Ah  \n"},
        {"a standing DR1S closes it at the SOC last seen",
         [](LogBuilder& log) {
             log.Add(C30mRec(tsBase + 990, 0, 40, 30));
             AddChargeMinutes(log, tsBase + 1000, 1);
             log.Add(C30mRec(tsBase + 1030, 1, 45, 30));
             log.Add(StandingDr1s(tsBase + 1100, 0.0));
         },
         "01/01/2010 12:16:30 - 01/01/2010 12:17:10 (00:00:40) Charge  40% ->  45%" + sChargeBlankCols +
             " 25A of 30A   0.0 Ah    0.0 Ah  \n"},
        {"C1MA records count charge into the battery",
         [](LogBuilder& log) {
             log.Add(C1maRec(tsBase + 1000, 250, 25, 12, 30)).Add(C1maRec(tsBase + 1060, 250, 25, 12, 30));
         },
         "01/01/2010 12:16:40 - 01/01/2010 12:17:40 (00:01:00) Charge  -1% ->  -1%" + sChargeBlankCols + " 25A" +
             Sp(7) + "  0.1 kWh   0.2 Ah    0.0 Ah  " + Sp(23) + "\n"},
    });
}

TEST(SummarySessions, OdometerReadingEstimateAndForwardScanReading)
{
    ASSERT_TRUE(FSetZones("UTC"));
    const std::string sStart = "01/01/2010 12:01:40 - 01/01/2010 12:02:40 (00:01:00) Drive   90% ";
    const std::string sTail = Sp(18) + " 0.6 kWh   0.0 Ah    1.7 Ah ";
    struct {
        const char* szName;
        std::function<void(LogBuilder&)> build;
        std::string sLine, sOdoTotals;
    } rgcase[] = {
        {"reading after the drive",
         [](LogBuilder& log) {
             log.Add(D10mRec(tsBase + 200, 88, 1001.3)).Add(TpmsRec(tsBase + 400));
         },
         sStart + "->  88%   1.3 mi  76.7 mph  72.0 mph    1001.3 mi" + sTail + "  462 Wh/mi\n",
         "odometer: 1000.0 to 1001.3 (1.3 mi)"},
        {"no reading until the end: an estimate",
         [](LogBuilder& log) { log.Add(TpmsRec(tsBase + 300)).Add(IdleRec(tsBase + 3700, 85)); },
         sStart + "->  90%   1.2 mi  70.8 mph  72.0 mph ~  1001.2 mi" + sTail + "  500 Wh/mi\n",
         "odometer: 1000.0 to ~1001.2 (1.2 mi)"},
        {"the forward scan takes the next reading, however late",
         [](LogBuilder& log) {
             log.Add(TpmsRec(tsBase + 300)).Add(IdleRec(tsBase + 3700, 85));
             log.Add(D10mRec(tsBase + 4000, 85, 1001.5));
         },
         sStart + "->  90%   1.5 mi  88.5 mph  72.0 mph    1001.5 mi" + sTail + "  400 Wh/mi\n",
         "odometer: 1000.0 to 1001.5 (1.5 mi)"},
    };
    for (const auto& c : rgcase) {
        LogBuilder log = LogStart();
        log.Add(D10mRec(tsBase + 50, 90, 1000.0));
        AddDrive(log, tsBase + 100, 61, 72);
        c.build(log);
        std::string out = RunSummary(log);
        EXPECT_EQ(SessionLines(out), c.sLine) << c.szName;
        EXPECT_NE(TotalsLine(out).find(c.sOdoTotals), std::string::npos) << c.szName << ": " << TotalsLine(out);
    }
}

TEST(SummarySessions, ForwardScanFindsTheSOCJustAfterADrive)
{
    // An IDLE record before the drive leaves the SOC at 70 but no drive-end SOC (-1).
    auto drive = [](std::function<void(LogBuilder&)> after) {
        return [after](LogBuilder& log) {
            log.Add(IdleRec(tsBase + 50, 70));
            AddDrive(log, tsBase + 100, 61, 72);
            after(log);
        };
    };
    auto line = [](const char* szEnd) {
        return "01/01/2010 12:01:40 - 01/01/2010 12:02:40 (00:01:00) Drive   70% -> " + std::string(szEnd) +
               "   1.2 mi  70.8 mph  72.0 mph" + Sp(10) + Sp(18) + " 0.6 kWh   0.0 Ah    1.7 Ah   500 Wh/mi\n";
    };
    const std::string sIdleFound = "01/01/2010 12:06:40 found idle record in forward scan. soc = 87\n";
    ExpectSessions({
        {"IDLE within 300 s of the drive's end",
         drive([](LogBuilder& log) { log.Add(TpmsRec(tsBase + 290)).Add(IdleRec(tsBase + 400, 87)); }),
         sIdleFound + line(" 87%")},
        {"IDLE at 300 s is too late",
         drive([](LogBuilder& log) { log.Add(TpmsRec(tsBase + 290)).Add(IdleRec(tsBase + 460, 87)); }),
         line(" -1%")},
        {"IDLE without a SOC is passed over",
         drive([](LogBuilder& log) { log.Add(TpmsRec(tsBase + 290)).Add(IdleRec(tsBase + 350)); }),
         line(" -1%")},
        {"and the scan goes on to the next IDLE",
         drive([](LogBuilder& log) {
             log.Add(TpmsRec(tsBase + 290)).Add(IdleRec(tsBase + 350)).Add(IdleRec(tsBase + 400, 87));
         }),
         sIdleFound + line(" 87%")},
        {"a charge minute first: the IDLE after it is not the drive's",
         drive([](LogBuilder& log) {
             log.Add(TpmsRec(tsBase + 290)).Add(C1mbRec(tsBase + 300, 250, 25)).Add(IdleRec(tsBase + 400, 87));
         }),
         line(" -1%") + "01/01/2010 12:05:00 - 01/01/2010 12:05:00 (00:00:00) Charge  87% ->  87%" +
             sChargeBlankCols + " 25A" + Sp(7) + "   0.0 Ah    0.0 Ah  \n"},
        {"a 30-minute charge record closes the drive and gives its SOC",
         drive([](LogBuilder& log) { log.Add(C30mRec(tsBase + 200, 0, 86, 30)); }),
         "01/01/2010 12:03:20 found 30-minute charge record in forward scan. soc = 86\n" + line(" 86%") +
             "01/01/2010 12:03:20 - 01/01/2010 12:03:20 (00:00:00) Charge  86% ->  86%" + Sp(41) + Sp(6) +
             Sp(11) + "   0.0 Ah    0.0 Ah  \n"},
        {"a record of type 0 closes the drive, is scanned past, and ends the walk",
         drive([](LogBuilder& log) { log.Add(NilRec(tsBase + 290)).Add(IdleRec(tsBase + 400, 87)); }),
         sIdleFound + line(" 87%")},
    });
}

TEST(SummarySessions, TractionControlOffWording)
{
    ASSERT_TRUE(FSetZones("UTC"));
    struct {
        int csec;
        int grfDisplay;
        std::string sTail;
    } rgcase[] = {
        {119, 0, "Wh/mi" + Sp(13) + "TC off for 119 seconds\n"},
        {120, 0, "Wh/mi" + Sp(13) + "TC off for 2 minutes\n"},
        {7199, 0, "Wh/mi" + Sp(13) + "TC off for 119 minutes\n"},
        {7200, 0, "Wh/mi" + Sp(13) + "TC off for 2 hours\n"},
        {120, 0x80, "\t1000\t\tTC off for 2 minutes\n"},
    };
    for (const auto& c : rgcase) {
        LogBuilder log = LogStart();
        AddDrive(log, tsBase + 100, c.csec, 36, 1, 0x41);
        SUMMARYOPT opt;
        opt.grfDisplay = c.grfDisplay;
        std::string sLines = SessionLines(RunSummary(log, opt));
        ASSERT_GE(sLines.size(), c.sTail.size()) << c.csec;
        EXPECT_EQ(sLines.substr(sLines.size() - c.sTail.size()), c.sTail) << c.csec;
    }
}

TEST(SummarySessions, WallToWheelOnlyAfterARefillToTheLastChargeLevel)
{
    ASSERT_TRUE(FSetZones("UTC"));
    struct {
        int pctSOCEnd;
        int crecDrive;    // 72 mph seconds: 61 make 1.2 mi, 41 make 0.8 mi
        std::string sWallToWheel;
    } rgcase[] = {
        {81, 61, Sp(11) + "  87 Wh/mi"},
        {79, 61, Sp(11) + "  87 Wh/mi"},
        {82, 61, Sp(23)},
        {80, 41, Sp(23)},
    };
    for (const auto& c : rgcase) {
        LogBuilder log = LogStart();
        log.Add(C30mRec(tsBase + 1000, 0, 60, 30));
        AddChargeMinutes(log, tsBase + 1010, 2);
        log.Add(C30mRec(tsBase + 1080, 0, 80, 30)).Add(IdleRec(tsBase + 1400, 80));
        log.Add(D10mRec(tsBase + 1950, 80));
        AddDrive(log, tsBase + 2000, c.crecDrive, 72);
        log.Add(TpmsRec(tsBase + 2300)).Add(C30mRec(tsBase + 5000, 0, 70, 30));
        AddChargeMinutes(log, tsBase + 5010, 2);
        log.Add(C30mRec(tsBase + 5080, 0, c.pctSOCEnd, 30)).Add(IdleRec(tsBase + 5400, c.pctSOCEnd));
        std::vector<std::string> rgline = LinesStartingWith(SessionLines(RunSummary(log)), "01/01/2010 13:23:20");
        ASSERT_EQ(rgline.size(), 1u) << c.pctSOCEnd;
        EXPECT_EQ(rgline[0], "01/01/2010 13:23:20 - 01/01/2010 13:24:40 (00:01:20) Charge  70% ->  " +
                                 std::to_string(c.pctSOCEnd) + "%" + sChargeBlankCols +
                                 " 25A of 30A  0.1 kWh   0.0 Ah    0.0 Ah  " + c.sWallToWheel)
            << c.pctSOCEnd << " " << c.crecDrive;
    }
}
