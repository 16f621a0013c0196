// An output file that takes the place of its target only once it is complete: a failed or
// interrupted run leaves the old file as it was and no partial file under any name. Files that
// cannot be replaced (pipes, devices) are written in place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct OUTFILE {
    FILE* pfile;             // buffers the writes to fd, retrying interrupted ones
    int fd;                  // the file being written, or -1
    std::string strTarget;   // the file that commit replaces; a symbolic link's final target
    std::string strTemp;     // a named temporary file beside it, or empty
    bool fDirect;            // written in place: nothing to replace, nothing to remove
    bool fHaveOld;           // the target exists and keeps its permission bits
    int errnoFirst;          // the first write error, 0 while there is none
    long long cbWritten;     // bytes handed to the stream so far
    long long cbWriteback;   // bytes whose writeback to the disk has been started
};

// Opens the output for path. A folder fails with EISDIR, an existing file that the user may not
// write with that refusal (EACCES, EROFS...), both before anything is written. Returns 0 or the
// errno value; on failure nothing is left open or created.
int ErrOpenOutFile(OUTFILE* pout, char const* path);

// Appends cb bytes; the first failure is kept for commit to report.
void WriteOutFile(OUTFILE* pout, void const* pv, size_t cb);

// Puts the written bytes in the target's place: synced, renamed over the target, the folder synced.
// Returns 0, or the errno value of the first failure (-1 when a write failed without one) after
// which the target is untouched and the temporary file gone; a temporary file that cannot be
// removed either is named in a line on standard error.
int ErrCommitOutFile(OUTFILE* pout);

// Drops what was written; the target stays as it was.
void AbandonOutFile(OUTFILE* pout);
