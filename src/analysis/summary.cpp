// The default report: watches the transient ring in time order and prints one line for each drive
// and each charge as it ends, then the totals of the walk and the battery's approximate capacity
// from the long-term part. With -u and a filter it also lists the filtered records and traces the
// charge segments.
#include "analysis/summary.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "records/record.h"
#include "records/scanner.h"
#include "records/tagstats.h"
#include "support/line.h"
#include "support/output.h"
#include "support/timecal.h"
#include "support/units.h"

namespace {

constexpr uint32_t timestampDateMin = 978307200u;   // 2001-01-01 00:00:00 UTC; earlier is no time
constexpr uint32_t secDriveGap = 120;               // longer without DR1S ends a drive
constexpr uint32_t secChargeGap = 300;              // longer without a charge record ends a charge
constexpr uint32_t secEndStep = secChargeGap + 1;   // the end step lies past both gaps
constexpr uint32_t secForwardWindow = 300;          // readings this soon after a drive belong to it
constexpr uint32_t secSegmentGap = 120;             // a charge segment's samples come every minute
constexpr uint32_t secPerHour = 3600;
constexpr double ampsDriveStart = 5.0;              // a standing car drawing this much is driving
constexpr double degSegmentMinStart = 1000.0;
constexpr int grfdispListed = fdispList | fdispOffset | fdispRawBytes;
constexpr uint32_t grfvlrSegmentSample = fvlrChargeAmps | fvlrLineVolts | fvlrTempESS;
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

// Walk-wide figures for the totals line.
struct WALKSUM {
    double milesOdoMin, milesOdoMax;   // -1.0: no reading yet
    bool fOdoEstimated;                // milesOdoMax was last raised by an estimate
    uint32_t timestampMin, timestampMax;
    int cDR1S;
    int secCharging;
    uint32_t timestampPrev;            // last record decoded by the walk (not the forward scan)
};

// The open charge (crecCharge > 0) and what the next charge line needs from earlier ones.
struct CHARGE {
    int crecCharge;
    uint32_t timestampChargeStart, timestampChargeEnd;
    int pctSOCChargeStart;
    double ahInChargeStart, ahOutChargeStart;
    double voltsLineSum;
    int cVoltsLine;
    double ampsChargeMax;
    int ampsAvailableLast;
    double kwhCharge;
    uint32_t timestampEnergyLast;      // 0: no energy sample yet
    int pctSOCChargeEndLast;
    double milesSinceCharge;
};

// The open drive (crecDrive > 0) and the odometer bookkeeping that spans drives.
struct DRIVE {
    int crecDrive;
    int cMoving;
    int cTCOff;
    double mphMax;
    uint32_t timestampDriveStart, timestampDriveEnd;
    int pctSOCDriveStart, pctSOCDriveEnd;
    double whDriveStart, ahInDriveStart, ahOutDriveStart;
    bool fOdoCurrent;                  // a D10M reading came after the last moving second
    double milesOdoLast;               // 0: no D10M reading yet
    double milesOdoAccum;              // odometer distance not yet handed to a closed drive
};

struct SPREAD {
    double sum, min, max;
};

// A charge segment: from a charge record with a SOC to the next record with a SOC.
struct CGSEG {
    int pctSOCSegStart;                // -1: no segment open
    uint32_t timestampSegStart, timestampSampleLast;
    int csample;
    SPREAD degESSMax, voltsLine, ampsCharge;
    double whSegment;
};

struct SUMMARY {
    RUN* prun;
    DECODE const* pdecode;
    STREAM* pstream;
    LOGLAYOUT const* playout;
    long cbFile;
    int fMetric;
    int fTab;
    int fFiltered;
    int fSegmentDetail;
    VLR vlr;
    WALKSUM walk;
    CHARGE charge;
    DRIVE drive;
    CGSEG seg;
};

// One pass through the steps: a record of the ring, a record of type 0, or the end step.
struct STEP {
    long pos;                          // the record's offset; -1 for the end step
    int cb;
    uint32_t timestamp;                // header timestamp (end step: the previous one + 301)
    int grfDisplay;                    // the display flags chosen for the record
    bool fUndecoded;                   // end step or type-0 record: the VLR keeps its values
};

enum KIND { kindNeither, kindDrive, kindCharge };

double DistOut(SUMMARY const* ps, double miles)
{
    return DistConvertMiles(miles, ps->fMetric);
}

const char* SzUnitDist(SUMMARY const* ps)
{
    return UnitsDistMiKm(ps->fMetric);
}

const char* SzUnitSpeed(SUMMARY const* ps)
{
    return UnitsSpeed(ps->fMetric);
}

// Seconds between two timestamps, 0 unless both are dates.
uint32_t SecDuration(uint32_t timestampStart, uint32_t timestampEnd)
{
    if (timestampStart < timestampDateMin || timestampEnd <= timestampDateMin)
        return 0;
    return timestampEnd - timestampStart;
}

// "hh:mm:ss"; the hours may run to seven digits.
constexpr int cchDuration = 32;
char* FormatDuration(uint32_t secs, char* buf)
{
    snprintf(buf, cchDuration, "%02d:%02d:%02d", (int)(secs / secPerHour), (int)(secs / 60 % 60), (int)(secs % 60));
    return buf;
}

void InitSummary(SUMMARY* ps)
{
    ClearVlr(&ps->vlr, sectTransient);
    ps->vlr.pctSOC = -1;

    ps->walk = WALKSUM{};
    ps->walk.milesOdoMin = ps->walk.milesOdoMax = -1.0;

    ps->charge = CHARGE{};
    ps->charge.timestampChargeEnd = 0xFFFFFFFFu;
    ps->charge.pctSOCChargeStart = -1;
    ps->charge.pctSOCChargeEndLast = -1;

    ps->drive = DRIVE{};
    ps->drive.pctSOCDriveStart = ps->drive.pctSOCDriveEnd = -1;

    ps->seg = CGSEG{};
    ps->seg.pctSOCSegStart = -1;
}

void PrintSummaryHeader(SUMMARY const* ps)
{
    PrintSectionTitle(szSummaryTitle);
    if (ps->fTab) {
        const char* szDist = SzUnitDist(ps);
        const char* szSpeed = SzUnitSpeed(ps);
        printf(szHeaderTab, szDist, szSpeed, szSpeed, szDist, szDist, szDist);
    } else {
        fputs(szHeaderColumns, stdout);
    }
}

long IbFirstTransient(LOGLAYOUT const* pl)
{
    return pl->rgsec[pl->isecFirstTransient].ibStart;
}

// ---- Odometer bookkeeping -------------------------------------------------------------------

// A D10M odometer reading: the distance the odometer moved since the last reading becomes the
// drive's distance, replacing the integrated speed, which drifts.
void TakeOdometerReading(SUMMARY* ps)
{
    DRIVE* pd = &ps->drive;
    VLR* pvlr = &ps->vlr;
    if (pd->milesOdoLast == 0) {
        pd->milesOdoAccum = pvlr->milesDrive;
    } else {
        pd->milesOdoAccum += pvlr->milesOdo - pd->milesOdoLast;
        pvlr->milesDrive = pd->milesOdoAccum;
    }
    pd->fOdoCurrent = true;
    pd->milesOdoLast = pvlr->milesOdo;
}

void TrackSpans(SUMMARY* ps, uint32_t timestampHeader)
{
    WALKSUM* pw = &ps->walk;
    VLR const* pvlr = &ps->vlr;
    if (pvlr->grf & fvlrOdometer) {
        if (pw->milesOdoMin == -1.0 || pvlr->milesOdo < pw->milesOdoMin)
            pw->milesOdoMin = pvlr->milesOdo;
        if (pw->milesOdoMax == -1.0 || pvlr->milesOdo > pw->milesOdoMax)
            pw->milesOdoMax = pvlr->milesOdo;
        pw->fOdoEstimated = false;
    }
    if (FValidTimestamp(timestampHeader, ps->prun->timestampLastValid)) {
        if (pw->timestampMin == 0 || timestampHeader < pw->timestampMin)
            pw->timestampMin = timestampHeader;
        if (timestampHeader > pw->timestampMax)
            pw->timestampMax = timestampHeader;
    }
}

// ---- Charge segments ------------------------------------------------------------------------

void ResetSpread(SPREAD* psp)
{
    psp->sum = 0;
    psp->min = degSegmentMinStart;
    psp->max = 0;
}

void AddToSpread(SPREAD* psp, double value)
{
    psp->sum += value;
    if (value < psp->min)
        psp->min = value;
    if (value > psp->max)
        psp->max = value;
}

void AbortSegment(SUMMARY* ps)
{
    ps->seg.csample = 0;
    ps->seg.pctSOCSegStart = -1;
    if (ps->fSegmentDetail)
        fputs("abort charge seg\n", stdout);
}

void BeginSegmentIfDue(SUMMARY* ps)
{
    CGSEG* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    if (pseg->pctSOCSegStart != -1 || !(pvlr->grf & fvlrSOC))
        return;
    if (ps->fSegmentDetail)
        fputs("begin charge segment\n", stdout);
    pseg->pctSOCSegStart = pvlr->pctSOC;
    pseg->csample = 0;
    ResetSpread(&pseg->degESSMax);
    ResetSpread(&pseg->voltsLine);
    ResetSpread(&pseg->ampsCharge);
    pseg->whSegment = 0;
    pseg->timestampSampleLast = pseg->timestampSegStart = pvlr->timestamp;
}

void SampleSegment(SUMMARY* ps)
{
    CGSEG* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    if (pseg->pctSOCSegStart == -1 || (pvlr->grf & grfvlrSegmentSample) != grfvlrSegmentSample)
        return;
    if (pvlr->timestamp > pseg->timestampSampleLast + secSegmentGap) {
        AbortSegment(ps);
        return;
    }
    pseg->csample++;
    AddToSpread(&pseg->degESSMax, pvlr->degESSMax);
    AddToSpread(&pseg->voltsLine, pvlr->voltsLine);
    AddToSpread(&pseg->ampsCharge, pvlr->ampsCharge);
    pseg->whSegment += pvlr->voltsLine * pvlr->ampsCharge / 60;
    pseg->timestampSampleLast = pvlr->timestamp;
}

void PrintSegmentLine(SUMMARY const* ps)
{
    CGSEG const* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    char szStart[cchDate], szEnd[cchDate];
    DateFromTimestamp(pseg->timestampSegStart, szStart, cchDate);
    DateFromTimestamp(pvlr->timestamp, szEnd, cchDate);
    char szDuration[cchDuration];
    FormatDuration(SecDuration(pseg->timestampSegStart, pvlr->timestamp), szDuration);
    double const c = pseg->csample;
    uint32_t const secSpan = pvlr->timestamp - pseg->timestampSegStart;
    int const dpct = pvlr->pctSOC - pseg->pctSOCSegStart;
    double const kwAverage = secSpan != 0 ? pseg->whSegment * 3.6 / secSpan : 0.0;
    double const whPerPct = dpct != 0 ? pseg->whSegment / dpct : 0.0;
    double const pctPerHour = dpct != 0 && pseg->csample != 0 ? (double)dpct * 60 / c : 0.0;
    printf("CGSEG\t%s\t%s\t%s\t%d\t%d\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%.0f\t%.1f\t%.0f\t%.1f\n",
           szStart, szEnd, szDuration, pseg->csample, pseg->pctSOCSegStart, pvlr->pctSOC, pseg->degESSMax.min, pseg->degESSMax.max,
           pseg->degESSMax.sum / c, pseg->voltsLine.min, pseg->voltsLine.max, pseg->voltsLine.sum / c,
           pseg->ampsCharge.min, pseg->ampsCharge.max, pseg->ampsCharge.sum / c, pseg->whSegment, kwAverage,
           whPerPct, pctPerHour);
}

// The next reading of the SOC ends the segment (or aborts it when samples stopped coming).
void EndSegmentIfDue(SUMMARY* ps)
{
    CGSEG* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    if (!(pvlr->grf & fvlrSOC) || pseg->pctSOCSegStart == -1)
        return;
    if (pvlr->timestamp > pseg->timestampSampleLast + secSegmentGap) {
        AbortSegment(ps);
    } else if (pseg->csample > 0) {
        fputs("end charge segment\n", stdout);
        PrintSegmentLine(ps);
        pseg->pctSOCSegStart = -1;
    }
}

// ---- Records by type ------------------------------------------------------------------------

void TakeChargeRecord(SUMMARY* ps)
{
    CHARGE* pc = &ps->charge;
    VLR const* pvlr = &ps->vlr;
    if (pc->crecCharge == 0) {
        pc->pctSOCChargeStart = pvlr->pctSOC;
        pc->ahInChargeStart = pvlr->ahIn;
        pc->ahOutChargeStart = pvlr->ahOut;
        pc->timestampChargeStart = pvlr->timestamp;
        if (ps->fSegmentDetail)
            fputs(szRuleStartCharge, stdout);
    }
    BeginSegmentIfDue(ps);
    SampleSegment(ps);

    if ((pvlr->grf & fvlrChargeAmps) && pvlr->ampsCharge > pc->ampsChargeMax)
        pc->ampsChargeMax = pvlr->ampsCharge;
    if (pvlr->grf & fvlrAmpsAvailable)
        pc->ampsAvailableLast = pvlr->ampsAvailable;
    if (pvlr->grf & fvlrLineVolts) {
        pc->voltsLineSum += pvlr->voltsLine;
        pc->cVoltsLine++;
    }
    pc->crecCharge++;
    pc->timestampChargeEnd = pvlr->timestamp;

    if ((pvlr->grf & (fvlrChargeAmps | fvlrLineVolts)) == (fvlrChargeAmps | fvlrLineVolts)) {
        if (pc->timestampEnergyLast == 0) {
            pc->timestampEnergyLast = pvlr->timestamp;
        } else {
            // Records without a date are a minute apart, as they are meant to be.
            uint32_t dt = 60;
            if (pvlr->timestamp > timestampDateMin && pc->timestampEnergyLast > timestampDateMin)
                dt = pvlr->timestamp - pc->timestampEnergyLast;
            pc->kwhCharge += pvlr->voltsLine * pvlr->ampsCharge * dt / 3600000;
            pc->timestampEnergyLast = pvlr->timestamp;
        }
    }
}

void TakeDriveRecord(SUMMARY* ps)
{
    DRIVE* pd = &ps->drive;
    VLR* pvlr = &ps->vlr;
    ps->walk.cDR1S++;
    if (pd->crecDrive == 0) {
        // A car standing with the motor off still writes DR1S records now and then.
        if (pvlr->mphSpeed == 0.0 && pvlr->ampsESS < ampsDriveStart)
            return;
        pvlr->milesDrive = 0;
        pd->pctSOCDriveStart = pvlr->pctSOC;
        pd->whDriveStart = pvlr->whDrive;
        pd->ahInDriveStart = pvlr->ahIn;
        pd->ahOutDriveStart = pvlr->ahOut;
        pd->cMoving = 0;
        pd->cTCOff = 0;
        pd->mphMax = 0;
        pd->timestampDriveStart = pd->timestampDriveEnd = pvlr->timestamp;
        if (ps->fFiltered)
            fputs(szRuleStartDrive, stdout);
    } else {
        pd->timestampDriveEnd = pvlr->timestamp;
    }
    pd->crecDrive++;
    if (pvlr->fTCOff)
        pd->cTCOff++;
    if (pvlr->mphSpeed > pd->mphMax)
        pd->mphMax = pvlr->mphSpeed;
    if (pvlr->mphSpeed > 0) {
        pd->cMoving++;
        pd->fOdoCurrent = false;
    }
}

KIND TakeRecordByType(SUMMARY* ps)
{
    VLR* pvlr = &ps->vlr;
    switch (pvlr->rt) {
    case rtIDLE:
        if (ps->drive.crecDrive > 0)
            ps->drive.pctSOCDriveEnd = pvlr->pctSOC;
        return kindNeither;
    case rtC1MA:
    case rtC1MB:
        ps->walk.secCharging += 60;
        TakeChargeRecord(ps);
        return kindCharge;
    case rtC30M:
        TakeChargeRecord(ps);
        return kindCharge;
    case rtDR1S:
        TakeDriveRecord(ps);
        return kindDrive;
    case rtD10M:
        if (pvlr->grf & fvlrOdometer)
            TakeOdometerReading(ps);
        ps->drive.pctSOCDriveEnd = pvlr->pctSOC;
        return kindNeither;
    default:
        return kindNeither;
    }
}

// ---- Session lines --------------------------------------------------------------------------

// The figures of the open charge, as it closes with pctSOCEnd.
void FillChargeSession(SUMMARY const* ps, int pctSOCEnd, CHARGESESSION* pcs)
{
    CHARGE const* pc = &ps->charge;
    VLR const* pvlr = &ps->vlr;
    *pcs = CHARGESESSION{};
    pcs->timestampStart = pc->timestampChargeStart;
    pcs->timestampEnd = pc->timestampChargeEnd;
    pcs->secDuration = SecDuration(pc->timestampChargeStart, pc->timestampChargeEnd);
    pcs->pctSOCStart = pc->pctSOCChargeStart;
    pcs->pctSOCEnd = pctSOCEnd;
    pcs->cVoltsLine = pc->cVoltsLine;
    if (pc->cVoltsLine > 0)
        pcs->voltsLineAverage = pc->voltsLineSum / pc->cVoltsLine;
    pcs->ampsMax = pc->ampsChargeMax;
    pcs->ampsAvailable = pc->ampsAvailableLast;
    pcs->kwh = pc->kwhCharge;
    pcs->ahIn = pvlr->ahIn - pc->ahInChargeStart;
    pcs->ahOut = pvlr->ahOut - pc->ahOutChargeStart;
    // Wall-to-wheel only when this charge refilled what the drives since the last one used.
    pcs->fWallToWheel =
        pc->kwhCharge != 0 && pc->milesSinceCharge > 1.0 && abs(pctSOCEnd - pc->pctSOCChargeEndLast) <= 1;
    pcs->milesSinceCharge = pc->milesSinceCharge;
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

void PrintChargeLine(SUMMARY const* ps, CHARGESESSION const* pcs)
{
    char szNote[cchNote];
    bool const fTab = ps->fTab;
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
            double const wh = pcs->kwh * 1000 / DistOut(ps, pcs->milesSinceCharge);
            // "\t\t%.0f" or "           %4.0f Wh/%s"
            line.Sz(fTab ? "\t\t" : "           ");
            line.FixedRight(wh, fTab ? 0 : 4, 0);
            if (!fTab) {
                line.Sz(" Wh/");
                line.Sz(SzUnitDist(ps));
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

// The figures of the open drive as it closes. An estimated odometer above the walk's highest
// reading raises it, so the totals line ends where the drives do.
void FillDriveSession(SUMMARY* ps, DRIVESESSION* pds)
{
    DRIVE const* pd = &ps->drive;
    WALKSUM* pw = &ps->walk;
    VLR const* pvlr = &ps->vlr;
    *pds = DRIVESESSION{};
    pds->timestampStart = pd->timestampDriveStart;
    pds->timestampEnd = pd->timestampDriveEnd;
    pds->secDuration = SecDuration(pd->timestampDriveStart, pd->timestampDriveEnd);
    pds->pctSOCStart = pd->pctSOCDriveStart;
    pds->pctSOCEnd = pd->pctSOCDriveEnd;
    double const miles = pvlr->milesDrive;
    pds->miles = miles;
    pds->mphAverage = pd->cMoving != 0 ? miles * 3600 / pd->cMoving : 0.0;
    pds->mphMax = pd->mphMax;

    double milesOdo;
    if (pd->fOdoCurrent) {
        milesOdo = pvlr->milesOdo;
    } else {
        milesOdo = pd->milesOdoLast + miles - pd->milesOdoAccum;
        if (pw->milesOdoMax > 0 && milesOdo > pw->milesOdoMax) {
            pw->milesOdoMax = milesOdo;
            pw->fOdoEstimated = true;
        }
    }
    pds->fOdometer = pd->milesOdoLast != 0;
    pds->fOdoCurrent = pd->fOdoCurrent;
    pds->milesOdo = milesOdo;
    pds->wh = pvlr->whDrive - pd->whDriveStart;
    pds->ahIn = pvlr->ahIn - pd->ahInDriveStart;
    pds->ahOut = pvlr->ahOut - pd->ahOutDriveStart;
    pds->cTCOff = pd->cTCOff;
}

void PrintDriveLine(SUMMARY const* ps, DRIVESESSION const* pds)
{
    char szNote[cchNote];
    bool const fTab = ps->fTab;
    char const* szDist = SzUnitDist(ps);
    char const* szSpeed = SzUnitSpeed(ps);

    double const miles = pds->miles;
    double const dist = DistOut(ps, miles);
    double const speedAve = DistOut(ps, pds->mphAverage);
    double const speedMax = DistOut(ps, pds->mphMax);
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
            line.Fixed(DistOut(ps, pds->milesOdo), 1);
        } else {
            // " %c%8.1f %s"
            line.Ch(' ');
            line.Ch(pds->fOdoCurrent ? ' ' : '~');
            line.FixedRight(DistOut(ps, pds->milesOdo), 8, 1);
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
        line.FixedRight(wh / DistOut(ps, miles), 4, 0);
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

// ---- Closing sessions -----------------------------------------------------------------------

// Looks past the end of a drive for the odometer and SOC that the car writes a little after it
// stops. The records it reads are decoded again by the walk afterwards.
void ForwardScan(SUMMARY* ps, STEP const* pstep)
{
    DRIVE* pd = &ps->drive;
    VLR* pvlr = &ps->vlr;
    uint32_t const timestampClose = pstep->timestamp;
    uint32_t const timestampLimit = pd->timestampDriveEnd + secForwardWindow;
    pd->fOdoCurrent = false;
    bool fSawChargeMinute = false;
    bool fWrapped = false;
    // The closing record is read first; a type-0 closer was never decoded, so its own header
    // timestamp stands for "the record decoded last" until the scan decodes something.
    uint32_t timestampLast = timestampClose;
    long posNext = pstep->pos;
    for (;;) {
        long pos = posNext;
        int cb;
        if (!FScanToRecord(ps->pstream, &pos, ps->cbFile, &cb)) {
            if (fWrapped)
                return;
            fWrapped = true;
            posNext = IbFirstTransient(ps->playout);
            continue;
        }
        if (fWrapped && pos == pstep->pos)
            return;
        if (timestampLast < timestampClose)
            return;
        ScanRecordFromFile(&ps->prun->scan, ps->pstream, pos, (unsigned long)cb, pstep->grfDisplay, pvlr);
        timestampLast = pvlr->timestamp;

        bool const fInWindow = !fSawChargeMinute && pvlr->timestamp >= pd->timestampDriveEnd &&
                               pvlr->timestamp < timestampLimit && (pvlr->grf & fvlrSOC) &&
                               pvlr->pctSOC != pd->pctSOCDriveEnd;
        char szDate[cchDate];
        switch (pvlr->rt) {
        case rtIDLE:
            if (fInWindow) {
                printf("%s found idle record in forward scan. soc = %d\n",
                       DateFromTimestamp(pvlr->timestamp, szDate, cchDate), pvlr->pctSOC);
                pd->pctSOCDriveEnd = pvlr->pctSOC;
            }
            break;
        case rtC1MA:
        case rtC1MB:
            fSawChargeMinute = true;
            break;
        case rtC30M:
            if (fInWindow) {
                printf("%s found 30-minute charge record in forward scan. soc = %d\n",
                       DateFromTimestamp(pvlr->timestamp, szDate, cchDate), pvlr->pctSOC);
                pd->pctSOCDriveEnd = pvlr->pctSOC;
            }
            break;
        case rtDR1S:
            if (pvlr->mphSpeed > 0.0 || pvlr->ampsESS > ampsDriveStart)
                return;
            break;
        case rtD10M:
            if (pvlr->grf & fvlrOdometer)
                TakeOdometerReading(ps);
            return;
        default:
            break;
        }
        posNext = pos + cb;
    }
}

void CloseChargeIfDue(SUMMARY* ps, STEP const* pstep, KIND kind)
{
    CHARGE* pc = &ps->charge;
    if (pc->crecCharge == 0)
        return;
    bool const fIdleGap = (ps->vlr.rt == rtIDLE || ps->vlr.rt == rtNil) &&
                          pstep->timestamp > pc->timestampChargeEnd + secChargeGap;
    if (!fIdleGap && kind != kindDrive)
        return;
    int const pctSOCEnd = ps->vlr.pctSOC;
    CHARGESESSION cs;
    FillChargeSession(ps, pctSOCEnd, &cs);
    PrintChargeLine(ps, &cs);
    SESSIONHOOK const* phook = ps->pdecode->phook;
    if (phook && phook->pfnCharge)
        phook->pfnCharge(phook->pv, &cs);
    pc->pctSOCChargeEndLast = pctSOCEnd;
    pc->crecCharge = 0;
    pc->voltsLineSum = 0;
    pc->cVoltsLine = 0;
    pc->ampsAvailableLast = 0;
    pc->ampsChargeMax = 0;
    pc->kwhCharge = 0;
    pc->timestampEnergyLast = 0;
    pc->milesSinceCharge = 0;
}

void CloseDriveIfDue(SUMMARY* ps, STEP const* pstep, KIND kind)
{
    DRIVE* pd = &ps->drive;
    if (pd->crecDrive == 0 || kind == kindDrive)
        return;
    if (kind != kindCharge && !(pstep->timestamp > pd->timestampDriveEnd + secDriveGap))
        return;
    // A drive that never moved (the car stood switched on) gets no line.
    if (pd->mphMax > 0) {
        if (!pd->fOdoCurrent && pstep->pos >= 0)
            ForwardScan(ps, pstep);
        DRIVESESSION ds;
        FillDriveSession(ps, &ds);
        PrintDriveLine(ps, &ds);
        ps->charge.milesSinceCharge += ds.miles;
        SESSIONHOOK const* phook = ps->pdecode->phook;
        if (phook && phook->pfnDrive)
            phook->pfnDrive(phook->pv, &ds);
    }
    pd->crecDrive = 0;
    if (pd->milesOdoLast != 0)
        pd->milesOdoAccum -= ps->vlr.milesDrive;
}

// ---- The walk -------------------------------------------------------------------------------

[[gnu::always_inline]] inline void TakeStep(SUMMARY* ps, STEP const* pstep)
{
    VLR* pvlr = &ps->vlr;
    if (pstep->fUndecoded) {
        pvlr->rt = rtNil;
        pvlr->grf = 0;
    } else {
        uint32_t timestampAfter = ps->walk.timestampPrev != 0 ? ps->walk.timestampPrev : pvlr->timestamp - 3600u;
        FPrintNotes(ps->prun, timestampAfter, pstep->timestamp, 0);
        ScanRecordFromFile(&ps->prun->scan, ps->pstream, pstep->pos, (unsigned long)pstep->cb, pstep->grfDisplay, pvlr);
        ps->walk.timestampPrev = pvlr->timestamp;
        SESSIONHOOK const* phook = ps->pdecode->phook;
        if (phook && phook->pfnRecord)
            phook->pfnRecord(phook->pv, pvlr);
    }
    TrackSpans(ps, pstep->timestamp);
    KIND const kind = TakeRecordByType(ps);
    if (ps->fSegmentDetail)
        EndSegmentIfDue(ps);
    CloseChargeIfDue(ps, pstep, kind);
    CloseDriveIfDue(ps, pstep, kind);
}

void WalkRing(SUMMARY* ps)
{
    RINGWALK walk;
    BeginLogRingWalk(ps->playout, &walk);
    if (walk.fDone)
        return;
    long pos;
    int cb;
    while (FNextRingRecord(ps->pstream, &walk, &pos, &cb)) {
        RH rhSpare;
        RH const* prh = PrhRecordHeader(ps->pstream, pos, cb, &rhSpare);
        STEP step = {pos, cb, TimestampFromRh(prh), 0, prh->rt == rtNil};
        if (ps->fFiltered && FPassesFilter(*ps->pdecode, step.timestamp, prh->rt))
            step.grfDisplay = grfdispListed;
        TakeStep(ps, &step);
        // A record of type 0 ends the walk as the end step would.
        if (step.fUndecoded)
            return;
    }
    STEP stepEnd = {-1, 0, ps->walk.timestampPrev + secEndStep, 0, true};
    TakeStep(ps, &stepEnd);
}

void PrintTotals(SUMMARY const* ps, const char* pszPath)
{
    WALKSUM const* pw = &ps->walk;
    printf("%s Transient section: odometer: %.1f to %s%.1f (%.1f %s), %.1f hours of driving, "
           "%.1f hours of charging, over %.1f days\n\n",
           pszPath, DistOut(ps, pw->milesOdoMin), pw->fOdoEstimated ? "~" : "", DistOut(ps, pw->milesOdoMax),
           DistOut(ps, pw->milesOdoMax - pw->milesOdoMin), SzUnitDist(ps), pw->cDR1S / 3600.0,
           pw->secCharging / 3600.0, (uint32_t)(pw->timestampMax - pw->timestampMin) / 86400.0);
}

// The capacity that the car last reported in the long-term part's daily records.
void PrintCapacity(SUMMARY* ps)
{
    LOGLAYOUT const* pl = ps->playout;
    if (pl->csec <= 0)
        return;
    VLR* pvlr = &ps->vlr;
    ClearVlr(pvlr, sectLongTerm);
    LINEARWALK walk;
    BeginLinearWalk(pl->rgsec[0].ibStart, IbEndLongTerm(pl), &walk, pl);
    int crec = 0;
    double ahCAC = 0;
    uint32_t timestampCAC = 0;
    long pos;
    int cb;
    while (FNextLinearRecord(ps->pstream, &walk, &pos, &cb)) {
        ScanRecordFromFile(&ps->prun->scan, ps->pstream, pos, (unsigned long)cb, 0, pvlr);
        crec++;
        if (pvlr->grf & fvlrCAC) {
            ahCAC = pvlr->ahCAC;
            timestampCAC = pvlr->timestamp;
        }
    }
    if (crec > 0 && ahCAC != 0) {
        char szDate[cchDate];
        printf("Approximate CAC: %.2f Ah as of %s\n", ahCAC, DateFromTimestamp(timestampCAC, szDate, cchDate));
    }
}

}  // namespace

void RunSessionSummary(RUN* prun, STREAM* pstream, DECODE const& decode)
{
    SUMMARY summary;
    SUMMARY* ps = &summary;
    ps->prun = prun;
    ps->pdecode = &decode;
    ps->pstream = pstream;
    ps->playout = &prun->layout;
    ps->cbFile = pstream->CbSize();
    ps->fMetric = (decode.grfDisplay & fdispMetric) != 0;
    ps->fTab = (decode.grfDisplay & fdispTab) != 0;
    ps->fFiltered = decode.grfRt != 0 || decode.timestampStart != 0 || decode.timestampEnd != 0;
    ps->fSegmentDetail = decode.fChargeDetail && ps->fFiltered;
    InitSummary(ps);

    PrintSummaryHeader(ps);
    WalkRing(ps);
    PrintTotals(ps, decode.pszPath);
    if (decode.fVerbose)
        PrintTagStats(&prun->scan.tags, "Transient Record Stats");
    PrintCapacity(ps);
}
