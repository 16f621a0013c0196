// Reports written by hand in the format `quenfell -b` prints, and small helpers shared by the
// quenfell-plot tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "plot/page.h"
#include "plot/studyreport.h"

// Rows "j, 0" for j from iFirst to iLast, as a trimmed histogram prints its empty bins.
inline std::string ZeroRows(int iFirst, int iLast)
{
    std::string str;
    for (int j = iFirst; j <= iLast; j++)
        str += std::to_string(j) + ", 0\n";
    return str;
}

// A report as a real run prints it: messages of the collection and of the passes first, then the
// report. Histogram bins and table rows are chosen so that every count below is easy to check.
inline std::string HandReport()
{
    return "skip permanent records until a timestamp matching 01/05/2009 03:00:00 is found\n"
           "VIN: SFZRE8B19A3000123\n"
           "mismatched VINs: SFZRE8B19A3000123 and SFZRE8B19A3000999\n"
           "T skip 03/02/2009 10:00:00 IDLE\n"
           "timeline gap from 02/20/2009 03:00:00 to 02/24/2009 03:00:00 (4 days) in long-term section\n"
           "03/01/2009 10:00:00: SOC value '101' out of range\n"
           "------, -------\n"
           "charging amps, seconds\n" +
           ZeroRows(0, 31) + "32, 7080\n" + ZeroRows(33, 69) + "70, 14400\n" +
           "------, -------\n"
           "soc range %, seconds\n" +
           ZeroRows(0, 77) + "78, 3600\n79, 0\n80, 10800\n" +
           "------, -------\n"
           "temp C, seconds\n" +
           ZeroRows(0, 21) + "22, 6960\n" + ZeroRows(23, 26) + "27, 120\n" +
           "------, -------\n"
           "kmiles, seconds\n"
           "0, 0\n1, 172800\n2, 86400\n"
           "------, -------\n"
           "milesperday, count\n"
           "0, 3\n" +
           ZeroRows(1, 35) + "36, 1\n" + ZeroRows(37, 998) + "999, 1\n" +
           "--------------\n"
           "timestamp, brickahmin, brickahave, bricknumber, CAC\n"
           "01/05/2009 03:00:00, 152.31, 160.02, 17, 158.40\n"
           "01/06/2009 03:00:00, 152.30, 160.00, 17, 158.38\n"
           "02/24/2009 03:00:00, 151.90, 159.75, 42, 157.96\n"
           "--------------\n"
           "timestamp, firmware version\n"
           "01/05/2009 03:00:00, 1.5.3 4\n"
           "02/24/2009 03:00:01, 2.0.7 11\n"
           "Daily Timestamp from 01/05/2009 03:00:00 to 02/24/2009 03:00:01; 50 days\n"
           "Detail Timestamp from 02/24/2009 04:00:00 to 03/02/2009 18:00:00; 6 days\n"
           "Days of detail: 7, odomoter max: 2417\n";
}

// The smallest useful report, one line per entry so that line numbers can be counted:
// line 2 is the first histogram header, line 22 the table rule, line 30 the last summary line.
inline std::vector<std::string> SmallReportLines()
{
    return {
        "VIN: SFZRE8B19A3000123",                                                     // 1
        "------, -------",                                                            // 2
        "charging amps, seconds",                                                     // 3
        "0, 0",                                                                       // 4
        "1, 60",                                                                      // 5
        "------, -------",                                                            // 6
        "soc range %, seconds",                                                       // 7
        "0, 0",                                                                       // 8
        "1, 0",                                                                       // 9
        "2, 3600",                                                                    // 10
        "------, -------",                                                            // 11
        "temp C, seconds",                                                            // 12
        "0, 0",                                                                       // 13
        "1, 120",                                                                     // 14
        "------, -------",                                                            // 15
        "kmiles, seconds",                                                            // 16
        "0, 86400",                                                                   // 17
        "------, -------",                                                            // 18
        "milesperday, count",                                                         // 19
        "0, 2",                                                                       // 20
        "1, 1",                                                                       // 21
        "--------------",                                                             // 22
        "timestamp, brickahmin, brickahave, bricknumber, CAC",                        // 23
        "01/05/2009 03:00:00, 152.31, 160.02, 17, 158.40",                            // 24
        "--------------",                                                             // 25
        "timestamp, firmware version",                                                // 26
        "01/05/2009 03:00:00, 1.5.3 4",                                               // 27
        "Daily Timestamp from 01/05/2009 03:00:00 to 01/05/2009 03:00:00; 0 days",    // 28
        "Detail Timestamp from ------------------- to -------------------; 0 days",   // 29
        "Days of detail: 0, odomoter max: 1234",                                      // 30
    };
}

inline std::string JoinLines(const std::vector<std::string>& rgstr)
{
    std::string str;
    for (auto const& s : rgstr)
        str += s + "\n";
    return str;
}

inline std::string SmallReport()
{
    return JoinLines(SmallReportLines());
}

// REPORT is a megabyte: tests keep theirs on the heap.
inline std::unique_ptr<REPORT> NewReport()
{
    return std::make_unique<REPORT>();
}

// The page drawn from a report that must parse.
inline std::string PageOf(const std::string& strReport)
{
    auto prep = NewReport();
    PARSEERR err;
    EXPECT_TRUE(FParseReport(strReport.data(), strReport.size(), prep.get(), &err)) << err.achMsg;
    std::string strPage;
    WritePage(prep.get(), &strPage);
    return strPage;
}

inline int CountOf(const std::string& str, const std::string& strPart)
{
    int c = 0;
    for (size_t ib = str.find(strPart); ib != std::string::npos; ib = str.find(strPart, ib + strPart.size()))
        c++;
    return c;
}

// The part of a page from the figure with this id to the end of that figure.
inline std::string ChartOf(const std::string& strPage, const std::string& strId)
{
    size_t ibStart = strPage.find("<figure class=\"chart");
    for (; ibStart != std::string::npos; ibStart = strPage.find("<figure class=\"chart", ibStart + 1)) {
        size_t ibEnd = strPage.find("</figure>", ibStart);
        std::string strFigure = strPage.substr(ibStart, ibEnd - ibStart);
        if (strFigure.find("id=\"" + strId + "\"") != std::string::npos)
            return strFigure;
    }
    return "";
}
