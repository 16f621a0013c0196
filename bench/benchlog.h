// Pieces the benchmark programs share: records written field by field into a synthetic download,
// the download kept in a temporary file for the run, output silenced around a timed call, the
// baselines timed beside the program's own passes, and the usual benchmark main. Inline: every
// bench/*.cpp is its own program.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/run.h"
#include "analysis/sections.h"
#include "input/stream.h"
#include "records/record.h"
#include "records/scanner.h"

typedef std::vector<uint8_t> BYTES;

// One record under construction: header, body fields, then marker, count byte and checksum.
struct RECW {
    uint8_t rgb[64];
    int cb;
};

// Raw dates after 2008 need no correction, so ts is stored as it is.
inline RECW RecNew(int rt, int cb, uint32_t ts)
{
    RECW rec;
    memset(rec.rgb, 0, sizeof rec.rgb);
    rec.cb = cb;
    rec.rgb[3] = (uint8_t)rt;
    memcpy(rec.rgb + 6, &ts, 4);
    return rec;
}

inline void Put16(RECW* prec, int ib, unsigned v)
{
    prec->rgb[ib] = (uint8_t)(v & 0xFF);
    prec->rgb[ib + 1] = (uint8_t)((v >> 8) & 0xFF);
}

inline void Put32(RECW* prec, int ib, uint32_t v)
{
    Put16(prec, ib, v & 0xFFFF);
    Put16(prec, ib + 2, v >> 16);
}

// Fills in the marker, the count byte and the checksum, and appends the record.
inline void Append(BYTES* pb, RECW rec)
{
    rec.rgb[0] = 0x03;
    rec.rgb[1] = 0x02;
    rec.rgb[2] = (uint8_t)(rec.cb - 2);
    unsigned sum = 0;
    for (int i = 2; i + 1 < rec.cb; i++)
        sum += rec.rgb[i];
    rec.rgb[rec.cb - 1] = (uint8_t)(0x100 - (sum & 0xFF));
    pb->insert(pb->end(), rec.rgb, rec.rgb + rec.cb);
}

// Firmware 4.1.2 5, one VIN for every benchmark.
inline void AppendVinf(BYTES* pb, uint32_t ts, int fLongTerm)
{
    RECW rec = RecNew(rtVINF, 40, ts);
    rec.rgb[5] = fLongTerm ? 0x80 : 0;
    rec.rgb[12] = 2;
    rec.rgb[13] = 1;
    rec.rgb[14] = 4;
    rec.rgb[18] = 5;
    memcpy(rec.rgb + 22, "SFZRE8B19A3000123", 17);
    Append(pb, rec);
}

// The long-term daily record: odometer in tenths of a mile, fixed brick capacities, 80 % charge.
inline void AppendDayRecord(BYTES* pb, uint32_t ts, uint32_t milesOdo10)
{
    RECW rec = RecNew(rtDAY, 41, ts);
    Put32(&rec, 30, milesOdo10);
    Put16(&rec, 34, 2600);
    Put16(&rec, 36, 2580);
    rec.rgb[38] = 17;
    rec.rgb[39] = 80;
    Append(pb, rec);
}

// An idle record with its state of charge, the battery at 20 to 22 degrees.
inline void AppendIdle(BYTES* pb, uint32_t ts, int pctSOC)
{
    RECW rec = RecNew(rtIDLE, 25, ts);
    rec.rgb[4] = 0x10;
    Put16(&rec, 12, 20 * 256);
    Put16(&rec, 14, 22 * 256);
    rec.rgb[16] = (uint8_t)pctSOC;
    Append(pb, rec);
}

// A ten-minute drive record with state of charge and odometer (tenths of a mile).
inline void AppendD10m(BYTES* pb, uint32_t ts, int pctSOC, uint32_t milesOdo10)
{
    RECW rec = RecNew(rtD10M, 23, ts);
    rec.rgb[15] = (uint8_t)pctSOC;
    Put32(&rec, 18, milesOdo10);
    Append(pb, rec);
}

// Writes b to path; says why on standard error when it cannot.
inline bool FWriteBytes(char const* path, BYTES const& b)
{
    FILE* pf = fopen(path, "wb");
    if (!pf || fwrite(b.data(), 1, b.size(), pf) != b.size()) {
        perror(path);
        if (pf)
            fclose(pf);
        return false;
    }
    if (fclose(pf) != 0) {
        perror(path);
        return false;
    }
    return true;
}

