// The baseline process of the whole-program benchmark scripts: maps each file given the way
// quenfell maps its inputs and reads every byte once, the least any reader of them must do.
// With --keep every mapping is held until the end, as a merge that holds all of its inputs would;
// with --jobs N the files are shared out over N threads, the floor of work spread over the cores.
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "benchlog.h"
#include "input/stream.h"

int main(int argc, char** argv)
{
    int iarg = 1;
    bool fKeep = false;
    int cthread = 1;
    for (; iarg < argc; iarg++) {
        if (strcmp(argv[iarg], "--keep") == 0)
            fKeep = true;
        else if (strcmp(argv[iarg], "--jobs") == 0 && iarg + 1 < argc)
            cthread = atoi(argv[++iarg]);
        else
            break;
    }
    if (iarg >= argc || cthread < 1) {
        fprintf(stderr, "usage: touch_pass [--keep] [--jobs N] FILE...\n");
        return 2;
    }
    int const cfile = argc - iarg;
    std::vector<std::unique_ptr<STREAM>> rgpstream((size_t)cfile);
    std::vector<uint64_t> rgsum((size_t)cthread);
    std::atomic<int> ifileNext{0};
    std::atomic<bool> fFailed{false};
    auto work = [&](int ithread) {
        for (int ifile; (ifile = ifileNext++) < cfile;) {
            auto pstream = std::make_unique<STREAM>();
            if (!pstream->FOpenFile(argv[iarg + ifile])) {
                perror(argv[iarg + ifile]);
                fFailed = true;
                return;
            }
            rgsum[(size_t)ithread] += UlSumBytes(pstream->PbMap(), pstream->CbSize());
            if (fKeep)
                rgpstream[(size_t)ifile] = std::move(pstream);
        }
    };
    std::vector<std::thread> rgthread;
    for (int i = 1; i < cthread; i++)
        rgthread.emplace_back(work, i);
    work(0);
    for (std::thread& thread : rgthread)
        thread.join();
    if (fFailed)
        return 1;
    uint64_t sum = 0;
    for (uint64_t s : rgsum)
        sum += s;
    printf("%" PRIu64 "\n", sum);
    return 0;
}
