// quenfell's join: the preview, then the merge of the inputs written to a new log that takes the
// output's place only once it is complete.
#pragma once

#include "merge/merge.h"

// Previews and merges the table's inputs into pszOutput (the preview rows go to pfnPreview with the
// hook's context, the merge's messages to the hook), then closes and frees their streams. The vehicle-info records
// written pass through pscan. True with the number of records written, or false with the reason
// in *pfail; the output is then as it was.
// pfnReady (may be null), with the hook's context, comes once the joined log is whole and sound,
// just before it replaces the output: false (with the reason in *pfail) leaves the output as it was,
// so that a report that could not be written does not stand beside a replaced log.
typedef bool (*PFNREADY)(void* pv, FAILURE* pfail);
bool FJoinLogs(SCANSTATE* pscan, JOINTABLE* pjoin, const char* pszOutput, PFNPREVIEW pfnPreview,
               MERGEHOOK const* phook, PFNREADY pfnReady, long* pcwritten, FAILURE* pfail);
