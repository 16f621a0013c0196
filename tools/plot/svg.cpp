// Small writers shared by both pages.
#include "svg.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

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

