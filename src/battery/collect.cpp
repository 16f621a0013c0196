// Battery study, collecting half: turns every decoded record of the study's types into a compact
// DataPoint, in time order, in one long-term and one transient array shared by all logs of the run.
#include "battery/collect.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/fatal.h"
#include "support/timecal.h"

// Below this line voltage the car charges on a split-phase supply and reports twice the amps.
constexpr double voltsHighLine = 180.0;

// Room for this many more samples at first; then the arrays double. Growing a large block moves
// its pages rather than copying them, so the peak stays near what the samples fill.
constexpr int cdpGrowFirst = 4096;

DPARRAY::~DPARRAY()
{
    free(rg);
}

// Makes room for one more sample; false when the array is at its capacity.
static bool FRoomForOne(DPARRAY* parr, int cMax)
{
    if (parr->c < parr->cAlloc)
        return true;
    if (parr->cAlloc >= cMax)
        return false;
    long long cNew = parr->cAlloc == 0 ? cdpGrowFirst : 2LL * parr->cAlloc;
    if (cNew > cMax)
        cNew = cMax;
    void* pv = realloc(parr->rg, (size_t)cNew * sizeof(DataPoint));
    if (!pv)
        GiveUsageAndExit("out of memory");
    parr->rg = (DataPoint*)pv;
    parr->cAlloc = (int)cNew;
    return true;
}

void InitStudy(STUDY* pstudy)
{
    pstudy->dp1.c = 0;
    pstudy->dp2.c = 0;
    memset(pstudy->achVIN, 0, sizeof pstudy->achVIN);
    pstudy->timestampFirstValid = 0;
    pstudy->timestampLastValid = 0;
    pstudy->grfRtTransientKept = GrfRtOfSelection(fselBattery);
}

void BeginAggregrateSection(STUDY* pstudy, SECT, unsigned int timestampFirstValid, unsigned int timestampLastValid)
{
    pstudy->timestampFirstValid = timestampFirstValid;
    pstudy->timestampLastValid = timestampLastValid;
}

static int IntTruncFromDouble(double d)
{
    // Converting a double outside int's range is undefined, so clamp first; NaN is no reading.
    if (std::isnan(d))
        return 0;
    if (d >= 2147483647.0)
        return INT_MAX;
    if (d <= -2147483648.0)
        return INT_MIN;
    return static_cast<int>(d);
}

static int AmpsChargeFromVlr(VLR const* pvlr)
{
    if ((pvlr->grf & (fvlrChargeAmps | fvlrLineVolts)) != (fvlrChargeAmps | fvlrLineVolts))
        return 0;
    int amps = IntTruncFromDouble(pvlr->ampsCharge);
    if (pvlr->voltsLine < voltsHighLine)
        amps /= 2;
    return amps;
}

static void FillDataPoint(VLR const* pvlr, DataPoint* pdp)
{
    *pdp = DataPoint{};
    pdp->sect = pvlr->sect;
    pdp->rt = pvlr->rt;
    pdp->timestamp = static_cast<int32_t>(pvlr->timestamp);
    if (pvlr->grf & fvlrSOC)
        pdp->pctSOC = pvlr->pctSOC;
    if (pvlr->grf & fvlrBrickAh) {
        pdp->ahBrickAve = pvlr->ahBrickAve;
        pdp->ahBrickMin = pvlr->ahBrickMin;
        pdp->iBrickAhMin = pvlr->iBrickAhMin;
    }
    if (pvlr->rt == rtDAY && (pvlr->grf & fvlrCAC))
        pdp->ahCAC = pvlr->ahCAC;
    if (pvlr->grf & fvlrTempESS) {
        pdp->degESSMin = IntTruncFromDouble(pvlr->degESSMin);
        pdp->degESSMax = IntTruncFromDouble(pvlr->degESSMax);
    }
    if (pvlr->grf & fvlrOdometer)
        pdp->milesOdo = IntTruncFromDouble(pvlr->milesOdo);
    pdp->ampsCharge = AmpsChargeFromVlr(pvlr);
}

static void PrintVinLine(const char* pszFormat, int cWidths, const char* psz1, const char* psz2)
{
    // The width comes from the VIN length at run time rather than sitting in a literal.
    char achFormat[100];
    if (cWidths == 1)
        std::snprintf(achFormat, sizeof(achFormat), pszFormat, cchVIN);
    else
        std::snprintf(achFormat, sizeof(achFormat), pszFormat, cchVIN, cchVIN);
    std::printf(achFormat, psz1, psz2);
}

static void CheckVehicleInfo(STUDY* pstudy, VLR const* pvlr)
{
    if (pstudy->achVIN[0] == 0) {
        std::memcpy(pstudy->achVIN, pvlr->achVIN, cchVIN);
        pstudy->achVIN[cchVIN] = 0;
        PrintVinLine("VIN: %%.%ds\n", 1, pstudy->achVIN, nullptr);
    } else if (std::strncmp(pstudy->achVIN, pvlr->achVIN, cchVIN) != 0) {
        PrintVinLine("mismatched VINs: %%.%ds and %%.%ds\n", 2, pstudy->achVIN, pvlr->achVIN);
        std::memcpy(pstudy->achVIN, pvlr->achVIN, cchVIN);
        pstudy->achVIN[cchVIN] = 0;
    }
}

static int FKeepInTransient(STUDY const* pstudy, int rt)
{
    return rt >= 0 && rt < 32 && ((pstudy->grfRtTransientKept >> rt) & 1);
}

void AggregateVlr(void* pvStudy, VLR* pvlr)
{
    STUDY* pstudy = (STUDY*)pvStudy;
    if (pvlr->sect == sectLongTerm && pstudy->timestampFirstValid != 0) {
        if (pvlr->timestamp != pstudy->timestampFirstValid)
            return;
        pstudy->timestampFirstValid = 0;
    }

    DataPoint dp;
    FillDataPoint(pvlr, &dp);

    if (!FValidTimestamp(pvlr->timestamp, pstudy->timestampLastValid))
        return;

    if (pvlr->rt == rtVINF) {
        CheckVehicleInfo(pstudy, pvlr);
        dp.versFirmware = pvlr->versFirmware;
    }

    DPARRAY* parr;
    int cMax;
    const char* pszFull;
    if (pvlr->sect == sectLongTerm) {
        if (pvlr->rt != rtDAY && pvlr->rt != rtVINF)
            return;
        parr = &pstudy->dp1;
        cMax = cDP1Max;
        pszFull = "L drop %s %s\n";
    } else {
        if (!FKeepInTransient(pstudy, pvlr->rt))
            return;
        parr = &pstudy->dp2;
        cMax = cDP2Max;
        pszFull = "T skip %s %s\n";
    }

    int c = parr->c;
    // Out of order is checked before full, so a full array drops old records without a word.
    if (c > 0 && parr->rg[c - 1].timestamp > dp.timestamp)
        return;
    if (!FRoomForOne(parr, cMax)) {
        // The date text is only ever needed here, so it is formatted here rather than per record.
        char achDate[20];
        DateFromTimestamp(pvlr->timestamp, achDate, sizeof(achDate));
        const char* pszCode = SzFromRt(pvlr->rt);
        std::printf(pszFull, achDate, pszCode ? pszCode : "");
        return;
    }
    parr->rg[c] = dp;
    parr->c = c + 1;
}
