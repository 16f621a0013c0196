// Timestamps (unsigned 32-bit seconds since 1970-01-01 UTC) to and from calendar text, the display
// time zone, and notes on daylight-saving changes inside a span.
#pragma once

// 2001-01-01 00:00:00 UTC: the epoch of platform time; earlier timestamps print as dashes.
constexpr unsigned int timestampEpoch2001 = 978307200u;

// Parses "m/d/y" or "m/d/y h:m:s" in the system's time zone; 0 when unparsable.
unsigned int TimestampFromDate(char const* text);

// Writes "%02d/%02d/%04d %02d:%02d:%02d" in the display zone (cut to cb bytes), or cb-1 dashes
// for a time before 2001 (and for 0x80000000 and above). Returns buf.
char* DateFromTimestamp(unsigned int timestamp, char* buf, int cb);

// What a caller keeps to write dates in the display zone without the process's own memory of the
// last one: the zone's stretch that its last date fell in and that date's day. Starts zeroed.
struct DATEMEMO {
    long long secBegin, secEnd;
    int secOffset;
    unsigned daysLastPlusOne;   // 0: no day yet
    char achDay[11];            // "mm/dd/yyyy "
};
// DateFromTimestamp with the caller's memo: safe on any thread once PrepareDateZones has run, while
// the zones are not changed.
char* DateFromTimestampMemo(unsigned int timestamp, char* buf, int cb, DATEMEMO* pmemo);
// Finds the zones now rather than at the first date written.
void PrepareDateZones();

// A note on daylight saving time for the span, written into buf; null when there is nothing to say.
char* PszDSTNote(unsigned int timestampStart, unsigned int timestampEnd, char* buf, int cb);

// -z NAME: when NAME is a zone (or a known abbreviation), makes it the display zone, gives its
// offset from UTC now in hours and returns 1; returns 0 (and changes nothing) otherwise.
int FUseTimeZone(char const* name, double* phoursOffset);

// One of the abbreviations -z knows, with its zone and (when the zone is found) its offset now.
struct KNOWNZONE {
    char const* szAbbrev;
    char const* szZone;
    bool fFound;
    double hoursOffset;
};
// The iabbrev-th known abbreviation (from 0, in the table's order); 0 past the last.
int FKnownAbbreviation(int iabbrev, KNOWNZONE* pknown);

// Makes `name` (a zone name, a known abbreviation or a POSIX rule) the display zone and the system
// zone, as TZ naming it at the start would; for programs and tests that choose the zone themselves.
// 1 on success, 0 (nothing changed) for a name that is none of these.
int FSetZones(char const* name);

// Finds the system zone now, and says why TZ could not be followed ("time zone X from TZ cannot be
// used (reason): using Y instead"), or null when it was followed or is not set. The programs print
// it once, first.
char const* PszSystemZoneWarning();
