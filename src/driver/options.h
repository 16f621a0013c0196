// The command line: fatal errors and the help screen, record types typed for -r, the walk over a
// tarball's members, and the program's main logic.
#pragma once

#include "input/tar.h"

// Prints "ERROR: " and the message (or, with a null format, the help screen) on standard error and
// ends the program with status 255. Standard output is flushed first.
[[noreturn]] void GiveUsageAndExit(const char* format = nullptr, ...)
    __attribute__((format(printf, 1, 2)));

#ifdef QF_FUZZ_BUILD
// Fuzz builds only: GiveUsageAndExit throws this instead of ending the process, so that a fuzz
// target can catch it and go on with the next input.
struct FuzzExit {
    int status;
};
#endif

// The record type named by text: decimal digits, 0x hex, or a type code (any case); 0 = none.
// Numbers too large for the result saturate at ULONG_MAX rather than wrap.
unsigned long RtFromSz(const char* text);

// The context of _ProcessTarFileEntry: whether to list the members, and the last member named
// vms_log (ibData stays 0 when there is none).
struct TARSCAN {
    int fPrint;
    TARF tarfLog;
};

// TAR::Scan callback: lists the member when asked ("%8lu" size for regular files, else eight
// blanks, then " name \n") and keeps it when it is named vms_log. Always returns 1 (go on).
int _ProcessTarFileEntry(TARF const& tarf, void* context);

// Runs the whole program on argv; returns the exit status (0, or 255 when standard output could
// not be written). Fatal errors end the process through GiveUsageAndExit.
int QuenfellMain(int argc, char** argv);
