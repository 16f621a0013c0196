// The listing's records formatted on every core. The caller fills one block at a time: with copies
// of the records while fewer blocks wait than two for each other thread to take them, so that none
// of them waits for work, else with the records' lines, formatted at once (a copy only costs where
// nobody else would format it, as when the other cores are busy). The caller also walks and
// decodes the log, so the other threads are given the larger share. A block of copies holds the
// records' bytes and the decoded values of its first record only: whoever formats it decodes the
// others again, each from the values before it, as the walk decoded them. A block of copies waits
// for any thread to format it (the caller's too, when it would otherwise wait), and the caller
// writes the blocks in their order. A block of copies that ran out of memory while it was formatted
// is formatted again by the caller, straight to standard output; when the caller's own block runs
// out, everything taken is written and the rest of the listing is printed as it comes.
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
// The blocks of copies that may wait for each thread besides the caller's before the caller formats
// a block itself.
constexpr int cblockWaitingPerThread = 2;

struct LISTREC {
    long pos;
    int cb;
    int grfDisplay;
    int rver;   // the vehicle type it was decoded with
    int ibRec;  // its bytes in the block's rgb, zero past them up to cbFieldsMax
};

enum BLOCKSTATE { blockFree, blockWaiting, blockFormatting, blockFormatted };

struct LISTBLOCK {
    BLOCKSTATE state;
    int crec;
    int cb;
    bool fLines;    // holds the lines the caller formatted as it filled it, no copies
    bool fFailed;   // the buffer ran out of memory
    OUTBUF out;
    VLR vlrFirst;   // the first record's decoded values
    LISTREC rgrec[crecBlock];
    alignas(16) unsigned char rgb[crecBlock * cbRecordBuffer];
};

static_assert(cbRecordBuffer % 16 == 0 && cbRecordBuffer >= cbFieldsMax, "each record's bytes stay aligned");

// The lines of a block of copies, each record's values decoded from those of the record before
// it, as the walk decodes them into the one VLR it keeps.
void PrintBlockLines(LISTBLOCK const* pblock, DATEMEMO* pmemo)
{
    VLR vlr;
    memcpy((void*)&vlr, (void const*)&pblock->vlrFirst, sizeof vlr);
    for (int irec = 0; irec < pblock->crec; irec++) {
        LISTREC const& rec = pblock->rgrec[irec];
        unsigned char const* pb = pblock->rgb + rec.ibRec;
        if (irec > 0)
            DecodeRecord(pb, rec.rver, &vlr);
        PrintRecordLineMemo(rec.pos, pb, rec.cb, &vlr, rec.grfDisplay, pmemo);
    }
}

}   // namespace

struct LISTPIPE {
    std::mutex mtx;
    std::condition_variable cv;
    std::vector<std::thread> rgthread;
    int cthreadMax;             // threads besides the caller's, once they start
    int cthread;                // those that started
    int cwaiting;               // blocks of copies that no thread has taken yet
    bool fStarted;
    bool fStop;
    bool fDirect;               // the rest of the listing is printed as it comes
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
    PrintBlockLines(pblock, pmemo);
    SetThreadOutput(nullptr);
    pblock->fFailed = pblock->out.fFailed;
}

// Whether a block of copies waits to be formatted, the lock held: the next one to take is moved past
// the blocks of lines, which were formatted as they were filled.
bool FBlockWaits(LISTPIPE* ppipe)
{
    while (ppipe->iblockFormat < ppipe->iblockFill && PblockOf(ppipe, ppipe->iblockFormat)->fLines)
        ppipe->iblockFormat++;
    return ppipe->iblockFormat < ppipe->iblockFill;
}

// Formats the next waiting block, the lock held on entry and on return.
void FormatNext(LISTPIPE* ppipe, std::unique_lock<std::mutex>& lock, DATEMEMO* pmemo)
{
    QF_ASSERT(ppipe->iblockFormat < ppipe->iblockFill);
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockFormat++);
    QF_ASSERT(pblock->state == blockWaiting && !pblock->fLines);
    ppipe->cwaiting--;
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
        ppipe->cv.wait(lock, [ppipe] { return ppipe->fStop || FBlockWaits(ppipe); });
        if (FBlockWaits(ppipe))
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
            ppipe->cthread++;
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
        if (FBlockWaits(ppipe))
            FormatNext(ppipe, lock, &ppipe->memoCaller);
        else
            ppipe->cv.wait(lock);
    }
    lock.unlock();
    if (pblock->fFailed) {
        PrintBlockLines(pblock, &ppipe->memoCaller);
    } else {
        OutBlock(pblock->out.pch, pblock->out.cch);
    }
    lock.lock();
    pblock->state = blockFree;
    pblock->crec = 0;
    pblock->cb = 0;
    ppipe->iblockWrite++;
    // A block of lines can be written before the formatters' next block moved past it; its slot is
    // filled again next.
    if (ppipe->iblockFormat < ppipe->iblockWrite)
        ppipe->iblockFormat = ppipe->iblockWrite;
}

