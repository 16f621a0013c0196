// The battery study's report: the collection's messages, then one pass over each sample array that
// builds time-weighted histograms and date ranges, and the comma-separated report on standard output.
#include "report/battery.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "report/reportformat.h"
#include "support/timecal.h"


constexpr int64_t secDay = 86400;
constexpr int64_t secHour = 3600;
constexpr int secGapLongTerm = 172800;
constexpr int secGapTransient = 7200;
// Gaps up to three days read better in hours; longer ones in days.
constexpr int64_t secGapInHoursMax = 259200;
// The last second of the day table: 7,300 days after the first valid time.
constexpr int64_t secDayOffsetMax = cHistDays * secDay - 1;

static const char* SzDate(int timestamp, char* buf, int cb)
{
    return DateFromTimestamp(static_cast<unsigned int>(timestamp), buf, cb);
}

// ---- The collection's messages ----

static void PrintVinLine(void*, char const* pchVIN, char const* pchVINBefore)
{
    if (!pchVINBefore)
        std::printf("VIN: %.*s\n", cchVIN, pchVIN);
    else
        std::printf("mismatched VINs: %.*s and %.*s\n", cchVIN, pchVINBefore, cchVIN, pchVIN);
}

static void PrintDropped(void*, SECT sect, uint32_t timestamp, int rt)
{
    // The date text is only ever needed here, so it is formatted here rather than per record.
    char achDate[20];
    DateFromTimestamp(timestamp, achDate, sizeof(achDate));
    const char* pszCode = SzFromRt(rt);
    std::printf(sect == sectLongTerm ? "L drop %s %s\n" : "T skip %s %s\n", achDate, pszCode ? pszCode : "");
}

STUDYHOOK StudyHookOfReport()
{
    return STUDYHOOK{nullptr, PrintVinLine, PrintDropped};
}

// ---- The report ----

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

static int FValidSampleTime(HISTOGRAMS* phist, int timestamp)
{
    if (phist->nTimeStampMax == 0 && FValidTimestamp(static_cast<unsigned int>(timestamp), phist->timestampLastValid))
        phist->nTimeStampMax = timestamp;
    return FValidTimestamp(static_cast<unsigned int>(timestamp), static_cast<unsigned int>(phist->nTimeStampMax));
}

static void AddValidTime(HISTOGRAMS* phist, PASS const* ppass, int timestamp)
{
    if (phist->nTimeStampMin == 0) {
        phist->nTimeStampMin = timestamp;
    } else if (timestamp < phist->nTimeStampMin) {
        char achDate[20];
        char achMin[20];
        std::printf("'%s'", SzDate(timestamp, achDate, sizeof(achDate)));
        std::printf(" is less than minimum set date '%s'\n", SzDate(phist->nTimeStampMin, achMin, sizeof(achMin)));
    }
    if (timestamp > phist->nTimeStampMax)
        phist->nTimeStampMax = timestamp;
    if (ppass->fLongTerm)
        return;

    // Division truncates toward zero, so up to a day before the first time still lands on day 0;
    // anything earlier has no day in the table.
    int64_t secOffset = static_cast<int64_t>(timestamp) - phist->nTimeStampMin;
    if (secOffset > -secDay && secOffset <= secDayOffsetMax)
        phist->rgHistDays[secOffset / secDay] += 1;
    if (phist->nTimeStampMin2 == 0)
        phist->nTimeStampMin2 = timestamp;
    if (timestamp > phist->nTimeStampMax2)
        phist->nTimeStampMax2 = timestamp;
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

static void CountTransientSample(HISTOGRAMS* phist, PASS const* ppass, DataPoint const* pdp, int weight)
{
    LAZYDATE ld{pdp->timestamp, {}};
    if (pdp->ampsCharge != 0) {
        if (pdp->ampsCharge < 0 || pdp->ampsCharge >= cHistAmps)
            std::printf("%s: amps value '%d' out of range\n", SzLazyDate(&ld), pdp->ampsCharge);
        else
            AddWeight(&phist->rgHistAmps[pdp->ampsCharge], weight);
    }
    if (ppass->pctSOC != 0) {
        if (ppass->pctSOC < 0 || ppass->pctSOC >= cHistSOC)
            std::printf("%s: SOC value '%d' out of range\n", SzLazyDate(&ld), ppass->pctSOC);
        else
            AddWeight(&phist->rgHistSOC[ppass->pctSOC], weight);
    }
    if (ppass->degESSMin >= cHistTempMax)
        std::printf("%s: minimum temperature '%d' out of range\n", SzLazyDate(&ld), ppass->degESSMin);
    if (ppass->degESSMax != 0) {
        if (ppass->degESSMax < 0 || ppass->degESSMax >= cHistTempMax)
            std::printf("%s: maximum temperature '%d' out of range\n", SzLazyDate(&ld), ppass->degESSMax);
        else
            AddWeight(&phist->rgHistTempMax[ppass->degESSMax], weight);
    }
}

static void CountLongTermSample(HISTOGRAMS* phist, PASS* ppass, DataPoint const* pdp, int weight)
{
    if (ppass->milesOdo != 0) {
        int kmiles = ppass->milesOdo / 1000;
        if (kmiles < 0 || kmiles >= cHistMilesOdo) {
            char achDate[20];
            std::printf("%s: kMiles value '%d' out of range\n", SzDate(pdp->timestamp, achDate, sizeof(achDate)),
                        kmiles);
        } else {
            AddWeight(&phist->rgHistMilesOdo[kmiles], weight);
        }
    }
    if (ppass->fMilesOdoPrev) {
        // A reading below the previous one (another car, a bad record) is no distance driven.
        int64_t miles = static_cast<int64_t>(ppass->milesOdo) - ppass->milesOdoPrev;
        if (miles >= cHistDailyMiles)
            miles = cHistDailyMiles - 1;
        if (miles >= 0)
            phist->rgHistDailyMiles[miles] += 1;
    }
    ppass->fMilesOdoPrev = 1;
    ppass->milesOdoPrev = ppass->milesOdo;
}

void ProcessData(HISTOGRAMS* phist, DataPoint const* rg, int c, SECT sect)
{
    PASS pass{};
    pass.fLongTerm = sect == sectLongTerm;
    pass.secGap = pass.fLongTerm ? secGapLongTerm : secGapTransient;
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        int weight = WeightOfSample(&pass, pdp, i == 0);
        pass.timestampPrev = pdp->timestamp;
        CarryReadings(&pass, pdp);
        if (pass.milesOdo > phist->nMilesOdoMax)
            phist->nMilesOdoMax = pass.milesOdo;
        if (FValidSampleTime(phist, pdp->timestamp))
            AddValidTime(phist, &pass, pdp->timestamp);
        if (pass.fLongTerm)
            CountLongTermSample(phist, &pass, pdp, weight);
        else
            CountTransientSample(phist, &pass, pdp, weight);
    }
}

