// The session summary: watches the transient ring in time order and hands each drive and each
// charge to the consumer as it ends, then the totals of the walk and the battery's approximate
// capacity from the long-term part. With -u and a filter it also shows the filtered records and
// traces the charge segments.
#include "analysis/summary.h"

#include <cstdint>
#include <cstdlib>

#include "records/listing.h"
#include "records/record.h"
#include "records/scanner.h"
#include "records/tagstats.h"

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
// A record the -u trace shows, with its offset and raw bytes.
constexpr int grfdispListed = fdispOffset | fdispRawBytes;
constexpr int grfdispNone = -1;                     // a step whose record is not shown
constexpr uint32_t grfvlrSegmentSample = fvlrChargeAmps | fvlrLineVolts | fvlrTempESS;

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
    uint32_t timestampBatteryLast;     // 0: no record with both the wall's and the battery's readings yet
    int cBattery;
    double whBattery, whWallPaired;
    int cdegBattery;
    double degBatterySum;
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
    int cdegBattery;
    double degBatterySum;
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
    CONSUMER const* pcons;
    STREAM* pstream;
    LOGLAYOUT const* playout;
    long cbFile;
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
    int grfDisplay;                    // how the record is shown, grfdispNone when it is not
    bool fUndecoded;                   // end step or type-0 record: the VLR keeps its values
};

enum KIND { kindNeither, kindDrive, kindCharge };

// Seconds between two timestamps, 0 unless both are dates.
uint32_t SecDuration(uint32_t timestampStart, uint32_t timestampEnd)
{
    if (timestampStart < timestampDateMin || timestampEnd <= timestampDateMin)
        return 0;
    return timestampEnd - timestampStart;
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

void Note(SUMMARY const* ps, SUMMARYNOTE snote, uint32_t timestamp = 0, int pctSOC = 0)
{
    if (ps->pcons->pfnSummaryNote)
        ps->pcons->pfnSummaryNote(ps->pcons->pv, snote, timestamp, pctSOC);
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

inline void TrackSpans(SUMMARY* ps, uint32_t timestampHeader)
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
        Note(ps, snoteSegmentAbort);
}

void BeginSegmentIfDue(SUMMARY* ps)
{
    CGSEG* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    if (pseg->pctSOCSegStart != -1 || !(pvlr->grf & fvlrSOC))
        return;
    if (ps->fSegmentDetail)
        Note(ps, snoteSegmentBegin);
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

// The figures of the segment that the record in the VLR ends.
void FillChargeSegment(SUMMARY const* ps, CHARGESEGMENT* pcseg)
{
    CGSEG const* pseg = &ps->seg;
    VLR const* pvlr = &ps->vlr;
    double const c = pseg->csample;
    uint32_t const secSpan = pvlr->timestamp - pseg->timestampSegStart;
    int const dpct = pvlr->pctSOC - pseg->pctSOCSegStart;
    *pcseg = CHARGESEGMENT{};
    pcseg->timestampStart = pseg->timestampSegStart;
    pcseg->timestampEnd = pvlr->timestamp;
    pcseg->secDuration = SecDuration(pseg->timestampSegStart, pvlr->timestamp);
    pcseg->csample = pseg->csample;
    pcseg->pctSOCStart = pseg->pctSOCSegStart;
    pcseg->pctSOCEnd = pvlr->pctSOC;
    pcseg->degMin = pseg->degESSMax.min;
    pcseg->degMax = pseg->degESSMax.max;
    pcseg->degAverage = pseg->degESSMax.sum / c;
    pcseg->voltsMin = pseg->voltsLine.min;
    pcseg->voltsMax = pseg->voltsLine.max;
    pcseg->voltsAverage = pseg->voltsLine.sum / c;
    pcseg->ampsMin = pseg->ampsCharge.min;
    pcseg->ampsMax = pseg->ampsCharge.max;
    pcseg->ampsAverage = pseg->ampsCharge.sum / c;
    pcseg->wh = pseg->whSegment;
    pcseg->kwAverage = secSpan != 0 ? pseg->whSegment * 3.6 / secSpan : 0.0;
    pcseg->whPerPct = dpct != 0 ? pseg->whSegment / dpct : 0.0;
    pcseg->pctPerHour = dpct != 0 && pseg->csample != 0 ? (double)dpct * 60 / c : 0.0;
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
        if (ps->pcons->pfnSegment) {
            CHARGESEGMENT cseg;
            FillChargeSegment(ps, &cseg);
            ps->pcons->pfnSegment(ps->pcons->pv, &cseg);
        }
        pseg->pctSOCSegStart = -1;
    }
}

// ---- Records by type ------------------------------------------------------------------------

// Seconds since the record before, as the wall's energy counts them: records without a date are a
// minute apart, as they are meant to be.
uint32_t SecSinceEnergyRecord(uint32_t timestamp, uint32_t timestampLast)
{
    if (timestamp > timestampDateMin && timestampLast > timestampDateMin)
        return timestamp - timestampLast;
    return 60;
}

// The battery's side of the charge and the wall's over the same records, for the loss between them.
void TakeBatteryEnergy(CHARGE* pc, VLR const* pvlr)
{
    constexpr uint32_t grfvlrBoth = fvlrChargeAmps | fvlrLineVolts | fvlrPower;
    if ((pvlr->grf & grfvlrBoth) != grfvlrBoth)
        return;
    pc->cBattery++;
    if (pc->timestampBatteryLast != 0) {
        uint32_t const dt = SecSinceEnergyRecord(pvlr->timestamp, pc->timestampBatteryLast);
        pc->whBattery += pvlr->voltsESS * pvlr->ampsESS * dt / secPerHour;
        pc->whWallPaired += pvlr->voltsLine * pvlr->ampsCharge * dt / secPerHour;
    }
    pc->timestampBatteryLast = pvlr->timestamp;
}

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
            Note(ps, snoteStartCharge);
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
    if (pvlr->grf & fvlrTempESS) {
        pc->degBatterySum += pvlr->degESSMax;
        pc->cdegBattery++;
    }
    TakeBatteryEnergy(pc, pvlr);

    if ((pvlr->grf & (fvlrChargeAmps | fvlrLineVolts)) == (fvlrChargeAmps | fvlrLineVolts)) {
        if (pc->timestampEnergyLast == 0) {
            pc->timestampEnergyLast = pvlr->timestamp;
        } else {
            uint32_t const dt = SecSinceEnergyRecord(pvlr->timestamp, pc->timestampEnergyLast);
            pc->kwhCharge += pvlr->voltsLine * pvlr->ampsCharge * dt / 3600000;
            pc->timestampEnergyLast = pvlr->timestamp;
        }
    }
}

