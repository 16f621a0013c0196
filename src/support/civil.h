// Day counts to and from calendar dates: the proleptic Gregorian calendar, days counted from
// 1970-01-01, negative before it. Time zones are the callers' business. The conversions are inline:
// every date a report prints goes through them.
#pragma once

#include <cstdint>

// The calendar arithmetic counts 400-year eras from 0000-03-01: with March first, the leap day is
// the last day of a year, so month lengths repeat in a fixed 153-day pattern and the day of the
// year follows from the month by one division.
constexpr int64_t cDayEra = 146097;        // days in 400 Gregorian years
constexpr int64_t dayEpochShift = 719468;  // 0000-03-01 to 1970-01-01

inline int64_t FloorDivEra(int64_t n, int64_t cPerEra)
{
    return (n >= 0 ? n : n - (cPerEra - 1)) / cPerEra;
}

// Days since 1970-01-01 of year/month/day, month 1..12. A day outside the month counts on from
// the month's first (day 0 is the last of the month before), so callers may carry days over.
// Years within a trillion of 0.
inline int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    int64_t era = FloorDivEra(year, 400);
    int64_t yoe = year - era * 400;
    int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * cDayEra + doe - dayEpochShift;
}

// The date of a day count since 1970-01-01: month 1..12, day 1..31. Counts within a trillion
// days of 0.
inline void CivilFromDays(int64_t days, int64_t* pyear, int* pmonth, int* pday)
{
    days += dayEpochShift;
    int64_t era = FloorDivEra(days, cDayEra);
    int64_t doe = days - era * cDayEra;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *pday = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *pmonth = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *pyear = yoe + era * 400 + (*pmonth <= 2);
}

// Days in the month, month 1..12.
int CDaysInMonth(int64_t year, int month);
