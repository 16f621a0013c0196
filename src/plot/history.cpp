// Reading the car's history: each input opened as quenfell opens it, its long-term part listed for
// the daily and event records, and the transient ring (of the one input, or of the inputs merged by
// the join's own merge into memory) decoded by the default report's walk; the page's own consumer
// keeps what the page draws. Nothing of it is printed.
#include "plot/history.h"

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

#include "analysis/decoder.h"
#include "input/download.h"
#include "merge/merge.h"
#include "support/bigtable.h"
#include "support/timecal.h"
#include "support/workers.h"

namespace {

// Far more samples than the longest session has: past this the oldest half, which can only be
// standing records between sessions, is let go.
constexpr size_t csampleMax = 1u << 21;
constexpr double ampsNearRest = 10;   // battery volts at this little current are near the resting voltage

enum {
    fsampleV0 = 1,
    fsampleV1 = 2,
    fsampleV2 = 4,
    fsampleV3 = 8,
};

// ---- Records that are events, wherever they are found -------------------------------------------

void TakeEventRecord(HISTORY* phist, VLR const* pvlr, unsigned int timestampLastValid)
{
    if (!FValidTimestamp(pvlr->timestamp, timestampLastValid))
        return;
    switch (pvlr->rt) {
    case rtDAY:
        if (pvlr->grf & fvlrCAC)
            phist->rgday.push_back(DAYROW{pvlr->timestamp, pvlr->ahCAC, pvlr->ahBrickMin, pvlr->ahBrickAve,
                                          (pvlr->grf & fvlrOdometer) ? pvlr->milesOdo : 0});
        break;
    case rtVINF:
        if (pvlr->versFirmware != 0)
            phist->rgfw.push_back(FWCHANGE{pvlr->timestamp, pvlr->versFirmware});
        break;
    case rtERR: {
        ERRROW err{pvlr->timestamp, pvlr->codeError, {0}};
        if (pvlr->grf & fvlrDesc)
            snprintf(err.szDesc, sizeof err.szDesc, "%.*s", cchErrDesc - 1, pvlr->szDesc);
        phist->rgerr.push_back(err);
        break;
    }
    case rtTPMS: {
        TPMSROW tpms{pvlr->timestamp, {0, 0, 0, 0}};
        for (int i = 0; i < 4; i++)
            tpms.rgpsi[i] = (float)pvlr->rgpsiTire[i];
        phist->rgtpms.push_back(tpms);
        break;
    }
    default:
        break;
    }
}

struct READER {
    HISTORY* phist;
    unsigned int timestampLastValid;
};

// A consumer's callback runs inside the core's walk: what runs out of memory here is noted and
// reported once the walk is over, never thrown through the walk.
template <class FN>
void Guarded(HISTORY* phist, FN fn)
{
    if (phist->fOutOfMemory)
        return;
    try {
        fn();
    } catch (std::bad_alloc const&) {
        phist->fOutOfMemory = true;
    }
}

void TakeLongTermRecord(void* pv, SHOWNRECORD const* prec)
{
    READER* preader = (READER*)pv;
    Guarded(preader->phist, [&] { TakeEventRecord(preader->phist, prec->pvlr, preader->timestampLastValid); });
}

// The long-term part of one input: daily samples, errors, tyre pressures and firmware versions.
void ReadLongTerm(HISTORY* phist, STREAM* pstream, unsigned int timestampLastValid, RUN* prun)
{
    InitRun(prun);
    prun->timestampLastValid = timestampLastValid;
    READER reader{phist, timestampLastValid};
    CONSUMER cons{};
    cons.pv = &reader;
    cons.pfnRecord = TakeLongTermRecord;
    DECODE decode;
    decode.mode = modeListing;
    decode.fPermanent = 1;
    decode.pcons = &cons;
    DecodeVmsFile(prun, pstream, decode);
}

// ---- The session hook ----------------------------------------------------------------------------

void TakeRecord(READER* preader, VLR const* pvlr)
{
    HISTORY* phist = preader->phist;
    SAMPLE sample{};
    sample.timestamp = pvlr->timestamp;
    sample.pctSOC = (int8_t)PctSOCOfRecord(pvlr);
    sample.fCharge = -1;
    switch (pvlr->rt) {
    case rtDR1S:
        sample.fCharge = 0;
        sample.rgv[0] = (float)pvlr->mphSpeed;
        sample.rgv[1] = (float)(pvlr->voltsESS * pvlr->ampsESS / 1000);
        sample.grf = fsampleV0 | fsampleV1;
        if (std::fabs(pvlr->ampsESS) < ampsNearRest && pvlr->voltsESS > 0) {
            phist->voltsPackSum += pvlr->voltsESS;
            phist->cvoltsPack++;
        }
        break;
    case rtC1MA:
    case rtC1MB:
    case rtC30M:
        sample.fCharge = 1;
        if ((pvlr->grf & (fvlrLineVolts | fvlrChargeAmps)) == (fvlrLineVolts | fvlrChargeAmps)) {
            sample.rgv[0] = (float)(pvlr->voltsLine * pvlr->ampsCharge / 1000);
            sample.grf |= fsampleV0;
        }
        if (pvlr->grf & fvlrChargeAmps) {
            sample.rgv[1] = (float)pvlr->ampsCharge;
            sample.grf |= fsampleV1;
        }
        if (pvlr->grf & fvlrAmpsAvailable) {
            sample.rgv[2] = (float)pvlr->ampsAvailable;
            sample.grf |= fsampleV2;
        }
        if (pvlr->grf & fvlrTempESS) {
            sample.rgv[3] = (float)pvlr->degESSMax;
            sample.grf |= fsampleV3;
        }
        break;
    case rtD10M:
        if ((pvlr->grf & fvlrOdometer) && pvlr->milesOdo > 0) {
            if (phist->milesOdoMin < 0 || pvlr->milesOdo < phist->milesOdoMin)
                phist->milesOdoMin = pvlr->milesOdo;
            if (pvlr->milesOdo > phist->milesOdoMax)
                phist->milesOdoMax = pvlr->milesOdo;
        }
        break;
    case rtIDLE: {
        IDLESAMPLE idle;
        if (FIdleSampleOfRecord(pvlr, &idle) && FValidTimestamp(pvlr->timestamp, preader->timestampLastValid))
            phist->rgidle.push_back(idle);
        break;
    }
    case rtDR1M:
        break;
    default:
        TakeEventRecord(phist, pvlr, preader->timestampLastValid);
        return;
    }
    if (sample.grf == 0 && sample.pctSOC < 0)
        return;
    if (phist->rgsample.size() >= csampleMax)
        phist->rgsample.erase(phist->rgsample.begin(), phist->rgsample.begin() + (long)(csampleMax / 2));
    phist->rgsample.push_back(sample);
}

// The samples of a session from its start to its end, in one pass: the first civ values of the
// session's kind (each into *rgprgpt[iv]) and the state of charge (*prgptSOC), thinned, as seconds
// after its start; with prglp also the line power of each sample that has it, as it was measured.
void TakeProfiles(HISTORY const* phist, uint32_t timestampStart, uint32_t timestampEnd, int fCharge, int civ,
                  std::vector<PT>* const* rgprgpt, std::vector<PT>* prgptSOC, std::vector<LINEPOWER>* prglp)
{
    std::vector<PT> rgrgpt[4];
    std::vector<PT> rgptSOC;
    for (SAMPLE const& sample : phist->rgsample) {
        if (sample.timestamp < timestampStart || sample.timestamp > timestampEnd)
            continue;
        float const sec = (float)(sample.timestamp - timestampStart);
        if (sample.pctSOC >= 0)
            rgptSOC.push_back(PT{sec, (float)sample.pctSOC});
        if (sample.fCharge != fCharge)
            continue;
        for (int iv = 0; iv < civ; iv++)
            if (sample.grf & (1 << iv))
                rgrgpt[iv].push_back(PT{sec, sample.rgv[iv]});
        if (prglp && (sample.grf & fsampleV0))
            prglp->push_back(LINEPOWER{sample.timestamp, sample.rgv[0]});
    }
    for (int iv = 0; iv < civ; iv++)
        ThinMinMax(rgrgpt[iv].data(), (int)rgrgpt[iv].size(), cptProfileMax / 2, rgprgpt[iv]);
    ThinMinMax(rgptSOC.data(), (int)rgptSOC.size(), cptProfileMax / 2, prgptSOC);
}

// Samples up to a closed session's end are of no more use.
void DropSamplesTo(HISTORY* phist, uint32_t timestampEnd)
{
    auto& rg = phist->rgsample;
    rg.erase(std::remove_if(rg.begin(), rg.end(), [&](SAMPLE const& s) { return s.timestamp <= timestampEnd; }),
             rg.end());
}

void TakeDrive(HISTORY* phist, DRIVESESSION const* pds)
{
    phist->rgdrive.emplace_back();
    DRIVEROW* prow = &phist->rgdrive.back();
    prow->ds = *pds;
    std::vector<PT>* const rgprgpt[] = {&prow->rgptSpeed, &prow->rgptPower};
    TakeProfiles(phist, pds->timestampStart, pds->timestampEnd, 0, 2, rgprgpt, &prow->rgptSOC, nullptr);
    AddSOCEnds(pds->pctSOCStart, pds->pctSOCEnd, pds->secDuration, &prow->rgptSOC);
    DropSamplesTo(phist, pds->timestampEnd);
}

void TakeCharge(HISTORY* phist, CHARGESESSION const* pcs)
{
    phist->rgcharge.emplace_back();
    CHARGEROW* prow = &phist->rgcharge.back();
    prow->cs = *pcs;
    std::vector<PT>* const rgprgpt[] = {&prow->rgptPower, &prow->rgptAmps, &prow->rgptAmpsAvailable, &prow->rgptTemp};
    std::vector<LINEPOWER> rglp;
    TakeProfiles(phist, pcs->timestampStart, pcs->timestampEnd, 1, 4, rgprgpt, &prow->rgptSOC, &rglp);
    AddSOCEnds(pcs->pctSOCStart, pcs->pctSOCEnd, pcs->secDuration, &prow->rgptSOC);
    CIVILCACHE cache;
    prow->cost = CostOfCharge(&phist->price, pcs->kwh, rglp.data(), (int)rglp.size(), &cache);
    DropSamplesTo(phist, pcs->timestampEnd);
}

void TakeSessionRecord(void* pv, VLR const* pvlr)
{
    READER* preader = (READER*)pv;
    Guarded(preader->phist, [&] { TakeRecord(preader, pvlr); });
}

void TakeDriveSession(void* pv, DRIVESESSION const* pds)
{
    HISTORY* phist = ((READER*)pv)->phist;
    Guarded(phist, [&] { TakeDrive(phist, pds); });
}

void TakeChargeSession(void* pv, CHARGESESSION const* pcs)
{
    HISTORY* phist = ((READER*)pv)->phist;
    Guarded(phist, [&] { TakeCharge(phist, pcs); });
}

void DecodeSessions(HISTORY* phist, STREAM* pstream, const char* pszPath, unsigned int timestampLastValid)
{
    READER reader{phist, timestampLastValid};
    CONSUMER cons{};
    cons.pv = &reader;
    cons.pfnSessionRecord = TakeSessionRecord;
    cons.pfnDrive = TakeDriveSession;
    cons.pfnCharge = TakeChargeSession;
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    prun->timestampLastValid = timestampLastValid;
    DECODE decode;
    decode.mode = modeSummary;
    decode.pszPath = pszPath;
    decode.pcons = &cons;
    DecodeVmsFile(prun.get(), pstream, decode);
    phist->rgsample.clear();
    phist->rgsample.shrink_to_fit();
}

// The merged log, written once in order: into a reservation of the bound on its length where the
// system gives one (backed in large pages as it is written, where a vector's small ones each
// fault once), else into a vector reserved as large.
struct MERGED {
    unsigned char* pbReserved = nullptr;
    size_t cbReserved = 0;
    size_t cb = 0;
    std::vector<unsigned char> rgb;