void PrintHistogram(const char* title, const char* unit, int const* rg, int c, int fTrim)
{
    std::printf("%s\n", szReportHistHeader);
    std::printf(szReportHistTitleFormat, title, unit);
    if (c <= 0)
        return;
    int iLast = 0;
    for (int j = 0; j < c; j++)
        if (rg[j] != 0)
            iLast = j;
    for (int j = 0; j < c; j++)
        if (rg[j] != 0 || (fTrim && j < iLast))
            std::printf(szReportHistRowFormat, j, rg[j]);
}

void PrintPermanentData(DataPoint const* rg, int c)
{
    std::printf("%s\n", szReportTableRule);
    std::printf("%s\n", szReportCapHeading);
    char achDate[20];
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        if (pdp->rt != rtDAY)
            continue;
        std::printf(szReportCapRowFormat, SzDate(pdp->timestamp, achDate, sizeof(achDate)),
                    pdp->ahBrickMin, pdp->ahBrickAve, pdp->iBrickAhMin, pdp->ahCAC);
    }
    std::printf("%s\n", szReportTableRule);
    std::printf("%s\n", szReportFwHeading);
    unsigned int versPrev = 0;
    for (int i = 0; i < c; i++) {
        DataPoint const* pdp = &rg[i];
        if (pdp->rt != rtVINF || pdp->versFirmware == versPrev)
            continue;
        versPrev = pdp->versFirmware;
        char achVersion[64];
        FormatFirmwareVersion(pdp->versFirmware, achVersion, sizeof(achVersion));
        std::printf(szReportFwRowFormat, SzDate(pdp->timestamp, achDate, sizeof(achDate)), achVersion);
    }
}

static int CDaysOfDetail(HISTOGRAMS const* phist)
{
    int cDays = 0;
    for (int n : phist->rgHistDays)
        if (n != 0)
            cDays++;
    return cDays;
}

static void PrintTimestampRange(const char* pszWhich, int timestampMin, int timestampMax)
{
    char achMin[20];
    char achMax[20];
    int cDays = static_cast<int>((static_cast<int64_t>(timestampMax) - timestampMin) / secDay);
    std::printf(szReportSpanFormat, pszWhich, SzDate(timestampMin, achMin, sizeof(achMin)),
                SzDate(timestampMax, achMax, sizeof(achMax)), cDays);
}

void PrintData(HISTOGRAMS const* phist, STUDY const* pstudy)
{
    PrintHistogram(szReportHistAmps, szReportUnitSeconds, phist->rgHistAmps, cHistAmps, 1);
    PrintHistogram(szReportHistSOC, szReportUnitSeconds, phist->rgHistSOC, cHistSOC, 1);
    PrintHistogram(szReportHistTemp, szReportUnitSeconds, phist->rgHistTempMax, cHistTempMax, 1);
    PrintHistogram(szReportHistKmiles, szReportUnitSeconds, phist->rgHistMilesOdo, cHistMilesOdo, 1);
    PrintHistogram(szReportHistMilesPerDay, szReportUnitCount, phist->rgHistDailyMiles, cHistDailyMiles, 1);
    PrintPermanentData(pstudy->dp1.rg, pstudy->dp1.c);
    PrintTimestampRange(szReportSpanDaily, phist->nTimeStampMin, phist->nTimeStampMax);
    PrintTimestampRange(szReportSpanDetail, phist->nTimeStampMin2, phist->nTimeStampMax2);
    std::printf(szReportDetailFormat, CDaysOfDetail(phist), phist->nMilesOdoMax);
}

void ProcessAllData(STUDY const* pstudy)
{
    // About 40 KB of tables: on the heap rather than the stack of whoever asks for the report.
    std::unique_ptr<HISTOGRAMS> phistOwned = std::make_unique<HISTOGRAMS>();
    HISTOGRAMS* phist = phistOwned.get();
    phist->timestampLastValid = pstudy->timestampLastValid;
    std::fprintf(stderr, "Process %d long-term records...\n", pstudy->dp1.c);
    ProcessData(phist, pstudy->dp1.rg, pstudy->dp1.c, sectLongTerm);
    std::fprintf(stderr, "Process %d detail records...\n", pstudy->dp2.c);
    ProcessData(phist, pstudy->dp2.rg, pstudy->dp2.c, sectTransient);
    PrintData(phist, pstudy);
}
