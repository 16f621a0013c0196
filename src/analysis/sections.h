// The log's sections: the section scan, the completed table with its derived values, the table of
// contents, and the walks over the transient ring and the long-term part that build on them.
#pragma once

#include <cstdint>

#include "input/stream.h"
#include "records/record.h"

constexpr int csecMax = 2000;

struct SEC {
    int64_t ibStart;
    int64_t cb;               // next entry's ibStart (or the file size) minus this one's
    uint32_t timestampFirst;  // 0xFFFFFFFF for an unused-bytes entry
    uint32_t versFirmware;
    uint8_t fLongTerm;
    int32_t crec;             // 0 marks an unused-bytes entry
};

// What one call of DecodeVmsFile learns about its log. Lives for one call (static storage).
struct LOGLAYOUT {
    SEC rgsec[csecMax];
    int csec;
    long cbFile;              // the stream's size: end of the last entry
    uint32_t timestampMinLongTerm, timestampMaxLongTerm;
    uint32_t timestampMinTransient, timestampMaxTransient;
    int isecOldest;           // -1: no qualifying transient entry
    int isecFirstTransient;   // -1: no qualifying transient entry
};

// Fills *playout from the log: the section scan, the VIN line (unless grfDisplay has
// fdispAggregate), the completed table and, when fPrintContents, the table of contents, all on
// standard output. Sets s_versFirmware (and, through the VINF records it decodes, s_achVIN and
// s_pszRoadsterVersion) as a side effect. isecOldest and isecFirstTransient are either both -1 or
// both valid indices, with rgsec[isecFirstTransient].ibStart <= rgsec[isecOldest].ibStart.
void BuildLogLayout(STREAM* pstream, LOGLAYOUT* playout, int grfDisplay, int fPrintContents);

// The table of contents of a completed table (BuildLogLayout prints it when asked).
void PrintLogContents(LOGLAYOUT const* playout);

// Reads the header of the record of cb bytes at pos into *prh; bytes past the record (or past the
// end of the stream) read as zero. 0 when nothing could be read.
int FReadRecordHeader(STREAM* pstream, long pos, int cb, RH* prh);

// Walk over the transient ring in time order: from rgsec[isecOldest].ibStart to the end of the
// file, then once more from rgsec[isecFirstTransient].ibStart, stopping before the first record at
// or beyond rgsec[isecOldest].ibStart. Every transient record is thus visited once. With no
// qualifying transient section (isecOldest -1) the walk visits nothing.
struct RINGWALK {
    long pos;        // where the next search starts
    int fWrapped;    // the walk has gone past the end of the file and started again
    int fDone;
};
void BeginRingWalk(LOGLAYOUT const* playout, RINGWALK* pwalk);
// The next record of the ring: 1 with its offset and length (as FScanToRecord gives them). 0 once
// the ring has been walked: the record at which the wrapped walk stops is not reported, and every
// later call returns 0 too. A caller that needs a step after the last record (the summary's end
// step) makes it when this returns 0. The stream's position is not kept between calls, so the
// caller may read and decode records in between.
int FNextRingRecord(STREAM* pstream, LOGLAYOUT const* playout, RINGWALK* pwalk, long* ppos, int* pcb);

// End (exclusive) of the long-term part: rgsec[isecFirstTransient].ibStart, or the file size when
// no transient section qualifies.
long IbEndLongTerm(LOGLAYOUT const* playout);

// Walk over the records from ibStart on, in file order, ending before the first record found at or
// beyond ibEnd (the scan itself runs to the end of the file, as records may straddle ibEnd). The
// long-term part is BeginLinearWalk(0, IbEndLongTerm(playout), ...).
struct LINEARWALK {
    long pos;
    long ibEnd;
    int fDone;
};
void BeginLinearWalk(long ibStart, long ibEnd, LINEARWALK* pwalk);
// The next record: 1 with its offset and length, 0 at the end (and on every later call).
int FNextLinearRecord(STREAM* pstream, LOGLAYOUT const* playout, LINEARWALK* pwalk, long* ppos, int* pcb);
