// The command line: the record types typed for -r, and the program's main logic.
#pragma once

// The record type named by text: decimal digits, 0x hex, or a type code (any case); 0 = none.
// Numbers too large for the result saturate at ULONG_MAX rather than wrap.
unsigned long RtFromSz(const char* text);

// Runs the whole program on argv; returns the exit status (0, or 255 when standard output could
// not be written). Fatal errors end the process through GiveUsageAndExit. main gives standard
// output its buffer first (InitOutput).
int QuenfellMain(int argc, char** argv);
