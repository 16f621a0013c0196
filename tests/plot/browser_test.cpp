// The page in a real browser: headless Chromium lays it out and a small script, added to a copy of
// the page for the test only, reports per chart how many bars, lines and firmware markers have a
// box inside their chart and are what the browser finds under their centre. Skipped when
// /usr/bin/chromium is missing (`make check-browser` installs it).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <unistd.h>

#include "plot/page.h"
#include "plot_test_util.h"
#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const pathChromium = "/usr/bin/chromium";
constexpr int cxWindow = 1100;
constexpr int cyWindow = 1700;

// Counts, per chart, the drawn items: "id bars bars-hit lines markers".
const char* const s_szCheckScript = R"(<script>
const rows = [];
for (const fig of document.querySelectorAll('figure.chart')) {
  const box = fig.querySelector('svg').getBoundingClientRect();
  const inside = r => r.left >= box.left - 1 && r.right <= box.right + 1 && r.top >= box.top - 1 &&
                      r.bottom <= box.bottom + 1;
  let bars = 0, hit = 0, lines = 0, marks = 0;
  for (const bar of fig.querySelectorAll('rect.bar')) {
    const r = bar.getBoundingClientRect();
    if (r.width > 0 && r.height > 0 && inside(r)) bars++;
    const el = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
    if (el && el.matches('rect.bar') && fig.contains(el) && getComputedStyle(el).fill !== 'none') hit++;
  }
  for (const s of fig.querySelectorAll('.series')) {
    const r = s.getBoundingClientRect();
    if ((r.width > 0 || r.height > 0) && inside(r)) lines++;
  }
  for (const m of fig.querySelectorAll('g.fw')) {
    const r = m.getBoundingClientRect();
    if (r.width > 0 && r.height > 0 && inside(r)) marks++;
  }
  rows.push(fig.id + ' ' + bars + ' ' + hit + ' ' + lines + ' ' + marks);
}
const pre = document.createElement('pre');
pre.id = 'qf-check';
pre.textContent = rows.join('\n');
document.body.appendChild(pre);
</script>
)";

RunResult RunChromium(const std::string& dir, const std::vector<std::string>& rgstrMore, int cx = cxWindow,
                      int cy = cyWindow)
{
    std::vector<std::string> argv{"/usr/bin/timeout", "180", pathChromium,
                                  "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                  "--hide-scrollbars", "--user-data-dir=" + dir + "/profile",
                                  "--window-size=" + std::to_string(cx) + "," + std::to_string(cy)};
    argv.insert(argv.end(), rgstrMore.begin(), rgstrMore.end());
    return RunProgram(argv);
}

// What the script should find: every non-zero bin a bar, three capacity series and one marker per
// dated firmware row.
std::string ExpectedCounts(const std::string& strReport)
{
    auto prep = NewReport();
    PARSEERR err;
    EXPECT_TRUE(FParseReport(strReport.data(), strReport.size(), prep.get(), &err)) << err.achMsg;
    int cDatedCap = 0, cDatedFw = 0;
    for (int i = 0; i < prep->ccap; i++)
        cDatedCap += prep->rgcap[i].date.fDated;
    for (int i = 0; i < prep->cfw; i++)
        cDatedFw += prep->rgfw[i].date.fDated;
    std::ostringstream oss;
    oss << "chart-capacity 0 0 " << (cDatedCap > 0 ? 3 : 0) << " " << cDatedFw;
    for (HIST const& hist : prep->rghist)
        oss << "\nchart-" << hist.szName << " " << hist.cNonZero << " " << hist.cNonZero << " 0 0";
    return oss.str();
}

std::string SampleReport()
{
    std::string pathSample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
    if (access(pathSample.c_str(), R_OK) != 0)
        return "";
    RunResult res = RunQuenfell({"-b", pathSample}, "America/Los_Angeles");
    EXPECT_EQ(res.status, 0) << res.err;
    return res.out;
}

class Browser : public testing::Test {
protected:
    void SetUp() override
    {
        if (access(pathChromium, X_OK) != 0)
            GTEST_SKIP() << "no " << pathChromium << ": browser check skipped (make check-browser installs it)";
        dir = TempDir();
    }
    std::string dir;
};

