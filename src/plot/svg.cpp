// Small writers shared by both pages, and their date axes' ticks.
#include "plot/svg.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "plot/studyreport.h"

void Append(std::string* pstr, const char* szFormat, ...)
{
    char ach[512];
    va_list va;
    va_start(va, szFormat);
    int cch = std::vsnprintf(ach, sizeof(ach), szFormat, va);
    va_end(va);
    if (cch > 0)
        pstr->append(ach, static_cast<size_t>(cch) < sizeof(ach) ? static_cast<size_t>(cch) : sizeof(ach) - 1);
}

void AppendFixed(std::string* pstr, double v, int cDigits)
{
    // Most points: scaled to whole units of the last digit, and rounded there, unless the scaled
    // value lies so near a half that its own rounding error could decide; those, and what is too
    // large, take the exact path below.
    static double const s_rgScale[] = {1, 10, 100, 1000};
    if (cDigits >= 0 && cDigits <= 3 && std::fabs(v) < 1e9) {
        double const t = std::fabs(v) * s_rgScale[cDigits];
        double const fl = std::floor(t);
        // Below 1e9 the product is within 1.2e-7 of its exact value.
        if (t < 1e9 && std::fabs(t - fl - 0.5) > 1e-4) {
            uint64_t n = (uint64_t)fl + (t - fl > 0.5 ? 1 : 0);
            char ach[32];
            char* pch = ach + sizeof ach;
            for (int i = 0; i < cDigits; i++, n /= 10)
                *--pch = (char)('0' + n % 10);
            if (cDigits > 0)
                *--pch = '.';
            do {
                *--pch = (char)('0' + n % 10);
                n /= 10;
            } while (n > 0);
            if (std::signbit(v))
                *--pch = '-';
            pstr->append(pch, (size_t)(ach + sizeof ach - pch));
            return;
        }
    }
    char ach[64];
    std::to_chars_result res = std::to_chars(ach, ach + sizeof ach, v, std::chars_format::fixed, cDigits);
    if (res.ec == std::errc())
        pstr->append(ach, (size_t)(res.ptr - ach));
    else
        Append(pstr, "%.*f", cDigits, v);
}

// The report's texts are checked digits and fixed words, but nothing reaches the page unescaped.
void AppendText(std::string* pstr, const char* sz)
{
    for (; *sz; sz++) {
        switch (*sz) {
        case '&': pstr->append("&amp;"); break;
        case '<': pstr->append("&lt;"); break;
        case '>': pstr->append("&gt;"); break;
        case '"': pstr->append("&quot;"); break;
        default: pstr->push_back(*sz); break;
        }
    }
}

double NiceStep(double span, int cTick)
{
    if (!(span > 0))
        return 1;
    double rough = span / cTick;
    double pow10 = std::pow(10.0, std::floor(std::log10(rough)));
    double f = rough / pow10;
    double step = f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10;
    return step * pow10;
}

void FormatCompact(double v, char* pch, size_t cb)
{
    double a = std::fabs(v);
    if (a >= 1e9)
        std::snprintf(pch, cb, "%gG", v / 1e9);
    else if (a >= 1e6)
        std::snprintf(pch, cb, "%gM", v / 1e6);
    else if (a >= 1e4)
        std::snprintf(pch, cb, "%gk", v / 1e3);
    else
        std::snprintf(pch, cb, "%g", v);
}


namespace {

constexpr int cDateLabelMax = 8;
constexpr int64_t secDayTick = 86400;

// Date axis steps: whole days, months or years.
struct TICKSTEP {
    int kind;   // 0 days, 1 months, 2 years
    int n;
    int64_t secApprox;
};

constexpr TICKSTEP s_rgtickstep[] = {
    {0, 1, secDayTick}, {0, 2, 2 * secDayTick}, {0, 7, 7 * secDayTick}, {0, 14, 14 * secDayTick},
    {1, 1, 30 * secDayTick}, {1, 2, 61 * secDayTick}, {1, 3, 91 * secDayTick}, {1, 6, 182 * secDayTick},
    {2, 1, 365 * secDayTick}, {2, 2, 730 * secDayTick}, {2, 5, 1826 * secDayTick}, {2, 10, 3652 * secDayTick},
    {2, 20, 7305 * secDayTick}, {2, 50, 18262 * secDayTick}, {2, 100, 36525 * secDayTick},
};

}  // namespace

int CDateTicks(int64_t secMin, int64_t secMax, DATETICK* rgtick)
{
    double span = static_cast<double>(secMax - secMin);
    TICKSTEP const* pstep = &s_rgtickstep[sizeof(s_rgtickstep) / sizeof(s_rgtickstep[0]) - 1];
    for (TICKSTEP const& step : s_rgtickstep) {
        if (span / static_cast<double>(step.secApprox) <= cDateLabelMax) {
            pstep = &step;
            break;
        }
    }
    int year, month, day;
    CivilFromSec(secMin, &year, &month, &day);
    int64_t secTick;
    if (pstep->kind == 0) {
        // The first midnight at or after secMin.
        int64_t dayFirst = (secMin + secDayTick - 1) / secDayTick;
        if (secMin < 0)
            dayFirst = -((-secMin) / secDayTick);
        secTick = dayFirst * secDayTick;
    } else if (pstep->kind == 1) {
        secTick = SecFromCivil(year, month, 1, 0, 0, 0);
    } else {
        secTick = SecFromCivil(year - year % pstep->n, 1, 1, 0, 0, 0);
    }

    int ctick = 0;
    for (int cStep = 0; secTick <= secMax && cStep < ctickDateMax; cStep++) {
        int y, m, d;
        CivilFromSec(secTick, &y, &m, &d);
        if (secTick >= secMin && (pstep->kind != 1 || (m - 1) % pstep->n == 0)) {
            DATETICK* ptick = &rgtick[ctick++];
            ptick->sec = secTick;
            if (pstep->kind == 0)
                std::snprintf(ptick->szLabel, sizeof(ptick->szLabel), "%02d/%02d/%04d", m, d, y);
            else if (pstep->kind == 1)
                std::snprintf(ptick->szLabel, sizeof(ptick->szLabel), "%02d/%04d", m, y);
            else
                std::snprintf(ptick->szLabel, sizeof(ptick->szLabel), "%04d", y);
        }
        if (pstep->kind == 0) {
            secTick += pstep->n * secDayTick;
        } else if (pstep->kind == 1) {
            if (++m > 12) {
                m = 1;
                y++;
            }
            secTick = SecFromCivil(y, m, 1, 0, 0, 0);
        } else {
            secTick = SecFromCivil(y + pstep->n, 1, 1, 0, 0, 0);
        }
    }
    return ctick;
}
