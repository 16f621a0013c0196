// Joining overlapping downloads into one log: statistics per input, a preview of what each input
// adds, and a merge of every input's transient ring by time into a new log, each record once.
#include "driver/join.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "driver/options.h"
#include "records/scanner.h"
#include "support/heapsort.h"
#include "support/timecal.h"

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

// Reads a record's header; bytes past a short record read as zero.
RH ReadHeader(STREAM* pstream, long pos, int cb)
{
    RH rh;
    memset(&rh, 0, sizeof rh);
    pstream->FSetPos(pos);
    pstream->FReadBytes(cb < cbRecordHeader ? cb : cbRecordHeader, &rh);
    return rh;
}

bool FUsedUp(LSTAT* plstat)
{
    plstat->timestampCur = timestampErased;
    plstat->cbCur = 0;
    return false;
}

// Loads the first record at or after pos within the transient part; false when there is none.
bool FLoadRecordAt(LSTAT* plstat, long pos)
{
    int cb;
    if (!FScanToRecord(plstat->pstream, &pos, (long)plstat->lspanTransient.ibEnd, &cb))
        return FUsedUp(plstat);
    plstat->ibCur = pos;
    plstat->cbCur = cb;
    memset(plstat->rgbRec, 0, sizeof plstat->rgbRec);
    plstat->pstream->FSetPos(pos);
    plstat->pstream->FReadBytes(cb, plstat->rgbRec);
    plstat->timestampCur = TimestampFromRh((RH const*)plstat->rgbRec);
    return true;
}

void Advance(LSTAT* plstat)
{
    if (!_FReadNextRecordLstat(plstat)) {
        printf("%s finished\n", plstat->pszName);
        plstat->fFinished = true;
    }
}

bool FSkipCurrent(LSTAT const* plstat)
{
    return !FValidJoinTimestamp(plstat->timestampCur) ||
           plstat->timestampCur >= TimestampBound(plstat, secMergeWindow);
}

// A record that is passed over must not hold its input back until the other inputs are used up:
// its later records would then come out of time order.
void SkipAhead(LSTAT* plstat)
{
    while (!plstat->fFinished && FSkipCurrent(plstat)) {
        printf("Skip: %s ", plstat->pszName);
        ScanRecord(plstat->rgbRec, plstat->cbCur, grfdispShowRecord, nullptr);
        Advance(plstat);
    }
}

void PrintPreview(LSTAT* rglstat, int clstat)
{
    uint32_t timestampHigh = timestampEpoch2001;
    for (int i = 0; i < clstat; i++) {
        LSTAT* plstat = &rglstat[i];
        STREAM* pstream = plstat->pstream;
        char szMin[20], szMax[20], szHigh[20];
        printf("%s - %s %08lX %08lX %s\n", DateFromTimestamp(plstat->lspanTransient.timestampMin, szMin, 20),
               DateFromTimestamp(plstat->lspanTransient.timestampMax, szMax, 20),
               (unsigned long)plstat->lspanTransient.ibStart, (unsigned long)plstat->ibOldest, plstat->pszName);

        int cused = 0;
        uint64_t bound = TimestampBound(plstat, secPreviewWindow);
        auto count = [&](long pos, int cb) {
            RH rh = ReadHeader(pstream, pos, cb);
            uint32_t ts = TimestampFromRh(&rh);
            if (ts > timestampHigh && ts != timestampErased && ts < bound) {
                timestampHigh = ts;
                cused++;
            }
        };
        long cbSize = pstream->CbSize();
        long pos = (long)plstat->ibOldest;
        int cb;
        while (pos < cbSize && FScanToRecord(pstream, &pos, cbSize, &cb)) {
            count(pos, cb);
            pos += cb;
        }
        pos = (long)plstat->lspanTransient.ibStart;
        while (pos < plstat->ibOldest && FScanToRecord(pstream, &pos, cbSize, &cb) && pos < plstat->ibOldest) {
            count(pos, cb);
            pos += cb;
        }
        printf("\tused %d records, up to %s\n", cused, DateFromTimestamp(timestampHigh, szHigh, 20));
    }
}

// The inputs stay mapped while the output is written: writing over one of them would destroy it.
void RefuseOutputThatIsAnInput(LSTAT const* rglstat, int clstat, const char* pszOutput)
{
    struct stat stOut;
    if (stat(pszOutput, &stOut) != 0)
        return;
    for (int i = 0; i < clstat; i++) {
        struct stat stIn;
        if (stat(rglstat[i].pszName, &stIn) == 0 && stIn.st_dev == stOut.st_dev && stIn.st_ino == stOut.st_ino)
            GiveUsageAndExit("output file '%s' is also an input", pszOutput);
    }
}

// The joined log is written to a temporary file beside the output and renamed over it only when
// complete, so a failed join never leaves a truncated log under the output's name.
struct JOINOUT {
    std::string strTemp;
    FILE* pfile;
    bool fError;
    int errnoFirst;
};

