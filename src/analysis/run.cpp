// The run's initial state.
#include "analysis/run.h"

void InitRun(RUN* prun)
{
    InitScanState(&prun->scan);
    prun->timestampLastValid = 0;
    prun->layout.csec = 0;
    prun->pindex = nullptr;
}