// Hands the block being filled on, the lock held: to the formatters, or, a block of lines, as done.
void PassOnFilled(LISTPIPE* ppipe)
{
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockFill);
    if (pblock->fLines) {
        pblock->state = blockFormatted;
    } else {
        pblock->state = blockWaiting;
        ppipe->cwaiting++;
    }
    ppipe->iblockFill++;
    ppipe->cv.notify_all();
}

// Hands a full block on and makes the next one free to fill; the formatters start with the first.
void SubmitBlock(LISTPIPE* ppipe)
{
    if (!ppipe->fStarted)
        StartFormatters(ppipe);
    std::unique_lock<std::mutex> lock(ppipe->mtx);
    PassOnFilled(ppipe);
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
    if (ppipe->fDirect) {
        PrintRecordLine(prec->pos, prec->pb, prec->cb, prec->pvlr, grfDisplay);
        return;
    }
    LISTBLOCK* pblock = PblockOf(ppipe, ppipe->iblockFill);
    QF_ASSERT(pblock->state == blockFree && pblock->crec < crecBlock);
    if (pblock->crec == 0) {
        std::lock_guard<std::mutex> lock(ppipe->mtx);
        pblock->fLines = ppipe->cwaiting >= cblockWaitingPerThread * ppipe->cthread;
        pblock->fFailed = false;
        pblock->out.cch = 0;
        pblock->out.fFailed = false;
    }
    if (pblock->fLines) {
        size_t cchBefore = pblock->out.cch;
        SetThreadOutput(&pblock->out);
        PrintRecordLineMemo(prec->pos, prec->pb, prec->cb, prec->pvlr, grfDisplay, &ppipe->memoCaller);
        SetThreadOutput(nullptr);
        if (pblock->out.fFailed) {
            // Without room for its line: what came before goes out, then this record and the rest
            // are printed as they come.
            pblock->out.cch = cchBefore;
            pblock->out.fFailed = false;
            if (pblock->crec > 0) {
                SubmitBlock(ppipe);
            } else {
                pblock->fLines = false;
            }
            DrainListPipe(ppipe);
            ppipe->fDirect = true;
            PrintRecordLine(prec->pos, prec->pb, prec->cb, prec->pvlr, grfDisplay);
            return;
        }
        if (++pblock->crec == crecBlock)
            SubmitBlock(ppipe);
        return;
    }
    if (pblock->crec == 0)
        memcpy((void*)&pblock->vlrFirst, (void const*)prec->pvlr, sizeof(VLR));
    LISTREC* plistrec = &pblock->rgrec[pblock->crec];
    plistrec->pos = prec->pos;
    plistrec->cb = prec->cb;
    plistrec->grfDisplay = grfDisplay;
    plistrec->rver = prec->rver;
    plistrec->ibRec = pblock->cb;
    // The line reads the record's bytes and its header, even of a record shorter than one; the
    // decoder reads cbFieldsMax bytes, zero past the record's.
    int cbCopy = prec->cb > cbRecordHeader ? prec->cb : cbRecordHeader;
    QF_ASSERT(cbCopy <= cbRecordBuffer);
    unsigned char* pbTo = pblock->rgb + pblock->cb;
    memset(pbTo, 0, cbFieldsMax);
    memcpy(pbTo, prec->pb, (size_t)cbCopy);
    int cbTaken = cbCopy > cbFieldsMax ? cbCopy : cbFieldsMax;
    pblock->cb += (cbTaken + 15) & ~15;
    if (++pblock->crec == crecBlock)
        SubmitBlock(ppipe);
}

void DrainListPipe(LISTPIPE* ppipe)
{
    if (PblockOf(ppipe, ppipe->iblockFill)->crec == 0 && ppipe->iblockWrite == ppipe->iblockFill)
        return;
    std::unique_lock<std::mutex> lock(ppipe->mtx);
    if (PblockOf(ppipe, ppipe->iblockFill)->crec > 0)
        PassOnFilled(ppipe);
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
