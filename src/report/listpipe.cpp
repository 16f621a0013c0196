// The listing's records formatted on every core. The caller fills one block at a time with copies
// of the records; a full block waits for any thread to format it (the caller's too, when it would
// otherwise wait), and the caller writes the formatted blocks in their order. A block that ran out
// of memory while it was formatted is formatted again by the caller, straight to standard output.
#include "report/listpipe.h"

#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "records/listing.h"
#include "support/assert.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

// Enough records that a block's hand-over costs little beside its formatting, few enough that
// the blocks of every thread stay in the caches' reach.
constexpr int crecBlock = 2048;
constexpr int cblockPerThread = 2;

struct LISTREC {
    long pos;
    int cb;
    int grfDisplay;
    int ibVlr;   // its decoded values in the block's rgb, followed by its bytes
};

enum BLOCKSTATE { blockFree, blockWaiting, blockFormatting, blockFormatted };

struct LISTBLOCK {
    BLOCKSTATE state;
    int crec;
    int cb;
    bool fFailed;   // the buffer ran out of memory
    OUTBUF out;
    LISTREC rgrec[crecBlock];
    // Each record's values and bytes back to back, so that a block's copies touch little memory:
    // of the values only what comes before the description, unless the line shows it.
    alignas(VLR) unsigned char rgb[crecBlock * (sizeof(VLR) + cbRecordBuffer)];
};

constexpr size_t cbVlrShort = offsetof(VLR, szDesc);
static_assert(cbVlrShort % alignof(VLR) == 0 && cbRecordBuffer % alignof(VLR) == 0,
              "each record's values stay aligned");

VLR const* PvlrOf(LISTBLOCK const* pblock, LISTREC const& rec)
{
    return (VLR const*)(pblock->rgb + rec.ibVlr);
}

unsigned char const* PbOf(LISTBLOCK const* pblock, LISTREC const& rec)
{
    VLR const* pvlr = PvlrOf(pblock, rec);
    size_t cbVlr = (pvlr->grf & fvlrDesc) ? sizeof(VLR) : cbVlrShort;
    return pblock->rgb + rec.ibVlr + cbVlr;
}

}   // namespace

struct LISTPIPE {
    std::mutex mtx;
    std::condition_variable cv;
    std::vector<std::thread> rgthread;
    int cthreadMax;             // threads besides the caller's, once they start
    bool fStarted;
    bool fStop;
    LISTBLOCK* rgblock;         // cblock of them; block n of the listing is rgblock[n % cblock]
    int cblock;
    long iblockFill;            // the block the caller fills
    long iblockFormat;          // the next block a thread takes to format
    long iblockWrite;           // the next block the caller writes
    DATEMEMO memoCaller;
};

namespace {

LISTBLOCK* PblockOf(LISTPIPE* ppipe, long iblock)
{
    return &ppipe->rgblock[iblock % ppipe->cblock];
}

void FormatBlock(LISTBLOCK* pblock, DATEMEMO* pmemo)
{
    pblock->out.cch = 0;
    pblock->out.fFailed = false;
    SetThreadOutput(&pblock->out);
    for (int irec = 0; irec < pblock->crec; irec++) {
        LISTREC const& rec = pblock->rgrec[irec];
        PrintRecordLineMemo(rec.pos, PbOf(pblock, rec), rec.cb, PvlrOf(pblock, rec), rec.grfDisplay, pmemo);
    }
    SetThreadOutput(nullptr);
    pblock->fFailed = pblock->out.fFailed;
}

// Formats the next waiting block, the lock held on entry and on return.
void FormatNext(LISTPIPE* ppipe, std::unique_lock<std::mutex>& lock, DATEMEMO* pmemo)
{
    QF_ASSERT(ppipe->iblockFormat < ppipe->iblockFill);
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockFormat++);
    QF_ASSERT(pblock->state == blockWaiting);
    pblock->state = blockFormatting;
    lock.unlock();
    FormatBlock(pblock, pmemo);
    lock.lock();
    pblock->state = blockFormatted;
    ppipe->cv.notify_all();
}

void RunFormatter(LISTPIPE* ppipe)
{
    DATEMEMO memo{};
    std::unique_lock<std::mutex> lock(ppipe->mtx);
    for (;;) {
        ppipe->cv.wait(lock, [ppipe] { return ppipe->fStop || ppipe->iblockFormat < ppipe->iblockFill; });
        if (ppipe->iblockFormat < ppipe->iblockFill)
            FormatNext(ppipe, lock, &memo);
        else
            return;
    }
}

// A thread that cannot be started leaves its share to the others and the caller.
void StartFormatters(LISTPIPE* ppipe)
{
    ppipe->fStarted = true;
    PrepareDateZones();
    for (int i = 0; i < ppipe->cthreadMax; i++) {
        try {
            ppipe->rgthread.emplace_back(RunFormatter, ppipe);
        } catch (std::system_error const&) {
            break;
        } catch (std::bad_alloc const&) {
            break;
        }
    }
}

