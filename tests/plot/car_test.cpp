// The car's page: its drives and charges row by row against quenfell's own default report of the
// same inputs (one download, overlapping downloads merged, metric units), thinning that keeps the
// peaks, and damaged or hostile logs.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "plot/history.h"
#include "plot_test_util.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const szTz = "America/Los_Angeles";

RunResult RunPlot(const std::vector<std::string>& args, const std::string& tz = szTz)
{
    std::vector<std::string> argv{QF_PLOT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, tz);
}

std::string SamplePath()
{
    return std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
}

typedef std::vector<std::string> ROW;

// The cells of one table row, tags removed: <td> cells, or <th> cells for a heading row.
ROW CellsOf(const std::string& strRow, const std::string& strTag)
{
    ROW row;
    std::string const strOpen = "<" + strTag + ">", strClose = "</" + strTag + ">";
    for (size_t ibCell = strRow.find(strOpen); ibCell != std::string::npos; ibCell = strRow.find(strOpen, ibCell + 1)) {
        size_t ibCellEnd = strRow.find(strClose, ibCell);
        row.push_back(strRow.substr(ibCell + strOpen.size(), ibCellEnd - ibCell - strOpen.size()));
    }
    return row;
}

// The cells of every table row of one class ("drive" or "charge") in the columns whose headings
// begin with rgstrHeading's (the first such column), read under the heading row of the row's own
// table: "" for a column that the page leaves out, "?" for a row shorter than its heading.
std::vector<ROW> PageRows(const std::string& strPage, const std::string& strClass,
                          const std::vector<std::string>& rgstrHeading)
{
    std::vector<ROW> rgrow;
    std::string const strOpen = "<tr class=\"" + strClass + "\">";
    for (size_t ib = strPage.find(strOpen); ib != std::string::npos; ib = strPage.find(strOpen, ib + 1)) {
        size_t ibHead = strPage.rfind("<thead>", ib);
        ROW rowHead = CellsOf(strPage.substr(ibHead, strPage.find("</thead>", ibHead) - ibHead), "th");
        size_t ibEnd = strPage.find("</tr>", ib);
        ROW rowCells = CellsOf(strPage.substr(ib + strOpen.size(), ibEnd - ib - strOpen.size()), "td");
        ROW row;
        for (std::string const& strHeading : rgstrHeading) {
            size_t icol = 0;
            while (icol < rowHead.size() && rowHead[icol].rfind(strHeading, 0) != 0)
                icol++;
            row.push_back(icol < rowHead.size() ? (icol < rowCells.size() ? rowCells[icol] : "?") : "");
        }
        rgrow.push_back(row);
    }
    return rgrow;
}

// A cursor over one report line: words are runs of anything but blanks and tabs.
struct CURSOR {
    const std::string& str;
    size_t ich = 0;

    void SkipBlanks()
    {
        while (ich < str.size() && str[ich] == ' ')
            ich++;
    }
    std::string Word()
    {
        SkipBlanks();
        size_t ichStart = ich;
        while (ich < str.size() && str[ich] != ' ' && str[ich] != '\t')
            ich++;
        return str.substr(ichStart, ich - ichStart);
    }
    // The next word when pred accepts it (the cursor moves past it), else "" (the cursor stays).
    template <class PRED> std::string WordIf(PRED pred)
    {
        size_t ichSaved = ich;
        std::string word = Word();
        if (pred(word))
            return word;
        ich = ichSaved;
        return "";
    }
    bool FWord(const std::string& strExpected) { return Word() == strExpected; }
    std::string Rest()
    {
        SkipBlanks();
        if (ich < str.size() && str[ich] == '\t')
            ich++;
        return str.substr(ich);
    }
};

bool FEndsWith(const std::string& str, const std::string& strEnd)
{
    return str.size() > strEnd.size() && str.compare(str.size() - strEnd.size(), strEnd.size(), strEnd) == 0;
}

std::string WithoutLast(const std::string& str)
{
    return str.empty() ? str : str.substr(0, str.size() - 1);
}

// A number followed by a unit word that starts with szUnit (the cursor moves past both), else "".
std::string NumberWithUnit(CURSOR* pcur, const char* szUnit)
{
    size_t ichSaved = pcur->ich;
    std::string strNumber = pcur->Word();
    if (pcur->Word().rfind(szUnit, 0) == 0)
        return strNumber;
    pcur->ich = ichSaved;
    return "";
}

