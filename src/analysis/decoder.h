// DecodeVmsFile: the analysis of one log, either the session summary or the filtered listing.
#pragma once

#include "analysis/run.h"

// Decodes the log open in pstream as the request says, printing to standard output.
void DecodeVmsFile(RUN* prun, STREAM* pstream, DECODE const& decode);
