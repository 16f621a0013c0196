// Calendar text, time zones and daylight-saving notes. Expected instants were worked out with the
// zone rules of 2009 (US: 8 March / 1 November, EU: 29 March / 25 October, Sydney: 5 April /
// 4 October) and written as Unix seconds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

#include "report/report.h"
#include "support/civil.h"
#include "support/timecal.h"

namespace {

constexpr unsigned tsLASpring = 1236506400;    // 2009-03-08 10:00 UTC, 02:00 PST -> 03:00 PDT
constexpr unsigned tsLAAutumn = 1257066000;    // 2009-11-01 09:00 UTC, 02:00 PDT -> 01:00 PST
constexpr unsigned tsSydAutumn = 1238860800;   // 2009-04-04 16:00 UTC, 03:00 AEDT -> 02:00 AEST
constexpr unsigned tsSydSpring = 1254585600;   // 2009-10-03 16:00 UTC, 02:00 AEST -> 03:00 AEDT
constexpr unsigned tsLonAutumn = 1256432400;   // 2009-10-25 01:00 UTC, 02:00 BST -> 01:00 GMT
constexpr unsigned tsMskDrop = 1414274400;     // 2014-10-25 22:00 UTC, Moscow +4 -> +3, no DST
constexpr unsigned tsJan4 = 1231070400;        // 2009-01-04 12:00 UTC
constexpr unsigned tsJul1 = 1246449600;        // 2009-07-01 12:00 UTC

std::string Date(unsigned ts, int cb = 20)
{
    char buf[64];
    memset(buf, 'x', sizeof buf);
    DateFromTimestamp(ts, buf, cb);
    return std::string(buf);
}

void UseZone(char const* name)
{
    ASSERT_EQ(FSetZones(name), 1) << name;
}

struct PARSECASE {
    char const* zone;
    char const* text;
    unsigned expected;
};

TEST(TimestampFromDate, ReadsDatesInTheSystemZone)
{
    PARSECASE const rgcase[] = {
        {"America/Los_Angeles", "12/30/2009", 1262160000},
        {"America/Los_Angeles", "12/30/2009 13:00:00", 1262206800},
        {"America/Los_Angeles", "7/4/2009 12:00:00", 1246734000},
        {"America/Los_Angeles", " 12/30/2009", 1262160000},
        {"America/Los_Angeles", "12/30/2009 13:00:00 and more", 1262206800},
        {"America/Los_Angeles", "12/30/2009x", 1262160000},
        {"Asia/Tokyo", "12/30/2009", 1262098800},
        {"UTC", "1/1/2010", 1262304000},
        {"UTC", "01/01/2001 00:00:00", 978307200},
        // The first field count that is not 3 or 6 stops the parse.
        {"America/Los_Angeles", "12/30/2009 13:00", 0},
        {"America/Los_Angeles", "12/30/2009 13", 0},
        {"America/Los_Angeles", "12/30", 0},
        {"America/Los_Angeles", "12 /30/2009", 0},
        {"America/Los_Angeles", "", 0},
        {"America/Los_Angeles", "yesterday", 0},
    };
    for (PARSECASE const& c : rgcase) {
        UseZone(c.zone);
        EXPECT_EQ(TimestampFromDate(c.text), c.expected) << c.zone << " '" << c.text << "'";
    }
    EXPECT_EQ(TimestampFromDate(nullptr), 0u);
}

TEST(TimestampFromDate, GapMovesForwardAndOverlapTakesTheEarlierInstant)
{
    PARSECASE const rgcase[] = {
        {"America/Los_Angeles", "3/8/2009 02:30:00", 1236508200},   // = 03:30 PDT
        {"America/Los_Angeles", "3/8/2009 03:30:00", 1236508200},
        {"America/Los_Angeles", "3/8/2009 01:59:59", tsLASpring - 1},
        {"America/Los_Angeles", "11/1/2009 01:30:00", 1257064200},  // 01:30 PDT, not PST
        {"America/Los_Angeles", "11/1/2009 02:00:00", tsLAAutumn + 3600},
        {"Australia/Sydney", "4/5/2009 02:30:00", 1238859000},      // 02:30 AEDT
        {"Australia/Sydney", "10/4/2009 02:30:00", 1254587400},     // = 03:30 AEDT
        {"Europe/London", "3/29/2009 01:30:00", 1238290200},        // = 02:30 BST
        {"Europe/London", "10/25/2009 01:30:00", 1256430600},       // 01:30 BST
    };
    for (PARSECASE const& c : rgcase) {
        UseZone(c.zone);
        EXPECT_EQ(TimestampFromDate(c.text), c.expected) << c.zone << " '" << c.text << "'";
    }
}

TEST(TimestampFromDate, OutOfRangeFieldsCarryOver)
{
    UseZone("UTC");
    PARSECASE const rgcase[] = {
        {"UTC", "13/1/2009", 1262304000},                // January 2010
        {"UTC", "0/1/2010", 1259625600},                 // December 2009
        {"UTC", "-1/1/2010", 1257033600},                // November 2009
        {"UTC", "1/0/2010", 1262217600},                 // 31 December 2009
        {"UTC", "2/29/2009", 1235865600},                // 1 March 2009
        {"UTC", "2/29/2008", 1204243200},                // a real leap day
        {"UTC", "12/31/2009 25:00:00", 1262307600},
        {"UTC", "1/1/2010 -1:00:00", 1262300400},
        {"UTC", "3/1/2009 00:00:-1", 1235865599},
        {"UTC", "1/1/2010 00:90:00", 1262309400},
        // Month, day, hour and minute are 8-bit: 300 is 44, 200 is -56.
        {"UTC", "300/1/2009", 1343779200},               // month 44 of 2009 = August 2012
        {"UTC", "1/300/2010", 1266019200},               // 13 February 2010
        {"UTC", "1/3/2010 200:00:00", 1262275200},       // 31 December 2009 16:00
        // Seconds and year are wide; the result keeps the low 32 bits. No century is added.
        {"UTC", "1/1/2010 0:0:2147483647", 3409787647u},
        {"UTC", "1/1/2200", 2963151104u},
        {"UTC", "1/1/09", 2541373440u},                  // the year 9
    };
    for (PARSECASE const& c : rgcase)
        EXPECT_EQ(TimestampFromDate(c.text), c.expected) << "'" << c.text << "'";
}

TEST(TimestampFromDate, ExtremeFieldsDoNotFail)
{
    char const* const rgsz[] = {
        "1/1/2147483647 23:59:59",
        "1/1/-2147483648",
        "127/127/2147483647 127:127:2147483647",
        "-128/-128/-2147483648 -128:-128:-2147483648",
        "99999999999999999999/1/1",
        "1/1/99999999999999999999 1:1:99999999999999999999",
    };
    for (char const* zone : {"UTC", "America/Los_Angeles", "Australia/Sydney"}) {
        UseZone(zone);
        for (char const* sz : rgsz)
            TimestampFromDate(sz);
    }
    UseZone("America/Los_Angeles");
    EXPECT_EQ(TimestampFromDate("1/1/2147483647"), TimestampFromDate("1/1/2147483647 00:00:00"));
}

// The calendar behind every date the program, genlog and quenfell-plot print or read. Day counts
// were worked out by hand from 1970-01-01 backwards and forwards; the walk then checks that
// consecutive counts are consecutive dates over some 5,000 years, and the sweep that the years
// TimestampFromDate can be handed (an int's range, carried by a month field) come back.
TEST(Civil, DaysAndDatesAgree)
{
    struct {
        int64_t year;
        int month, day;
        int64_t days;
    } const rgcase[] = {
        {1970, 1, 1, 0},
        {1969, 12, 31, -1},
        {2000, 2, 29, 11016},           // 2000 is a leap year: divisible by 400
        {2000, 3, 1, 11017},
        {2001, 1, 1, 11323},            // the platform's epoch
        {2038, 1, 19, 24855},           // the last day a signed 32-bit timestamp reaches
        {2100, 2, 28, 47540},           // 2100 is not: divisible by 100
        {2100, 3, 1, 47541},
        {1900, 3, 1, -25508},
        {1600, 2, 29, -135081},
        {1, 1, 1, -719162},
        {0, 3, 1, -719468},
        {-1, 12, 31, -719529},          // the day before year 0, a leap year
    };
    for (auto const& c : rgcase) {
        EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month << "-" << c.day;
        int64_t year;
        int month, day;
        CivilFromDays(c.days, &year, &month, &day);
        EXPECT_EQ(year, c.year) << c.days;
        EXPECT_EQ(month, c.month) << c.days;
        EXPECT_EQ(day, c.day) << c.days;
    }

    // Days outside the month count on from its first, as TimestampFromDate carries them.
    EXPECT_EQ(DaysFromCivil(2009, 3, 0), DaysFromCivil(2009, 2, 28));
    EXPECT_EQ(DaysFromCivil(2008, 2, 30), DaysFromCivil(2008, 3, 1));
    EXPECT_EQ(DaysFromCivil(2009, 12, 32), DaysFromCivil(2010, 1, 1));
    EXPECT_EQ(DaysFromCivil(2010, 1, -364), DaysFromCivil(2009, 1, 1));

    int64_t yearPrev, yearDay;
    int monthPrev, dayPrev, month, day;
    CivilFromDays(-1000001, &yearPrev, &monthPrev, &dayPrev);
    for (int64_t days = -1000000; days <= 1000000; days++) {
        CivilFromDays(days, &yearDay, &month, &day);
        bool fNextDay = yearDay == yearPrev && month == monthPrev && day == dayPrev + 1;
        bool fNextMonth = yearDay == yearPrev && month == monthPrev + 1 && day == 1
                          && dayPrev == CDaysInMonth(yearPrev, monthPrev);
        bool fNextYear = yearDay == yearPrev + 1 && month == 1 && day == 1 && monthPrev == 12 && dayPrev == 31;
        ASSERT_TRUE(fNextDay || fNextMonth || fNextYear) << days << ": " << yearDay << "-" << month << "-" << day;
        ASSERT_EQ(DaysFromCivil(yearDay, month, day), days) << days;
        yearPrev = yearDay;
        monthPrev = month;
        dayPrev = day;
    }

    for (int64_t year = -2200000000LL; year <= 2200000000LL; year += 1234567) {
        for (int monthT : {1, 2, 3, 12}) {
            int64_t days = DaysFromCivil(year, monthT, CDaysInMonth(year, monthT));
            CivilFromDays(days, &yearDay, &month, &day);
            ASSERT_EQ(yearDay, year);
            ASSERT_EQ(month, monthT) << year;
            ASSERT_EQ(day, CDaysInMonth(year, monthT)) << year;
        }
    }
}

struct DATECASE {
    char const* zone;
    unsigned ts;
    int cb;
    char const* expected;
};

TEST(DateFromTimestamp, WritesCalendarTextInTheDisplayZone)
{
    DATECASE const rgcase[] = {
        {"UTC", 978307200, 20, "01/01/2001 00:00:00"},
        {"UTC", 2147483647, 20, "01/19/2038 03:14:07"},
        {"UTC", 1204286400, 20, "02/29/2008 12:00:00"},
        {"UTC", 1262303999, 20, "12/31/2009 23:59:59"},
        {"America/Los_Angeles", 978307200, 20, "12/31/2000 16:00:00"},
        {"America/Los_Angeles", tsJul1, 20, "07/01/2009 05:00:00"},
        {"America/Los_Angeles", tsJan4, 20, "01/04/2009 04:00:00"},
        {"America/Los_Angeles", tsLASpring - 1, 20, "03/08/2009 01:59:59"},
        {"America/Los_Angeles", tsLASpring, 20, "03/08/2009 03:00:00"},
        {"America/Los_Angeles", tsLAAutumn - 1, 20, "11/01/2009 01:59:59"},
        {"America/Los_Angeles", tsLAAutumn, 20, "11/01/2009 01:00:00"},
        {"Australia/Sydney", 978307200, 20, "01/01/2001 11:00:00"},
        {"Australia/Sydney", tsJul1, 20, "07/01/2009 22:00:00"},
        {"Australia/Sydney", tsJan4, 20, "01/04/2009 23:00:00"},
        {"Asia/Tokyo", tsJul1, 20, "07/01/2009 21:00:00"},
        {"Europe/London", tsJul1, 20, "07/01/2009 13:00:00"},
        {"Europe/London", tsJan4, 20, "01/04/2009 12:00:00"},
        // Before 2001, and the timestamps that are negative as signed 32-bit values.
        {"UTC", 0, 20, "-------------------"},
        {"UTC", 978307199, 20, "-------------------"},
        {"UTC", 0x80000000u, 20, "-------------------"},
        {"UTC", 0xFFFFFFFFu, 20, "-------------------"},
        {"UTC", 0, 25, "------------------------"},
        {"UTC", 0, 5, "----"},
        {"UTC", 0, 1, ""},
        // Cut to cb bytes with the terminating zero.
        {"UTC", 978307200, 1, ""},
        {"UTC", 978307200, 5, "01/0"},
        {"UTC", 978307200, 19, "01/01/2001 00:00:0"},
        {"UTC", 978307200, 40, "01/01/2001 00:00:00"},
    };
    for (DATECASE const& c : rgcase) {
        UseZone(c.zone);
        EXPECT_EQ(Date(c.ts, c.cb), c.expected) << c.zone << " " << c.ts << " cb " << c.cb;
    }
}

TEST(DateFromTimestamp, WritesNothingWithoutRoom)
{
    UseZone("UTC");
    char buf[4] = {'x', 'x', 'x', 0};
    EXPECT_EQ(DateFromTimestamp(978307200, buf, 0), buf);
    EXPECT_EQ(DateFromTimestamp(0, buf, -3), buf);
    EXPECT_STREQ(buf, "xxx");
    EXPECT_EQ(DateFromTimestamp(978307200, nullptr, 20), nullptr);
}

// The fast path keeps the zone's current stretch; crossing its ends in either direction must
// still give the new offset.
TEST(DateFromTimestamp, FollowsTransitionsInBothDirections)
{
    UseZone("America/Los_Angeles");
    EXPECT_EQ(Date(tsLASpring - 1), "03/08/2009 01:59:59");
    EXPECT_EQ(Date(tsLASpring), "03/08/2009 03:00:00");
    EXPECT_EQ(Date(tsLASpring - 1), "03/08/2009 01:59:59");
    EXPECT_EQ(Date(tsLAAutumn), "11/01/2009 01:00:00");
    EXPECT_EQ(Date(tsLAAutumn - 1), "11/01/2009 01:59:59");
    UseZone("Asia/Tokyo");
    EXPECT_EQ(Date(tsLAAutumn), "11/01/2009 18:00:00");
}

// Compares with the C library's own reading of the same zone files, over random instants and
// the seconds around every transition, and checks that the text reads back to the same instant
// (or, in a repeated hour, to the earlier instance showing the same text).
TEST(DateFromTimestamp, AgreesWithLocaltimeAndReadsBack)
{
    char const* szTZSaved = getenv("TZ");
    std::string strTZSaved = szTZSaved ? szTZSaved : "";
    std::mt19937 rng(20090605);
    for (char const* zone : {"America/Los_Angeles", "Europe/London", "Australia/Sydney",
                             "Asia/Tokyo", "America/St_Johns", "Asia/Kathmandu", "UTC"}) {
        UseZone(zone);
        setenv("TZ", zone, 1);
        tzset();
        std::vector<unsigned> rgts;
        for (int i = 0; i < 20000; i++)
            rgts.push_back(978307200u + rng() % (2147483647u - 978307200u));
        for (unsigned ts = 978307200u; ts < 2140000000u; ts += 3600 * 24 * 7) {
            for (unsigned ts2 : {ts, ts + 86400 * 3})
                rgts.push_back(ts2);
        }
        for (unsigned ts : {tsLASpring, tsLAAutumn, tsSydAutumn, tsSydSpring, tsLonAutumn}) {
            for (int d = -3; d <= 3; d++)
                rgts.push_back(ts + d);
        }
        for (unsigned ts : rgts) {
            time_t t = ts;
            struct tm tm;
            localtime_r(&t, &tm);
            char szExpected[64];
            snprintf(szExpected, sizeof szExpected, "%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
            std::string str = Date(ts);
            ASSERT_EQ(str, szExpected) << zone << " " << ts;
            unsigned tsBack = TimestampFromDate(str.c_str());
            ASSERT_LE(tsBack, ts) << zone << " " << ts;
            ASSERT_EQ(Date(tsBack), str) << zone << " " << ts;
            if (ts != tsBack) {
                ASSERT_EQ(ts - tsBack, 3600u) << zone << " " << ts;
            }
        }
    }
    if (szTZSaved)
        setenv("TZ", strTZSaved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

struct NOTECASE {
    char const* zone;
    unsigned tsStart;
    unsigned tsEnd;
    char const* expected;   // null: no note
};

char const szBothDST[] = "start time is in daylight saving time, end time is in daylight saving time";
char const szDSTThenStandard[] = "start time is in daylight saving time, end time is in standard time";
char const szBothStandard[] = "start time is in standard time, end time is in standard time";
char const szToDST[] = "note transition from standard time to daylight saving time";
char const szToStandard[] = "note transition from daylight saving time to standard time";

TEST(PszDSTNote, ExplainsChangesInsideASpan)
{
    NOTECASE const rgcase[] = {
        // Ends near an autumn change say on which side of it they lie.
        {"America/Los_Angeles", tsLAAutumn - 3000, tsLAAutumn - 600, szBothDST},
        {"America/Los_Angeles", tsLAAutumn - 1800, tsLAAutumn + 1800, szDSTThenStandard},
        {"America/Los_Angeles", tsLAAutumn + 600, tsLAAutumn + 1200, szBothStandard},
        {"America/Los_Angeles", tsLAAutumn - 5000, tsLAAutumn + 600, "end time is in standard time"},
        {"America/Los_Angeles", tsLAAutumn - 3600, tsLAAutumn - 3600, szBothDST},
        {"America/Los_Angeles", tsLAAutumn + 3599, tsLAAutumn + 3599, szBothStandard},
        {"America/Los_Angeles", tsLAAutumn - 3601, tsLAAutumn - 3601, nullptr},
        {"America/Los_Angeles", tsLAAutumn + 3600, tsLAAutumn + 3600, nullptr},
        {"America/Los_Angeles", tsLAAutumn - 86400, tsLAAutumn + 86400, szToStandard},
        // A spring change has no repeated hour: only the transition note.
        {"America/Los_Angeles", tsLASpring - 10800, tsLASpring + 10800, szToDST},
        {"America/Los_Angeles", tsLASpring - 1800, tsLASpring + 1800, szToDST},
        {"America/Los_Angeles", tsJul1, tsJul1 + 4 * 3600, nullptr},
        {"America/Los_Angeles", tsJan4, tsJan4 + 7 * 86400, nullptr},
        {"America/Los_Angeles", tsJan4, 1262303999, nullptr},   // across both changes
        {"Europe/London", tsLonAutumn - 1800, tsLonAutumn + 1800, szDSTThenStandard},
        // Southern hemisphere: the autumn change is in April, the spring change in October.
        {"Australia/Sydney", tsSydAutumn - 1800, tsSydAutumn + 1800, szDSTThenStandard},
        {"Australia/Sydney", tsSydAutumn - 3000, tsSydAutumn - 600, szBothDST},
        {"Australia/Sydney", tsSydAutumn - 86400, tsSydAutumn + 86400, szToStandard},
        {"Australia/Sydney", tsSydSpring - 1800, tsSydSpring + 1800, szToDST},
        {"Australia/Sydney", tsSydSpring - 10800, tsSydSpring + 10800, szToDST},
        {"Australia/Sydney", tsJan4, tsJan4 + 7 * 86400, nullptr},
        // An offset that drops without daylight saving time on either side.
        {"Europe/Moscow", tsMskDrop - 1800, tsMskDrop + 1800, szBothStandard},
        {"Europe/Moscow", tsMskDrop - 86400, tsMskDrop + 86400, nullptr},
        // No daylight saving time, no note.
        {"Asia/Tokyo", tsJan4, 1262303999, nullptr},
        {"Asia/Tokyo", tsLAAutumn - 1800, tsLAAutumn + 1800, nullptr},
        {"UTC", tsJan4, 1262303999, nullptr},
        {"UTC", 0, 0xFFFFFFFFu, nullptr},
    };
    for (NOTECASE const& c : rgcase) {
        UseZone(c.zone);
        char buf[256];
        char* psz = PszDSTNote(c.tsStart, c.tsEnd, buf, sizeof buf);
        if (c.expected == nullptr) {
            EXPECT_EQ(psz, nullptr) << c.zone << " " << c.tsStart << ".." << c.tsEnd << ": " << psz;
        } else {
            ASSERT_EQ(psz, buf) << c.zone << " " << c.tsStart << ".." << c.tsEnd;
            EXPECT_STREQ(psz, c.expected) << c.zone << " " << c.tsStart << ".." << c.tsEnd;
        }
    }
}

TEST(PszDSTNote, CutsToTheBuffer)
{
    UseZone("America/Los_Angeles");
    char buf[64];
    EXPECT_STREQ(PszDSTNote(tsLAAutumn - 1800, tsLAAutumn + 1800, buf, 40),
                 "start time is in daylight saving time, ");
    EXPECT_STREQ(PszDSTNote(tsLAAutumn - 1800, tsLAAutumn + 1800, buf, 20), "start time is in da");
    EXPECT_STREQ(PszDSTNote(tsLASpring - 1800, tsLASpring + 1800, buf, 10), "note tran");
    EXPECT_EQ(PszDSTNote(tsLASpring - 1800, tsLASpring + 1800, nullptr, 256), nullptr);
}

std::string UseTimeZoneOutput(char const* name, int* pf)
{
    testing::internal::CaptureStdout();
    double hoursOffset;
    *pf = FUseTimeZone(name, &hoursOffset);
    if (*pf)
        PrintTimeZoneUsed(name, hoursOffset);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(FUseTimeZone, ChangesTheDisplayZoneOnly)
{
    struct ZONECASE {
        char const* name;
        char const* output;
        char const* dateJul1;   // tsJul1 shown in the chosen zone
    };
    ZONECASE const rgcase[] = {
        {"Asia/Tokyo", "Using time zone Asia/Tokyo (GMT+9).\n", "07/01/2009 21:00:00"},
        {"JST", "Using time zone JST (GMT+9).\n", "07/01/2009 21:00:00"},
        {"Asia/Kolkata", "Using time zone Asia/Kolkata (GMT+5.5).\n", "07/01/2009 17:30:00"},
        {"UTC", "Using time zone UTC (GMT+0).\n", "07/01/2009 12:00:00"},
        // The database's own EST has no summer time.
        {"EST", "Using time zone EST (GMT-5).\n", "07/01/2009 07:00:00"},
        {"Etc/GMT+3", "Using time zone Etc/GMT+3 (GMT-3).\n", "07/01/2009 09:00:00"},
    };
    for (ZONECASE const& c : rgcase) {
        UseZone("UTC");
        int f;
        EXPECT_EQ(UseTimeZoneOutput(c.name, &f), c.output);
        EXPECT_EQ(f, 1) << c.name;
        EXPECT_EQ(Date(tsJul1), c.dateJul1) << c.name;
        EXPECT_EQ(TimestampFromDate("07/01/2009 12:00:00"), tsJul1) << c.name;
    }
}

TEST(FUseTimeZone, AcceptsAbbreviationsWithSummerTime)
{
    struct ZONECASE {
        char const* name;
        char const* outputWinter;   // the offset printed is the one in force now
        char const* outputSummer;
        char const* dateJul1;
        char const* dateJan4;
    };
    ZONECASE const rgcase[] = {
        {"PST", "Using time zone PST (GMT-8).\n", "Using time zone PST (GMT-7).\n",
         "07/01/2009 05:00:00", "01/04/2009 04:00:00"},
        {"PDT", "Using time zone PDT (GMT-8).\n", "Using time zone PDT (GMT-7).\n",
         "07/01/2009 05:00:00", "01/04/2009 04:00:00"},
        {"EDT", "Using time zone EDT (GMT-5).\n", "Using time zone EDT (GMT-4).\n",
         "07/01/2009 08:00:00", "01/04/2009 07:00:00"},
        {"CEST", "Using time zone CEST (GMT+1).\n", "Using time zone CEST (GMT+2).\n",
         "07/01/2009 14:00:00", "01/04/2009 13:00:00"},
        {"BST", "Using time zone BST (GMT+0).\n", "Using time zone BST (GMT+1).\n",
         "07/01/2009 13:00:00", "01/04/2009 12:00:00"},
        // Southern summer is northern winter.
        {"AEST", "Using time zone AEST (GMT+11).\n", "Using time zone AEST (GMT+10).\n",
         "07/01/2009 22:00:00", "01/04/2009 23:00:00"},
        {"AEDT", "Using time zone AEDT (GMT+11).\n", "Using time zone AEDT (GMT+10).\n",
         "07/01/2009 22:00:00", "01/04/2009 23:00:00"},
    };
    for (ZONECASE const& c : rgcase) {
        UseZone("UTC");
        int f;
        std::string str = UseTimeZoneOutput(c.name, &f);
        EXPECT_TRUE(str == c.outputWinter || str == c.outputSummer) << c.name << ": " << str;
        EXPECT_EQ(f, 1) << c.name;
        EXPECT_EQ(Date(tsJul1), c.dateJul1) << c.name;
        EXPECT_EQ(Date(tsJan4), c.dateJan4) << c.name;
    }
}

TEST(FUseTimeZone, RefusesUnknownNamesQuietly)
{
    for (char const* name : {"Nowhere/Land", "XYZ", "pst", "", "../../etc/passwd"}) {
        UseZone("Asia/Tokyo");
        int f;
        EXPECT_EQ(UseTimeZoneOutput(name, &f), "") << name;
        EXPECT_EQ(f, 0) << name;
        EXPECT_EQ(Date(tsJul1), "07/01/2009 21:00:00") << name;
    }
    double hoursOffset;
    EXPECT_EQ(FUseTimeZone(nullptr, &hoursOffset), 0);
    EXPECT_EQ(FSetZones("Nowhere/Land"), 0);
}

TEST(PrintTimeZoneList, ListsEveryAbbreviationInOrder)
{
    testing::internal::CaptureStdout();
    PrintTimeZoneList();
    fflush(stdout);
    std::string str = testing::internal::GetCapturedStdout();

    std::string const strHead = "Code Delta Name\n---- ----- --------------\n";
    ASSERT_EQ(str.substr(0, strHead.size()), strHead);
    for (char const* szLine : {"JST    9.0 Asia/Tokyo\n", "UTC    0.0 UTC\n", "EST   -5.0 EST\n",
                               "IST    5.5 Asia/Kolkata\n"})
        EXPECT_NE(str.find(std::string("\n") + szLine), std::string::npos) << szLine;

    // Every listed code is accepted by -z and they come in alphabetical order.
    std::string strPrev;
    int cLine = 0;
    for (size_t ich = strHead.size(); ich < str.size();) {
        size_t ichEnd = str.find('\n', ich);
        ASSERT_NE(ichEnd, std::string::npos);
        std::string strLine = str.substr(ich, ichEnd - ich);
        ich = ichEnd + 1;
        std::string strCode = strLine.substr(0, strLine.find(' '));
        EXPECT_LT(strPrev, strCode);
        strPrev = strCode;
        int f;
        UseTimeZoneOutput(strCode.c_str(), &f);
        EXPECT_EQ(f, 1) << strCode;
        cLine++;
    }
    EXPECT_GE(cLine, 40);
}

// The system zone is chosen once per run, so each case runs in a fresh process.
bool FStartsInTokyo()
{
    char buf[20];
    return TimestampFromDate("07/01/2009 21:00:00") == tsJul1
        && strcmp(DateFromTimestamp(tsJul1, buf, sizeof buf), "07/01/2009 21:00:00") == 0;
}

TEST(SystemZoneDeathTest, ComesFromTheTZVariable)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (char const* szTZ : {"Asia/Tokyo", ":Asia/Tokyo", ":/usr/share/zoneinfo/Asia/Tokyo"}) {
        setenv("TZ", szTZ, 1);
        EXPECT_EXIT(exit(FStartsInTokyo() ? 0 : 1), testing::ExitedWithCode(0), "") << szTZ;
    }
    unsetenv("TZ");
}

}  // namespace
