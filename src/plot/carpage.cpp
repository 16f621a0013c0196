// The car's page. Every chart is one <figure class="chart"> holding an SVG with its own viewBox;
// lines and dots carry the class "series" and bars the class "bar", so that a test in a browser
// can count what was drawn. Figures in tables use the default report's formats.
#include "plot/carpage.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>

#include "plot/studyreport.h"
#include "support/civil.h"
#include "support/timecal.h"
#include "support/units.h"
#include "plot/svg.h"

namespace {

constexpr int64_t secDay = 86400;
constexpr int cchDate = 20;
constexpr int cchNote = 256;
constexpr int cTickTarget = 6;
constexpr int cptPageBudget = 120000;   // profile points on the whole page: about 1.5 MB of SVG
constexpr int cDriveAverage = 9;        // drives in the efficiency's moving average
constexpr int cIntervalLine = 448;      // a line over years keeps 2 points per interval: one per pixel
constexpr double milesWhMin = 1.0;      // shorter drives get no Wh per mile, as in the report
constexpr int64_t secNoDate = INT64_MIN;

// Chart geometry (viewBox 0 0 cxChart cyChart).
constexpr double cxChart = 980, cyChart = 300;
constexpr double xLeft = 66, xRight = 962, yTop = 16, yBottom = 250;
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
    for (int i = 0; i <= cTick; i++) {
        pstr->push_back('M');
        AppendFixed(pstr, xLeft, 0);
        pstr->push_back(' ');
        AppendFixed(pstr, YOf(axis, axis.vMin + i * step, yT, yB), 1);
        pstr->push_back('H');
        AppendFixed(pstr, xRight, 0);
    }
    pstr->append("\"/>\n<g class=\"y-axis\" text-anchor=\"end\">");
    for (int i = 0; i <= cTick; i++) {
        double v = axis.vMin + i * step;
        char ach[32];
        FormatCompact(std::fabs(v) < step / 1e6 ? 0 : axis.fLabelsUnsigned ? std::fabs(v) : v, ach, sizeof ach);
        pstr->append("<text x=\"");
        AppendFixed(pstr, xLeft - 5, 0);
        pstr->append("\" y=\"");
        AppendFixed(pstr, YOf(axis, v, yT, yB) + 4, 1);
        pstr->append("\">");
        pstr->append(ach);
        pstr->append("</text>");
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
    for (int i = 0; i <= cTick; i++) {
        pstr->push_back('M');
        AppendFixed(pstr, XOf(axis, axis.vMin + i * step), 1);
        pstr->push_back(' ');
        AppendFixed(pstr, yT, 0);
        pstr->push_back('V');
        AppendFixed(pstr, yB, 0);
    }
    pstr->append("\"/>\n<g class=\"x-axis\" text-anchor=\"middle\">");
    for (int i = 0; i <= cTick; i++) {
        double v = axis.vMin + i * step;
        char ach[32];
        FormatCompact(std::fabs(v) < step / 1e6 ? 0 : v, ach, sizeof ach);
        pstr->append("<text x=\"");
        AppendFixed(pstr, XOf(axis, v), 1);
        pstr->append("\" y=\"");
        AppendFixed(pstr, yB + 16, 0);
        pstr->append("\">");
        pstr->append(ach);
        pstr->append("</text>");
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
            for (XY const& xy : rgxyThin) {
                AppendFixed(pstr, XOf(axisX, xy.x), 1);
                pstr->push_back(',');
                AppendFixed(pstr, YOf(axisY, xy.y, yT, yB), 1);
                pstr->push_back(' ');
            }
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
        for (XY const& xy : series.rgxy) {
            pstr->append("<circle cx=\"");
            AppendFixed(pstr, XOf(axisX, xy.x), 1);
            pstr->append("\" cy=\"");
            AppendFixed(pstr, YOf(axisY, xy.y, yT, yB), 1);
            pstr->append("\" r=\"2.5\"/>");
        }
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

// The legend is HTML beside the chart, not text inside it: it wraps and keeps its size on a phone.
void AppendLegendItems(std::string* pstr, std::vector<SERIESDRAW> const& rgseries)
{
    for (SERIESDRAW const& series : rgseries) {
        Append(pstr, "<li><span class=\"swatch\" style=\"background:%s\"></span>", series.szColour);
        AppendText(pstr, series.szName);
        pstr->append("</li>");
    }
}

void AppendLegend(std::string* pstr, std::vector<SERIESDRAW> const& rgseries)
{
    pstr->append("<ul class=\"legend\">");
    AppendLegendItems(pstr, rgseries);
    pstr->append("</ul>\n");
}

// What the axes' titles say, in a line that only a narrow screen shows: there the titles would run
// into the axis labels, and are left out.
void AppendUnits(std::string* pstr, const char* szVertical, const char* szAcross)
{
    pstr->append("<p class=\"units\">Up: ");
    AppendText(pstr, szVertical);
    pstr->append("; across: ");
    AppendText(pstr, szAcross);
    pstr->append("</p>\n");
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
    pstr->append("</figcaption>\n");
    AppendLegend(pstr, rgseries);
    AppendUnits(pstr, axisY.szTitle, axisX.szTitle);
    Append(pstr, "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"", cxChart, cyChart);
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
           "<figure class=\"chart profile\" id=\"%s\">\n<ul class=\"legend\">", szId);
    std::string strPanels;
    for (PANEL const& panel : rgpanel) {
        AppendLegendItems(pstr, panel.rgseries);
        strPanels += (strPanels.empty() ? "" : ", ") + std::string(panel.szTitle);
    }
    pstr->append("</ul>\n");
    strPanels = "panels from the top: " + strPanels;
    AppendUnits(pstr, strPanels.c_str(), "minutes from the start");
    Append(pstr, "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"", cxChart, cyAll);
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

// ---- What the page works out once ------------------------------------------------------------

constexpr const char* s_szNone = "\xe2\x80\x93";   // an en dash: the log has no such value
constexpr int cxPlot = (int)(xRight - xLeft);      // pixels of a chart's plot at its natural size
constexpr int csessionProfileMax = 300;            // the newest drives, and charges, that open to their profile
constexpr int64_t secParkedTableSpan = 366 * secDay;   // parked stretches listed one by one: the last year
constexpr int cchargeCurveMax = 200;               // the newest charges on the compared curves
constexpr int cMonthName = 12;
constexpr const char* s_rgszMonth[cMonthName] = {"January", "February", "March",     "April",   "May",      "June",
                                                 "July",    "August",   "September", "October", "November", "December"};
constexpr const char* s_rgszBandTemp[cbandTemp] = {"below 0 \xc2\xb0""C", "0\xe2\x80\x93""9 \xc2\xb0""C",
                                                   "10\xe2\x80\x93""19 \xc2\xb0""C", "20\xe2\x80\x93""29 \xc2\xb0""C",
                                                   "30\xe2\x80\x93""39 \xc2\xb0""C", "40 \xc2\xb0""C and above"};
constexpr const char* s_rgszBandColour[cbandTemp] = {"#2471a3", "#48c9b0", "#27ae60", "#d4ac0d", "#e67e22", "#c0392b"};

// The grouping of a chart over time: one point or bar per day, week (from Monday) or month, the
// shortest of them that gives no more points than the chart has pixels.
enum GROUP { groupDay, groupWeek, groupMonth };

struct OWNER {
    std::vector<DRIVESESSION> rgds;
    std::vector<CHARGESESSION> rgcs;
    std::vector<double> rgcost;
    std::vector<DAYSAMPLE> rgday;
    std::vector<PARKED> rgparked;
    std::vector<PERIOD> rgmonth, rgyear;
    HEALTH health;
    std::vector<IMBALANCE> rgimb;
    PARKBANDS bands;
    double voltsPack;
    bool fCost;
    bool fLoss;                 // some charge read the battery's volts and amps
};

void ComputeOwner(HISTORY const* phist, OWNER* powner)
{
    for (DRIVEROW const& row : phist->rgdrive)
        powner->rgds.push_back(row.ds);
    for (CHARGEROW const& row : phist->rgcharge) {
        powner->rgcs.push_back(row.cs);
        powner->rgcost.push_back(row.cost.cost);
        powner->fLoss = powner->fLoss || PctChargeLoss(&row.cs) != pctLossNone;
    }
    for (DAYROW const& day : phist->rgday)
        powner->rgday.push_back(DAYSAMPLE{day.timestamp, day.ahCAC, day.ahBrickMin, day.ahBrickAve, day.milesOdo});
    powner->voltsPack = phist->cvoltsPack > 0 ? phist->voltsPackSum / (double)phist->cvoltsPack : 0;
    powner->fCost = phist->price.fGiven;
    std::vector<SESSIONSPAN> rgspan;
    SpansOfSessions(powner->rgds.data(), (int)powner->rgds.size(), powner->rgcs.data(), (int)powner->rgcs.size(),
                    &rgspan);
    ParkedStretches(rgspan.data(), (int)rgspan.size(), phist->rgidle.data(), (int)phist->rgidle.size(),
                    powner->rgday.data(), (int)powner->rgday.size(), powner->voltsPack, &powner->rgparked);
    PeriodsOf(powner->rgds.data(), (int)powner->rgds.size(), powner->rgcs.data(), (int)powner->rgcs.size(),
              powner->fCost ? powner->rgcost.data() : nullptr, powner->rgparked.data(), (int)powner->rgparked.size(),
              &powner->rgmonth, &powner->rgyear);
    BatteryHealthOf(powner->rgday.data(), (int)powner->rgday.size(), &powner->health);
    CIVILCACHE cache;
    ImbalanceByDay(phist->rgidle.data(), (int)phist->rgidle.size(), &cache, &powner->rgimb);
    ParkBandsOf(phist->rgidle.data(), (int)phist->rgidle.size(), &powner->bands);
}

int64_t FloorDivSec(int64_t n, int64_t d)
{
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

int64_t KeyOfSec(int64_t sec, GROUP group)
{
    int64_t const day = FloorDivSec(sec, secDay);
    switch (group) {
    case groupDay:
        return day;
    case groupWeek:
        return FloorDivSec(day + 3, 7);   // 1970-01-01 was a Thursday: weeks start on Mondays
    case groupMonth: {
        int year, month;
        MonthOfSecCivil(sec, &year, &month);
        return (int64_t)year * 12 + (month - 1);
    }
    }
    return day;
}

// The first second of a group and the second after it.
void SpanOfKey(int64_t key, GROUP group, int64_t* psecFirst, int64_t* psecLim)
{
    *psecFirst = *psecLim = 0;
    switch (group) {
    case groupDay:
        *psecFirst = key * secDay;
        *psecLim = *psecFirst + secDay;
        return;
    case groupWeek:
        *psecFirst = (key * 7 - 3) * secDay;
        *psecLim = *psecFirst + 7 * secDay;
        return;
    case groupMonth: {
        int64_t const year = FloorDivSec(key, 12);
        int const month = (int)(key - year * 12) + 1;
        *psecFirst = DaysFromCivil(year, month, 1) * secDay;
        *psecLim = DaysFromCivil(year, month + 1, 1) * secDay;
        return;
    }
    }
}

GROUP GroupForSpan(int64_t secMin, int64_t secMax)
{
    for (GROUP group : {groupDay, groupWeek})
        if (KeyOfSec(secMax, group) - KeyOfSec(secMin, group) + 1 <= cxPlot)
            return group;
    return groupMonth;
}

const char* SzGroup(GROUP group)
{
    return group == groupDay ? "day" : group == groupWeek ? "week" : "month";
}

// Points over time, each a sum of numerator and denominator (Wh and miles; SOC and 1), drawn as
// they are while they fit the chart's pixels, else as one mean per day, week or month.
struct TIMEVALUE {
    int64_t sec;
    double num, den;
};

std::vector<XY> GroupedOverTime(std::vector<TIMEVALUE> const& rgtv, GROUP* pgroup, bool* pfGrouped)
{
    std::vector<XY> rgxy;
    *pfGrouped = false;
    if (rgtv.empty())
        return rgxy;
    int64_t secMin = rgtv[0].sec, secMax = rgtv[0].sec;
    for (TIMEVALUE const& tv : rgtv) {
        secMin = std::min(secMin, tv.sec);
        secMax = std::max(secMax, tv.sec);
    }
    if ((int)rgtv.size() <= cxPlot) {
        for (TIMEVALUE const& tv : rgtv)
            if (tv.den > 0)
                rgxy.push_back(XY{(double)tv.sec, tv.num / tv.den});
        return rgxy;
    }
    *pfGrouped = true;
    *pgroup = GroupForSpan(secMin, secMax);
    std::map<int64_t, std::pair<double, double>> mp;
    for (TIMEVALUE const& tv : rgtv) {
        auto& acc = mp[KeyOfSec(tv.sec, *pgroup)];
        acc.first += tv.num;
        acc.second += tv.den;
    }
    for (auto const& [key, acc] : mp) {
        if (!(acc.second > 0))
            continue;
        int64_t secFirst, secLim;
        SpanOfKey(key, *pgroup, &secFirst, &secLim);
        rgxy.push_back(XY{(double)(secFirst + secLim) / 2, acc.first / acc.second});
    }
    return rgxy;
}

// A point of a scatter chart as sums: its position along the chart, and numerator and denominator.
struct XSUM {
    double x;
    double num, den;
};

// Scatter points drawn as they are while they fit the chart's pixels, else as one mean per bin of
// binWidth along the chart.
std::vector<XY> BinnedAgainst(std::vector<XSUM> const& rgxs, double binWidth, bool* pfBinned)
{
    std::vector<XY> rgxy;
    *pfBinned = (int)rgxs.size() > cxPlot;
    if (!*pfBinned) {
        for (XSUM const& xs : rgxs)
            if (xs.den > 0)
                rgxy.push_back(XY{xs.x, xs.num / xs.den});
        return rgxy;
    }
    std::map<int64_t, std::pair<double, double>> mp;
    for (XSUM const& xs : rgxs) {
        auto& acc = mp[(int64_t)std::floor(xs.x / binWidth)];
        acc.first += xs.num;
        acc.second += xs.den;
    }
    for (auto const& [key, acc] : mp)
        if (acc.second > 0)
            rgxy.push_back(XY{((double)key + 0.5) * binWidth, acc.first / acc.second});
    return rgxy;
}

// ---- Small writers ---------------------------------------------------------------------------

void AppendPct(std::string* pstr, int pct)
{
    if (pct < 0)
        pstr->append(s_szNone);
    else
        Append(pstr, "%d%%", pct);
}

void AppendNumberOrNone(std::string* pstr, bool fKnown, const char* szFormat, double v)
{
    if (fKnown)
        Append(pstr, szFormat, v);
    else
        pstr->append(s_szNone);
}

void AppendMonthName(std::string* pstr, int year, int month)
{
    Append(pstr, "%s %d", month >= 1 && month <= cMonthName ? s_rgszMonth[month - 1] : "?", year);
}

// The month a session belongs to, as year * 12 + month - 1; -1 without a date.
int64_t MonthKeyOf(uint32_t timestamp, CIVILCACHE* pcache)
{
    int64_t const sec = SecCivilOf(timestamp, pcache);
    return sec == secCivilNone ? -1 : KeyOfSec(sec, groupMonth);
}

void AppendMonthOfKey(std::string* pstr, int64_t key)
{
    if (key < 0) {
        pstr->append("without a date");
        return;
    }
    AppendMonthName(pstr, (int)(key / 12), (int)(key % 12) + 1);
}

// A table in a box of its own that scrolls sideways on a narrow screen, its first column kept.
void OpenTableBox(std::string* pstr, const char* szClass, const char* szId)
{
    pstr->append("<div class=\"scroll\"><table");
    if (szClass)
        Append(pstr, " class=\"%s\"", szClass);
    if (szId)
        Append(pstr, " id=\"%s\"", szId);
    pstr->append(">\n");
}

void CloseTableBox(std::string* pstr)
{
    pstr->append("</table></div>\n");
}

void AppendMethod(std::string* pstr, const char* szMethod)
{
    pstr->append("<p class=\"method\">");
    AppendText(pstr, szMethod);
    pstr->append("</p>\n");
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

void AppendOverview(PAGE const* ppage, OWNER const* powner)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    TOTALS const totals = TotalsOf(phist);
    pstr->append("<section id=\"overview\">\n<h2>Overview</h2>\n");
    OpenTableBox(pstr, "figures", nullptr);
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
    else
        pstr->append(s_szNone);
    pstr->append("</td></tr>\n<tr><th>Wall to wheel</th><td>");
    if (totals.miles >= milesWhMin && totals.kwhWall > 0)
        Append(pstr, "%.0f Wh/%s", totals.kwhWall * 1000 / dist, SzDist(ppage));
    else
        pstr->append(s_szNone);
    Append(pstr, "</td></tr>\n<tr><th>Drives</th><td>%zu</td></tr>\n<tr><th>Charges</th><td>%zu</td></tr>\n",
           phist->rgdrive.size(), phist->rgcharge.size());
    double whParked = 0, hoursParked = 0, cost = 0;
    for (PARKED const& parked : powner->rgparked) {
        whParked += parked.whLost;
        hoursParked += parked.hours;
    }
    for (PERIOD const& year : powner->rgyear)
        cost += year.cost;
    pstr->append("<tr><th>Energy lost while parked</th><td>");
    if (!powner->rgparked.empty() && powner->voltsPack > 0)
        Append(pstr, "%.1f kWh over %.0f hours parked", whParked / 1000, hoursParked);
    else
        pstr->append(s_szNone);
    pstr->append("</td></tr>\n");
    if (powner->fCost)
        Append(pstr, "<tr><th>Cost of charging</th><td>%.2f</td></tr>\n", cost);
    pstr->append("<tr><th>Battery capacity left</th><td>");
    if (powner->health.pctLeft >= 0)
        Append(pstr, "%.1f%% of the first months' %.1f Ah (trend over %d daily figures)", powner->health.pctLeft,
               powner->health.ahCACFirst, powner->health.trendByAge.cpt);
    else
        pstr->append(s_szNone);
    pstr->append("</td></tr>\n");
    CloseTableBox(pstr);
    if (phist->cinput > 1)
        Append(pstr, "<p class=\"note\">%d logs merged: %ld records, each once, in time order.</p>\n", phist->cinput,
               phist->crecMerged);
    pstr->append("</section>\n");
}

// Distance up, energy charged down, one bar per day, week or month of the span.
void AppendUpDownBars(PAGE const* ppage, const char* szId, const char* szCaption, const char* szNoteFormat,
                      std::vector<std::pair<int64_t, double>> const& rgsecDist,
                      std::vector<std::pair<int64_t, double>> const& rgsecKwh, int64_t secMin, int64_t secMax,
                      GROUP group)
{
    std::map<int64_t, double> mpDist, mpKwh;
    for (auto const& [sec, dist] : rgsecDist)
        mpDist[KeyOfSec(sec, group)] += dist;
    for (auto const& [sec, kwh] : rgsecKwh)
        mpKwh[KeyOfSec(sec, group)] += kwh;
    std::vector<SERIESDRAW> rgseries(2);
    char szDist[40], szDistName[48];
    snprintf(szDist, sizeof szDist, "kWh | %s", SzDist(ppage));
    snprintf(szDistName, sizeof szDistName, "distance driven (%s, above)", SzDist(ppage));
    rgseries[0] = SERIESDRAW{szDistName, "#2471a3", kindBars, {}};
    rgseries[1] = SERIESDRAW{"energy charged (kWh, below)", "#27ae60", kindBars, {}};
    double vMax = 1, vMinNeg = -1;
    int64_t const keyFirst = KeyOfSec(secMin, group), keyLast = KeyOfSec(secMax, group);
    int64_t secFirst, secLim, secEnd;
    SpanOfKey(keyFirst, group, &secFirst, &secLim);
    SpanOfKey(keyLast, group, &secLim, &secEnd);
    for (int64_t key = keyFirst; key <= keyLast && secMax >= secMin; key++) {
        int64_t secA, secB;
        SpanOfKey(key, group, &secA, &secB);
        double const x = (double)(secA + secB) / 2;
        auto itDist = mpDist.find(key);
        auto itKwh = mpKwh.find(key);
        double const dist = itDist != mpDist.end() ? itDist->second : 0;
        double const kwh = itKwh != mpKwh.end() ? itKwh->second : 0;
        rgseries[0].rgxy.push_back(XY{x, dist});
        rgseries[1].rgxy.push_back(XY{x, -kwh});
        vMax = std::fmax(vMax, dist);
        vMinNeg = std::fmin(vMinNeg, -kwh);
    }
    AXIS axisX{(double)secFirst, (double)secEnd, true, SzGroup(group)};
    AXIS axisY{vMinNeg, vMax, false, szDist, true};
    double const cxGroup = (xRight - xLeft) / (double)(keyLast - keyFirst + 1);
    char szNote[cchNote];
    snprintf(szNote, sizeof szNote, szNoteFormat, SzGroup(group));
    AppendChart(ppage, szId, szCaption, szNote, axisX, axisY, rgseries, {}, cxGroup > 2 ? cxGroup * 0.8 : cxGroup);
}

void AppendCalendar(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::vector<std::pair<int64_t, double>> rgDist, rgKwh;
    for (DRIVEROW const& row : phist->rgdrive) {
        int64_t sec = SecCivil(row.ds.timestampStart);
        if (sec != secNoDate)
            rgDist.push_back({sec, Dist(ppage, row.ds.miles)});
    }
    for (CHARGEROW const& row : phist->rgcharge) {
        int64_t sec = SecCivil(row.cs.timestampStart);
        if (sec != secNoDate)
            rgKwh.push_back({sec, row.cs.kwh});
    }
    int64_t secMin = SecCivil(phist->timestampMin), secMax = SecCivil(phist->timestampMax);
    if (phist->timestampMin == 0 || secMin == secNoDate || secMax == secNoDate)
        secMin = 0, secMax = -1;
    GROUP const group = secMax >= secMin ? GroupForSpan(secMin, secMax) : groupDay;
    AppendUpDownBars(ppage, "chart-calendar", "Calendar",
                     "Each %s of the period: distance driven above the line, energy charged from the wall (kWh) below "
                     "it.",
                     rgDist, rgKwh, secMin, secMax, group);
}

void AppendPeriodCells(PAGE const* ppage, PERIOD const& period, bool fParked, bool fCost)
{
    std::string* pstr = ppage->pstr;
    Append(pstr, "<td>%.1f</td><td>%d</td><td>%.1f</td><td>%.1f</td><td>%.1f</td><td>", Dist(ppage, period.miles),
           period.cdrive, period.secDriving / 3600, period.whOut / 1000, period.kwhWall);
    double const whOut = WhPerMileOut(&period), whWall = WhPerMileWall(&period);
    double const scale = ppage->fMetric ? 1 / kmPerMile : 1;
    AppendNumberOrNone(pstr, whOut >= 0, "%.0f", whOut * scale);
    pstr->append("</td><td>");
    AppendNumberOrNone(pstr, whWall >= 0, "%.0f", whWall * scale);
    Append(pstr, "</td><td>%d</td>", period.ccharge);
    if (fParked) {
        pstr->append("<td>");
        AppendNumberOrNone(pstr, period.cparked > 0, "%.1f", period.whParkedLost / 1000);
        pstr->append("</td>");
    }
    if (fCost)
        Append(pstr, "<td>%.2f</td>", period.cost);
}

void AppendMonths(PAGE const* ppage, OWNER const* powner)
{
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"months\">\n<h2>Months and years</h2>\n");
    if (powner->rgmonth.empty()) {
        pstr->append("<p>No drive or charge in the log.</p>\n</section>\n");
        return;
    }
    bool const fParked = powner->voltsPack > 0 && !powner->rgparked.empty();
    // The years in one table, always in sight; each year's months in a section of their own, the
    // newest open.
    auto appendHead = [&](const char* szFirst) {
        Append(pstr, "<thead><tr><th>%s</th><th>Distance (%s)</th><th>Drives</th><th>Hours driving</th>"
                     "<th>Battery out (kWh)</th><th>From the wall (kWh)</th><th>Battery to wheel (Wh/%s)</th>"
                     "<th>Wall to wheel (Wh/%s)</th><th>Charges</th>",
               szFirst, SzDist(ppage), SzDist(ppage), SzDist(ppage));
        if (fParked)
            pstr->append("<th>Lost parked (kWh)</th>");
        if (powner->fCost)
            pstr->append("<th>Cost</th>");
        pstr->append("</tr></thead>\n<tbody>\n");
    };
    OpenTableBox(pstr, "sessions periods", "table-years");
    appendHead("Year");
    for (PERIOD const& year : powner->rgyear) {
        Append(pstr, "<tr class=\"year\"><td>%d</td>", year.year);
        AppendPeriodCells(ppage, year, fParked, powner->fCost);
        pstr->append("</tr>\n");
    }
    pstr->append("</tbody>\n");
    CloseTableBox(pstr);
    std::vector<std::pair<int64_t, double>> rgDist, rgKwh;
    for (PERIOD const& month : powner->rgmonth) {
        int64_t secFirst, secLim;
        SpanOfKey((int64_t)month.year * 12 + month.month - 1, groupMonth, &secFirst, &secLim);
        rgDist.push_back({secFirst, Dist(ppage, month.miles)});
        rgKwh.push_back({secFirst, month.kwhWall});
    }
    int64_t secLast, secLim;
    SpanOfKey((int64_t)powner->rgmonth.back().year * 12 + powner->rgmonth.back().month - 1, groupMonth, &secLast,
              &secLim);
    AppendUpDownBars(ppage, "chart-months", "Distance and energy per month",
                     "Each %s: distance driven above the line, energy charged from the wall (kWh) below it.", rgDist,
                     rgKwh, rgDist.front().first, secLast, groupMonth);
    size_t imonth = 0;
    for (PERIOD const& year : powner->rgyear) {
        Append(pstr, "<details class=\"month\"%s><summary>The months of %d</summary>\n",
               &year == &powner->rgyear.back() ? " open" : "", year.year);
        OpenTableBox(pstr, "sessions periods", nullptr);
        appendHead("Month");
        for (; imonth < powner->rgmonth.size() && powner->rgmonth[imonth].year == year.year; imonth++) {
            PERIOD const& month = powner->rgmonth[imonth];
            pstr->append("<tr class=\"month\"><td>");
            AppendMonthName(pstr, month.year, month.month);
            pstr->append("</td>");
            AppendPeriodCells(ppage, month, fParked, powner->fCost);
            pstr->append("</tr>\n");
        }
        pstr->append("</tbody>\n");
        CloseTableBox(pstr);
        pstr->append("</details>\n");
    }
    AppendMethod(pstr, "A drive or charge counts in the month it starts in, in the display time zone; energy lost "
                       "while parked counts in the month its stretch begins.");
    pstr->append("</section>\n");
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

// Sessions grouped by the month they start in: each month a <details> with its totals in the
// summary, the newest one open. fnRow appends the rows of session i and returns what it adds to
// the month's totals text.
template <class FNKEY, class FNROW, class FNTOTALS>
void AppendByMonth(std::string* pstr, int csession, std::string const& strHead, FNKEY fnKey, FNROW fnRow,
                   FNTOTALS fnTotals)
{
    int i = 0;
    while (i < csession) {
        int64_t const key = fnKey(i);
        int iLim = i + 1;
        while (iLim < csession && fnKey(iLim) == key)
            iLim++;
        pstr->append(iLim == csession ? "<details class=\"month\" open><summary>" : "<details class=\"month\"><summary>");
        AppendMonthOfKey(pstr, key);
        pstr->append(": ");
        fnTotals(i, iLim);
        pstr->append("</summary>\n");
        pstr->append(strHead);
        for (int j = i; j < iLim; j++)
            fnRow(j);
        CloseTableBox(pstr);
        pstr->append("</details>\n");
        i = iLim;
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
    bool fTemp = false;
    for (DRIVEROW const& row : phist->rgdrive)
        fTemp = fTemp || row.ds.cdegBattery > 0;
    std::string strHead;
    OpenTableBox(&strHead, "sessions", "table-drives");
    Append(&strHead, "<thead><tr><th>Start</th><th>End</th><th>Duration</th>"
                     "<th>SOC from</th><th>SOC to</th><th>Distance (%s)</th><th>Average speed (%s)</th>"
                     "<th>Top speed (%s)</th><th>Energy (kWh)</th><th>Wh/%s</th>",
           SzDist(ppage), SzSpeed(ppage), SzSpeed(ppage), SzDist(ppage));
    if (fTemp)
        strHead.append("<th>Battery temp (\xc2\xb0""C)</th>");
    strHead.append("<th>Notes</th></tr></thead>\n");
    int const ccol = fTemp ? 12 : 11;
    int const idriveProfileFirst = (int)phist->rgdrive.size() - csessionProfileMax;
    CIVILCACHE cache;
    std::vector<int64_t> rgkey;
    for (DRIVEROW const& row : phist->rgdrive)
        rgkey.push_back(MonthKeyOf(row.ds.timestampStart, &cache));
    auto fnRow = [&](int idrive) {
        DRIVEROW const& row = phist->rgdrive[(size_t)idrive];
        DRIVESESSION const& ds = row.ds;
        pstr->append("<tbody><tr class=\"drive\"><td>");
        AppendDate(pstr, ds.timestampStart);
        pstr->append("</td><td>");
        AppendDate(pstr, ds.timestampEnd);
        pstr->append("</td><td>");
        AppendDuration(pstr, ds.secDuration);
        pstr->append("</td><td>");
        AppendPct(pstr, ds.pctSOCStart);
        pstr->append("</td><td>");
        AppendPct(pstr, ds.pctSOCEnd);
        Append(pstr, "</td><td>%.1f</td><td>%.1f</td><td>%.1f</td><td>%.1f</td><td>", Dist(ppage, ds.miles),
               Dist(ppage, ds.mphAverage), Dist(ppage, ds.mphMax), ds.wh / 1000);
        AppendNumberOrNone(pstr, ds.miles >= milesWhMin, "%.0f", ds.wh / Dist(ppage, ds.miles));
        pstr->append("</td><td>");
        if (fTemp) {
            AppendNumberOrNone(pstr, ds.cdegBattery > 0, "%.0f", ds.degBatteryAverage);
            pstr->append("</td><td>");
        }
        AppendDriveNotes(pstr, ds);
        pstr->append("</td></tr>\n");
        if (idrive >= idriveProfileFirst) {
            Append(pstr, "<tr class=\"profile\"><td colspan=\"%d\"><details><summary>Profile</summary>\n", ccol);
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
            snprintf(szId, sizeof szId, "drive-%d", idrive + 1);
            AppendProfile(ppage, szId, "drive profile", rgpanel, ds.secDuration);
            pstr->append("</details></td></tr>\n");
        }
        pstr->append("</tbody>\n");
    };
    auto fnTotals = [&](int i, int iLim) {
        double miles = 0, wh = 0;
        for (int j = i; j < iLim; j++) {
            miles += phist->rgdrive[(size_t)j].ds.miles;
            wh += phist->rgdrive[(size_t)j].ds.wh;
        }
        Append(pstr, "%d drive%s, %.1f %s, %.1f kWh", iLim - i, iLim - i == 1 ? "" : "s", Dist(ppage, miles),
               SzDist(ppage), wh / 1000);
    };
    AppendByMonth(pstr, (int)phist->rgdrive.size(), strHead, [&](int i) { return rgkey[(size_t)i]; }, fnRow,
                  fnTotals);
    if (idriveProfileFirst > 0)
        Append(pstr, "<p class=\"note\">The newest %d drives open to their profile.</p>\n", csessionProfileMax);
    pstr->append("</section>\n");
}

void AppendCharges(PAGE const* ppage, OWNER const* powner, int cptProfile)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"charges\">\n<h2>Charges</h2>\n");
    if (phist->rgcharge.empty()) {
        pstr->append("<p>No charge in the log.</p>\n</section>\n");
        return;
    }
    // Columns that no charge of this car fills are left out.
    bool fVolts = false, fAmps = false, fAvailable = false, fKwh = false, fAh = false, fWallToWheel = false;
    bool fTemp = false;
    for (CHARGEROW const& row : phist->rgcharge) {
        CHARGESESSION const& cs = row.cs;
        fVolts = fVolts || cs.cVoltsLine > 0;
        fAmps = fAmps || cs.ampsMax != 0;
        fAvailable = fAvailable || (cs.ampsMax != 0 && cs.ampsAvailable != 0);
        fKwh = fKwh || cs.kwh != 0;
        fAh = fAh || cs.ahIn != 0 || cs.ahOut != 0;
        fWallToWheel = fWallToWheel || cs.fWallToWheel;
        fTemp = fTemp || cs.cdegBattery > 0;
    }
    std::string strHead;
    OpenTableBox(&strHead, "sessions", "table-charges");
    strHead.append("<thead><tr><th>Start</th><th>End</th><th>Duration</th><th>SOC from</th><th>SOC to</th>");
    int ccol = 6;
    auto th = [&](bool f, const char* sz) {
        if (f) {
            strHead.append(sz);
            ccol++;
        }
    };
    th(fVolts, "<th>Line volts</th>");
    th(fAmps, "<th>Amps</th>");
    th(fAvailable, "<th>Amps available</th>");
    th(fKwh, "<th>Energy (kWh)</th>");
    th(fAh, "<th>Charge in (Ah)</th><th>Charge out (Ah)</th>");
    if (fAh)
        ccol++;
    if (fWallToWheel)
        Append(&strHead, "<th>Wall to wheel (Wh/%s)</th>", SzDist(ppage)), ccol++;
    th(powner->fLoss, "<th>Into the battery (kWh)</th><th>Loss</th>");
    if (powner->fLoss)
        ccol++;
    th(fTemp, "<th>Battery temp (\xc2\xb0""C)</th>");
    bool const fOffPeak = powner->fCost && phist->price.fOffPeak;
    th(powner->fCost, "<th>Cost</th>");
    th(fOffPeak, "<th>Off-peak (kWh)</th>");
    strHead.append("<th>Notes</th></tr></thead>\n");
    int const ichargeProfileFirst = (int)phist->rgcharge.size() - csessionProfileMax;
    CIVILCACHE cache;
    std::vector<int64_t> rgkey;
    for (CHARGEROW const& row : phist->rgcharge)
        rgkey.push_back(MonthKeyOf(row.cs.timestampStart, &cache));
    auto fnRow = [&](int icharge) {
        CHARGEROW const& row = phist->rgcharge[(size_t)icharge];
        CHARGESESSION const& cs = row.cs;
        char szNote[cchNote];
        pstr->append("<tbody><tr class=\"charge\"><td>");
        AppendDate(pstr, cs.timestampStart);
        pstr->append("</td><td>");
        AppendDate(pstr, cs.timestampEnd);
        pstr->append("</td><td>");
        AppendDuration(pstr, cs.secDuration);
        pstr->append("</td><td>");
        AppendPct(pstr, cs.pctSOCStart);
        pstr->append("</td><td>");
        AppendPct(pstr, cs.pctSOCEnd);
        pstr->append("</td>");
        if (fVolts) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.cVoltsLine > 0, "%.0f", cs.voltsLineAverage);
            pstr->append("</td>");
        }
        if (fAmps) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.ampsMax != 0, "%.0f", cs.ampsMax);
            pstr->append("</td>");
        }
        if (fAvailable) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.ampsMax != 0 && cs.ampsAvailable != 0, "%.0f", (double)cs.ampsAvailable);
            pstr->append("</td>");
        }
        if (fKwh) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.kwh != 0, "%.1f", cs.kwh);
            pstr->append("</td>");
        }
        if (fAh)
            Append(pstr, "<td>%.1f</td><td>%.1f</td>", cs.ahIn, cs.ahOut);
        if (fWallToWheel) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.fWallToWheel, "%.0f", cs.kwh * 1000 / Dist(ppage, cs.milesSinceCharge));
            pstr->append("</td>");
        }
        if (powner->fLoss) {
            double const pctLoss = PctChargeLoss(&cs);
            pstr->append("<td>");
            AppendNumberOrNone(pstr, pctLoss != pctLossNone, "%.1f", cs.whBattery / 1000);
            pstr->append("</td><td>");
            AppendNumberOrNone(pstr, pctLoss != pctLossNone, "%.1f%%", pctLoss);
            pstr->append("</td>");
        }
        if (fTemp) {
            pstr->append("<td>");
            AppendNumberOrNone(pstr, cs.cdegBattery > 0, "%.0f", cs.degBatteryAverage);
            pstr->append("</td>");
        }
        if (powner->fCost)
            Append(pstr, "<td>%.2f</td>", row.cost.cost);
        if (fOffPeak)
            Append(pstr, "<td>%.1f</td>", row.cost.kwhOffPeak);
        pstr->append("<td>");
        if (PszDSTNote(cs.timestampStart, cs.timestampEnd, szNote, cchNote))
            AppendText(pstr, szNote);
        pstr->append("</td></tr>\n");
        if (icharge >= ichargeProfileFirst) {
            Append(pstr, "<tr class=\"profile\"><td colspan=\"%d\"><details><summary>Charging curve</summary>\n", ccol);
            std::vector<PANEL> rgpanel(4);
            rgpanel[0] = PANEL{"power (kW)", {SERIESDRAW{"line power", "#c0392b", kindLine,
                                                         XYOfProfile(row.rgptPower, cptProfile, 1)}}};
            rgpanel[1] = PANEL{"current (A)", {SERIESDRAW{"charge current", "#2471a3", kindLine,
                                                          XYOfProfile(row.rgptAmps, cptProfile, 1)},
                                               SERIESDRAW{"current available", "#888888", kindLine,
                                                          XYOfProfile(row.rgptAmpsAvailable, cptProfile, 1)}}};
            rgpanel[2] = PANEL{"battery temp (C)", {SERIESDRAW{"battery temperature", "#d68910", kindLine,
                                                                XYOfProfile(row.rgptTemp, cptProfile, 1)}}};
            rgpanel[3] = PANEL{"SOC (%)",
                               {SERIESDRAW{"SOC", "#27ae60", kindLine, XYOfProfile(row.rgptSOC, cptProfile, 1)}}};
            char szId[32];
            snprintf(szId, sizeof szId, "charge-%d", icharge + 1);
            AppendProfile(ppage, szId, "charging curve", rgpanel, cs.secDuration);
            pstr->append("</details></td></tr>\n");
        }
        pstr->append("</tbody>\n");
    };
    auto fnTotals = [&](int i, int iLim) {
        double kwh = 0, cost = 0;
        for (int j = i; j < iLim; j++) {
            kwh += phist->rgcharge[(size_t)j].cs.kwh;
            cost += phist->rgcharge[(size_t)j].cost.cost;
        }
        Append(pstr, "%d charge%s, %.1f kWh", iLim - i, iLim - i == 1 ? "" : "s", kwh);
        if (powner->fCost)
            Append(pstr, ", cost %.2f", cost);
    };
    AppendByMonth(pstr, (int)phist->rgcharge.size(), strHead, [&](int i) { return rgkey[(size_t)i]; }, fnRow,
                  fnTotals);
    if (ichargeProfileFirst > 0)
        Append(pstr, "<p class=\"note\">The newest %d charges open to their curve.</p>\n", csessionProfileMax);
    if (powner->fLoss)
        AppendMethod(pstr, "Into the battery: battery volts times battery amps of the charge records that read them, "
                           "over the time since the record before; the loss is the share of the wall's energy over "
                           "the same records that did not reach the battery.");
    if (powner->fCost) {
        char szMethod[cchNote];
        PRICE const& price = phist->price;
        if (price.fOffPeak)
            snprintf(szMethod, sizeof szMethod,
                     "Cost: each minute of energy from the wall at %.4g per kWh, or %.4g from %02d:%02d to %02d:%02d "
                     "(display time zone).",
                     price.price, price.priceOffPeak, price.minuteStart / 60, price.minuteStart % 60,
                     price.minuteEnd / 60, price.minuteEnd % 60);
        else
            snprintf(szMethod, sizeof szMethod, "Cost: the energy from the wall at %.4g per kWh.", price.price);
        AppendMethod(pstr, szMethod);
    }
    pstr->append("</section>\n");
}

