// The log's sections: the section scan, the completed table with its derived values, the table of
// contents, and the walks over the transient ring and the long-term part that build on them.
#pragma once

#include <cstdint>
#include <cstring>

#include "input/stream.h"
#include "records/record.h"
#include "records/scanner.h"

struct CONSUMER;

constexpr int csecMax = 2000;

struct SEC {
    int64_t ibStart;
    int64_t cb;               // next entry's ibStart (or the file size) minus this one's
    uint32_t timestampFirst;  // 0xFFFFFFFF for an unused-bytes entry
    uint32_t versFirmware;
    uint8_t fLongTerm;
    int32_t crec;             // 0 marks an unused-bytes entry
    uint32_t grfRt;           // the types of its records, bit rt % 32, as a type filter reads them
};

// What the section scan learns about a log; held by the run for the log being decoded.
struct LOGLAYOUT {
    SEC rgsec[csecMax];
    int csec;
    long cbFile;              // the stream's size: end of the last entry
    uint32_t timestampMinLongTerm, timestampMaxLongTerm;
    uint32_t timestampMinTransient, timestampMaxTransient;
    int isecOldest;           // -1: no qualifying transient entry
    int isecFirstTransient;   // -1: no qualifying transient entry
    int fTableFull;           // the scan stopped at csecMax entries
};

// Fills *playout from the log: the section scan, then the completed table. The consumer hears that
// the table filled (where the scan stopped) and then of the vehicle the scan found. The VINF records
// it takes pass through pscan (the vehicle information); long-term times after timestampLastValid
// leave the spans alone. isecOldest and isecFirstTransient are either both -1 or both valid
// indices, with rgsec[isecFirstTransient].ibStart <= rgsec[isecOldest].ibStart.
void BuildLogLayout(SCANSTATE* pscan, unsigned int timestampLastValid, STREAM* pstream, CONSUMER const* pcons,
                    LOGLAYOUT* playout);

// Reads the header of the record of cb bytes at pos into *prh; bytes past the record (or past the
// end of the stream) read as zero. 0 when nothing could be read.
int FReadRecordHeaderSlow(STREAM* pstream, long pos, int cb, RH* prh);
// Inline for a whole header inside the mapping: the walks read one for every record.
inline int FReadRecordHeader(STREAM* pstream, long pos, int cb, RH* prh)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (pbMap && cb >= (int)sizeof *prh && pos >= 0 && pos <= pstream->CbSize() - (long)sizeof *prh) {
        memcpy(prh, pbMap + pos, sizeof *prh);
        return 1;
    }
    return FReadRecordHeaderSlow(pstream, pos, cb, prh);
}
// The header of the record of cb bytes at pos: where it lies in the mapping when it is whole there,
// else read into *prhSpare as FReadRecordHeader reads it. Reading the fields where they lie also
// spares the processor a load that spans two stores of a copy just made.
inline RH const* PrhRecordHeader(STREAM* pstream, long pos, int cb, RH* prhSpare)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (pbMap && cb >= (int)sizeof(RH) && pos >= 0 && pos <= pstream->CbSize() - (long)sizeof(RH))
        return (RH const*)(pbMap + pos);
    FReadRecordHeaderSlow(pstream, pos, cb, prhSpare);
    return prhSpare;
}

// Where a walk may take records without searching: from the walk's position up to ibTrusted the
// records lie back to back exactly as the section scan found and checked them, so a search there
// would find each one right at the position and it is taken by its count byte alone. The marker
// is still looked at, so bytes that changed under the walk only send it back to searching.
inline int FTrustedRecord(STREAM* pstream, long pos, long ibTrusted, int* pcb)
{
    if (pos + 3 > ibTrusted)
        return 0;
    unsigned char const* pb = pstream->PbMap() + pos;
    int cb = pb[2] + 2;
    if (pb[0] != 0x03 || pb[1] != 0x02 || cb < 4 || pos + cb > ibTrusted)
        return 0;
    *pcb = cb;
    return 1;
}

