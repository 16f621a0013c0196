// The session summary's text: its title and column heading, one line per drive and per charge in
// the column or tab-delimited layout, the -u trace (rules, charge segments), the forward scan's
// finds, the totals line and the approximate capacity.
#include <cstdint>
#include <cstdio>

#include "report/report.h"
#include "report/sessionlines.h"
#include "support/line.h"
#include "support/output.h"
#include "support/timecal.h"
#include "support/units.h"

namespace {

constexpr uint32_t secPerHour = 3600;
constexpr int cchDate = 20;
constexpr int cchNote = 256;

const char szSummaryTitle[] = "Transient Log Summary";
const char szHeaderTab[] =
    "Start Date & Time\tEnd Date & Time\tDuration\tAction\tRange SOC Start\tRange SOC End\tDistance (%s)\t"
    "Ave Speed (%s)\tMax Speed (%s)\tOdometer (%s)\tVolts\tCharge Amps\tLineAmps\tEnergy\tCharge In (Ah)\t"
    "Charge Out (Ah)\tBattery-to-Wheel Efficiency (Wh/%s)\tWall-to-Wheel Efficiency (Wh/%s)\tNotes\n";
const char szHeaderColumns[] =
    "Start Date & Time     End Date & Time     Duration   Action Range SOC    Distance Ave Speed Max Speed "
    "Odometer     Volts Amps       Energy   Charge In Charge Out Batt2Whl   Wall2Whl   Notes\n"
    "-------------------   ------------------- ---------- ------ ------------ -------- --------- --------- "
    "------------ ----- ---------- -------- --------- ---------- ---------- ---------- -----\n";
// A charge line leaves the distance, speed and odometer columns blank.
const char szBlankDriveColumns[] = "                                         ";
const char szRuleStartCharge[] = "----------------------------- start charge\n";
const char szRuleStartDrive[] = "----------------------------- start drive\n";

// "hh:mm:ss"; the hours may run to seven digits.
constexpr int cchDuration = 32;
char* FormatDuration(uint32_t secs, char* buf)
{
    snprintf(buf, cchDuration, "%02d:%02d:%02d", (int)(secs / secPerHour), (int)(secs / 60 % 60), (int)(secs % 60));
    return buf;
}

// A session line's start: its times, what it was and its SOC, in either layout; a tab ends it in
// the tab-delimited one.
void PutSessionStart(LINE* pline, bool fTab, uint32_t timestampStart, uint32_t timestampEnd, uint32_t secDuration,
                     char const* szAction, int pctSOCStart, int pctSOCEnd)
{
    char szStart[cchDate], szEnd[cchDate];
    DateFromTimestamp(timestampStart, szStart, cchDate);
    DateFromTimestamp(timestampEnd, szEnd, cchDate);
    char szDuration[cchDuration];
    FormatDuration(secDuration, szDuration);
    pline->Sz(szStart);
    if (fTab) {
        pline->Ch('\t');
        pline->Sz(szEnd);
        pline->Ch('\t');
        pline->Sz(szDuration);
        pline->Ch('\t');
        pline->Sz(szAction);
        pline->Ch('\t');
        pline->Int(pctSOCStart);
        pline->Sz("%\t");
        pline->Int(pctSOCEnd);
        pline->Sz("%\t");
    } else {
        pline->Sz(" - ");
        pline->Sz(szEnd);
        pline->Sz(" (");
        pline->Sz(szDuration);
        pline->Sz(") ");
        pline->SzLeft(szAction, 7);
        pline->IntRight(pctSOCStart, 3);
        pline->Sz("% -> ");
        pline->IntRight(pctSOCEnd, 3);
        pline->Ch('%');
    }
}

// The charge's amp-hours in and out: "\t%.1f\t%.1f" or " %5.1f Ah  %5.1f Ah  ".
void PutChargeAh(LINE* pline, bool fTab, CHARGESESSION const* pcs)
{
    pline->Ch(fTab ? '\t' : ' ');
    pline->FixedRight(pcs->ahIn, fTab ? 0 : 5, 1);
    pline->Sz(fTab ? "\t" : " Ah  ");
    pline->FixedRight(pcs->ahOut, fTab ? 0 : 5, 1);
    if (!fTab)
        pline->Sz(" Ah  ");
}

const char* SzTCOff(int cTCOff, int* pn)
{
    if (cTCOff < 120) {
        *pn = cTCOff;
        return "seconds";
    }
    if (cTCOff < 7200) {
        *pn = cTCOff / 60;
        return "minutes";
    }
    *pn = cTCOff / 3600;
    return "hours";
}

}   // namespace

void PrintSummaryHeader(REPORTER const* prep)
{
    PrintSectionTitle(szSummaryTitle);
    if (prep->fTab) {
        const char* szDist = UnitsDistMiKm(prep->fMetric);
        const char* szSpeed = UnitsSpeed(prep->fMetric);
        printf(szHeaderTab, szDist, szSpeed, szSpeed, szDist, szDist, szDist);
    } else {
        fputs(szHeaderColumns, stdout);
    }
}

