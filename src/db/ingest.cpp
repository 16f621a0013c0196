// The history database's calls into the decoding core, all of them: opening a download as quenfell
// opens it, the join's statistics and merge (whose skipped and disagreeing records are counted by
// its hook), the default report's walk through a consumer of its own, and the record decoder.
// Nothing of it prints.
#include "db/ingest.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <sys/stat.h>

#include "analysis/consumer.h"
#include "analysis/decoder.h"
#include "analysis/owner.h"
#include "analysis/run.h"
#include "input/download.h"
#include "input/stream.h"
#include "merge/merge.h"
#include "records/scanner.h"
#include "support/civil.h"
#include "support/timecal.h"

namespace {

// What the merge says that the database keeps count of: records passed over, and records that two
// inputs hold differently at one time and type.
struct MERGECOUNTS {
    long cskip = 0;
    long cmismatch = 0;
};

void CountSkip(void* pv, char const*, unsigned char const*, int, VLR const*)
{
    ((MERGECOUNTS*)pv)->cskip++;
}

void CountMismatch(void* pv, char const*, unsigned char const*, int, VLR const*, char const*, unsigned char const*, int,
                   VLR const*)
{
    ((MERGECOUNTS*)pv)->cmismatch++;
}

// ---- Records -----------------------------------------------------------------------------------

// A record (at least 4 bytes) whose header is read as zero-padded bytes when it is shorter than one.
uint32_t TimestampOfRecord(uint8_t const* pb, int cb)
{
    if (cb >= cbRecordHeader)
        return TimestampFromRh((RH const*)pb);
    RH rh;
    memset(&rh, 0, sizeof rh);
    memcpy(&rh, pb, (size_t)cb);
    return TimestampFromRh(&rh);
}

void AppendRecordBytes(RECORDS* precs, uint8_t const* pb, int cb)
{
    RECINFO info;
    info.ib = precs->rgb.size();
    info.cb = (uint16_t)cb;
    info.rt = pb[3];
    info.fShared = 0;
    info.timestamp = TimestampOfRecord(pb, cb);
    precs->rgb.insert(precs->rgb.end(), pb, pb + cb);
    precs->rgrec.push_back(info);
}

// The merge works on logs: a record run becomes one by a vehicle-info record in front, of the
// transient part and dated at the earliest time any record can have, so that the join takes it
// first and writes everything after it (the join drops what comes before a log's first
// vehicle-info record). Raw dates before 2008 are read 1024 weeks later, so the earliest time a
// record can carry is the first second of 2008.
constexpr int cbVinf = 40;
constexpr uint32_t timestampFirstValid = dateRawCorrectLast + 1;

void MakeLeadVinf(uint8_t rgb[cbVinf])
{
    memset(rgb, 0, cbVinf);
    rgb[0] = 0x03;
    rgb[1] = 0x02;
    rgb[2] = cbVinf - 2;
    rgb[3] = rtVINF;
    for (int i = 0; i < 4; i++)
        rgb[6 + i] = (uint8_t)(timestampFirstValid >> (8 * i));
    unsigned sum = 0;
    for (int ib = 2; ib < cbVinf - 1; ib++)
        sum += rgb[ib];
    rgb[cbVinf - 1] = (uint8_t)(0x100 - (sum & 0xFF));
}

std::vector<uint8_t> RgbLogOf(uint8_t const* pb, size_t cb)
{
    uint8_t rgbLead[cbVinf];
    MakeLeadVinf(rgbLead);
    std::vector<uint8_t> rgb(cbVinf + cb);
    memcpy(rgb.data(), rgbLead, sizeof rgbLead);
    if (cb > 0)
        memcpy(rgb.data() + cbVinf, pb, cb);
    return rgb;
}

// Where the merge's bytes go: straight into records, without the leading vehicle-info record.
// The merge hands over whole records, one or several back to back; those in the shared mapping
// are only pointed at.
struct MERGESINK {
    RECORDS* precs;
    bool fLeadPassed;
    uint8_t const* pbShared;
    long cbShared;
    uint8_t const* pbLead = nullptr;   // a lead that is an input of its own: none of its bytes are kept
    size_t cbLead = 0;
};

void TakeMergedRecords(MERGESINK* psink, unsigned char const* pb, int cb)
{
    // The merge hands over the records of one input at a time.
    if (psink->pbLead && pb >= psink->pbLead && pb + cb <= psink->pbLead + psink->cbLead)
        return;
    int ib = 0;
    if (!psink->fLeadPassed) {
        psink->fLeadPassed = true;
        uint8_t rgbLead[cbVinf];
        MakeLeadVinf(rgbLead);
        if (cb >= cbVinf && memcmp(pb, rgbLead, cbVinf) == 0)
            ib = cbVinf;
    }
    RECORDS* precs = psink->precs;
    bool fShared = psink->pbShared && pb >= psink->pbShared && pb + cb <= psink->pbShared + psink->cbShared;
    uint64_t ibBase;
    if (fShared) {
        ibBase = (uint64_t)(pb - psink->pbShared);
    } else {
        ibBase = (uint64_t)precs->rgb.size() - (uint64_t)ib;
        precs->rgb.insert(precs->rgb.end(), pb + ib, pb + cb);
    }
    for (int ibRec = ib; ibRec < cb;) {
        // A record is at least 4 bytes; one shorter than a header, or the rest of a piece that does
        // not end where its last record does, has its header read as zero-padded bytes.
        int cbRec = ibRec + 2 < cb ? pb[ibRec + 2] + 2 : cb - ibRec;
        if (ibRec + cbRec > cb)
            cbRec = cb - ibRec;
        RECINFO info;
        info.ib = ibBase + (uint64_t)ibRec;
        info.cb = (uint16_t)cbRec;
        info.rt = cbRec > 3 ? pb[ibRec + 3] : 0;
        info.fShared = fShared ? 1 : 0;
        info.timestamp = TimestampOfRecord(pb + ibRec, cbRec);
        precs->rgrec.push_back(info);
        ibRec += cbRec;
    }
}

// The merge's sink: false (the merge stops) when there is no memory for the records.
bool FTakeMergedBytes(void* pv, unsigned char const* pb, int cb)
{
    try {
        TakeMergedRecords((MERGESINK*)pv, pb, cb);
    } catch (std::bad_alloc const&) {
        return false;
    }
    return true;
}

// Merges the inputs (their statistics taken) into *pout, which gets the records the join writes
// after the leading vehicle-info record. Those that lie in pstreamShared's mapping stay there.
// False when memory ran out.
bool FMergeInto(JOININ* rgin, int cin, STREAM* pstreamShared, RECORDS* pout, MERGECOUNTS* pcounts,
                std::vector<uint8_t> const* prgbLead = nullptr)
{
    size_t cbAll = 0;
    for (int i = 0; i < cin; i++)
        cbAll += (size_t)rgin[i].pstream->CbSize();
    MERGESINK sink{pout, false, pstreamShared ? pstreamShared->PbMap() : nullptr,
                   pstreamShared ? pstreamShared->CbSize() : 0};
    if (prgbLead) {
        sink.pbLead = prgbLead->data();
        sink.cbLead = prgbLead->size();
    }
    pout->pbShared = sink.pbShared;
    if (!sink.pbShared)
        pout->rgb.reserve(cbAll);
    pout->rgrec.reserve(cbAll / 24);
    SCANSTATE scan;
    InitScanState(&scan);
    MERGEHOOK hook{pcounts, nullptr, nullptr, CountSkip, CountMismatch};
    return CrecMergeLogs(&scan, rgin, cin, &hook, FTakeMergedBytes, &sink) >= 0;
}

// A new input of the table (room for it reserved), on a stream of its own.
JOININ* PinAdd(JOINTABLE* pjoin, char const* pszName)
{
    AddJoinInput(pjoin, pszName, new STREAM());
    return &pjoin->rgin[pjoin->cin - 1];
}

// The records of [ibStart, ibEnd) in file order.
void ReadLinearRecords(STREAM* pstream, long ibStart, long ibEnd, RECORDS* pout)
{
    LINEARWALK walk;
    BeginLinearWalk(ibStart, ibEnd, &walk);
    long pos;
    int cb;
    uint8_t rgb[cbRecordBuffer];
    while (FNextLinearRecord(pstream, &walk, &pos, &cb)) {
        unsigned char const* pbMap = pstream->PbMap();
        if (pbMap && pos + cb <= pstream->CbSize()) {
            AppendRecordBytes(pout, pbMap + pos, cb);
            continue;
        }
        memset(rgb, 0, sizeof rgb);
        if (pstream->FSetPos(pos) && pstream->FReadBytes(cb, rgb))
            AppendRecordBytes(pout, rgb, cb);
    }
}

void NoteVehicles(SCANSTATE* pscan, RECORDS const& recs)
{
    for (size_t irec = 0; irec < recs.rgrec.size(); irec++) {
        if (recs.rgrec[irec].rt == rtVINF && recs.rgrec[irec].cb >= cbVinf)
            ScanRecord(pscan, PbRecord(recs, irec), recs.rgrec[irec].cb, 0, nullptr);
    }
}

}  // namespace

