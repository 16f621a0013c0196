// The car's page. Every chart is one <figure class="chart"> holding an SVG with its own viewBox;
// lines and dots carry the class "series" and bars the class "bar", so that a test in a browser
// can count what was drawn. Figures in tables use the default report's formats.
#include "plot/carpage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "plot/studyreport.h"
#include "support/timecal.h"
#include "support/units.h"
#include "plot/svg.h"

namespace {

constexpr int64_t secDay = 86400;
constexpr int cchDate = 20;
constexpr int cchNote = 256;
constexpr int cTickTarget = 6;
constexpr int cptPageBudget = 400000;   // profile points on the whole page: about 5 MB of SVG
constexpr int cDriveAverage = 9;        // drives in the efficiency's moving average
constexpr int cIntervalLine = 1000;     // a line over years (tyres, capacity) keeps 2 points per interval
constexpr double milesWhMin = 1.0;      // shorter drives get no Wh per mile, as in the report
constexpr int64_t secNoDate = INT64_MIN;

// Chart geometry (viewBox 0 0 cxChart cyChart).
constexpr double cxChart = 980, cyChart = 300;
constexpr double xLeft = 66, xRight = 962, yTop = 34, yBottom = 250;
// A profile: panels stacked over one time axis.
constexpr double cyPanel = 110, cyPanelGap = 22, yProfileTop = 10;

struct XY {
    double x, y;
};

enum KIND { kindLine, kindDots, kindBars };

struct SERIESDRAW {
    const char* szName;
    const char* szColour;
    KIND kind;
    std::vector<XY> rgxy;
};

struct AXIS {
    double vMin, vMax;
    bool fDate;           // values are civil seconds
    const char* szTitle;
    bool fLabelsUnsigned = false;   // values below zero are a second quantity drawn downwards
};

struct MARK {
    double x;
    std::string strLabel;
};

struct PAGE {
    HISTORY const* phist;
    int fMetric;
    std::string* pstr;
};

// Civil seconds of a timestamp in the display zone, read back from the report's own date text.
int64_t SecCivil(uint32_t timestamp)
{
    char sz[cchDate];
    DateFromTimestamp(timestamp, sz, cchDate);
    int month, day, year, hour, minute, second;
    if (sscanf(sz, "%2d/%2d/%4d %2d:%2d:%2d", &month, &day, &year, &hour, &minute, &second) != 6)
        return secNoDate;
    return SecFromCivil(year, month, day, hour, minute, second);
}

double Dist(PAGE const* ppage, double miles)
{
    return DistConvertMiles(miles, ppage->fMetric);
}

const char* SzDist(PAGE const* ppage)
{
    return UnitsDistMiKm(ppage->fMetric);
}

const char* SzSpeed(PAGE const* ppage)
{
    return UnitsSpeed(ppage->fMetric);
}

void AppendDate(std::string* pstr, uint32_t timestamp)
{
    char sz[cchDate];
    AppendText(pstr, DateFromTimestamp(timestamp, sz, cchDate));
}

void AppendDuration(std::string* pstr, uint32_t sec)
{
    Append(pstr, "%02d:%02d:%02d", (int)(sec / 3600), (int)(sec / 60 % 60), (int)(sec % 60));
}

// ---- Charts ----------------------------------------------------------------------------------

void WidenAxis(AXIS* paxis)
{
    if (!(paxis->vMax > paxis->vMin)) {
        double d = paxis->fDate ? secDay / 2.0 : std::fabs(paxis->vMin) > 1 ? std::fabs(paxis->vMin) / 10 : 1;
        paxis->vMin -= d;
        paxis->vMax += d;
    }
}

// The value axis rounded out to whole steps; returns the step.
double RoundAxis(AXIS* paxis)
{
    WidenAxis(paxis);
    double step = NiceStep(paxis->vMax - paxis->vMin, cTickTarget);
    paxis->vMin = std::floor(paxis->vMin / step) * step;
    paxis->vMax = std::ceil(paxis->vMax / step) * step;
    if (!(paxis->vMax > paxis->vMin))
        paxis->vMax = paxis->vMin + step;
    return step;
}

double XOf(AXIS const& axis, double v)
{
    return xLeft + (v - axis.vMin) / (axis.vMax - axis.vMin) * (xRight - xLeft);
}

double YOf(AXIS const& axis, double v, double yT, double yB)
{
    return yB - (v - axis.vMin) / (axis.vMax - axis.vMin) * (yB - yT);
}

// The grid as one path and the labels in one group: a page of a thousand profiles carries a
// thousand of these.
void AppendYAxis(std::string* pstr, AXIS const& axis, double step, double yT, double yB)
{
    int cTick = (int)std::floor((axis.vMax - axis.vMin) / step + 0.5);
    if (cTick > 100)
        cTick = 100;
    pstr->append("<path class=\"grid\" d=\"");
    for (int i = 0; i <= cTick; i++)
        Append(pstr, "M%.0f %.1fH%.0f", xLeft, YOf(axis, axis.vMin + i * step, yT, yB), xRight);
    pstr->append("\"/>\n<g class=\"y-axis\" text-anchor=\"end\">");
    for (int i = 0; i <= cTick; i++) {
        double v = axis.vMin + i * step;
        char ach[32];
        FormatCompact(std::fabs(v) < step / 1e6 ? 0 : axis.fLabelsUnsigned ? std::fabs(v) : v, ach, sizeof ach);
        Append(pstr, "<text x=\"%.0f\" y=\"%.1f\">%s</text>", xLeft - 5, YOf(axis, v, yT, yB) + 4, ach);
    }
    pstr->append("</g>\n");
    Append(pstr, "<text class=\"axis-title\" transform=\"translate(14 %.1f) rotate(-90)\" text-anchor=\"middle\">",
           (yT + yB) / 2);
    AppendText(pstr, axis.szTitle);
    pstr->append("</text>\n");
}

// Ticks at whole days, months or years, as on the battery page.
void AppendDateTicks(std::string* pstr, AXIS const& axis, double yT, double yB)
{
    DATETICK rgtick[ctickDateMax];
    int ctick = CDateTicks((int64_t)std::ceil(axis.vMin), (int64_t)std::floor(axis.vMax), rgtick);
    pstr->append("<g class=\"x-axis\">\n");
    for (int itick = 0; itick < ctick; itick++) {
        double x = XOf(axis, (double)rgtick[itick].sec);
        Append(pstr, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>", x, yT, x, yB);
        Append(pstr, "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n", x, yB + 16,
               rgtick[itick].szLabel);
    }
    pstr->append("</g>\n");
}

void AppendNumberTicks(std::string* pstr, AXIS const& axis, double step, double yT, double yB)
{
    int cTick = (int)std::floor((axis.vMax - axis.vMin) / step + 0.5);
    if (cTick > 100)
        cTick = 100;
    pstr->append("<path class=\"grid\" d=\"");
    for (int i = 0; i <= cTick; i++)
        Append(pstr, "M%.1f %.0fV%.0f", XOf(axis, axis.vMin + i * step), yT, yB);
    pstr->append("\"/>\n<g class=\"x-axis\" text-anchor=\"middle\">");
    for (int i = 0; i <= cTick; i++) {
        double v = axis.vMin + i * step;
        char ach[32];
        FormatCompact(std::fabs(v) < step / 1e6 ? 0 : v, ach, sizeof ach);
        Append(pstr, "<text x=\"%.1f\" y=\"%.0f\">%s</text>", XOf(axis, v), yB + 16, ach);
    }
    pstr->append("</g>\n");
}

void AppendSeries(std::string* pstr, SERIESDRAW const& series, AXIS const& axisX, AXIS const& axisY, double yT,
                  double yB, double cxBar)
{
    if (series.rgxy.empty())
        return;
    switch (series.kind) {
    case kindLine:
        if (series.rgxy.size() > 1) {
            Append(pstr, "<polyline class=\"series\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.5\" points=\"",
                   series.szColour);
            std::vector<XY> rgxyThin;
            ThinMinMaxBy(series.rgxy.data(), (int)series.rgxy.size(), cIntervalLine, [](XY const& xy) { return xy.y; },
                         &rgxyThin);
            for (XY const& xy : rgxyThin)
                Append(pstr, "%.1f,%.1f ", XOf(axisX, xy.x), YOf(axisY, xy.y, yT, yB));
            pstr->append("\"><title>");
            AppendText(pstr, series.szName);
            pstr->append("</title></polyline>\n");
            break;
        }
        [[fallthrough]];
    case kindDots:
        Append(pstr, "<g class=\"series\" fill=\"%s\"><title>", series.szColour);
        AppendText(pstr, series.szName);
        pstr->append("</title>");
        for (XY const& xy : series.rgxy)
            Append(pstr, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\"/>", XOf(axisX, xy.x), YOf(axisY, xy.y, yT, yB));
        pstr->append("</g>\n");
        break;
    case kindBars: {
        Append(pstr, "<g fill=\"%s\">", series.szColour);
        double const yZero = YOf(axisY, axisY.vMin < 0 && axisY.vMax > 0 ? 0 : axisY.vMin, yT, yB);
        for (XY const& xy : series.rgxy) {
            double const y = YOf(axisY, xy.y, yT, yB);
            double cy = std::fabs(y - yZero);
            Append(pstr, "<rect class=\"bar\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\"/>",
                   XOf(axisX, xy.x) - cxBar / 2, y < yZero ? y : yZero, cxBar, cy < 1 ? 1 : cy);
        }
        pstr->append("</g>\n");
        break;
    }
    }
}

void AppendLegend(std::string* pstr, std::vector<SERIESDRAW> const& rgseries, double yLegend)
{
    double x = xLeft;
    pstr->append("<g class=\"legend\">");
    for (SERIESDRAW const& series : rgseries) {
        Append(pstr, "<rect x=\"%.1f\" y=\"%.1f\" width=\"14\" height=\"4\" fill=\"%s\"/>", x, yLegend - 6,
               series.szColour);
        Append(pstr, "<text x=\"%.1f\" y=\"%.1f\">", x + 18, yLegend);
        AppendText(pstr, series.szName);
        pstr->append("</text>");
        x += 26 + 7.0 * (double)strlen(series.szName);
    }
    pstr->append("</g>\n");
}

// Spans both axes over the series (the y axis from 0 when asked), leaving a set minimum alone.
void FitAxes(std::vector<SERIESDRAW> const& rgseries, AXIS* paxisX, AXIS* paxisY, bool fYFromZero)
{
    bool fAny = false;
    for (SERIESDRAW const& series : rgseries) {
        for (XY const& xy : series.rgxy) {
            if (!fAny) {
                paxisX->vMin = paxisX->vMax = xy.x;
                paxisY->vMin = paxisY->vMax = xy.y;
                fAny = true;
            }
            paxisX->vMin = std::fmin(paxisX->vMin, xy.x);
            paxisX->vMax = std::fmax(paxisX->vMax, xy.x);
            paxisY->vMin = std::fmin(paxisY->vMin, xy.y);
            paxisY->vMax = std::fmax(paxisY->vMax, xy.y);
        }
    }
    if (!fAny) {
        paxisX->vMin = 0;
        paxisX->vMax = 1;
        paxisY->vMin = 0;
        paxisY->vMax = 1;
    }
    if (fYFromZero && paxisY->vMin > 0)
        paxisY->vMin = 0;
}

// One chart in its figure. The x axis spans axisX as given (a date axis is padded by half a day).
void AppendChart(PAGE const* ppage, const char* szId, const char* szCaption, const char* szNote, AXIS axisX,
                 AXIS axisY, std::vector<SERIESDRAW> const& rgseries, std::vector<MARK> const& rgmark, double cxBar)
{
    std::string* pstr = ppage->pstr;
    Append(pstr, "<figure class=\"chart\" id=\"%s\">\n<figcaption>", szId);
    AppendText(pstr, szCaption);
    Append(pstr, "</figcaption>\n<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"", cxChart, cyChart);
    AppendText(pstr, szCaption);
    pstr->append("\">\n");
    WidenAxis(&axisX);
    double const stepY = RoundAxis(&axisY);
    AppendYAxis(pstr, axisY, stepY, yTop, yBottom);
    if (axisX.fDate) {
        AppendDateTicks(pstr, axisX, yTop, yBottom);
    } else {
        double const stepX = RoundAxis(&axisX);
        AppendNumberTicks(pstr, axisX, stepX, yTop, yBottom);
    }
    bool fAny = false;
    for (SERIESDRAW const& series : rgseries)
        fAny = fAny || !series.rgxy.empty();
    for (MARK const& mark : rgmark) {
        double const x = XOf(axisX, mark.x);
        pstr->append("<g class=\"fw\"><title>");
        AppendText(pstr, mark.strLabel.c_str());
        Append(pstr, "</title><line class=\"fw-line\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>", x, yTop,
               x, yBottom);
        Append(pstr, "<path class=\"fw-mark\" d=\"M%.1f %.1fl-5 -8h10z\"/></g>\n", x, yTop);
    }
    for (SERIESDRAW const& series : rgseries)
        AppendSeries(pstr, series, axisX, axisY, yTop, yBottom, cxBar);
    if (!fAny)
        Append(pstr, "<text class=\"empty\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">nothing in the log</text>\n",
               (xLeft + xRight) / 2, (yTop + yBottom) / 2);
    Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xLeft, yBottom, xRight,
           yBottom);
    AppendLegend(pstr, rgseries, 18);
    Append(pstr, "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", (xLeft + xRight) / 2,
           cyChart - 14);
    AppendText(pstr, axisX.szTitle);
    pstr->append("</text>\n</svg>\n<p class=\"note\">");
    AppendText(pstr, szNote);
    pstr->append("</p>\n</figure>\n");
}

// ---- Profiles --------------------------------------------------------------------------------

struct PANEL {
    const char* szTitle;
    std::vector<SERIESDRAW> rgseries;
};

std::vector<XY> XYOfProfile(std::vector<PT> const& rgpt, int cptMax, double scale)
{
    std::vector<PT> rgptThin;
    ThinMinMax(rgpt.data(), (int)rgpt.size(), cptMax / 2, &rgptThin);
    std::vector<XY> rgxy;
    rgxy.reserve(rgptThin.size());
    for (PT const& pt : rgptThin)
        rgxy.push_back(XY{pt.sec / 60.0, pt.v * scale});
    return rgxy;
}

// Panels stacked over one axis of minutes from the session's start, in a chart that opens with its row.
void AppendProfile(PAGE const* ppage, const char* szId, const char* szCaption, std::vector<PANEL> const& rgpanel,
                   double secDuration)
{
    std::string* pstr = ppage->pstr;
    double const cyAll = yProfileTop + (double)rgpanel.size() * (cyPanel + cyPanelGap) + 24;
    Append(pstr,
           "<figure class=\"chart profile\" id=\"%s\">\n<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"",
           szId, cxChart, cyAll);
    AppendText(pstr, szCaption);
    pstr->append("\">\n");
    AXIS axisX{0, secDuration / 60.0, false, "minutes from the start"};
    WidenAxis(&axisX);
    double const stepX = RoundAxis(&axisX);
    double yT = yProfileTop;
    for (PANEL const& panel : rgpanel) {
        double const yB = yT + cyPanel;
        AXIS axisY{0, 1, false, panel.szTitle};
        AXIS axisIgnored{0, 1, false, ""};
        FitAxes(panel.rgseries, &axisIgnored, &axisY, axisY.vMin >= 0);
        double const stepY = RoundAxis(&axisY);
        AppendYAxis(pstr, axisY, stepY, yT, yB);
        // Power below zero (regeneration) gets a zero line of its own.
        if (axisY.vMin < 0 && axisY.vMax > 0)
            Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xLeft,
                   YOf(axisY, 0, yT, yB), xRight, YOf(axisY, 0, yT, yB));
        bool fAny = false;
        for (SERIESDRAW const& series : panel.rgseries) {
            AppendSeries(pstr, series, axisX, axisY, yT, yB, 1);
            fAny = fAny || !series.rgxy.empty();
        }
        if (!fAny)
            Append(pstr, "<text class=\"empty\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">no samples</text>\n",
                   (xLeft + xRight) / 2, (yT + yB) / 2);
        Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xLeft, yB, xRight, yB);
        yT = yB + cyPanelGap;
    }
    AppendNumberTicks(pstr, axisX, stepX, yProfileTop, yT - cyPanelGap);
    Append(pstr,
           "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">minutes from the start</text>\n",
           (xLeft + xRight) / 2, cyAll - 4);
    pstr->append("</svg>\n</figure>\n");
}