// Every charge's power against its SOC on one chart, one colour per battery temperature band.
void AppendChargeCurves(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    std::vector<std::vector<std::vector<SOCPOWER>>> rgcurveByBand((size_t)cbandTemp);
    size_t const icFirst = phist->rgcharge.size() > (size_t)cchargeCurveMax ? phist->rgcharge.size() - cchargeCurveMax : 0;
    double kwMax = 1;
    int ccurve = 0;
    for (size_t ic = icFirst; ic < phist->rgcharge.size(); ic++) {
        CHARGEROW const& row = phist->rgcharge[ic];
        std::vector<SOCPOWER> rgsp;
        ChargeCurveOf(row.rgptPower.data(), (int)row.rgptPower.size(), row.rgptSOC.data(), (int)row.rgptSOC.size(),
                      &rgsp);
        if (rgsp.size() < 2)
            continue;
        std::vector<SOCPOWER> rgspPct;
        CurveByPercent(rgsp, &rgspPct);
        for (SOCPOWER const& sp : rgspPct)
            kwMax = std::fmax(kwMax, sp.kw);
        int const iband = row.cs.cdegBattery > 0 ? IbandTemp(row.cs.degBatteryAverage) : 2;
        rgcurveByBand[(size_t)iband].push_back(rgspPct);
        ccurve++;
    }
    std::vector<SERIESDRAW> rgseries;
    for (int iband = 0; iband < cbandTemp; iband++)
        if (!rgcurveByBand[(size_t)iband].empty())
            rgseries.push_back(SERIESDRAW{s_rgszBandTemp[iband], s_rgszBandColour[iband], kindLine, {}});
    Append(pstr, "<figure class=\"chart\" id=\"chart-charge-curves\">\n<figcaption>Charging curves compared"
                 "</figcaption>\n");
    AppendLegend(pstr, rgseries);
    AppendUnits(pstr, "line power (kW)", "SOC (%)");
    Append(pstr, "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"Charging curves compared\">\n", cxChart,
           cyChart);
    AXIS axisX{0, 100, false, "SOC (%)"}, axisY{0, kwMax, false, "line power (kW)"};
    double const stepY = RoundAxis(&axisY);
    double const stepX = RoundAxis(&axisX);
    AppendYAxis(pstr, axisY, stepY, yTop, yBottom);
    AppendNumberTicks(pstr, axisX, stepX, yTop, yBottom);
    for (int iband = 0; iband < cbandTemp; iband++) {
        auto const& rgcurve = rgcurveByBand[(size_t)iband];
        if (rgcurve.empty())
            continue;
        Append(pstr, "<path class=\"series\" fill=\"none\" stroke=\"%s\" stroke-width=\"1.2\" stroke-opacity=\"0.7\" d=\"",
               s_rgszBandColour[iband]);
        for (auto const& rgsp : rgcurve)
            for (size_t i = 0; i < rgsp.size(); i++) {
                pstr->push_back(i == 0 ? 'M' : 'L');
                AppendFixed(pstr, XOf(axisX, rgsp[i].pct), 1);
                pstr->push_back(' ');
                AppendFixed(pstr, YOf(axisY, rgsp[i].kw, yTop, yBottom), 1);
            }
        pstr->append("\"><title>");
        AppendText(pstr, s_rgszBandTemp[iband]);
        pstr->append("</title></path>\n");
    }
    if (ccurve == 0)
        Append(pstr, "<text class=\"empty\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">nothing in the log</text>\n",
               (xLeft + xRight) / 2, (yTop + yBottom) / 2);
    Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xLeft, yBottom, xRight,
           yBottom);
    Append(pstr, "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">SOC (%%)</text>\n</svg>\n",
           (xLeft + xRight) / 2, cyChart - 14);
    Append(pstr, "<p class=\"note\">Line power against SOC of %s%d charges, coloured by the charge's average "
                 "battery temperature: a slow charge lies below the others.</p>\n</figure>\n",
           icFirst > 0 ? "the newest " : "", ccurve);
}