// A DR1S record's second in the open drive.
inline void AddDriveSecond(DRIVE* pd, VLR const* pvlr)
{
    pd->timestampDriveEnd = pvlr->timestamp;
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
        pd->cdegBattery = 0;
        pd->degBatterySum = 0;
        pd->timestampDriveStart = pvlr->timestamp;
        if (ps->fFiltered)
            Note(ps, snoteStartDrive);
    }
    AddDriveSecond(pd, pvlr);
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
    case rtDR1M:
        if (ps->drive.crecDrive > 0 && (pvlr->grf & fvlrTempESS)) {
            ps->drive.degBatterySum += pvlr->degESSMax;
            ps->drive.cdegBattery++;
        }
        return kindNeither;
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
    pcs->cBattery = pc->cBattery;
    pcs->whBattery = pc->whBattery;
    pcs->whWallPaired = pc->whWallPaired;
    pcs->cdegBattery = pc->cdegBattery;
    if (pc->cdegBattery > 0)
        pcs->degBatteryAverage = pc->degBatterySum / pc->cdegBattery;
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
    pds->cdegBattery = pd->cdegBattery;
    if (pd->cdegBattery > 0)
        pds->degBatteryAverage = pd->degBatterySum / pd->cdegBattery;
}

// ---- Closing sessions -----------------------------------------------------------------------

// Looks past the end of a drive for the odometer and SOC that the car writes a little after it
// stops. The records it reads are decoded again by the walk afterwards.
// Takes the record at pos into the summary's VLR, showing it to the consumer when the step shows its
// record.
[[gnu::noinline]] void TakeShownRecord(SUMMARY* ps, long pos, int cb, int grfDisplay)
{
    unsigned char rgbBuf[cbRecordBuffer];
    unsigned long cbRec = (unsigned long)cb;
    unsigned char const* pb = PbScanShownRecord(&ps->prun->scan, ps->pstream, pos, &cbRec, rgbBuf, &ps->vlr);
    if (ps->pcons->pfnRecord) {
        SHOWNRECORD rec{pos, pb, (int)cbRec, TimestampFromRh((RH const*)pb), &ps->vlr, grfDisplay, true,
                        ps->prun->scan.vehicle.rver};
        ps->pcons->pfnRecord(ps->pcons->pv, &rec);
    }
}

