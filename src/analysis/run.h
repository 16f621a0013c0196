// The state of one decoding run and the request to decode one log. The caller creates a RUN for
// the whole command line (a worker creates its own) and passes it to every call below; nothing of a
// run lives anywhere else.
#pragma once

#include "analysis/consumer.h"
#include "analysis/sections.h"
#include "input/stream.h"
#include "records/scanner.h"
#include "support/assert.h"

struct RUN {
    SCANSTATE scan;                  // vehicle information, record-type tally, battery collector
    unsigned int timestampLastValid; // the newest time a record of the current input may carry
    LOGLAYOUT layout;                // the sections of the log being decoded
    RECORDINDEX* pindex;             // where the section scan notes records by type (its owner's), or null
};

// A run with nothing known yet: no vehicle, no collector, no time limit set.
void InitRun(RUN* prun);
// Gives the run an index (or, null, none) in which its section scans note the records of the types
// in grfRtKept and the vehicle-info records, which every walk decodes.
void SetRunIndex(RUN* prun, RECORDINDEX* pindex, uint32_t grfRtKept);

// What a run does with each log; the command line decides it once, for every input.
enum MODE {
    modeSummary,     // the default report: the drive and charge summary
    modeDetail,      // -u: the summary also with filters, then with the filtered records and the charge-segment trace
    modeListing,     // the records of one part that pass the filters
    modeStudy,       // the battery study: every record of both parts goes to the run's collector
    modeJoin,        // the input is kept for the join
};

// What to make of one log and whom to tell.
struct DECODE {
    MODE mode = modeSummary;
    int fVerbose = 0;                 // the table of contents, offsets and raw bytes, the tally
    int fPermanent = 0;               // list the long-term part instead of the transient ring
    unsigned int grfRt = 0;           // record types to list (bit rt); 0: every type
    unsigned int timestampStart = 0;  // 0: no lower bound
    unsigned int timestampEnd = 0;    // 0: no upper bound
    const char* pszPath = "";         // the name the totals line gives the log
    CONSUMER const* pcons = nullptr;  // null: nobody is told anything
};

// 1 when a filter is set: a time window or a record type.
inline int FFiltered(DECODE const& decode)
{
    return decode.grfRt != 0 || decode.timestampStart != 0 || decode.timestampEnd != 0;
}

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

// Hands the notes in (timestampPrev, timestampCur] to the consumer, when it takes them.
inline void ShowNotes(CONSUMER const* pcons, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
{
    if (pcons->pfnNotes)
        pcons->pfnNotes(pcons->pv, timestampPrev, timestampCur, cchIndent);
}
