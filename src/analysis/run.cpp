// The run's own small services: its initial state and the notes hook.
#include "analysis/run.h"

void InitRun(RUN* prun)
{
    InitScanState(&prun->scan);
    prun->timestampLastValid = 0;
    prun->pfnNotes = nullptr;
    prun->pvNotes = nullptr;
    prun->layout.csec = 0;
}