void PrintChargeLine(REPORTER const* prep, CHARGESESSION const* pcs)
{
    char szNote[cchNote];
    bool const fTab = prep->fTab;
    LINE line;

    // "%s\t%s\t%s\tCharge\t%d%%\t%d%%\t\t\t\t" or "%s - %s (%s) Charge %3d%% -> %3d%%%s"
    PutSessionStart(&line, fTab, pcs->timestampStart, pcs->timestampEnd, pcs->secDuration, "Charge", pcs->pctSOCStart,
                    pcs->pctSOCEnd);
    line.Sz(fTab ? "\t\t\t" : szBlankDriveColumns);

    if (pcs->cVoltsLine > 0) {
        // "\t%.0f" or " %4.0fV "
        line.Ch(fTab ? '\t' : ' ');
        line.FixedRight(pcs->voltsLineAverage, fTab ? 0 : 4, 0);
        if (!fTab)
            line.Sz("V ");
    } else {
        line.Sz(fTab ? "\t" : "      ");
    }

    if (pcs->ampsMax != 0) {
        // "\t%.0f" or " %2.0fA"
        line.Ch(fTab ? '\t' : ' ');
        line.FixedRight(pcs->ampsMax, fTab ? 0 : 2, 0);
        if (!fTab)
            line.Ch('A');
        if (pcs->ampsAvailable != 0) {
            // "\t%d" or " of %2dA"
            line.Sz(fTab ? "\t" : " of ");
            line.IntRight(pcs->ampsAvailable, fTab ? 0 : 2);
            if (!fTab)
                line.Ch('A');
        } else {
            line.Sz(fTab ? "\t" : "       ");
        }
    } else {
        line.Sz(fTab ? "\t\t" : "           ");
    }

    if (pcs->kwh != 0) {
        // "\t%.2f" or " %4.1f kWh"
        line.Ch(fTab ? '\t' : ' ');
        line.FixedRight(pcs->kwh, fTab ? 0 : 4, fTab ? 2 : 1);
        if (!fTab)
            line.Sz(" kWh");
        PutChargeAh(&line, fTab, pcs);
        if (pcs->fWallToWheel) {
            double const wh = pcs->kwh * 1000 / DistConvertMiles(pcs->milesSinceCharge, prep->fMetric);
            // "\t\t%.0f" or "           %4.0f Wh/%s"
            line.Sz(fTab ? "\t\t" : "           ");
            line.FixedRight(wh, fTab ? 0 : 4, 0);
            if (!fTab) {
                line.Sz(" Wh/");
                line.Sz(UnitsDistMiKm(prep->fMetric));
            }
        } else {
            line.Sz(fTab ? "\t\t" : "                       ");
        }
    } else {
        PutChargeAh(&line, fTab, pcs);
    }

    if (PszDSTNote(pcs->timestampStart, pcs->timestampEnd, szNote, cchNote)) {
        line.Ch('\t');
        line.Sz(szNote);
    }
    line.Ch('\n');
}

void PrintDriveLine(REPORTER const* prep, DRIVESESSION const* pds)
{
    char szNote[cchNote];
    bool const fTab = prep->fTab;
    char const* szDist = UnitsDistMiKm(prep->fMetric);
    char const* szSpeed = UnitsSpeed(prep->fMetric);

    double const miles = pds->miles;
    double const dist = DistConvertMiles(miles, prep->fMetric);
    double const speedAve = DistConvertMiles(pds->mphAverage, prep->fMetric);
    double const speedMax = DistConvertMiles(pds->mphMax, prep->fMetric);
    LINE line;

    // "%s\t%s\t%s\tDrive\t%d%%\t%d%%\t%.1f\t%.1f\t%.1f\t" or
    // "%s - %s (%s) Drive  %3d%% -> %3d%% %5.1f %s %5.1f %s %5.1f %s"
    PutSessionStart(&line, fTab, pds->timestampStart, pds->timestampEnd, pds->secDuration, "Drive", pds->pctSOCStart,
                    pds->pctSOCEnd);
    if (fTab) {
        line.Fixed(dist, 1);
        line.Ch('\t');
        line.Fixed(speedAve, 1);
        line.Ch('\t');
        line.Fixed(speedMax, 1);
        line.Ch('\t');
    } else {
        line.Ch(' ');
        line.FixedRight(dist, 5, 1);
        line.Ch(' ');
        line.Sz(szDist);
        line.Ch(' ');
        line.FixedRight(speedAve, 5, 1);
        line.Ch(' ');
        line.Sz(szSpeed);
        line.Ch(' ');
        line.FixedRight(speedMax, 5, 1);
        line.Ch(' ');
        line.Sz(szSpeed);
    }

    if (pds->fOdometer) {
        if (fTab) {
            line.Fixed(DistConvertMiles(pds->milesOdo, prep->fMetric), 1);
        } else {
            // " %c%8.1f %s"
            line.Ch(' ');
            line.Ch(pds->fOdoCurrent ? ' ' : '~');
            line.FixedRight(DistConvertMiles(pds->milesOdo, prep->fMetric), 8, 1);
            line.Ch(' ');
            line.Sz(szDist);
        }
    } else if (!fTab) {
        line.Sz("          ");
    }

    double const wh = pds->wh;
    // "\t\t\t\t%.1f" or "                  %4.1f kWh"
    line.Sz(fTab ? "\t\t\t\t" : "                  ");
    line.FixedRight(wh / 1000, fTab ? 0 : 4, 1);
    if (!fTab)
        line.Sz(" kWh");
    // "\t%.1f\t%.1f" or " %5.1f Ah   %4.1f Ah "
    line.Ch(fTab ? '\t' : ' ');
    line.FixedRight(pds->ahIn, fTab ? 0 : 5, 1);
    line.Sz(fTab ? "\t" : " Ah   ");
    line.FixedRight(pds->ahOut, fTab ? 0 : 4, 1);
    if (!fTab)
        line.Sz(" Ah ");
    // Shorter drives give figures that say more about the rounding than about the car.
    if (miles >= 1.0) {
        // "\t%4.0f" or " %4.0f Wh/%s"
        line.Ch(fTab ? '\t' : ' ');
        line.FixedRight(wh / DistConvertMiles(miles, prep->fMetric), 4, 0);
        if (!fTab) {
            line.Sz(" Wh/");
            line.Sz(szDist);
        }
    } else {
        line.Sz(fTab ? "\t" : "           ");
    }

    if (PszDSTNote(pds->timestampStart, pds->timestampEnd, szNote, cchNote)) {
        line.Sz(szNote);
        if (pds->cTCOff > 0)
            line.Ch(' ');
    }
    if (pds->cTCOff > 0) {
        int n;
        const char* szUnit = SzTCOff(pds->cTCOff, &n);
        // "%sTC off for %d %s"
        line.Sz(fTab ? "\t\t" : "             ");
        line.Sz("TC off for ");
        line.Int(n);
        line.Ch(' ');
        line.Sz(szUnit);
    }
    line.Ch('\n');
}