// One session line of the default report's column layout read into its cells; false when the line
// is no session of that kind.
bool FReadSessionLine(const std::string& strLine, bool fDrive, ROW* prow)
{
    CURSOR cur{strLine};
    std::string strStart = cur.Word();
    strStart += ' ';
    strStart += cur.Word();
    if (!cur.FWord("-"))
        return false;
    std::string strEnd = cur.Word();
    strEnd += ' ';
    strEnd += cur.Word();
    std::string strDuration = cur.Word();
    if (strDuration.size() < 2 || strDuration.front() != '(' || strDuration.back() != ')')
        return false;
    if (!cur.FWord(fDrive ? "Drive" : "Charge"))
        return false;
    std::string strSOCFrom = cur.Word();
    if (!cur.FWord("->"))
        return false;
    std::string strSOCTo = cur.Word();
    *prow = {strStart, strEnd, strDuration.substr(1, strDuration.size() - 2), strSOCFrom, strSOCTo};
    auto fDist = [](const std::string& w) { return w == "mi" || w == "km"; };
    if (fDrive) {
        // The distance, then the average and top speeds.
        for (bool fSpeed : {false, true, true}) {
            std::string strValue = cur.Word();
            std::string strUnit = cur.Word();
            if (fSpeed ? strUnit != "mph" && strUnit != "kph" : !fDist(strUnit))
                return false;
            prow->push_back(strValue);
        }
        // The odometer, "~" when estimated, is not on the page.
        size_t ichSaved = cur.ich;
        std::string strOdo = cur.Word();
        if (strOdo == "~")
            strOdo = cur.Word();
        if (!fDist(cur.Word()))
            cur.ich = ichSaved;
        std::string strKwh = NumberWithUnit(&cur, "kWh");
        if (strKwh.empty() || NumberWithUnit(&cur, "Ah").empty() || NumberWithUnit(&cur, "Ah").empty())
            return false;
        prow->push_back(strKwh);
        prow->push_back(NumberWithUnit(&cur, "Wh/"));
        prow->push_back(cur.Rest());
        return true;
    }
    std::string strVolts = cur.WordIf([](const std::string& w) { return FEndsWith(w, "V"); });
    std::string strAmps = cur.WordIf([](const std::string& w) { return FEndsWith(w, "A"); });
    std::string strAvailable;
    if (!strAmps.empty() && !cur.WordIf([](const std::string& w) { return w == "of"; }).empty())
        strAvailable = WithoutLast(cur.Word());
    std::string strKwh = NumberWithUnit(&cur, "kWh");
    std::string strAhIn = NumberWithUnit(&cur, "Ah");
    std::string strAhOut = NumberWithUnit(&cur, "Ah");
    if (strAhIn.empty() || strAhOut.empty())
        return false;
    for (std::string const& str : {WithoutLast(strVolts), WithoutLast(strAmps), strAvailable, strKwh, strAhIn, strAhOut})
        prow->push_back(str);
    prow->push_back(NumberWithUnit(&cur, "Wh/"));
    prow->push_back(cur.Rest());
    return true;
}

// The same cells read from the default report's session lines (the column layout): start, end,
// duration, SOC from and to, then for a drive distance, average and top speed, energy, Wh per
// distance and notes; for a charge volts, amps, amps available, energy, Ah in and out, wall to
// wheel and notes. The notes are the report's without the padding before them.
std::vector<ROW> ReportRows(const std::string& strReport, bool fDrive)
{
    std::vector<ROW> rgrow;
    std::istringstream iss(strReport);
    for (std::string strLine; std::getline(iss, strLine);) {
        ROW row;
        if (FReadSessionLine(strLine, fDrive, &row))
            rgrow.push_back(row);
    }
    return rgrow;
}

// The page's headings of the report's cells, in ReportRows's order.
const std::vector<std::string> s_rgstrDriveHeading{"Start", "End", "Duration", "SOC from", "SOC to", "Distance (",
                                                   "Average speed", "Top speed", "Energy (kWh)", "Wh/", "Notes"};
const std::vector<std::string> s_rgstrChargeHeading{
    "Start",        "End",          "Duration",       "SOC from",       "SOC to",          "Line volts", "Amps",
    "Amps available", "Energy (kWh)", "Charge in (Ah)", "Charge out (Ah)", "Wall to wheel", "Notes"};

