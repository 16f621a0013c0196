// The report of a failed invariant.
#include "support/assert.h"

#include <cstdio>
#include <cstdlib>

void AssertFailed(char const* szCondition, char const* szFile, int iLine)
{
    fflush(stdout);
    fprintf(stderr, "%s:%d: invariant failed: %s\n", szFile, iLine, szCondition);
    abort();
}