    MERGED() = default;
    MERGED(MERGED const&) = delete;
    MERGED& operator=(MERGED const&) = delete;
    ~MERGED() { ReleaseTable(pbReserved, cbReserved); }
    unsigned char const* Pb() const { return pbReserved ? pbReserved : rgb.data(); }
};

void ReserveMerged(MERGED* pmerged, size_t cbBound)
{
    pmerged->pbReserved = (unsigned char*)PvReserveTable(cbBound);
    if (pmerged->pbReserved) {
        pmerged->cbReserved = cbBound;
        return;
    }
    try {
        pmerged->rgb.reserve(cbBound);
    } catch (std::bad_alloc const&) {
    }
}

// The merge's sink: false (the merge stops) when memory runs out. Should the bound ever fall
// short, what the reservation holds moves to the vector, which grows from there.
bool FAppendMerged(void* pv, unsigned char const* pb, int cb)
{
    MERGED* pmerged = (MERGED*)pv;
    if (pmerged->pbReserved && pmerged->cb + (size_t)cb <= pmerged->cbReserved) {
        memcpy(pmerged->pbReserved + pmerged->cb, pb, (size_t)cb);
        pmerged->cb += (size_t)cb;
        return true;
    }
    try {
        if (pmerged->pbReserved) {
            pmerged->rgb.assign(pmerged->pbReserved, pmerged->pbReserved + pmerged->cb);
            ReleaseTable(pmerged->pbReserved, pmerged->cbReserved);
            pmerged->pbReserved = nullptr;
            pmerged->cbReserved = 0;
        }
        pmerged->rgb.insert(pmerged->rgb.end(), pb, pb + cb);
    } catch (std::bad_alloc const&) {
        return false;
    }
    pmerged->cb = pmerged->rgb.size();
    return true;
}

// The same time may come from several downloads: each record once, in time order.
void SortEvents(HISTORY* phist)
{
    auto& rgday = phist->rgday;
    std::stable_sort(rgday.begin(), rgday.end(),
                     [](DAYROW const& a, DAYROW const& b) { return a.timestamp < b.timestamp; });
    rgday.erase(std::unique(rgday.begin(), rgday.end(),
                            [](DAYROW const& a, DAYROW const& b) { return a.timestamp == b.timestamp; }),
                rgday.end());
    auto& rgerr = phist->rgerr;
    std::stable_sort(rgerr.begin(), rgerr.end(),
                     [](ERRROW const& a, ERRROW const& b) { return a.timestamp < b.timestamp; });
    rgerr.erase(std::unique(rgerr.begin(), rgerr.end(),
                            [](ERRROW const& a, ERRROW const& b) {
                                return a.timestamp == b.timestamp && a.codeError == b.codeError;
                            }),
                rgerr.end());
    auto& rgtpms = phist->rgtpms;
    std::stable_sort(rgtpms.begin(), rgtpms.end(),
                     [](TPMSROW const& a, TPMSROW const& b) { return a.timestamp < b.timestamp; });
    rgtpms.erase(std::unique(rgtpms.begin(), rgtpms.end(),
                             [](TPMSROW const& a, TPMSROW const& b) { return a.timestamp == b.timestamp; }),
                 rgtpms.end());
    auto& rgfw = phist->rgfw;
    std::stable_sort(rgfw.begin(), rgfw.end(),
                     [](FWCHANGE const& a, FWCHANGE const& b) { return a.timestamp < b.timestamp; });
    std::vector<FWCHANGE> rgfwChange;
    for (FWCHANGE const& fw : rgfw)
        if (rgfwChange.empty() || rgfwChange.back().versFirmware != fw.versFirmware)
            rgfwChange.push_back(fw);
    rgfw.swap(rgfwChange);
    auto& rgidle = phist->rgidle;
    std::stable_sort(rgidle.begin(), rgidle.end(),
                     [](IDLESAMPLE const& a, IDLESAMPLE const& b) { return a.timestamp < b.timestamp; });
    rgidle.erase(std::unique(rgidle.begin(), rgidle.end(),
                             [](IDLESAMPLE const& a, IDLESAMPLE const& b) { return a.timestamp == b.timestamp; }),
                 rgidle.end());
}

void TakeSpan(HISTORY* phist)
{
    auto take = [&](uint32_t timestampStart, uint32_t timestampEnd) {
        if (timestampStart < timestampEpoch2001 || timestampEnd < timestampStart)
            return;
        if (phist->timestampMin == 0 || timestampStart < phist->timestampMin)
            phist->timestampMin = timestampStart;
        if (timestampEnd > phist->timestampMax)
            phist->timestampMax = timestampEnd;
    };
    for (DRIVEROW const& row : phist->rgdrive)
        take(row.ds.timestampStart, row.ds.timestampEnd);
    for (CHARGEROW const& row : phist->rgcharge)
        take(row.cs.timestampStart, row.cs.timestampEnd);
}

struct INPUTREADS {
    JOINTABLE* pjoin;
    unsigned int const* rgtimestampLastValid;
    HISTORY* rghist;      // each input's events
    bool fStats;          // the join's statistics too, for the merge
};

void ReadInputJob(void* pv, int iin)
{
    INPUTREADS* preads = (INPUTREADS*)pv;
    HISTORY* phist = &preads->rghist[iin];
    STREAM* pstream = preads->pjoin->rgin[iin].pstream;
    std::unique_ptr<RUN> prun;
    Guarded(phist, [&] {
        prun = std::make_unique<RUN>();
        ReadLongTerm(phist, pstream, preads->rgtimestampLastValid[iin], prun.get());
    });
    // While its pages are in memory, with the section table the long-term read made of them; the
    // statistics then let go of them, so that the inputs are not all held at once.
    if (preads->fStats)
        GetLogStats(pstream, &preads->pjoin->rgin[iin].lstat, prun ? &prun->layout : nullptr);
}

template <class ROW>
void Append(std::vector<ROW>* prgTo, std::vector<ROW> const& rgFrom)
{
    prgTo->insert(prgTo->end(), rgFrom.begin(), rgFrom.end());
}

void TakeEventsOf(HISTORY* phist, HISTORY const* phistInput)
{
    Append(&phist->rgday, phistInput->rgday);
    Append(&phist->rgfw, phistInput->rgfw);
    Append(&phist->rgerr, phistInput->rgerr);
    Append(&phist->rgtpms, phistInput->rgtpms);
}

}  // namespace

