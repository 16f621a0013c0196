// What decoding a log finds, handed to whoever asked for it: the text report prints it, the car page
// and the history database keep what they need. The walks themselves print nothing; each call
// comes at the point where the report prints its line, so a consumer that prints as it is called
// keeps the report's order.
#pragma once

#include <cstdint>

#include "analysis/sections.h"
#include "analysis/sessions.h"
#include "records/record.h"
#include "records/tagstats.h"

// A record the listing shows: where it lies, its bytes and what they decode to.
struct SHOWNRECORD {
    long pos;                   // offset in the log
    unsigned char const* pb;    // cb bytes, readable up to a header's end at least; zero past a record cut short
    int cb;
    uint32_t timestamp;         // the header's
    VLR const* pvlr;            // grf 0: no value to show
    int grfDisplay;             // which parts of the line the place asks for: fdispOffset, fdispRawBytes, fdispHeaderBytes
    bool fTrace;                // a record of the summary's -u trace rather than of a listing
    int rver;                   // the vehicle type it was decoded with (DecodeRecord's rver)
};

// What the summary says between its session lines (the -u trace and the forward scan's finds).
enum SUMMARYNOTE {
    snoteStartCharge,           // a charge opens (the -u trace)
    snoteStartDrive,            // a drive opens (with a filter)
    snoteForwardIdle,           // the forward scan took the SOC of an IDLE record
    snoteForwardC30M,           // ... of a 30-minute charge record
    snoteSegmentBegin,          // a charge segment opens (the -u trace)
    snoteSegmentAbort,          // it stopped getting samples
};

// A charge segment as it ends: from a charge record with a SOC to the next record with one.
struct CHARGESEGMENT {
    uint32_t timestampStart, timestampEnd;
    uint32_t secDuration;       // 0 unless both ends are dates
    int csample;
    int pctSOCStart, pctSOCEnd;
    double degMin, degMax, degAverage;        // highest battery temperature of each sample
    double voltsMin, voltsMax, voltsAverage;  // line volts
    double ampsMin, ampsMax, ampsAverage;     // charge amps
    double wh;
    double kwAverage;           // 0 when both ends have the same time
    double whPerPct;            // 0 when the SOC did not move
    double pctPerHour;
};

// The walk's totals, for the line after the sessions.
struct SUMMARYTOTALS {
    char const* pszPath;        // the name the request gives the log
    double milesOdoMin, milesOdoMax;   // -1.0: no reading
    bool fOdoEstimated;         // the highest was last raised by a drive's estimate
    int secDriving;             // one per drive record
    int secCharging;            // 60 per minute charge record
    uint32_t secSpan;           // from the earliest to the latest credible time
};

// Every function may be null: that consumer does not want it.
struct CONSUMER {
    void* pv;

    // The section scan: the table filled up; the vehicle it found (the VIN line); the table of
    // contents (only when the request asks for it).
    void (*pfnTableFull)(void* pv);
    void (*pfnVehicle)(void* pv, VEHICLE const* pvehicle);
    void (*pfnContents)(void* pv, LOGLAYOUT const* playout);

    // The user's notes in (timestampPrev, timestampCur], indented by cchIndent.
    void (*pfnNotes)(void* pv, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent);

    // A listing: its heading (grfDisplay: the parts its lines have), each record, and its end with
    // the tally of the walk's records, sorted, under szTitle.
    void (*pfnListingStart)(void* pv, int grfDisplay);
    void (*pfnRecord)(void* pv, SHOWNRECORD const* prec);
    void (*pfnListingEnd)(void* pv, TAGSTATS const* ptags, char const* szTitle);

    // The session summary: its start, every record its walk decodes (before the walk decides what
    // the record closes), the notes between sessions, each drive and charge as it closes, each
    // charge segment of the -u trace, the totals, the tally (with -v) and the capacity that the
    // long-term part last reported.
    void (*pfnSummaryStart)(void* pv);
    void (*pfnSessionRecord)(void* pv, VLR const* pvlr);
    void (*pfnSummaryNote)(void* pv, SUMMARYNOTE snote, uint32_t timestamp, int pctSOC);
    void (*pfnDrive)(void* pv, DRIVESESSION const* pdrive);
    void (*pfnCharge)(void* pv, CHARGESESSION const* pcharge);
    void (*pfnSegment)(void* pv, CHARGESEGMENT const* pseg);
    void (*pfnTotals)(void* pv, SUMMARYTOTALS const* ptotals);
    void (*pfnStats)(void* pv, TAGSTATS const* ptags, char const* szTitle);
    void (*pfnCapacity)(void* pv, double ahCAC, uint32_t timestamp);
};

// A consumer that wants nothing.
inline CONSUMER ConsumerNone()
{
    return CONSUMER{};
}
