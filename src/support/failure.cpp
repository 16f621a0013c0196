// Filling in why something failed.
#include "support/failure.h"

#include <cstdarg>
#include <cstdio>

void SetFailure(FAILURE* pfail, char const* format, ...)
{
    va_list args;
    va_start(args, format);
    vsnprintf(pfail->sz, sizeof pfail->sz, format, args);
    va_end(args);
}
