// DecodeVmsFile: the analysis of one log, the session summary or the walk over one part.
#pragma once

#include "analysis/run.h"

// Decodes the log open in pstream as the request says, telling the request's consumer what it finds.
void DecodeVmsFile(RUN* prun, STREAM* pstream, DECODE const& decode);
// The same on a log whose layout the run already holds (BuildLogLayout has run on pstream with the
// same time limit and the vehicle it left): the battery study reads two parts of one layout.
void DecodeLaidOutFile(RUN* prun, STREAM* pstream, DECODE const& decode);
