// Fuzz target for the car's page: one log, or two overlapping downloads merged in memory, read by
// quenfell-plot's history reader (long-term walk, the join's merge, the default report's walk with
// its session hook) and drawn as the page. The first byte picks the mode, the rest is the log.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plot/carpage.h"
#include "plot/history.h"
#include "fuzz_temp.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr uint8_t fbTwoDownloads = 0x01;
constexpr uint8_t fbMetric = 0x02;
constexpr uint8_t fbPrice = 0x04;           // a price with an off-peak window over midnight

// The inputs live in memory files, as fuzz_decode keeps its own.
struct MEMFILE {
    int fd;
    std::string strPath;
};
MEMFILE s_mfA, s_mfB;

void OpenMemFile(MEMFILE* pmf, const char* szName)
{
    pmf->fd = memfd_create(szName, 0);
    if (pmf->fd < 0)
        abort();
    pmf->strPath = "/proc/self/fd/" + std::to_string(pmf->fd);
}

void FillMemFile(MEMFILE const* pmf, const uint8_t* pb, size_t cb)
{
    if (ftruncate(pmf->fd, 0) != 0 || (cb > 0 && pwrite(pmf->fd, pb, cb, 0) != (ssize_t)cb))
        abort();
}

void DrawPage(uint8_t bMode, const uint8_t* pb, size_t cb)
{
    const char* rgpsz[2] = {s_mfA.strPath.c_str(), s_mfB.strPath.c_str()};
    int cpath = 1;
    if (bMode & fbTwoDownloads) {
        // The first three quarters of the log and its last three quarters.
        size_t cbQuarter = cb / 4;
        FillMemFile(&s_mfA, pb, cb - cbQuarter);
        FillMemFile(&s_mfB, pb + cbQuarter, cb - cbQuarter);
        cpath = 2;
    } else {
        FillMemFile(&s_mfA, pb, cb);
    }
    HISTORY hist;
    char const* pszWhy;
    if ((bMode & fbPrice) && !FParsePrice("0.30,0.12@23:00-07:00", &hist.price, &pszWhy))
        abort();
    std::string strErr;
    if (!FReadHistory(rgpsz, cpath, &hist, &strErr))
        return;
    std::string strPage;
    WriteCarPage(&hist, (bMode & fbMetric) != 0, &strPage);
    if (strPage.rfind("</html>\n") != strPage.size() - 8)
        abort();
}

}   // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Decoding prints nothing: standard output goes to a file that must stay empty.
    std::string strOut = StrTempTemplate("plot-stdout");
    int fdOut = mkstemp(strOut.data());
    if (fdOut < 0 || !freopen(strOut.c_str(), "w", stdout))
        abort();
    close(fdOut);
    unlink(strOut.c_str());
    InitOutput();
    OpenMemFile(&s_mfA, "qf-plot-a");
    OpenMemFile(&s_mfB, "qf-plot-b");
    if (!FSetZones("America/Los_Angeles"))
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    DrawPage(data[0], data + 1, size - 1);
    // Standard output is the output buffer's own stream, which cannot tell its position: the file
    // under descriptor 1 must stay empty.
    fflush(stdout);
    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0 || st.st_size != 0)
        abort();
    return 0;
}
