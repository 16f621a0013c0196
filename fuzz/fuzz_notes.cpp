// Fuzz target for the annotation notes loader: any bytes as a notes file, then every note printed.
// Fatal load errors come back as FuzzExit (fuzz builds only) instead of ending the process.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "driver/notes.h"
#include "driver/options.h"

namespace {
std::string s_pathNotes;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char szPath[] = "/tmp/qf-fuzz-notes-XXXXXX";
    int fd = mkstemp(szPath);
    if (fd < 0)
        abort();
    close(fd);
    s_pathNotes = szPath;
    // The notes printed go to standard output; the fuzzer's own reports use standard error.
    int fdNull = open("/dev/null", O_WRONLY);
    if (fdNull >= 0)
        dup2(fdNull, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* pfile = fopen(s_pathNotes.c_str(), "wb");
    if (!pfile)
        abort();
    fwrite(data, 1, size, pfile);
    fclose(pfile);
    try {
        LoadAnnotationsFile(s_pathNotes.c_str());
    } catch (FuzzExit const&) {
    }
    FPrintNotesForTimestamp(0, 0xFFFFFFFF, 4);
    FPrintNotesForTimestamp(978307200, 1262390400, 0);
    ResetNotes();
    return 0;
}
