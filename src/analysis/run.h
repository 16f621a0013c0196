// The state of one decoding run and the request to decode one log. The driver creates a RUN for
// the whole command line (a worker would create its own) and passes it to every call below; nothing
// of a run lives anywhere else.
#pragma once

#include "analysis/sections.h"
#include "analysis/sessions.h"
#include "input/stream.h"
#include "records/scanner.h"

// Prints the user's notes in (timestampPrev, timestampCur], indented; 1 if any was printed.
typedef int (*PFNNOTES)(void* pvContext, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent);

struct RUN {
    SCANSTATE scan;                  // vehicle information, record-type tally, battery collector
    unsigned int timestampLastValid; // the newest time a record of the current input may carry
    PFNNOTES pfnNotes;               // null: no notes
    void* pvNotes;
    LOGLAYOUT layout;                // the sections of the log being decoded
};

// A run with nothing known yet: no vehicle, no notes, no collector, no time limit set.
void InitRun(RUN* prun);

// What to make of one log: the session summary, or a listing of one part through the filters.
struct DECODE {
    int fVerbose = 0;
    int fSummary = 0;
    int fChargeDetail = 0;
    int grfDisplay = 0;               // fdisp* flags
    int fPermanent = 0;               // list the long-term part instead of the transient ring
    unsigned int grfRt = 0;           // record types to list (bit rt); 0: every type
    unsigned int timestampStart = 0;  // 0: no lower bound
    unsigned int timestampEnd = 0;    // 0: no upper bound
    const char* pszPath = "";         // the name the totals line gives the log
    SESSIONHOOK const* phook = nullptr;  // the summary's records and sessions also go here
};

// 1 when a record with this header timestamp and type passes the request's filters. Inline: the
// walks ask it of every record.
inline int FPassesFilter(DECODE const& decode, unsigned int timestamp, int rt)
{
    constexpr unsigned int timestampNone = 0xFFFFFFFFu;
    // Erased-flash times would pass an open end bound, but a time window never means them.
    if ((decode.timestampStart || decode.timestampEnd) && timestamp == timestampNone)
        return 0;
    if (timestamp < decode.timestampStart)
        return 0;
    if (decode.timestampEnd && timestamp > decode.timestampEnd)
        return 0;
    if (decode.grfRt && !(decode.grfRt & (1u << ((unsigned int)rt % 32))))
        return 0;
    return 1;
}

// Prints the notes in (timestampPrev, timestampCur]; 1 if any was printed, 0 without notes.
inline int FPrintNotes(RUN const* prun, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
{
    return prun->pfnNotes ? prun->pfnNotes(prun->pvNotes, timestampPrev, timestampCur, cchIndent) : 0;
}