TEST_F(Browser, EveryChartDrawsItsBars)
{
    std::vector<std::pair<std::string, std::string>> rgreport{{"hand-written", HandReport()}};
    std::string strSample = SampleReport();
    if (!strSample.empty())
        rgreport.emplace_back("sample download", strSample);

    for (auto const& [strName, strReport] : rgreport) {
        SCOPED_TRACE(strName);
        // The page forbids scripts; the test's copy drops that rule to let its counting script run.
        std::string strPage = PageOf(strReport);
        size_t ibPolicy = strPage.find("<meta http-equiv=\"Content-Security-Policy\"");
        ASSERT_NE(ibPolicy, std::string::npos);
        strPage.erase(ibPolicy, strPage.find('\n', ibPolicy) + 1 - ibPolicy);
        strPage.insert(strPage.rfind("</body>"), s_szCheckScript);
        std::string pathPage = dir + "/check.html";
        WriteText(pathPage, strPage);

        RunResult res = RunChromium(dir, {"--dump-dom", "file://" + pathPage});
        ASSERT_EQ(res.status, 0) << res.err;
        size_t ibStart = res.out.find("<pre id=\"qf-check\">");
        ASSERT_NE(ibStart, std::string::npos) << res.out.substr(0, 500);
        ibStart += std::strlen("<pre id=\"qf-check\">");
        std::string strCounts = res.out.substr(ibStart, res.out.find("</pre>", ibStart) - ibStart);
        EXPECT_EQ(strCounts, ExpectedCounts(strReport));
    }
    // The hand-written report's counts, worked out from its rows.
    EXPECT_EQ(ExpectedCounts(HandReport()), "chart-capacity 0 0 3 2\nchart-amps 2 2 0 0\nchart-soc 2 2 0 0\n"
                                            "chart-temp 2 2 0 0\nchart-kmiles 2 2 0 0\nchart-milesperday 3 3 0 0");
}

// The page as it is, policy and all, as a picture. `make check-browser` keeps this one as the
// README's picture by naming the file in QF_SCREENSHOT.
TEST_F(Browser, ScreenshotOfThePage)
{
    std::string strReport = SampleReport();
    std::string pathPage = dir + "/battery.html";
    WriteText(pathPage, PageOf(strReport.empty() ? HandReport() : strReport));
    const char* pszShot = std::getenv("QF_SCREENSHOT");
    std::string pathShot = pszShot && *pszShot ? pszShot : dir + "/battery-study.png";

    RunResult res = RunChromium(dir, {"--screenshot=" + pathShot, "file://" + pathPage});
    ASSERT_EQ(res.status, 0) << res.err;
    std::string strPng = ReadText(pathShot);
    ASSERT_GT(strPng.size(), 24u);
    EXPECT_EQ(strPng.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto u32At = [&](size_t ib) {
        return static_cast<uint32_t>(static_cast<unsigned char>(strPng[ib])) << 24 |
               static_cast<uint32_t>(static_cast<unsigned char>(strPng[ib + 1])) << 16 |
               static_cast<uint32_t>(static_cast<unsigned char>(strPng[ib + 2])) << 8 |
               static_cast<uint32_t>(static_cast<unsigned char>(strPng[ib + 3]));
    };
    EXPECT_EQ(strPng.substr(12, 4), "IHDR");
    EXPECT_EQ(u32At(16), static_cast<uint32_t>(cxWindow));
    EXPECT_EQ(u32At(20), static_cast<uint32_t>(cyWindow));
    // A blank white page of this size compresses to a few kilobytes; charts and text take far more.
    EXPECT_GT(strPng.size(), 50000u);
}

// The car's page with every drive and charge opened: per chart, how many lines, dots and bars
// have a box inside their chart.
const char* const s_szCarCheckScript = R"(<script>
for (const d of document.querySelectorAll('details')) d.open = true;
const rows = [];
for (const fig of document.querySelectorAll('figure.chart')) {
  const box = fig.querySelector('svg').getBoundingClientRect();
  const inside = r => r.left >= box.left - 1 && r.right <= box.right + 1 && r.top >= box.top - 1 &&
                      r.bottom <= box.bottom + 1;
  let drawn = 0;
  for (const el of fig.querySelectorAll('.series, rect.bar')) {
    const r = el.getBoundingClientRect();
    if ((r.width > 0 || r.height > 0) && inside(r)) drawn++;
  }
  rows.push(fig.id + ' ' + drawn);
}
const pre = document.createElement('pre');
pre.id = 'qf-check';
pre.textContent = rows.join('\n');
document.body.appendChild(pre);
</script>
)";

