// System calls made again after EINTR, and a stdio stream that writes through them.
#include "support/retry.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

int FdOpenRetry(char const* path, int grfOpen, mode_t mode)
{
    int fd;
    do
        fd = open(path, grfOpen, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool FWriteAll(int fd, void const* pv, size_t cb)
{
    char const* pch = (char const*)pv;
    while (cb > 0) {
        ssize_t cbDone = write(fd, pch, cb);
        if (cbDone < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        // A regular file or pipe that takes nothing is full as surely as ENOSPC says.
        if (cbDone == 0) {
            errno = ENOSPC;
            return false;
        }
        pch += cbDone;
        cb -= (size_t)cbDone;
    }
    return true;
}

ssize_t CbReadAll(int fd, void* pv, size_t cb)
{
    size_t cbDone = 0;
    while (cbDone < cb) {
        ssize_t cbRead = read(fd, (char*)pv + cbDone, cb - cbDone);
        if (cbRead < 0 && errno == EINTR)
            continue;
        if (cbRead < 0)
            return -1;
        if (cbRead == 0)
            break;
        cbDone += (size_t)cbRead;
    }
    return (ssize_t)cbDone;
}

ssize_t CbReadAllAt(int fd, void* pv, size_t cb, off_t ib)
{
    char* pch = (char*)pv;
    size_t cbDone = 0;
    while (cbDone < cb) {
        ssize_t cbRead = pread(fd, pch + cbDone, cb - cbDone, ib + (off_t)cbDone);
        if (cbRead < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (cbRead == 0)
            break;
        cbDone += (size_t)cbRead;
    }
    return (ssize_t)cbDone;
}

int RenameRetry(char const* pszFrom, char const* pszTo)
{
    int ret;
    do
        ret = rename(pszFrom, pszTo);
    while (ret != 0 && errno == EINTR);
    return ret;
}

int LinkatRetry(int fdFrom, char const* pszFrom, int fdTo, char const* pszTo, int grf)
{
    int ret;
    do
        ret = linkat(fdFrom, pszFrom, fdTo, pszTo, grf);
    while (ret != 0 && errno == EINTR);
    return ret;
}

int FsyncRetry(int fd)
{
    int ret;
    do
        ret = fsync(fd);
    while (ret != 0 && errno == EINTR);
    return ret;
}

namespace {

// stdio takes any count short of cb as a failure and keeps errno; a negative count it must not
// be given, since some of its paths add the count unchecked.
ssize_t CookieWrite(void* pvCookie, char const* pch, size_t cb)
{
    return FWriteAll((int)(intptr_t)pvCookie, pch, cb) ? (ssize_t)cb : 0;
}

int CookieClose(void*)
{
    return 0;
}

}   // namespace

FILE* PfileWriterOver(int fd)
{
    cookie_io_functions_t io = {nullptr, CookieWrite, nullptr, CookieClose};
    return fopencookie((void*)(intptr_t)fd, "w", io);
}