void PrintSegmentLine(CHARGESEGMENT const* pseg)
{
    char szStart[cchDate], szEnd[cchDate];
    DateFromTimestamp(pseg->timestampStart, szStart, cchDate);
    DateFromTimestamp(pseg->timestampEnd, szEnd, cchDate);
    char szDuration[cchDuration];
    FormatDuration(pseg->secDuration, szDuration);
    fputs("end charge segment\n", stdout);
    printf("CGSEG\t%s\t%s\t%s\t%d\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.0f\t%.1f\t%.0f\t%.1f\n",
           szStart, szEnd, szDuration, pseg->csample, pseg->pctSOCStart, pseg->pctSOCEnd, pseg->degMin, pseg->degMax,
           pseg->degAverage, pseg->voltsMin, pseg->voltsMax, pseg->voltsAverage, pseg->ampsMin, pseg->ampsMax,
           pseg->ampsAverage, pseg->wh, pseg->kwAverage, pseg->whPerPct, pseg->pctPerHour);
}

void PrintSummaryNote(SUMMARYNOTE snote, uint32_t timestamp, int pctSOC)
{
    char szDate[cchDate];
    switch (snote) {
    case snoteStartCharge:
        fputs(szRuleStartCharge, stdout);
        break;
    case snoteStartDrive:
        fputs(szRuleStartDrive, stdout);
        break;
    case snoteForwardIdle:
        printf("%s found idle record in forward scan. soc = %d\n", DateFromTimestamp(timestamp, szDate, cchDate),
               pctSOC);
        break;
    case snoteForwardC30M:
        printf("%s found 30-minute charge record in forward scan. soc = %d\n",
               DateFromTimestamp(timestamp, szDate, cchDate), pctSOC);
        break;
    case snoteSegmentBegin:
        fputs("begin charge segment\n", stdout);
        break;
    case snoteSegmentAbort:
        fputs("abort charge seg\n", stdout);
        break;
    }
}

void PrintTotals(REPORTER const* prep, SUMMARYTOTALS const* ptotals)
{
    int const fMetric = prep->fMetric;
    printf("%s Transient section: odometer: %.1f to %s%.1f (%.1f %s), %.1f hours of driving, "
           "%.1f hours of charging, over %.1f days\n\n",
           ptotals->pszPath, DistConvertMiles(ptotals->milesOdoMin, fMetric), ptotals->fOdoEstimated ? "~" : "",
           DistConvertMiles(ptotals->milesOdoMax, fMetric),
           DistConvertMiles(ptotals->milesOdoMax - ptotals->milesOdoMin, fMetric), UnitsDistMiKm(fMetric),
           ptotals->secDriving / 3600.0, ptotals->secCharging / 3600.0, ptotals->secSpan / 86400.0);
}

void PrintCapacity(double ahCAC, uint32_t timestamp)
{
    char szDate[cchDate];
    printf("Approximate CAC: %.2f Ah as of %s\n", ahCAC, DateFromTimestamp(timestamp, szDate, cchDate));
}
