// Reading a battery study report back: the numbers of a hand-written report, the variations a real
// file brings (line ends, tar prefixes, trailing text), every kind of broken report with the line
// it names, and damaged reports that must never crash the reader.
#include <gtest/gtest.h>

#include <random>

#include "plot/page.h"
#include "plot_test_util.h"

namespace {

TEST(PlotReport, ReadsEveryPartOfAHandWrittenReport)
{
    auto prep = NewReport();
    PARSEERR err;
    std::string str = HandReport();
    ASSERT_TRUE(FParseReport(str.data(), str.size(), prep.get(), &err)) << err.iLine << ": " << err.achMsg;
    EXPECT_EQ(prep->iLineFirst, 7);

    struct {
        const char* szTitle;
        const char* szUnit;
        int cBin, cRow, cNonZero, iLast, countMax;
        std::vector<std::pair<int, int>> rgbin;   // bins with a count
    } const rgexpect[cHistReport] = {
        {"charging amps", "seconds", 500, 71, 2, 70, 14400, {{32, 7080}, {70, 14400}}},
        {"soc range %", "seconds", 101, 81, 2, 80, 10800, {{78, 3600}, {80, 10800}}},
        {"temp C", "seconds", 200, 28, 2, 27, 6960, {{22, 6960}, {27, 120}}},
        {"kmiles", "seconds", 500, 3, 2, 2, 172800, {{1, 172800}, {2, 86400}}},
        {"milesperday", "count", 1000, 1000, 3, 999, 3, {{0, 3}, {36, 1}, {999, 1}}},
    };
    for (int ihist = 0; ihist < cHistReport; ihist++) {
        HIST const& hist = prep->rghist[ihist];
        auto const& expect = rgexpect[ihist];
        SCOPED_TRACE(expect.szTitle);
        EXPECT_STREQ(hist.szTitle, expect.szTitle);
        EXPECT_STREQ(hist.szUnit, expect.szUnit);
        EXPECT_EQ(hist.cBin, expect.cBin);
        EXPECT_EQ(hist.cRow, expect.cRow);
        EXPECT_EQ(hist.cNonZero, expect.cNonZero);
        EXPECT_EQ(hist.iLast, expect.iLast);
        EXPECT_EQ(hist.countMax, expect.countMax);
        int cSeen = 0;
        for (int iBin = 0; iBin < hist.cBin; iBin++) {
            if (hist.rgCount[iBin] == 0)
                continue;
            ASSERT_LT(cSeen, static_cast<int>(expect.rgbin.size()));
            EXPECT_EQ(iBin, expect.rgbin[static_cast<size_t>(cSeen)].first);
            EXPECT_EQ(hist.rgCount[iBin], expect.rgbin[static_cast<size_t>(cSeen)].second);
            cSeen++;
        }
        EXPECT_EQ(cSeen, static_cast<int>(expect.rgbin.size()));
    }

    ASSERT_EQ(prep->ccap, 3);
    CAPROW const& cap = prep->rgcap[2];
    EXPECT_STREQ(cap.date.achText, "02/24/2009 03:00:00");
    EXPECT_TRUE(cap.date.fDated);
    EXPECT_DOUBLE_EQ(cap.ahBrickMin, 151.90);
    EXPECT_DOUBLE_EQ(cap.ahBrickAve, 159.75);
    EXPECT_EQ(cap.iBrickAhMin, 42);
    EXPECT_DOUBLE_EQ(cap.ahCAC, 157.96);
    // 01/05/2009 03:00:00 is day 14249 after 01/01/1970 (39 years with 10 leap days, and 4 more).
    EXPECT_EQ(prep->rgcap[0].date.secCivil, 14249LL * 86400 + 3 * 3600);
    EXPECT_EQ(prep->rgcap[1].date.secCivil - prep->rgcap[0].date.secCivil, 86400);

    ASSERT_EQ(prep->cfw, 2);
    EXPECT_STREQ(prep->rgfw[0].achVersion, "1.5.3 4");
    EXPECT_STREQ(prep->rgfw[1].achVersion, "2.0.7 11");
    EXPECT_EQ(prep->rgfw[1].date.secCivil - prep->rgcap[2].date.secCivil, 1);

    EXPECT_STREQ(prep->spanDaily.dateFrom.achText, "01/05/2009 03:00:00");
    EXPECT_STREQ(prep->spanDaily.dateTo.achText, "02/24/2009 03:00:01");
    EXPECT_EQ(prep->spanDaily.cDays, 50);
    EXPECT_STREQ(prep->spanDetail.dateFrom.achText, "02/24/2009 04:00:00");
    EXPECT_EQ(prep->spanDetail.cDays, 6);
    EXPECT_EQ(prep->cDaysDetail, 7);
    EXPECT_EQ(prep->milesOdoMax, 2417);
}

TEST(PlotReport, DashedDatesReadAsUndated)
{
    auto prep = NewReport();
    PARSEERR err;
    std::string str = SmallReport();
    ASSERT_TRUE(FParseReport(str.data(), str.size(), prep.get(), &err)) << err.iLine << ": " << err.achMsg;
    EXPECT_FALSE(prep->spanDetail.dateFrom.fDated);
    EXPECT_STREQ(prep->spanDetail.dateTo.achText, "-------------------");
    EXPECT_TRUE(prep->spanDaily.dateFrom.fDated);
}

// Files that hold the same report in another shape read the same.
TEST(PlotReport, VariationsOfTheSameReport)
{
    std::string strPlain = SmallReport();
    std::string strCrlf;
    for (char ch : strPlain)
        strCrlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    std::vector<std::string> rgstrPrefixed = SmallReportLines();
    rgstrPrefixed.erase(rgstrPrefixed.begin());
    std::vector<std::string> rgstrBare = rgstrPrefixed;
    rgstrPrefixed[0] = "downloads/2009" + rgstrPrefixed[0];

    struct {
        const char* szName;
        std::string str;
        int iLineFirst;
    } const rgcase[] = {
        {"as printed", strPlain, 2},
        {"carriage returns", strCrlf, 2},
        {"without the last line feed", strPlain.substr(0, strPlain.size() - 1), 2},
        {"tar prefix glued before the first header", JoinLines(rgstrPrefixed), 1},
        {"no messages before the report", JoinLines(rgstrBare), 1},
        {"help screen after the report", strPlain + "\nQuenfell version " QF_VERSION "\nusage: Quenfell ...\n", 2},
        {"messages before it with stray bytes",
         std::string("Analyze: a.tar\n\x01\xff") + std::string(1, '\0') + "junk\n" + strPlain, 4},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        auto prep = NewReport();
        PARSEERR err;
        ASSERT_TRUE(FParseReport(tc.str.data(), tc.str.size(), prep.get(), &err)) << err.iLine << ": " << err.achMsg;
        EXPECT_EQ(prep->iLineFirst, tc.iLineFirst);
        EXPECT_EQ(prep->rghist[0].rgCount[1], 60);
        EXPECT_EQ(prep->rghist[4].cRow, 2);
        EXPECT_EQ(prep->ccap, 1);
        EXPECT_DOUBLE_EQ(prep->rgcap[0].ahCAC, 158.40);
        EXPECT_EQ(prep->milesOdoMax, 1234);
    }
}

std::string Replaced(int iLine, const std::string& str)
{
    auto rgstr = SmallReportLines();
    rgstr[static_cast<size_t>(iLine - 1)] = str;
    return JoinLines(rgstr);
}

std::string Removed(int iLine)
{
    auto rgstr = SmallReportLines();
    rgstr.erase(rgstr.begin() + (iLine - 1));
    return JoinLines(rgstr);
}

std::string CutAfter(int iLine)
{
    auto rgstr = SmallReportLines();
    rgstr.resize(static_cast<size_t>(iLine));
    return JoinLines(rgstr);
}

TEST(PlotReport, BrokenReportsNameTheLine)
{
    struct {
        const char* szName;
        std::string str;
        int iLine;
        const char* szMsg;
    } const rgcase[] = {
        {"empty", "", 1, "no battery report found (no \"------, -------\" histogram header)"},
        {"messages only", CutAfter(1), 2, "no battery report found (no \"------, -------\" histogram header)"},
        {"ends after a header", CutAfter(2), 3, "the report ends inside the \"charging amps\" histogram"},
        {"ends among rows", CutAfter(9), 10, "the report ends inside the \"soc range %\" histogram"},
        {"second header missing", Removed(6), 6,
         "expected a row of the \"charging amps\" histogram or the header \"------, -------\", found \"soc range %, "
         "seconds\""},
        {"wrong title", Replaced(12, "temp F, seconds"), 12,
         "expected the histogram title \"temp C, seconds\", found \"temp F, seconds\""},
        {"title of another histogram", Replaced(7, "temp C, seconds"), 7,
         "expected the histogram title \"soc range %, seconds\", found \"temp C, seconds\""},
        {"bin past the histogram", Replaced(9, "101, 5"), 9,
         "bin 101 is outside the \"soc range %\" histogram (0 to 100)"},
        {"negative bin", Replaced(4, "-1, 5"), 4, "bin -1 is outside the \"charging amps\" histogram (0 to 499)"},
        {"bins out of order", Replaced(9, "0, 7"), 9, "bin 0 of the \"soc range %\" histogram comes after bin 0"},
        {"negative count", Replaced(14, "1, -120"), 14, "negative count -120 in the \"temp C\" histogram"},
        {"count too large for the report", Replaced(17, "0, 2147483648"), 17,
         "expected a row of the \"kmiles\" histogram or the header \"------, -------\", found \"0, 2147483648\""},
        {"last histogram not closed", Replaced(22, "timestamp, brickahmin"), 22,
         "expected a row of the \"milesperday\" histogram or the rule \"--------------\", found \"timestamp, "
         "brickahmin\""},
        {"ends inside the last histogram", CutAfter(21), 22, "the report ends inside the \"milesperday\" histogram"},
        {"capacity heading missing", Removed(23), 23,
         "expected the capacity table heading, found \"01/05/2009 03:00:00, 152.31, 160.02, 17,...\""},
        {"date without seconds", Replaced(24, "01/05/2009 03:00, 152.31, 160.02, 17, 158.40"), 24,
         "expected a capacity row \"date, brickahmin, brickahave, bricknumber, CAC\", found \"01/05/2009 03:00, "
         "152.31, 160.02, 17, 15...\""},
        {"month 13", Replaced(24, "13/05/2009 03:00:00, 152.31, 160.02, 17, 158.40"), 24,
         "expected a capacity row \"date, brickahmin, brickahave, bricknumber, CAC\", found \"13/05/2009 03:00:00, "
         "152.31, 160.02, 17,...\""},
        {"february 30", Replaced(24, "02/30/2009 03:00:00, 152.31, 160.02, 17, 158.40"), 24,
         "expected a capacity row \"date, brickahmin, brickahave, bricknumber, CAC\", found \"02/30/2009 03:00:00, "
         "152.31, 160.02, 17,...\""},
        {"not a number", Replaced(24, "01/05/2009 03:00:00, nan, 160.02, 17, 158.40"), 24,
         "expected a capacity row \"date, brickahmin, brickahave, bricknumber, CAC\", found \"01/05/2009 03:00:00, "
         "nan, 160.02, 17, 15...\""},
        {"ends inside the capacity table", CutAfter(24), 25, "the report ends inside the capacity table"},
        {"firmware heading missing", Removed(26), 26,
         "expected the firmware table heading, found \"01/05/2009 03:00:00, 1.5.3 4\""},
        {"version of three numbers", Replaced(27, "01/05/2009 03:00:00, 1.5 4"), 27,
         "expected a firmware row \"date, a.b.c d\", found \"01/05/2009 03:00:00, 1.5 4\""},
        {"ends inside the firmware table", CutAfter(27), 28, "the report ends inside the firmware table"},
        {"detail line missing", CutAfter(28), 29, "the report ends before its \"Detail Timestamp\" line"},
        {"detail line damaged", Replaced(29, "Detail Timestamp from ------------------- to; 0 days"), 29,
         "expected \"Detail Timestamp from DATE to DATE; N days\", found \"Detail Timestamp from "
         "------------------...\""},
        {"days line missing", CutAfter(29), 30, "the report ends before its \"Days of detail\" line"},
        {"days line damaged", Replaced(30, "Days of detail: 0, odometer max: 1234"), 30,
         "expected \"Days of detail: N, odomoter max: N\", found \"Days of detail: 0, odometer max: 1234\""},
        {"control bytes quoted safely", Replaced(3, std::string("charging\x1b[2J amps\t")), 3,
         "expected the histogram title \"charging amps, seconds\", found \"charging?[2J amps?\""},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szName);
        auto prep = NewReport();
        PARSEERR err;
        EXPECT_FALSE(FParseReport(tc.str.data(), tc.str.size(), prep.get(), &err));
        EXPECT_EQ(err.iLine, tc.iLine);
        EXPECT_STREQ(err.achMsg, tc.szMsg);
    }
}