void AppendParked(PAGE const* ppage, OWNER const* powner)
{
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"parked\">\n<h2>Energy lost while parked</h2>\n");
    if (powner->rgparked.empty()) {
        pstr->append("<p>No parked stretch with two hourly status records with a SOC.</p>\n</section>\n");
        return;
    }
    bool const fEnergy = powner->voltsPack > 0;
    std::vector<SERIESDRAW> rgseries(1);
    rgseries[0] = SERIESDRAW{"SOC lost per day (%)", "#7d3c98", kindDots, {}};
    std::vector<TIMEVALUE> rgtv;
    for (PARKED const& parked : powner->rgparked) {
        int64_t const sec = SecCivil(parked.timestampStart);
        if (sec != secNoDate)
            rgtv.push_back(TIMEVALUE{sec, parked.pctLost * 24, parked.hours});
    }
    GROUP group = groupDay;
    bool fGrouped;
    rgseries[0].rgxy = GroupedOverTime(rgtv, &group, &fGrouped);
    AXIS axisX{0, 1, true, "date"}, axisY{0, 1, false, "% per day"};
    FitAxes(rgseries, &axisX, &axisY, true);
    char szNote[cchNote];
    snprintf(szNote, sizeof szNote, "%s", fGrouped ? "" : "Each parked stretch of two hours or more.");
    if (fGrouped)
        snprintf(szNote, sizeof szNote, "The SOC lost per day over all stretches of each %s.", SzGroup(group));
    AppendChart(ppage, "chart-parked", "SOC lost while parked", szNote, axisX, axisY, rgseries, {}, 1);

    // One by one for the last year; the months table holds the totals of every month.
    uint32_t const timestampFrom =
        powner->rgparked.back().timestampStart > (uint32_t)secParkedTableSpan
            ? powner->rgparked.back().timestampStart - (uint32_t)secParkedTableSpan
            : 0;
    size_t iFirst = 0;
    while (iFirst < powner->rgparked.size() && powner->rgparked[iFirst].timestampStart < timestampFrom)
        iFirst++;
    std::string strHead;
    OpenTableBox(&strHead, "sessions", "table-parked");
    strHead.append("<thead><tr><th>From</th><th>To</th><th>Hours</th><th>SOC from</th><th>SOC to</th>"
                   "<th>SOC lost</th><th>Per day</th>");
    if (fEnergy)
        strHead.append("<th>Energy lost (kWh)</th><th>Per day (kWh)</th>");
    strHead.append("</tr></thead>\n<tbody>\n");
    CIVILCACHE cache;
    std::vector<int64_t> rgkey;
    for (size_t i = iFirst; i < powner->rgparked.size(); i++)
        rgkey.push_back(MonthKeyOf(powner->rgparked[i].timestampStart, &cache));
    auto fnRow = [&](int i) {
        PARKED const& parked = powner->rgparked[iFirst + (size_t)i];
        pstr->append("<tr class=\"parked\"><td>");
        AppendDate(pstr, parked.timestampStart);
        pstr->append("</td><td>");
        AppendDate(pstr, parked.timestampEnd);
        Append(pstr, "</td><td>%.1f</td><td>%d%%</td><td>%d%%</td><td>%.0f%%</td><td>%.1f%%</td>", parked.hours,
               parked.pctStart, parked.pctEnd, parked.pctLost, parked.pctPerDay);
        if (fEnergy)
            Append(pstr, "<td>%.2f</td><td>%.2f</td>", parked.whLost / 1000, parked.whPerDay / 1000);
        pstr->append("</tr>\n");
    };
    auto fnTotals = [&](int i, int iLim) {
        double hours = 0, wh = 0;
        for (int j = i; j < iLim; j++) {
            hours += powner->rgparked[iFirst + (size_t)j].hours;
            wh += powner->rgparked[iFirst + (size_t)j].whLost;
        }
        Append(pstr, "%d stretch%s, %.0f hours", iLim - i, iLim - i == 1 ? "" : "es", hours);
        if (fEnergy)
            Append(pstr, ", %.1f kWh", wh / 1000);
    };
    AppendByMonth(pstr, (int)rgkey.size(), strHead, [&](int i) { return rgkey[(size_t)i]; }, fnRow, fnTotals);
    if (iFirst > 0)
        pstr->append("<p class=\"note\">The stretches of the last year one by one; the months table above holds "
                     "every month's total.</p>\n");
    char szMethod[cchNote * 2];
    if (fEnergy)
        snprintf(szMethod, sizeof szMethod,
                 "From the first to the last hourly status with a SOC between the end of one session and the start of "
                 "the next: the SOC lost times that day's capacity (CAC, Ah) times the battery's average voltage at "
                 "low current in the drive records (%.0f V).",
                 powner->voltsPack);
    else
        snprintf(szMethod, sizeof szMethod,
                 "From the first to the last hourly status with a SOC between the end of one session and the start of "
                 "the next; no battery voltage in the log to turn the SOC into energy.");
    AppendMethod(pstr, szMethod);
    pstr->append("</section>\n");
}