void ExpectSameSessions(const std::string& strPage, const std::string& strReport, const std::string& strWhat)
{
    SCOPED_TRACE(strWhat);
    for (bool fDrive : {true, false}) {
        std::vector<std::string> const& rgstrHeading = fDrive ? s_rgstrDriveHeading : s_rgstrChargeHeading;
        std::vector<ROW> rgrowPage = PageRows(strPage, fDrive ? "drive" : "charge", rgstrHeading);
        std::vector<ROW> rgrowReport = ReportRows(strReport, fDrive);
        size_t const cLine = (size_t)CountOf(strReport, fDrive ? ") Drive " : ") Charge ");
        ASSERT_EQ(rgrowReport.size(), cLine) << "a session line of the report did not read";
        ASSERT_EQ(rgrowPage.size(), rgrowReport.size()) << (fDrive ? "drives" : "charges");
        // A value the log does not have is a dash on the page; a column that no session of the car
        // fills (Ah of a car whose charge records carry none) is left out.
        std::set<size_t> seticolLeftOut;
        for (size_t icol = 0; icol < rgstrHeading.size(); icol++) {
            bool fOnPage = false, fFilled = false;
            for (size_t i = 0; i < rgrowPage.size(); i++) {
                fOnPage = fOnPage || !rgrowPage[i][icol].empty();
                fFilled = fFilled || (rgrowReport[i][icol] != "" && rgrowReport[i][icol] != "0.0");
            }
            if (!fOnPage && !rgrowPage.empty() && !fFilled && icol >= 5 && icol + 1 < rgstrHeading.size())
                seticolLeftOut.insert(icol);
        }
        std::set<std::string> setStart;
        for (size_t i = 0; i < rgrowPage.size(); i++) {
            ROW rowExpected = rgrowReport[i];
            for (size_t icol = 0; icol < rowExpected.size(); icol++) {
                // A missing value is a dash: the report's -1% and its blanks, but for the notes.
                if (rowExpected[icol] == "-1%" || (rowExpected[icol].empty() && icol + 1 < rowExpected.size()))
                    rowExpected[icol] = "\xe2\x80\x93";
                if (seticolLeftOut.count(icol))
                    rowExpected[icol] = "";
            }
            EXPECT_EQ(rgrowPage[i], rowExpected) << (fDrive ? "drive " : "charge ") << i;
            setStart.insert(rgrowPage[i][0]);
        }
        EXPECT_EQ(setStart.size(), rgrowPage.size()) << "a session twice";
    }
}

// The page must stand alone: no script, nothing fetched, the battery page's policy.
void ExpectSelfContained(const std::string& strPage)
{
    EXPECT_EQ(strPage.rfind("<!DOCTYPE html>\n", 0), 0u);
    EXPECT_NE(strPage.find("content=\"default-src 'none'; style-src 'unsafe-inline'\""), std::string::npos);
    for (const char* sz : {"<script", "src=", "url(", "@import", "<link", "<img"})
        EXPECT_EQ(strPage.find(sz), std::string::npos) << sz;
    EXPECT_EQ(strPage.substr(strPage.size() - 8), "</html>\n");
}

class CarPage : public testing::Test {
protected:
    void SetUp() override { dir = TempDir(); }
    std::string Path(const std::string& strName) const { return dir + "/" + strName; }
    std::string dir;
};

