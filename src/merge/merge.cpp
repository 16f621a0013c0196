// Merging overlapping downloads into one log: statistics per input, a preview of what each input
// adds, and a merge of every input's transient ring by time, each record once.
#include "merge/merge.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "records/scanner.h"
#include "support/assert.h"
#include "support/heapsort.h"
#include "support/timecal.h"
#include "support/workers.h"

namespace {

constexpr uint32_t secPreviewWindow = 432000;   // 5 days
constexpr uint32_t secMergeWindow = 2592000;    // 30 days
constexpr uint32_t timestampErased = 0xFFFFFFFF;

bool FValidJoinTimestamp(uint32_t ts)
{
    return ts > timestampEpoch2001 && ts != timestampErased;
}

// The windows are measured from the input's newest long-term record. An input without one (a
// joined log given back with newer downloads) has no window: its records would all be skipped.
uint64_t TimestampBound(LSTAT const* plstat, uint32_t secWindow)
{
    uint32_t timestampMax = plstat->lspanLongTerm.timestampMax;
    return timestampMax == 0 ? timestampErased : (uint64_t)timestampMax + secWindow;
}

bool FUsedUp(JOININ* pin)
{
    pin->timestampCur = timestampErased;
    pin->cbCur = 0;
    return false;
}

// The end of the statistics pass's stretch that holds the record at pos, capped at ibCap, or 0
// when none does (or the stream has no mapping to take records from).
long IbTrustedLrun(LSTAT const* plstat, STREAM* pstream, long pos, long ibCap)
{
    if (!pstream->PbMap())
        return 0;
    int ilrunLo = 0;
    int ilrunHi = plstat->clrun;
    while (ilrunLo < ilrunHi) {
        int ilrunMid = ilrunLo + (ilrunHi - ilrunLo) / 2;
        if (plstat->rglrun[ilrunMid].ibEnd <= pos)
            ilrunLo = ilrunMid + 1;
        else
            ilrunHi = ilrunMid;
    }
    if (ilrunLo >= plstat->clrun || plstat->rglrun[ilrunLo].ibStart > pos)
        return 0;
    long ibEnd = (long)plstat->rglrun[ilrunLo].ibEnd;
    if (ibEnd > pstream->CbSize())
        return 0;
    return ibEnd < ibCap ? ibEnd : ibCap;
}

// The next record of a walk over an input's ring. The ring's records are those the statistics
// pass found (every walk starts at one of them or at 0), so inside one of its stretches they are
// taken without a search; the marker is still looked at, as in every trusted walk.
inline bool FNextInputRecord(STREAM* pstream, LSTAT const* plstat, RINGWALK* pwalk, long* ppos, int* pcb)
{
    long pos = pwalk->pos;
    int cb;
    if (FTrustedRecord(pstream, pos, pwalk->ibTrusted, &cb)) {
        pwalk->pos = pos + cb;
        *ppos = pos;
        *pcb = cb;
        return true;
    }
    if (!FSearchRingRecord(pstream, pwalk, ppos, pcb))
        return false;
    // After the wrap the walk ends before the oldest record, so no stretch may reach past it.
    long ibCap = pwalk->fWrapped && pwalk->ibOldest < pwalk->ibEnd ? pwalk->ibOldest : pwalk->ibEnd;
    pwalk->ibTrusted = IbTrustedLrun(plstat, pstream, *ppos, ibCap);
    return true;
}

constexpr int crecLrunMin = 8;   // a shorter stretch saves too little to take an entry

// Keeps a stretch of crec back-to-back records from ibStart to ibEnd, when it is long enough and
// the table has room.
void NoteLrun(LSTAT* plstat, long ibStart, long ibEnd, int crec)
{
    if (crec < crecLrunMin || plstat->clrun >= clrunMax)
        return;
    LRUN* plrun = &plstat->rglrun[plstat->clrun++];
    plrun->ibStart = ibStart;
    plrun->ibEnd = ibEnd;
}

// Lets go of the input's pages in [ibStart, ibEnd) up to the bytes that wait to be handed on.
void ReleaseUnpinned(JOININ* pin, long ibStart, long ibEnd)
{
    if (pin->ibPinned >= 0 && ibEnd > pin->ibPinned)
        ibEnd = (long)pin->ibPinned;
    pin->pstream->ReleaseBytes(ibStart, ibEnd);
}

// The merge lets go of what it has passed of an input in steps of this many bytes, keeping the
// last step behind the walk: the bytes waiting to be handed on (at most that many, cbPendingMax)
// are then still in memory when they go out.
constexpr long cbKeptStep = 1L << 20;

// Lets go of the input's pages behind pos, where the walk now stands. A position before the kept
// one is the wrap of the ring: the rest of the first leg, up to the file's end, is passed too.
void ReleaseBehind(JOININ* pin, long pos)
{
    STREAM* pstream = pin->pstream;
    long ibEnd = pos < pin->ibKept ? pstream->CbSize() : pos - cbKeptStep;
    ReleaseUnpinned(pin, (long)pin->ibKept, ibEnd);
    pin->ibKept = pos < pin->ibKept ? pos : ibEnd;
    // The step the walk comes to next is mapped in one go.
    pstream->PopulateBytes(pos, pos + cbKeptStep);
}

// Takes the record at pos as the input's current one: read in place from the mapping, copied and
// zero-padded when the stream has none or the record is shorter than a header.
bool FLoadRecord(JOININ* pin, long pos, int cb)
{
    if (pos < pin->ibKept || pos - pin->ibKept >= 2 * cbKeptStep)
        ReleaseBehind(pin, pos);
    pin->ibCur = pos;
    pin->cbCur = cb;
    unsigned char const* pbMap = pin->pstream->PbMap();
    if (pbMap && cb >= cbRecordHeader) {
        pin->pbCur = pbMap + pos;
    } else {
        memset(pin->rgbRec, 0, sizeof pin->rgbRec);
        pin->pstream->FSetPos(pos);
        pin->pstream->FReadBytes(cb, pin->rgbRec);
        pin->pbCur = pin->rgbRec;
    }
    pin->timestampCur = TimestampFromRh((RH const*)pin->pbCur);
    return true;
}

// What waits to be handed on goes when it has gone out (FlushMergeOut).
void Finish(JOININ* pin, MERGEHOOK const* phook)
{
    ReleaseUnpinned(pin, 0, pin->pstream->CbSize());
    if (phook->pfnFinished)
        phook->pfnFinished(phook->pv, pin->pszName);
    pin->fFinished = true;
}

void Advance(JOININ* pin, MERGEHOOK const* phook)
{
    if (!_FReadNextRecordLstat(pin))
        Finish(pin, phook);
}

// The record as it is shown in a message: decoded with the vehicle of the records taken so far.
void DecodeShown(SCANSTATE* pscan, unsigned char const* pb, int cb, VLR* pvlr)
{
    ClearVlr(pvlr, sectNil);
    ScanRecord(pscan, pb, cb, 0, pvlr);
}

bool FSkipCurrent(JOININ const* pin)
{
    return !FValidJoinTimestamp(pin->timestampCur) ||
           pin->timestampCur >= TimestampBound(&pin->lstat, secMergeWindow);
}

// A record that is passed over must not hold its input back until the other inputs are used up:
// its later records would then come out of time order.
void SkipAhead(SCANSTATE* pscan, JOININ* pin, MERGEHOOK const* phook)
{
    while (!pin->fFinished && FSkipCurrent(pin)) {
        VLR vlr;
        DecodeShown(pscan, pin->pbCur, pin->cbCur, &vlr);
        if (phook->pfnSkip)
            phook->pfnSkip(phook->pv, pin->pszName, pin->pbCur, pin->cbCur, &vlr);
        Advance(pin, phook);
    }
}

// The times of the input's ring, walked from its oldest record (to the end of the file, then from
// the start of the transient part up to the oldest record again), that are newer than every
// plausible time before them, in rising order. Given the newest time taken from the inputs before,
// the input adds those of them above it: each raises the newest time in turn. That newest time is
// known to be at least timestampFloor, so only the times above it are kept.
void FindRises(JOININ const* pin, uint32_t timestampFloor, std::vector<uint32_t>* prgts)
{
    LSTAT const* plstat = &pin->lstat;
    STREAM* pstream = pin->pstream;
    uint64_t bound = TimestampBound(plstat, secPreviewWindow);
    bool fRisen = false;
    uint32_t timestampHigh = 0;
    RINGWALK walk;
    BeginRingWalk((long)plstat->ibOldest, (long)plstat->lspanTransient.ibStart, pstream->CbSize(), 1, &walk);
    long pos;
    int cb;
    unsigned char const* pbMap = pstream->PbMap();
    auto take = [&](uint32_t ts) {
        if ((!fRisen || ts > timestampHigh) && ts != timestampErased && ts < bound) {
            fRisen = true;
            timestampHigh = ts;
            if (ts > timestampFloor)
                prgts->push_back(ts);
        }
    };
    // A block whose first record the walk stands at is passed over whole when none of its times
    // would be kept: its newest time is not above the floor, or not above the newest time so far.
    // What it would have done to the newest time is done at once. After the wrap the walk ends
    // before the oldest record, so a block is passed over only when all of it lies before that.
    int const cbit = plstat->cbitPblock;
    long const cbSize = pstream->CbSize();
    auto fPassBlock = [&](long posAt) {
        long iblock = posAt >> cbit;
        if (iblock >= cpblockMax || plstat->rgpblock[iblock].ibFirst != posAt)
            return false;
        PBLOCK const& block = plstat->rgpblock[iblock];
        if (block.timestampMax > timestampFloor && (!fRisen || block.timestampMax > timestampHigh))
            return false;
        long posNext = cbSize;
        for (long iblockNext = iblock + 1; iblockNext < cpblockMax; iblockNext++) {
            if (plstat->rgpblock[iblockNext].ibFirst >= 0) {
                posNext = (long)plstat->rgpblock[iblockNext].ibFirst;
                break;
            }
        }
        if (walk.fWrapped && posNext > walk.ibOldest)
            return false;
        if (block.timestampMax != 0) {
            timestampHigh = fRisen && timestampHigh > block.timestampMax ? timestampHigh : block.timestampMax;
            fRisen = true;
        }
        walk.pos = posNext;
        walk.ibTrusted = 0;
        return true;
    };
    while (FNextInputRecord(pstream, plstat, &walk, &pos, &cb)) {
        if (fPassBlock(pos))
            continue;
        RH rh;
        FReadRecordHeader(pstream, pos, cb, &rh);
        take(TimestampFromRh(&rh));
        // The rest of a stretch the statistics checked, by the count bytes alone, as the walk
        // would take them; a record shorter than a header, or the start of the next block, goes
        // back to the walk.
        long posRun = walk.pos;
        long const ibTrusted = walk.ibTrusted;
        long const iblockRun = pos >> cbit;
        while (pbMap && posRun + 3 <= ibTrusted && (posRun >> cbit) == iblockRun) {
            __builtin_prefetch(pbMap + posRun + cbReadAhead);
            int cbRun = pbMap[posRun + 2] + 2;
            if (!FMarkerAt(pbMap + posRun) || cbRun < cbRecordHeader ||
                posRun + cbRun > ibTrusted)
                break;
            take(TimestampFromRh((RH const*)(pbMap + posRun)));
            posRun += cbRun;
        }
        walk.pos = posRun;
    }
    pstream->ReleaseBytes(0, pstream->CbSize());
}

struct PREVIEW {
    JOININ const* rgin;
    uint32_t const* rgtimestampFloor;
    std::vector<uint32_t>* rgrgts;
};

void FindRisesJob(void* pv, int iin)
{
    PREVIEW* ppreview = (PREVIEW*)pv;
    FindRises(&ppreview->rgin[iin], ppreview->rgtimestampFloor[iin], &ppreview->rgrgts[iin]);
}

void StatsJob(void* pv, int iin)
{
    JOININ* pin = &((JOININ*)pv)[iin];
    GetLogStats(pin->pstream, &pin->lstat, nullptr, true);
}

}   // namespace

