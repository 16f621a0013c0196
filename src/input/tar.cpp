// TAR: walks the 512-byte headers of a tar archive and reports each member to a callback. Only the
// classic header and the ustar name prefix are understood; long-name and extended headers of later
// variants are reported as ordinary members. The archive's size bounds every step of the walk.
#include "input/tar.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "input/stream.h"

namespace {

constexpr int cbTarName = 100;
constexpr int ibTarSize = 124;
constexpr int cbTarSize = 12;
constexpr int ibTarType = 156;
constexpr int ibTarMagic = 257;
constexpr int ibTarVersion = 263;
constexpr int ibTarPrefix = 345;
constexpr int cbTarPrefix = 155;

// Sizes of 8 GiB and more do not fit the field's 11 octal digits; such a member's size is a
// big-endian binary number instead, marked by the first byte's high bit, with the next bit as its
// sign. A negative size, or one too large to add a header to, is taken as running past any
// archive, as a size that cannot be true.
constexpr unsigned char bTarBase256 = 0x80;
constexpr unsigned char bTarBase256Negative = 0x40;
constexpr unsigned long long cbTarSizeMax = 1ULL << 62;

unsigned long long CbFromBase256Field(unsigned char const* pch)
{
    if (pch[0] & bTarBase256Negative)
        return cbTarSizeMax;
    unsigned long long cb = pch[0] & (bTarBase256Negative - 1);
    for (int ich = 1; ich < cbTarSize; ich++) {
        if (cb >= cbTarSizeMax >> 8)
            return cbTarSizeMax;
        cb = cb << 8 | pch[ich];
    }
    return cb;
}

// Blanks, then octal digits up to the first other character or the field's end. Accumulating in
// 32 bits keeps exactly the low 32 bits of the full value, however many digits follow.
unsigned long long CbFromTarSizeField(unsigned char const* pch)
{
    if (pch[0] & bTarBase256)
        return CbFromBase256Field(pch);
    int ich = 0;
    while (ich < cbTarSize && pch[ich] == ' ')
        ich++;
    uint32_t cb = 0;
    for (; ich < cbTarSize && pch[ich] >= '0' && pch[ich] <= '7'; ich++)
        cb = cb * 8 + (uint32_t)(pch[ich] - '0');
    return cb;
}

// Only the POSIX magic with version "00" carries a prefix; the older "ustar  " magic uses those
// bytes for other things, so its name stays as it is.
bool FUstarHeader(unsigned char const* hdr)
{
    return memcmp(hdr + ibTarMagic, "ustar", 6) == 0 && hdr[ibTarVersion] == '0' && hdr[ibTarVersion + 1] == '0';
}

// Fills szName from the name field and, for ustar, szPrefix from the prefix field.
void TarNameFromHeader(unsigned char const* hdr, TARF* ptarf)
{
    memcpy(ptarf->szName, hdr, cbTarName);
    ptarf->szName[cbTarName] = '\0';
    if (!FUstarHeader(hdr))
        return;
    static_assert(sizeof ptarf->szPrefix == cbTarPrefix + 1, "the prefix field and its end");
    char* achPrefix = ptarf->szPrefix;
    size_t cchPrefix = strnlen((char const*)hdr + ibTarPrefix, cbTarPrefix);
    memcpy(achPrefix, hdr + ibTarPrefix, cchPrefix);
    achPrefix[cchPrefix] = '\0';
    size_t cchName = strlen(ptarf->szName);
    if (cchPrefix < 1 || cchPrefix + cchName > sizeof(ptarf->szName) - 2)
        return;
    char szFull[sizeof(ptarf->szName)];
    memcpy(szFull, achPrefix, cchPrefix);
    szFull[cchPrefix] = '/';
    memcpy(szFull + cchPrefix + 1, ptarf->szName, cchName + 1);
    memcpy(ptarf->szName, szFull, sizeof(szFull));
}

// The archive is read with pread on the stream's descriptor: stdio gives up on a read that a
// signal interrupts, and a short read is carried on. False at the end of the file, or with errno
// set when the read failed.
bool FReadBlockAt(int fd, long long ib, unsigned char* pb)
{
    size_t cbDone = 0;
    while (cbDone < cbTarBlock) {
        ssize_t cb = pread(fd, pb + cbDone, cbTarBlock - cbDone, (off_t)(ib + (long long)cbDone));
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb < 0)
            return false;
        if (cb == 0) {
            errno = 0;
            return false;
        }
        cbDone += (size_t)cb;
    }
    return true;
}

struct FINDCONTEXT {
    char const* szWanted;
    TARF tarf;
    bool fFound;
};

int _FindAFile(TARF const& tarf, void* context)
{
    FINDCONTEXT* pfc = (FINDCONTEXT*)context;
    if (strcmp(tarf.szName, pfc->szWanted) != 0)
        return 1;
    pfc->tarf = tarf;
    pfc->fFound = true;
    return 0;
}

}   // namespace

TAR::TAR() : pfile(nullptr), errScan(0) {}

TAR::~TAR()
{
    Close();
}

// A directory or FIFO given as an archive fails here, with errno saying why, instead of hanging
// in a read or failing in the walk.
bool TAR::FOpen(char const* path)
{
    Close();
    pfile = PfileOpenRegularFile(path);
    return pfile != nullptr;
}

void TAR::Close()
{
    if (pfile)
        fclose(pfile);
    pfile = nullptr;
}

void TAR::Scan(PFNTARSCAN pfn, void* context)
{
    errScan = 0;
    struct stat st;
    if (!pfile)
        return;
    if (fstat(fileno(pfile), &st) != 0) {
        errScan = errno;
        return;
    }
    long long cbArchive = st.st_size;
    if (cbArchive <= 0)
        return;

    // Every header moves the walk on by at least 512 bytes and the walk stops at the archive's
    // size, so no size field, however damaged, can make it loop or leave the file.
    long long ib = 0;
    for (;;) {
        unsigned char hdr[cbTarBlock];
        if (!FReadBlockAt(fileno(pfile), ib, hdr)) {
            errScan = errno;
            return;
        }
        if (hdr[0] == 0)
            return;

        TARF tarf;
        memset(&tarf, 0, sizeof(tarf));
        tarf.cb = CbFromTarSizeField(hdr + ibTarSize);
        tarf.chType = (signed char)hdr[ibTarType];
        TarNameFromHeader(hdr, &tarf);
        tarf.ibData = ib + cbTarBlock;
        long long ibNext = ib + (long long)((tarf.cb + 2 * cbTarBlock - 1) & ~(unsigned long long)(cbTarBlock - 1));
        if (ibNext > cbArchive) {
            // Only the bytes present count; a member whose padding alone is cut keeps its size.
            tarf.fTruncated = true;
            unsigned long long cbPresent = tarf.ibData < cbArchive ? (unsigned long long)(cbArchive - tarf.ibData) : 0;
            if (tarf.cb > cbPresent)
                tarf.cb = cbPresent;
        }
        if (pfn && pfn(tarf, context) == 0)
            return;
        if (ibNext >= cbArchive)
            return;
        ib = ibNext;
    }
}

bool TAR::FFindFile(char const* name, TARF* ptarf)
{
    FINDCONTEXT fc;
    memset(&fc, 0, sizeof(fc));
    fc.szWanted = name;
    if (name)
        Scan(_FindAFile, &fc);
    if (ptarf)
        *ptarf = fc.tarf;
    return fc.fFound;
}