TEST_F(CarPage, SessionsAreTheDefaultReports)
{
    struct stat st;
    bool const fSample = stat(SamplePath().c_str(), &st) == 0;
    // Three overlapping downloads of one car, the newest ring wrapped, merged by the page as the
    // join merges them: the report to compare with is that of the joined log.
    std::string genlog = PathGenlog();
    std::vector<std::string> rgstrDownload;
    for (auto const& [name, stop, ring] : {std::tuple{"200906050800.tar", "2009-06-05 08:00", "2M"},
                                           std::tuple{"200906080800.tar", "2009-06-08 08:00", "256K"},
                                           std::tuple{"200906100800.tar", "2009-06-10 08:00", "512K"}}) {
        RunResult g = RunProgram({genlog, "--seed", "4", "--days", "20", "--end", "2009-06-10 08:00", "--stop", stop,
                                  "--ring", ring, "--tar", "--out", Path(name)});
        ASSERT_EQ(g.status, 0) << g.err;
        rgstrDownload.push_back(Path(name));
    }
    std::vector<std::string> argsJoin{"-j", Path("all.log")};
    argsJoin.insert(argsJoin.end(), rgstrDownload.begin(), rgstrDownload.end());
    ASSERT_EQ(RunQuenfell(argsJoin, szTz).status, 0);

    struct {
        const char* szWhat;
        std::vector<std::string> argsPlot;
        std::vector<std::string> argsReport;
        const char* szTzRun;
    } const rgcase[] = {
        {"sample download", {SamplePath()}, {SamplePath()}, szTz},
        {"sample download, metric, zone", {"-m", "-z", "Europe/Berlin", SamplePath()},
         {"-m", "-z", "Europe/Berlin", SamplePath()}, szTz},
        {"overlapping downloads", rgstrDownload, {Path("all.log")}, szTz},
        {"overlapping downloads, metric, UTC", {"-m", rgstrDownload[2], rgstrDownload[0], rgstrDownload[1]},
         {"-m", Path("all.log")}, "UTC"},
        {"overlapping downloads, a price", {"--price", "0.5", rgstrDownload[0], rgstrDownload[1], rgstrDownload[2]},
         {Path("all.log")}, szTz},
    };
    for (auto const& tc : rgcase) {
        if (!fSample && tc.argsPlot.back() == SamplePath())
            continue;
        RunResult res = RunPlot(tc.argsPlot, tc.szTzRun);
        ASSERT_EQ(res.status, 0) << tc.szWhat << ": " << res.err;
        EXPECT_EQ(res.err, "");
        RunResult resReport = RunQuenfell(tc.argsReport, tc.szTzRun);
        ASSERT_EQ(resReport.status, 0) << resReport.err;
        ASSERT_GT(CountOf(resReport.out, ") Drive "), 5) << tc.szWhat;
        ExpectSameSessions(res.out, resReport.out, tc.szWhat);
        size_t ibVin = resReport.out.find(" VIN ");
        ASSERT_NE(ibVin, std::string::npos);
        EXPECT_EQ(res.out.find(resReport.out.substr(ibVin + 5, 17)), std::string::npos) << "the VIN on the page";
        ExpectSelfContained(res.out);
        bool const fMetric = tc.argsPlot[0] == "-m";
        EXPECT_NE(res.out.find(fMetric ? "<th>Distance (km)</th>" : "<th>Distance (mi)</th>"), std::string::npos);
        // The overview counts them as the report does.
        int const cDrive = CountOf(resReport.out, ") Drive "), cCharge = CountOf(resReport.out, ") Charge ");
        EXPECT_NE(res.out.find("<tr><th>Drives</th><td>" + std::to_string(cDrive) + "</td></tr>"), std::string::npos);
        EXPECT_NE(res.out.find("<tr><th>Charges</th><td>" + std::to_string(cCharge) + "</td></tr>"),
                  std::string::npos);
        // A price gives the cost of every kWh from the wall; no price, no cost.
        bool const fPrice = tc.argsPlot[0] == "--price";
        EXPECT_EQ(res.out.find("<th>Cost</th>") != std::string::npos, fPrice);
        if (fPrice) {
            auto figure = [&](const std::string& strHeading) {
                size_t ib = res.out.find("<tr><th>" + strHeading + "</th><td>");
                EXPECT_NE(ib, std::string::npos) << strHeading;
                return ib == std::string::npos ? 0.0 : std::stod(res.out.substr(ib + strHeading.size() + 17));
            };
            EXPECT_NEAR(figure("Cost of charging"), 0.5 * figure("Energy from the wall"), 0.05 + 0.5 * 0.05);
        }
        // Every drive and charge opens to its profile.
        EXPECT_EQ(CountOf(res.out, "<details><summary>"),
                  CountOf(resReport.out, ") Drive ") + CountOf(resReport.out, ") Charge "));
    }
}

// Each interval gives its lowest and highest point in their own order; short series stay whole.
TEST(CarThin, KeepsEachIntervalsPeaks)
{
    std::vector<PT> rgptFlat;
    for (int i = 0; i < 1000; i++)
        rgptFlat.push_back(PT{(float)i, 10});
    std::vector<PT> rgptSpike = rgptFlat;
    rgptSpike[503].v = 95;   // one second at full power
    rgptSpike[777].v = -40;  // one second of strong regeneration
    std::vector<PT> rgptRamp;
    for (int i = 0; i < 7; i++)
        rgptRamp.push_back(PT{(float)i, (float)i});

    struct {
        const char* szWhat;
        std::vector<PT> rgpt;
        int cInterval;
        size_t cptMax;
        std::vector<float> rgvMustKeep;
    } const rgcase[] = {
        {"spike and dip", rgptSpike, 50, 100, {95, -40}},
        {"flat", rgptFlat, 50, 100, {10}},
        {"short series whole", rgptRamp, 4, 7, {0, 1, 2, 3, 4, 5, 6}},
        {"one interval", rgptSpike, 1, 2, {95, -40}},
        {"empty", {}, 10, 0, {}},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szWhat);
        std::vector<PT> rgptOut;
        ThinMinMax(tc.rgpt.data(), (int)tc.rgpt.size(), tc.cInterval, &rgptOut);
        EXPECT_LE(rgptOut.size(), tc.cptMax);
        if (tc.rgpt.size() <= (size_t)(2 * tc.cInterval)) {
            EXPECT_EQ(rgptOut.size(), tc.rgpt.size());
        }
        for (float v : tc.rgvMustKeep) {
            bool fFound = false;
            for (PT const& pt : rgptOut)
                fFound = fFound || pt.v == v;
            EXPECT_TRUE(fFound) << v;
        }
        for (size_t i = 1; i < rgptOut.size(); i++)
            EXPECT_LT(rgptOut[i - 1].sec, rgptOut[i].sec) << "out of time order at " << i;
    }
}

