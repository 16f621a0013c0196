// Ending the program on a fatal error: the one way out for every module, so that none of them
// needs to know who runs it.
#pragma once

constexpr int statusFatal = 255;

// Flushes the report, prints "ERROR: " and the message on standard error and ends the program
// with status 255.
[[noreturn]] void GiveUsageAndExit(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the program with status 255 after flushing the report; the caller has said why.
[[noreturn]] void ExitFatal();

// Says on standard error that the report could not be written: the reason, when the failed write
// gave one, then "ERROR: write error on standard output".
#define szWriteErrorOnStdout "write error on standard output"
void ReportOutputError();
// The first line of it alone, for a caller that ends the run with the second through its failure.
void PrintOutputErrorReason();

#ifdef QF_FUZZ_BUILD
// Fuzz builds only: the fatal routines throw this instead of ending the process, so that a fuzz
// target can catch it and go on with the next input.
struct FuzzExit {
    int status;
};
#endif
