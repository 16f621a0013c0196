// Battery study, reporting half: one pass over each sample array builds time-weighted histograms
// and date ranges, then the comma-separated report goes to standard output.
#include "battery/histogram.h"

#include <climits>
#include <cstdint>
#include <cstdio>

#include "support/timecal.h"

constexpr int cHistAmps = 500;
constexpr int cHistSOC = 101;
constexpr int cHistTempMax = 200;
constexpr int cHistMilesOdo = 500;
constexpr int cHistDailyMiles = 1000;
constexpr int cHistDays = 7300;

constexpr int64_t secDay = 86400;
constexpr int64_t secHour = 3600;
constexpr int secGapLongTerm = 172800;
constexpr int secGapTransient = 7200;
// Gaps up to three days read better in hours; longer ones in days.
constexpr int64_t secGapInHoursMax = 259200;
// The last second of the day table: 7,300 days after the first valid time.
constexpr int64_t secDayOffsetMax = cHistDays * secDay - 1;

static int rgHistAmps[cHistAmps];
static int rgHistSOC[cHistSOC];
static int rgHistTempMax[cHistTempMax];
static int rgHistMilesOdo[cHistMilesOdo];
static int rgHistDailyMiles[cHistDailyMiles];
static int rgHistDays[cHistDays];

static int nMilesOdoMax;
static int nTimeStampMin;
static int nTimeStampMax;
static int nTimeStampMin2;
static int nTimeStampMax2;

void ResetData()
{
    for (int& n : rgHistAmps) n = 0;
    for (int& n : rgHistSOC) n = 0;
    for (int& n : rgHistTempMax) n = 0;
    for (int& n : rgHistMilesOdo) n = 0;
    for (int& n : rgHistDailyMiles) n = 0;
    for (int& n : rgHistDays) n = 0;
    nMilesOdoMax = 0;
    nTimeStampMin = 0;
    nTimeStampMax = 0;
    nTimeStampMin2 = 0;
    nTimeStampMax2 = 0;
}

static const char* SzDate(int timestamp, char* buf, int cb)
{
    return DateFromTimestamp(static_cast<unsigned int>(timestamp), buf, cb);
}

// Saturates rather than wrapping: ten million samples of up to two hours each overflow an int.
static void AddWeight(int* pn, int weight)
{
    *pn = (*pn > INT_MAX - weight) ? INT_MAX : *pn + weight;
}

// What one pass carries from sample to sample; readings of 0 mean "none yet".
struct PASS {
    int fLongTerm;
    int secGap;
    int timestampPrev;
    int pctSOC;
    int degESSMin;
    int degESSMax;
    int milesOdo;
    int fMilesOdoPrev;
    int milesOdoPrev;
};

// The sample's weight: seconds since the previous sample, a gap above the threshold reported
// and cut to it.
static int WeightOfSample(PASS* ppass, DataPoint const* pdp, int fFirst)
{
    if (fFirst)
        return 0;
    // Signed order allows any two int timestamps, so the difference needs more than 32 bits.
    int64_t secWeight = static_cast<int64_t>(pdp->timestamp) - ppass->timestampPrev;
    // Collection keeps samples in order; a caller's unordered array must not count backwards.
    if (secWeight < 0)
        return 0;
    if (secWeight <= ppass->secGap)
        return static_cast<int>(secWeight);
    char achFrom[20];
    char achTo[20];
    int fHours = secWeight <= secGapInHoursMax;
    int cLength = static_cast<int>(fHours ? secWeight / secHour : secWeight / secDay);
    std::printf("timeline gap from %s", SzDate(ppass->timestampPrev, achFrom, sizeof(achFrom)));
    std::printf(" to %s (%d %s) in %s section\n", SzDate(pdp->timestamp, achTo, sizeof(achTo)),
                cLength, fHours ? "hours" : "days", ppass->fLongTerm ? "long-term" : "transient");
    return ppass->secGap;
}

static void CarryReadings(PASS* ppass, DataPoint const* pdp)
{
    if (pdp->pctSOC != 0) ppass->pctSOC = pdp->pctSOC;
    if (pdp->degESSMin != 0) ppass->degESSMin = pdp->degESSMin;
    if (pdp->degESSMax != 0) ppass->degESSMax = pdp->degESSMax;
    if (pdp->milesOdo != 0) ppass->milesOdo = pdp->milesOdo;
}

