// The owner's figures of a car's history: every estimate here is made from the sessions the
// summary closed and the records they came from, never from printed text, so that the page and the
// history database give the same numbers.
#include "analysis/owner.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/civil.h"
#include "support/timecal.h"

namespace {

constexpr int64_t secDay = 86400;
constexpr int64_t secQuarterHour = 900;
constexpr int minutesPerDay = 1440;
constexpr int cchDate = 20;
constexpr double milesPerPeriodMin = 1.0;   // shorter distances get no Wh per mile, as in the report
constexpr double residualsKept = 3.0;       // a daily figure further than this many RMS residuals is let go
constexpr int pctSOCMax = 100;
constexpr double degBandWidth = 10;
constexpr int secPerMinute = 60;

int64_t FloorDiv(int64_t n, int64_t d)
{
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

// A price: digits with at most one point, 0 or more; the end of the number in *ppszEnd.
bool FParseAmount(char const* psz, double* pv, char const** ppszEnd)
{
    char const* pch = psz;
    int cdigit = 0, cpoint = 0;
    for (; (*pch >= '0' && *pch <= '9') || *pch == '.'; pch++) {
        if (*pch == '.')
            cpoint++;
        else
            cdigit++;
    }
    if (cdigit == 0 || cpoint > 1)
        return false;
    *pv = strtod(psz, nullptr);
    *ppszEnd = pch;
    return std::isfinite(*pv);
}

// "HH:MM", 00:00 to 23:59.
bool FParseClock(char const* psz, int* pminute, char const** ppszEnd)
{
    if (!(psz[0] >= '0' && psz[0] <= '9' && psz[1] >= '0' && psz[1] <= '9' && psz[2] == ':' && psz[3] >= '0' &&
          psz[3] <= '9' && psz[4] >= '0' && psz[4] <= '9'))
        return false;
    int const hour = (psz[0] - '0') * 10 + (psz[1] - '0');
    int const minute = (psz[3] - '0') * 10 + (psz[4] - '0');
    if (hour > 23 || minute > 59)
        return false;
    *pminute = hour * 60 + minute;
    *ppszEnd = psz + 5;
    return true;
}

bool FInWindow(PRICE const* pprice, int minute)
{
    if (!pprice->fOffPeak || pprice->minuteStart == pprice->minuteEnd)
        return false;
    if (pprice->minuteStart < pprice->minuteEnd)
        return minute >= pprice->minuteStart && minute < pprice->minuteEnd;
    return minute >= pprice->minuteStart || minute < pprice->minuteEnd;
}

}  // namespace

// ---- Civil time ----------------------------------------------------------------------------------

int64_t SecCivilOf(uint32_t timestamp, CIVILCACHE* pcache)
{
    int64_t const key = timestamp / secQuarterHour;
    if (key != pcache->key) {
        char sz[cchDate];
        DateFromTimestamp(timestamp, sz, cchDate);
        pcache->key = key;
        // "MM/DD/YYYY HH:MM:SS", or dashes: read by position, since a history's hourly records each
        // come to a new quarter hour and a general parse would cost more than the date itself.
        auto num = [&](int ich, int cch) {
            int n = 0;
            for (int i = ich; i < ich + cch; i++) {
                if (sz[i] < '0' || sz[i] > '9')
                    return -1;
                n = n * 10 + (sz[i] - '0');
            }
            return n;
        };
        int const month = num(0, 2), day = num(3, 2), year = num(6, 4), hour = num(11, 2), minute = num(14, 2),
                  second = num(17, 2);
        pcache->fNone = month < 0 || day < 0 || year < 0 || hour < 0 || minute < 0 || second < 0;
        if (!pcache->fNone)
            pcache->secOffset =
                DaysFromCivil(year, month, day) * secDay + hour * 3600 + minute * 60 + second - (int64_t)timestamp;
    }
    return pcache->fNone ? secCivilNone : (int64_t)timestamp + pcache->secOffset;
}

void MonthOfSecCivil(int64_t secCivil, int* pyear, int* pmonth)
{
    int64_t year;
    int day;
    CivilFromDays(FloorDiv(secCivil, secDay), &year, pmonth, &day);
    *pyear = (int)year;
}

// ---- Price --------------------------------------------------------------------------------------

bool FParsePrice(char const* psz, PRICE* pprice, char const** ppszWhy)
{
    PRICE price;
    char const* pch;
    if (!FParseAmount(psz, &price.price, &pch)) {
        *ppszWhy = "a price is a number of 0 or more, such as 0.30";
        return false;
    }
    price.fGiven = true;
    if (*pch == ',') {
        if (!FParseAmount(pch + 1, &price.priceOffPeak, &pch) || *pch != '@') {
            *ppszWhy = "an off-peak price is written 0.12@23:00-07:00";
            return false;
        }
        if (!FParseClock(pch + 1, &price.minuteStart, &pch) || *pch != '-' ||
            !FParseClock(pch + 1, &price.minuteEnd, &pch)) {
            *ppszWhy = "an off-peak window is written HH:MM-HH:MM, such as 23:00-07:00";
            return false;
        }
        price.fOffPeak = true;
    }
    if (*pch != 0) {
        *ppszWhy = "a price is written PRICE or PRICE,OFFPEAK@HH:MM-HH:MM";
        return false;
    }
    *pprice = price;
    return true;
}

double PriceAtMinute(PRICE const* pprice, int minuteOfDay)
{
    return FInWindow(pprice, minuteOfDay) ? pprice->priceOffPeak : pprice->price;
}

bool FLinePowerOfRecord(VLR const* pvlr, LINEPOWER* plp)
{
    if ((pvlr->grf & (fvlrLineVolts | fvlrChargeAmps)) != (fvlrLineVolts | fvlrChargeAmps))
        return false;
    plp->timestamp = pvlr->timestamp;
    plp->kw = (float)(pvlr->voltsLine * pvlr->ampsCharge / 1000);
    return true;
}

CHARGECOST CostOfCharge(PRICE const* pprice, double kwhCharge, LINEPOWER const* rglp, int clp, CIVILCACHE* pcache)
{
    CHARGECOST cc{};
    double kwhAll = 0, kwhOffPeak = 0, costAll = 0;
    for (int i = 1; i < clp; i++) {
        uint32_t const timestampFrom = rglp[i - 1].timestamp, timestampTo = rglp[i].timestamp;
        if (timestampTo <= timestampFrom || timestampFrom <= timestampEpoch2001)
            continue;
        double const kwPerSec = rglp[i].kw / 3600.0;
        // Minute by minute of the display zone's clock, each piece at its own price. A gap of more
        // than a day between records (a damaged clock) is priced whole, at the minute it starts in.
        bool const fWhole = timestampTo - timestampFrom > (uint32_t)secDay;
        for (uint32_t t = timestampFrom; t < timestampTo;) {
            int64_t const secCivil = SecCivilOf(t, pcache);
            int64_t const secOfDay = secCivil == secCivilNone ? 0 : secCivil - FloorDiv(secCivil, secDay) * secDay;
            uint32_t const tNext =
                fWhole ? timestampTo
                       : std::min<uint32_t>(timestampTo, t + (uint32_t)(secPerMinute - secOfDay % secPerMinute));
            int const minute = (int)(secOfDay / secPerMinute) % minutesPerDay;
            double const kwh = kwPerSec * (tNext - t);
            kwhAll += kwh;
            if (FInWindow(pprice, minute))
                kwhOffPeak += kwh;
            costAll += kwh * PriceAtMinute(pprice, minute);
            t = tNext;
        }
    }
    if (kwhAll > 0) {
        cc.priceAverage = costAll / kwhAll;
        cc.kwhOffPeak = kwhOffPeak / kwhAll * kwhCharge;
    }
    cc.cost = pprice->fGiven ? cc.priceAverage * kwhCharge : 0;
    if (!pprice->fGiven)
        cc.priceAverage = 0;
    return cc;
}

double PctChargeLoss(CHARGESESSION const* pcs)
{
    if (pcs->cBattery < 2 || !(pcs->whWallPaired > 0))
        return pctLossNone;
    return (pcs->whWallPaired - pcs->whBattery) / pcs->whWallPaired * 100;
}

// ---- Hourly status --------------------------------------------------------------------------------

bool FIdleSampleOfRecord(VLR const* pvlr, IDLESAMPLE* psample)
{
    if (pvlr->rt != rtIDLE)
        return false;
    *psample = IDLESAMPLE{};
    psample->timestamp = pvlr->timestamp;
    psample->pctSOC =
        (pvlr->grf & fvlrSOC) && pvlr->pctSOC >= 0 && pvlr->pctSOC <= pctSOCMax ? pvlr->pctSOC : -1;
    if (pvlr->grf & fvlrTempESS) {
        psample->fTemp = true;
        psample->degMax = (float)pvlr->degESSMax;
    }
    if (pvlr->grf & fvlrBrickVolts) {
        psample->fBrickVolts = true;
        psample->voltsBrickMin = (float)pvlr->voltsBrickMin;
        psample->voltsBrickMax = (float)pvlr->voltsBrickMax;
    }
    return true;
}

// ---- Parked --------------------------------------------------------------------------------------

void SpansOfSessions(DRIVESESSION const* rgds, int cds, CHARGESESSION const* rgcs, int ccs, std::vector<SESSIONSPAN>* prgspan)
{
    prgspan->clear();
    prgspan->reserve((size_t)(cds + ccs));
    for (int i = 0; i < cds; i++)
        prgspan->push_back(SESSIONSPAN{rgds[i].timestampStart, rgds[i].timestampEnd});
    for (int i = 0; i < ccs; i++)
        prgspan->push_back(SESSIONSPAN{rgcs[i].timestampStart, rgcs[i].timestampEnd});
    std::stable_sort(prgspan->begin(), prgspan->end(),
                     [](SESSIONSPAN const& a, SESSIONSPAN const& b) { return a.timestampStart < b.timestampStart; });
}

void ParkedStretches(SESSIONSPAN const* rgspan, int cspan, IDLESAMPLE const* rgidle, int cidle, DAYSAMPLE const* rgday,
                     int cday, double voltsPack, std::vector<PARKED>* prgparked)
{
    prgparked->clear();
    int iidle = 0, iday = 0;
    // The stretch after span i - 1 and before span i; the one before the first session and the one
    // after the last are open at an end and count too.
    for (int ispan = 0; ispan <= cspan; ispan++) {
        uint32_t const timestampFrom = ispan > 0 ? rgspan[ispan - 1].timestampEnd : 0;
        uint32_t const timestampTo = ispan < cspan ? rgspan[ispan].timestampStart : UINT32_MAX;
        while (iidle < cidle && rgidle[iidle].timestamp <= timestampFrom)
            iidle++;
        IDLESAMPLE const* pFirst = nullptr;
        IDLESAMPLE const* pLast = nullptr;
        for (; iidle < cidle && rgidle[iidle].timestamp < timestampTo; iidle++) {
            if (rgidle[iidle].pctSOC < 0)
                continue;
            if (!pFirst)
                pFirst = &rgidle[iidle];
            pLast = &rgidle[iidle];
        }
        if (!pFirst || pLast == pFirst)
            continue;
        PARKED parked{};
        parked.timestampStart = pFirst->timestamp;
        parked.timestampEnd = pLast->timestamp;
        parked.pctStart = pFirst->pctSOC;
        parked.pctEnd = pLast->pctSOC;
        parked.hours = (pLast->timestamp - pFirst->timestamp) / 3600.0;
        if (parked.hours < hoursParkedMin)
            continue;
        parked.pctLost = parked.pctStart - parked.pctEnd;
        while (iday + 1 < cday && rgday[iday + 1].timestamp <= pFirst->timestamp)
            iday++;
        if (cday > 0 && voltsPack > 0)
            parked.whLost = parked.pctLost / 100 * rgday[iday].ahCAC * voltsPack;
        parked.pctPerDay = parked.pctLost * 24 / parked.hours;
        parked.whPerDay = parked.whLost * 24 / parked.hours;
        prgparked->push_back(parked);
    }
}

// ---- Months and years --------------------------------------------------------------------------

double WhPerMileOut(PERIOD const* pperiod)
{
    return pperiod->miles >= milesPerPeriodMin ? pperiod->whOut / pperiod->miles : -1;
}

double WhPerMileWall(PERIOD const* pperiod)
{
    return pperiod->miles >= milesPerPeriodMin && pperiod->kwhWall > 0 ? pperiod->kwhWall * 1000 / pperiod->miles
                                                                       : -1;
}

void PeriodsOf(DRIVESESSION const* rgds, int cds, CHARGESESSION const* rgcs, int ccs, double const* rgcost,
               PARKED const* rgparked, int cparked, std::vector<PERIOD>* prgmonth, std::vector<PERIOD>* prgyear)
{
    prgmonth->clear();
    prgyear->clear();
    CIVILCACHE cache;
    // Months are found in any order (drives and charges interleave); a sorted table of them by
    // year * 12 + month keeps each look-up short.
    auto periodAt = [&](uint32_t timestamp) -> PERIOD* {
        int64_t const secCivil = SecCivilOf(timestamp, &cache);
        if (secCivil == secCivilNone)
            return nullptr;
        int year, month;
        MonthOfSecCivil(secCivil, &year, &month);
        auto it = std::lower_bound(prgmonth->begin(), prgmonth->end(), year * 12 + month,
                                   [](PERIOD const& p, int k) { return p.year * 12 + p.month < k; });
        if (it == prgmonth->end() || it->year != year || it->month != month) {
            PERIOD period{};
            period.year = year;
            period.month = month;
            it = prgmonth->insert(it, period);
        }
        return &*it;
    };
    for (int i = 0; i < cds; i++) {
        PERIOD* p = periodAt(rgds[i].timestampStart);
        if (!p)
            continue;
        p->miles += rgds[i].miles;
        p->cdrive++;
        p->secDriving += rgds[i].secDuration;
        p->whOut += rgds[i].wh;
    }
    for (int i = 0; i < ccs; i++) {
        PERIOD* p = periodAt(rgcs[i].timestampStart);
        if (!p)
            continue;
        p->kwhWall += rgcs[i].kwh;
        p->ccharge++;
        if (rgcost)
            p->cost += rgcost[i];
    }
    for (int i = 0; i < cparked; i++) {
        PERIOD* p = periodAt(rgparked[i].timestampStart);
        if (!p)
            continue;
        p->cparked++;
        p->hoursParked += rgparked[i].hours;
        p->pctParkedLost += rgparked[i].pctLost;
        p->whParkedLost += rgparked[i].whLost;
    }
    for (PERIOD const& month : *prgmonth) {
        if (prgyear->empty() || prgyear->back().year != month.year) {
            PERIOD year{};
            year.year = month.year;
            prgyear->push_back(year);
        }
        PERIOD* py = &prgyear->back();
        py->miles += month.miles;
        py->cdrive += month.cdrive;
        py->secDriving += month.secDriving;
        py->whOut += month.whOut;
        py->kwhWall += month.kwhWall;
        py->ccharge += month.ccharge;
        py->cparked += month.cparked;
        py->hoursParked += month.hoursParked;
        py->pctParkedLost += month.pctParkedLost;
        py->whParkedLost += month.whParkedLost;
        py->cost += month.cost;
    }
}

// ---- Battery health ------------------------------------------------------------------------------

namespace {

TREND FitLine(double const* rgx, double const* rgy, int cpt, std::vector<bool> const* prgfKeep)
{
    TREND trend{};
    double sx = 0, sy = 0;
    int c = 0;
    for (int i = 0; i < cpt; i++) {
        if (prgfKeep && !(*prgfKeep)[(size_t)i])
            continue;
        sx += rgx[i];
        sy += rgy[i];
        c++;
    }
    if (c < 2)
        return trend;
    double const mx = sx / c, my = sy / c;
    double sxx = 0, sxy = 0;
    for (int i = 0; i < cpt; i++) {
        if (prgfKeep && !(*prgfKeep)[(size_t)i])
            continue;
        sxx += (rgx[i] - mx) * (rgx[i] - mx);
        sxy += (rgx[i] - mx) * (rgy[i] - my);
    }
    if (!(sxx > 0))
        return trend;
    trend.fFit = true;
    trend.slope = sxy / sxx;
    trend.vAt0 = my - trend.slope * mx;
    trend.cpt = c;
    return trend;
}

}  // namespace

TREND TrendOf(double const* rgx, double const* rgy, int cpt)
{
    TREND trend = FitLine(rgx, rgy, cpt, nullptr);
    if (!trend.fFit)
        return trend;
    double ss = 0;
    for (int i = 0; i < cpt; i++) {
        double const r = rgy[i] - ValueOfTrend(&trend, rgx[i]);
        ss += r * r;
    }
    double const rms = std::sqrt(ss / cpt);
    // Points on the line give residuals of rounding alone: none of them is wild.
    if (rms <= 1e-9 * (1 + std::fabs(trend.vAt0)))
        return trend;
    std::vector<bool> rgfKeep((size_t)cpt);
    int ckeep = 0;
    for (int i = 0; i < cpt; i++) {
        rgfKeep[(size_t)i] = std::fabs(rgy[i] - ValueOfTrend(&trend, rgx[i])) <= residualsKept * rms;
        ckeep += rgfKeep[(size_t)i];
    }
    if (ckeep == cpt)
        return trend;
    TREND trendKept = FitLine(rgx, rgy, cpt, &rgfKeep);
    return trendKept.fFit ? trendKept : trend;
}

double ValueOfTrend(TREND const* ptrend, double x)
{
    return ptrend->vAt0 + ptrend->slope * x;
}

void BatteryHealthOf(DAYSAMPLE const* rgday, int cday, HEALTH* phealth)
{
    *phealth = HEALTH{};
    phealth->pctLeft = -1;
    std::vector<double> rgdays, rgcac, rgbrick, rgmiles, rgcacMiles;
    for (int i = 0; i < cday; i++) {
        if (!(rgday[i].ahCAC > 0))
            continue;
        double const days = ((double)rgday[i].timestamp - (double)rgday[0].timestamp) / secDay;
        rgdays.push_back(days);
        rgcac.push_back(rgday[i].ahCAC);
        rgbrick.push_back(rgday[i].ahBrickMin);
        if (rgday[i].milesOdo > 0) {
            rgmiles.push_back(rgday[i].milesOdo);
            rgcacMiles.push_back(rgday[i].ahCAC);
        }
    }
    phealth->cday = (int)rgcac.size();
    if (rgcac.empty())
        return;
    phealth->daysSpan = rgdays.back() - rgdays.front();
    double sumFirst = 0;
    int cFirst = 0;
    for (size_t i = 0; i < rgcac.size() && rgdays[i] - rgdays[0] < daysFirstMonths; i++) {
        sumFirst += rgcac[i];
        cFirst++;
    }
    phealth->ahCACFirst = sumFirst / cFirst;
    phealth->trendByAge = TrendOf(rgdays.data(), rgcac.data(), (int)rgdays.size());
    phealth->trendByMiles = TrendOf(rgmiles.data(), rgcacMiles.data(), (int)rgmiles.size());
    phealth->trendBrickByAge = TrendOf(rgdays.data(), rgbrick.data(), (int)rgdays.size());
    if (phealth->trendByAge.fFit && phealth->ahCACFirst > 0) {
        phealth->ahCACNow = ValueOfTrend(&phealth->trendByAge, rgdays.back());
        phealth->pctLeft = phealth->ahCACNow / phealth->ahCACFirst * 100;
    }
}

void ImbalanceByDay(IDLESAMPLE const* rgidle, int cidle, CIVILCACHE* pcache, std::vector<IMBALANCE>* prgimb)
{
    prgimb->clear();
    for (int i = 0; i < cidle; i++) {
        if (!rgidle[i].fBrickVolts || rgidle[i].voltsBrickMax < rgidle[i].voltsBrickMin)
            continue;
        int64_t const secCivil = SecCivilOf(rgidle[i].timestamp, pcache);
        if (secCivil == secCivilNone)
            continue;
        int64_t const secDayStart = FloorDiv(secCivil, secDay) * secDay;
        double const mv = ((double)rgidle[i].voltsBrickMax - (double)rgidle[i].voltsBrickMin) * 1000;
        if (prgimb->empty() || prgimb->back().secCivilDay != secDayStart)
            prgimb->push_back(IMBALANCE{secDayStart, 0, 0, 0});
        IMBALANCE* p = &prgimb->back();
        p->mvMean = (p->mvMean * p->csample + mv) / (p->csample + 1);
        p->mvMax = std::max(p->mvMax, mv);
        p->csample++;
    }
}

int IbandTemp(double deg)
{
    if (deg < 0)
        return 0;
    int const iband = 1 + (int)(deg / degBandWidth);
    return iband < cbandTemp ? iband : cbandTemp - 1;
}

void ParkBandsOf(IDLESAMPLE const* rgidle, int cidle, PARKBANDS* pbands)
{
    *pbands = PARKBANDS{};
    for (int i = 0; i < cidle; i++) {
        if (rgidle[i].pctSOC < 0 || !rgidle[i].fTemp)
            continue;
        int const ibandSOC = std::min(rgidle[i].pctSOC / 10, cbandSOC - 1);
        pbands->rghours[ibandSOC][IbandTemp(rgidle[i].degMax)] += 1;
        pbands->hoursAll += 1;
    }
}

// ---- Charging curves ------------------------------------------------------------------------------

void ChargeCurveOf(PT const* rgptPower, int cptPower, PT const* rgptSOC, int cptSOC, std::vector<SOCPOWER>* prgsp)
{
    prgsp->clear();
    int isoc = 0;
    for (int i = 0; i < cptPower && cptSOC > 0; i++) {
        float const sec = rgptPower[i].sec;
        if (sec < rgptSOC[0].sec || sec > rgptSOC[cptSOC - 1].sec)
            continue;
        while (isoc + 1 < cptSOC && rgptSOC[isoc + 1].sec < sec)
            isoc++;
        PT const& a = rgptSOC[isoc];
        PT const& b = rgptSOC[isoc + 1 < cptSOC ? isoc + 1 : isoc];
        float const pct = b.sec > a.sec ? a.v + (b.v - a.v) * (sec - a.sec) / (b.sec - a.sec) : a.v;
        prgsp->push_back(SOCPOWER{pct, rgptPower[i].v});
    }
}

void CurveByPercent(std::vector<SOCPOWER> const& rgsp, std::vector<SOCPOWER>* prgspPct)
{
    prgspPct->clear();
    for (SOCPOWER const& sp : rgsp) {
        if (!prgspPct->empty() && (int)prgspPct->back().pct == (int)sp.pct)
            continue;
        prgspPct->push_back(sp);
    }
}

// ---- Series of a session ---------------------------------------------------------------------------

void ThinMinMax(PT const* rgpt, int cpt, int cInterval, std::vector<PT>* prgptOut)
{
    ThinMinMaxBy(rgpt, cpt, cInterval, [](PT const& pt) { return pt.v; }, prgptOut);
}

int PctSOCOfRecord(VLR const* pvlr)
{
    return (pvlr->grf & fvlrSOC) && pvlr->pctSOC >= 0 && pvlr->pctSOC <= pctSOCMax ? pvlr->pctSOC : -1;
}

void AddSOCEnds(int pctSOCStart, int pctSOCEnd, uint32_t secDuration, std::vector<PT>* prgpt)
{
    if (pctSOCStart >= 0 && pctSOCStart <= pctSOCMax && (prgpt->empty() || prgpt->front().sec > 0))
        prgpt->insert(prgpt->begin(), PT{0, (float)pctSOCStart});
    if (pctSOCEnd >= 0 && pctSOCEnd <= pctSOCMax && secDuration > 0 &&
        (prgpt->empty() || prgpt->back().sec < (float)secDuration))
        prgpt->push_back(PT{(float)secDuration, (float)pctSOCEnd});
}
