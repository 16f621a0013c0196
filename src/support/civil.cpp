// The calendar arithmetic counts 400-year eras from 0000-03-01: with March first, the leap day is
// the last day of a year, so month lengths repeat in a fixed 153-day pattern and the day of the
// year follows from the month by one division.
#include "support/civil.h"

namespace {

constexpr int64_t cDayEra = 146097;       // days in 400 Gregorian years
constexpr int64_t dayEpochShift = 719468; // 0000-03-01 to 1970-01-01

int64_t FloorDivEra(int64_t n, int64_t cPerEra)
{
    return (n >= 0 ? n : n - (cPerEra - 1)) / cPerEra;
}

}  // namespace

int64_t DaysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    int64_t era = FloorDivEra(year, 400);
    int64_t yoe = year - era * 400;
    int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * cDayEra + doe - dayEpochShift;
}

void CivilFromDays(int64_t days, int64_t* pyear, int* pmonth, int* pday)
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

int CDaysInMonth(int64_t year, int month)
{
    static constexpr int s_rgcDay[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool fLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && fLeap ? 29 : s_rgcDay[month - 1];
}