static int FValidSampleTime(int timestamp)
{
    if (nTimeStampMax == 0 && FValidTimestamp(static_cast<unsigned int>(timestamp), TimestampLastValidBattery()))
        nTimeStampMax = timestamp;
    return FValidTimestamp(static_cast<unsigned int>(timestamp), static_cast<unsigned int>(nTimeStampMax));
}

static void AddValidTime(PASS const* ppass, int timestamp)
{
    if (nTimeStampMin == 0) {
        nTimeStampMin = timestamp;
    } else if (timestamp < nTimeStampMin) {
        char achDate[20];
        char achMin[20];
        std::printf("'%s'", SzDate(timestamp, achDate, sizeof(achDate)));
        std::printf(" is less than minimum set date '%s'\n", SzDate(nTimeStampMin, achMin, sizeof(achMin)));
    }
    if (timestamp > nTimeStampMax)
        nTimeStampMax = timestamp;
    if (ppass->fLongTerm)
        return;

    // Division truncates toward zero, so up to a day before the first time still lands on day 0;
    // anything earlier has no day in the table.
    int64_t secOffset = static_cast<int64_t>(timestamp) - nTimeStampMin;
    if (secOffset > -secDay && secOffset <= secDayOffsetMax)
        rgHistDays[secOffset / secDay] += 1;
    if (nTimeStampMin2 == 0)
        nTimeStampMin2 = timestamp;
    if (timestamp > nTimeStampMax2)
        nTimeStampMax2 = timestamp;
}

// The sample's date for a message, formatted on first use: most samples print nothing, and
// calendar conversion would dominate a pass over ten million samples.
struct LAZYDATE {
    int timestamp;
    char ach[20];
};

static const char* SzLazyDate(LAZYDATE* pld)
{
    if (pld->ach[0] == 0)
        SzDate(pld->timestamp, pld->ach, sizeof(pld->ach));
    return pld->ach;
}

static void CountTransientSample(PASS const* ppass, DataPoint const* pdp, int weight)
{
    LAZYDATE ld{pdp->timestamp, {}};
    if (pdp->ampsCharge != 0) {
        if (pdp->ampsCharge < 0 || pdp->ampsCharge >= cHistAmps)
            std::printf("%s: amps value '%d' out of range\n", SzLazyDate(&ld), pdp->ampsCharge);
        else
            AddWeight(&rgHistAmps[pdp->ampsCharge], weight);
    }
    if (ppass->pctSOC != 0) {
        if (ppass->pctSOC < 0 || ppass->pctSOC >= cHistSOC)
            std::printf("%s: SOC value '%d' out of range\n", SzLazyDate(&ld), ppass->pctSOC);
        else
            AddWeight(&rgHistSOC[ppass->pctSOC], weight);
    }
    if (ppass->degESSMin >= cHistTempMax)
        std::printf("%s: minimum temperature '%d' out of range\n", SzLazyDate(&ld), ppass->degESSMin);
    if (ppass->degESSMax != 0) {
        if (ppass->degESSMax < 0 || ppass->degESSMax >= cHistTempMax)
            std::printf("%s: maximum temperature '%d' out of range\n", SzLazyDate(&ld), ppass->degESSMax);
        else
            AddWeight(&rgHistTempMax[ppass->degESSMax], weight);
    }
}

static void CountLongTermSample(PASS* ppass, DataPoint const* pdp, int weight)
{
    if (ppass->milesOdo != 0) {
        int kmiles = ppass->milesOdo / 1000;
        if (kmiles < 0 || kmiles >= cHistMilesOdo) {
            char achDate[20];
            std::printf("%s: kMiles value '%d' out of range\n", SzDate(pdp->timestamp, achDate, sizeof(achDate)),
                        kmiles);
        } else {
            AddWeight(&rgHistMilesOdo[kmiles], weight);
        }
    }
    if (ppass->fMilesOdoPrev) {
        // A reading below the previous one (another car, a bad record) is no distance driven.
        int64_t miles = static_cast<int64_t>(ppass->milesOdo) - ppass->milesOdoPrev;
        if (miles >= cHistDailyMiles)
            miles = cHistDailyMiles - 1;
        if (miles >= 0)
            rgHistDailyMiles[miles] += 1;
    }
    ppass->fMilesOdoPrev = 1;
    ppass->milesOdoPrev = ppass->milesOdo;
}

