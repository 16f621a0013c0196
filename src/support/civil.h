// Day counts to and from calendar dates: the proleptic Gregorian calendar, days counted from
// 1970-01-01, negative before it. Time zones are the callers' business.
#pragma once

#include <cstdint>

// Days since 1970-01-01 of year/month/day, month 1..12. A day outside the month counts on from
// the month's first (day 0 is the last of the month before), so callers may carry days over.
// Years within a trillion of 0.
int64_t DaysFromCivil(int64_t year, int month, int day);

// The date of a day count since 1970-01-01: month 1..12, day 1..31. Counts within a trillion
// days of 0.
void CivilFromDays(int64_t days, int64_t* pyear, int* pmonth, int* pday);

// Days in the month, month 1..12.
int CDaysInMonth(int64_t year, int month);