void AppendRecords(RECORDS* precs, uint8_t const* pb, size_t cb)
{
    long pos = 0;
    int cbRec;
    while (pos < (long)cb && FScanToRecordInBytes(pb, (long)cb, &pos, (long)cb, &cbRec)) {
        AppendRecordBytes(precs, pb + pos, cbRec);
        pos += cbRec;
    }
}

void AppendRecord(RECORDS* precs, RECORDS const& recsFrom, size_t irec)
{
    RECINFO info = recsFrom.rgrec[irec];
    uint8_t const* pb = PbRecord(recsFrom, irec);
    info.ib = precs->rgb.size();
    info.fShared = 0;
    precs->rgb.insert(precs->rgb.end(), pb, pb + info.cb);
    precs->rgrec.push_back(info);
}

void AppendRecordRange(RECORDS* precs, RECORDS const& recsFrom, size_t irecFirst, size_t irecLim)
{
    size_t cb = 0;
    for (size_t irec = irecFirst; irec < irecLim; irec++)
        cb += recsFrom.rgrec[irec].cb;
    precs->rgb.reserve(precs->rgb.size() + cb);
    precs->rgrec.reserve(precs->rgrec.size() + (irecLim > irecFirst ? irecLim - irecFirst : 0));
    for (size_t irec = irecFirst; irec < irecLim; irec++)
        AppendRecord(precs, recsFrom, irec);
}

