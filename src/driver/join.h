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
};

void GetLogStats(STREAM* pstream, LSTAT* plstat);
int _CmpLstat(unsigned int i, unsigned int j, void* ctx);
// Previews and merges the clstat inputs into pszOutput, then closes and frees their streams.
void JoinLogs(LSTAT* rglstat, int clstat, const char* pszOutput);
