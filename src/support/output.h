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

// A thread's own output: while one is set for a thread (SetThreadOutput), that thread's OutSz,
// OutCch and OutChar append to it instead of writing standard output, so that lines formatted on
// several threads can be written in order. It grows as needed; when memory runs out, fFailed is
// set and later text is dropped.
struct OUTBUF {
    char* pch;
    size_t cch;
    size_t cchMax;
    bool fFailed;
};
// Sets the calling thread's output (null: standard output again).
void SetThreadOutput(OUTBUF* poutbuf);
void FreeOutBuf(OUTBUF* poutbuf);

// Writes a NUL-terminated text / `cch` bytes / one character.
void OutSz(const char* sz);
void OutCch(const char* pch, size_t cch);
void OutChar(char ch);
// Writes a large piece of text (a block of lines formatted on another thread) in a write of its
// own, after what the buffer holds, rather than copying it through the buffer; smaller pieces, and
// a thread's own output, go as OutCch takes them.
void OutBlock(const char* pch, size_t cch);
