// The quenfell-plot program: where it reads and writes, its messages and exit status, and the whole
// road from a download through `quenfell -b` to a page.
#include <gtest/gtest.h>

#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "plot_test_util.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const szTz = "America/Los_Angeles";
constexpr uint32_t ts0101 = 1262390400 - 86400;   // 01/01/2010 00:00:00 UTC

RunResult RunPlot(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{QF_PLOT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv);
}

RunResult RunPlotOnStdin(const std::string& path, const std::string& strArg)
{
    std::string strScript = strArg.empty() ? "exec \"$0\" < \"$1\"" : "exec \"$0\" - < \"$1\"";
    return RunProgram({"/bin/sh", "-c", strScript, QF_PLOT_BINARY, path});
}

// Non-zero histogram rows of a report, counted straight from its text.
int CNonZeroRows(const std::string& strReport)
{
    std::istringstream iss(strReport.substr(0, strReport.find("\n--------------\n")));
    int cRow = 0;
    for (std::string strLine; std::getline(iss, strLine);) {
        size_t ibComma = strLine.find(", ");
        bool fRow = ibComma != std::string::npos && ibComma > 0 && ibComma + 2 < strLine.size() &&
                    strLine.find_first_not_of("0123456789") == ibComma &&
                    strLine.find_first_not_of("0123456789", ibComma + 2) == std::string::npos;
        if (fRow && strLine[ibComma + 2] != '0')
            cRow++;
    }
    return cRow;
}

class PlotProgram : public testing::Test {
protected:
    void SetUp() override
    {
        dir = TempDir();
        pathReport = dir + "/output.txt";
        WriteText(pathReport, HandReport());
    }
    std::string dir;
    std::string pathReport;
};

TEST_F(PlotProgram, ReadsAFileOrStandardInputAndWritesStandardOutputOrAFile)
{
    RunResult res = RunPlot({pathReport});
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.out.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_EQ(CountOf(res.out, "<rect class=\"bar\""), 11);

    for (const char* szArg : {"", "-"}) {
        RunResult resStdin = RunPlotOnStdin(pathReport, szArg);
        EXPECT_EQ(resStdin.status, 0) << szArg;
        EXPECT_EQ(resStdin.out, res.out) << szArg;
    }

    std::string pathPage = dir + "/battery.html";
    RunResult resFile = RunPlot({"-o", pathPage, pathReport});
    EXPECT_EQ(resFile.status, 0);
    EXPECT_EQ(resFile.out, "");
    EXPECT_EQ(ReadText(pathPage), res.out);
}

