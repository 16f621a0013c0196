// What owners ask of their car's history, worked out from its sessions and records: months and
// years, energy lost while parked, charging losses and cost under a price schedule, the battery's
// health (capacity trend, brick imbalance, hours parked by SOC and temperature) and charging curves.
// Plain inputs and plain outputs: the car page and the history database call the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/sessions.h"
#include "records/record.h"

// ---- Civil time in the display zone --------------------------------------------------------------

constexpr int64_t secCivilNone = INT64_MIN;

// The display zone's offset from UTC is looked up once per quarter hour of UTC: zones change it at
// whole quarter hours, so a run of records a minute apart costs one look-up every fifteen minutes.
struct CIVILCACHE {
    int64_t key = -1;
    int64_t secOffset = 0;
    bool fNone = false;
};

// Seconds of the display zone's calendar (days since 1970-01-01 times 86400 plus the time of day)
// of a timestamp; secCivilNone for a time the report prints as dashes (before 2001).
int64_t SecCivilOf(uint32_t timestamp, CIVILCACHE* pcache);

// The calendar month of civil seconds: year and month 1..12.
void MonthOfSecCivil(int64_t secCivil, int* pyear, int* pmonth);

// ---- The price of energy from the wall -----------------------------------------------------------

// --price PRICE[,OFFPEAK@HH:MM-HH:MM]: a price per kWh from the wall, and a lower one inside a daily
// window of the display zone's clock. The window runs from minuteStart up to (not including)
// minuteEnd and may cross midnight (23:00-07:00); equal ends make no window.
struct PRICE {
    bool fGiven = false;        // no price: no cost is worked out or shown
    double price = 0;
    bool fOffPeak = false;
    double priceOffPeak = 0;
    int minuteStart = 0, minuteEnd = 0;   // minutes after midnight, 0..1439
};

// Reads the option's value. On failure returns false with a fixed text saying what is wrong in
// *ppszWhy ("a price is a number of 0 or more", ...), and *pprice unchanged.
bool FParsePrice(char const* psz, PRICE* pprice, char const** ppszWhy);

// The price per kWh at a minute of the day (0..1439).
double PriceAtMinute(PRICE const* pprice, int minuteOfDay);

// One charge record with the wall's power: line volts times charge amps, in kW.
struct LINEPOWER {
    uint32_t timestamp;
    float kw;
};

// The line power of a charge record; false when it lacks line volts or charge amps.
bool FLinePowerOfRecord(VLR const* pvlr, LINEPOWER* plp);

// What a charge cost. Each record's power is drawn over the seconds since the record before (the
// rule the charge's kWh follows: the first record draws nothing), and each minute of that time is
// priced at the display zone's clock. The cost is then scaled to the charge's own kWh, so that a
// charge's cost is always its kWh times its average price. kwhOffPeak is the part inside the
// window. Records must be in time order; a gap of more than a day is priced at its first minute.
struct CHARGECOST {
    double cost;                // 0 without a price
    double kwhOffPeak;
    double priceAverage;        // per kWh; 0 when the records drew nothing
};
CHARGECOST CostOfCharge(PRICE const* pprice, double kwhCharge, LINEPOWER const* rglp, int clp, CIVILCACHE* pcache);

// ---- Charging losses --------------------------------------------------------------------------------

constexpr double pctLossNone = -1000;

// The share of the wall's energy that did not reach the battery, in %, over the records that read
// both; pctLossNone when the charge has fewer than two such records or drew nothing.
double PctChargeLoss(CHARGESESSION const* pcs);

// ---- Hourly status while parked, daily figures ------------------------------------------------------

// An hourly status record (IDLE) as the parked figures need it.
struct IDLESAMPLE {
    uint32_t timestamp;
    int pctSOC;                 // -1: none
    bool fTemp;                 // degMax holds the highest battery temperature, deg C
    float degMax;
    bool fBrickVolts;           // the lowest and highest brick voltage, V
    float voltsBrickMin, voltsBrickMax;
};

