// Joining overlapping downloads into one log: statistics per input, a preview of what each input
// adds, and a merge of every input's transient ring by time into a new log, each record once.
#include "driver/join.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>
#include <new>
#include <vector>

#include "support/fatal.h"
#include "records/scanner.h"
#include "support/heapsort.h"
#include "support/outfile.h"
#include "support/timecal.h"
#include "support/workers.h"

namespace {

constexpr uint32_t secPreviewWindow = 432000;   // 5 days
constexpr uint32_t secMergeWindow = 2592000;    // 30 days
constexpr uint32_t timestampErased = 0xFFFFFFFF;
constexpr int grfdispShowRecord = fdispList | fdispRawBytes | fdispHeaderBytes;

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

// Takes the record at pos as the input's current one: read in place from the mapping, copied and
// zero-padded when the stream has none or the record is shorter than a header.
bool FLoadRecord(JOININ* pin, long pos, int cb)
{
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

void Advance(JOININ* pin)
{
    if (!_FReadNextRecordLstat(pin)) {
        printf("%s finished\n", pin->pszName);
        pin->fFinished = true;
    }
}

bool FSkipCurrent(JOININ const* pin)
{
    return !FValidJoinTimestamp(pin->timestampCur) ||
           pin->timestampCur >= TimestampBound(&pin->lstat, secMergeWindow);
}

// A record that is passed over must not hold its input back until the other inputs are used up:
// its later records would then come out of time order.
void SkipAhead(SCANSTATE* pscan, JOININ* pin)
{
    while (!pin->fFinished && FSkipCurrent(pin)) {
        printf("Skip: %s ", pin->pszName);
        ScanRecord(pscan, pin->pbCur, pin->cbCur, grfdispShowRecord, nullptr);
        Advance(pin);
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
    while (FNextInputRecord(pstream, plstat, &walk, &pos, &cb)) {
        RH rh;
        FReadRecordHeader(pstream, pos, cb, &rh);
        uint32_t ts = TimestampFromRh(&rh);
        if ((!fRisen || ts > timestampHigh) && ts != timestampErased && ts < bound) {
            fRisen = true;
            timestampHigh = ts;
            if (ts > timestampFloor)
                prgts->push_back(ts);
        }
    }
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
    GetLogStats(pin->pstream, &pin->lstat);
}

void PrintPreview(JOININ const* rgin, int cin)
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
    RunJobs(cin, CWorkers(), FindRisesJob, &preview);

    uint32_t timestampHigh = timestampEpoch2001;
    for (int i = 0; i < cin; i++) {
        LSTAT const* plstat = &rgin[i].lstat;
        char szMin[20], szMax[20], szHigh[20];
        printf("%s - %s %08lX %08lX %s\n", DateFromTimestamp(plstat->lspanTransient.timestampMin, szMin, 20),
               DateFromTimestamp(plstat->lspanTransient.timestampMax, szMax, 20),
               (unsigned long)plstat->lspanTransient.ibStart, (unsigned long)plstat->ibOldest, rgin[i].pszName);
        std::vector<uint32_t> const& rgts = rgrgts[(size_t)i];
        int cused = (int)(rgts.end() - std::upper_bound(rgts.begin(), rgts.end(), timestampHigh));
        if (cused > 0)
            timestampHigh = rgts.back();
        printf("\tused %d records, up to %s\n", cused, DateFromTimestamp(timestampHigh, szHigh, 20));
        rgrgts[(size_t)i] = std::vector<uint32_t>();
    }
}

// The inputs stay mapped while the output is written: writing over one of them would destroy it.
void RefuseOutputThatIsAnInput(JOININ const* rgin, int cin, const char* pszOutput)
{
    struct stat stOut;
    if (stat(pszOutput, &stOut) != 0)
        return;
    for (int i = 0; i < cin; i++) {
        struct stat stIn;
        if (stat(rgin[i].pszName, &stIn) == 0 && stIn.st_dev == stOut.st_dev && stIn.st_ino == stOut.st_ino)
            GiveUsageAndExit("output file '%s' is also an input", pszOutput);
    }
}

// The joined log takes the output's place only when complete, so a failed join never leaves a
// truncated log under the output's name (a pipe or device is written as the merge goes).
struct JOINOUT {
    OUTFILE outfile;
};

void OpenJoinOutput(JOINOUT* pout, const char* pszOutput)
{
    int err = ErrOpenOutFile(&pout->outfile, pszOutput);
    if (err != 0)
        GiveUsageAndExit("can't open file '%s' for writing. %s.", pszOutput, strerror(err));
}

void WriteJoinOutput(void* pvOut, unsigned char const* pb, int cb)
{
    WriteOutFile(&((JOINOUT*)pvOut)->outfile, pb, (size_t)cb);
}

void CloseJoinOutput(JOINOUT* pout, const char* pszOutput)
{
    int err = ErrCommitOutFile(&pout->outfile);
    if (err != 0)
        GiveUsageAndExit("can't write file '%s'. %s.", pszOutput, err > 0 ? strerror(err) : "write error");
}

// An input cut short while it was read gave zeros for the missing bytes: the merge of them must
// not replace the output.
void RefuseChangedInputs(JOININ const* rgin, int cin, JOINOUT* pout)
{
    for (int i = 0; i < cin; i++) {
        if (rgin[i].pstream->FChanged()) {
            AbandonOutFile(&pout->outfile);
            GiveUsageAndExit("file '%s' changed while it was being read.", rgin[i].pszName);
        }
    }
}

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

void StartInputs(JOININ* rgin, int cin)
{
    for (int i = 0; i < cin; i++) {
        JOININ* pin = &rgin[i];
        LSTAT const* plstat = &pin->lstat;
        bool fLoaded = false;
        if (plstat->fHasTransient) {
            long ibStart = (long)plstat->lspanTransient.ibStart;
            // An oldest record outside the transient part (no plausible transient record) gives
            // no wrap point: the part is read once from its start instead.
            bool fNoWrap = plstat->ibOldest <= ibStart;
            BeginRingWalk(fNoWrap ? ibStart : (long)plstat->ibOldest, ibStart, (long)plstat->lspanTransient.ibEnd,
                          !fNoWrap, &pin->walk);
            fLoaded = _FReadNextRecordLstat(pin);
        }
        if (!fLoaded) {
            FUsedUp(pin);
            printf("%s finished\n", pin->pszName);
            pin->fFinished = true;
        }
    }
}

// The bytes the merge has taken but not yet handed on: records that follow one another in one
// input's mapping go out in one piece.
struct MERGEOUT {
    PFNMERGEOUT pfnOut;
    void* pvOut;
    JOININ const* pinPending;   // whose mapping holds the pending bytes; null when none wait
    unsigned char const* pbPending;
    long cbPending;
};
constexpr long cbPendingMax = 1L << 26;   // well inside the int that PFNMERGEOUT takes

void FlushMergeOut(MERGEOUT* pmo)
{
    if (pmo->cbPending > 0)
        pmo->pfnOut(pmo->pvOut, pmo->pbPending, (int)pmo->cbPending);
    pmo->pinPending = nullptr;
    pmo->cbPending = 0;
}

// Takes cb bytes of the input's mapping at pb for the joined log, after the pending ones.
void PutMappedBytes(MERGEOUT* pmo, JOININ const* pin, unsigned char const* pb, long cb)
{
    if (pmo->pinPending == pin && pmo->pbPending + pmo->cbPending == pb && pmo->cbPending + cb <= cbPendingMax) {
        pmo->cbPending += cb;
        return;
    }
    FlushMergeOut(pmo);
    pmo->pinPending = pin;
    pmo->pbPending = pb;
    pmo->cbPending = cb;
}

// Takes the input's current record for the joined log. A copy in the input's own buffer changes
// with its next record, so it goes out at once.
void PutRecord(MERGEOUT* pmo, JOININ const* pin)
{
    if (pin->pbCur == pin->rgbRec) {
        FlushMergeOut(pmo);
        pmo->pfnOut(pmo->pvOut, pin->pbCur, pin->cbCur);
        return;
    }
    PutMappedBytes(pmo, pin, pin->pbCur, pin->cbCur);
}

// How many of the cb bytes at pbA and pbB are the same before the first that differs.
long CbSameStart(unsigned char const* pbA, unsigned char const* pbB, long cb)
{
    if (memcmp(pbA, pbB, (size_t)cb) == 0)
        return cb;
    constexpr long cbBlock = 64;
    long ib = 0;
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
        int cb = pb[ib + 2] + 2;
        if (pb[ib] != 0x03 || pb[ib + 1] != 0x02 || cb < cbRecordHeader || ib + cb > cbAvail)
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

long MergeInputs(SCANSTATE* pscan, JOININ* rgin, int cin, PFNMERGEOUT pfnOut, void* pvOut)
{
    std::unique_ptr<unsigned int[]> rgiHeap(new (std::nothrow) unsigned int[(size_t)cin + 1]);
    std::unique_ptr<unsigned int[]> rgiGroup(new (std::nothrow) unsigned int[(size_t)cin + 1]);
    if (!rgiHeap || !rgiGroup)
        GiveUsageAndExit("out of memory");
    HEAP heap{rgiHeap.get(), 0, CmpMergeOrder, rgin};
    for (int i = 0; i < cin; i++) {
        SkipAhead(pscan, &rgin[i]);
        if (!rgin[i].fFinished)
            HeapPush(&heap, (unsigned int)i);
    }

    MERGEOUT mo{pfnOut, pvOut, nullptr, nullptr, 0};
    int crecPass = crecPassFirst;
    long cwritten = 0;
    bool fWriting = false;
    // The group: the inputs whose current records are chosen together, in table order; empty when
    // the next group is to be taken from the heap.
    int cgroup = 0;
    while (cgroup > 0 || heap.c > 0) {
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
            cwritten += crec;
            if (fCut)
                crecPass = 1;
            else if (crec == crecPass && crecPass < crecPassMax)
                crecPass *= 2;
        }

        bool fVinf = pchosen->pbCur[3] == rtVINF;
        if (fWriting || fVinf) {
            if (!pchosen->fStarted) {
                printf("%s started\n", pchosen->pszName);
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
                printf("NOTE: non-matching records\n");
                printf("%s: ", pszChosen);
                ScanRecord(pscan, pbChosen, cbChosen, grfdispShowRecord, nullptr);
                printf("%s: ", pin->pszName);
                ScanRecord(pscan, pin->pbCur, pin->cbCur, grfdispShowRecord, nullptr);
                printf("--------------------------");
            }
            Advance(pin);
        }
        // Before the next choice, the inputs that moved pass over what they would skip, in the
        // table's sorted order.
        int cmoved = 0;
        for (int k = 0; k < cgroup; k++) {
            JOININ* pin = &rgin[rgiGroup[k]];
            SkipAhead(pscan, pin);
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
    return cwritten;
}

} // namespace

void GatherLogStats(JOININ* rgin, int cin, int cworker)
{
    RunJobs(cin, cworker, StatsJob, rgin);
}

void GetLogStats(STREAM* pstream, LSTAT* plstat)
{
    plstat->lspanLongTerm.ibStart = 0;
    plstat->lspanLongTerm.timestampMin = plstat->lspanTransient.timestampMin = timestampErased;
    plstat->lspanLongTerm.timestampMax = plstat->lspanTransient.timestampMax = 0;
    plstat->clrun = 0;
    long cbSize = pstream->CbSize();
    if (cbSize <= 0)
        return;

    LSPAN* pspan = &plstat->lspanLongTerm;
    bool fLongTerm = true;
    unsigned char const* pbMap = pstream->PbMap();
    LINEARWALK walk;
    BeginLinearWalk(0, cbSize, &walk);
    // The stretch of back-to-back records that the current one ends.
    long ibLrunStart = 0;
    long ibLrunEnd = -1;
    int crecLrun = 0;
    for (;;) {
        // A record right where the last one ended is taken here; the walk searches for the others.
        long pos = walk.pos;
        int cb = pbMap && pos + 3 <= cbSize ? CbRecordAt(pbMap, cbSize, pos) : 0;
        if (cb != 0)
            walk.pos = pos + cb;
        else if (!FNextLinearRecord(pstream, &walk, &pos, &cb))
            break;
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
        }
        if (FValidJoinTimestamp(ts) && (fLongTerm || ts < TimestampBound(plstat, secPreviewWindow))) {
            if (ts < pspan->timestampMin) {
                pspan->timestampMin = ts;
                plstat->ibOldest = pos;
            }
            if (ts > pspan->timestampMax)
                pspan->timestampMax = ts;
        }
    }
    NoteLrun(plstat, ibLrunStart, ibLrunEnd, crecLrun);
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

long MergeLogs(SCANSTATE* pscan, JOININ* rgin, int cin, PFNMERGEOUT pfnOut, void* pvOut)
{
    HeapSort(rgin, (unsigned)cin, (int)sizeof(JOININ), _CmpLstat);
    StartInputs(rgin, cin);
    return MergeInputs(pscan, rgin, cin, pfnOut, pvOut);
}

void JoinLogs(SCANSTATE* pscan, JOININ* rgin, int cin, const char* pszOutput)
{
    printf("\n");
    HeapSort(rgin, (unsigned)cin, (int)sizeof(JOININ), _CmpLstat);
    PrintPreview(rgin, cin);
    RefuseOutputThatIsAnInput(rgin, cin, pszOutput);

    JOINOUT out;
    OpenJoinOutput(&out, pszOutput);
    StartInputs(rgin, cin);
    long cwritten = MergeInputs(pscan, rgin, cin, WriteJoinOutput, &out);
    RefuseChangedInputs(rgin, cin, &out);
    CloseJoinOutput(&out, pszOutput);
    printf("%ld records written to %s\n", cwritten, pszOutput);

    for (int i = 0; i < cin; i++) {
        delete rgin[i].pstream;
        rgin[i].pstream = nullptr;
    }
}