TEST_F(PlotProgram, FailuresSayWhyAndExitWithOne)
{
    std::string pathBroken = dir + "/broken.txt";
    std::string const szUsage =
        "usage: quenfell-plot [-m] [-z zone] [--price PRICE[,OFFPEAK@HH:MM-HH:MM]] [-o page.html] "
        "[report.txt|-|car.db|log...]\n";
    LogBuilder lb;
    lb.Add(VinfRec(ts0101, false, "SFZRE8B19A3000123")).Add(IdleRec(ts0101 + 3600, 80));
    lb.WriteTar(dir + "/1.tar");
    WriteBytes(dir + "/2.tar", MakeTar({{"readme.txt", {'h', 'i', '\n'}}}));
    auto rgstr = SmallReportLines();
    rgstr.resize(9);
    WriteText(pathBroken, JoinLines(rgstr));

    struct {
        std::vector<std::string> args;
        std::string err;
    } const rgcase[] = {
        {{pathBroken}, "quenfell-plot: line 10: the report ends inside the \"soc range %\" histogram\n"},
        {{dir + "/missing.txt"}, "quenfell-plot: can't open '" + dir + "/missing.txt': No such file or directory\n"},
        {{dir}, "quenfell-plot: can't read '" + dir + "': Is a directory\n"},
        {{"-x", pathReport}, szUsage},
        {{"--price", "0,30", dir + "/1.tar"},
         "quenfell-plot: --price '0,30': an off-peak price is written 0.12@23:00-07:00\n"},
        {{"--price", "-1", dir + "/1.tar"}, "quenfell-plot: --price '-1': a price is a number of 0 or more, such as 0.30\n"},
        {{"--price", "0.3,0.1@23:00-7:00", dir + "/1.tar"},
         "quenfell-plot: --price '0.3,0.1@23:00-7:00': an off-peak window is written HH:MM-HH:MM, such as 23:00-07:00\n"},
        {{pathReport, pathReport}, "quenfell-plot: '" + pathReport + "' is a battery report: it is drawn alone\n"},
        {{"-", pathReport}, szUsage},
        {{pathReport, "-o"}, szUsage},
        {{pathReport, "-z"}, szUsage},
        {{"-z", "Nowhere/Atlantis", dir + "/1.tar", dir + "/2.tar"}, "quenfell-plot: unknown time zone 'Nowhere/Atlantis'\n"},
        {{dir + "/1.tar", dir + "/none.tar"}, "quenfell-plot: can't open '" + dir + "/none.tar': No such file or directory\n"},
        {{dir + "/1.tar", dir + "/2.tar"}, "quenfell-plot: could not find vms_log in '" + dir + "/2.tar'\n"},
        {{"-o", dir + "/no/such/dir/page.html", pathReport},
         "quenfell-plot: can't create '" + dir + "/no/such/dir/page.html': No such file or directory\n"},
    };
    for (auto const& tc : rgcase) {
        RunResult res = RunPlot(tc.args);
        EXPECT_EQ(res.status, 1) << tc.err;
        EXPECT_EQ(res.out, "");
        EXPECT_EQ(res.err, tc.err);
    }

    // A report that does not read leaves the page of an earlier run as it was.
    std::string pathPage = dir + "/battery.html";
    WriteText(pathPage, "earlier page");
    RunResult res = RunPlot({"-o", pathPage, pathBroken});
    EXPECT_EQ(res.status, 1);
    EXPECT_EQ(ReadText(pathPage), "earlier page");

    res = RunPlot({"-h"});
    EXPECT_EQ(res.status, 0);
    EXPECT_EQ(res.out, szUsage);
}

// One file is drawn by what it holds, whatever its name: a report (even with a damaged VIN printed
// into it) gives the battery page, a log (even one that starts with erased flash) the car's page.
TEST_F(PlotProgram, AReportOrALogByContent)
{
    std::string strOddVin = HandReport();
    size_t ibVin = strOddVin.find("VIN: ") + 5;
    strOddVin.replace(ibVin, 6, "\xC3\x01\xFF\x7F\x1B\x80");
    LogBuilder lb;
    lb.Add(VinfRec(ts0101, false, "SFZRE8B19A3000123")).Add(IdleRec(ts0101 + 3600, 80));
    LogBuilder lbErased;
    lbErased.Garbage(5000, 0xFF).Add(VinfRec(ts0101, false, "SFZRE8B19A3000123")).Add(IdleRec(ts0101 + 3600, 80));
    struct {
        const char* szName;
        Bytes bytes;
        const char* szTitle;
    } const rgcase[] = {
        {"report.txt", Bytes(strOddVin.begin(), strOddVin.end()), "<title>Battery study</title>"},
        {"report.log", Bytes(strOddVin.begin(), strOddVin.end()), "<title>Battery study</title>"},
        {"output.txt", lb.Data(), "<title>The car</title>"},
        {"vms_log", lbErased.Data(), "<title>The car</title>"},
    };
    for (auto const& tc : rgcase) {
        WriteBytes(dir + "/" + tc.szName, tc.bytes);
        RunResult res = RunPlot({dir + "/" + tc.szName});
        EXPECT_EQ(res.status, 0) << tc.szName << ": " << res.err;
        EXPECT_NE(res.out.find(tc.szTitle), std::string::npos) << tc.szName;
    }
}

