// Joining overlapping downloads: statistics per input, a preview, and the merge into one log.
#pragma once

#include <cstdint>

#include "input/stream.h"
#include "analysis/sections.h"
#include "records/record.h"
#include "records/scanner.h"

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

// What one input holds: found by one pass over its records, before anything is merged.
struct LSTAT {
    LSPAN lspanLongTerm;
    LSPAN lspanTransient;
    int64_t ibOldest;
    bool fHasTransient;   // a transient vehicle-info record was found
    LRUN rglrun[clrunMax];   // in file order
    int clrun;
};

// One input of the join: its statistics and where the merge stands in it.
struct JOININ {
    const char* pszName;
    STREAM* pstream;      // allocated with new; JoinLogs deletes it
    LSTAT lstat;
    RINGWALK walk;        // the merge's walk over the transient part
    int64_t ibCur;
    int cbCur;
    uint32_t timestampCur;
    unsigned char const* pbCur;   // the current record: in the mapping, or rgbRec
    unsigned char rgbRec[cbRecordMax];   // a record of an unmapped stream, or one shorter than a header, zero-padded
    bool fStarted;
    bool fFinished;
};

// Fills both spans, ibOldest, fHasTransient and the stretches of a cleared LSTAT.
void GetLogStats(STREAM* pstream, LSTAT* plstat);
// GetLogStats for each of the cin inputs (their LSTATs cleared), on up to cworker threads.
void GatherLogStats(JOININ* rgin, int cin, int cworker);
// Orders inputs (ctx: the JOININ array) by their newest transient timestamp (never 0: equal
// values give -1).
int _CmpLstat(unsigned int i, unsigned int j, void* ctx);
// Moves to the input's next record in ring order; false when the input is used up.
bool _FReadNextRecordLstat(JOININ* pin);
// Where the merge puts the bytes of the records it takes, in order: the joined log's file, or
// memory. Records that lie back to back in one input may come in one call.
typedef void (*PFNMERGEOUT)(void* pvOut, unsigned char const* pb, int cb);
// The join's merge without its file: sorts the inputs (statistics taken), then hands the bytes of
// every record the join would write to pfnOut, and returns the number of records. Progress lines
// go to standard output as the join prints them; the streams stay open.
long MergeLogs(SCANSTATE* pscan, JOININ* rgin, int cin, PFNMERGEOUT pfnOut, void* pvOut);
// Previews and merges the cin inputs into pszOutput, then closes and frees their streams. The
// vehicle-info records written pass through pscan. Fatal errors end the program.
void JoinLogs(SCANSTATE* pscan, JOININ* rgin, int cin, const char* pszOutput);
