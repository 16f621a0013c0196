// Printing a decoded record: the column layout with labels and units, and the tab-delimited layout.
#pragma once

#include "records/record.h"
#include "support/units.h"

// Display and processing flags handed down the decoding chain.
constexpr int fdispList = 0x001;
constexpr int fdispOffset = 0x002;
constexpr int fdispRawBytes = 0x004;
constexpr int fdispHeaderBytes = 0x010;
constexpr int fdispTab = 0x080;
constexpr int fdispMetric = 0x100;
constexpr int fdispAggregate = 0x200;
// The section scan leaves its message to the caller (a worker, which must print in order).
constexpr int fdispDeferMessages = 0x400;

// The tab layout's heading line.
void PrintVlrHeader(int grfDisplay);
// The column layout's two heading lines (printed by the listing walk).
void PrintTextHeader(int grfDisplay);
// The record's file offset ("0x%08lx") and the separator that follows it.
void PrintRecordOffset(long pos, int grfDisplay);
// The start of a record's line: date, timestamp, type code and the optional hex dumps.
void PrintRecordLineStart(unsigned char const* rec, int cb, unsigned int timestamp, const char* szDate,
                          int grfDisplay);
// The values of a record's line, without the line end.
void PrintVlr(int grfDisplay, VLR const* pvlr);
