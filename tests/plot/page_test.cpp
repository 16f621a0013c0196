// The page drawn from a report: one chart per histogram with its bars and axis titles, the capacity
// lines and firmware markers, bar geometry worked out by hand, date ticks, and a page that stays
// self-contained and keeps the car's VIN out.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "plot/page.h"
#include "plot/svg.h"
#include "plot_test_util.h"

namespace {

// The label texts of the capacity chart's date axis, in order.
std::vector<std::string> DateLabels(const std::string& strPage)
{
    std::string strChart = ChartOf(strPage, "chart-capacity");
    size_t ibAxis = strChart.find("<g class=\"x-axis\">");
    std::string strAxis = strChart.substr(ibAxis, strChart.find("</g>", ibAxis) - ibAxis);
    std::vector<std::string> rgstr;
    for (size_t ibEnd = strAxis.find("</text>"); ibEnd != std::string::npos; ibEnd = strAxis.find("</text>", ibEnd + 1))
        rgstr.push_back(strAxis.substr(strAxis.rfind('>', ibEnd) + 1, ibEnd - strAxis.rfind('>', ibEnd) - 1));
    return rgstr;
}

TEST(PlotPage, EveryChartHasItsBarsAndAxisTitles)
{
    std::string strPage = PageOf(HandReport());
    struct {
        const char* szId;
        int cBar;
        const char* szXTitle;
        const char* szYTitle;
    } const rgcase[] = {
        {"chart-amps", 2, "charging amps", "seconds"}, {"chart-soc", 2, "soc range %", "seconds"},
        {"chart-temp", 2, "temp C", "seconds"},        {"chart-kmiles", 2, "kmiles", "seconds"},
        {"chart-milesperday", 3, "milesperday", "count"},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szId);
        std::string strChart = ChartOf(strPage, tc.szId);
        ASSERT_NE(strChart, "");
        EXPECT_EQ(CountOf(strChart, "<rect class=\"bar\""), tc.cBar);
        EXPECT_EQ(CountOf(strChart, std::string("\">") + tc.szXTitle + "</text>"), 1);
        EXPECT_EQ(CountOf(strChart, std::string("rotate(-90)\" text-anchor=\"middle\">") + tc.szYTitle + "</text>"), 1);
        EXPECT_EQ(CountOf(strChart, "<svg "), 1);
    }
    EXPECT_EQ(CountOf(strPage, "<figure class=\"chart"), 6);
    EXPECT_NE(ChartOf(strPage, "chart-amps").find("<title>70 charging amps: 14400 seconds</title>"), std::string::npos);

    std::string strCap = ChartOf(strPage, "chart-capacity");
    EXPECT_EQ(CountOf(strCap, "<polyline class=\"series"), 3);
    EXPECT_EQ(CountOf(strCap, "<g class=\"fw\">"), 2);
    EXPECT_NE(strCap.find("<title>firmware 2.0.7 11 from 02/24/2009 03:00:01</title>"), std::string::npos);
    // The markers stand at both ends of the time axis: their labels grow inwards.
    EXPECT_NE(strCap.find("text-anchor=\"start\">1.5.3 4</text>"), std::string::npos);
    EXPECT_NE(strCap.find("text-anchor=\"end\">2.0.7 11</text>"), std::string::npos);
    EXPECT_NE(strCap.find(">Ah</text>"), std::string::npos);
    EXPECT_NE(strCap.find(">date</text>"), std::string::npos);
    // Each polyline has one point per dated row.
    int cLine = 0;
    for (size_t ib = strCap.find("points=\""); ib != std::string::npos; ib = strCap.find("points=\"", ib + 1)) {
        size_t ibStart = ib + std::strlen("points=\"");
        EXPECT_EQ(CountOf(strCap.substr(ibStart, strCap.find('"', ibStart) - ibStart), ","), 3);
        cLine++;
    }
    EXPECT_EQ(cLine, 3);
}

