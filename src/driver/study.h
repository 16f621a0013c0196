// The battery study of one log, and of several downloads on every core.
#pragma once

#include "driver/process.h"

// The battery study reads the long-term part and then the transient part of the log, and its
// report (standard output) holds nothing but the study: no summary, no listing, no raw bytes, no
// notes, whatever other options were typed. The run's collector takes the samples. The request's
// consumer hears the section scan's table-full message where the study has always printed it;
// with pbuf (a worker's run, whose collector buffers the samples) the message goes with the
// samples it comes before instead, and the study ends early (false) when the section scan found no
// vehicle-info record: the log would decode with the previous log's vehicle, which only the
// calling thread knows. Without pbuf the study stops between the parts when it ran out of memory.
bool FStudyLog(RUN* prun, STREAM* pstream, STUDY* pstudy, unsigned int timestampSkipUntil, DECODE decode,
               SAMPLEBUF* pbuf);

// The study of carg downloads on cworker threads: the same output, messages and result as
// FProcessInput on each in turn.
bool FStudyInParallel(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft, int cworker, FAILURE* pfail);