void AppendEfficiency(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    char szWh[32], szSpeed[40];
    snprintf(szWh, sizeof szWh, "Wh/%s", SzDist(ppage));
    snprintf(szSpeed, sizeof szSpeed, "average speed (%s)", SzSpeed(ppage));
    std::vector<TIMEVALUE> rgtvTime;
    std::vector<XSUM> rgxsSpeed, rgxsTemp;
    std::vector<SERIESDRAW> rgseriesTime(2);
    rgseriesTime[1] = SERIESDRAW{"moving average of nine drives", "#c0392b", kindLine, {}};
    std::vector<double> rgwh;
    for (DRIVEROW const& row : phist->rgdrive) {
        if (row.ds.miles < milesWhMin)
            continue;
        double const dist = Dist(ppage, row.ds.miles);
        double const wh = row.ds.wh / dist;
        rgxsSpeed.push_back(XSUM{Dist(ppage, row.ds.mphAverage), row.ds.wh, dist});
        if (row.ds.cdegBattery > 0)
            rgxsTemp.push_back(XSUM{row.ds.degBatteryAverage, row.ds.wh, dist});
        int64_t const sec = SecCivil(row.ds.timestampStart);
        if (sec == secNoDate)
            continue;
        rgtvTime.push_back(TIMEVALUE{sec, row.ds.wh, dist});
        rgwh.push_back(wh);
        size_t const iFirst = rgwh.size() > (size_t)cDriveAverage ? rgwh.size() - cDriveAverage : 0;
        double sum = 0;
        for (size_t i = iFirst; i < rgwh.size(); i++)
            sum += rgwh[i];
        rgseriesTime[1].rgxy.push_back(XY{(double)sec, sum / (double)(rgwh.size() - iFirst)});
    }
    GROUP group = groupDay;
    bool fGrouped;
    std::vector<XY> rgxyTime = GroupedOverTime(rgtvTime, &group, &fGrouped);
    char szName[48];
    snprintf(szName, sizeof szName, fGrouped ? "each %s" : "each drive", SzGroup(group));
    rgseriesTime[0] = SERIESDRAW{szName, "#2471a3", kindDots, rgxyTime};
    if (fGrouped)
        rgseriesTime.pop_back();
    ppage->pstr->append("<section id=\"efficiency\">\n<h2>Efficiency</h2>\n");
    AXIS axisX{0, 1, true, "date"}, axisY{0, 1, false, szWh};
    FitAxes(rgseriesTime, &axisX, &axisY, true);
    char szNote[cchNote];
    if (fGrouped)
        snprintf(szNote, sizeof szNote, "Battery-to-wheel energy of the drives of a mile or more of each %s.",
                 SzGroup(group));
    else
        snprintf(szNote, sizeof szNote,
                 "Battery-to-wheel energy of every drive of a mile or more, and the average of the last nine.");
    AppendChart(ppage, "chart-efficiency", "Energy per distance over time", szNote, axisX, axisY, rgseriesTime, {}, 1);

    bool fBinned;
    std::vector<SERIESDRAW> rgseriesSpeed(1);
    rgseriesSpeed[0] = SERIESDRAW{"", "#2471a3", kindDots, BinnedAgainst(rgxsSpeed, 1, &fBinned)};
    rgseriesSpeed[0].szName = fBinned ? "drives of each unit of speed" : "each drive";
    AXIS axisXSpeed{0, 1, false, szSpeed}, axisYSpeed{0, 1, false, szWh};
    FitAxes(rgseriesSpeed, &axisXSpeed, &axisYSpeed, true);
    if (axisXSpeed.vMin > 0)
        axisXSpeed.vMin = 0;
    AppendChart(ppage, "chart-efficiency-speed", "Energy per distance against average speed",
                fBinned ? "The drives of a mile or more, together per unit of average speed."
                        : "Each drive of a mile or more.",
                axisXSpeed, axisYSpeed, rgseriesSpeed, {}, 1);

    std::vector<SERIESDRAW> rgseriesTemp(1);
    rgseriesTemp[0] = SERIESDRAW{"", "#d68910", kindDots, BinnedAgainst(rgxsTemp, 1, &fBinned)};
    rgseriesTemp[0].szName = fBinned ? "drives of each degree" : "each drive";
    AXIS axisXTemp{0, 1, false, "battery temperature (\xc2\xb0""C)"}, axisYTemp{0, 1, false, szWh};
    FitAxes(rgseriesTemp, &axisXTemp, &axisYTemp, true);
    AppendChart(ppage, "chart-efficiency-temp", "Energy per distance against battery temperature",
                fBinned ? "The drives of a mile or more, together per degree of the battery's average highest "
                          "temperature during the drive."
                        : "Each drive of a mile or more at the battery's average highest temperature during it.",
                axisXTemp, axisYTemp, rgseriesTemp, {}, 1);
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

// Capacity against a quantity with its fitted line over the span of the points.
// rgxyBrick (the lowest brick Ah of each day, with its own line) may be empty.
void AppendCapacityTrend(PAGE const* ppage, const char* szId, const char* szCaption, const char* szNote,
                         const char* szAxis, std::vector<XY> const& rgxy, TREND const& trend,
                         std::vector<XY> const& rgxyBrick, TREND const& trendBrick, double scaleX)
{
    std::vector<SERIESDRAW> rgseries(2);
    rgseries[0] = SERIESDRAW{"CAC of each day", "#c0392b", kindDots, {}};
    rgseries[1] = SERIESDRAW{"fitted trend", "#111111", kindLine, {}};
    bool fBinned = false;
    double const span = rgxy.empty() ? 1 : (rgxy.back().x - rgxy.front().x) * scaleX;
    auto binned = [&](std::vector<XY> const& rgxyIn) {
        std::vector<XSUM> rgxs;
        for (XY const& xy : rgxyIn)
            rgxs.push_back(XSUM{xy.x * scaleX, xy.y, 1});
        return BinnedAgainst(rgxs, span > 0 ? span / (cxPlot / 2) : 1, &fBinned);
    };
    rgseries[0].rgxy = binned(rgxy);
    if (fBinned)
        rgseries[0].szName = "CAC, mean of the days at each pixel";
    if (!rgxyBrick.empty()) {
        rgseries.push_back(SERIESDRAW{fBinned ? "lowest brick Ah, mean of the days at each pixel" : "lowest brick Ah of each day",
                                      "#2471a3", kindDots, binned(rgxyBrick)});
        if (trendBrick.fFit)
            rgseries.push_back(SERIESDRAW{"its fitted trend", "#555555", kindLine,
                                          {XY{rgxyBrick.front().x * scaleX, ValueOfTrend(&trendBrick, rgxyBrick.front().x)},
                                           XY{rgxyBrick.back().x * scaleX, ValueOfTrend(&trendBrick, rgxyBrick.back().x)}}});
    }
    if (trend.fFit && !rgxy.empty()) {
        double xMin = rgxy.front().x, xMax = rgxy.front().x;
        for (XY const& xy : rgxy) {
            xMin = std::fmin(xMin, xy.x);
            xMax = std::fmax(xMax, xy.x);
        }
        rgseries[1].rgxy = {XY{xMin * scaleX, ValueOfTrend(&trend, xMin)}, XY{xMax * scaleX, ValueOfTrend(&trend, xMax)}};
    }
    AXIS axisX{0, 1, false, szAxis}, axisY{0, 1, false, "Ah"};
    FitAxes(rgseries, &axisX, &axisY, false);
    AppendChart(ppage, szId, szCaption, szNote, axisX, axisY, rgseries, {}, 1);
}

void AppendBattery(PAGE const* ppage, OWNER const* powner)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"battery\">\n<h2>Battery</h2>\n");
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

    // Health: the trend against age and odometer, and the share left.
    HEALTH const& health = powner->health;
    pstr->append("<h3>Health</h3>\n");
    OpenTableBox(pstr, "figures", "table-health");
    pstr->append("<tr><th>First months' capacity</th><td>");
    AppendNumberOrNone(pstr, health.cday > 0, "%.1f Ah", health.ahCACFirst);
    pstr->append("</td></tr>\n<tr><th>Capacity now (trend)</th><td>");
    AppendNumberOrNone(pstr, health.pctLeft >= 0, "%.1f Ah", health.ahCACNow);
    pstr->append("</td></tr>\n<tr><th>Share left</th><td>");
    AppendNumberOrNone(pstr, health.pctLeft >= 0, "%.1f%%", health.pctLeft);
    pstr->append("</td></tr>\n<tr><th>Change per year</th><td>");
    AppendNumberOrNone(pstr, health.trendByAge.fFit, "%.2f Ah", health.trendByAge.slope * 365.25);
    Append(pstr, "</td></tr>\n<tr><th>Change per 10,000 %s</th><td>", SzDist(ppage));
    AppendNumberOrNone(pstr, health.trendByMiles.fFit, "%.2f Ah",
                       health.trendByMiles.slope * 10000 / (ppage->fMetric ? kmPerMile : 1));
    pstr->append("</td></tr>\n");
    CloseTableBox(pstr);
    std::vector<XY> rgxyAge, rgxyOdo, rgxyBrickAge;
    for (DAYSAMPLE const& day : powner->rgday) {
        if (!(day.ahCAC > 0))
            continue;
        double const days = ((double)day.timestamp - (double)powner->rgday[0].timestamp) / secDay;
        rgxyAge.push_back(XY{days, day.ahCAC});
        rgxyBrickAge.push_back(XY{days, day.ahBrickMin});
        if (day.milesOdo > 0)
            rgxyOdo.push_back(XY{day.milesOdo, day.ahCAC});
    }
    AppendCapacityTrend(ppage, "chart-capacity-age", "Capacity against age",
                        "CAC and the lowest brick capacity of each daily figure against the days since the first, "
                        "and the lines fitted to them.",
                        "days since the first daily figure", rgxyAge, health.trendByAge, rgxyBrickAge,
                        health.trendBrickByAge, 1);
    char szOdo[40];
    snprintf(szOdo, sizeof szOdo, "odometer (%s)", SzDist(ppage));
    AppendCapacityTrend(ppage, "chart-capacity-odometer", "Capacity against odometer",
                        "CAC of each daily figure against the odometer it read, and the line fitted to them.", szOdo,
                        rgxyOdo, health.trendByMiles, {}, TREND{}, ppage->fMetric ? kmPerMile : 1);
    AppendMethod(pstr, "The trend is a straight line fitted by least squares to every daily CAC figure, fitted again "
                       "without the figures more than three root-mean-square residuals away; the share left is the "
                       "line's value at the newest figure over the mean of the first 90 days.");

    // Imbalance over time: per day, or per week or month when the days outnumber the pixels.
    std::vector<SERIESDRAW> rgseriesImb(2);
    rgseriesImb[0] = SERIESDRAW{"mean spread", "#2471a3", kindLine, {}};
    rgseriesImb[1] = SERIESDRAW{"largest spread", "#c0392b", kindLine, {}};
    GROUP groupImb = groupDay;
    if (!powner->rgimb.empty())
        groupImb = GroupForSpan(powner->rgimb.front().secCivilDay, powner->rgimb.back().secCivilDay);
    for (size_t i = 0; i < powner->rgimb.size();) {
        int64_t const key = KeyOfSec(powner->rgimb[i].secCivilDay, groupImb);
        double mvSum = 0, mvMax = 0;
        int csample = 0;
        for (; i < powner->rgimb.size() && KeyOfSec(powner->rgimb[i].secCivilDay, groupImb) == key; i++) {
            mvSum += powner->rgimb[i].mvMean * powner->rgimb[i].csample;
            csample += powner->rgimb[i].csample;
            mvMax = std::fmax(mvMax, powner->rgimb[i].mvMax);
        }
        int64_t secFirst, secLim;
        SpanOfKey(key, groupImb, &secFirst, &secLim);
        double const x = (double)(secFirst + secLim) / 2;
        rgseriesImb[0].rgxy.push_back(XY{x, mvSum / csample});
        rgseriesImb[1].rgxy.push_back(XY{x, mvMax});
    }
    AXIS axisXImb{0, 1, true, "date"}, axisYImb{0, 1, false, "mV"};
    FitAxes(rgseriesImb, &axisXImb, &axisYImb, true);
    char szNoteImb[cchNote];
    snprintf(szNoteImb, sizeof szNoteImb,
             "The highest minus the lowest brick voltage of the hourly status while parked, per %s: its mean and its "
             "largest.",
             SzGroup(groupImb));
    AppendChart(ppage, "chart-imbalance", "Brick voltage spread", szNoteImb, axisXImb, axisYImb, rgseriesImb, {}, 1);

    // Hours parked by SOC and temperature.
    PARKBANDS const& bands = powner->bands;
    pstr->append("<h3>Hours parked by SOC and battery temperature</h3>\n");
    if (bands.hoursAll <= 0) {
        pstr->append("<p>No hourly status with a SOC and a temperature.</p>\n");
    } else {
        double hoursMax = 1;
        for (int is = 0; is < cbandSOC; is++)
            for (int it = 0; it < cbandTemp; it++)
                hoursMax = std::fmax(hoursMax, bands.rghours[is][it]);
        OpenTableBox(pstr, "sessions bands", "table-park-bands");
        pstr->append("<thead><tr><th>SOC</th>");
        for (int it = 0; it < cbandTemp; it++) {
            pstr->append("<th>");
            AppendText(pstr, s_rgszBandTemp[it]);
            pstr->append("</th>");
        }
        pstr->append("</tr></thead>\n<tbody>\n");
        for (int is = cbandSOC - 1; is >= 0; is--) {
            Append(pstr, "<tr><td>%d\xe2\x80\x93%d%%</td>", is * 10, is == cbandSOC - 1 ? 100 : is * 10 + 9);
            for (int it = 0; it < cbandTemp; it++) {
                double const hours = bands.rghours[is][it];
                Append(pstr, "<td style=\"background:rgba(192,57,43,%.2f)\">%.0f</td>", 0.6 * hours / hoursMax,
                       hours);
            }
            pstr->append("</tr>\n");
        }
        pstr->append("</tbody>\n");
        CloseTableBox(pstr);
        AppendMethod(pstr, "Each hourly status record while parked stands for one hour, at its SOC and the highest "
                           "battery temperature it read; a full battery kept warm ages fastest.");
    }

    std::vector<SERIESDRAW> rgseriesSOC(2);
    std::vector<TIMEVALUE> rgtvStart, rgtvEnd;
    for (DRIVEROW const& row : phist->rgdrive) {
        int64_t const sec = SecCivil(row.ds.timestampStart);
        if (sec == secNoDate)
            continue;
        if (row.ds.pctSOCStart >= 0)
            rgtvStart.push_back(TIMEVALUE{sec, (double)row.ds.pctSOCStart, 1});
        if (row.ds.pctSOCEnd >= 0)
            rgtvEnd.push_back(TIMEVALUE{sec, (double)row.ds.pctSOCEnd, 1});
    }
    GROUP group = groupDay;
    bool fGrouped, fGroupedEnd;
    rgseriesSOC[0] = SERIESDRAW{"SOC at the start", "#27ae60", kindDots, GroupedOverTime(rgtvStart, &group, &fGrouped)};
    rgseriesSOC[1] = SERIESDRAW{"SOC at the end", "#c0392b", kindDots, GroupedOverTime(rgtvEnd, &group, &fGroupedEnd)};
    AXIS axisXSOC{0, 1, true, "date"}, axisYSOC{0, 1, false, "SOC (%)"};
    FitAxes(rgseriesSOC, &axisXSOC, &axisYSOC, true);
    char szNote[cchNote];
    if (fGrouped || fGroupedEnd)
        snprintf(szNote, sizeof szNote, "Range SOC of the drives, the mean of each %s.", SzGroup(group));
    else
        snprintf(szNote, sizeof szNote, "Range SOC of every drive.");
    AppendChart(ppage, "chart-soc", "State of charge at the start and end of drives", szNote, axisXSOC, axisYSOC,
                rgseriesSOC, {}, 1);
    pstr->append("</section>\n");
}

