// The text report: the consumer that prints what decoding, the study and the join find, on standard
// output through the output buffer, exactly as quenfell's report has always read.
#pragma once

#include "analysis/consumer.h"
#include "input/download.h"
#include "merge/merge.h"
#include "report/notes.h"

struct LISTPIPE;

// How the report shows things; filled by the caller, read by the report's functions.
struct REPORTER {
    int fTab;                    // tab-delimited lines for spreadsheets
    int fMetric;                 // kilometres instead of miles
    NOTES const* pnotes;         // null: no notes among the records
    int fListMembers;            // a tar download's members are listed (the verbose summary)
    int cworkerListing;          // threads that format a listing's records; 0 or 1: printed as they come
    LISTPIPE* plistpipe;         // while a listing is formatted on several threads; null otherwise
};

// The consumer of a log's decoding (the summary, a listing) that prints it.
CONSUMER ConsumerOfReport(REPORTER* preporter);
// The consumer of the study's decoding: only the section scan's table-full message is printed.
CONSUMER ConsumerOfStudyReport(REPORTER* preporter);

// What a tar download shows while it is searched: each member's ustar name prefix as found and,
// with fListMembers, the member list under its title.
MEMBERHOOK MemberHookOfReport(REPORTER* preporter);

// The join's messages: its preview, the merge's progress, and the count written at the end.
MERGEHOOK MergeHookOfReport(REPORTER* preporter);
void PrintJoinStart();
void PrintPreviewRow(void* pv, PREVIEWROW const* prow);
void PrintJoinEnd(long cwritten, char const* pszOutput);

// What the section scan prints when the table fills (kept as users have seen it).
void PrintTooManySections();

// The table of contents of a completed section table.
void PrintLogContents(LOGLAYOUT const* playout);
// The record-type tally, in the order the table holds it, under `title`.
void PrintTagStats(TAGSTATS const* ptags, const char* title);

// -z: "Using time zone NAME (GMT+h)."; and the table of the abbreviations -z knows.
void PrintTimeZoneUsed(char const* pszName, double hoursOffset);
void PrintTimeZoneList();
