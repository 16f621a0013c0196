// Battery study, collecting half: turns every decoded record of the study's types into a compact
// DataPoint, in time order, in one long-term and one transient array shared by all logs of the run.
#include "battery/collect.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "support/timecal.h"

// Zero-initialised and in .bss: the transient array (several hundred megabytes) costs resident
// memory only for the pages that samples are written to, so nothing may sweep over all of it.
DataPoint g_rgDP1[cDP1Max];
int g_cDP1;
DataPoint g_rgDP2[cDP2Max];
int g_cDP2;
char g_achVIN[18];

constexpr int cchVIN = 17;
// Transient types kept: VINF, IDLE, C1MA, DR1M, D10M, C1MB.
constexpr uint32_t grfRtTransientKept = 0x1001982;
// Below this line voltage the car charges on a split-phase supply and reports twice the amps.
constexpr double voltsHighLine = 180.0;

// -k mark: while non-zero, long-term records are dropped until one carries exactly this time.
static unsigned int s_timestampFirstValid;
// The newest credible time of the log being decoded, as main handed it in (main's own variable
// of the same role is a different object).
static unsigned int s_timestampLastValidStudy;

void BeginAggregrateSection(SECT, unsigned int timestampFirstValid, unsigned int timestampLastValid)
{
    s_timestampFirstValid = timestampFirstValid;
    s_timestampLastValidStudy = timestampLastValid;
}

unsigned int TimestampLastValidBattery()
{
    return s_timestampLastValidStudy;
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

static void CheckVehicleInfo(VLR const* pvlr)
{
    if (g_achVIN[0] == 0) {
        std::memcpy(g_achVIN, pvlr->achVIN, cchVIN);
        g_achVIN[cchVIN] = 0;
        PrintVinLine("VIN: %%.%ds\n", 1, g_achVIN, nullptr);
    } else if (std::strncmp(g_achVIN, pvlr->achVIN, cchVIN) != 0) {
        PrintVinLine("mismatched VINs: %%.%ds and %%.%ds\n", 2, g_achVIN, pvlr->achVIN);
        std::memcpy(g_achVIN, pvlr->achVIN, cchVIN);
        g_achVIN[cchVIN] = 0;
    }
}

static int FKeepInTransient(int rt)
{
    return rt >= 0 && rt < 32 && ((grfRtTransientKept >> rt) & 1);
}

void AggregateVlr(VLR* pvlr)
{
    if (pvlr->sect == sectLongTerm && s_timestampFirstValid != 0) {
        if (pvlr->timestamp != s_timestampFirstValid)
            return;
        s_timestampFirstValid = 0;
    }

    DataPoint dp;
    FillDataPoint(pvlr, &dp);

    if (!FValidTimestamp(pvlr->timestamp, s_timestampLastValidStudy))
        return;

    if (pvlr->rt == rtVINF) {
        CheckVehicleInfo(pvlr);
        dp.versFirmware = pvlr->versFirmware;
    }

    DataPoint* rg;
    int* pc;
    int cMax;
    const char* pszFull;
    if (pvlr->sect == sectLongTerm) {
        if (pvlr->rt != rtDAY && pvlr->rt != rtVINF)
            return;
        rg = g_rgDP1;
        pc = &g_cDP1;
        cMax = cDP1Max;
        pszFull = "L drop %s %s\n";
    } else {
        if (!FKeepInTransient(pvlr->rt))
            return;
        rg = g_rgDP2;
        pc = &g_cDP2;
        cMax = cDP2Max;
        pszFull = "T skip %s %s\n";
    }

    int c = *pc;
    // Out of order is checked before full, so a full array drops old records without a word.
    if (c > 0 && rg[c - 1].timestamp > dp.timestamp)
        return;
    if (c >= cMax) {
        // The date text is only ever needed here, so it is formatted here rather than per record.
        char achDate[20];
        DateFromTimestamp(pvlr->timestamp, achDate, sizeof(achDate));
        const char* pszCode = SzFromRt(pvlr->rt);
        std::printf(pszFull, achDate, pszCode ? pszCode : "");
        return;
    }
    rg[c] = dp;
    *pc = c + 1;
}

void ResetCollection()
{
    // Clear only what was used: sweeping the whole transient array would make all of it resident.
    std::memset(g_rgDP1, 0, sizeof(DataPoint) * static_cast<size_t>(g_cDP1));
    std::memset(g_rgDP2, 0, sizeof(DataPoint) * static_cast<size_t>(g_cDP2));
    g_cDP1 = 0;
    g_cDP2 = 0;
    std::memset(g_achVIN, 0, sizeof(g_achVIN));
    s_timestampFirstValid = 0;
    s_timestampLastValidStudy = 0;
}
