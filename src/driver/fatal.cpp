// Ending the program on a fatal error.
#include "driver/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/output.h"

namespace {
constexpr int cchMessage = 1024;
}

void ExitFatal()
{
    FFlushOutput();
#ifdef QF_FUZZ_BUILD
    throw FuzzExit{statusFatal};
#else
    exit(statusFatal);
#endif
}

void GiveUsageAndExit(const char* format, ...)
{
    // The report so far goes out before the message, as a reader of both streams expects.
    FFlushOutput();
    char szMessage[cchMessage];
    va_list args;
    va_start(args, format);
    vsnprintf(szMessage, sizeof szMessage, format, args);
    va_end(args);
    fprintf(stderr, "ERROR: %s\n", szMessage);
    ExitFatal();
}

void PrintOutputErrorReason()
{
    int err = ErrOutput();
    if (err != 0)
        fprintf(stderr, "could not write standard output: %s.\n", strerror(err));
}

void ReportOutputError()
{
    PrintOutputErrorReason();
    // The line itself is kept as users have seen it.
    fputs("ERROR: " szWriteErrorOnStdout "\n", stderr);
}