// A walk's step inside its trusted run: the record at *pposWalk, which the walk then passes.
inline int FTakeTrustedRecord(STREAM* pstream, long* pposWalk, long ibTrusted, long* ppos, int* pcb)
{
    long pos = *pposWalk;
    int cb;
    if (!FTrustedRecord(pstream, pos, ibTrusted, &cb))
        return 0;
    *pposWalk = pos + cb;
    *ppos = pos;
    *pcb = cb;
    return 1;
}

// The end of the run of records that the section scan found back to back from pos, when an entry
// of the table starts there (and was scanned to its end), capped at ibCap; otherwise 0. A stream
// without a mapping has no trusted run.
long IbTrustedRun(LOGLAYOUT const* playout, STREAM* pstream, long pos, long ibCap);

// Walk over a ring of records in time order: from ibOldest to ibEnd, then (when it wraps) once more
// from ibWrap, stopping before the first record at or beyond ibOldest. Every record of the ring is
// thus visited once. Records are those that start before ibEnd.
struct RINGWALK {
    long pos;        // where the next search starts
    long ibOldest;
    long ibWrap;
    long ibEnd;
    int fWrap;       // the ring goes on at ibWrap after ibEnd
    int fWrapped;    // the walk has gone past ibEnd and started again
    int fDone;
    LOGLAYOUT const* playout;   // the section table of these bytes (null: every record is searched)
    long ibTrusted;             // see FTrustedRecord
};
void BeginRingWalk(long ibOldest, long ibWrap, long ibEnd, int fWrap, RINGWALK* pwalk);
// The log's transient ring: from rgsec[isecOldest].ibStart to the end of the file, then from
// rgsec[isecFirstTransient].ibStart. With no qualifying transient section (isecOldest -1) the walk
// visits nothing. Records inside the table's sections are not searched again.
void BeginLogRingWalk(LOGLAYOUT const* playout, RINGWALK* pwalk);
// The next record of the ring: 1 with its offset and length (as FScanToRecord gives them). 0 once
// the ring has been walked: the record at which the wrapped walk stops is not reported, and every
// later call returns 0 too. A caller that needs a step after the last record (the summary's end
// step) makes it when this returns 0. The stream's position is not kept between calls, so the
// caller may read and decode records in between.
int FSearchRingRecord(STREAM* pstream, RINGWALK* pwalk, long* ppos, int* pcb);
inline int FNextRingRecord(STREAM* pstream, RINGWALK* pwalk, long* ppos, int* pcb)
{
    return FTakeTrustedRecord(pstream, &pwalk->pos, pwalk->ibTrusted, ppos, pcb) ||
           FSearchRingRecord(pstream, pwalk, ppos, pcb);
}

// The entry that holds the record at pos, for a walk that passes over entries by the types of the
// records the scan found in them; -1 when the table cannot tell (it filled, or it is not the table
// of this mapping). isecHint is the entry asked about last, or -1: walks mostly ask in file order.
int IsecHolding(LOGLAYOUT const* playout, STREAM* pstream, long pos, int isecHint);

// End (exclusive) of the long-term part: rgsec[isecFirstTransient].ibStart, or the file size when
// no transient section qualifies.
long IbEndLongTerm(LOGLAYOUT const* playout);

// Walk over the records from ibStart on, in file order, ending before the first record found at or
// beyond ibEnd (the scan itself runs to the end of the stream, as records may straddle ibEnd). The
// long-term part is BeginLinearWalk(0, IbEndLongTerm(playout), ...); with the table given, records
// inside its sections are not searched again.
struct LINEARWALK {
    long pos;
    long ibEnd;
    int fDone;
    LOGLAYOUT const* playout;   // the section table of these bytes (null: every record is searched)
    long ibTrusted;             // see FTrustedRecord
};
void BeginLinearWalk(long ibStart, long ibEnd, LINEARWALK* pwalk, LOGLAYOUT const* playout = nullptr);
// The next record: 1 with its offset and length, 0 at the end (and on every later call).
int FSearchLinearRecord(STREAM* pstream, LINEARWALK* pwalk, long* ppos, int* pcb);
inline int FNextLinearRecord(STREAM* pstream, LINEARWALK* pwalk, long* ppos, int* pcb)
{
    return FTakeTrustedRecord(pstream, &pwalk->pos, pwalk->ibTrusted, ppos, pcb) ||
           FSearchLinearRecord(pstream, pwalk, ppos, pcb);
}