// ---- Sections --------------------------------------------------------------------------------

struct TOTALS {
    double miles, wh, kwhWall;
    double secDriving, secCharging;
};

TOTALS TotalsOf(HISTORY const* phist)
{
    TOTALS totals{};
    for (DRIVEROW const& row : phist->rgdrive) {
        totals.miles += row.ds.miles;
        totals.wh += row.ds.wh;
        totals.secDriving += row.ds.secDuration;
    }
    for (CHARGEROW const& row : phist->rgcharge) {
        totals.kwhWall += row.cs.kwh;
        totals.secCharging += row.cs.secDuration;
    }
    return totals;
}

void AppendOverview(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    TOTALS const totals = TotalsOf(phist);
    pstr->append("<section id=\"overview\">\n<h2>Overview</h2>\n<table class=\"figures\">\n");
    pstr->append("<tr><th>Period</th><td>");
    if (phist->timestampMin != 0) {
        AppendDate(pstr, phist->timestampMin);
        pstr->append(" to ");
        AppendDate(pstr, phist->timestampMax);
        Append(pstr, " (%.1f days)", (phist->timestampMax - phist->timestampMin) / 86400.0);
    } else {
        pstr->append("no drive or charge in the log");
    }
    pstr->append("</td></tr>\n<tr><th>Odometer</th><td>");
    if (phist->milesOdoMin >= 0)
        Append(pstr, "%.1f to %.1f %s", Dist(ppage, phist->milesOdoMin), Dist(ppage, phist->milesOdoMax),
               SzDist(ppage));
    else
        pstr->append("no reading");
    Append(pstr, "</td></tr>\n<tr><th>Distance</th><td>%.1f %s</td></tr>\n", Dist(ppage, totals.miles),
           SzDist(ppage));
    Append(pstr, "<tr><th>Time driving</th><td>%.1f hours</td></tr>\n", totals.secDriving / 3600);
    Append(pstr, "<tr><th>Time charging</th><td>%.1f hours</td></tr>\n", totals.secCharging / 3600);
    Append(pstr, "<tr><th>Energy out of the battery</th><td>%.1f kWh</td></tr>\n", totals.wh / 1000);
    Append(pstr, "<tr><th>Energy from the wall</th><td>%.1f kWh</td></tr>\n", totals.kwhWall);
    double const dist = Dist(ppage, totals.miles);
    pstr->append("<tr><th>Battery to wheel</th><td>");
    if (totals.miles >= milesWhMin)
        Append(pstr, "%.0f Wh/%s", totals.wh / dist, SzDist(ppage));
    pstr->append("</td></tr>\n<tr><th>Wall to wheel</th><td>");
    if (totals.miles >= milesWhMin && totals.kwhWall > 0)
        Append(pstr, "%.0f Wh/%s", totals.kwhWall * 1000 / dist, SzDist(ppage));
    Append(pstr, "</td></tr>\n<tr><th>Drives</th><td>%zu</td></tr>\n<tr><th>Charges</th><td>%zu</td></tr>\n",
           phist->rgdrive.size(), phist->rgcharge.size());
    pstr->append("</table>\n");
    if (phist->cinput > 1)
        Append(pstr, "<p class=\"note\">%d logs merged: %ld records, each once, in time order.</p>\n", phist->cinput,
               phist->crecMerged);
    pstr->append("</section>\n");
}