// The sample of an hourly status record; false for records of other types.
bool FIdleSampleOfRecord(VLR const* pvlr, IDLESAMPLE* psample);

// A daily capacity figure of the long-term part (DAY).
struct DAYSAMPLE {
    uint32_t timestamp;
    double ahCAC, ahBrickMin, ahBrickAve;
    double milesOdo;            // 0: no reading
};

// ---- Energy lost while parked --------------------------------------------------------------------

// A stretch between the end of one session (drive or charge) and the start of the next, measured
// from its first to its last hourly status with a SOC. The energy stands for the SOC lost times
// the capacity (CAC, Ah) of the latest daily figure at or before the stretch (the first one when
// none is before it) times the pack voltage given.
struct PARKED {
    uint32_t timestampStart, timestampEnd;   // the first and last hourly status with a SOC
    int pctStart, pctEnd;
    double hours;
    double pctLost;             // start minus end; below 0 when the SOC rose
    double whLost;              // 0 when no capacity figure is known
    double pctPerDay, whPerDay;
};

// Sessions as spans of time, in time order; the stretches between them with at least two hourly
// readings at least hoursParkedMin apart go to *prgparked, in time order.
constexpr double hoursParkedMin = 2.0;
struct SESSIONSPAN {
    uint32_t timestampStart, timestampEnd;
};
void SpansOfSessions(DRIVESESSION const* rgds, int cds, CHARGESESSION const* rgcs, int ccs, std::vector<SESSIONSPAN>* prgspan);
void ParkedStretches(SESSIONSPAN const* rgspan, int cspan, IDLESAMPLE const* rgidle, int cidle, DAYSAMPLE const* rgday,
                     int cday, double voltsPack, std::vector<PARKED>* prgparked);

// ---- Months and years --------------------------------------------------------------------------

// The figures of one calendar month (month 1..12) or year (month 0) in the display zone. A drive or
// charge counts in the month it starts in, a parked stretch in the month its first reading is in.
struct PERIOD {
    int year, month;
    double miles;
    int cdrive;
    double secDriving;
    double whOut;               // out of the battery, regeneration subtracted
    double kwhWall;
    int ccharge;
    int cparked;
    double hoursParked, pctParkedLost, whParkedLost;
    double cost;                // with a price only
};

// Wh per mile out of the battery and from the wall; -1 for a period under a mile (or without wall
// energy).
double WhPerMileOut(PERIOD const* pperiod);
double WhPerMileWall(PERIOD const* pperiod);

// Months in calendar order with something in them, and the years they make. rgcost, when not null,
// holds each charge's cost (rgcs's order).
void PeriodsOf(DRIVESESSION const* rgds, int cds, CHARGESESSION const* rgcs, int ccs, double const* rgcost,
               PARKED const* rgparked, int cparked, std::vector<PERIOD>* prgmonth, std::vector<PERIOD>* prgyear);

// ---- Battery health ------------------------------------------------------------------------------

// A straight line v = vAt0 + slope x fitted by least squares; fFit false for fewer than two points
// or one x.
struct TREND {
    bool fFit;
    double slope, vAt0;
    int cpt;                    // the points it was fitted to
};
// Least squares, then once more without the points further than three root-mean-square residuals
// from the first line, so that a few wild daily figures do not tilt it.
TREND TrendOf(double const* rgx, double const* rgy, int cpt);
double ValueOfTrend(TREND const* ptrend, double x);

constexpr double daysFirstMonths = 90;   // the capacity the car started the history with

struct HEALTH {
    int cday;                   // daily figures with a capacity
    TREND trendByAge;           // CAC against days since the first daily figure
    TREND trendByMiles;         // CAC against the odometer (the figures that read one)
    TREND trendBrickByAge;      // the lowest brick Ah against days
    double ahCACFirst;          // mean CAC of the first 90 days
    double ahCACNow;            // the age trend at the newest figure
    double pctLeft;             // ahCACNow / ahCACFirst in %; -1 without a trend
    double daysSpan;
};
void BatteryHealthOf(DAYSAMPLE const* rgday, int cday, HEALTH* phealth);

