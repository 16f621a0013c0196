// Report output: every report line goes to standard output through one large stdio buffer.
#pragma once

#include <cstdio>

// Gives standard output its large buffer; called once at the start of main.
void InitOutput();

// Flushes standard output. Returns 1 when everything written so far reached its destination,
// 0 after a write error (disk full, closed descriptor).
int FFlushOutput();
// Why the first write of standard output failed (its errno), or 0.
int ErrOutput();

// Writes `title`, a line of '=' as long as it, and an empty line.
void PrintSectionTitle(const char* title);

// Writes a NUL-terminated text / `cch` bytes / one character.
void OutSz(const char* sz);
void OutCch(const char* pch, size_t cch);
void OutChar(char ch);