bool FPreviewSortedJoin(JOININ const* rgin, int cin, PFNPREVIEW pfnPreview, void* pv)
{
    // The newest time taken before an input is at least the newest transient time of every input
    // before it in the table: each such time is one of that input's plausible ring times.
    std::vector<uint32_t> rgtimestampFloor((size_t)cin);
    uint32_t timestampFloor = timestampEpoch2001;
    for (int i = 0; i < cin; i++) {
        rgtimestampFloor[(size_t)i] = timestampFloor;
        if (rgin[i].lstat.lspanTransient.timestampMax > timestampFloor)
            timestampFloor = rgin[i].lstat.lspanTransient.timestampMax;
    }
    std::vector<std::vector<uint32_t>> rgrgts((size_t)cin);
    PREVIEW preview{rgin, rgtimestampFloor.data(), rgrgts.data()};
    if (!FRunJobs(cin, CWorkers(), FindRisesJob, &preview))
        return false;

    uint32_t timestampHigh = timestampEpoch2001;
    for (int i = 0; i < cin; i++) {
        LSTAT const* plstat = &rgin[i].lstat;
        std::vector<uint32_t> const& rgts = rgrgts[(size_t)i];
        int cused = (int)(rgts.end() - std::upper_bound(rgts.begin(), rgts.end(), timestampHigh));
        if (cused > 0)
            timestampHigh = rgts.back();
        PREVIEWROW row{rgin[i].pszName,
                       plstat->lspanTransient.timestampMin,
                       plstat->lspanTransient.timestampMax,
                       plstat->lspanTransient.ibStart,
                       plstat->ibOldest,
                       cused,
                       timestampHigh};
        if (pfnPreview)
            pfnPreview(pv, &row);
        rgrgts[(size_t)i] = std::vector<uint32_t>();
    }
    return true;
}