void AppendCalendar(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::map<int64_t, double> mpDayDist, mpDayKwh;
    for (DRIVEROW const& row : phist->rgdrive) {
        int64_t sec = SecCivil(row.ds.timestampStart);
        if (sec != secNoDate)
            mpDayDist[sec / secDay - (sec % secDay < 0)] += Dist(ppage, row.ds.miles);
    }
    for (CHARGEROW const& row : phist->rgcharge) {
        int64_t sec = SecCivil(row.cs.timestampStart);
        if (sec != secNoDate)
            mpDayKwh[sec / secDay - (sec % secDay < 0)] += row.cs.kwh;
    }
    int64_t const secMin = SecCivil(phist->timestampMin), secMax = SecCivil(phist->timestampMax);
    int64_t dayFirst = 0, dayLast = 0;
    if (phist->timestampMin != 0 && secMin != secNoDate && secMax != secNoDate) {
        dayFirst = secMin / secDay;
        dayLast = secMax / secDay;
    }
    // Distance up, energy charged down: one mark per day of the period, each day of it present.
    std::vector<SERIESDRAW> rgseries(2);
    char szDist[40];
    snprintf(szDist, sizeof szDist, "kWh | %s", SzDist(ppage));
    rgseries[0] = SERIESDRAW{"distance driven", "#2471a3", kindBars, {}};
    rgseries[1] = SERIESDRAW{"energy charged (kWh, below)", "#27ae60", kindBars, {}};
    double vMax = 1, vMinNeg = -1;
    for (int64_t day = dayFirst; day <= dayLast && phist->timestampMin != 0; day++) {
        double const x = (double)(day * secDay + secDay / 2);
        auto itDist = mpDayDist.find(day);
        auto itKwh = mpDayKwh.find(day);
        double const dist = itDist != mpDayDist.end() ? itDist->second : 0;
        double const kwh = itKwh != mpDayKwh.end() ? itKwh->second : 0;
        rgseries[0].rgxy.push_back(XY{x, dist});
        rgseries[1].rgxy.push_back(XY{x, -kwh});
        vMax = std::fmax(vMax, dist);
        vMinNeg = std::fmin(vMinNeg, -kwh);
    }
    AXIS axisX{(double)(dayFirst * secDay), (double)((dayLast + 1) * secDay), true, "day"};
    AXIS axisY{vMinNeg, vMax, false, szDist, true};
    double const cxDay = (xRight - xLeft) / (double)(dayLast - dayFirst + 1);
    AppendChart(ppage, "chart-calendar", "Calendar", "Each day of the period: distance driven above the line, "
                "energy charged from the wall (kWh) below it.", axisX, axisY, rgseries, {},
                cxDay > 2 ? cxDay * 0.8 : cxDay);
}

