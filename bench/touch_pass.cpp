// The baseline process of the whole-program benchmark scripts: maps each file given the way
// quenfell maps its inputs and reads every byte once, the least any reader of them must do.
// With --keep every mapping is held until the end, as the join holds its inputs.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "benchlog.h"
#include "input/stream.h"

int main(int argc, char** argv)
{
    int iarg = 1;
    bool fKeep = argc > 1 && strcmp(argv[1], "--keep") == 0;
    if (fKeep)
        iarg++;
    if (iarg >= argc) {
        fprintf(stderr, "usage: touch_pass [--keep] FILE...\n");
        return 2;
    }
    std::vector<std::unique_ptr<STREAM>> rgpstream;
    uint64_t sum = 0;
    for (; iarg < argc; iarg++) {
        auto pstream = std::make_unique<STREAM>();
        if (!pstream->FOpenFile(argv[iarg])) {
            perror(argv[iarg]);
            return 1;
        }
        sum += UlSumBytes(pstream->PbMap(), pstream->CbSize());
        if (fKeep)
            rgpstream.push_back(std::move(pstream));
    }
    printf("%" PRIu64 "\n", sum);
    return 0;
}
