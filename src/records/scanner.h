// Finding records in a stream by marker and checksum, and the step that takes one record: decode
// it, note what it says of the vehicle, tally it, and hand it to the listing or the battery study.
#pragma once

#include "input/stream.h"
#include "records/listing.h"
#include "records/record.h"
#include "records/tagstats.h"

// The battery study's collector, called for every decoded record while fdispAggregate is set.
typedef void (*PFNAGGREGATE)(void* pvContext, VLR* pvlr);
// Whether the collector (same context) could do anything with a record of type rt in part sect
// at this point; 0 lets a walk that only collects pass the record by undecoded.
typedef int (*PFNWANTS)(void* pvContext, SECT sect, int rt);

// What taking records keeps from one record to the next: one per decoding run, owned by the run.
struct SCANSTATE {
    VEHICLE vehicle;              // from the last VINF record taken
    TAGSTATS tags;                // the tally of the records taken since it was last emptied
    PFNAGGREGATE pfnAggregate;    // null: nothing collects
    void* pvAggregate;            // the collector's context
    PFNWANTS pfnWants;            // null: the collector wants every record
};
// A state with no vehicle known, an empty tally and no collector.
void InitScanState(SCANSTATE* pscan);

// Finds the next record whose marker and count byte start at or after *ppos and before posLimit.
// Returns 1 and stores its offset and length (cb + 2), or 0 and leaves both untouched.
inline int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb);
// The same search over cb bytes in memory (a mapped stream), in time linear in the bytes scanned.
int FScanToRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec);
// The same search one byte at a time through FReadByte: for streams without a mapping.
int FScanToRecordBytewise(STREAM* pstream, long* ppos, long posLimit, int* pcb);

// Inline: every step of every walk comes through here.
inline int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (!pbMap)
        return FScanToRecordBytewise(pstream, ppos, posLimit, pcb);
    int fFound = FScanToRecordInBytes(pbMap, pstream->CbSize(), ppos, posLimit, pcb);
    pstream->FSetPos(*ppos);
    return fFound;
}

// Reads the cb bytes at pos and takes them with ScanRecord (printing the offset first when asked).
void ScanRecordFromFile(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long cb, int grfDisplay, VLR* pvlr);

// Takes one record of cb bytes; bytes past cb read as zero. pvlr may be null: then the record is
// decoded only when it is listed or collected.
void ScanRecord(SCANSTATE* pscan, unsigned char const* rec, int cb, int grfDisplay, VLR* pvlr);