void AppendDriveNotes(std::string* pstr, DRIVESESSION const& ds)
{
    char szNote[cchNote];
    if (PszDSTNote(ds.timestampStart, ds.timestampEnd, szNote, cchNote)) {
        AppendText(pstr, szNote);
        if (ds.cTCOff > 0)
            pstr->push_back(' ');
    }
    if (ds.cTCOff > 0) {
        int n = ds.cTCOff;
        const char* szUnit = "seconds";
        if (ds.cTCOff >= 7200) {
            n = ds.cTCOff / 3600;
            szUnit = "hours";
        } else if (ds.cTCOff >= 120) {
            n = ds.cTCOff / 60;
            szUnit = "minutes";
        }
        Append(pstr, "TC off for %d %s", n, szUnit);
    }
}

void AppendDrives(PAGE const* ppage, int cptProfile)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"drives\">\n<h2>Drives</h2>\n");
    if (phist->rgdrive.empty()) {
        pstr->append("<p>No drive in the log.</p>\n</section>\n");
        return;
    }
    Append(pstr, "<table class=\"sessions\" id=\"table-drives\">\n"
                 "<thead><tr><th>Start</th><th>End</th><th>Duration</th>"
                 "<th>SOC from</th><th>SOC to</th><th>Distance (%s)</th><th>Average speed (%s)</th>"
                 "<th>Top speed (%s)</th><th>Energy (kWh)</th><th>Wh/%s</th><th>Notes</th></tr></thead>\n",
           SzDist(ppage), SzSpeed(ppage), SzSpeed(ppage), SzDist(ppage));
    int idrive = 0;
    for (DRIVEROW const& row : phist->rgdrive) {
        DRIVESESSION const& ds = row.ds;
        pstr->append("<tbody><tr class=\"drive\"><td>");
        AppendDate(pstr, ds.timestampStart);
        pstr->append("</td><td>");
        AppendDate(pstr, ds.timestampEnd);
        pstr->append("</td><td>");
        AppendDuration(pstr, ds.secDuration);
        Append(pstr, "</td><td>%d%%</td><td>%d%%</td><td>%.1f</td><td>%.1f</td><td>%.1f</td><td>%.1f</td><td>",
               ds.pctSOCStart, ds.pctSOCEnd, Dist(ppage, ds.miles), Dist(ppage, ds.mphAverage),
               Dist(ppage, ds.mphMax), ds.wh / 1000);
        if (ds.miles >= milesWhMin)
            Append(pstr, "%.0f", ds.wh / Dist(ppage, ds.miles));
        pstr->append("</td><td>");
        AppendDriveNotes(pstr, ds);
        pstr->append("</td></tr>\n<tr class=\"profile\"><td colspan=\"11\"><details><summary>Profile</summary>\n");
        std::vector<PANEL> rgpanel(3);
        char szSpeed[32];
        snprintf(szSpeed, sizeof szSpeed, "speed (%s)", SzSpeed(ppage));
        double const scaleSpeed = ppage->fMetric ? kmPerMile : 1;
        rgpanel[0] = PANEL{szSpeed, {SERIESDRAW{"speed", "#2471a3", kindLine,
                                                XYOfProfile(row.rgptSpeed, cptProfile, scaleSpeed)}}};
        rgpanel[1] = PANEL{"battery power (kW)", {SERIESDRAW{"battery power", "#c0392b", kindLine,
                                                             XYOfProfile(row.rgptPower, cptProfile, 1)}}};
        rgpanel[2] = PANEL{"SOC (%)",
                           {SERIESDRAW{"SOC", "#27ae60", kindLine, XYOfProfile(row.rgptSOC, cptProfile, 1)}}};
        char szId[32];
        snprintf(szId, sizeof szId, "drive-%d", ++idrive);
        AppendProfile(ppage, szId, "drive profile", rgpanel, ds.secDuration);
        pstr->append("</details></td></tr></tbody>\n");
    }
    pstr->append("</table>\n</section>\n");
}