bool FReadDownload(char const* pszPath, DOWNLOAD* pdl, std::string* pstrErr)
{
    JOINTABLE inputs;
    if (!FReserveJoinTable(&inputs, 2)) {
        *pstrErr = "out of memory";
        return false;
    }
    // A lead of its own before the download: two vehicle-info records, as a transient part that holds
    // only its vehicle-info record has no records for the join to take. Neither is kept.
    std::vector<uint8_t> rgbLead = RgbLogOf(nullptr, 0);
    std::vector<uint8_t> rgbLeadTwice = rgbLead;
    rgbLeadTwice.insert(rgbLeadTwice.end(), rgbLead.begin(), rgbLead.end());
    rgbLead.swap(rgbLeadTwice);
    JOININ* pinLead = PinAdd(&inputs, "lead");
    JOININ* pin = PinAdd(&inputs, pszPath);
    if (!FOpenDownloadSayingWhy(pszPath, pin->pstream, &pdl->timestampLastValid, pstrErr))
        return false;
    pinLead->pstream->FOpenMemory(rgbLead.data(), rgbLead.size());
    GetLogStats(pinLead->pstream, &pinLead->lstat);
    GetLogStats(pin->pstream, &pin->lstat);

    // The long-term part is what the join leaves out: everything before the first transient
    // vehicle-info record, or the whole log when it has none.
    LSTAT const lstat = pin->lstat;
    long ibEndLongTerm = lstat.fHasTransient ? (long)lstat.lspanTransient.ibStart : pin->pstream->CbSize();
    ReadLinearRecords(pin->pstream, 0, ibEndLongTerm, &pdl->longTerm);

    MERGECOUNTS counts;
    if (!FMergeInto(inputs.rgin, inputs.cin, pin->pstream, &pdl->transient, &counts, &rgbLead)) {
        *pstrErr = "out of memory";
        return false;
    }
    pdl->crecSkipped = counts.cskip;

    SCANSTATE scanVehicle;
    InitScanState(&scanVehicle);
    NoteVehicles(&scanVehicle, pdl->longTerm);
    NoteVehicles(&scanVehicle, pdl->transient);
    snprintf(pdl->szVIN, sizeof pdl->szVIN, "%s", scanVehicle.vehicle.achVIN);
    pdl->rver = scanVehicle.vehicle.rver;
    for (int i = 0; i < inputs.cin; i++)
        pdl->fChanged = pdl->fChanged || inputs.rgin[i].pstream->FChanged();
    // The download's records point into its mapping: it stays open with them.
    pdl->pstream = pin->pstream;
    pin->pstream = nullptr;
    return true;
}