namespace {

// The merge's order of inputs: (timestamp, record type, place in the sorted table), the tie rules
// of a first-to-last search.
int CmpMergeOrder(unsigned int ia, unsigned int ib, void* ctx)
{
    JOININ const* rgin = (JOININ const*)ctx;
    JOININ const& a = rgin[ia];
    JOININ const& b = rgin[ib];
    if (a.timestampCur != b.timestampCur)
        return a.timestampCur < b.timestampCur ? -1 : 1;
    if (a.pbCur[3] != b.pbCur[3])
        return a.pbCur[3] < b.pbCur[3] ? -1 : 1;
    return ia < ib ? -1 : (ia > ib ? 1 : 0);
}

// Until the merge reaches an input, its first record waits in the input's own buffer and none of
// its pages are held: the system maps a large block of a file around the first byte read.
void Park(JOININ* pin)
{
    if (pin->pbCur != pin->rgbRec) {
        memset(pin->rgbRec, 0, sizeof pin->rgbRec);
        memcpy(pin->rgbRec, pin->pbCur, (size_t)pin->cbCur);
        pin->pbCur = pin->rgbRec;
    }
    pin->pstream->ReleaseBytes(0, pin->pstream->CbSize());
}

void StartInputs(JOININ* rgin, int cin, MERGEHOOK const* phook)
{
    for (int i = 0; i < cin; i++) {
        JOININ* pin = &rgin[i];
        // The passes before read each input whole, one input to a core, and let go of all of it
        // after: they take the system's large blocks where it maps the file in them. The merge
        // reads every input at once, each a little at a time, so that an input it reads at one
        // place must hold no more than that place.
        pin->pstream->PreferSmallPages();
        LSTAT const* plstat = &pin->lstat;
        pin->ibPinned = -1;
        bool fLoaded = false;
        if (plstat->fHasTransient) {
            long ibStart = (long)plstat->lspanTransient.ibStart;
            // An oldest record outside the transient part (no plausible transient record) gives
            // no wrap point: the part is read once from its start instead.
            bool fNoWrap = plstat->ibOldest <= ibStart;
            BeginRingWalk(fNoWrap ? ibStart : (long)plstat->ibOldest, ibStart, (long)plstat->lspanTransient.ibEnd,
                          !fNoWrap, &pin->walk);
            pin->ibKept = pin->walk.pos;
            fLoaded = _FReadNextRecordLstat(pin);
            if (fLoaded)
                Park(pin);
        }
        if (!fLoaded) {
            FUsedUp(pin);
            Finish(pin, phook);
        }
    }
}

// The bytes the merge has taken but not yet handed on: records that follow one another in one
// input's mapping go out in one piece.
struct MERGEOUT {
    PFNMERGEOUT pfnOut;
    void* pvOut;
    bool fStopped;              // the sink refused bytes: the merge ends
    JOININ* pinPending;         // whose mapping holds the pending bytes; null when none wait
    unsigned char const* pbPending;
    long cbPending;
};
// Within the int that PFNMERGEOUT takes, and within what the merge keeps behind each input's walk.
constexpr long cbPendingMax = cbKeptStep;

void HandOut(MERGEOUT* pmo, unsigned char const* pb, long cb)
{
    QF_ASSERT(cb > 0 && cb <= cbPendingMax);
    if (!pmo->fStopped && !pmo->pfnOut(pmo->pvOut, pb, (int)cb))
        pmo->fStopped = true;
}

void FlushMergeOut(MERGEOUT* pmo)
{
    if (pmo->cbPending > 0)
        HandOut(pmo, pmo->pbPending, pmo->cbPending);
    if (JOININ* pin = pmo->pinPending) {
        pin->ibPinned = -1;
        if (pin->fFinished)
            pin->pstream->ReleaseBytes(0, pin->pstream->CbSize());
    }
    pmo->pinPending = nullptr;
    pmo->cbPending = 0;
}

// Takes cb bytes of the input's mapping at pb for the joined log, after the pending ones. What
// waits is pinned: letting go of its pages would only read them again when it goes out.
void PutMappedBytes(MERGEOUT* pmo, JOININ* pin, unsigned char const* pb, long cb)
{
    if (pmo->pinPending == pin && pmo->pbPending + pmo->cbPending == pb && pmo->cbPending + cb <= cbPendingMax) {
        pmo->cbPending += cb;
        return;
    }
    FlushMergeOut(pmo);
    while (cb > cbPendingMax) {
        HandOut(pmo, pb, cbPendingMax);
        pb += cbPendingMax;
        cb -= cbPendingMax;
    }
    pmo->pinPending = pin;
    pmo->pbPending = pb;
    pmo->cbPending = cb;
    pin->ibPinned = pb - pin->pstream->PbMap();
}

// Takes the input's current record for the joined log. A copy in the input's own buffer changes
// with its next record, so it goes out at once.
void PutRecord(MERGEOUT* pmo, JOININ* pin)
{
    if (pin->pbCur == pin->rgbRec) {
        FlushMergeOut(pmo);
        HandOut(pmo, pin->pbCur, pin->cbCur);
        return;
    }
    PutMappedBytes(pmo, pin, pin->pbCur, pin->cbCur);
}

// How many of the cb bytes at pbA and pbB are the same before the first that differs.
long CbSameStart(unsigned char const* pbA, unsigned char const* pbB, long cb)
{
    // A page at a time, the next page of both asked for while this one is compared: the merge reads
    // the other inputs' copies here for the first time, from memory.
    constexpr long cbPage = 4096;
    constexpr long cbLine = 64;
    long ibPage = 0;
    while (ibPage < cb) {
        long cbStep = cb - ibPage < cbPage ? cb - ibPage : cbPage;
        long ibAheadEnd = ibPage + cbStep + cbPage < cb ? ibPage + cbStep + cbPage : cb;
        for (long ibAhead = ibPage + cbStep; ibAhead < ibAheadEnd; ibAhead += cbLine) {
            __builtin_prefetch(pbA + ibAhead);
            __builtin_prefetch(pbB + ibAhead);
        }
        if (memcmp(pbA + ibPage, pbB + ibPage, (size_t)cbStep) != 0)
            break;
        ibPage += cbStep;
    }
    if (ibPage >= cb)
        return cb;
    constexpr long cbBlock = 64;
    long ib = ibPage;
    while (ib + cbBlock <= cb && memcmp(pbA + ib, pbB + ib, cbBlock) == 0)
        ib += cbBlock;
    while (ib < cb && pbA[ib] == pbB[ib])
        ib++;
    return ib;
}

// The most records the group passes over at once starts small, doubles each time it is reached
// and falls back to one when differing copies cut a pass short: the records looked at in vain are
// never more than twice those passed, so the merge stays linear.
constexpr int crecPassFirst = 16;
constexpr int crecPassMax = 1 << 16;

// Passes the group (in table order, writing) over the records that the merge would take one at a
// time without a word: every input of the group holds them byte for byte inside its stretch of
// trusted records, none of them would be skipped by any of the inputs, none is a vehicle-info
// record, and each sorts before the heap's top. At most crecMax records are looked at. The
// group's inputs then stand at the record after those passed, which the merge takes as usual: it,
// too, is held by all of them alike and sorts before the heap's top. Returns the number of
// records passed (written from the chosen input); *pfCut tells whether differing bytes ended the
// pass early.
int CrecPassTogether(JOININ* rgin, unsigned int const* rgiGroup, int cgroup, HEAP const* pheap, int crecMax,
                     MERGEOUT* pmo, bool* pfCut)
{
    *pfCut = false;
    JOININ* pchosen = &rgin[rgiGroup[0]];
    if (pchosen->pbCur[3] == rtVINF)
        return 0;
    long cbAvail = LONG_MAX;
    uint64_t boundMin = UINT64_MAX;
    for (int k = 0; k < cgroup; k++) {
        JOININ const* pin = &rgin[rgiGroup[k]];
        if (pin->pbCur == pin->rgbRec || pin->walk.pos != pin->ibCur + pin->cbCur)
            return 0;
        long cb = pin->walk.ibTrusted - (long)pin->ibCur;
        if (cb < cbAvail)
            cbAvail = cb;
        uint64_t bound = TimestampBound(&pin->lstat, secMergeWindow);
        if (bound < boundMin)
            boundMin = bound;
    }
    bool fTop = pheap->c > 0;
    uint32_t timestampTop = fTop ? rgin[pheap->rgi[0]].timestampCur : 0;
    int rtTop = fTop ? rgin[pheap->rgi[0]].pbCur[3] : 0;

    // The records after the current one, in the chosen input's bytes: the last one taken (crec of
    // them) is where the group will stand.
    unsigned char const* pb = pchosen->pbCur;
    long ib = pchosen->cbCur;
    long ibLast = 0;
    int cbLast = pchosen->cbCur;
    int crec = 0;
    while (crec < crecMax && ib + cbRecordHeader <= cbAvail) {
        __builtin_prefetch(pb + ib + cbReadAhead);
        int cb = pb[ib + 2] + 2;
        if (!FMarkerAt(pb + ib) || cb < cbRecordHeader || ib + cb > cbAvail)
            break;
        uint32_t ts = TimestampFromRh((RH const*)(pb + ib));
        int rt = pb[ib + 3];
        if (!FValidJoinTimestamp(ts) || ts >= boundMin ||
            (fTop && (ts > timestampTop || (ts == timestampTop && rt >= rtTop))))
            break;
        crec++;
        ibLast = ib;
        cbLast = cb;
        ib += cb;
        if (rt == rtVINF)
            break;
    }
    if (crec == 0)
        return 0;

    // Every input of the group must hold the same bytes up to the end of the record it will stand
    // at; a difference leaves it at the last record before the one that differs.
    long cbSame = ibLast + cbLast;
    for (int k = 1; k < cgroup; k++)
        cbSame = CbSameStart(pb, rgin[rgiGroup[k]].pbCur, cbSame);
    if (cbSame < ibLast + cbLast) {
        *pfCut = true;
        ib = pchosen->cbCur;
        ibLast = 0;
        cbLast = pchosen->cbCur;
        crec = 0;
        while (ib + pb[ib + 2] + 2 <= cbSame) {
            crec++;
            ibLast = ib;
            cbLast = pb[ib + 2] + 2;
            ib += cbLast;
        }
    }
    if (crec == 0)
        return 0;

    PutMappedBytes(pmo, pchosen, pb, ibLast);
    for (int k = 0; k < cgroup; k++) {
        JOININ* pin = &rgin[rgiGroup[k]];
        long pos = (long)pin->ibCur + ibLast;
        pin->walk.pos = pos + cbLast;
        FLoadRecord(pin, pos, cbLast);
    }
    return crec;
}

// Whether the inputs that just moved (in table order) would again be chosen together, and alone,
// from the heap of the others: all at one (timestamp, record type), which sorts before the heap's
// top. The next choice can then be made without pushing and popping them.
bool FLeadTogether(JOININ const* rgin, unsigned int const* rgiGroup, int cgroup, HEAP const* pheap)
{
    if (cgroup == 0)
        return false;
    JOININ const& first = rgin[rgiGroup[0]];
    for (int k = 1; k < cgroup; k++) {
        JOININ const& other = rgin[rgiGroup[k]];
        if (other.timestampCur != first.timestampCur || other.pbCur[3] != first.pbCur[3])
            return false;
    }
    if (pheap->c == 0)
        return true;
    JOININ const& top = rgin[pheap->rgi[0]];
    return first.timestampCur < top.timestampCur ||
           (first.timestampCur == top.timestampCur && first.pbCur[3] < top.pbCur[3]);
}

struct FREEINDICES {
    void operator()(unsigned int* pi) const { free(pi); }
};

long MergeInputs(SCANSTATE* pscan, JOININ* rgin, int cin, MERGEHOOK const* phook, PFNMERGEOUT pfnOut, void* pvOut)
{
    // From malloc: the library's operator new aborts where not even its exception finds room.
    std::unique_ptr<unsigned int[], FREEINDICES> rgiHeap((unsigned int*)malloc(((size_t)cin + 1) * sizeof(unsigned int)));
    std::unique_ptr<unsigned int[], FREEINDICES> rgiGroup((unsigned int*)malloc(((size_t)cin + 1) * sizeof(unsigned int)));
    if (!rgiHeap || !rgiGroup)
        return -1;
    HEAP heap{rgiHeap.get(), 0, CmpMergeOrder, rgin};
    for (int i = 0; i < cin; i++) {
        SkipAhead(pscan, &rgin[i], phook);
        if (!rgin[i].fFinished)
            HeapPush(&heap, (unsigned int)i);
    }

    MERGEOUT mo{pfnOut, pvOut, false, nullptr, nullptr, 0};
    int crecPass = crecPassFirst;
    long cwritten = 0;
    bool fWriting = false;
    // The group: the inputs whose current records are chosen together, in table order; empty when
    // the next group is to be taken from the heap.
    int cgroup = 0;
    while ((cgroup > 0 || heap.c > 0) && !mo.fStopped) {
        QF_ASSERT(cgroup >= 0 && cgroup + (long)heap.c <= (long)cin);
        if (cgroup == 0) {
            rgiGroup[cgroup++] = HeapPop(&heap);
            JOININ const* pfirst = &rgin[rgiGroup[0]];
            while (heap.c > 0 && rgin[heap.rgi[0]].timestampCur == pfirst->timestampCur &&
                   rgin[heap.rgi[0]].pbCur[3] == pfirst->pbCur[3])
                rgiGroup[cgroup++] = HeapPop(&heap);
        }
        JOININ* pchosen = &rgin[rgiGroup[0]];
        if (fWriting && pchosen->fStarted) {
            bool fCut;
            int crec = CrecPassTogether(rgin, rgiGroup.get(), cgroup, &heap, crecPass, &mo, &fCut);
            QF_ASSERT(crec >= 0 && crec <= crecPass);
            cwritten += crec;
            if (fCut)
                crecPass = 1;
            else if (crec == crecPass && crecPass < crecPassMax)
                crecPass *= 2;
        }

        bool fVinf = pchosen->pbCur[3] == rtVINF;
        if (fWriting || fVinf) {
            if (!pchosen->fStarted) {
                if (phook->pfnStarted)
                    phook->pfnStarted(phook->pv, pchosen->pszName);
                pchosen->fStarted = true;
            }
            if (fVinf)
                ScanRecord(pscan, pchosen->pbCur, pchosen->cbCur, 0, nullptr);
            PutRecord(&mo, pchosen);
            cwritten++;
            fWriting = true;
        }

        // The chosen input moves last, so its record stays in place while the others are compared
        // with it.
        int cbChosen = pchosen->cbCur;
        unsigned char const* pbChosen = pchosen->pbCur;
        const char* pszChosen = pchosen->pszName;
        for (int k = cgroup - 1; k >= 0; k--) {
            JOININ* pin = &rgin[rgiGroup[k]];
            if (k > 0 && (pin->cbCur != cbChosen || memcmp(pin->pbCur, pbChosen, (size_t)cbChosen) != 0)) {
                VLR vlrChosen, vlrOther;
                DecodeShown(pscan, pbChosen, cbChosen, &vlrChosen);
                DecodeShown(pscan, pin->pbCur, pin->cbCur, &vlrOther);
                if (phook->pfnMismatch)
                    phook->pfnMismatch(phook->pv, pszChosen, pbChosen, cbChosen, &vlrChosen, pin->pszName, pin->pbCur,
                                       pin->cbCur, &vlrOther);
            }
            Advance(pin, phook);
        }
        // Before the next choice, the inputs that moved pass over what they would skip, in the
        // table's sorted order.
        int cmoved = 0;
        for (int k = 0; k < cgroup; k++) {
            JOININ* pin = &rgin[rgiGroup[k]];
            SkipAhead(pscan, pin, phook);
            if (!pin->fFinished)
                rgiGroup[cmoved++] = rgiGroup[k];
        }
        if (FLeadTogether(rgin, rgiGroup.get(), cmoved, &heap)) {
            cgroup = cmoved;
        } else {
            for (int k = 0; k < cmoved; k++)
                HeapPush(&heap, rgiGroup[k]);
            cgroup = 0;
        }
    }
    FlushMergeOut(&mo);
    return mo.fStopped ? -1 : cwritten;
}

} // namespace