void AppendCharges(PAGE const* ppage, int cptProfile)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"charges\">\n<h2>Charges</h2>\n");
    if (phist->rgcharge.empty()) {
        pstr->append("<p>No charge in the log.</p>\n</section>\n");
        return;
    }
    Append(pstr, "<table class=\"sessions\" id=\"table-charges\">\n"
                 "<thead><tr><th>Start</th><th>End</th><th>Duration</th>"
                 "<th>SOC from</th><th>SOC to</th><th>Line volts</th><th>Amps</th><th>Amps available</th>"
                 "<th>Energy (kWh)</th><th>Charge in (Ah)</th><th>Charge out (Ah)</th><th>Wall to wheel (Wh/%s)</th>"
                 "<th>Notes</th></tr></thead>\n",
           SzDist(ppage));
    int icharge = 0;
    char szNote[cchNote];
    for (CHARGEROW const& row : phist->rgcharge) {
        CHARGESESSION const& cs = row.cs;
        pstr->append("<tbody><tr class=\"charge\"><td>");
        AppendDate(pstr, cs.timestampStart);
        pstr->append("</td><td>");
        AppendDate(pstr, cs.timestampEnd);
        pstr->append("</td><td>");
        AppendDuration(pstr, cs.secDuration);
        Append(pstr, "</td><td>%d%%</td><td>%d%%</td><td>", cs.pctSOCStart, cs.pctSOCEnd);
        if (cs.cVoltsLine > 0)
            Append(pstr, "%.0f", cs.voltsLineAverage);
        pstr->append("</td><td>");
        if (cs.ampsMax != 0)
            Append(pstr, "%.0f", cs.ampsMax);
        pstr->append("</td><td>");
        if (cs.ampsMax != 0 && cs.ampsAvailable != 0)
            Append(pstr, "%d", cs.ampsAvailable);
        pstr->append("</td><td>");
        if (cs.kwh != 0)
            Append(pstr, "%.1f", cs.kwh);
        Append(pstr, "</td><td>%.1f</td><td>%.1f</td><td>", cs.ahIn, cs.ahOut);
        if (cs.fWallToWheel)
            Append(pstr, "%.0f", cs.kwh * 1000 / Dist(ppage, cs.milesSinceCharge));
        pstr->append("</td><td>");
        if (PszDSTNote(cs.timestampStart, cs.timestampEnd, szNote, cchNote))
            AppendText(pstr, szNote);
        pstr->append("</td></tr>\n<tr class=\"profile\"><td colspan=\"13\">"
                     "<details><summary>Charging curve</summary>\n");
        std::vector<PANEL> rgpanel(4);
        rgpanel[0] = PANEL{"power (kW)", {SERIESDRAW{"line power", "#c0392b", kindLine,
                                                     XYOfProfile(row.rgptPower, cptProfile, 1)}}};
        rgpanel[1] = PANEL{"current (A)",
                           {SERIESDRAW{"charge current", "#2471a3", kindLine, XYOfProfile(row.rgptAmps, cptProfile, 1)},
                            SERIESDRAW{"current available", "#888888", kindLine,
                                       XYOfProfile(row.rgptAmpsAvailable, cptProfile, 1)}}};
        rgpanel[2] = PANEL{"battery temp (C)", {SERIESDRAW{"battery temperature", "#d68910", kindLine,
                                                            XYOfProfile(row.rgptTemp, cptProfile, 1)}}};
        rgpanel[3] = PANEL{"SOC (%)",
                           {SERIESDRAW{"SOC", "#27ae60", kindLine, XYOfProfile(row.rgptSOC, cptProfile, 1)}}};
        char szId[32];
        snprintf(szId, sizeof szId, "charge-%d", ++icharge);
        AppendProfile(ppage, szId, "charging curve", rgpanel, cs.secDuration);
        pstr->append("</details></td></tr></tbody>\n");
    }
    pstr->append("</table>\n</section>\n");
}

