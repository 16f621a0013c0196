// A battery study report read back from the text that `quenfell -b` prints: the five histograms,
// the daily capacity table, the firmware table and the three summary lines. Everything else in the
// text (messages before the report, a tar prefix glued before a line) is passed over.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int cHistReport = 5;        // histograms in a report, in this order: amps, SOC, temp, kmiles, miles/day
constexpr int cBinHistMax = 1000;     // bins of the largest histogram (miles per day)
constexpr int cCapRowMax = 7300;      // daily samples the collector can hold, so no report has more rows
constexpr int cFwRowMax = 7300;
constexpr int cchDate = 19;           // "mm/dd/yyyy hh:mm:ss", or 19 dashes for no date
constexpr int cchFirmwareMax = 47;    // "%d.%d.%d %d" of four numbers fits with room to spare

// One calendar time as the report shows it, in the zone the report was made in.
struct RDATE {
    bool fDated;                  // false: the report printed dashes
    int64_t secCivil;             // seconds since 1970-01-01 00:00:00 of the same (unnamed) zone
    char achText[cchDate + 1];    // the text as printed, dashes included
};

struct HIST {
    const char* szTitle;          // "charging amps", ...
    const char* szUnit;           // "seconds" or "count"
    const char* szName;           // short identifier for the page ("amps", "soc", ...)
    int cBin;                     // bins the report can hold: 500, 101, 200, 500, 1000
    int cRow;                     // rows printed (0 to cBin)
    int cNonZero;                 // rows with a count above 0
    int iLast;                    // highest bin printed, -1 when no rows
    int64_t countMax;             // highest count, 0 when none
    int32_t rgCount[cBinHistMax]; // counts by bin; bins not printed are 0
};

struct CAPROW {
    RDATE date;
    double ahBrickMin;
    double ahBrickAve;
    int iBrickAhMin;
    double ahCAC;
};

struct FWROW {
    RDATE date;
    char achVersion[cchFirmwareMax + 1];
};

struct SPAN {
    RDATE dateFrom;
    RDATE dateTo;
    int cDays;
};

struct REPORT {
    HIST rghist[cHistReport];
    int ccap;
    CAPROW rgcap[cCapRowMax];
    int cfw;
    FWROW rgfw[cFwRowMax];
    SPAN spanDaily;               // "Daily Timestamp from %s to %s; %d days"
    SPAN spanDetail;              // "Detail Timestamp from %s to %s; %d days"
    int cDaysDetail;              // "Days of detail: %d, odomoter max: %d"
    int milesOdoMax;
    int iLineFirst;               // line of the first histogram header (1-based)
};

// Why a report could not be read: the 1-based line where reading stopped (one past the last line
// when the text ended too early) and a message without the line number.
struct PARSEERR {
    int iLine;
    char achMsg[200];
};

// Reads the report from cb bytes of text (not zero-terminated; any bytes allowed). Returns true and
// fills *prep, or false and fills *perr. Never reads outside [pch, pch + cb).
bool FParseReport(const char* pch, size_t cb, REPORT* prep, PARSEERR* perr);

// The calendar date of a civil time, for axis labels.
void CivilFromSec(int64_t secCivil, int* pyear, int* pmonth, int* pday);
int64_t SecFromCivil(int year, int month, int day, int hour, int minute, int second);