DOWNLOAD::~DOWNLOAD()
{
    delete pstream;
}

void MergeRecords(RECORDS const& recsHeld, RECORDS const& recsAdded, RECORDS* pout, long* pcconflict)
{
    *pcconflict = 0;
    if (recsAdded.rgrec.empty()) {
        *pout = recsHeld;
        return;
    }
    std::vector<uint8_t> rgbHeld = RgbLogOf(recsHeld.rgb.data(), recsHeld.rgb.size());
    std::vector<uint8_t> rgbAdded = RgbLogOf(recsAdded.rgb.data(), recsAdded.rgb.size());
    JOINTABLE inputs;
    if (!FReserveJoinTable(&inputs, 2)) {
        *pout = recsHeld;
        return;
    }
    JOININ* pinHeld = PinAdd(&inputs, "held");
    JOININ* pinAdded = PinAdd(&inputs, "added");
    pinHeld->pstream->FOpenMemory(rgbHeld.data(), rgbHeld.size());
    pinAdded->pstream->FOpenMemory(rgbAdded.data(), rgbAdded.size());
    GetLogStats(pinHeld->pstream, &pinHeld->lstat);
    GetLogStats(pinAdded->pstream, &pinAdded->lstat);
    // The join keeps the copy of the input that sorts first, by its newest transient time: the
    // held records are made to sort first.
    pinHeld->lstat.lspanTransient.timestampMax = 1;
    pout->rgb.clear();
    pout->rgrec.clear();
    MERGECOUNTS counts;
    if (!FMergeInto(inputs.rgin, inputs.cin, nullptr, pout, &counts))
        throw std::bad_alloc();
    *pcconflict = counts.cmismatch;
}

namespace {

struct WALKHOOK {
    SESSIONSINK const* psink;
};

void TakeDriveSession(void* pv, DRIVESESSION const* pds)
{
    SESSIONSINK const* psink = ((WALKHOOK*)pv)->psink;
    if (psink->pfnDrive)
        psink->pfnDrive(psink->pv, pds);
}

void TakeChargeSession(void* pv, CHARGESESSION const* pcs)
{
    SESSIONSINK const* psink = ((WALKHOOK*)pv)->psink;
    if (psink->pfnCharge)
        psink->pfnCharge(psink->pv, pcs);
}

void TakeSessionRecord(void* pv, VLR const* pvlr)
{
    SESSIONSINK const* psink = ((WALKHOOK*)pv)->psink;
    psink->pfnRecord(psink->pv, pvlr);
}

}  // namespace

