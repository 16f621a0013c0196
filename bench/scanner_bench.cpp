// Record scanner throughput: the linear scanner against a byte-at-a-time baseline, on a clean 64 MB
// log, on a 64 MB file built to defeat naive checksum tests, and on the case that costs the fast
// scanner most per call (a failed long candidate right before every short record).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

#include "benchlog.h"
#include "input/stream.h"
#include "records/scanner.h"
#include "testsupport/refscan.h"

namespace {

constexpr size_t cbFile = 64u << 20;

void AppendRecord(BYTES& d, std::mt19937& rng, int rt, int cbRec, int dSum)
{
    size_t ib = d.size();
    d.resize(ib + (size_t)cbRec);
    d[ib] = 0x03;
    d[ib + 1] = 0x02;
    d[ib + 2] = (unsigned char)(cbRec - 2);
    d[ib + 3] = (unsigned char)rt;
    unsigned sum = d[ib + 2] + d[ib + 3];
    for (int i = 4; i < cbRec - 1; i++) {
        d[ib + (size_t)i] = (unsigned char)rng();
        sum += d[ib + (size_t)i];
    }
    d[ib + (size_t)cbRec - 1] = (unsigned char)(0x100 - (sum & 0xFF) + dSum);
}

// Drive, charge and idle records of their usual lengths, with random field bytes.
BYTES CleanLog()
{
    static const int s_rgrtcb[][2] = {{10, 26}, {10, 26}, {10, 26}, {10, 26}, {11, 36}, {12, 23},
                                      {24, 39}, {24, 39}, {7, 25},  {20, 19}, {9, 23}};
    std::mt19937 rng(1);
    BYTES d;
    d.reserve(cbFile + 300);
    while (d.size() < cbFile) {
        auto const& rtcb = s_rgrtcb[rng() % (sizeof s_rgrtcb / sizeof s_rgrtcb[0])];
        AppendRecord(d, rng, rtcb[0], rtcb[1], 0);
    }
    d.resize(cbFile);
    return d;
}

// Runs of 03 02 FF (a longest candidate every three bytes) alternating with near-miss records of
// every length whose bodies are themselves full of candidates.
BYTES AdversarialLog()
{
    std::mt19937 rng(2);
    BYTES d;
    d.reserve(cbFile + 300);
    while (d.size() < cbFile) {
        size_t ibEnd = d.size() + (64u << 10);
        while (d.size() < ibEnd)
            d.insert(d.end(), {0x03, 0x02, 0xFF});
        ibEnd = d.size() + (64u << 10);
        while (d.size() < ibEnd) {
            int cbRec = 4 + (int)(rng() % 254);
            size_t ib = d.size();
            AppendRecord(d, rng, 0x03, cbRec, 1);
            for (size_t i = ib + 4; i + 3 < d.size(); i += 3) {
                d[i] = 0x03;
                d[i + 1] = 0x02;
            }
            unsigned sum = 0;
            for (size_t i = ib + 2; i + 1 < d.size(); i++)
                sum += d[i];
            d.back() = (unsigned char)(0x100 - (sum & 0xFF) + 1);
        }
    }
    d.resize(cbFile);
    return d;
}

// A failed longest candidate, then a shortest record inside its reach: every call re-reads up to
// 255 bytes ahead for only 7 bytes of progress.
BYTES InterleavedLog()
{
    BYTES d;
    d.reserve(cbFile + 8);
    while (d.size() < cbFile)
        d.insert(d.end(), {0x03, 0x02, 0xFF, 0x03, 0x02, 0x02, 0xFE});
    d.resize(cbFile);
    return d;
}

class FILES {
public:
    FILES()
    {
        char szDir[] = "/tmp/qf-scanner-bench-XXXXXX";
        if (!mkdtemp(szDir))
            abort();
        dir = szDir;
        Write("clean", CleanLog());
        Write("adversarial", AdversarialLog());
        Write("interleaved", InterleavedLog());
    }
    ~FILES()
    {
        for (const char* sz : {"clean", "adversarial", "interleaved"})
            unlink(Path(sz).c_str());
        rmdir(dir.c_str());
    }
    std::string Path(const char* szName) const { return dir + "/" + szName; }

private:
    void Write(const char* szName, BYTES const& d)
    {
        if (!FWriteBytes(Path(szName).c_str(), d))
            abort();
    }
    std::string dir;
};

FILES const& Files()
{
    static FILES s_files;
    return s_files;
}

// The byte-at-a-time baseline (testsupport/refscan.h) reading through the stream, one FReadByte
// per byte, as the scanner was first written.
int FBaselineStreamScan(STREAM* pstream, long* ppos, long posLimit, int* pcb)
{
    long p = *ppos;
    pstream->FSetPos(p);
    if (p >= posLimit)
        return 0;
    int state = 0;
    unsigned char b;
    while (pstream->FReadByte(&b)) {
        if (state == 2) {
            unsigned L = b;
            if (L >= 2) {
                unsigned sum = L;
                unsigned i = 1;
                for (; i < L && pstream->FReadByte(&b); i++)
                    sum += b;
                if (i == L && (sum & 0xFF) == 0) {
                    *ppos = p - 2;
                    *pcb = (int)L + 2;
                    return 1;
                }
            }
            pstream->FSetPos(p + 1);
            state = 0;
        } else {
            state = NextMarkerState(state, b);
        }
        if (p + 1 == posLimit)
            return 0;
        p++;
    }
    return 0;
}

enum SCANNER { scannerFast, scannerBaselineMemory, scannerBaselineStream };

void ScanFile(benchmark::State& state, const char* szName, SCANNER scanner)
{
    STREAM stream;
    if (!stream.FOpenFile(Files().Path(szName).c_str())) {
        state.SkipWithError("cannot open the generated log");
        return;
    }
    long cb = stream.CbSize();
    long crec = 0;
    ResetPeakResident();
    for (auto _ : state) {
        long pos = 0;
        int cbRec = 0;
        crec = 0;
        switch (scanner) {
        case scannerFast:
            crec = CrecScanAll(&stream, cb);
            break;
        case scannerBaselineMemory:
            while (FRefScanBytes(stream.PbMap(), cb, &pos, cb, &cbRec)) {
                pos += cbRec;
                crec++;
            }
            break;
        case scannerBaselineStream:
            while (FBaselineStreamScan(&stream, &pos, cb, &cbRec)) {
                pos += cbRec;
                crec++;
            }
            break;
        }
        benchmark::DoNotOptimize(crec);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * cb);
    state.counters["records"] = (double)crec;
    state.counters["peak_MiB"] = MibPeakResident();
}

void BM_CleanFast(benchmark::State& state) { ScanFile(state, "clean", scannerFast); }
void BM_CleanBaselineMemory(benchmark::State& state) { ScanFile(state, "clean", scannerBaselineMemory); }
void BM_CleanBaselineStream(benchmark::State& state) { ScanFile(state, "clean", scannerBaselineStream); }
void BM_AdversarialFast(benchmark::State& state) { ScanFile(state, "adversarial", scannerFast); }
void BM_AdversarialBaselineMemory(benchmark::State& state) { ScanFile(state, "adversarial", scannerBaselineMemory); }
void BM_AdversarialBaselineStream(benchmark::State& state) { ScanFile(state, "adversarial", scannerBaselineStream); }
void BM_InterleavedFast(benchmark::State& state) { ScanFile(state, "interleaved", scannerFast); }
void BM_InterleavedBaselineMemory(benchmark::State& state) { ScanFile(state, "interleaved", scannerBaselineMemory); }
void BM_InterleavedBaselineStream(benchmark::State& state) { ScanFile(state, "interleaved", scannerBaselineStream); }

// The slow baselines run once: a single pass over an adversarial file takes seconds.
BENCHMARK(BM_CleanFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanBaselineMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CleanBaselineStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdversarialFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AdversarialBaselineMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_AdversarialBaselineStream)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_InterleavedFast)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InterleavedBaselineMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_InterleavedBaselineStream)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