void AppendEvents(PAGE const* ppage)
{
    HISTORY const* phist = ppage->phist;
    std::string* pstr = ppage->pstr;
    pstr->append("<section id=\"events\">\n<h2>Events</h2>\n<h3>Errors</h3>\n");
    if (phist->rgerr.empty()) {
        pstr->append("<p>No error record.</p>\n");
    } else {
        OpenTableBox(pstr, nullptr, "table-errors");
        pstr->append("<thead><tr><th>Time</th><th>Code</th><th>Description</th></tr></thead>\n<tbody>\n");
        for (ERRROW const& err : phist->rgerr) {
            pstr->append("<tr><td>");
            AppendDate(pstr, err.timestamp);
            Append(pstr, "</td><td>%u</td><td>", err.codeError);
            AppendText(pstr, err.szDesc);
            pstr->append("</td></tr>\n");
        }
        pstr->append("</tbody>");
        CloseTableBox(pstr);
    }
    pstr->append("<h3>Firmware</h3>\n");
    if (phist->rgfw.empty()) {
        pstr->append("<p>No firmware version in the log.</p>\n");
    } else {
        OpenTableBox(pstr, nullptr, "table-firmware");
        pstr->append("<thead><tr><th>From</th><th>Version</th></tr></thead>\n<tbody>\n");
        for (FWCHANGE const& fw : phist->rgfw) {
            char szVers[48];
            pstr->append("<tr><td>");
            AppendDate(pstr, fw.timestamp);
            pstr->append("</td><td>");
            AppendText(pstr, FormatFirmwareVersion(fw.versFirmware, szVers, sizeof szVers));
            pstr->append("</td></tr>\n");
        }
        pstr->append("</tbody>");
        CloseTableBox(pstr);
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

// The page keeps its layout from a phone to a desktop: tables scroll in their own box with the
// first column kept, the navigation wraps, and chart text grows as the chart shrinks (an SVG's text
// is in its own units) so that it never reads below 10 pixels; every other date label goes where
// the text would collide.
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
    "nav { display: flex; flex-wrap: wrap; gap: 4px 12px; }\n"
    "figure.chart { margin: 0 0 14px; padding: 8px 10px; border: 1px solid #ddd; border-radius: 4px; }\n"
    "figure.profile { border: none; padding: 0; margin: 4px 0; }\n"
    "figcaption { font-weight: bold; margin-bottom: 4px; }\n"
    "ul.legend { list-style: none; margin: 0 0 4px; padding: 0; display: flex; flex-wrap: wrap; gap: 2px 14px; "
    "font-size: 0.85em; }\n"
    "ul.legend .swatch { display: inline-block; width: 14px; height: 4px; margin-right: 5px; vertical-align: "
    "middle; }\n"
    "svg { display: block; width: 100%; height: auto; font-size: 12px; overflow: visible; }\n"
    ".units { display: none; font-size: 0.85em; color: #555; margin: 0 0 2px; }\n"
    "svg text { fill: #333; }\n"
    "svg .axis-title { font-size: 1.08em; fill: #111; }\n"
    "svg .empty { fill: #999; font-size: 1.33em; }\n"
    "svg .grid { stroke: #e6e6e6; stroke-width: 1; }\n"
    "svg .axis { stroke: #444; stroke-width: 1; }\n"
    "svg .fw-line { stroke: #888; stroke-width: 1; stroke-dasharray: 4 3; }\n"
    "svg .fw-mark { fill: #666; }\n"
    ".note, .method { color: #555; font-size: 0.85em; margin: 4px 0 0; }\n"
    ".method { font-style: italic; }\n"
    "div.scroll { max-width: 100%; overflow-x: auto; }\n"
    "table { border-collapse: collapse; font-size: 0.85em; }\n"
    "td, th { border: 1px solid #ddd; padding: 2px 6px; text-align: left; }\n"
    "div.scroll th:first-child, div.scroll td:first-child { position: sticky; left: 0; background: #fff; }\n"
    "table.sessions td { text-align: right; white-space: nowrap; }\n"
    "table.sessions tr.profile td { text-align: left; white-space: normal; position: static; }\n"
    "table.periods tr.year td:first-child { font-weight: bold; }\n"
    "table.figures th { font-weight: normal; color: #555; }\n"
    "summary { cursor: pointer; color: #2471a3; }\n"
    "details.month { margin: 2px 0; }\n"
    "details.month > summary { padding: 3px 0; }\n"
    "@media (max-width: 880px) { svg { font-size: 15px; } }\n"
    "@media (max-width: 720px) { svg { font-size: 19px; } body { padding: 10px 8px; } "
    "figure.chart { padding: 6px 4px; } }\n"
    "@media (max-width: 580px) { svg { font-size: 24px; } svg .x-axis text:nth-of-type(even) { display: none; } "
    "svg .axis-title { display: none; } svg .y-axis text:nth-of-type(odd) { display: none; } "
    ".units { display: block; } }\n"
    "@media (max-width: 440px) { svg { font-size: 28px; } }\n"
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
    OWNER owner{};
    ComputeOwner(phist, &owner);
    int const cdriveProfile = std::min((int)phist->rgdrive.size(), csessionProfileMax);
    int const cchargeProfile = std::min((int)phist->rgcharge.size(), csessionProfileMax);
    int const cptProfile = CptProfileBudget(cdriveProfile + cchargeProfile);
    pstr->append(s_szHead);
    pstr->append("<h1>The car</h1>\n<nav><a href=\"#overview\">Overview</a><a href=\"#chart-calendar\">Calendar</a>"
                 "<a href=\"#months\">Months</a><a href=\"#drives\">Drives</a><a href=\"#charges\">Charges</a>"
                 "<a href=\"#parked\">Parked</a><a href=\"#efficiency\">Efficiency</a>"
                 "<a href=\"#battery\">Battery</a><a href=\"#events\">Events</a></nav>\n");
    AppendOverview(&page, &owner);
    pstr->append("<section id=\"calendar\">\n<h2>Calendar</h2>\n");
    AppendCalendar(&page);
    pstr->append("</section>\n");
    AppendMonths(&page, &owner);
    AppendDrives(&page, cptProfile);
    AppendCharges(&page, &owner, cptProfile);
    pstr->append("<section id=\"curves\">\n");
    AppendChargeCurves(&page);
    pstr->append("</section>\n");
    AppendParked(&page, &owner);
    AppendEfficiency(&page);
    AppendBattery(&page, &owner);
    AppendEvents(&page);
    pstr->append("<p class=\"note\">Made by quenfell-plot from the car's logs; drives and charges as quenfell's "
                 "default report gives them.</p>\n</body>\n</html>\n");
}
