// Battery study, collecting half: turns every decoded record of the study's types into a compact
// DataPoint, in time order, in one long-term and one transient array shared by all logs of the run.
#include "battery/collect.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "records/scanner.h"
#include "support/assert.h"
#include "support/bigtable.h"

// Below this line voltage the car charges on a split-phase supply and reports twice the amps.
constexpr double voltsHighLine = 180.0;

// Room for this many more samples at first; then the arrays double. Growing a large block moves
// its pages rather than copying them, so the peak stays near what the samples fill.
constexpr int cdpGrowFirst = 4096;
// A table that may hold more than this is reserved whole at its first sample (the transient one:
// moving hundreds of MB as they double costs more than the samples themselves).
constexpr size_t cbReserveFrom = (size_t)64 << 20;

DPARRAY::~DPARRAY()
{
    if (fReserved)
        ReleaseTable(rg, (size_t)cAlloc * sizeof(DataPoint));
    else
        free(rg);
}

// Makes room for one more sample; false when the array is at its capacity, or when it cannot grow
// (*pfOutOfMemory is then set).
static bool FRoomForOne(DPARRAY* parr, int cMax, bool* pfOutOfMemory)
{
    if (parr->c < parr->cAlloc)
        return true;
    if (parr->cAlloc >= cMax)
        return false;
    if (parr->rg == nullptr && (size_t)cMax * sizeof(DataPoint) >= cbReserveFrom) {
        void* pvReserved = PvReserveTable((size_t)cMax * sizeof(DataPoint));
        if (pvReserved) {
            parr->rg = (DataPoint*)pvReserved;
            parr->cAlloc = cMax;
            parr->fReserved = true;
            return true;
        }
    }
    long long cNew = parr->cAlloc == 0 ? cdpGrowFirst : 2LL * parr->cAlloc;
    if (cNew > cMax)
        cNew = cMax;
    void* pv = realloc(parr->rg, (size_t)cNew * sizeof(DataPoint));
    if (!pv) {
        *pfOutOfMemory = true;
        return false;
    }
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
    pstudy->hook = STUDYHOOK{};
    pstudy->fOutOfMemory = false;
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

static void CheckVehicleInfo(STUDY* pstudy, const char* pchVIN)
{
    STUDYHOOK const& hook = pstudy->hook;
    if (pstudy->achVIN[0] == 0) {
        std::memcpy(pstudy->achVIN, pchVIN, cchVIN);
        pstudy->achVIN[cchVIN] = 0;
        if (hook.pfnVin)
            hook.pfnVin(hook.pv, pstudy->achVIN, nullptr);
    } else if (std::strncmp(pstudy->achVIN, pchVIN, cchVIN) != 0) {
        if (hook.pfnVin)
            hook.pfnVin(hook.pv, pchVIN, pstudy->achVIN);
        std::memcpy(pstudy->achVIN, pchVIN, cchVIN);
        pstudy->achVIN[cchVIN] = 0;
    }
}

static int FKeepInTransient(STUDY const* pstudy, int rt)
{
    return rt >= 0 && rt < 32 && ((pstudy->grfRtTransientKept >> rt) & 1);
}

// GrfpendPrepare returns 0 for every record of this part of a type outside these from here on
// (the -k mark, once cleared, stays cleared for the part).
static uint32_t GrfRtWanted(STUDY const* pstudy, SECT sect)
{
    if (pstudy->fOutOfMemory)
        return 0;
    if (sect == sectLongTerm)
        return pstudy->timestampFirstValid != 0 ? grfRtAll : (1u << rtDAY | 1u << rtVINF);
    return pstudy->grfRtTransientKept | 1u << rtVINF;
}

uint32_t GrfRtStudyWants(void* pvStudy, SECT sect)
{
    return GrfRtWanted((STUDY const*)pvStudy, sect);
}

// What the ordered half of the collector does with a prepared sample.
constexpr int fpendVin = 1;    // compare the VIN with the study's
constexpr int fpendKeep = 2;   // append the sample to its array

// The half of the collector that needs nothing but the record and the log's own limits (the -k
// mark is the log's: every log starts its parts with it set again).
static int GrfpendPrepare(STUDY* pstudy, VLR const* pvlr, DataPoint* pdp)
{
    if (pvlr->sect == sectLongTerm && pstudy->timestampFirstValid != 0) {
        if (pvlr->timestamp != pstudy->timestampFirstValid)
            return 0;
        pstudy->timestampFirstValid = 0;
    }

    FillDataPoint(pvlr, pdp);

    if (!FValidTimestamp(pvlr->timestamp, pstudy->timestampLastValid))
        return 0;

    int grfpend = 0;
    if (pvlr->rt == rtVINF) {
        grfpend |= fpendVin;
        pdp->versFirmware = pvlr->versFirmware;
    }
    if (pvlr->sect == sectLongTerm ? (pvlr->rt == rtDAY || pvlr->rt == rtVINF) : FKeepInTransient(pstudy, pvlr->rt))
        grfpend |= fpendKeep;
    return grfpend;
}

// The half that depends on the logs taken before: the VIN lines, the order against the array's
// last sample and the capacity.
static void TakePrepared(STUDY* pstudy, DataPoint const& dp, int grfpend, const char* pchVIN)
{
    if (grfpend & fpendVin)
        CheckVehicleInfo(pstudy, pchVIN);
    if (!(grfpend & fpendKeep))
        return;

    bool const fLongTerm = dp.sect == sectLongTerm;
    DPARRAY* parr = fLongTerm ? &pstudy->dp1 : &pstudy->dp2;
    int const cMax = fLongTerm ? cDP1Max : cDP2Max;

    int c = parr->c;
    // Out of order is checked before full, so a full array drops old records without a word.
    if (c > 0 && parr->rg[c - 1].timestamp > dp.timestamp)
        return;
    if (!FRoomForOne(parr, cMax, &pstudy->fOutOfMemory)) {
        if (!pstudy->fOutOfMemory && pstudy->hook.pfnDropped)
            pstudy->hook.pfnDropped(pstudy->hook.pv, fLongTerm ? sectLongTerm : sectTransient, (uint32_t)dp.timestamp,
                                    dp.rt);
        return;
    }
    QF_ASSERT(c < parr->cAlloc && parr->cAlloc <= cMax);
    parr->rg[c] = dp;
    parr->c = c + 1;
}

void AggregateVlr(void* pvStudy, VLR* pvlr)
{
    STUDY* pstudy = (STUDY*)pvStudy;
    if (pstudy->fOutOfMemory)
        return;
    DataPoint dp;
    int grfpend = GrfpendPrepare(pstudy, pvlr, &dp);
    if (grfpend != 0)
        TakePrepared(pstudy, dp, grfpend, pvlr->achVIN);
}

// ---- Samples prepared by a worker ----

SAMPLEBUF::~SAMPLEBUF()
{
    FreeSampleBuf(this);
}

void FreeSampleBuf(SAMPLEBUF* pbuf)
{
    free(pbuf->rgbatch);
    pbuf->rgbatch = nullptr;
    pbuf->ibatch = 0;
}

static void EmptyBatch(SAMPLEBATCH* psbatch)
{
    psbatch->cpend = 0;
    psbatch->cvin = 0;
    psbatch->fTableFullBefore = 0;
}

void InitSampleBuf(SAMPLEBUF* pbuf, PFNHANDOVER pfnHandOver, void* pv)
{
    InitStudy(&pbuf->study);
    pbuf->ibatch = 0;
    pbuf->pfnHandOver = pfnHandOver;
    pbuf->pvHandOver = pv;
    pbuf->fStopped = false;
    pbuf->fOutOfMemory = false;
    if (!pbuf->rgbatch)
        pbuf->rgbatch = (SAMPLEBATCH*)malloc(cbatchSampleBuf * sizeof(SAMPLEBATCH));
    if (!pbuf->rgbatch) {
        pbuf->fOutOfMemory = true;
        return;
    }
    EmptyBatch(PbatchFilling(pbuf));
}

void MoveSampleBufMemory(SAMPLEBUF* pbufTo, SAMPLEBUF* pbufFrom)
{
    FreeSampleBuf(pbufTo);
    pbufTo->rgbatch = pbufFrom->rgbatch;
    pbufFrom->rgbatch = nullptr;
    FreeSampleBuf(pbufFrom);
}

SAMPLEBATCH* PbatchFilling(SAMPLEBUF* pbuf)
{
    return &pbuf->rgbatch[pbuf->ibatch % cbatchSampleBuf];
}

// Hands over the batch being filled and starts the next one.
static bool FHandOverBatch(SAMPLEBUF* pbuf)
{
    if (!pbuf->pfnHandOver(pbuf->pvHandOver, pbuf->ibatch)) {
        pbuf->fStopped = true;
        return false;
    }
    pbuf->ibatch++;
    EmptyBatch(PbatchFilling(pbuf));
    return true;
}

bool FHandOverSamples(SAMPLEBUF* pbuf)
{
    if (pbuf->fStopped || pbuf->fOutOfMemory)
        return false;
    SAMPLEBATCH const* psbatch = PbatchFilling(pbuf);
    return (psbatch->cpend == 0 && !psbatch->fTableFullBefore) || FHandOverBatch(pbuf);
}

void BufferVlr(void* pvBuf, VLR* pvlr)
{
    SAMPLEBUF* pbuf = (SAMPLEBUF*)pvBuf;
    DataPoint dp;
    int grfpend = GrfpendPrepare(&pbuf->study, pvlr, &dp);
    if (grfpend == 0 || pbuf->fStopped || pbuf->fOutOfMemory)
        return;
    SAMPLEBATCH* psbatch = PbatchFilling(pbuf);
    if (psbatch->cpend == cpendBatch || ((grfpend & fpendVin) && psbatch->cvin == cvinBatch)) {
        if (!FHandOverBatch(pbuf))
            return;
        psbatch = PbatchFilling(pbuf);
    }
    if (grfpend & fpendVin)
        std::memcpy(psbatch->rgchVIN + (size_t)psbatch->cvin++ * cchVIN, pvlr->achVIN, cchVIN);
    PENDINGDP* ppend = &psbatch->rgpend[psbatch->cpend++];
    ppend->dp = dp;
    ppend->grfpend = grfpend;
}

uint32_t GrfRtBufferWants(void* pvBuf, SECT sect)
{
    SAMPLEBUF const* pbuf = (SAMPLEBUF const*)pvBuf;
    // A stopped run drops every sample, so its walk passes every record by.
    return pbuf->fStopped ? 0 : GrfRtWanted(&pbuf->study, sect);
}

void TakeSampleBatch(STUDY* pstudy, SAMPLEBATCH const* psbatch)
{
    QF_ASSERT(psbatch->cpend >= 0 && psbatch->cpend <= cpendBatch && psbatch->cvin >= 0 && psbatch->cvin <= cvinBatch);
    int ivin = 0;
    for (int ipend = 0; ipend < psbatch->cpend && !pstudy->fOutOfMemory; ipend++) {
        PENDINGDP const& pend = psbatch->rgpend[ipend];
        const char* pchVIN = nullptr;
        if (pend.grfpend & fpendVin) {
            QF_ASSERT(ivin < psbatch->cvin);
            pchVIN = psbatch->rgchVIN + (size_t)ivin++ * cchVIN;
        }
        TakePrepared(pstudy, pend.dp, pend.grfpend, pchVIN);
    }
}
