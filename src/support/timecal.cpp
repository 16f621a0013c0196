// Timestamps to and from calendar text in the system and display time zones, the -z zone choice,
// and the notes on daylight-saving changes inside a drive or charge. Zone questions go to the tz
// database; the text formats, the limits and the notes are ours.
#include "support/timecal.h"

#include <date/tz.h>
// This version of ptz.h names hh_mm_ss unqualified under both `using namespace date` and `using
// namespace std::chrono`, which C++20 makes ambiguous; declared in its namespace, the date
// library's own is found first, and it is the one meant.
namespace Posix {
using date::hh_mm_ss;
}
#include <date/ptz.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "support/civil.h"

namespace {

// A zone of the tz database, or a rule such as "EST5EDT,M3.2.0,M11.1.0" that TZ gives instead of a
// zone name; both answer the same two questions. Neither set stands for UTC when the database
// cannot be read at all.
struct ZONE {
    date::time_zone const* ptzdb;
    Posix::time_zone const* pposix;
};

// One stretch of Unix seconds [secBegin, secEnd) over which a zone's offset and daylight-saving
// state stay the same.
struct ZINFO {
    long long secBegin;
    long long secEnd;
    int secOffset;
    int fDST;
};

char const s_szDST[] = "daylight saving time";
char const s_szStandardTime[] = "standard time";

constexpr int secPerDay = 86400;
constexpr int cchDate = 19;   // "mm/dd/yyyy hh:mm:ss"
constexpr unsigned int timestampLastShown = 0x7FFFFFFFu;   // above it the signed value is negative
constexpr long long secTransitionWindow = 7200;
constexpr long long secNearTransition = 3600;
// Local times handed to the database are kept within some thousands of years of 1970: beyond
// that the answer is the zone's first or last offset anyway, and the library's own arithmetic
// stays clear of its limits.
constexpr long long secLookupLimit = 1LL << 38;
// Walking sys_info stretches past this finds no further transition of interest (and the library
// marks "no more transitions" with an end far beyond it).
constexpr long long secTransitionSearchLimit = 1LL << 36;
constexpr int cStretchMax = 64;
constexpr int cZoneReadTries = 8;
// Where the system's database keeps its zone files, one per name.
char const s_szZoneFolder[] = "/usr/share/zoneinfo/";

// The process's zones: the system's, found on first use from TZ or /etc/localtime, and the
// display zone that -z may replace.
struct ZONES {
    ZONE zoneSystem;
    ZONE timezoneref;                              // the display zone
    std::optional<Posix::time_zone> posixSystem;   // the system's zone when TZ is a POSIX rule
    bool fSet;
    // The display zone's stretch and the day that the last DateFromTimestamp fell in: consecutive
    // records nearly always share them, which spares the database lookup and the calendar.
    DATEMEMO memoDisplay;
    std::string strWarning;                        // why TZ could not be followed; empty when it was
};
ZONES s_zones;

// Abbreviations accepted by -z besides the database's own names, one zone each, in the order the
// zone list prints them. Where the database itself has the abbreviation as a zone (EST, CET...),
// the entry names that zone so the list shows what -z really selects.
struct ABBREV {
    char const* szAbbrev;
    char const* szZone;
};
ABBREV const s_rgabbrev[] = {
    {"ACDT", "Australia/Adelaide"},
    {"ACST", "Australia/Adelaide"},
    {"ADT", "America/Halifax"},
    {"AEDT", "Australia/Sydney"},
    {"AEST", "Australia/Sydney"},
    {"AKDT", "America/Anchorage"},
    {"AKST", "America/Anchorage"},
    {"ART", "America/Argentina/Buenos_Aires"},
    {"AST", "America/Halifax"},
    {"AWST", "Australia/Perth"},
    {"BRT", "America/Sao_Paulo"},
    {"BST", "Europe/London"},
    {"CAT", "Africa/Maputo"},
    {"CDT", "America/Chicago"},
    {"CEST", "Europe/Paris"},
    {"CET", "CET"},
    {"CLT", "America/Santiago"},
    {"COT", "America/Bogota"},
    {"CST", "America/Chicago"},
    {"EAT", "Africa/Nairobi"},
    {"EDT", "America/New_York"},
    {"EEST", "Europe/Athens"},
    {"EET", "EET"},
    {"EST", "EST"},
    {"GMT", "GMT"},
    {"GST", "Asia/Dubai"},
    {"HKT", "Asia/Hong_Kong"},
    {"HST", "HST"},
    {"ICT", "Asia/Bangkok"},
    {"IDT", "Asia/Jerusalem"},
    {"IST", "Asia/Kolkata"},
    {"JST", "Asia/Tokyo"},
    {"KST", "Asia/Seoul"},
    {"MDT", "America/Denver"},
    {"MSK", "Europe/Moscow"},
    {"MST", "MST"},
    {"NDT", "America/St_Johns"},
    {"NST", "America/St_Johns"},
    {"NZDT", "Pacific/Auckland"},
    {"NZST", "Pacific/Auckland"},
    {"PDT", "America/Los_Angeles"},
    {"PET", "America/Lima"},
    {"PHT", "Asia/Manila"},
    {"PKT", "Asia/Karachi"},
    {"PST", "America/Los_Angeles"},
    {"SAST", "Africa/Johannesburg"},
    {"SGT", "Asia/Singapore"},
    {"UTC", "UTC"},
    {"WAT", "Africa/Lagos"},
    {"WEST", "Europe/Lisbon"},
    {"WET", "WET"},
    {"WIB", "Asia/Jakarta"},
};

// The tz database throws for unknown names and for unreadable zone files; nothing of that
// leaves this module, but *pstrWhy (when given) receives the reason a name was refused. A zone's
// file is read when the zone is first asked something, so it is asked here: a zone that cannot be
// read is refused like an unknown one rather than taken and then answering nothing.
int FFindZone(char const* name, ZONE* pzone, std::string* pstrWhy = nullptr)
{
    if (name == nullptr || *name == 0)
        return 0;
    // UTC needs no database: the zone without one reads as UTC, and opening the database walks
    // its whole folder, which cost a few milliseconds of every run that shows a date.
    if (strcmp(name, "UTC") == 0 || strcmp(name, "Etc/UTC") == 0) {
        *pzone = ZONE{};
        return 1;
    }
    // The database's first use walks its folder and passes over what it cannot read there, so a
    // zone whose file is present was lost to such a failure, whose reason the library keeps.
    date::time_zone const* ptz;
    try {
        ptz = date::locate_zone(name);
    } catch (...) {
        if (pstrWhy) {
            std::string path = std::string(s_szZoneFolder) + name;
            *pstrWhy = access(path.c_str(), F_OK) == 0 ? "the time-zone database could not be read in full"
                                                       : "no such zone";
        }
        return 0;
    }
    // The zone file may be read again after a failure, so an interrupted read is made again.
    for (int iTry = 0;; iTry++) {
        errno = 0;
        try {
            ptz->get_info(date::sys_seconds{});
            break;
        } catch (...) {
            int err = errno;
            if (err == EINTR && iTry < cZoneReadTries)
                continue;
            if (pstrWhy)
                *pstrWhy = err != 0 ? strerror(err) : "the zone's file could not be read";
            return 0;
        }
    }
    *pzone = ZONE{ptz, nullptr};
    return 1;
}

int FResolveZone(char const* name, ZONE* pzone)
{
    if (FFindZone(name, pzone))
        return 1;
    if (name == nullptr)
        return 0;
    for (ABBREV const& abbrev : s_rgabbrev) {
        if (strcmp(abbrev.szAbbrev, name) == 0)
            return FFindZone(abbrev.szZone, pzone);
    }
    return 0;
}

bool FUtc(ZONE zone)
{
    return zone.ptzdb == nullptr && zone.pposix == nullptr;
}

ZINFO ZiAt(ZONE zone, long long sec)
{
    if (!FUtc(zone)) {
        try {
            date::sys_seconds sys{std::chrono::seconds{sec}};
            date::sys_info info = zone.ptzdb ? zone.ptzdb->get_info(sys) : zone.pposix->get_info(sys);
            // A POSIX rule without daylight saving ("JST-9") gives one stretch over all time whose
            // save field the library leaves unset: such a stretch is never daylight saving time.
            bool fAllTime = info.begin <= date::sys_days{date::year::min() / date::January / 1};
            bool fDST = !(zone.pposix && fAllTime) && info.save.count() != 0;
            return {info.begin.time_since_epoch().count(), info.end.time_since_epoch().count(),
                    (int)info.offset.count(), fDST};
        } catch (...) {
        }
    }
    return {LLONG_MIN, LLONG_MAX, 0, 0};
}

// The offset of the wall-clock time secLocal (seconds since 1970-01-01 00:00 local). In a
// spring-forward gap and in an autumn overlap this is the offset in force before the change:
// a time in the gap moves forward by the gap, a repeated time is its earlier instance.
long long SecOffsetForLocal(ZONE zone, long long secLocal)
{
    if (FUtc(zone))
        return 0;
    if (secLocal > secLookupLimit)
        secLocal = secLookupLimit;
    if (secLocal < -secLookupLimit)
        secLocal = -secLookupLimit;
    try {
        date::local_seconds local{std::chrono::seconds{secLocal}};
        date::local_info info = zone.ptzdb ? zone.ptzdb->get_info(local) : zone.pposix->get_info(local);
        return info.first.offset.count();
    } catch (...) {
        return 0;
    }
}

// "zoneinfo/Europe/London" style paths (the /etc/localtime link, TZ=:/usr/share/...) name the zone
// by what follows the database's folder.
char const* PszZoneNameFromPath(char const* path)
{
    static char const szFolder[] = "zoneinfo/";
    char const* pszName = path;
    for (char const* pch = strstr(path, szFolder); pch != nullptr; pch = strstr(pch + 1, szFolder))
        pszName = pch + sizeof szFolder - 1;
    return pszName;
}

// The zone TZ names, or a rule it gives; false (with the reason in *pstrWhy) when it gives neither.
bool FZoneOfTZ(char const* szTZ, ZONE* pzone, std::string* pstrWhy)
{
    bool fFile = *szTZ == ':';
    if (fFile)
        szTZ++;
    if (FFindZone(PszZoneNameFromPath(szTZ), pzone, pstrWhy))
        return true;
    // Not a zone name: perhaps a rule ("JST-9", "EST5EDT,M3.2.0,M11.1.0"), as the C library
    // reads it too. A leading ':' always names a file.
    if (!fFile && *szTZ != 0) {
        try {
            s_zones.posixSystem.emplace(szTZ);
            *pzone = ZONE{nullptr, &*s_zones.posixSystem};
            return true;
        } catch (...) {
        }
    }
    return false;
}

// The zone of /etc/localtime, else UTC; *pstrName receives its name.
ZONE ZoneOfMachine(std::string* pstrName)
{
    ZONE zone;
    char szLink[1024];
    ssize_t cch = readlink("/etc/localtime", szLink, sizeof szLink - 1);
    if (cch > 0) {
        szLink[cch] = 0;
        char const* pszName = PszZoneNameFromPath(szLink);
        if (FFindZone(pszName, &zone)) {
            *pstrName = pszName;
            return zone;
        }
    }
    try {
        date::time_zone const* ptz = date::current_zone();
        *pstrName = std::string(ptz->name());
        return ZONE{ptz, nullptr};
    } catch (...) {
    }
    *pstrName = "UTC";
    return ZONE{};
}

// A TZ that names no zone the database can give leaves the run in the machine's zone, with the
// reason kept for the program to say (PszSystemZoneWarning).
ZONE ZoneOfSystem()
{
    ZONE zone;
    char const* szTZ = getenv("TZ");
    std::string strWhy;
    if (szTZ != nullptr && FZoneOfTZ(szTZ, &zone, &strWhy))
        return zone;
    std::string strName;
    zone = ZoneOfMachine(&strName);
    if (szTZ != nullptr && *szTZ != 0) {
        // Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal + string chain.
        std::string& str = s_zones.strWarning;
        str = "time zone ";
        str += szTZ;
        str += " from TZ cannot be used (";
        str += strWhy;
        str += "): using ";
        str += strName;
        str += " instead";
    }
    return zone;
}

void SetDisplayZone(ZONE zone)
{
    s_zones.timezoneref = zone;
    s_zones.memoDisplay = DATEMEMO{};
}

// The zones are found on first use rather than in a static initialiser, so nothing runs before
// main that could fail or depend on the library's own initialisation order.
inline void EnsureZones()
{
    if (s_zones.fSet)
        return;
    s_zones.zoneSystem = ZoneOfSystem();
    SetDisplayZone(s_zones.zoneSystem);
    s_zones.fSet = true;
}

long long FloorDiv(long long a, long long b)
{
    long long q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

inline char* PchPut2(char* pch, unsigned n)
{
    pch[0] = (char)('0' + n / 10);
    pch[1] = (char)('0' + n % 10);
    return pch + 2;
}

// Finds the first instant after sec at which the zone's offset or daylight-saving state changes;
// fFallBack tells whether the offset drops there. Stretches that differ only in their
// abbreviation are walked over.
int FNextTransition(ZONE zone, long long sec, long long* psecT, int* pfFallBack)
{
    if (FUtc(zone))
        return 0;
    ZINFO zi = ZiAt(zone, sec);
    for (int i = 0; i < cStretchMax; i++) {
        if (zi.secEnd >= secTransitionSearchLimit)
            return 0;
        ZINFO ziNext = ZiAt(zone, zi.secEnd);
        if (ziNext.secEnd <= zi.secEnd)
            return 0;
        if (ziNext.secOffset != zi.secOffset || ziNext.fDST != zi.fDST) {
            *psecT = zi.secEnd;
            *pfFallBack = ziNext.secOffset < zi.secOffset;
            return 1;
        }
        zi = ziNext;
    }
    return 0;
}

char const* SzDSTWord(int fDST)
{
    return fDST ? s_szDST : s_szStandardTime;
}

// Appends the formatted text to buf, cut to what is left of its cb bytes.
template <typename... ARGS>
void AppendCut(char* buf, int cb, char const* szFormat, ARGS... args)
{
    size_t cch = strlen(buf);
    if (cch + 1 >= (size_t)cb)
        return;
    snprintf(buf + cch, (size_t)cb - cch, szFormat, args...);
}

}  // namespace

unsigned int TimestampFromDate(char const* text)
{
    if (text == nullptr)
        return 0;
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    int cField = sscanf(text, "%d/%d/%d %d:%d:%d", &month, &day, &year, &hour, &minute, &second);
    if (cField != 3 && cField != 6)
        return 0;
    EnsureZones();

    // The calendar fields are this narrow; wider typed values wrap into them.
    signed char monthField = (signed char)month;
    signed char dayField = (signed char)day;
    signed char hourField = (signed char)hour;
    signed char minuteField = (signed char)minute;

    // Out-of-range fields carry over arithmetically: month 13 is January of the next year, day 0
    // the last day of the month before, hour 25 one o'clock the next day.
    long long monthsTotal = (long long)year * 12 + (monthField - 1);
    long long yearNorm = FloorDiv(monthsTotal, 12);
    unsigned monthNorm = (unsigned)(monthsTotal - yearNorm * 12 + 1);
    long long days = DaysFromCivil(yearNorm, monthNorm, 1) + (dayField - 1);
    long long secLocal = days * secPerDay + hourField * 3600LL + minuteField * 60LL + second;

    long long sec = secLocal - SecOffsetForLocal(s_zones.zoneSystem, secLocal);
    return (unsigned int)(unsigned long long)sec;
}

namespace {

bool FShownAsDate(unsigned int timestamp)
{
    return timestamp >= timestampEpoch2001 && timestamp <= timestampLastShown;
}

// The zones must be set: only the caller's memo changes.
char* WriteDate(unsigned int timestamp, char* buf, int cb, DATEMEMO* pmemo)
{
    if (buf == nullptr || cb <= 0)
        return buf;
    if (!FShownAsDate(timestamp)) {
        memset(buf, '-', (size_t)cb - 1);
        buf[cb - 1] = 0;
        return buf;
    }
    long long sec = timestamp;
    if (sec < pmemo->secBegin || sec >= pmemo->secEnd) {
        ZINFO zi = ZiAt(s_zones.timezoneref, sec);
        pmemo->secBegin = zi.secBegin;
        pmemo->secEnd = zi.secEnd;
        pmemo->secOffset = zi.secOffset;
    }
    // Shown timestamps lie in 2001..2038 and offsets within a day, so local seconds, the day
    // count and the year all fit 32 bits and the year has four digits.
    unsigned secLocal = (unsigned)(sec + pmemo->secOffset);
    unsigned days = secLocal / secPerDay;
    unsigned secOfDay = secLocal % secPerDay;
    if (pmemo->daysLastPlusOne != days + 1) {
        int64_t year;
        int month, day;
        CivilFromDays(days, &year, &month, &day);
        char* pch = pmemo->achDay;
        pch = PchPut2(pch, month);
        *pch++ = '/';
        pch = PchPut2(pch, day);
        *pch++ = '/';
        pch = PchPut2(pch, year / 100);
        pch = PchPut2(pch, year % 100);
        *pch = ' ';
        pmemo->daysLastPlusOne = days + 1;
    }

    // Written in place when the whole text fits; a short buffer gets a cut copy.
    char ach[20];
    char* pchStart = cb >= cchDate + 1 ? buf : ach;
    char* pch = pchStart;
    memcpy(pch, pmemo->achDay, sizeof pmemo->achDay);
    pch += sizeof pmemo->achDay;
    pch = PchPut2(pch, secOfDay / 3600);
    *pch++ = ':';
    pch = PchPut2(pch, secOfDay / 60 % 60);
    *pch++ = ':';
    pch = PchPut2(pch, secOfDay % 60);
    *pch = 0;
    if (pchStart == ach) {
        memcpy(buf, ach, (size_t)cb - 1);
        buf[cb - 1] = 0;
    }
    return buf;
}

}  // namespace

char* DateFromTimestamp(unsigned int timestamp, char* buf, int cb)
{
    // Dashes need no zone: a run that shows no date never opens the database.
    if (FShownAsDate(timestamp))
        EnsureZones();
    return WriteDate(timestamp, buf, cb, &s_zones.memoDisplay);
}

char* DateFromTimestampMemo(unsigned int timestamp, char* buf, int cb, DATEMEMO* pmemo)
{
    return WriteDate(timestamp, buf, cb, pmemo);
}

void PrepareDateZones()
{
    EnsureZones();
}

// Near an autumn change the same wall-clock hour happens twice, so for an end within an hour of
// it the note says which of the two it was; any other span across a change gets the plain
// transition note. Whether a change is "autumn" is read from the offset dropping, which holds in
// both hemispheres.
char* PszDSTNote(unsigned int timestampStart, unsigned int timestampEnd, char* buf, int cb)
{
    if (buf == nullptr || cb <= 0)
        return nullptr;
    EnsureZones();
    long long secA = timestampStart;
    long long secB = timestampEnd;
    int fDSTA = ZiAt(s_zones.timezoneref, secA).fDST;
    int fDSTB = ZiAt(s_zones.timezoneref, secB).fDST;

    long long secT;
    int fFallBack;
    if (FNextTransition(s_zones.timezoneref, secA - secTransitionWindow, &secT, &fFallBack)
        && secT < secB + secTransitionWindow && fFallBack) {
        buf[0] = 0;
        if (secT - secNearTransition <= secA && secA < secT + secNearTransition)
            AppendCut(buf, cb, "start time is in %s", SzDSTWord(fDSTA));
        if (secT - secNearTransition <= secB && secB < secT + secNearTransition) {
            if (buf[0] != 0)
                AppendCut(buf, cb, "%s", ", ");
            AppendCut(buf, cb, "end time is in %s", SzDSTWord(fDSTB));
        }
        if (buf[0] != 0)
            return buf;
    }
    if (fDSTA == fDSTB)
        return nullptr;
    snprintf(buf, (size_t)cb, "note transition from %s to %s", SzDSTWord(fDSTA), SzDSTWord(fDSTB));
    return buf;
}

int FUseTimeZone(char const* name, double* phoursOffset)
{
    ZONE zone;
    if (!FResolveZone(name, &zone))
        return 0;
    EnsureZones();
    *phoursOffset = ZiAt(zone, (long long)time(nullptr)).secOffset / 3600.0;
    SetDisplayZone(zone);
    return 1;
}

int FKnownAbbreviation(int iabbrev, KNOWNZONE* pknown)
{
    constexpr int cabbrev = (int)(sizeof s_rgabbrev / sizeof s_rgabbrev[0]);
    if (iabbrev < 0 || iabbrev >= cabbrev)
        return 0;
    ABBREV const& abbrev = s_rgabbrev[iabbrev];
    pknown->szAbbrev = abbrev.szAbbrev;
    pknown->szZone = abbrev.szZone;
    ZONE zone;
    pknown->fFound = FFindZone(abbrev.szZone, &zone);
    pknown->hoursOffset = pknown->fFound ? ZiAt(zone, (long long)time(nullptr)).secOffset / 3600.0 : 0;
    return 1;
}

int FSetZones(char const* name)
{
    ZONE zone;
    if (!FResolveZone(name, &zone))
        return 0;
    s_zones.zoneSystem = zone;
    SetDisplayZone(zone);
    s_zones.fSet = true;
    return 1;
}

char const* PszSystemZoneWarning()
{
    EnsureZones();
    return s_zones.strWarning.empty() ? nullptr : s_zones.strWarning.c_str();
}
