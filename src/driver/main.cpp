// Quenfell: reads the downloaded log of an electric car and reports drives, charges and battery data.
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "driver/options.h"
#include "driver/fatal.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

// A standard descriptor that was closed when the program started would be taken by the first file
// it opens, and the report would then be written into an input or the joined log.
void OpenClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lower descriptors are open by now, so open returns exactly fd.
        if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd)
            GiveUsageAndExit("can't open file '/dev/null'. %s.", strerror(errno));
    }
}

}   // namespace

int main(int argc, char** argv)
{
    OpenClosedStandardDescriptors();
    // Past the file-size limit a write then fails with EFBIG and the join reports it, instead of
    // the signal ending the program without a word.
    signal(SIGXFSZ, SIG_IGN);
    InitOutput();
    // A TZ that cannot be followed is said before anything else; the run goes on in the zone named.
    if (char const* pszWarning = PszSystemZoneWarning())
        fprintf(stderr, "%s\n", pszWarning);
    try {
        return QuenfellMain(argc, argv);
    } catch (std::bad_alloc const&) {
        // Nothing of ours throws, but the standard library does when memory runs out: in a small
        // address space the run ends with a message rather than an abort.
        GiveUsageAndExit("out of memory");
    }
}