// A download through the real program: two daily samples, one vehicle-info record each in the
// long-term and the transient part, and two minutes of charging at 32 A on 240 V.
TEST_F(PlotProgram, PageFromARealBatteryStudyRun)
{
    const std::string vin = "SFZRE8B19A3000123";
    LogBuilder lb;
    lb.Add(VinfRec(ts0101, true, vin))
        .Add(DayRec(ts0101 + 60, 1234.5, 0x1000, 80))
        .Add(DayRec(ts0101 + 86400 + 60, 1270.5, 0x1000, 70))
        .Add(VinfRec(ts0101 + 120, false, vin))
        .Add(IdleRec(ts0101 + 3600, 80))
        .Add(C1mbRec(ts0101 + 3660, 240, 32))
        .Add(C1mbRec(ts0101 + 3720, 240, 32))
        .Add(IdleRec(ts0101 + 7200, 79));
    std::string pathTar = dir + "/201001051200.tar";
    lb.WriteTar(pathTar);

    RunResult resStudy = RunQuenfell({"-b", pathTar}, szTz);
    ASSERT_EQ(resStudy.status, 0) << resStudy.err;
    ASSERT_NE(resStudy.out.find("VIN: " + vin + "\n"), std::string::npos) << resStudy.out;
    WriteText(pathReport, resStudy.out);

    auto prep = NewReport();
    PARSEERR err;
    ASSERT_TRUE(FParseReport(resStudy.out.data(), resStudy.out.size(), prep.get(), &err))
        << err.iLine << ": " << err.achMsg;
    EXPECT_EQ(prep->rghist[0].cNonZero, 1);
    EXPECT_EQ(prep->rghist[0].iLast, 32);
    EXPECT_EQ(prep->ccap, 2);
    EXPECT_EQ(prep->cfw, 1);
    EXPECT_EQ(prep->milesOdoMax, 1270);

    RunResult res = RunPlot({pathReport});
    ASSERT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(CountOf(ChartOf(res.out, "chart-amps"), "<rect class=\"bar\""), 1);
    EXPECT_EQ(CountOf(res.out, "<rect class=\"bar\""), CNonZeroRows(resStudy.out));
    EXPECT_EQ(CountOf(ChartOf(res.out, "chart-capacity"), "<polyline class=\"series"), 3);
    EXPECT_EQ(res.out.find(vin), std::string::npos);
}

// A log without vehicle-info records prints nothing before the report, so the name prefix of a
// ustar member in the download ends up glued to the first histogram header.
TEST_F(PlotProgram, TarPrefixGluedToTheFirstHeader)
{
    LogBuilder lb;
    lb.Add(DayRec(ts0101 + 60, 1234.5, 0x1000, 80)).Add(IdleRec(ts0101 + 3600, 80));
    Bytes tar = MakeTar({{"readme.txt", {'h', 'i', '\n'}}, {"vms_log", lb.Data()}});
    memcpy(tar.data() + 345, "dl", 2);
    std::string pathTar = dir + "/201001051200.tar";
    WriteBytes(pathTar, tar);

    RunResult resStudy = RunQuenfell({"-b", pathTar}, szTz);
    ASSERT_EQ(resStudy.status, 0) << resStudy.err;
    ASSERT_EQ(resStudy.out.rfind("dl------, -------\n", 0), 0u) << resStudy.out.substr(0, 200);
    WriteText(pathReport, resStudy.out);
    RunResult res = RunPlot({pathReport});
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(CountOf(res.out, "<rect class=\"bar\""), CNonZeroRows(resStudy.out));
}

