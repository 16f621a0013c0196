// The run's initial state.
#include "analysis/run.h"

void InitRun(RUN* prun)
{
    InitScanState(&prun->scan);
    prun->timestampLastValid = 0;
    prun->layout.csec = 0;
    prun->pindex = nullptr;
}

void SetRunIndex(RUN* prun, RECORDINDEX* pindex, uint32_t grfRtKept)
{
    prun->pindex = pindex;
    if (pindex)
        pindex->grfRt = grfRtKept | 1u << rtVINF;
}