TEST(PlotReport, TablesBeyondWhatTheCollectorHoldsAreRefused)
{
    auto rgstr = SmallReportLines();
    std::vector<std::string> rgstrRows(cCapRowMax, "01/05/2009 03:00:00, 152.31, 160.02, 17, 158.40");
    rgstr.insert(rgstr.begin() + 24, rgstrRows.begin(), rgstrRows.end());   // 7301 rows from line 24 on
    std::string str = JoinLines(rgstr);
    auto prep = NewReport();
    PARSEERR err;
    EXPECT_FALSE(FParseReport(str.data(), str.size(), prep.get(), &err));
    EXPECT_EQ(err.iLine, 24 + cCapRowMax);
    EXPECT_STREQ(err.achMsg, "more than 7300 rows in the capacity table");

    rgstr.erase(rgstr.begin() + 24, rgstr.begin() + 25);   // exactly 7300 rows read
    str = JoinLines(rgstr);
    EXPECT_TRUE(FParseReport(str.data(), str.size(), prep.get(), &err)) << err.achMsg;
    EXPECT_EQ(prep->ccap, cCapRowMax);
}

// Damaged copies of a real-shaped report: the reader either reads them or names a line inside the
// text (or just past it), and a page can be drawn from whatever it read. Under the sanitizers this
// also shows that nothing is read or written outside the buffers.
TEST(PlotReport, DamagedReportsNeverCrash)
{
    std::string strGood = SmallReport();
    std::string strHand = HandReport();
    std::mt19937 rng(12345);
    auto prep = NewReport();
    for (int iCase = 0; iCase < 3000; iCase++) {
        std::string str = iCase % 2 ? strGood : strHand;
        int cEdit = 1 + static_cast<int>(rng() % 4);
        for (int iEdit = 0; iEdit < cEdit && !str.empty(); iEdit++) {
            size_t ib = rng() % str.size();
            switch (rng() % 5) {
            case 0: str[ib] = static_cast<char>(rng()); break;
            case 1: str.erase(ib, 1 + rng() % 40); break;
            case 2: str.insert(ib, std::string(1 + rng() % 8, static_cast<char>(rng()))); break;
            case 3: str.resize(ib); break;
            default: str.insert(ib, str.substr(ib, rng() % 200)); break;
            }
        }
        int cLine = 0;
        for (char ch : str)
            cLine += ch == '\n';
        PARSEERR err;
        if (FParseReport(str.data(), str.size(), prep.get(), &err)) {
            std::string strPage;
            WritePage(prep.get(), &strPage);
            ASSERT_EQ(strPage.substr(strPage.size() - 8), "</html>\n");
        } else {
            ASSERT_GE(err.iLine, 1);
            ASSERT_LE(err.iLine, cLine + 2) << str;
            ASSERT_NE(err.achMsg[0], 0);
        }
    }
}

TEST(PlotReport, CivilDatesRoundTrip)
{
    struct {
        int year, month, day;
        int64_t days;   // since 01/01/1970, counted by hand
    } const rgcase[] = {
        {1970, 1, 1, 0}, {1969, 12, 31, -1}, {2000, 2, 29, 11016}, {2000, 3, 1, 11017},
        {2009, 1, 5, 14249}, {2100, 3, 1, 47541}, {1, 1, 1, -719162},
    };
    for (auto const& tc : rgcase) {
        EXPECT_EQ(SecFromCivil(tc.year, tc.month, tc.day, 0, 0, 0), tc.days * 86400) << tc.year;
        int year, month, day;
        CivilFromSec(tc.days * 86400 + 86399, &year, &month, &day);
        EXPECT_EQ(year * 10000 + month * 100 + day, tc.year * 10000 + tc.month * 100 + tc.day);
    }
}

}  // namespace
