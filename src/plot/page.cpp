// Draws the battery study page: the capacity chart with firmware markers, the five histograms as
// bar charts and the summary lines, all inline. Coordinates are in SVG user units; each chart keeps
// its own viewBox so the page scales with the window.
#include "plot/page.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "report/reportformat.h"
#include "plot/svg.h"

namespace {

// Histogram chart geometry (viewBox 0 0 cxHist cyHist).
constexpr double cxHist = 480, cyHist = 280;
constexpr double xHistLeft = 62, xHistRight = 466, yHistTop = 14, yHistBottom = 226;

// Capacity chart geometry; room above the plot for the firmware labels.
constexpr double cxCap = 980, cyCap = 340;
constexpr double xCapLeft = 62, xCapRight = 962, yCapTop = 62, yCapBottom = 288;

constexpr double cxFwLabelHalf = 40;   // half the width of a long firmware label such as "10.12.13 145"
constexpr int cTickTarget = 6;         // about this many ticks per axis
constexpr int64_t secDay = 86400;

constexpr const char* s_rgszBarColour[cHistReport] = {"#c0392b", "#2471a3", "#d68910", "#7d3c98", "#17a589"};

struct HISTLABEL {
    const char* szCaption;
    const char* szNote;
};

constexpr HISTLABEL s_rghistlabel[cHistReport] = {
    {"Charging current", "Time spent charging at each current (below 180 V the current is halved)."},
    {"State of charge", "Time spent at each range state of charge."},
    {"Battery temperature", "Time spent at each highest battery temperature."},
    {"Odometer", "Time spent in each thousand miles of the odometer."},
    {"Miles per day", "Days by distance driven between daily samples (999: 1000 or more)."},
};

struct SERIES {
    const char* szName;
    const char* szClass;
    const char* szColour;
};

constexpr SERIES s_rgseries[3] = {
    {"CAC", "cac", "#c0392b"},
    {"brick Ah min", "brickmin", "#2471a3"},
    {"brick Ah ave", "brickave", "#27ae60"},
};

void AppendAxisTitles(std::string* pstr, double xMid, double yXTitle, double yMid, const char* szX, const char* szY)
{
    Append(pstr, "<text class=\"axis-title\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">", xMid, yXTitle);
    AppendText(pstr, szX);
    Append(pstr, "</text>\n<text class=\"axis-title\" transform=\"translate(16 %.1f) rotate(-90)\" "
                 "text-anchor=\"middle\">", yMid);
    AppendText(pstr, szY);
    pstr->append("</text>\n");
}

// Horizontal grid lines and labels of a value axis from yMin to yMax (values), drawn over the plot's height.
void AppendValueAxis(std::string* pstr, double vMin, double vMax, double step, double xLeft, double xRight,
                     double yTop, double yBottom)
{
    pstr->append("<g class=\"y-axis\">\n");
    int cTick = static_cast<int>(std::floor((vMax - vMin) / step + 0.5));
    for (int i = 0; i <= cTick && i <= 100; i++) {
        double v = vMin + i * step;
        double y = yBottom - (v - vMin) / (vMax - vMin) * (yBottom - yTop);
        char ach[32];
        FormatCompact(v, ach, sizeof(ach));
        Append(pstr, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.2f\" x2=\"%.1f\" y2=\"%.2f\"/>", xLeft, y, xRight, y);
        Append(pstr, "<text x=\"%.1f\" y=\"%.2f\" text-anchor=\"end\">%s</text>\n", xLeft - 5, y + 4, ach);
    }
    pstr->append("</g>\n");
}

void AppendHistogram(std::string* pstr, HIST const* phist, int ihist)
{
    // Value axis: counts from 0, topped at a whole step.
    double countMax = static_cast<double>(phist->countMax);
    double stepY = NiceStep(countMax > 0 ? countMax : 1, cTickTarget);
    if (stepY < 1)
        stepY = 1;
    double yTopValue = std::ceil((countMax > 0 ? countMax : 1) / stepY) * stepY;

    // Bin axis: from 0 to a whole step past the last printed bin, within the histogram's bins.
    int cBinShown = phist->iLast >= 0 ? phist->iLast + 1 : 10;
    double stepX = NiceStep(cBinShown, cTickTarget);
    if (stepX < 1)
        stepX = 1;
    double xTopValue = std::ceil(cBinShown / stepX) * stepX;
    if (xTopValue > phist->cBin)
        xTopValue = phist->cBin;
    double cxBin = (xHistRight - xHistLeft) / xTopValue;

    Append(pstr, "<figure class=\"chart\" id=\"chart-%s\">\n<figcaption>%s</figcaption>\n", phist->szName,
           s_rghistlabel[ihist].szCaption);
    Append(pstr, "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"%s histogram\">\n", cxHist, cyHist,
           phist->szTitle);
    AppendValueAxis(pstr, 0, yTopValue, stepY, xHistLeft, xHistRight, yHistTop, yHistBottom);

    pstr->append("<g class=\"x-axis\">\n");
    for (double v = 0; v <= xTopValue + 1e-9; v += stepX) {
        double x = xHistLeft + v * cxBin;
        Append(pstr, "<line class=\"tick\" x1=\"%.2f\" y1=\"%.1f\" x2=\"%.2f\" y2=\"%.1f\"/>", x, yHistBottom, x,
               yHistBottom + 5);
        Append(pstr, "<text x=\"%.2f\" y=\"%.1f\" text-anchor=\"middle\">%g</text>\n", x, yHistBottom + 18, v);
    }
    pstr->append("</g>\n");

    // Bars stay at least one unit wide and high: a minute at one current among days at others still shows.
    double cxBar = cxBin >= 3 ? cxBin * 0.8 : cxBin < 1 ? 1 : cxBin;
    Append(pstr, "<g class=\"bars\" fill=\"%s\">\n", s_rgszBarColour[ihist]);
    for (int iBin = 0; iBin <= phist->iLast && iBin < phist->cBin; iBin++) {
        int32_t count = phist->rgCount[iBin];
        if (count <= 0)
            continue;
        double cyBar = count / yTopValue * (yHistBottom - yHistTop);
        if (cyBar < 1)
            cyBar = 1;
        double x = xHistLeft + iBin * cxBin + (cxBin >= 3 ? cxBin * 0.1 : 0);
        Append(pstr, "<rect class=\"bar\" x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\">", x,
               yHistBottom - cyBar, cxBar, cyBar);
        Append(pstr, "<title>%d %s: %d %s</title></rect>\n", iBin, phist->szTitle, count, phist->szUnit);
    }
    pstr->append("</g>\n");
    if (phist->cNonZero == 0)
        Append(pstr, "<text class=\"empty\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">no samples</text>\n",
               (xHistLeft + xHistRight) / 2, (yHistTop + yHistBottom) / 2);
    Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xHistLeft, yHistBottom,
           xHistRight, yHistBottom);
    AppendAxisTitles(pstr, (xHistLeft + xHistRight) / 2, cyHist - 12, (yHistTop + yHistBottom) / 2, phist->szTitle,
                     phist->szUnit);
    pstr->append("</svg>\n");
    Append(pstr, "<p class=\"note\">%s</p>\n</figure>\n", s_rghistlabel[ihist].szNote);
}

void AppendDateAxis(std::string* pstr, int64_t secMin, int64_t secMax)
{
    double span = static_cast<double>(secMax - secMin);
    DATETICK rgtick[ctickDateMax];
    int ctick = CDateTicks(secMin, secMax, rgtick);
    pstr->append("<g class=\"x-axis\">\n");
    for (int itick = 0; itick < ctick; itick++) {
        double x = xCapLeft + static_cast<double>(rgtick[itick].sec - secMin) / span * (xCapRight - xCapLeft);
        Append(pstr, "<line class=\"grid\" x1=\"%.2f\" y1=\"%.1f\" x2=\"%.2f\" y2=\"%.1f\"/>", x, yCapTop, x,
               yCapBottom);
        Append(pstr, "<text x=\"%.2f\" y=\"%.1f\" text-anchor=\"middle\">%s</text>\n", x, yCapBottom + 18,
               rgtick[itick].szLabel);
    }
    pstr->append("</g>\n");
}

double CapValue(CAPROW const* pcap, int iseries)
{
    return iseries == 0 ? pcap->ahCAC : iseries == 1 ? pcap->ahBrickMin : pcap->ahBrickAve;
}

void AppendCapacityChart(std::string* pstr, REPORT const* prep)
{
    // The time axis spans every dated row of both tables; the value axis the three series.
    bool fAny = false, fAnyCap = false;
    int64_t secMin = 0, secMax = 0;
    double ahMin = 0, ahMax = 0;
    for (int i = 0; i < prep->ccap; i++) {
        CAPROW const* pcap = &prep->rgcap[i];
        if (!pcap->date.fDated)
            continue;
        if (!fAny || pcap->date.secCivil < secMin)
            secMin = pcap->date.secCivil;
        if (!fAny || pcap->date.secCivil > secMax)
            secMax = pcap->date.secCivil;
        fAny = true;
        for (int iseries = 0; iseries < 3; iseries++) {
            double ah = CapValue(pcap, iseries);
            if (!fAnyCap || ah < ahMin)
                ahMin = ah;
            if (!fAnyCap || ah > ahMax)
                ahMax = ah;
            fAnyCap = true;
        }
    }
    for (int i = 0; i < prep->cfw; i++) {
        FWROW const* pfw = &prep->rgfw[i];
        if (!pfw->date.fDated)
            continue;
        if (!fAny || pfw->date.secCivil < secMin)
            secMin = pfw->date.secCivil;
        if (!fAny || pfw->date.secCivil > secMax)
            secMax = pfw->date.secCivil;
        fAny = true;
    }
    if (secMax - secMin < secDay) {
        secMin -= secDay / 2;
        secMax += secDay / 2;
    }
    if (!fAnyCap) {
        ahMin = 0;
        ahMax = 1;
    }
    if (ahMax - ahMin < 1) {
        ahMin -= 0.5;
        ahMax += 0.5;
    }
    double stepY = NiceStep(ahMax - ahMin, cTickTarget);
    double vBottom = std::floor(ahMin / stepY) * stepY;
    double vTop = std::ceil(ahMax / stepY) * stepY;
    double spanX = static_cast<double>(secMax - secMin);

    pstr->append("<figure class=\"chart wide\" id=\"chart-capacity\">\n<figcaption>Battery capacity</figcaption>\n");
    Append(pstr, "<svg viewBox=\"0 0 %.0f %.0f\" role=\"img\" aria-label=\"capacity over time\">\n", cxCap, cyCap);

    // Legend across the top.
    pstr->append("<g class=\"legend\">\n");
    double xLegend = xCapLeft;
    for (SERIES const& series : s_rgseries) {
        Append(pstr, "<line x1=\"%.1f\" y1=\"14\" x2=\"%.1f\" y2=\"14\" stroke=\"%s\" stroke-width=\"3\"/>", xLegend,
               xLegend + 22, series.szColour);
        Append(pstr, "<text x=\"%.1f\" y=\"18\">%s</text>\n", xLegend + 28, series.szName);
        xLegend += 150;
    }
    Append(pstr, "<line class=\"fw-line\" x1=\"%.1f\" y1=\"6\" x2=\"%.1f\" y2=\"22\"/>", xLegend + 11, xLegend + 11);
    Append(pstr, "<text x=\"%.1f\" y=\"18\">firmware version</text>\n</g>\n", xLegend + 28);

    AppendValueAxis(pstr, vBottom, vTop, stepY, xCapLeft, xCapRight, yCapTop, yCapBottom);
    if (fAny)
        AppendDateAxis(pstr, secMin, secMax);

    auto xOf = [&](int64_t sec) {
        return xCapLeft + static_cast<double>(sec - secMin) / spanX * (xCapRight - xCapLeft);
    };
    auto yOf = [&](double ah) { return yCapBottom - (ah - vBottom) / (vTop - vBottom) * (yCapBottom - yCapTop); };

    // Firmware markers behind the lines, their labels on two rows so neighbours do not collide.
    int cfwShown = 0;
    for (int i = 0; i < prep->cfw; i++) {
        FWROW const* pfw = &prep->rgfw[i];
        if (!pfw->date.fDated)
            continue;
        double x = xOf(pfw->date.secCivil);
        double yLabel = cfwShown % 2 == 0 ? yCapTop - 22 : yCapTop - 8;
        pstr->append("<g class=\"fw\"><title>firmware ");
        AppendText(pstr, pfw->achVersion);
        pstr->append(" from ");
        AppendText(pstr, pfw->date.achText);
        Append(pstr, "</title><line class=\"fw-line\" x1=\"%.2f\" y1=\"%.1f\" x2=\"%.2f\" y2=\"%.1f\"/>", x,
               yLabel + 3, x, yCapBottom);
        Append(pstr, "<path class=\"fw-mark\" d=\"M%.2f %.1fl-5 -8h10z\"/>", x, yCapTop);
        // A label at either end of the axis grows inwards so that it stays inside the chart.
        const char* szAnchor = x > xCapRight - cxFwLabelHalf  ? "end"
                               : x < xCapLeft + cxFwLabelHalf ? "start"
                                                              : "middle";
        Append(pstr, "<text x=\"%.2f\" y=\"%.1f\" text-anchor=\"%s\">", x, yLabel, szAnchor);
        AppendText(pstr, pfw->achVersion);
        pstr->append("</text></g>\n");
        cfwShown++;
    }

    for (int iseries = 0; iseries < 3; iseries++) {
        SERIES const& series = s_rgseries[iseries];
        int cPoint = 0;
        for (int i = 0; i < prep->ccap; i++)
            cPoint += prep->rgcap[i].date.fDated ? 1 : 0;
        if (cPoint == 0)
            continue;
        // A lone sample has no line to draw: it gets a dot.
        if (cPoint == 1) {
            for (int i = 0; i < prep->ccap; i++) {
                CAPROW const* pcap = &prep->rgcap[i];
                if (pcap->date.fDated)
                    Append(pstr, "<circle class=\"series %s\" cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"%s\"/>\n",
                           series.szClass, xOf(pcap->date.secCivil), yOf(CapValue(pcap, iseries)), series.szColour);
            }
            continue;
        }
        Append(pstr, "<polyline class=\"series %s\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\" points=\"",
               series.szClass, series.szColour);
        for (int i = 0; i < prep->ccap; i++) {
            CAPROW const* pcap = &prep->rgcap[i];
            if (pcap->date.fDated)
                Append(pstr, "%.2f,%.2f ", xOf(pcap->date.secCivil), yOf(CapValue(pcap, iseries)));
        }
        pstr->append("\"/>\n");
    }
    if (!fAnyCap)
        Append(pstr, "<text class=\"empty\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">no daily samples</text>\n",
               (xCapLeft + xCapRight) / 2, (yCapTop + yCapBottom) / 2);
    Append(pstr, "<line class=\"axis\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", xCapLeft, yCapBottom,
           xCapRight, yCapBottom);
    AppendAxisTitles(pstr, (xCapLeft + xCapRight) / 2, cyCap - 10, (yCapTop + yCapBottom) / 2, "date", "Ah");
    pstr->append("</svg>\n<p class=\"note\">Daily samples: the calculated ampere-hour capacity (CAC) and the "
                 "lowest and average brick capacity; a marker where the firmware version changed.</p>\n</figure>\n");
}

void AppendFirmwareTable(std::string* pstr, REPORT const* prep)
{
    pstr->append("<h2>Firmware versions</h2>\n");
    if (prep->cfw == 0) {
        pstr->append("<p>No firmware version in this report.</p>\n");
        return;
    }
    pstr->append("<table>\n<tr><th>from</th><th>version</th></tr>\n");
    for (int i = 0; i < prep->cfw; i++) {
        pstr->append("<tr><td>");
        AppendText(pstr, prep->rgfw[i].date.achText);
        pstr->append("</td><td>");
        AppendText(pstr, prep->rgfw[i].achVersion);
        pstr->append("</td></tr>\n");
    }
    pstr->append("</table>\n");
}

void AppendSummary(std::string* pstr, REPORT const* prep)
{
    pstr->append("<h2>Summary</h2>\n<pre>");
    SPAN const* rgpspan[2] = {&prep->spanDaily, &prep->spanDetail};
    const char* rgszWhich[2] = {szReportSpanDaily, szReportSpanDetail};
    // The lines as the report printed them; the block closes on the last one, which leaves no empty
    // line under it.
    char achLine[160];
    for (int i = 0; i < 2; i++) {
        std::snprintf(achLine, sizeof(achLine), szReportSpanFormat, rgszWhich[i], rgpspan[i]->dateFrom.achText,
                      rgpspan[i]->dateTo.achText, rgpspan[i]->cDays);
        AppendText(pstr, achLine);
    }
    std::snprintf(achLine, sizeof(achLine), szReportDetailFormat, prep->cDaysDetail, prep->milesOdoMax);
    achLine[std::strcspn(achLine, "\n")] = 0;
    AppendText(pstr, achLine);
    pstr->append("</pre>\n");
    Append(pstr, "<p class=\"note\">%d daily capacity samples, %d firmware versions.</p>\n", prep->ccap, prep->cfw);
}

constexpr const char* s_szHead =
    "<!DOCTYPE html>\n"
    "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
    "<title>Battery study</title>\n"
    "<style>\n"
    "body { font-family: sans-serif; margin: 0 auto; padding: 16px 20px; max-width: 1040px; color: #222; "
    "background: #fff; }\n"
    "h1 { font-size: 1.5em; margin: 0 0 12px; }\n"
    "h2 { font-size: 1.1em; margin: 20px 0 8px; }\n"
    ".grid { display: grid; grid-template-columns: repeat(auto-fit, minmax(420px, 1fr)); gap: 14px; }\n"
    "figure.chart { margin: 0 0 14px; padding: 8px 10px; border: 1px solid #ddd; border-radius: 4px; }\n"
    "figcaption { font-weight: bold; margin-bottom: 4px; }\n"
    ".panel { margin: 0 0 14px; padding: 0 10px; }\n"
    ".panel h2:first-child { margin-top: 8px; }\n"
    "svg { display: block; width: 100%; height: auto; font-size: 12px; }\n"
    "svg text { fill: #333; }\n"
    "svg .axis-title { font-size: 13px; fill: #111; }\n"
    "svg .empty { fill: #999; font-size: 16px; }\n"
    "svg .grid { stroke: #e6e6e6; stroke-width: 1; }\n"
    "svg .axis, svg .tick { stroke: #444; stroke-width: 1; }\n"
    "svg .fw-line { stroke: #888; stroke-width: 1; stroke-dasharray: 4 3; }\n"
    "svg .fw-mark { fill: #666; }\n"
    ".note { color: #555; font-size: 0.85em; margin: 4px 0 0; }\n"
    "table { border-collapse: collapse; font-size: 0.9em; }\n"
    "td, th { border: 1px solid #ddd; padding: 2px 10px; text-align: left; }\n"
    "pre { background: #f6f6f6; padding: 8px; font-size: 0.8em; overflow-x: auto; }\n"
    "</style>\n</head>\n<body>\n";

}  // namespace

void WritePage(REPORT const* prep, std::string* pstr)
{
    pstr->append(s_szHead);
    pstr->append("<h1>Battery study</h1>\n<p class=\"lead\">Daily samples from ");
    AppendText(pstr, prep->spanDaily.dateFrom.achText);
    pstr->append(" to ");
    AppendText(pstr, prep->spanDaily.dateTo.achText);
    Append(pstr, " (%d days); %d days of detail; highest odometer reading %d miles.</p>\n",
           prep->spanDaily.cDays, prep->cDaysDetail, prep->milesOdoMax);
    AppendCapacityChart(pstr, prep);
    pstr->append("<div class=\"grid\">\n");
    for (int ihist = 0; ihist < cHistReport; ihist++)
        AppendHistogram(pstr, &prep->rghist[ihist], ihist);
    // The odd sixth cell of the grid holds the tables.
    pstr->append("<section class=\"panel\" id=\"tables\">\n");
    AppendFirmwareTable(pstr, prep);
    AppendSummary(pstr, prep);
    pstr->append("</section>\n</div>\n");
    pstr->append("<p class=\"note\">Made by quenfell-plot from a battery study report (quenfell -b).</p>\n"
                 "</body>\n</html>\n");
}
