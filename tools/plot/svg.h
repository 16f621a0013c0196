// Small writers shared by both pages: formatted text, escaped text and axis numbers.
#pragma once

#include <cstddef>
#include <string>

// Appends printf-formatted text; one call writes at most 511 bytes.
void Append(std::string* pstr, const char* szFormat, ...) __attribute__((format(printf, 2, 3)));
// Appends text with the characters that HTML gives a meaning escaped.
void AppendText(std::string* pstr, const char* sz);
// 1, 2 or 5 times a power of ten, near span / cTick; 1 for an empty span.
double NiceStep(double span, int cTick);
// Axis labels stay short: 2500000 reads as 2.5M.
void FormatCompact(double v, char* pch, size_t cb);
