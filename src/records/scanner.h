// Finding records in a stream by marker and checksum, and decoding one record into a VLR.
#pragma once

#include "input/stream.h"
#include "records/record.h"

// Display and processing flags handed down the decoding chain.
constexpr int fdispList = 0x001;
constexpr int fdispOffset = 0x002;
constexpr int fdispRawBytes = 0x004;
constexpr int fdispHeaderBytes = 0x010;
constexpr int fdispTab = 0x080;
constexpr int fdispMetric = 0x100;
constexpr int fdispAggregate = 0x200;

// Finds the next record whose marker and count byte start at or after *ppos and before posLimit.
// Returns 1 and stores its offset and length (cb + 2), or 0 and leaves both untouched.
int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb);
// The same search over cb bytes in memory (a mapped stream), in time linear in the bytes scanned.
int FScanToRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec);
// The same search one byte at a time through FReadByte: for streams without a mapping.
int FScanToRecordBytewise(STREAM* pstream, long* ppos, long posLimit, int* pcb);

// Reads the cb bytes at pos and decodes them with ScanRecord (printing the offset first when asked).
void ScanRecordFromFile(STREAM* pstream, long pos, unsigned long cb, int grfDisplay, VLR* pvlr);

// Decodes one record of cb bytes; bytes past cb read as zero. pvlr may be null.
void ScanRecord(unsigned char const* rec, int cb, int grfDisplay, VLR* pvlr);

// The battery study's collector, called for every decoded record while fdispAggregate is set.
typedef void (*PFNAGGREGATE)(VLR* pvlr);
void SetAggregateHook(PFNAGGREGATE pfn);
