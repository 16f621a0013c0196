// Merging overlapping downloads: statistics per input, a preview of what each adds, and the merge
// of their transient rings into one log, each record once, in time order. quenfell's join writes
// the merge to a file; the car page and the history database read it in memory.
#pragma once

#include <cstdint>

#include "input/stream.h"
#include "analysis/sections.h"
#include "records/record.h"
#include "records/scanner.h"
#include "support/failure.h"

struct LSPAN {
    int64_t ibStart;
    int64_t ibEnd;
    uint32_t timestampMin;
    uint32_t timestampMax;
};

// A stretch of records that the statistics pass found back to back, each one checked: the later
// walks over the same bytes take the records inside it by their count bytes alone.
struct LRUN {
    int64_t ibStart;
    int64_t ibEnd;
};
constexpr int clrunMax = 128;   // later stretches of a log with more are searched as before

// What the preview needs of a block of an input's transient part: where its first record lies and
// the newest of its records' times that the preview takes, so that it passes over a block that can
// neither raise its newest time nor add a time above the inputs before it.
struct PBLOCK {
    int64_t ibFirst;          // the first transient record that starts in the block; -1: none
    uint32_t timestampMax;    // the newest time after 2001 of its records below the preview's bound; 0: none
};
constexpr int cpblockMax = 256;

// What one input holds: found by one pass over its records, before anything is merged.
struct LSTAT {
    LSPAN lspanLongTerm;
    LSPAN lspanTransient;
    int64_t ibOldest;
    bool fHasTransient;   // a transient vehicle-info record was found
    LRUN rglrun[clrunMax];   // in file order
    int clrun;
    int cbitPblock;       // a block is 1 << cbitPblock bytes of the file, block i from i << cbitPblock
    PBLOCK rgpblock[cpblockMax];
};

// One input of the join: its statistics and where the merge stands in it.
struct JOININ {
    const char* pszName;
    STREAM* pstream;      // allocated with new; owned by the JOINTABLE
    LSTAT lstat;
    RINGWALK walk;        // the merge's walk over the transient part
    int64_t ibCur;
    int cbCur;
    uint32_t timestampCur;
    unsigned char const* pbCur;   // the current record: in the mapping, or rgbRec
    unsigned char rgbRec[cbRecordMax];   // a record of an unmapped stream, or one shorter than a header, zero-padded
    int64_t ibKept;       // the merge has let go of the pages of its walk's current leg before this
    int64_t ibPinned;     // where the bytes that wait to be handed on start in the mapping; -1: none
    bool fStarted;
    bool fFinished;
};

// The inputs of a merge, in the order they were given; owns their streams. Room for cinMax.
struct JOINTABLE {
    JOININ* rgin = nullptr;
    int cin = 0;
    int cinMax = 0;
    JOINTABLE() = default;
    JOINTABLE(JOINTABLE const&) = delete;
    JOINTABLE& operator=(JOINTABLE const&) = delete;
    ~JOINTABLE();
};
// Makes room for cinMax inputs; false when there is no memory for the table.
bool FReserveJoinTable(JOINTABLE* pjoin, int cinMax);
// Appends an input (room for it was reserved) and takes its stream, allocated with new.
void AddJoinInput(JOINTABLE* pjoin, const char* pszName, STREAM* pstream);

// What the merge says as it goes, in the order the join prints it: an input starts giving records,
// an input is used up, a record is passed over (it would be skipped), two inputs disagree about a
// record that both hold at the same time and of the same type (the first is written). Any may be
// null.
struct MERGEHOOK {
    void* pv;
    void (*pfnStarted)(void* pv, char const* pszName);
    void (*pfnFinished)(void* pv, char const* pszName);
    void (*pfnSkip)(void* pv, char const* pszName, unsigned char const* pb, int cb, VLR const* pvlr);
    void (*pfnMismatch)(void* pv, char const* pszWritten, unsigned char const* pbWritten, int cbWritten,
                        VLR const* pvlrWritten, char const* pszOther, unsigned char const* pbOther, int cbOther,
                        VLR const* pvlrOther);
};

// Fills both spans, ibOldest, fHasTransient, the stretches and the blocks of a cleared LSTAT. The input's pages
// are let go of afterwards (ReleaseBytes): a merge of many downloads holds in memory only what it
// is reading. With the section table of these bytes (playout) the records the section scan found
// back to back are not checked again. The blocks are noted only with fPreviewBlocks (for the join's
// preview, which passes over them); otherwise none is, and a preview walks every record.
void GetLogStats(STREAM* pstream, LSTAT* plstat, LOGLAYOUT const* playout = nullptr, bool fPreviewBlocks = false);
// GetLogStats for each of the cin inputs (their LSTATs cleared), with the preview's blocks, on up to
// cworker threads; false when a worker ran out of memory.
bool FGatherLogStats(JOININ* rgin, int cin, int cworker);
// Orders inputs (ctx: the JOININ array) by their newest transient timestamp (never 0: equal
// values give -1).
int _CmpLstat(unsigned int i, unsigned int j, void* ctx);
// Moves to the input's next record in ring order; false when the input is used up.
bool _FReadNextRecordLstat(JOININ* pin);
// Sorts the inputs by their newest transient time, the merge's order of preference.
void SortJoinInputs(JOININ* rgin, int cin);
// The most bytes a merge of the inputs (their statistics taken) can hand out: what their transient
// parts hold, each record once.
long CbMergeBound(JOININ const* rgin, int cin);
// Where the merge puts the bytes of the records it takes, in order: the joined log's file, or
// memory. Records that lie back to back in one input may come in one call. False stops the merge
// (the sink could not take them and knows why).
typedef bool (*PFNMERGEOUT)(void* pvOut, unsigned char const* pb, int cb);

// The merge: sorts the inputs (their statistics taken), then hands the bytes of every record the
// join writes to pfnOut, telling the hook what it does; the streams stay open. What the merge has
// passed of each input is let go of as it goes, so the memory it holds follows the inputs whose
// periods overlap its current time. The vehicle-info
// records written pass through pscan. Returns the number of records written, or -1 when there was
// no memory for the merge's tables or the sink stopped it.
long CrecMergeLogs(SCANSTATE* pscan, JOININ* rgin, int cin, MERGEHOOK const* phook, PFNMERGEOUT pfnOut, void* pvOut);
// The same on inputs that SortJoinInputs has sorted: sorting twice could reorder inputs of the same
// newest time, and with them the merge's choices.
long CrecMergeSortedLogs(SCANSTATE* pscan, JOININ* rgin, int cin, MERGEHOOK const* phook, PFNMERGEOUT pfnOut,
                         void* pvOut);

// One line of the join's preview: an input's transient span and where its ring starts and ends,
// and how many records it adds after those of the inputs before it, up to which time.
struct PREVIEWROW {
    char const* pszName;
    uint32_t timestampMin, timestampMax;
    int64_t ibStart, ibOldest;
    int cused;
    uint32_t timestampHigh;
};
typedef void (*PFNPREVIEW)(void* pv, PREVIEWROW const* prow);

// Hands a preview row per input, in the table's order, to pfnPreview, for inputs that
// SortJoinInputs has sorted; false when a worker ran out of memory. Each input's pages are let go
// of once it has been walked.
bool FPreviewSortedJoin(JOININ const* rgin, int cin, PFNPREVIEW pfnPreview, void* pv);
