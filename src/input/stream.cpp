// STREAM: reads a whole file or one segment of a file through a private read-only mapping, or, when
// no mapping can be made, from a copy read into memory; a standard I/O fallback only exists after a
// whole file turned out to be empty. Every read is checked against the bytes held, whatever position
// a caller stored.
#include "input/stream.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "support/retry.h"

namespace {

// Touching a mapped page that lies past the end of a file that shrank raises SIGBUS. The handler
// puts zero pages over the rest of that mapping and notes the change, and the interrupted read
// goes on. Streams on several threads claim and release entries of this table; the handler only
// reads it. An entry is claimed by its fClaimed flag, and it is live while pbBase is set: pbBase is
// set last and cleared first, and fClaimed is given back only after that. Lock-free atomics are
// plain loads and stores, safe in a signal handler.
struct LIVEMAP {
    std::atomic<uintptr_t> pbBase;
    std::atomic<uintptr_t> cb;
    std::atomic<int> fChanged;
    std::atomic<int> fClaimed;
};
static_assert(std::atomic<uintptr_t>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the bus-error handler reads the table without locks");

// More mappings than this at once (a join of that many inputs) go without the protection.
constexpr int cLiveMapMax = 1024;

// What the handler needs, one per process like the signal itself.
struct BUSGUARD {
    LIVEMAP rglivemap[cLiveMapMax];
    uintptr_t cbPage;
    std::once_flag onceInstall;
};
BUSGUARD s_busguard;

extern "C" void OnBusError(int sig, siginfo_t* psi, void*)
{
    uintptr_t ib = (uintptr_t)psi->si_addr;
    if (psi->si_code > 0) {
        for (LIVEMAP& livemap : s_busguard.rglivemap) {
            uintptr_t pbBase = livemap.pbBase.load();
            uintptr_t cb = livemap.cb.load();
            if (pbBase == 0 || ib < pbBase || ib - pbBase >= cb)
                continue;
            uintptr_t pbPage = ib & ~(s_busguard.cbPage - 1);
            void* pv = mmap((void*)pbPage, pbBase + cb - pbPage, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
            if (pv != MAP_FAILED) {
                livemap.fChanged.store(1);
                return;
            }
        }
    }
    // Not one of ours: the default action, as if there were no handler.
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_DFL;
    sigaction(sig, &sa, nullptr);
    raise(sig);
}

void InstallBusErrorHandler()
{
    s_busguard.cbPage = (uintptr_t)sysconf(_SC_PAGESIZE);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnBusError;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGBUS, &sa, nullptr);
}

}   // namespace

// A FIFO opened read-only and non-blocking returns at once, and nothing that is not a regular file
// gets as far as standard I/O or mmap, so a directory, FIFO or device named as an input can neither
// hang nor crash the program.
int FdOpenRegularFile(char const* path, long long* pcbFile)
{
    int fd = FdOpenRetry(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
        return -1;
    }
    if (pcbFile)
        *pcbFile = st.st_size;
    return fd;
}

FILE* PfileOpenRegularFile(char const* path)
{
    int fd = FdOpenRegularFile(path, nullptr);
    if (fd < 0)
        return nullptr;
    FILE* pfile = fdopen(fd, "r");
    if (!pfile) {
        int err = errno;
        close(fd);
        errno = err;
    }
    return pfile;
}

STREAM::STREAM()
    : pfile(nullptr), pbMap(nullptr), cbMap(0), posMap(0), pvMapBase(nullptr), cbMapTotal(0), iLiveMap(-1),
      errMap(0), pbOwned(nullptr), fOwnedShort(false), fSmallPages(false)
{
}

STREAM::~STREAM()
{
    CloseFile();
}

void STREAM::CloseFile()
{
    errMap = 0;
    if (pfile)
        fclose(pfile);
    if (iLiveMap >= 0) {
        s_busguard.rglivemap[iLiveMap].pbBase.store(0);
        s_busguard.rglivemap[iLiveMap].fClaimed.store(0);
    }
    iLiveMap = -1;
    if (pvMapBase)
        munmap(pvMapBase, cbMapTotal);
    free(pbOwned);
    pbOwned = nullptr;
    fOwnedShort = false;
    pfile = nullptr;
    pbMap = nullptr;
    pvMapBase = nullptr;
    cbMapTotal = 0;
    cbMap = 0;
    posMap = 0;
}

// A mapping that cannot be made (no address space left, a file system without mmap) is not the end:
// the bytes are read into memory instead, and a file that shrinks meanwhile reads as zeros from the
// cut on, as a mapped one does.
bool STREAM::FReadInstead(int fd, unsigned long ibStart, unsigned long cb)
{
    errMap = errno;
    pbOwned = (unsigned char*)malloc(cb);
    if (!pbOwned) {
        errno = errMap;
        return false;
    }
    ssize_t cbRead = CbReadAllAt(fd, pbOwned, cb, (off_t)ibStart);
    if (cbRead < 0) {
        int err = errno;
        free(pbOwned);
        pbOwned = nullptr;
        errno = err;
        return false;
    }
    if ((unsigned long)cbRead < cb) {
        memset(pbOwned + cbRead, 0, cb - (unsigned long)cbRead);
        fOwnedShort = true;
    }
    pbMap = pbOwned;
    cbMap = (long)cb;
    return true;
}

bool STREAM::FOpenFile(char const* path)
{
    CloseFile();
    // The checked descriptor is the stream's file, so the file that is mapped is the one that was
    // checked, not whatever the path names a moment later.
    pfile = PfileOpenRegularFile(path);
    if (!pfile)
        return false;
    struct stat st;
    if (fstat(fileno(pfile), &st) != 0)
        return false;
    long cb = (long)st.st_size;
    if (cb <= 0) {
        // An empty file: the caller reports it as such, not with a stale error text.
        errno = 0;
        return false;
    }
    void* pv = mmap(nullptr, (size_t)cb, PROT_READ, MAP_PRIVATE, fileno(pfile), 0);
    if (pv == MAP_FAILED)
        return FReadInstead(fileno(pfile), 0, (unsigned long)cb);
    KeepMapping(pv, (unsigned long)cb);
    pbMap = (unsigned char const*)pv;
    cbMap = cb;
    return true;
}

// A segment that runs past the end of the file is cut to the bytes the file holds, as the tar
// reader does with a member cut short: touching a mapped page beyond the end of a file would
// raise SIGBUS. A segment that starts at or beyond the end, or holds no bytes, fails, since a
// mapping of length 0 does not exist.
bool STREAM::FOpenFileSegment(char const* path, unsigned long ibStart, unsigned long cb)
{
    CloseFile();
    long long cbFileSigned;
    int fd = FdOpenRegularFile(path, &cbFileSigned);
    if (fd < 0)
        return false;
    unsigned long cbFile = cbFileSigned > 0 ? (unsigned long)cbFileSigned : 0;
    if (cb == 0 || ibStart >= cbFile) {
        close(fd);
        errno = 0;
        return false;
    }
    if (cb > cbFile - ibStart)
        cb = cbFile - ibStart;

    unsigned long cbPage = (unsigned long)sysconf(_SC_PAGESIZE);
    unsigned long dib = ibStart % cbPage;
    void* pv = mmap(nullptr, cb + dib, PROT_READ, MAP_PRIVATE, fd, (off_t)(ibStart - dib));
    if (pv == MAP_FAILED) {
        FReadInstead(fd, ibStart, cb);
    } else {
        KeepMapping(pv, cb + dib);
        pbMap = (unsigned char const*)pv + dib;
        cbMap = (long)cb;
    }
    int err = errno;
    close(fd);
    errno = err;
    return pbMap != nullptr;
}

// Cuts [*pibStart, *pibEnd) to the mapped bytes; false when that leaves nothing, or the stream is
// no file mapping.
bool STREAM::FClampToMapping(long* pibStart, long* pibEnd) const
{
    if (!pvMapBase || pbMap == nullptr)
        return false;
    if (*pibStart < 0)
        *pibStart = 0;
    if (*pibEnd > cbMap)
        *pibEnd = cbMap;
    return *pibStart < *pibEnd;
}

// MADV_DONTNEED on a private mapping of a file whose pages were never written drops them, and the
// next read fills them from the file again; pages that the bus-error handler put over a cut file
// are anonymous and come back as the zeros they were.
void STREAM::ReleaseBytes(long ibStart, long ibEnd)
{
    if (!FClampToMapping(&ibStart, &ibEnd))
        return;
    uintptr_t const cbPage = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t const pbBase = (uintptr_t)pvMapBase;
    uintptr_t pbFirst = ((uintptr_t)pbMap + (uintptr_t)ibStart) & ~(cbPage - 1);
    // The mapping's last page holds nothing after the stream's bytes that anyone reads.
    uintptr_t pbEnd = ibEnd == cbMap ? (pbBase + cbMapTotal + cbPage - 1) & ~(cbPage - 1)
                                     : ((uintptr_t)pbMap + (uintptr_t)ibEnd) & ~(cbPage - 1);
    if (pbFirst < pbEnd)
        madvise((void*)pbFirst, pbEnd - pbFirst, MADV_DONTNEED);
}

void STREAM::PopulateBytes(long ibStart, long ibEnd)
{
#if defined(MADV_POPULATE_READ)
    if (!FClampToMapping(&ibStart, &ibEnd))
        return;
    uintptr_t const cbPage = (uintptr_t)sysconf(_SC_PAGESIZE);
    uintptr_t pbFirst = ((uintptr_t)pbMap + (uintptr_t)ibStart) & ~(cbPage - 1);
    uintptr_t pbEnd = ((uintptr_t)pbMap + (uintptr_t)ibEnd + cbPage - 1) & ~(cbPage - 1);
    // A file cut short meanwhile fails here (EFAULT) and is left to the reads and their guard.
    int err = errno;
    madvise((void*)pbFirst, pbEnd - pbFirst, MADV_POPULATE_READ);
    errno = err;
#else
    (void)ibStart;
    (void)ibEnd;
#endif
}

void STREAM::PreferSmallPages()
{
    fSmallPages = true;
    if (pvMapBase)
        madvise(pvMapBase, cbMapTotal, MADV_NOHUGEPAGE);
}

bool STREAM::FOpenMemory(unsigned char const* pb, unsigned long cb)
{
    CloseFile();
    if (!pb || cb == 0)
        return false;
    pbMap = pb;
    cbMap = (long)cb;
    return true;
}

void STREAM::KeepMapping(void* pv, unsigned long cb)
{
    pvMapBase = pv;
    cbMapTotal = cb;
    if (fSmallPages)
        madvise(pv, cb, MADV_NOHUGEPAGE);
    std::call_once(s_busguard.onceInstall, InstallBusErrorHandler);
    for (int i = 0; i < cLiveMapMax; i++) {
        LIVEMAP& livemap = s_busguard.rglivemap[i];
        int fClaimed = 0;
        if (livemap.fClaimed.load() == 0 && livemap.fClaimed.compare_exchange_strong(fClaimed, 1)) {
            livemap.cb.store(cb);
            livemap.fChanged.store(0);
            livemap.pbBase.store((uintptr_t)pv);
            iLiveMap = i;
            return;
        }
    }
}

bool STREAM::FChanged() const
{
    return fOwnedShort || (iLiveMap >= 0 && s_busguard.rglivemap[iLiveMap].fChanged.load() != 0);
}

long STREAM::CbSizeUnmapped()
{
    if (!pfile)
        return 0;
    off_t posSaved = ftello(pfile);
    if (posSaved < 0 || fseeko(pfile, 0, SEEK_END) != 0)
        return 0;
    off_t cb = ftello(pfile);
    FSetPos((long)posSaved);
    return cb < 0 ? 0 : (long)cb;
}

long STREAM::PosCur()
{
    if (pbMap)
        return posMap;
    if (pfile)
        return (long)ftello(pfile);
    return 0;
}

// A mapped stream keeps any position, even a negative one or one past the end; the reads are what
// check it, so a caller can park the position anywhere and probe.
bool STREAM::FSetPosUnmapped(long pos)
{
    if (pfile)
        return fseeko(pfile, (off_t)pos, SEEK_SET) == 0;
    return false;
}

bool STREAM::FReadByte(unsigned char* pb)
{
    if (pbMap) {
        if (posMap < 0 || posMap >= cbMap)
            return false;
        *pb = pbMap[posMap++];
        return true;
    }
    return FReadBytes(1, pb);
}

bool STREAM::FReadBytes(int cb, void* pv)
{
    if (cb < 0)
        return false;
    if (pbMap) {
        // Written so that nothing can overflow: posMap is tested against the bounds before
        // cbMap - posMap is formed.
        if (posMap < 0 || posMap > cbMap || (long)cb > cbMap - posMap)
            return false;
        memcpy(pv, pbMap + posMap, (size_t)cb);
        posMap += cb;
        return true;
    }
    if (pfile) {
        if (cb == 0)
            return true;
        off_t posSaved = ftello(pfile);
        if (fread(pv, (size_t)cb, 1, pfile) == 1)
            return true;
        // A short read must leave the position where it was, as in the mapped mode.
        clearerr(pfile);
        if (posSaved >= 0)
            fseeko(pfile, posSaved, SEEK_SET);
        return false;
    }
    return false;
}
