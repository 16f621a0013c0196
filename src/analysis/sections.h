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
    long cbFile;              // end of the last entry
    uint32_t timestampMinLongTerm, timestampMaxLongTerm;
    uint32_t timestampMinTransient, timestampMaxTransient;
    int isecOldest;           // -1: no qualifying transient entry
    int isecFirstTransient;   // -1: no qualifying transient entry
};

// Scans the log, completes the table, prints the VIN line (unless grfDisplay has the battery bit)
// and, when fPrintContents, the table of contents.
void BuildLogLayout(STREAM* pstream, LOGLAYOUT* playout, int grfDisplay, int fPrintContents);

// Walk over the transient ring from its oldest record, wrapping once.
struct RINGWALK {
    long pos;        // where the next search starts
    int fWrapped;
    int fDone;
};
void BeginRingWalk(LOGLAYOUT const* playout, RINGWALK* pwalk);
// The next record of the ring: 1 with its offset and length, 0 when the ring has been walked.
int FNextRingRecord(STREAM* pstream, LOGLAYOUT const* playout, RINGWALK* pwalk, long* ppos, int* pcb);

// End (exclusive) of the long-term part: the first transient entry's start, or the file size.
long IbEndLongTerm(LOGLAYOUT const* playout);