bool FGatherLogStats(JOININ* rgin, int cin, int cworker)
{
    return FRunJobs(cin, cworker, StatsJob, rgin);
}

namespace {

// The block the statistics' walk is in, its entry written to the table once the walk leaves it: the
// records come in file order. Only the times the statistics take count: a time before 2001, which
// the preview takes too, can raise its newest time only above other such times, and it never keeps
// one of them, as each input's floor lies after 2001.
struct BLOCKNOTE {
    long iblock;            // -1: none yet
    long ibNext;            // where the next block starts; LONG_MAX in the long-term part
    int64_t ibFirst;
    uint32_t timestampMax;  // 0: no time yet
};

void FlushBlockNote(LSTAT* plstat, BLOCKNOTE const* pnote)
{
    if (pnote->iblock >= 0 && pnote->iblock < cpblockMax)
        plstat->rgpblock[pnote->iblock] = PBLOCK{pnote->ibFirst, pnote->timestampMax};
}

// The record at pos begins the next block: the one before goes to the table.
[[gnu::noinline]] void BeginBlockNote(LSTAT* plstat, long pos, BLOCKNOTE* pnote)
{
    FlushBlockNote(plstat, pnote);
    pnote->iblock = pos >> plstat->cbitPblock;
    pnote->ibNext = (pnote->iblock + 1) << plstat->cbitPblock;
    pnote->ibFirst = pos;
    pnote->timestampMax = 0;
}

// The records that lie back to back from pos, whole in the cbSize bytes at pbMap, up to the next
// VINF record, short record or gap: taken into *pspan as GetLogStats takes a record (bound is the
// transient span's preview bound, or none in the long-term part), each one checked but those up
// to ibTrusted, which the section scan checked. Returns where they end; *pcrec counts them.
template <bool fBlocks>
long TakeRunOfRecords(unsigned char const* pbMap, long cbSize, long pos, long ibTrusted, uint64_t bound,
                      LSPAN* pspan, int64_t* pibOldest, int* pcrec, LSTAT* plstat, BLOCKNOTE* pnote)
{
    uint32_t timestampMin = pspan->timestampMin;
    uint32_t timestampMax = pspan->timestampMax;
    int64_t ibOldest = *pibOldest;
    int crec = 0;
    // The block's newest time and end kept here while the run is taken.
    long ibNextBlock = pnote->ibNext;
    uint32_t timestampMaxBlock = pnote->timestampMax;
    while (pos + cbRecordHeader <= cbSize) {
        __builtin_prefetch(pbMap + pos + cbReadAhead);
        int cb;
        if (pos + 3 <= ibTrusted) {
            cb = pbMap[pos + 2] + 2;
            if (!FMarkerAt(pbMap + pos) || pos + cb > ibTrusted)
                cb = 0;
        } else {
            cb = CbRecordAt(pbMap, cbSize, pos);
        }
        if (cb < cbRecordHeader)
            break;
        RH const* prh = (RH const*)(pbMap + pos);
        if (prh->rt == rtVINF)
            break;
        if (fBlocks && pos >= ibNextBlock) {
            pnote->timestampMax = timestampMaxBlock;
            BeginBlockNote(plstat, pos, pnote);
            ibNextBlock = pnote->ibNext;
            timestampMaxBlock = 0;
        }
        uint32_t ts = TimestampFromRh(prh);
        if (FValidJoinTimestamp(ts) && ts < bound) {
            if (ts < timestampMin) {
                timestampMin = ts;
                ibOldest = pos;
            }
            if (ts > timestampMax)
                timestampMax = ts;
            if (fBlocks && ts > timestampMaxBlock)
                timestampMaxBlock = ts;
        }
        crec++;
        pos += cb;
    }
    pspan->timestampMin = timestampMin;
    pspan->timestampMax = timestampMax;
    *pibOldest = ibOldest;
    *pcrec = crec;
    pnote->timestampMax = timestampMaxBlock;
    return pos;
}

}   // namespace