// What the car's page source holds, per chart: its lines and dot groups, and its bars.
std::string CarCountsOfSource(const std::string& strPage)
{
    std::ostringstream oss;
    const std::string strFigure = "<figure class=\"chart";
    for (size_t ib = strPage.find(strFigure); ib != std::string::npos; ib = strPage.find(strFigure, ib + 1)) {
        size_t ibId = strPage.find("id=\"", ib) + 4;
        std::string strId = strPage.substr(ibId, strPage.find('"', ibId) - ibId);
        std::string strBody = strPage.substr(ib, strPage.find("</figure>", ib) - ib);
        oss << (oss.tellp() > 0 ? "\n" : "") << strId << " "
            << CountOf(strBody, "class=\"series\"") + CountOf(strBody, "class=\"bar\"");
    }
    return oss.str();
}

// The car's page of the sample download and of three overlapping downloads of a generated history.
std::vector<std::pair<std::string, std::vector<std::string>>> CarInputs(const std::string& dir)
{
    std::vector<std::pair<std::string, std::vector<std::string>>> rginput;
    std::string pathSample = std::string(QF_SOURCE_DIR) + "/examples/200906051330.tar";
    if (access(pathSample.c_str(), R_OK) == 0)
        rginput.push_back({"sample download", {pathSample}});
    std::vector<std::string> rgpath;
    for (const char* szStop : {"2009-06-01 08:00", "2009-06-05 08:00", "2009-06-09 08:00"}) {
        std::string path = dir + "/" + std::to_string(rgpath.size()) + ".log";
        RunResult g = RunProgram({PathGenlog(), "--seed", "9", "--days", "40", "--end", "2009-06-10 08:00", "--stop",
                                  szStop, "--ring", "512K", "--out", path});
        EXPECT_EQ(g.status, 0) << g.err;
        rgpath.push_back(path);
    }
    rginput.push_back({"generated history", rgpath});
    return rginput;
}

std::string CarPageOf(const std::vector<std::string>& rgpath)
{
    std::vector<std::string> argv{QF_PLOT_BINARY};
    argv.insert(argv.end(), rgpath.begin(), rgpath.end());
    RunResult res = RunProgram(argv, "America/Los_Angeles");
    EXPECT_EQ(res.status, 0) << res.err;
    return res.out;
}

TEST_F(Browser, EveryChartOfTheCarsPageDraws)
{
    for (auto const& [strName, rgpath] : CarInputs(dir)) {
        SCOPED_TRACE(strName);
        std::string strPage = CarPageOf(rgpath);
        std::string strExpected = CarCountsOfSource(strPage);
        // The charts that every history with drives and charges fills.
        for (const char* szId : {"chart-calendar ", "chart-months ", "chart-charge-curves ", "chart-parked ",
                                 "chart-efficiency ", "chart-efficiency-speed ", "chart-efficiency-temp ",
                                 "chart-capacity-age ", "chart-imbalance ", "chart-soc ", "drive-1 ", "charge-1 "}) {
            std::string strLines = "\n" + strExpected + "\n";
            size_t ib = strLines.find(std::string("\n") + szId);
            ASSERT_NE(ib, std::string::npos) << szId;
            EXPECT_NE(strLines.substr(ib + 1 + std::strlen(szId), 2), "0\n") << szId;
        }
        size_t ibPolicy = strPage.find("<meta http-equiv=\"Content-Security-Policy\"");
        ASSERT_NE(ibPolicy, std::string::npos);
        strPage.erase(ibPolicy, strPage.find('\n', ibPolicy) + 1 - ibPolicy);
        strPage.insert(strPage.rfind("</body>"), s_szCarCheckScript);
        std::string pathPage = dir + "/car-check.html";
        WriteText(pathPage, strPage);

        RunResult res = RunChromium(dir, {"--dump-dom", "file://" + pathPage});
        ASSERT_EQ(res.status, 0) << res.err;
        size_t ibStart = res.out.find("<pre id=\"qf-check\">");
        ASSERT_NE(ibStart, std::string::npos) << res.out.substr(0, 500);
        ibStart += std::strlen("<pre id=\"qf-check\">");
        EXPECT_EQ(res.out.substr(ibStart, res.out.find("</pre>", ibStart) - ibStart), strExpected);
    }
}

