// The command line: fatal errors and the help screen, record types typed for -r.
#pragma once

// Prints "ERROR: " and the message (or, with a null format, the help screen) on standard error and
// ends the program with status 255.
[[noreturn]] void GiveUsageAndExit(const char* format = nullptr, ...)
    __attribute__((format(printf, 1, 2)));

// The record type named by text: decimal digits, 0x hex, or a type code (any case); 0 = none.
unsigned long RtFromSz(const char* text);

// Runs the whole program on argv; returns the exit status.
int QuenfellMain(int argc, char** argv);