// Writes the oldest block once it is formatted (formatting a waiting one meanwhile rather than
// waiting), the lock held on entry and on return.
void WriteOldest(LISTPIPE* ppipe, std::unique_lock<std::mutex>& lock)
{
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockWrite);
    while (pblock->state != blockFormatted) {
        if (ppipe->iblockFormat < ppipe->iblockFill)
            FormatNext(ppipe, lock, &ppipe->memoCaller);
        else
            ppipe->cv.wait(lock);
    }
    lock.unlock();
    if (pblock->fFailed) {
        for (int irec = 0; irec < pblock->crec; irec++) {
            LISTREC const& rec = pblock->rgrec[irec];
            PrintRecordLineMemo(rec.pos, PbOf(pblock, rec), rec.cb, PvlrOf(pblock, rec), rec.grfDisplay,
                                &ppipe->memoCaller);
        }
    } else {
        OutCch(pblock->out.pch, pblock->out.cch);
    }
    lock.lock();
    pblock->state = blockFree;
    pblock->crec = 0;
    pblock->cb = 0;
    ppipe->iblockWrite++;
}

// Hands the block being filled to the formatters and makes the next one free to fill.
void SubmitBlock(LISTPIPE* ppipe)
{
    if (!ppipe->fStarted)
        StartFormatters(ppipe);
    std::unique_lock<std::mutex> lock(ppipe->mtx);
    PblockOf(ppipe, ppipe->iblockFill)->state = blockWaiting;
    ppipe->iblockFill++;
    ppipe->cv.notify_all();
    while (ppipe->iblockFill - ppipe->iblockWrite >= ppipe->cblock ||
           (ppipe->iblockWrite < ppipe->iblockFill && PblockOf(ppipe, ppipe->iblockWrite)->state == blockFormatted))
        WriteOldest(ppipe, lock);
}

}   // namespace

LISTPIPE* PlistpipeOpen(int cworker)
{
    if (cworker <= 1)
        return nullptr;
    LISTPIPE* ppipe = new (std::nothrow) LISTPIPE();
    if (!ppipe)
        return nullptr;
    ppipe->cthreadMax = cworker - 1;
    ppipe->cblock = cblockPerThread * cworker;
    // Only the parts of the blocks that records fill are ever touched.
    ppipe->rgblock = (LISTBLOCK*)calloc((size_t)ppipe->cblock, sizeof(LISTBLOCK));
    if (!ppipe->rgblock) {
        delete ppipe;
        return nullptr;
    }
    return ppipe;
}

void PipeRecord(LISTPIPE* ppipe, SHOWNRECORD const* prec, int grfDisplay)
{
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockFill);
    QF_ASSERT(pblock->state == blockFree && pblock->crec < crecBlock);
    LISTREC* plistrec = &pblock->rgrec[pblock->crec];
    plistrec->pos = prec->pos;
    plistrec->cb = prec->cb;
    plistrec->grfDisplay = grfDisplay;
    plistrec->ibVlr = pblock->cb;
    size_t cbVlr = (prec->pvlr->grf & fvlrDesc) ? sizeof(VLR) : cbVlrShort;
    memcpy(pblock->rgb + pblock->cb, (void const*)prec->pvlr, cbVlr);
    // The line reads the record's bytes and its header, even of a record shorter than one.
    int cbCopy = prec->cb > cbRecordHeader ? prec->cb : cbRecordHeader;
    QF_ASSERT(cbCopy <= cbRecordBuffer);
    memcpy(pblock->rgb + pblock->cb + cbVlr, prec->pb, (size_t)cbCopy);
    pblock->cb += (int)(cbVlr + ((size_t)cbCopy + alignof(VLR) - 1) / alignof(VLR) * alignof(VLR));
    if (++pblock->crec == crecBlock)
        SubmitBlock(ppipe);
}

void DrainListPipe(LISTPIPE* ppipe)
{
    if (PblockOf(ppipe, ppipe->iblockFill)->crec == 0 && ppipe->iblockWrite == ppipe->iblockFill)
        return;
    std::unique_lock<std::mutex> lock(ppipe->mtx);
    if (PblockOf(ppipe, ppipe->iblockFill)->crec > 0) {
        PblockOf(ppipe, ppipe->iblockFill)->state = blockWaiting;
        ppipe->iblockFill++;
        ppipe->cv.notify_all();
    }
    while (ppipe->iblockWrite < ppipe->iblockFill)
        WriteOldest(ppipe, lock);
}

void CloseListPipe(LISTPIPE* ppipe)
{
    if (!ppipe)
        return;
    DrainListPipe(ppipe);
    {
        std::lock_guard<std::mutex> lock(ppipe->mtx);
        ppipe->fStop = true;
    }
    ppipe->cv.notify_all();
    for (std::thread& thread : ppipe->rgthread)
        thread.join();
    for (int iblock = 0; iblock < ppipe->cblock; iblock++)
        FreeOutBuf(&ppipe->rgblock[iblock].out);
    free(ppipe->rgblock);
    delete ppipe;
}
