// Joining overlapping downloads: statistics per input, a preview, and the merge into one log.
#pragma once

#include <cstdint>

#include "input/stream.h"
#include "records/record.h"

struct LSPAN {
    int64_t ibStart;
    int64_t ibEnd;
    uint32_t timestampMin;
    uint32_t timestampMax;
};

struct LSTAT {
    const char* pszName;
    LSPAN lspanLongTerm;
    LSPAN lspanTransient;
    int64_t ibOldest;
    STREAM* pstream;
    int64_t ibCur;
    uint32_t timestampCur;
    int cbCur;
    bool fNoWrap;
    bool fStarted;
    bool fFinished;
    unsigned char rgbRec[cbRecordMax];
    bool fHasTransient;   // a transient vehicle-info record was found
    bool fWrapped;        // the merge's walk has wrapped to the transient part's start
};

// Fills both spans, ibOldest and fHasTransient of a cleared entry.
void GetLogStats(STREAM* pstream, LSTAT* plstat);
// Orders entries by their newest transient timestamp (never 0: equal values give -1).
int _CmpLstat(unsigned int i, unsigned int j, void* ctx);
// Loads the record at (or, past damaged bytes, after) ibCur within the transient part.
void _ReadRecordLstat(LSTAT* plstat);
// Moves to the input's next record in ring order; false when the input is used up.
bool _FReadNextRecordLstat(LSTAT* plstat);
// Previews and merges the clstat inputs into pszOutput, then closes and frees their streams
// (each pstream was allocated with new). Fatal errors end the program.
void JoinLogs(LSTAT* rglstat, int clstat, const char* pszOutput);
