// DecodeVmsFile: the analysis of one log, either the session summary or the filtered listing.
#pragma once

#include "input/stream.h"

void DecodeVmsFile(const char* pszPath, STREAM* pstream, int fVerbose, int fSummary, int fChargeDetail,
                   int grfDisplay, int fPermanent, unsigned int grfRt, unsigned int timestampStart,
                   unsigned int timestampEnd);

// 1 when a record with this header timestamp and type passes the listing filters.
int FPassesFilter(unsigned int timestamp, int rt, unsigned int grfRt, unsigned int timestampStart,
                  unsigned int timestampEnd);

// The user's notes, printed between records: set by the driver, none by default.
typedef int (*PFNNOTES)(unsigned int timestampPrev, unsigned int timestampCur, int cchIndent);
void SetNotesPrinter(PFNNOTES pfn);
// Prints the notes in (timestampPrev, timestampCur]; 1 if any was printed, 0 without a printer.
int FPrintNotes(unsigned int timestampPrev, unsigned int timestampCur, int cchIndent);