void GetLogStats(STREAM* pstream, LSTAT* plstat, LOGLAYOUT const* playout, bool fPreviewBlocks)
{
    plstat->lspanLongTerm.ibStart = 0;
    plstat->lspanLongTerm.timestampMin = plstat->lspanTransient.timestampMin = timestampErased;
    plstat->lspanLongTerm.timestampMax = plstat->lspanTransient.timestampMax = 0;
    plstat->clrun = 0;
    long cbSize = pstream->CbSize();
    // Blocks of at least 64 KiB, as many as the table holds.
    plstat->cbitPblock = 16;
    while (plstat->cbitPblock < 62 && (cbSize >> plstat->cbitPblock) >= cpblockMax)
        plstat->cbitPblock++;
    for (PBLOCK& block : plstat->rgpblock)
        block = PBLOCK{-1, 0};
    if (cbSize <= 0)
        return;

    LSPAN* pspan = &plstat->lspanLongTerm;
    bool fLongTerm = true;
    BLOCKNOTE note{-1, LONG_MAX, -1, 0};
    uint64_t bound = UINT64_MAX;   // the long-term part has none
    unsigned char const* pbMap = pstream->PbMap();
    pstream->PopulateBytes(0, cbSize);
    LINEARWALK walk;
    BeginLinearWalk(0, cbSize, &walk, playout);
    // The stretch of back-to-back records that the current one ends.
    long ibLrunStart = 0;
    long ibLrunEnd = -1;
    int crecLrun = 0;
    long pos;
    int cb;
    while (FNextLinearRecord(pstream, &walk, &pos, &cb)) {
        if (pos != ibLrunEnd) {
            NoteLrun(plstat, ibLrunStart, ibLrunEnd, crecLrun);
            ibLrunStart = pos;
            crecLrun = 0;
        }
        ibLrunEnd = pos + cb;
        crecLrun++;

        pspan->ibEnd = pos + cb;
        RH rh;
        FReadRecordHeader(pstream, pos, cb, &rh);
        uint32_t ts = TimestampFromRh(&rh);
        if (rh.rt == rtVINF && !(rh.t3 & 0x80) && fLongTerm) {
            plstat->lspanTransient.ibStart = pos;
            plstat->fHasTransient = true;
            pspan = &plstat->lspanTransient;
            fLongTerm = false;
            note.ibNext = 0;   // the vehicle-info record begins the first block
            // The long-term part is over: its newest time, which the bound is measured from, stays.
            bound = TimestampBound(plstat, secPreviewWindow);
        }
        if (fPreviewBlocks && !fLongTerm && pos >= note.ibNext)
            BeginBlockNote(plstat, pos, &note);
        if (FValidJoinTimestamp(ts) && ts < bound) {
            if (ts < pspan->timestampMin) {
                pspan->timestampMin = ts;
                plstat->ibOldest = pos;
            }
            if (ts > pspan->timestampMax)
                pspan->timestampMax = ts;
            if (fPreviewBlocks && !fLongTerm && ts > note.timestampMax)
                note.timestampMax = ts;
        }
        // Then the records right behind it, which most of a log is.
        if (pbMap) {
            int crec;
            long ibEnd = fPreviewBlocks ? TakeRunOfRecords<true>(pbMap, cbSize, pos + cb, walk.ibTrusted, bound, pspan,
                                                                 &plstat->ibOldest, &crec, plstat, &note)
                                        : TakeRunOfRecords<false>(pbMap, cbSize, pos + cb, walk.ibTrusted, bound, pspan,
                                                                  &plstat->ibOldest, &crec, plstat, &note);
            if (crec > 0) {
                crecLrun += crec;
                ibLrunEnd = pspan->ibEnd = walk.pos = ibEnd;
            }
        }
    }
    NoteLrun(plstat, ibLrunStart, ibLrunEnd, crecLrun);
    FlushBlockNote(plstat, &note);
    pstream->ReleaseBytes(0, cbSize);
}