// The car's page of the sample download as a picture; `make check-browser` keeps it as the
// README's picture by naming the file in QF_CAR_SCREENSHOT.
TEST_F(Browser, ScreenshotOfTheCarsPage)
{
    auto rginput = CarInputs(dir);
    std::string pathPage = dir + "/car.html";
    WriteText(pathPage, CarPageOf(rginput.front().second));
    const char* pszShot = std::getenv("QF_CAR_SCREENSHOT");
    std::string pathShot = pszShot && *pszShot ? pszShot : dir + "/car-page.png";
    RunResult res = RunChromium(dir, {"--screenshot=" + pathShot, "file://" + pathPage});
    ASSERT_EQ(res.status, 0) << res.err;
    std::string strPng = ReadText(pathShot);
    ASSERT_GT(strPng.size(), 50000u);
    EXPECT_EQ(strPng.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// The car's page at a phone's width and a desktop's. Headless Chromium keeps its window at least
// 500 pixels wide, so the page is laid out in a frame of the width in a page of the test's own,
// whose script reads the frame (a srcdoc frame shares its origin) with every <details> open: what
// is wider than the frame, chart text drawn under 10 pixels, and series without a legend entry.
const char* const s_szWidthCheckScript = R"(<script>
window.addEventListener('load', () => {
  const doc = document.getElementById('page').contentDocument;
  for (const d of doc.querySelectorAll('details')) d.open = true;
  const cx = doc.documentElement.clientWidth;
  const rows = ['scroll ' + (doc.documentElement.scrollWidth > cx ? doc.documentElement.scrollWidth : 0)];
  const wide = (el, what) => {
    const r = el.getBoundingClientRect();
    if (r.right > cx + 1 || r.left < -1) rows.push(what + ' ' + (el.id || el.closest('[id]').id) + ' ' + Math.round(r.right));
  };
  for (const fig of doc.querySelectorAll('figure.chart')) {
    if (fig.closest('div.scroll')) continue;
    wide(fig, 'chart');
    const svg = fig.querySelector('svg');
    const scale = svg.getScreenCTM().a;
    for (const t of svg.querySelectorAll('text')) {
      if (doc.defaultView.getComputedStyle(t).display === 'none') continue;
      const px = parseFloat(doc.defaultView.getComputedStyle(t).fontSize) * scale;
      if (px < 9.95) { rows.push('small ' + fig.id + ' ' + px.toFixed(1)); break; }
    }
    const legend = new Set([...fig.querySelectorAll('ul.legend li')].map(li => li.textContent));
    for (const s of fig.querySelectorAll('.series > title'))
      if (!legend.has(s.textContent)) rows.push('unlabelled ' + fig.id + ' ' + s.textContent);
  }
  for (const box of doc.querySelectorAll('div.scroll')) wide(box, 'table');
  for (const nav of doc.querySelectorAll('nav')) wide(nav, 'nav');
  const pre = document.createElement('pre');
  pre.id = 'qf-check';
  pre.textContent = rows.join('\n');
  document.body.appendChild(pre);
});
</script>
)";

std::string FramedPage(const std::string& strPage, int cx, int cy, const char* szScript)
{
    std::string strEscaped;
    for (char ch : strPage) {
        if (ch == '&')
            strEscaped += "&amp;";
        else if (ch == '"')
            strEscaped += "&quot;";
        else
            strEscaped += ch;
    }
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"></head><body style=\"margin:0;background:#888\">"
           "<iframe id=\"page\" style=\"border:0;display:block;background:#fff;width:" +
           std::to_string(cx) + "px;height:" + std::to_string(cy) + "px\" srcdoc=\"" + strEscaped + "\"></iframe>" +
           szScript + "</body></html>\n";
}

// Lays the car's pages of CarInputs out in a frame cx pixels wide; with the variable szShotVariable
// naming a file, keeps the sample download's page there as a picture.
void ExpectCarPagesFit(std::string const& dir, int cx, const char* szShotVariable)
{
    constexpr int cyFrame = 1600;
    auto rginput = CarInputs(dir);
    for (auto const& [strName, rgpath] : rginput) {
        SCOPED_TRACE(strName + " at " + std::to_string(cx) + " px");
        std::vector<std::string> rgarg{"--price", "0.30,0.12@23:00-07:00"};
        rgarg.insert(rgarg.end(), rgpath.begin(), rgpath.end());
        std::string const strPage = CarPageOf(rgarg);
        std::string const pathCheck = dir + "/width-check.html";
        WriteText(pathCheck, FramedPage(strPage, cx, cyFrame, s_szWidthCheckScript));
        RunResult res = RunChromium(dir, {"--dump-dom", "file://" + pathCheck}, std::max(cx, 500), 900);
        ASSERT_EQ(res.status, 0) << res.err;
        size_t ibStart = res.out.find("<pre id=\"qf-check\">");
        ASSERT_NE(ibStart, std::string::npos) << res.out.substr(0, 500);
        ibStart += std::strlen("<pre id=\"qf-check\">");
        EXPECT_EQ(res.out.substr(ibStart, res.out.find("</pre>", ibStart) - ibStart), "scroll 0");
    }
    const char* pszShot = std::getenv(szShotVariable);
    if (!pszShot || !*pszShot)
        return;
    std::vector<std::string> rgarg{"--price", "0.30,0.12@23:00-07:00"};
    rgarg.insert(rgarg.end(), rginput.front().second.begin(), rginput.front().second.end());
    std::string const pathShot = dir + "/shot.html";
    WriteText(pathShot, FramedPage(CarPageOf(rgarg), cx, cyFrame, ""));
    RunResult res = RunChromium(dir, {"--screenshot=" + std::string(pszShot), "file://" + pathShot}, std::max(cx, 500),
                                cyFrame);
    ASSERT_EQ(res.status, 0) << res.err;
    EXPECT_EQ(ReadText(pszShot).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(Browser, CarPageFitsAPhone)
{
    ExpectCarPagesFit(dir, 412, "QF_CAR_SCREENSHOT_PHONE");
}

TEST_F(Browser, CarPageFitsADesktop)
{
    ExpectCarPagesFit(dir, 1400, "QF_CAR_SCREENSHOT_WIDE");
}

// Long histories as the README's pictures at both widths, when `make check-browser` names the files
// (QF_CAR_SCREENSHOT_WEEKS_*, QF_CAR_SCREENSHOT_LONG_*): eight weekly downloads, and ten years in a
// 400 MiB log, too much for every run of the tests.
TEST_F(Browser, ScreenshotsOfLongHistories)
{
    struct HISTORYSHOT {
        const char* szName;
        const char* szPhoneVariable;
        const char* szWideVariable;
        std::vector<std::vector<std::string>> rgrgargGenlog;
    };
    std::vector<std::vector<std::string>> rgrgargWeeks;
    for (const char* szStop : {"2010-03-01", "2010-03-08", "2010-03-15", "2010-03-22", "2010-03-29", "2010-04-05",
                               "2010-04-12", "2010-04-19"})
        rgrgargWeeks.push_back({"--seed", "5", "--days", "120", "--end", "2010-05-01 08:00", "--stop",
                                std::string(szStop) + " 08:00", "--ring", "4M"});
    HISTORYSHOT const rgshot[] = {
        {"eight-weeks", "QF_CAR_SCREENSHOT_WEEKS_PHONE", "QF_CAR_SCREENSHOT_WEEKS_WIDE", rgrgargWeeks},
        {"ten-years", "QF_CAR_SCREENSHOT_LONG_PHONE", "QF_CAR_SCREENSHOT_LONG_WIDE",
         {{"--seed", "11", "--days", "3650", "--end", "2019-06-30 08:00", "--ring", "400M", "--longterm", "256K"}}},
    };
    int cshot = 0;
    for (HISTORYSHOT const& shot : rgshot) {
        const char* pszPhone = std::getenv(shot.szPhoneVariable);
        const char* pszWide = std::getenv(shot.szWideVariable);
        if (!pszPhone || !*pszPhone || !pszWide || !*pszWide)
            continue;
        SCOPED_TRACE(shot.szName);
        cshot++;
        std::vector<std::string> rgarg{"--price", "0.30,0.12@23:00-07:00"};
        for (size_t i = 0; i < shot.rgrgargGenlog.size(); i++) {
            std::string const pathLog = dir + "/" + shot.szName + std::to_string(i) + ".log";
            std::vector<std::string> argv{PathGenlog()};
            argv.insert(argv.end(), shot.rgrgargGenlog[i].begin(), shot.rgrgargGenlog[i].end());
            argv.insert(argv.end(), {"--out", pathLog});
            RunResult g = RunProgram(argv);
            ASSERT_EQ(g.status, 0) << g.err;
            rgarg.push_back(pathLog);
        }
        std::string const strPage = CarPageOf(rgarg);
        for (size_t i = 2; i < rgarg.size(); i++)
            std::remove(rgarg[i].c_str());
        constexpr int cyShot = 3200;
        for (auto const& [cx, pszShot] : {std::pair{412, pszPhone}, std::pair{1400, pszWide}}) {
            std::string const pathShot = dir + "/" + shot.szName + ".html";
            WriteText(pathShot, FramedPage(strPage, cx, cyShot, ""));
            RunResult res = RunChromium(dir, {"--screenshot=" + std::string(pszShot), "file://" + pathShot},
                                        std::max(cx, 500), cyShot);
            ASSERT_EQ(res.status, 0) << res.err;
            EXPECT_EQ(ReadText(pszShot).substr(0, 8), "\x89PNG\r\n\x1a\n");
        }
    }
    if (cshot == 0)
        GTEST_SKIP() << "no files named for the pictures of long histories";
}

}  // namespace