inline void TakeRecord(SUMMARY* ps, long pos, int cb, int grfDisplay)
{
    if (grfDisplay == grfdispNone)
        ScanRecordFromFile(&ps->prun->scan, ps->pstream, pos, (unsigned long)cb, 0, &ps->vlr);
    else
        TakeShownRecord(ps, pos, cb, grfDisplay);
}

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
        // The records read here are shown as the closing record is.
        TakeRecord(ps, pos, cb, pstep->grfDisplay);
        timestampLast = pvlr->timestamp;

        bool const fInWindow = !fSawChargeMinute && pvlr->timestamp >= pd->timestampDriveEnd &&
                               pvlr->timestamp < timestampLimit && (pvlr->grf & fvlrSOC) &&
                               pvlr->pctSOC != pd->pctSOCDriveEnd;
        switch (pvlr->rt) {
        case rtIDLE:
            if (fInWindow) {
                Note(ps, snoteForwardIdle, pvlr->timestamp, pvlr->pctSOC);
                pd->pctSOCDriveEnd = pvlr->pctSOC;
            }
            break;
        case rtC1MA:
        case rtC1MB:
            fSawChargeMinute = true;
            break;
        case rtC30M:
            if (fInWindow) {
                Note(ps, snoteForwardC30M, pvlr->timestamp, pvlr->pctSOC);
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
    if (ps->pcons->pfnCharge)
        ps->pcons->pfnCharge(ps->pcons->pv, &cs);
    pc->pctSOCChargeEndLast = pctSOCEnd;
    pc->crecCharge = 0;
    pc->voltsLineSum = 0;
    pc->cVoltsLine = 0;
    pc->ampsAvailableLast = 0;
    pc->ampsChargeMax = 0;
    pc->kwhCharge = 0;
    pc->timestampEnergyLast = 0;
    pc->milesSinceCharge = 0;
    pc->timestampBatteryLast = 0;
    pc->cBattery = 0;
    pc->whBattery = pc->whWallPaired = 0;
    pc->cdegBattery = 0;
    pc->degBatterySum = 0;
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
        ps->charge.milesSinceCharge += ds.miles;
        if (ps->pcons->pfnDrive)
            ps->pcons->pfnDrive(ps->pcons->pv, &ds);
    }
    pd->crecDrive = 0;
    if (pd->milesOdoLast != 0)
        pd->milesOdoAccum -= ps->vlr.milesDrive;
}

// ---- The walk -------------------------------------------------------------------------------

// The notes due between the record the walk decoded last and the one at timestamp.
inline void ShowNotesBefore(SUMMARY const* ps, uint32_t timestamp)
{
    uint32_t timestampAfter = ps->walk.timestampPrev != 0 ? ps->walk.timestampPrev : ps->vlr.timestamp - 3600u;
    ShowNotes(ps->pcons, timestampAfter, timestamp, 0);
}

// The walk has decoded a record into its VLR: the last time, and the session hook.
inline void TellRecordTaken(SUMMARY* ps)
{
    ps->walk.timestampPrev = ps->vlr.timestamp;
    if (ps->pcons->pfnSessionRecord)
        ps->pcons->pfnSessionRecord(ps->pcons->pv, &ps->vlr);
}

[[gnu::always_inline]] inline void TakeStep(SUMMARY* ps, STEP const* pstep)
{
    VLR* pvlr = &ps->vlr;
    if (pstep->fUndecoded) {
        pvlr->rt = rtNil;
        pvlr->grf = 0;
    } else {
        ShowNotesBefore(ps, pstep->timestamp);
        TakeRecord(ps, pstep->pos, pstep->cb, pstep->grfDisplay);
        TellRecordTaken(ps);
    }
    TrackSpans(ps, pstep->timestamp);
    KIND const kind = TakeRecordByType(ps);
    if (ps->fSegmentDetail)
        EndSegmentIfDue(ps);
    CloseChargeIfDue(ps, pstep, kind);
    CloseDriveIfDue(ps, pstep, kind);
}