// The spread between the highest and lowest brick voltage per calendar day of the hourly status.
struct IMBALANCE {
    int64_t secCivilDay;        // midnight of the day, civil seconds
    double mvMean, mvMax;
    int csample;
};
void ImbalanceByDay(IDLESAMPLE const* rgidle, int cidle, CIVILCACHE* pcache, std::vector<IMBALANCE>* prgimb);

// Hours parked by SOC band (0-9 %, 10-19 %, ... 90-100 %) and battery temperature band (below 0,
// 0-9, 10-19, 20-29, 30-39, 40 deg C and above): each hourly status with both stands for one hour.
constexpr int cbandSOC = 10;
constexpr int cbandTemp = 6;
struct PARKBANDS {
    double rghours[cbandSOC][cbandTemp];
    double hoursAll;
};
int IbandTemp(double deg);
void ParkBandsOf(IDLESAMPLE const* rgidle, int cidle, PARKBANDS* pbands);

// ---- Charging curves ------------------------------------------------------------------------------

// A point of a series in time: seconds after a session's start, and the value.
struct PT {
    float sec;
    float v;
};

// A session's series keep at most this many points (pairs of minimum and maximum per interval);
// the page thins them further when there are many sessions.
constexpr int cptProfileMax = 480;

// Thins cpt points to at most 2 * cInterval: the span is cut into cInterval runs of points, and
// each run gives its lowest and its highest point (by the value vOf gives) in their own order, so
// peaks survive.
template <class POINT, class VOF>
void ThinMinMaxBy(POINT const* rgpt, int cpt, int cInterval, VOF vOf, std::vector<POINT>* prgptOut)
{
    prgptOut->clear();
    if (cInterval < 1)
        cInterval = 1;
    if (cpt <= 2 * cInterval) {
        prgptOut->assign(rgpt, rgpt + (cpt > 0 ? cpt : 0));
        return;
    }
    prgptOut->reserve((size_t)cInterval * 2);
    for (int i = 0; i < cInterval; i++) {
        int iFirst = (int)((long long)cpt * i / cInterval);
        int iLim = (int)((long long)cpt * (i + 1) / cInterval);
        int iMin = iFirst, iMax = iFirst;
        for (int j = iFirst + 1; j < iLim; j++) {
            if (vOf(rgpt[j]) < vOf(rgpt[iMin]))
                iMin = j;
            if (vOf(rgpt[j]) > vOf(rgpt[iMax]))
                iMax = j;
        }
        prgptOut->push_back(rgpt[iMin < iMax ? iMin : iMax]);
        if (iMin != iMax)
            prgptOut->push_back(rgpt[iMin < iMax ? iMax : iMin]);
    }
}

// The same for a series' points.
void ThinMinMax(PT const* rgpt, int cpt, int cInterval, std::vector<PT>* prgptOut);

// The SOC a record gives a session's SOC series, -1 when it gives none.
int PctSOCOfRecord(VLR const* pvlr);

// The SOC is read seldom (every ten minutes while driving, every half hour while charging): the
// session's own SOC from and to, which the report found around its ends, anchor its series.
void AddSOCEnds(int pctSOCStart, int pctSOCEnd, uint32_t secDuration, std::vector<PT>* prgpt);

// Power against SOC: each power point gets the SOC read between the SOC points around it
// (straight between them); power points before the first or after the last SOC point are left out.
struct SOCPOWER {
    float pct;
    float kw;
};
void ChargeCurveOf(PT const* rgptPower, int cptPower, PT const* rgptSOC, int cptSOC, std::vector<SOCPOWER>* prgsp);

// A curve with one point per whole percent of SOC, the first of each: its shape, in as many points
// as a chart across the SOC has room for.
void CurveByPercent(std::vector<SOCPOWER> const& rgsp, std::vector<SOCPOWER>* prgspPct);