void WalkSessions(RECORDS const& recsLog, SESSIONSINK const* psink)
{
    STREAM stream;
    if (recsLog.rgb.empty() || !stream.FOpenMemory(recsLog.rgb.data(), recsLog.rgb.size()))
        return;
    WALKHOOK walkhook{psink};
    CONSUMER cons{};
    cons.pv = &walkhook;
    cons.pfnDrive = TakeDriveSession;
    cons.pfnCharge = TakeChargeSession;
    if (psink->pfnRecord)
        cons.pfnSessionRecord = TakeSessionRecord;
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    // As quenfell reads a joined log: a plain file, whose newest credible time is now.
    prun->timestampLastValid = (unsigned int)time(nullptr);
    DECODE decode;
    decode.mode = modeSummary;
    decode.pszPath = "history";
    decode.pcons = &cons;
    DecodeVmsFile(prun.get(), &stream, decode);
}

void DecodeRecords(RECORDS const& recs, size_t irecFirst, size_t irecLim, int rver, PFNDECODED pfn, void* pv)
{
    std::unique_ptr<SCANSTATE> pscan = std::make_unique<SCANSTATE>();
    InitScanState(pscan.get());
    pscan->vehicle.rver = rver;
    VLR vlr;
    ClearVlr(&vlr, sectTransient);
    for (size_t irec = irecFirst; irec < irecLim && irec < recs.rgrec.size(); irec++) {
        ScanRecord(pscan.get(), PbRecord(recs, irec), recs.rgrec[irec].cb, 0, &vlr);
        pfn(pv, irec, &vlr);
    }
}

std::string StrFirmware(uint32_t versFirmware)
{
    char sz[32];
    FormatFirmwareVersion(versFirmware, sz, sizeof sz);
    return sz;
}

bool FCredibleTime(uint32_t timestamp, unsigned int timestampLastValid)
{
    return FValidTimestamp(timestamp, timestampLastValid) != 0;
}

// ---- The owner's figures --------------------------------------------------------------------

namespace {

// Battery volts at this little current are near the resting voltage (the car page's rule).
constexpr double ampsNearRest = 10;

bool FProfileRecord(int rt)
{
    switch (rt) {
    case rtDR1S:
    case rtDR1M:
    case rtD10M:
    case rtC1MA:
    case rtC1MB:
    case rtC30M:
    case rtIDLE:
        return true;
    default:
        return false;
    }
}

// The samples of a session from its start to its end, as seconds after its start, thinned as the
// page thins a profile.
void SeriesOf(OWNERWALK const* pwalk, uint32_t timestampStart, uint32_t timestampEnd, bool fPower,
              std::vector<PT>* prgpt)
{
    std::vector<PT> rgpt;
    for (OWNERSAMPLE const& sample : pwalk->rgsample) {
        if (sample.timestamp < timestampStart || sample.timestamp > timestampEnd)
            continue;
        if (fPower && sample.fPower)
            rgpt.push_back(PT{(float)(sample.timestamp - timestampStart), sample.kw});
        else if (!fPower && sample.pctSOC >= 0)
            rgpt.push_back(PT{(float)(sample.timestamp - timestampStart), (float)sample.pctSOC});
    }
    ThinMinMax(rgpt.data(), (int)rgpt.size(), cptProfileMax / 2, prgpt);
}

void DropOwnerSamplesTo(OWNERWALK* pwalk, uint32_t timestampEnd)
{
    auto& rg = pwalk->rgsample;
    rg.erase(std::remove_if(rg.begin(), rg.end(),
                            [&](OWNERSAMPLE const& sample) { return sample.timestamp <= timestampEnd; }),
             rg.end());
}

}  // namespace

void TakeOwnerRecord(OWNERWALK* pwalk, VLR const* pvlr)
{
    if (!FProfileRecord(pvlr->rt))
        return;
    OWNERSAMPLE sample{pvlr->timestamp, false, 0, PctSOCOfRecord(pvlr)};
    if (pvlr->rt == rtDR1S && std::fabs(pvlr->ampsESS) < ampsNearRest && pvlr->voltsESS > 0) {
        pwalk->rest.voltsSum += pvlr->voltsESS;
        pwalk->rest.cvolts++;
    }
    LINEPOWER lp;
    if ((pvlr->rt == rtC1MA || pvlr->rt == rtC1MB || pvlr->rt == rtC30M) && FLinePowerOfRecord(pvlr, &lp)) {
        sample.fPower = true;
        sample.kw = lp.kw;
    }
    if (sample.fPower || sample.pctSOC >= 0)
        pwalk->rgsample.push_back(sample);
}