// The one-second records that follow in the scan's run while a drive is open and no charge is,
// taken as TakeStep takes them when it shows no record (the notes and the session hook are asked
// as there) without its dispatch: such a record only adds its second to the open drive, which it
// cannot close, and closes nothing else. One too short for its fields, which the usual way reads
// zero-padded, or too long for that way's copy, is left to it.
void TakeDriveSeconds(SUMMARY* ps, RINGWALK* pwalk)
{
    STREAM* pstream = ps->pstream;
    SCANSTATE* pscan = &ps->prun->scan;
    VLR* pvlr = &ps->vlr;
    long pos = pwalk->pos;
    int cb;
    while (FTrustedRecord(pstream, pos, pwalk->ibTrusted, &cb)) {
        unsigned char const* pb = pstream->PbMap() + pos;
        if (pb[3] != rtDR1S || cb < cbDr1sFields || cb >= cbFieldsMax)
            break;
        uint32_t const timestamp = TimestampFromRh((RH const*)pb);
        ShowNotesBefore(ps, timestamp);
        DecodeDr1sRecord(pb, pscan->vehicle.rver, pvlr);
        TallyRecord(&pscan->tags, pb, cb, pscan->vehicle.versFirmware);
        TellRecordTaken(ps);
        TrackSpans(ps, timestamp);
        ps->walk.cDR1S++;
        AddDriveSecond(&ps->drive, pvlr);
        pos += cb;
    }
    if (pos != pwalk->pos) {
        pwalk->pos = pos;
        pstream->FSetPos(pos);
    }
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
        STEP step = {pos, cb, TimestampFromRh(prh), grfdispNone, prh->rt == rtNil};
        if (ps->fFiltered && FPassesFilter(*ps->pdecode, step.timestamp, prh->rt))
            step.grfDisplay = grfdispListed;
        TakeStep(ps, &step);
        // A record of type 0 ends the walk as the end step would.
        if (step.fUndecoded)
            return;
        if (!ps->fFiltered && ps->drive.crecDrive > 0 && ps->charge.crecCharge == 0)
            TakeDriveSeconds(ps, &walk);
    }
    STEP stepEnd = {-1, 0, ps->walk.timestampPrev + secEndStep, grfdispNone, true};
    TakeStep(ps, &stepEnd);
}

void TellTotals(SUMMARY const* ps)
{
    if (!ps->pcons->pfnTotals)
        return;
    WALKSUM const* pw = &ps->walk;
    SUMMARYTOTALS totals;
    totals.pszPath = ps->pdecode->pszPath;
    totals.milesOdoMin = pw->milesOdoMin;
    totals.milesOdoMax = pw->milesOdoMax;
    totals.fOdoEstimated = pw->fOdoEstimated;
    totals.secDriving = pw->cDR1S;
    totals.secCharging = pw->secCharging;
    totals.secSpan = (uint32_t)(pw->timestampMax - pw->timestampMin);
    ps->pcons->pfnTotals(ps->pcons->pv, &totals);
}

// The capacity that the car last reported in the long-term part's daily records.
void TellCapacity(SUMMARY* ps)
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
    if (crec > 0 && ahCAC != 0 && ps->pcons->pfnCapacity)
        ps->pcons->pfnCapacity(ps->pcons->pv, ahCAC, timestampCAC);
}

}  // namespace

void RunSessionSummary(RUN* prun, STREAM* pstream, DECODE const& decode)
{
    SUMMARY summary;
    SUMMARY* ps = &summary;
    ps->prun = prun;
    ps->pdecode = &decode;
    ps->pcons = decode.pcons;
    ps->pstream = pstream;
    ps->playout = &prun->layout;
    ps->cbFile = pstream->CbSize();
    ps->fFiltered = FFiltered(decode);
    ps->fSegmentDetail = decode.mode == modeDetail && ps->fFiltered;
    QF_ASSERT(ps->pcons != nullptr);
    InitSummary(ps);

    if (ps->pcons->pfnSummaryStart)
        ps->pcons->pfnSummaryStart(ps->pcons->pv);
    WalkRing(ps);
    TellTotals(ps);
    if (decode.fVerbose && ps->pcons->pfnStats) {
        SortTagStats(&prun->scan.tags);
        ps->pcons->pfnStats(ps->pcons->pv, &prun->scan.tags, "Transient Record Stats");
    }
    TellCapacity(ps);
}
