// The default report: one line per drive and per charge over the transient ring, the totals line
// and the approximate capacity from the long-term part.
#pragma once

#include "analysis/run.h"

// The summary of the log whose layout the run holds (BuildLogLayout has run on pstream).
void RunSessionSummary(RUN* prun, STREAM* pstream, DECODE const& decode);