void AppendEfficiency(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    char szWh[32], szSpeed[40];
    snprintf(szWh, sizeof szWh, "Wh/%s", SzDist(ppage));
    snprintf(szSpeed, sizeof szSpeed, "average speed (%s)", SzSpeed(ppage));
    std::vector<SERIESDRAW> rgseriesTime(2), rgseriesSpeed(1);
    rgseriesTime[0] = SERIESDRAW{"each drive", "#2471a3", kindDots, {}};
    rgseriesTime[1] = SERIESDRAW{"moving average", "#c0392b", kindLine, {}};
    rgseriesSpeed[0] = SERIESDRAW{"each drive", "#2471a3", kindDots, {}};
    std::vector<double> rgwh;
    for (DRIVEROW const& row : phist->rgdrive) {
        if (row.ds.miles < milesWhMin)
            continue;
        double const wh = row.ds.wh / Dist(ppage, row.ds.miles);
        rgseriesSpeed[0].rgxy.push_back(XY{Dist(ppage, row.ds.mphAverage), wh});
        int64_t const sec = SecCivil(row.ds.timestampStart);
        if (sec == secNoDate)
            continue;
        rgseriesTime[0].rgxy.push_back(XY{(double)sec, wh});
        rgwh.push_back(wh);
        size_t const iFirst = rgwh.size() > (size_t)cDriveAverage ? rgwh.size() - cDriveAverage : 0;
        double sum = 0;
        for (size_t i = iFirst; i < rgwh.size(); i++)
            sum += rgwh[i];
        rgseriesTime[1].rgxy.push_back(XY{(double)sec, sum / (double)(rgwh.size() - iFirst)});
    }
    ppage->pstr->append("<section id=\"efficiency\">\n<h2>Efficiency</h2>\n");
    AXIS axisX{0, 1, true, "date"}, axisY{0, 1, false, szWh};
    FitAxes(rgseriesTime, &axisX, &axisY, true);
    AppendChart(ppage, "chart-efficiency", "Energy per distance over time",
                "Battery-to-wheel energy of every drive of a mile or more, and the average of the last nine.", axisX,
                axisY, rgseriesTime, {}, 1);
    AXIS axisXSpeed{0, 1, false, szSpeed}, axisYSpeed{0, 1, false, szWh};
    FitAxes(rgseriesSpeed, &axisXSpeed, &axisYSpeed, true);
    if (axisXSpeed.vMin > 0)
        axisXSpeed.vMin = 0;
    AppendChart(ppage, "chart-efficiency-speed", "Energy per distance against average speed",
                "Each drive of a mile or more.", axisXSpeed, axisYSpeed, rgseriesSpeed, {}, 1);
    ppage->pstr->append("</section>\n");
}

