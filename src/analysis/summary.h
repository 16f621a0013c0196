// The default report: one line per drive and per charge over the transient ring, the totals line
// and the approximate capacity from the long-term part.
#pragma once

#include "analysis/sections.h"

void RunSessionSummary(const char* pszPath, STREAM* pstream, LOGLAYOUT const* playout, int fVerbose,
                       int fChargeDetail, int grfDisplay, unsigned int grfRt, unsigned int timestampStart,
                       unsigned int timestampEnd);