// Damaged, empty and hostile inputs give a page of what could be read, or a clear error; never a
// crash.
TEST_F(CarPage, DamagedLogsGiveAPageOrAnError)
{
    constexpr uint32_t ts = 1243868400;   // 06/01/2009 15:00:00 UTC
    LogBuilder lbDrive;
    lbDrive.Add(VinfRec(ts, false)).Add(D10mRec(ts + 30, 80, 1000.0));
    for (int i = 0; i < 300; i++)
        lbDrive.Add(Dr1sRec(ts + 60 + (uint32_t)i, 30 + (i % 50), 40));
    lbDrive.Add(D10mRec(ts + 400, 78, 1002.5)).Add(IdleRec(ts + 4000, 78));
    Bytes bytesDrive = lbDrive.Data();
    WriteBytes(Path("drive.log"), bytesDrive);
    Bytes bytesCut(bytesDrive.begin(), bytesDrive.begin() + (long)bytesDrive.size() / 2 + 7);
    WriteBytes(Path("cut.log"), bytesCut);
    Bytes bytesNoise(bytesDrive);
    for (size_t i = 40; i < bytesNoise.size(); i += 97)
        bytesNoise[i] ^= 0xA5;
    WriteBytes(Path("noise.log"), bytesNoise);
    LogBuilder lbGarbage;
    lbGarbage.Garbage(5000, 0x03).Add(Dr1sRec(0xFFFFFFFF, 400, -900)).Garbage(300, 0x02);
    lbGarbage.WriteFile(Path("garbage.log"));
    WriteText(Path("empty.log"), "");
    // A transient part that is its vehicle-info record alone, after a long-term part longer than
    // the other log's transient part: nothing of it is merged.
    LogBuilder lbVinfOnly;
    lbVinfOnly.Add(VinfRec(ts - 601 * 86400, true));
    for (uint32_t day = 600; day > 0; day--)
        lbVinfOnly.Add(DayRec(ts - day * 86400, 1000.0, 2700, 80));
    lbVinfOnly.Add(VinfRec(ts - 600, false));
    lbVinfOnly.WriteFile(Path("vinfonly.log"));
    RunResult g = RunProgram({PathGenlog(), "--adversarial", "--size", "64K", "--out", Path("adversarial.log")});
    ASSERT_EQ(g.status, 0) << g.err;

    struct {
        const char* szWhat;
        std::vector<std::string> args;
        int cDrive;        // -1: any
        std::string strErr;
    } const rgcase[] = {
        {"whole", {Path("drive.log")}, 1, ""},
        {"cut in half", {Path("cut.log")}, 1, ""},
        {"bytes flipped", {Path("noise.log")}, -1, ""},
        {"garbage", {Path("garbage.log")}, -1, ""},
        {"adversarial", {Path("adversarial.log")}, -1, ""},
        {"adversarial beside a good log", {Path("adversarial.log"), Path("drive.log")}, -1, ""},
        {"a lone transient vehicle-info record beside a good log", {Path("vinfonly.log"), Path("drive.log")}, 1, ""},
        {"empty", {Path("empty.log"), Path("drive.log")}, -1,
         "quenfell-plot: can't open '" + Path("empty.log") + "': file is empty\n"},
    };
    for (auto const& tc : rgcase) {
        SCOPED_TRACE(tc.szWhat);
        RunResult res = RunPlot(tc.args);
        EXPECT_EQ(res.err, tc.strErr);
        if (!tc.strErr.empty()) {
            EXPECT_EQ(res.status, 1);
            EXPECT_EQ(res.out, "");
            continue;
        }
        ASSERT_EQ(res.status, 0);
        ExpectSelfContained(res.out);
        if (tc.cDrive >= 0) {
            EXPECT_EQ(CountOf(res.out, "<tr class=\"drive\">"), tc.cDrive);
        }
    }
}

}  // namespace