std::vector<MARK> FirmwareMarks(HISTORY const* phist)
{
    std::vector<MARK> rgmark;
    for (FWCHANGE const& fw : phist->rgfw) {
        int64_t const sec = SecCivil(fw.timestamp);
        if (sec == secNoDate)
            continue;
        char szVers[48], szDate[cchDate];
        FormatFirmwareVersion(fw.versFirmware, szVers, sizeof szVers);
        rgmark.push_back(MARK{(double)sec, std::string("firmware ") + szVers + " from " +
                                               DateFromTimestamp(fw.timestamp, szDate, cchDate)});
    }
    return rgmark;
}

void AppendBattery(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    ppage->pstr->append("<section id=\"battery\">\n<h2>Battery</h2>\n");
    std::vector<SERIESDRAW> rgseries(3);
    rgseries[0] = SERIESDRAW{"CAC", "#c0392b", kindLine, {}};
    rgseries[1] = SERIESDRAW{"brick Ah min", "#2471a3", kindLine, {}};
    rgseries[2] = SERIESDRAW{"brick Ah ave", "#27ae60", kindLine, {}};
    for (DAYROW const& day : phist->rgday) {
        int64_t const sec = SecCivil(day.timestamp);
        if (sec == secNoDate)
            continue;
        rgseries[0].rgxy.push_back(XY{(double)sec, day.ahCAC});
        rgseries[1].rgxy.push_back(XY{(double)sec, day.ahBrickMin});
        rgseries[2].rgxy.push_back(XY{(double)sec, day.ahBrickAve});
    }
    std::vector<MARK> rgmark = FirmwareMarks(phist);
    AXIS axisX{0, 1, true, "date"}, axisY{0, 1, false, "Ah"};
    FitAxes(rgseries, &axisX, &axisY, false);
    for (MARK const& mark : rgmark) {
        axisX.vMin = std::fmin(axisX.vMin, mark.x);
        axisX.vMax = std::fmax(axisX.vMax, mark.x);
    }
    AppendChart(ppage, "chart-capacity", "Battery capacity",
                "Daily samples of the long-term part: the calculated capacity (CAC) and the lowest and average brick "
                "capacity; a marker where the firmware changed.",
                axisX, axisY, rgseries, rgmark, 1);

    std::vector<SERIESDRAW> rgseriesSOC(2);
    rgseriesSOC[0] = SERIESDRAW{"SOC at the start", "#27ae60", kindDots, {}};
    rgseriesSOC[1] = SERIESDRAW{"SOC at the end", "#c0392b", kindDots, {}};
    for (DRIVEROW const& row : phist->rgdrive) {
        int64_t const sec = SecCivil(row.ds.timestampStart);
        if (sec == secNoDate)
            continue;
        if (row.ds.pctSOCStart >= 0)
            rgseriesSOC[0].rgxy.push_back(XY{(double)sec, (double)row.ds.pctSOCStart});
        if (row.ds.pctSOCEnd >= 0)
            rgseriesSOC[1].rgxy.push_back(XY{(double)sec, (double)row.ds.pctSOCEnd});
    }
    AXIS axisXSOC{0, 1, true, "date"}, axisYSOC{0, 1, false, "SOC (%)"};
    FitAxes(rgseriesSOC, &axisXSOC, &axisYSOC, true);
    AppendChart(ppage, "chart-soc", "State of charge at the start and end of drives", "Range SOC of every drive.",
                axisXSOC, axisYSOC, rgseriesSOC, {}, 1);
    ppage->pstr->append("</section>\n");
}