RESTVOLTS CloseOwnerDrive(OWNERWALK* pwalk, DRIVESESSION const* pds)
{
    RESTVOLTS const rest = pwalk->rest;
    pwalk->rest = RESTVOLTS{};
    DropOwnerSamplesTo(pwalk, pds->timestampEnd);
    return rest;
}

void CloseOwnerCharge(OWNERWALK* pwalk, CHARGESESSION const* pcs, std::vector<SOCPOWER>* prgsp)
{
    std::vector<PT> rgptPower, rgptSOC;
    SeriesOf(pwalk, pcs->timestampStart, pcs->timestampEnd, true, &rgptPower);
    SeriesOf(pwalk, pcs->timestampStart, pcs->timestampEnd, false, &rgptSOC);
    AddSOCEnds(pcs->pctSOCStart, pcs->pctSOCEnd, pcs->secDuration, &rgptSOC);
    std::vector<SOCPOWER> rgsp;
    ChargeCurveOf(rgptPower.data(), (int)rgptPower.size(), rgptSOC.data(), (int)rgptSOC.size(), &rgsp);
    CurveByPercent(rgsp, prgsp);
    DropOwnerSamplesTo(pwalk, pcs->timestampEnd);
}

void SpansOf(std::vector<SESSIONSPAN> const& rgspanDrive, std::vector<SESSIONSPAN> const& rgspanCharge,
             std::vector<SESSIONSPAN>* prgspan)
{
    std::vector<DRIVESESSION> rgds(rgspanDrive.size());
    std::vector<CHARGESESSION> rgcs(rgspanCharge.size());
    for (size_t i = 0; i < rgds.size(); i++) {
        rgds[i].timestampStart = rgspanDrive[i].timestampStart;
        rgds[i].timestampEnd = rgspanDrive[i].timestampEnd;
    }
    for (size_t i = 0; i < rgcs.size(); i++) {
        rgcs[i].timestampStart = rgspanCharge[i].timestampStart;
        rgcs[i].timestampEnd = rgspanCharge[i].timestampEnd;
    }
    SpansOfSessions(rgds.data(), (int)rgds.size(), rgcs.data(), (int)rgcs.size(), prgspan);
}

void OwnerFiguresOf(std::vector<SESSIONSPAN> const& rgspan, std::vector<IDLESAMPLE> const& rgidle,
                    std::vector<DAYSAMPLE> const& rgday, double voltsPack, OWNERFIGURES* pfig)
{
    ParkedStretches(rgspan.data(), (int)rgspan.size(), rgidle.data(), (int)rgidle.size(), rgday.data(),
                    (int)rgday.size(), voltsPack, &pfig->rgparked);
    BatteryHealthOf(rgday.data(), (int)rgday.size(), &pfig->health);
    ParkBandsOf(rgidle.data(), (int)rgidle.size(), &pfig->bands);
    CIVILCACHE cache;
    ImbalanceByDay(rgidle.data(), (int)rgidle.size(), &cache, &pfig->rgimb);
}

std::string StrDayOfSecCivil(int64_t secCivilDay)
{
    int64_t year;
    int month, day;
    CivilFromDays(secCivilDay / 86400, &year, &month, &day);
    char sz[24];
    snprintf(sz, sizeof sz, "%04d-%02d-%02d", (int)year, month, day);
    return sz;
}

double PctLossOfCharge(CHARGESESSION const* pcs)
{
    return PctChargeLoss(pcs);
}

bool FParsePriceOption(char const* psz, PRICE* pprice, char const** ppszWhy)
{
    return FParsePrice(psz, pprice, ppszWhy);
}

CHARGECOST CostOfChargePower(PRICE const* pprice, double kwh, std::vector<LINEPOWER> const& rglp)
{
    CIVILCACHE cache;
    return CostOfCharge(pprice, kwh, rglp.data(), (int)rglp.size(), &cache);
}

