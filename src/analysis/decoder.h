// DecodeVmsFile: the analysis of one log, either the session summary or the filtered listing.
#pragma once

#include "analysis/run.h"

// Decodes the log open in pstream as the request says, printing to standard output.
void DecodeVmsFile(RUN* prun, STREAM* pstream, DECODE const& decode);
// The same on a log whose layout the run already holds (BuildLogLayout has run on pstream with the
// same time limit and the vehicle it left): the battery study reads two parts of one layout.
void DecodeLaidOutFile(RUN* prun, STREAM* pstream, DECODE const& decode);
