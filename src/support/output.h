// Report output: every report line goes to standard output through one large stdio buffer.
// The fast formatters write exactly the bytes that the matching printf format would.
#pragma once

#include <cstdio>

// Gives standard output its large buffer; called once at the start of main.
void InitOutput();

// Flushes standard output. Returns 1 when everything written so far reached its destination,
// 0 after a write error (disk full, closed descriptor).
int FFlushOutput();

// Writes `title`, a line of '=' as long as it, and an empty line.
void PrintSectionTitle(const char* title);

// Same bytes as printf("%.*f", prec, value), 0 <= prec <= 9.
void OutFixed(double value, int prec);
// Same bytes as printf("%d") / printf("%u") / printf("%ld").
void OutInt(long value);
void OutUnsigned(unsigned long value);
// Writes a NUL-terminated text / `cch` bytes / one character.
void OutSz(const char* sz);
void OutCch(const char* pch, size_t cch);
void OutChar(char ch);
