// Printing a decoded record: the column layout with labels and units, and the tab-delimited layout.
#pragma once

#include "records/record.h"
#include "support/timecal.h"
#include "support/units.h"

// How a record's line is shown: its parts (the offset, the raw bytes, the header bytes) and its
// layout (tab-delimited, metric units).
constexpr int fdispOffset = 0x002;
constexpr int fdispRawBytes = 0x004;
constexpr int fdispHeaderBytes = 0x010;
constexpr int fdispTab = 0x080;
constexpr int fdispMetric = 0x100;

// The tab layout's heading line.
void PrintVlrHeader(int grfDisplay);
// The column layout's two heading lines.
void PrintTextHeader(int grfDisplay);
// The record's file offset ("0x%08lx") and the separator that follows it.
void PrintRecordOffset(long pos, int grfDisplay);
// The values of a record's line, without the line end.
void PrintVlr(int grfDisplay, VLR const* pvlr);
// A whole record line: the offset when grfDisplay asks, the line start, the values when the VLR has
// any, and the line end. rec holds cb bytes and at least cbRecordHeader, zero past the record.
void PrintRecordLine(long pos, unsigned char const* rec, int cb, VLR const* pvlr, int grfDisplay);
// The same with the caller's own memory of dates, on any thread (see DateFromTimestampMemo); the
// line goes where that thread's output goes (SetThreadOutput).
void PrintRecordLineMemo(long pos, unsigned char const* rec, int cb, VLR const* pvlr, int grfDisplay,
                         DATEMEMO* pmemo);
