// Fuzz target for the tar walk: any bytes as an archive. Every member reported must lie within the
// file, the search must agree with the walk, and the vms_log member must read back byte for byte
// through a segment stream.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "driver/process.h"
#include "input/stream.h"
#include "input/tar.h"

namespace {

int s_fd;
std::string s_strPath;

struct WALKCHECK {
    size_t cbFile;
    int cmember;
    long long ibPrev;
    bool fFoundLog;
    TARF tarfFirstLog;
};

int CheckMember(TARF const& tarf, void* context)
{
    WALKCHECK* pwc = (WALKCHECK*)context;
    // Headers are whole blocks in file order; a member's data starts right after its header and
    // never runs past the end of the file, however its size field lies.
    if (tarf.ibData < cbTarBlock || tarf.ibData % cbTarBlock != 0 || tarf.ibData <= pwc->ibPrev)
        abort();
    if ((unsigned long long)tarf.ibData > pwc->cbFile || tarf.cb > pwc->cbFile - (size_t)tarf.ibData)
        abort();
    if (strnlen(tarf.szName, sizeof tarf.szName) == sizeof tarf.szName)
        abort();
    pwc->ibPrev = tarf.ibData;
    pwc->cmember++;
    if (!pwc->fFoundLog && strcmp(tarf.szName, "vms_log") == 0) {
        pwc->fFoundLog = true;
        pwc->tarfFirstLog = tarf;
    }
    return 1;
}

void ReadMemberBack(TARF const& tarf, const uint8_t* data)
{
    STREAM stream;
    if (!stream.FOpenFileSegment(s_strPath.c_str(), (unsigned long)tarf.ibData, (unsigned long)tarf.cb)) {
        // Only an empty member has nothing to map.
        if (tarf.cb != 0)
            abort();
        return;
    }
    if ((unsigned long long)stream.CbSize() != tarf.cb)
        abort();
    // Large steps first, then single bytes, across the whole member: each must match the archive.
    uint8_t rgb[700];
    long pos = 0;
    while (stream.FReadBytes((int)sizeof rgb, rgb)) {
        if (memcmp(rgb, data + tarf.ibData + pos, sizeof rgb) != 0)
            abort();
        pos += (long)sizeof rgb;
    }
    uint8_t b;
    while (stream.FReadByte(&b)) {
        if (b != data[tarf.ibData + pos])
            abort();
        pos++;
    }
    if ((unsigned long long)pos != tarf.cb || stream.PosCur() != pos)
        abort();
    // Probing past the end moves nothing.
    if (stream.FReadBytes(1, &b) || stream.PosCur() != pos)
        abort();
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // ustar prefixes are written to standard output as they are found.
    if (!freopen("/dev/null", "w", stdout))
        abort();
    s_fd = memfd_create("qf-tar", 0);
    if (s_fd < 0)
        abort();
    s_strPath = "/proc/self/fd/" + std::to_string(s_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (ftruncate(s_fd, 0) != 0 || (size > 0 && pwrite(s_fd, data, size, 0) != (ssize_t)size))
        abort();

    TAR tar;
    if (!tar.FOpen(s_strPath.c_str()))
        abort();
    WALKCHECK wc{};
    wc.cbFile = size;
    wc.ibPrev = 0;
    tar.Scan(CheckMember, &wc);

    // The search stops at the first exact match, the walk found the same one.
    TARF tarf;
    bool fFound = tar.FFindFile("vms_log", &tarf);
    if (fFound != wc.fFoundLog)
        abort();
    if (fFound && (tarf.ibData != wc.tarfFirstLog.ibData || tarf.cb != wc.tarfFirstLog.cb))
        abort();

    // A download's log is its last vms_log member, as the programs open it.
    TARF tarfLast{};
    tar.Scan(
        [](TARF const& tarfMember, void* pv) {
            if (strcmp(tarfMember.szName, "vms_log") == 0)
                *(TARF*)pv = tarfMember;
            return 1;
        },
        &tarfLast);
    tar.Close();

    if (fFound)
        ReadMemberBack(tarf, data);
    if (tarfLast.ibData != 0)
        ReadMemberBack(tarfLast, data);
    return 0;
}
