// The run's own small services: its initial state, the listing filters and the notes hook.
#include "analysis/run.h"

#include <cstdint>

namespace {
constexpr uint32_t timestampNone = 0xFFFFFFFFu;
}

void InitRun(RUN* prun)
{
    InitScanState(&prun->scan);
    prun->timestampLastValid = 0;
    prun->pfnNotes = nullptr;
    prun->pvNotes = nullptr;
    prun->layout.csec = 0;
}

int FPassesFilter(DECODE const& decode, unsigned int timestamp, int rt)
{
    // Erased-flash times would pass an open end bound, but a time window never means them.
    if ((decode.timestampStart || decode.timestampEnd) && timestamp == timestampNone)
        return 0;
    if (timestamp < decode.timestampStart)
        return 0;
    if (decode.timestampEnd && timestamp > decode.timestampEnd)
        return 0;
    if (decode.grfRt && !(decode.grfRt & (1u << ((unsigned int)rt % 32))))
        return 0;
    return 1;
}

int FPrintNotes(RUN const* prun, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
{
    return prun->pfnNotes ? prun->pfnNotes(prun->pvNotes, timestampPrev, timestampCur, cchIndent) : 0;
}
