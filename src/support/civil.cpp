// The calendar's table of month lengths.
#include "support/civil.h"

int CDaysInMonth(int64_t year, int month)
{
    static constexpr int s_rgcDay[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool fLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && fLeap ? 29 : s_rgcDay[month - 1];
}