void OpenJoinOutput(JOINOUT* pout, const char* pszOutput)
{
    // The temporary file lives in the output's folder, so that the final rename cannot cross file systems.
    const char* pchSlash = strrchr(pszOutput, '/');
    if (pchSlash)
        pout->strTemp.assign(pszOutput, (size_t)(pchSlash - pszOutput) + 1);
    else
        pout->strTemp.assign("./");
    pout->strTemp.append(".quenfell-join-XXXXXX");
    int fd = mkstemp(pout->strTemp.data());
    if (fd < 0)
        GiveUsageAndExit("can't open file '%s' for writing. %s.", pszOutput, strerror(errno));
    mode_t maskOld = umask(0);
    umask(maskOld);
    fchmod(fd, 0666 & ~maskOld);
    pout->pfile = fdopen(fd, "wb");
    if (!pout->pfile) {
        int err = errno;
        close(fd);
        unlink(pout->strTemp.c_str());
        GiveUsageAndExit("can't open file '%s' for writing. %s.", pszOutput, strerror(err));
    }
    pout->fError = false;
    pout->errnoFirst = 0;
}

void WriteJoinOutput(JOINOUT* pout, unsigned char const* pb, int cb)
{
    if (fwrite(pb, 1, (size_t)cb, pout->pfile) != (size_t)cb && !pout->fError) {
        pout->fError = true;
        pout->errnoFirst = errno;
    }
}

void CloseJoinOutput(JOINOUT* pout, const char* pszOutput)
{
    if (fflush(pout->pfile) != 0 && !pout->fError) {
        pout->fError = true;
        pout->errnoFirst = errno;
    }
    if (fclose(pout->pfile) != 0 && !pout->fError) {
        pout->fError = true;
        pout->errnoFirst = errno;
    }
    if (!pout->fError && rename(pout->strTemp.c_str(), pszOutput) != 0) {
        pout->fError = true;
        pout->errnoFirst = errno;
    }
    if (pout->fError) {
        unlink(pout->strTemp.c_str());
        GiveUsageAndExit("can't write file '%s'. %s.", pszOutput,
                         pout->errnoFirst ? strerror(pout->errnoFirst) : "write error");
    }
}

// A min-heap of input indices ordered by (timestamp, record type, place in the sorted table):
// the merge's choice of the next record, with the tie rules of a first-to-last search.
struct MERGEHEAP {
    LSTAT* rglstat;
    int* rgi;
    int c;
};

bool FBefore(MERGEHEAP const* pheap, int ia, int ib)
{
    LSTAT const& a = pheap->rglstat[ia];
    LSTAT const& b = pheap->rglstat[ib];
    if (a.timestampCur != b.timestampCur)
        return a.timestampCur < b.timestampCur;
    if (a.rgbRec[3] != b.rgbRec[3])
        return a.rgbRec[3] < b.rgbRec[3];
    return ia < ib;
}

void HeapPush(MERGEHEAP* pheap, int i)
{
    int k = pheap->c++;
    pheap->rgi[k] = i;
    while (k > 0 && FBefore(pheap, pheap->rgi[k], pheap->rgi[(k - 1) / 2])) {
        int kParent = (k - 1) / 2;
        std::swap(pheap->rgi[k], pheap->rgi[kParent]);
        k = kParent;
    }
}

int HeapPop(MERGEHEAP* pheap)
{
    int iTop = pheap->rgi[0];
    pheap->rgi[0] = pheap->rgi[--pheap->c];
    int k = 0;
    for (;;) {
        int kMin = k, kLeft = 2 * k + 1, kRight = kLeft + 1;
        if (kLeft < pheap->c && FBefore(pheap, pheap->rgi[kLeft], pheap->rgi[kMin]))
            kMin = kLeft;
        if (kRight < pheap->c && FBefore(pheap, pheap->rgi[kRight], pheap->rgi[kMin]))
            kMin = kRight;
        if (kMin == k)
            break;
        std::swap(pheap->rgi[k], pheap->rgi[kMin]);
        k = kMin;
    }
    return iTop;
}

void StartInputs(LSTAT* rglstat, int clstat)
{
    for (int i = 0; i < clstat; i++) {
        LSTAT* plstat = &rglstat[i];
        bool fLoaded = false;
        if (plstat->fHasTransient) {
            long ibStart = (long)plstat->lspanTransient.ibStart;
            // An oldest record outside the transient part (no plausible transient record) gives
            // no wrap point: the part is read once from its start instead.
            plstat->fNoWrap = plstat->ibOldest <= ibStart;
            plstat->ibCur = plstat->fNoWrap ? ibStart : (long)plstat->ibOldest;
            fLoaded = FLoadRecordAt(plstat, (long)plstat->ibCur);
        }
        if (!fLoaded) {
            FUsedUp(plstat);
            printf("%s finished\n", plstat->pszName);
            plstat->fFinished = true;
        }
    }
}

