// A long listing on every core: the walk's records are taken in blocks, each block is formatted
// into its own buffer by whichever thread is free, and the buffers are written to standard output
// in the order the records came, so the bytes are those that one thread prints.
#pragma once

#include "analysis/consumer.h"

struct LISTPIPE;

// A pipe for cworker threads, the caller's among them; null when cworker is 1 or there is no
// memory for it (the caller then prints each record itself). Its other threads start when the
// first block is full, so a short listing runs on the caller's thread alone.
LISTPIPE* PlistpipeOpen(int cworker);
// Takes the record to be shown as grfDisplay says. Its bytes are copied; of the decoded values,
// only those of a block's first record, as a block's other records are decoded again where it is
// formatted: the records must come as a walk decodes them, each decoded (DecodeRecord, with
// prec->rver) into the same VLR as the record before it.
void PipeRecord(LISTPIPE* ppipe, SHOWNRECORD const* prec, int grfDisplay);
// Writes every record taken so far, in order: before anything else is printed.
void DrainListPipe(LISTPIPE* ppipe);
// Drains the pipe, stops its threads and frees it.
void CloseListPipe(LISTPIPE* ppipe);