TEST(PlotPage, SummaryLinesAndFirmwareTableAsText)
{
    std::string strPage = PageOf(HandReport());
    EXPECT_NE(strPage.find("<pre>Daily Timestamp from 01/05/2009 03:00:00 to 02/24/2009 03:00:01; 50 days\n"
                           "Detail Timestamp from 02/24/2009 04:00:00 to 03/02/2009 18:00:00; 6 days\n"
                           "Days of detail: 7, odomoter max: 2417</pre>"),
              std::string::npos);
    EXPECT_NE(strPage.find("<tr><td>02/24/2009 03:00:01</td><td>2.0.7 11</td></tr>"), std::string::npos);
    EXPECT_NE(strPage.find("3 daily capacity samples, 2 firmware versions."), std::string::npos);
}

TEST(PlotPage, SelfContainedWithoutTheVin)
{
    std::string strPage = PageOf(HandReport());
    EXPECT_EQ(strPage.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_EQ(strPage.substr(strPage.size() - 8), "</html>\n");
    for (const char* sz : {"<script", "http:", "https:", "//", "url(", " src=", " href=", "<link", "@import", "<img",
                           "<iframe", "<object", "<embed", "@font-face", "SFZRE8B19A3000"}) {
        EXPECT_EQ(strPage.find(sz), std::string::npos) << sz;
    }
    for (unsigned char ch : strPage)
        ASSERT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7F)) << static_cast<int>(ch);
    EXPECT_EQ(PageOf(HandReport()), strPage);
}

TEST(PlotPage, BarGeometry)
{
    // kmiles: one bin (0) of 86400 s. The bin axis runs 0 to 1, so the bin is the whole 404 units
    // of plot width and its bar 80% of that, set in by 10%. Value axis: a step of 20000 (the 1-2-5
    // step near 86400 / 6), topped at 100000; 86400 of it is 183.168 of the 212 units of height.
    std::string strChart = ChartOf(PageOf(SmallReport()), "chart-kmiles");
    EXPECT_NE(strChart.find("<rect class=\"bar\" x=\"102.40\" y=\"42.83\" width=\"323.20\" height=\"183.17\">"),
              std::string::npos)
        << strChart;
    EXPECT_NE(strChart.find(">100k</text>"), std::string::npos);
    EXPECT_EQ(strChart.find(">120k</text>"), std::string::npos);

    // Charging current at bins 0 and 499: 500 bins of 0.808 units each; the tiny bar at 499 is
    // still one unit wide and one high.
    auto prep = NewReport();
    PARSEERR err;
    std::string str = SmallReport();
    ASSERT_TRUE(FParseReport(str.data(), str.size(), prep.get(), &err));
    HIST* phist = &prep->rghist[0];
    phist->rgCount[0] = 1000000;
    phist->rgCount[1] = 0;
    phist->rgCount[499] = 1;
    phist->iLast = 499;
    phist->countMax = 1000000;
    phist->cNonZero = 2;
    std::string strPage;
    WritePage(prep.get(), &strPage);
    strChart = ChartOf(strPage, "chart-amps");
    EXPECT_NE(strChart.find("<rect class=\"bar\" x=\"465.19\" y=\"225.00\" width=\"1.00\" height=\"1.00\">"),
              std::string::npos)
        << strChart;
    EXPECT_NE(strChart.find(">500</text>"), std::string::npos);
}

TEST(PlotPage, DateTicksFollowTheSpan)
{
    // 50 days: weekly ticks from the first midnight after the first sample.
    EXPECT_EQ(DateLabels(PageOf(HandReport())),
              (std::vector<std::string>{"01/06/2009", "01/13/2009", "01/20/2009", "01/27/2009", "02/03/2009",
                                        "02/10/2009", "02/17/2009", "02/24/2009"}));

    // 599 days: quarters; 01/2009 begins before the first sample and is left out.
    auto rgstr = SmallReportLines();
    rgstr.insert(rgstr.begin() + 24, "08/27/2010 03:00:00, 150.00, 158.00, 3, 155.00");
    EXPECT_EQ(DateLabels(PageOf(JoinLines(rgstr))),
              (std::vector<std::string>{"04/2009", "07/2009", "10/2009", "01/2010", "04/2010", "07/2010"}));

    // Nine years: yearly ticks.
    rgstr[24] = "08/27/2018 03:00:00, 150.00, 158.00, 3, 155.00";
    EXPECT_EQ(DateLabels(PageOf(JoinLines(rgstr))),
              (std::vector<std::string>{"2010", "2012", "2014", "2016", "2018"}));
}

