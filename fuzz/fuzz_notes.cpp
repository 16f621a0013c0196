// Fuzz target for the annotation notes loader: any bytes as a notes file, then every note printed.
// A load that fails keeps the notes before the line at fault, and those are printed too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "report/notes.h"
#include "fuzz_temp.h"

namespace {
std::string s_pathNotes;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    s_pathNotes = StrTempTemplate("notes");
    int fd = mkstemp(s_pathNotes.data());
    if (fd < 0)
        abort();
    close(fd);
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
    NOTES notes;
    FAILURE fail;
    FLoadAnnotationsFile(&notes, s_pathNotes.c_str(), &fail);
    PrintNotes(&notes, 0, 0xFFFFFFFF, 4);
    PrintNotes(&notes, 978307200, 1262390400, 0);
    return 0;
}