bool FReadHistory(char const* const* rgpszPath, int cpath, HISTORY* phist, std::string* pstrErr)
{
    JOINTABLE join;
    if (!FReserveJoinTable(&join, cpath)) {
        *pstrErr = "out of memory";
        return false;
    }
    std::vector<unsigned int> rgtimestampLastValid((size_t)cpath);
    for (int i = 0; i < cpath; i++) {
        AddJoinInput(&join, rgpszPath[i], new STREAM());
        if (!FOpenDownloadSayingWhy(rgpszPath[i], join.rgin[i].pstream, &rgtimestampLastValid[(size_t)i], pstrErr))
            return false;
    }
    // Each input's long-term part and statistics on every core, its events kept apart and taken in
    // the inputs' order afterwards: the same events, in the same order, as one input after another.
    std::vector<HISTORY> rghistInput((size_t)cpath);
    INPUTREADS reads{&join, rgtimestampLastValid.data(), rghistInput.data(), cpath > 1};
    if (!FRunJobs(cpath, CWorkers(), ReadInputJob, &reads))
        phist->fOutOfMemory = true;
    for (HISTORY& histInput : rghistInput) {
        if (histInput.fOutOfMemory)
            phist->fOutOfMemory = true;
        Guarded(phist, [&] { TakeEventsOf(phist, &histInput); });
        histInput = HISTORY();
    }
    phist->cinput = cpath;

    if (cpath == 1) {
        DecodeSessions(phist, join.rgin[0].pstream, rgpszPath[0], rgtimestampLastValid[0]);
    } else {
        // Reserved whole, untouched until written: grown by doubling it would at times be held twice.
        MERGED merged;
        ReserveMerged(&merged, (size_t)CbMergeBound(join.rgin, cpath));
        SCANSTATE scan;
        InitScanState(&scan);
        phist->crecMerged = CrecMergeLogs(&scan, join.rgin, cpath, nullptr, FAppendMerged, &merged);
        if (phist->crecMerged < 0) {
            *pstrErr = "out of memory";
            return false;
        }
        STREAM stream;
        if (stream.FOpenMemory(merged.Pb(), merged.cb))
            DecodeSessions(phist, &stream, "merged", (unsigned int)time(nullptr));
    }
    for (int i = 0; i < cpath; i++) {
        if (join.rgin[i].pstream->FChanged()) {
            *pstrErr = std::string("file '") + join.rgin[i].pszName + "' changed while it was being read";
            return false;
        }
    }
    if (phist->fOutOfMemory) {
        *pstrErr = "out of memory";
        return false;
    }
    SortEvents(phist);
    TakeSpan(phist);
    return true;
}