void ProcessData(DataPoint* rg, int c, SECT sect)
{
    PASS pass{};
    pass.fLongTerm = sect == sectLongTerm;
    pass.secGap = pass.fLongTerm ? secGapLongTerm : secGapTransient;
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        int weight = WeightOfSample(&pass, pdp, i == 0);
        pass.timestampPrev = pdp->timestamp;
        CarryReadings(&pass, pdp);
        if (pass.milesOdo > nMilesOdoMax)
            nMilesOdoMax = pass.milesOdo;
        if (FValidSampleTime(pdp->timestamp))
            AddValidTime(&pass, pdp->timestamp);
        if (pass.fLongTerm)
            CountLongTermSample(&pass, pdp, weight);
        else
            CountTransientSample(&pass, pdp, weight);
    }
}

void PrintHistogram(const char* title, const char* unit, int* rg, int c, int fTrim)
{
    std::printf("------, -------\n");
    std::printf("%s, %s\n", title, unit);
    if (c <= 0)
        return;
    int iLast = 0;
    for (int j = 0; j < c; j++)
        if (rg[j] != 0)
            iLast = j;
    for (int j = 0; j < c; j++)
        if (rg[j] != 0 || (fTrim && j < iLast))
            std::printf("%d, %d\n", j, rg[j]);
}

void PrintPermanentData(DataPoint* rg, int c)
{
    std::printf("--------------\n");
    std::printf("timestamp, brickahmin, brickahave, bricknumber, CAC\n");
    char achDate[20];
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        if (pdp->rt != rtDAY)
            continue;
        std::printf("%s, %.2f, %.2f, %d, %.2f\n", SzDate(pdp->timestamp, achDate, sizeof(achDate)),
                    pdp->ahBrickMin, pdp->ahBrickAve, pdp->iBrickAhMin, pdp->ahCAC);
    }
    std::printf("--------------\n");
    std::printf("timestamp, firmware version\n");
    unsigned int versPrev = 0;
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        if (pdp->rt != rtVINF || pdp->versFirmware == versPrev)
            continue;
        versPrev = pdp->versFirmware;
        char achVersion[64];
        FormatFirmwareVersion(pdp->versFirmware, achVersion, sizeof(achVersion));
        std::printf("%s, %s\n", SzDate(pdp->timestamp, achDate, sizeof(achDate)), achVersion);
    }
}

static int CDaysOfDetail()
{
    int cDays = 0;
    for (int n : rgHistDays)
        if (n != 0)
            cDays++;
    return cDays;
}

static void PrintTimestampRange(const char* pszWhich, int timestampMin, int timestampMax)
{
    char achMin[20];
    char achMax[20];
    int cDays = static_cast<int>((static_cast<int64_t>(timestampMax) - timestampMin) / secDay);
    std::printf("%s Timestamp from %s to %s; %d days\n", pszWhich, SzDate(timestampMin, achMin, sizeof(achMin)),
                SzDate(timestampMax, achMax, sizeof(achMax)), cDays);
}

void PrintData()
{
    PrintHistogram("charging amps", "seconds", rgHistAmps, cHistAmps, 1);
    PrintHistogram("soc range %", "seconds", rgHistSOC, cHistSOC, 1);
    PrintHistogram("temp C", "seconds", rgHistTempMax, cHistTempMax, 1);
    PrintHistogram("kmiles", "seconds", rgHistMilesOdo, cHistMilesOdo, 1);
    PrintHistogram("milesperday", "count", rgHistDailyMiles, cHistDailyMiles, 1);
    PrintPermanentData(g_rgDP1, g_cDP1);
    PrintTimestampRange("Daily", nTimeStampMin, nTimeStampMax);
    PrintTimestampRange("Detail", nTimeStampMin2, nTimeStampMax2);
    std::printf("Days of detail: %d, odomoter max: %d\n", CDaysOfDetail(), nMilesOdoMax);
}

void ProcessAllData()
{
    ResetData();
    std::fprintf(stderr, "Process %d long-term records...\n", g_cDP1);
    ProcessData(g_rgDP1, g_cDP1, sectLongTerm);
    std::fprintf(stderr, "Process %d detail records...\n", g_cDP2);
    ProcessData(g_rgDP2, g_cDP2, sectTransient);
    PrintData();
}
