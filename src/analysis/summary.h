// The session summary: the drives and charges over the transient ring, the totals and the
// approximate capacity from the long-term part, handed to the request's consumer.
#pragma once

#include "analysis/run.h"

// The summary of the log whose layout the run holds (BuildLogLayout has run on pstream); the
// request's consumer (never null here) is told everything.
void RunSessionSummary(RUN* prun, STREAM* pstream, DECODE const& decode);