TEST(PlotPage, EmptyAndSingleSampleReports)
{
    // What a run over no samples prints.
    std::string strEmpty = "------, -------\ncharging amps, seconds\n"
                           "------, -------\nsoc range %, seconds\n"
                           "------, -------\ntemp C, seconds\n"
                           "------, -------\nkmiles, seconds\n"
                           "------, -------\nmilesperday, count\n"
                           "--------------\ntimestamp, brickahmin, brickahave, bricknumber, CAC\n"
                           "--------------\ntimestamp, firmware version\n"
                           "Daily Timestamp from ------------------- to -------------------; 0 days\n"
                           "Detail Timestamp from ------------------- to -------------------; 0 days\n"
                           "Days of detail: 0, odomoter max: 0\n";
    std::string strPage = PageOf(strEmpty);
    EXPECT_EQ(CountOf(strPage, ">no samples</text>"), 5);
    EXPECT_EQ(CountOf(strPage, ">no daily samples</text>"), 1);
    EXPECT_EQ(CountOf(strPage, "class=\"bar\""), 0);
    EXPECT_EQ(CountOf(strPage, "class=\"series"), 0);
    EXPECT_NE(strPage.find("No firmware version in this report."), std::string::npos);
    EXPECT_EQ(strPage.find("nan"), std::string::npos);
    EXPECT_EQ(strPage.find("inf"), std::string::npos);

    // One daily sample: a dot per series instead of a line.
    strPage = PageOf(SmallReport());
    EXPECT_EQ(CountOf(strPage, "<circle class=\"series"), 3);
    EXPECT_EQ(CountOf(strPage, "<polyline"), 0);
}

}  // namespace

// The charts' points skip printf for speed; their digits must stay printf's, ties and signs included.
TEST(PlotPage, FixedPointsAreWrittenAsPrintfWritesThem)
{
    double const rgv[] = {0,     -0.0,   0.05,  0.15,   0.25,    -0.04,  -0.05, 2.675,        1.005, 123456.789,
                          1e20,  -1e-9,  99.95, 1e300,  5e-324,  0.5,    1.5,   2.5,          -2.5,  0.125,
                          0.375, 0.45,  0.55,  8.345,  1099.95, 7.0 / 3, -1234.5678, 4294967295.0, 1e-3, 1e15 + 0.5, 0.0625};
    for (double v : rgv) {
        for (int cDigits = 0; cDigits <= 3; cDigits++) {
            std::string str;
            AppendFixed(&str, v, cDigits);
            char ach[400];
            snprintf(ach, sizeof ach, "%.*f", cDigits, v);
            EXPECT_EQ(str, ach) << v << " with " << cDigits << " digits";
        }
    }
    // And chart coordinates of every size, from a fixed sequence: sums of halves, near halves, and
    // values on both sides of where the quick path stops.
    uint64_t u = 88172645463325252ull;
    for (int i = 0; i < 40000; i++) {
        u ^= u << 13, u ^= u >> 7, u ^= u << 17;
        double v = ((double)(u % 2000000001) - 1000000000) / (double)(1u << (u >> 60));
        if (i % 4 == 1)
            v = std::nextafter(v, 0.0);
        else if (i % 4 == 2)
            v *= 1000.003;
        int const cDigits = (int)(u >> 20) % 4;
        std::string str;
        AppendFixed(&str, v, cDigits);
        char ach[64];
        snprintf(ach, sizeof ach, "%.*f", cDigits, v);
        ASSERT_EQ(str, ach) << v << " with " << cDigits << " digits";
    }
}