int _CmpLstat(unsigned int i, unsigned int j, void* ctx)
{
    JOININ const* rgin = (JOININ const*)ctx;
    return rgin[i].lstat.lspanTransient.timestampMax > rgin[j].lstat.lspanTransient.timestampMax ? 1 : -1;
}

bool _FReadNextRecordLstat(JOININ* pin)
{
    long pos;
    int cb;
    if (!FNextInputRecord(pin->pstream, &pin->lstat, &pin->walk, &pos, &cb))
        return FUsedUp(pin);
    return FLoadRecord(pin, pos, cb);
}

long CbMergeBound(JOININ const* rgin, int cin)
{
    long cb = 0;
    for (int i = 0; i < cin; i++) {
        LSTAT const* plstat = &rgin[i].lstat;
        // A walk's last record starts before the part's end and may run on past it. A part that is
        // its vehicle-info record alone has no end of its own (it stayed 0).
        if (plstat->fHasTransient && plstat->lspanTransient.ibEnd > plstat->lspanTransient.ibStart)
            cb += (long)(plstat->lspanTransient.ibEnd - plstat->lspanTransient.ibStart) + cbRecordMax;
    }
    return cb;
}

void SortJoinInputs(JOININ* rgin, int cin)
{
    HeapSort(rgin, (unsigned)cin, (int)sizeof(JOININ), _CmpLstat);
}

