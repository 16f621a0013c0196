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

int FPrintNotes(RUN const* prun, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
{
    return prun->pfnNotes ? prun->pfnNotes(prun->pvNotes, timestampPrev, timestampCur, cchIndent) : 0;
}
