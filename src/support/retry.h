// System calls made again when a signal interrupts them, and transfers carried on when the kernel
// moves fewer bytes than asked. The C library's stdio does neither: a write that fails with EINTR
// loses its buffer, so every descriptor the program writes through stdio uses a stream of ours.
#pragma once

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// open(2), made again while interrupted; the descriptor or -1 with errno set.
int FdOpenRetry(char const* path, int grfOpen, mode_t mode = 0);

// Writes all cb bytes; false with errno set on the first failure other than an interruption.
bool FWriteAll(int fd, void const* pv, size_t cb);

// Reads up to cb bytes from the descriptor's position, going on after short reads until cb bytes or
// the end; the count read, or -1 with errno set.
ssize_t CbReadAll(int fd, void* pv, size_t cb);

// Reads up to cb bytes at offset ib, going on after short reads until cb bytes or the end of the
// file; the count read, or -1 with errno set.
ssize_t CbReadAllAt(int fd, void* pv, size_t cb, off_t ib);

// rename(2) and linkat(2), made again while interrupted; 0 or -1 with errno set.
int RenameRetry(char const* pszFrom, char const* pszTo);
int LinkatRetry(int fdFrom, char const* pszFrom, int fdTo, char const* pszTo, int grf);

// fsync(2), made again while interrupted; 0 or -1 with errno set.
int FsyncRetry(int fd);

// A write-only stdio stream over fd whose writes go through FWriteAll. Closing the stream leaves
// fd open: its owner still syncs or links it. Null with errno set when no stream could be made.
FILE* PfileWriterOver(int fd);
