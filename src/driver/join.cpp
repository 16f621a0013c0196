// Joining overlapping downloads into one log: statistics per input, a preview of what each input
// adds, and a merge of every input's transient ring by time into a new log, each record once.
#include "driver/join.h"

#include <algorithm>
#include <cerrno>
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

// Takes the record at pos as the input's current one.
bool FLoadRecord(JOININ* pin, long pos, int cb)
{
    pin->ibCur = pos;
    pin->cbCur = cb;
    memset(pin->rgbRec, 0, sizeof pin->rgbRec);
    pin->pstream->FSetPos(pos);
    pin->pstream->FReadBytes(cb, pin->rgbRec);
    pin->timestampCur = TimestampFromRh((RH const*)pin->rgbRec);
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
        ScanRecord(pscan, pin->rgbRec, pin->cbCur, grfdispShowRecord, nullptr);
        Advance(pin);
    }
}

// The times of the input's ring, walked from its oldest record (to the end of the file, then from
// the start of the transient part up to the oldest record again), that are newer than every
// plausible time before them, in rising order. Given the newest time taken from the inputs before,
// the input adds those of them above it: each raises the newest time in turn.
void FindRises(JOININ const* pin, std::vector<uint32_t>* prgts)
{
    LSTAT const* plstat = &pin->lstat;
    STREAM* pstream = pin->pstream;
    uint64_t bound = TimestampBound(plstat, secPreviewWindow);
    uint32_t timestampHigh = 0;
    RINGWALK walk;
    BeginRingWalk((long)plstat->ibOldest, (long)plstat->lspanTransient.ibStart, pstream->CbSize(), 1, &walk);
    long pos;
    int cb;
    while (FNextRingRecord(pstream, &walk, &pos, &cb)) {
        RH rh;
        FReadRecordHeader(pstream, pos, cb, &rh);
        uint32_t ts = TimestampFromRh(&rh);
        if ((prgts->empty() || ts > timestampHigh) && ts != timestampErased && ts < bound) {
            timestampHigh = ts;
            prgts->push_back(ts);
        }
    }
}

struct PREVIEW {
    JOININ const* rgin;
    std::vector<uint32_t>* rgrgts;
};

void FindRisesJob(void* pv, int iin)
{
    PREVIEW* ppreview = (PREVIEW*)pv;
    FindRises(&ppreview->rgin[iin], &ppreview->rgrgts[iin]);
}

void StatsJob(void* pv, int iin)
{
    JOININ* pin = &((JOININ*)pv)[iin];
    GetLogStats(pin->pstream, &pin->lstat);
}

void PrintPreview(JOININ const* rgin, int cin)
{
    std::vector<std::vector<uint32_t>> rgrgts((size_t)cin);
    PREVIEW preview{rgin, rgrgts.data()};
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
    if (a.rgbRec[3] != b.rgbRec[3])
        return a.rgbRec[3] < b.rgbRec[3] ? -1 : 1;
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

    long cwritten = 0;
    bool fWriting = false;
    unsigned char rgbChosen[cbRecordMax];
    while (heap.c > 0) {
        int cgroup = 0;
        rgiGroup[cgroup++] = HeapPop(&heap);
        JOININ* pchosen = &rgin[rgiGroup[0]];
        while (heap.c > 0 && rgin[heap.rgi[0]].timestampCur == pchosen->timestampCur &&
               rgin[heap.rgi[0]].rgbRec[3] == pchosen->rgbRec[3])
            rgiGroup[cgroup++] = HeapPop(&heap);

        bool fVinf = pchosen->rgbRec[3] == rtVINF;
        if (fWriting || fVinf) {
            if (!pchosen->fStarted) {
                printf("%s started\n", pchosen->pszName);
                pchosen->fStarted = true;
            }
            if (fVinf)
                ScanRecord(pscan, pchosen->rgbRec, pchosen->cbCur, 0, nullptr);
            pfnOut(pvOut, pchosen->rgbRec, pchosen->cbCur);
            cwritten++;
            fWriting = true;
        }

        int cbChosen = pchosen->cbCur;
        memcpy(rgbChosen, pchosen->rgbRec, (size_t)cbChosen);
        const char* pszChosen = pchosen->pszName;
        for (int k = cgroup - 1; k >= 0; k--) {
            JOININ* pin = &rgin[rgiGroup[k]];
            if (pin->cbCur != cbChosen || memcmp(pin->rgbRec, rgbChosen, (size_t)cbChosen) != 0) {
                printf("NOTE: non-matching records\n");
                printf("%s: ", pszChosen);
                ScanRecord(pscan, rgbChosen, cbChosen, grfdispShowRecord, nullptr);
                printf("%s: ", pin->pszName);
                ScanRecord(pscan, pin->rgbRec, pin->cbCur, grfdispShowRecord, nullptr);
                printf("--------------------------");
            }
            Advance(pin);
        }
        // Before the next choice, the inputs that moved pass over what they would skip, in the
        // table's sorted order.
        for (int k = 0; k < cgroup; k++) {
            JOININ* pin = &rgin[rgiGroup[k]];
            SkipAhead(pscan, pin);
            if (!pin->fFinished)
                HeapPush(&heap, rgiGroup[k]);
        }
    }
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
    long cbSize = pstream->CbSize();
    if (cbSize <= 0)
        return;

    LSPAN* pspan = &plstat->lspanLongTerm;
    bool fLongTerm = true;
    LINEARWALK walk;
    BeginLinearWalk(0, cbSize, &walk);
    long pos;
    int cb;
    while (FNextLinearRecord(pstream, &walk, &pos, &cb)) {
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
    if (!FNextRingRecord(pin->pstream, &pin->walk, &pos, &cb))
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