namespace {

// The long-term records of a database, back to back in the order of their time: each decoded by the
// vehicle of the last vehicle-info record, as the listing of a download's long-term part decodes
// them, and taken as its events.
void ReadLongTermRecords(HISTORY* phist, STREAM* pstream, unsigned int timestampLastValid)
{
    std::unique_ptr<SCANSTATE> pscan = std::make_unique<SCANSTATE>();
    InitScanState(pscan.get());
    long pos;
    int cb;
    LINEARWALK walk;
    BeginLinearWalk(0, pstream->CbSize(), &walk);
    while (FNextLinearRecord(pstream, &walk, &pos, &cb)) {
        RH rhSpare;
        if (PrhRecordHeader(pstream, pos, cb, &rhSpare)->rt == rtVINF)
            ScanRecordFromFile(pscan.get(), pstream, pos, (unsigned long)cb, 0, nullptr);
    }
    READER reader{phist, timestampLastValid};
    VLR vlr;
    ClearVlr(&vlr, sectLongTerm);
    BeginLinearWalk(0, pstream->CbSize(), &walk);
    while (FNextLinearRecord(pstream, &walk, &pos, &cb)) {
        ScanRecordFromFile(pscan.get(), pstream, pos, (unsigned long)cb, 0, &vlr);
        Guarded(phist, [&] { TakeEventRecord(phist, &vlr, reader.timestampLastValid); });
    }
}

}  // namespace

bool FReadHistoryOfLogs(HISTORYOFLOGS const& logs, HISTORY* phist, std::string* pstrErr)
{
    unsigned int const timestampNow = (unsigned int)time(nullptr);
    STREAM streamLongTerm;
    if (streamLongTerm.FOpenMemory(logs.pbLongTerm, logs.cbLongTerm))
        ReadLongTermRecords(phist, &streamLongTerm, timestampNow);
    phist->cinput = logs.cdownload;
    phist->crecMerged = logs.crecJoined;
    STREAM stream;
    if (stream.FOpenMemory(logs.pbJoined, logs.cbJoined))
        DecodeSessions(phist, &stream, "merged", timestampNow);
    if (phist->fOutOfMemory) {
        *pstrErr = "out of memory";
        return false;
    }
    SortEvents(phist);
    TakeSpan(phist);
    return true;
}
