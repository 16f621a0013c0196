// Fuzz target for the command line: the input is split at NUL bytes into arguments and handed to
// QuenfellMain. It runs in an empty folder and arguments naming a path elsewhere are dropped, so
// no real file is ever read or written; fatal errors come back as FuzzExit (fuzz builds only).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "driver/options.h"
#include "fuzz_temp.h"
#include "driver/fatal.h"

namespace {
constexpr size_t cargMax = 64;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string strDir = StrTempTemplate("options");
    if (!mkdtemp(strDir.data()) || chdir(strDir.c_str()) != 0)
        abort();
    // Reports go to standard output, help screens and errors to the stderr stream: both are
    // silenced. The stream is replaced rather than descriptor 2, which carries the fuzzer's and
    // the sanitizers' own reports.
    int fdNull = open("/dev/null", O_WRONLY);
    if (fdNull >= 0)
        dup2(fdNull, 1);
    FILE* pfileNull = fopen("/dev/null", "w");
    if (pfileNull)
        stderr = pfileNull;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> rgarg{"quenfell"};
    size_t ichStart = 0;
    for (size_t ich = 0; ich <= size && rgarg.size() < cargMax; ich++) {
        if (ich == size || data[ich] == 0) {
            std::string arg((const char*)data + ichStart, ich - ichStart);
            if (arg.find('/') == std::string::npos)
                rgarg.push_back(arg);
            ichStart = ich + 1;
        }
    }
    std::vector<char*> argv;
    for (std::string& arg : rgarg)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    try {
        QuenfellMain((int)rgarg.size(), argv.data());
    } catch (FuzzExit const&) {
    }
    return 0;
}