long MergeInputs(LSTAT* rglstat, int clstat, JOINOUT* pout)
{
    MERGEHEAP heap{rglstat, (int*)calloc((size_t)clstat + 1, sizeof(int)), 0};
    int* rgiGroup = (int*)calloc((size_t)clstat + 1, sizeof(int));
    if (!heap.rgi || !rgiGroup)
        GiveUsageAndExit("out of memory");
    for (int i = 0; i < clstat; i++) {
        SkipAhead(&rglstat[i]);
        if (!rglstat[i].fFinished)
            HeapPush(&heap, i);
    }

    long cwritten = 0;
    bool fWriting = false;
    unsigned char rgbChosen[cbRecordMax];
    while (heap.c > 0) {
        int cgroup = 0;
        rgiGroup[cgroup++] = HeapPop(&heap);
        LSTAT* pchosen = &rglstat[rgiGroup[0]];
        while (heap.c > 0 && rglstat[heap.rgi[0]].timestampCur == pchosen->timestampCur &&
               rglstat[heap.rgi[0]].rgbRec[3] == pchosen->rgbRec[3])
            rgiGroup[cgroup++] = HeapPop(&heap);

        bool fVinf = pchosen->rgbRec[3] == rtVINF;
        if (fWriting || fVinf) {
            if (!pchosen->fStarted) {
                printf("%s started\n", pchosen->pszName);
                pchosen->fStarted = true;
            }
            if (fVinf)
                ScanRecord(pchosen->rgbRec, pchosen->cbCur, 0, nullptr);
            WriteJoinOutput(pout, pchosen->rgbRec, pchosen->cbCur);
            cwritten++;
            fWriting = true;
        }

        int cbChosen = pchosen->cbCur;
        memcpy(rgbChosen, pchosen->rgbRec, (size_t)cbChosen);
        const char* pszChosen = pchosen->pszName;
        for (int k = cgroup - 1; k >= 0; k--) {
            LSTAT* plstat = &rglstat[rgiGroup[k]];
            if (plstat->cbCur != cbChosen || memcmp(plstat->rgbRec, rgbChosen, (size_t)cbChosen) != 0) {
                printf("NOTE: non-matching records\n");
                printf("%s: ", pszChosen);
                ScanRecord(rgbChosen, cbChosen, grfdispShowRecord, nullptr);
                printf("%s: ", plstat->pszName);
                ScanRecord(plstat->rgbRec, plstat->cbCur, grfdispShowRecord, nullptr);
                printf("--------------------------");
            }
            Advance(plstat);
            SkipAhead(plstat);
            if (!plstat->fFinished)
                HeapPush(&heap, rgiGroup[k]);
        }
    }
    free(heap.rgi);
    free(rgiGroup);
    return cwritten;
}

} // namespace

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
    long pos = 0;
    int cb;
    while (FScanToRecord(pstream, &pos, cbSize, &cb)) {
        pspan->ibEnd = pos + cb;
        RH rh = ReadHeader(pstream, pos, cb);
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
        pos += cb;
        if (pos >= cbSize)
            return;
    }
}

int _CmpLstat(unsigned int i, unsigned int j, void* ctx)
{
    LSTAT const* rglstat = (LSTAT const*)ctx;
    return rglstat[i].lspanTransient.timestampMax > rglstat[j].lspanTransient.timestampMax ? 1 : -1;
}

void _ReadRecordLstat(LSTAT* plstat)
{
    FLoadRecordAt(plstat, (long)plstat->ibCur);
}

bool _FReadNextRecordLstat(LSTAT* plstat)
{
    long pos = (long)(plstat->ibCur + plstat->cbCur);
    long ibEnd = (long)plstat->lspanTransient.ibEnd;
    int cb;
    if (!FScanToRecord(plstat->pstream, &pos, ibEnd, &cb)) {
        if (plstat->fNoWrap || plstat->fWrapped)
            return FUsedUp(plstat);
        plstat->fWrapped = true;
        pos = (long)plstat->lspanTransient.ibStart;
        if (!FScanToRecord(plstat->pstream, &pos, ibEnd, &cb))
            return FUsedUp(plstat);
    }
    // Back at (or, after damaged bytes, past) the oldest record: the ring has been read once.
    if (plstat->fWrapped && pos >= plstat->ibOldest)
        return FUsedUp(plstat);
    return FLoadRecordAt(plstat, pos);
}

void JoinLogs(LSTAT* rglstat, int clstat, const char* pszOutput)
{
    printf("\n");
    HeapSort(rglstat, (unsigned)clstat, (int)sizeof(LSTAT), _CmpLstat);
    PrintPreview(rglstat, clstat);
    RefuseOutputThatIsAnInput(rglstat, clstat, pszOutput);

    JOINOUT out;
    OpenJoinOutput(&out, pszOutput);
    StartInputs(rglstat, clstat);
    long cwritten = MergeInputs(rglstat, clstat, &out);
    CloseJoinOutput(&out, pszOutput);
    printf("%ld records written to %s\n", cwritten, pszOutput);

    for (int i = 0; i < clstat; i++) {
        delete rglstat[i].pstream;
        rglstat[i].pstream = nullptr;
    }
}
