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

// The offsets of the records of some types, in file order, as the section scan found them: a walk
// that takes only those types reads them here instead of passing every record of the log again.
// Its owner sets grfRt; the scan fills the rest.
constexpr int cibRecordIndexMax = 1 << 18;
struct RECORDINDEX {
    uint32_t grfRt;     // the types noted, bit rt % 32 as SEC.grfRt
    int cib;
    int fIncomplete;    // more such records than the table holds, or a file past 4 GiB: not to be used
    uint32_t rgib[cibRecordIndexMax];
};

// Fills *playout from the log: the section scan, then the completed table. The consumer hears that
// the table filled (where the scan stopped) and then of the vehicle the scan found. The VINF records
// it takes pass through pscan (the vehicle information); long-term times after timestampLastValid
// leave the spans alone. isecOldest and isecFirstTransient are either both -1 or both valid
// indices, with rgsec[isecFirstTransient].ibStart <= rgsec[isecOldest].ibStart. With pindex, the
// records of its types are noted there too.
void BuildLogLayout(SCANSTATE* pscan, unsigned int timestampLastValid, STREAM* pstream, CONSUMER const* pcons,
                    LOGLAYOUT* playout, RECORDINDEX* pindex = nullptr);

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
    if (!FMarkerAt(pb) || cb < 4 || pos + cb > ibTrusted)
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

// The ring's records of the index's types in the ring's own order, as FNextRingRecord visits them
// with the others left out, taken from the index without passing the others. Where the walk has to
// go on as a ring walk (it comes to take other types too, or a record is no longer where the scan
// found it), ResumeRingWalk starts that walk right after the last record given.
struct INDEXEDWALK {
    RECORDINDEX const* pindex;
    int iib;          // the next entry to give
    int iibEnd;       // the end of the stretch being given
    int iibWrap;      // the stretch after the wrap: from the ring's start up to its oldest record
    int iibWrapEnd;
    int fWrapped;     // the walk is in that stretch
    long posNext;     // the end of the last record given, or -1 when none has been
    int fWrappedNext; // ... and whether it lay in the stretch after the wrap
    int fBroken;      // a record was not where the scan found it: the walk goes on as a ring walk
};
// 0 when the index cannot stand for the ring walk: the scan did not fill it in full (or stopped at
// a full table), its types are not a superset of grfRtWanted (as FRtWanted reads it), or it was not
// made from this mapping.
int FBeginIndexedRingWalk(LOGLAYOUT const* playout, RECORDINDEX const* pindex, STREAM* pstream,
                          uint32_t grfRtWanted, INDEXEDWALK* pwalk);
// Whether the index's types cover grfRtWanted.
int FIndexCovers(RECORDINDEX const* pindex, uint32_t grfRtWanted);
// The next record: 1 with its offset and length; 0 at the end, or when the walk must go on as a
// ring walk (fBroken).
int FNextIndexedRecord(STREAM* pstream, INDEXEDWALK* pwalk, long* ppos, int* pcb);
// Sets *pring, begun on the log's ring, to go on right after the last record the indexed walk gave.
void ResumeRingWalk(INDEXEDWALK const* pwalk, RINGWALK* pring);

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
