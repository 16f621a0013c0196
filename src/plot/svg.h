// Small writers shared by both pages: formatted text, escaped text and axis numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Appends printf-formatted text; one call writes at most 511 bytes.
void Append(std::string* pstr, const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
// Appends v as printf's "%.*f" would, with cDigits (0..3) after the point: the charts' points are
// most of a page, and the general formatter costs more than everything else that writes them.
void AppendFixed(std::string* pstr, double v, int cDigits);
// Appends text with the characters that HTML gives a meaning escaped.
void AppendText(std::string* pstr, const char* sz);
// 1, 2 or 5 times a power of ten, near span / cTick; 1 for an empty span.
double NiceStep(double span, int cTick);
// Axis labels stay short: 2500000 reads as 2.5M.
void FormatCompact(double v, char* pch, size_t cb);

// One tick of a date axis: its time (seconds of the civil calendar) and its label.
struct DATETICK {
    int64_t sec;
    char szLabel[16];   // "mm/dd/yyyy", "mm/yyyy" or "yyyy"
};
constexpr int ctickDateMax = 200;
// The ticks of a date axis over [secMin, secMax]: whole days, months or years, whichever gives at
// most 8 labels (dates are wide). Fills rgtick (room for ctickDateMax) and returns the count.
int CDateTicks(int64_t secMin, int64_t secMax, DATETICK* rgtick);