// The bundled sample download, once it is there.
TEST_F(PlotProgram, SampleDownload)
{
    std::string pathSample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
    struct stat st;
    if (stat(pathSample.c_str(), &st) != 0)
        GTEST_SKIP() << "no " << pathSample;
    RunResult resStudy = RunQuenfell({"-b", pathSample}, szTz);
    ASSERT_EQ(resStudy.status, 0) << resStudy.err;
    WriteText(pathReport, resStudy.out);
    RunResult res = RunPlot({pathReport});
    ASSERT_EQ(res.status, 0) << res.err;
    EXPECT_GT(CNonZeroRows(resStudy.out), 0);
    EXPECT_EQ(CountOf(res.out, "<rect class=\"bar\""), CNonZeroRows(resStudy.out));
}

// However little address space the page is given, it ends with its own message or the page, never
// with a signal: running out inside the merge of two downloads, or in the page's own tables, comes
// back as "quenfell-plot: out of memory" with status 1.
TEST_F(PlotProgram, SmallAddressSpaceEndsWithItsOwnMessage)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own shadow memory needs more address space than any limit here";
#else
    std::string pathSample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
    struct stat st;
    if (stat(pathSample.c_str(), &st) != 0)
        GTEST_SKIP() << "no " << pathSample;
    RunResult resFree = RunPlot({pathSample, pathSample});
    ASSERT_EQ(resFree.status, 0) << resFree.err;
    bool fOutOfMemory = false;
    for (int kib = 40000; kib >= 6000; kib -= 1000) {
        RunResult r = RunProgram({"/bin/sh", "-c", "ulimit -v " + std::to_string(kib) + "; exec \"$0\" \"$@\"",
                                  QF_PLOT_BINARY, pathSample, pathSample});
        SCOPED_TRACE("ulimit -v " + std::to_string(kib) + ": " + r.err);
        // 127: the loader could not map the program's libraries.
        EXPECT_TRUE(r.status == 127 || (r.status == 0 && r.out == resFree.out) ||
                    (r.status == 1 && r.out.empty() && r.err.rfind("quenfell-plot: ", 0) == 0));
        fOutOfMemory = fOutOfMemory || r.err == "quenfell-plot: out of memory\n";
    }
    EXPECT_TRUE(fOutOfMemory);
#endif
}

// The page of a history database is the page of the downloads it holds, byte for byte, also for
// downloads added in two runs, the newest first, with a gap between two of them.
TEST_F(PlotProgram, PageFromTheDatabaseIsThePageOfItsDownloads)
{
    std::vector<std::string> rgstrPath;
    for (char const* szStop : {"2010-02-01 08:00", "2010-02-06 08:00", "2010-02-20 08:00"}) {
        rgstrPath.push_back(dir + "/d" + std::to_string(rgstrPath.size()) + ".log");
        RunResult g = RunProgram({PathGenlog(), "--seed", "5", "--days", "40", "--end", "2010-03-01 08:00", "--stop",
                                  szStop, "--ring", "1M", "--out", rgstrPath.back()});
        ASSERT_EQ(g.status, 0) << g.err;
    }
    std::string strDb = dir + "/car.db";
    for (std::vector<std::string> const& rgstrRun :
         {std::vector<std::string>{rgstrPath[2]}, std::vector<std::string>{rgstrPath[0], rgstrPath[1]}}) {
        std::vector<std::string> argv{QF_DB_BINARY, strDb};
        argv.insert(argv.end(), rgstrRun.begin(), rgstrRun.end());
        RunResult r = RunProgram(argv);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    RunResult resDownloads = RunPlot(rgstrPath);
    ASSERT_EQ(resDownloads.status, 0) << resDownloads.err;
    RunResult resDb = RunPlot({strDb});
    ASSERT_EQ(resDb.status, 0) << resDb.err;
    EXPECT_EQ(resDb.err, "");
    EXPECT_TRUE(resDb.out == resDownloads.out);
    EXPECT_GT(CountOf(resDb.out, "<tr"), 20);
}

}  // namespace