void AppendEvents(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"events\">\n<h2>Events</h2>\n<h3>Errors</h3>\n");
    if (phist->rgerr.empty()) {
        pstr->append("<p>No error record.</p>\n");
    } else {
        pstr->append("<table id=\"table-errors\">\n"
                     "<thead><tr><th>Time</th><th>Code</th><th>Description</th></tr></thead>\n<tbody>\n");
        for (ERRROW const& err : phist->rgerr) {
            pstr->append("<tr><td>");
            AppendDate(pstr, err.timestamp);
            Append(pstr, "</td><td>%u</td><td>", err.codeError);
            AppendText(pstr, err.szDesc);
            pstr->append("</td></tr>\n");
        }
        pstr->append("</tbody></table>\n");
    }
    pstr->append("<h3>Firmware</h3>\n");
    if (phist->rgfw.empty()) {
        pstr->append("<p>No firmware version in the log.</p>\n");
    } else {
        pstr->append("<table id=\"table-firmware\">\n<thead><tr><th>From</th><th>Version</th></tr></thead>\n<tbody>\n");
        for (FWCHANGE const& fw : phist->rgfw) {
            char szVers[48];
            pstr->append("<tr><td>");
            AppendDate(pstr, fw.timestamp);
            pstr->append("</td><td>");
            AppendText(pstr, FormatFirmwareVersion(fw.versFirmware, szVers, sizeof szVers));
            pstr->append("</td></tr>\n");
        }
        pstr->append("</tbody></table>\n");
    }
    static constexpr const char* rgszTyre[4] = {"front left", "front right", "rear left", "rear right"};
    static constexpr const char* rgszColour[4] = {"#c0392b", "#2471a3", "#27ae60", "#7d3c98"};
    std::vector<SERIESDRAW> rgseries(4);
    for (int i = 0; i < 4; i++)
        rgseries[(size_t)i] = SERIESDRAW{rgszTyre[i], rgszColour[i], kindLine, {}};
    for (TPMSROW const& tpms : phist->rgtpms) {
        int64_t const sec = SecCivil(tpms.timestamp);
        if (sec == secNoDate)
            continue;
        for (int i = 0; i < 4; i++)
            rgseries[(size_t)i].rgxy.push_back(XY{(double)sec, tpms.rgpsi[i]});
    }
    AXIS axisX{0, 1, true, "date"}, axisY{0, 1, false, "psi"};
    FitAxes(rgseries, &axisX, &axisY, false);
    AppendChart(ppage, "chart-tyres", "Tyre pressures", "From the tyre pressure records.", axisX, axisY, rgseries, {},
                1);
    pstr->append("</section>\n");
}

constexpr const char* s_szHead =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>The car</title>\n"
    "<style>\n"
    "body { font-family: sans-serif; margin: 0 auto; padding: 16px 20px; max-width: 1100px; color: #222; "
    "background: #fff; }\n"
    "h1 { font-size: 1.5em; margin: 0 0 12px; }\n"
    "h2 { font-size: 1.2em; margin: 24px 0 8px; border-bottom: 1px solid #ccc; }\n"
    "h3 { font-size: 1em; margin: 14px 0 6px; }\n"
    "nav a { margin-right: 12px; }\n"
    "figure.chart { margin: 0 0 14px; padding: 8px 10px; border: 1px solid #ddd; border-radius: 4px; }\n"
    "figure.profile { border: none; padding: 0; margin: 4px 0; }\n"
    "figcaption { font-weight: bold; margin-bottom: 4px; }\n"
    "svg { display: block; width: 100%; height: auto; font-size: 12px; }\n"
    "svg text { fill: #333; }\n"
    "svg .axis-title { font-size: 13px; fill: #111; }\n"
    "svg .empty { fill: #999; font-size: 16px; }\n"
    "svg .grid { stroke: #e6e6e6; stroke-width: 1; }\n"
    "svg .axis { stroke: #444; stroke-width: 1; }\n"
    "svg .fw-line { stroke: #888; stroke-width: 1; stroke-dasharray: 4 3; }\n"
    "svg .fw-mark { fill: #666; }\n"
    ".note { color: #555; font-size: 0.85em; margin: 4px 0 0; }\n"
    "table { border-collapse: collapse; font-size: 0.85em; }\n"
    "td, th { border: 1px solid #ddd; padding: 2px 6px; text-align: left; }\n"
    "table.sessions td { text-align: right; white-space: nowrap; }\n"
    "table.sessions tr.profile td { text-align: left; white-space: normal; }\n"
    "table.figures th { font-weight: normal; color: #555; }\n"
    "summary { cursor: pointer; color: #2471a3; }\n"
    "</style>\n</head>\n<body>\n";

}  // namespace

int CptProfileBudget(int csession)
{
    int const cptSeries = csession > 0 ? cptPageBudget / (4 * csession) : cptProfileMax;
    return cptSeries < 16 ? 16 : cptSeries > cptProfileMax ? cptProfileMax : cptSeries;
}

void WriteCarPage(HISTORY const* phist, int fMetric, std::string* pstr)
{
    PAGE page{phist, fMetric, pstr};
    int const cptProfile = CptProfileBudget((int)(phist->rgdrive.size() + phist->rgcharge.size()));
    pstr->append(s_szHead);
    pstr->append("<h1>The car</h1>\n<nav><a href=\"#overview\">Overview</a><a href=\"#chart-calendar\">Calendar</a>"
                 "<a href=\"#drives\">Drives</a><a href=\"#charges\">Charges</a><a href=\"#efficiency\">Efficiency</a>"
                 "<a href=\"#battery\">Battery</a><a href=\"#events\">Events</a></nav>\n");
    AppendOverview(&page);
    pstr->append("<section id=\"calendar\">\n<h2>Calendar</h2>\n");
    AppendCalendar(&page);
    pstr->append("</section>\n");
    AppendDrives(&page, cptProfile);
    AppendCharges(&page, cptProfile);
    AppendEfficiency(&page);
    AppendBattery(&page);
    AppendEvents(&page);
    pstr->append("<p class=\"note\">Made by quenfell-plot from the car's logs; drives and charges as quenfell's "
                 "default report gives them.</p>\n</body>\n</html>\n");
}