// A synthetic download in a file under /tmp, removed when the program ends.
struct BENCHLOG {
    std::string path;
    long crec = 0;   // records the scanner finds, where the benchmark counts them
    long cb = 0;

    BENCHLOG() = default;
    BENCHLOG(BENCHLOG const&) = delete;
    BENCHLOG& operator=(BENCHLOG const&) = delete;
    ~BENCHLOG()
    {
        if (!path.empty())
            unlink(path.c_str());
    }

    // Writes b to /tmp/qf-<pszName>-XXXXXX; a benchmark without its input cannot go on.
    void Write(char const* pszName, BYTES const& b)
    {
        std::string strTemplate = std::string("/tmp/qf-") + pszName + "-XXXXXX";
        std::vector<char> achPath(strTemplate.begin(), strTemplate.end());
        achPath.push_back('\0');
        int fd = mkstemp(achPath.data());
        if (fd < 0 || write(fd, b.data(), b.size()) != (ssize_t)b.size())
            abort();
        close(fd);
        path = achPath.data();
        cb = (long)b.size();
    }
};

// One chained scanner pass from the start to cb; returns the records found.
inline long CrecScanAll(STREAM* pstream, long cb)
{
    long pos = 0, crec = 0;
    int cbRec;
    while (FScanToRecord(pstream, &pos, cb, &cbRec)) {
        pos += cbRec;
        crec++;
    }
    return crec;
}

// Runs fn with standard output (and, with fStderr, standard error) sent to /dev/null; stdio
// buffers are flushed on both sides so nothing leaks across.
template <typename F>
void Silenced(F fn, bool fStderr = false)
{
    fflush(stdout);
    if (fStderr)
        fflush(stderr);
    int fdOut = dup(1);
    int fdErr = fStderr ? dup(2) : -1;
    int fdNull = open("/dev/null", O_WRONLY);
    dup2(fdNull, 1);
    if (fStderr)
        dup2(fdNull, 2);
    fn();
    fflush(stdout);
    if (fStderr) {
        fflush(stderr);
        dup2(fdErr, 2);
        close(fdErr);
    }
    dup2(fdOut, 1);
    close(fdNull);
    close(fdOut);
}

// Baseline of the whole-program figures: every byte of a mapped file read once (summed, so the
// reads stay). No reader of the file can take less time than this pass.
inline uint64_t UlSumBytes(unsigned char const* pb, long cb)
{
    uint64_t sum = 0;
    for (long ib = 0; ib < cb; ib++)
        sum += pb[ib];
    return sum;
}

// Peak resident memory of a stretch of the run: reset the high-water mark before it, read it after
// (Linux 4.0 on; without /proc the reading is 0).
inline void ResetPeakResident()
{
    int fd = open("/proc/self/clear_refs", O_WRONLY);
    if (fd >= 0) {
        if (write(fd, "5", 1) != 1)
            perror("clear_refs");
        close(fd);
    }
}

inline double MibPeakResident()
{
    FILE* pf = fopen("/proc/self/status", "r");
    if (!pf)
        return 0;
    char ach[256];
    long kb = 0;
    while (fgets(ach, sizeof ach, pf))
        if (strncmp(ach, "VmHWM:", 6) == 0)
            kb = strtol(ach + 6, nullptr, 10);
    fclose(pf);
    return kb / 1024.0;
}

// Baseline: the touch pass over the whole log.
inline void TimeTouchPass(benchmark::State& state, BENCHLOG const& log)
{
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(UlSumBytes(stream.PbMap(), stream.CbSize()));
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}

// Baseline: one chained scanner pass over the whole log, nothing else.
inline void TimeScannerPass(benchmark::State& state, BENCHLOG const& log)
{
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    for (auto _ : state)
        benchmark::DoNotOptimize(CrecScanAll(&stream, log.cb));
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}

// Baseline: the section phase that every report starts with, its output dropped.
inline void TimeSectionScan(benchmark::State& state, BENCHLOG const& log)
{
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    for (auto _ : state)
        Silenced([&] { BuildLogLayout(&prun->scan, prun->timestampLastValid, &stream, nullptr, &prun->layout); });
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}

// What BENCHMARK_MAIN does, for programs whose main first handles options of its own.
inline int RunBenchmarks(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