long CrecMergeSortedLogs(SCANSTATE* pscan, JOININ* rgin, int cin, MERGEHOOK const* phook, PFNMERGEOUT pfnOut,
                         void* pvOut)
{
    MERGEHOOK const hookNone{};
    if (!phook)
        phook = &hookNone;
    StartInputs(rgin, cin, phook);
    return MergeInputs(pscan, rgin, cin, phook, pfnOut, pvOut);
}

long CrecMergeLogs(SCANSTATE* pscan, JOININ* rgin, int cin, MERGEHOOK const* phook, PFNMERGEOUT pfnOut, void* pvOut)
{
    SortJoinInputs(rgin, cin);
    return CrecMergeSortedLogs(pscan, rgin, cin, phook, pfnOut, pvOut);
}

JOINTABLE::~JOINTABLE()
{
    for (int iin = 0; iin < cin; iin++)
        delete rgin[iin].pstream;
    free(rgin);
}

bool FReserveJoinTable(JOINTABLE* pjoin, int cinMax)
{
    QF_ASSERT(pjoin->rgin == nullptr);
    pjoin->rgin = (JOININ*)calloc((size_t)cinMax, sizeof(JOININ));
    if (!pjoin->rgin)
        return false;
    pjoin->cinMax = cinMax;
    return true;
}

void AddJoinInput(JOINTABLE* pjoin, const char* pszName, STREAM* pstream)
{
    QF_ASSERT(pjoin->cin < pjoin->cinMax);
    JOININ* pin = &pjoin->rgin[pjoin->cin++];
    memset(pin, 0, sizeof *pin);
    pin->pszName = pszName;
    pin->pstream = pstream;
}
