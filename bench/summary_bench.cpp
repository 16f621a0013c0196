// Cost of the default report (the session summary) on a 64 MiB synthetic download with a wrapped
// ring full of short drives and charges, beside a bare scanner pass and the section scan alone
// over the same file. With --write-log PATH it writes the log instead, for runs of the binary.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/decoder.h"
#include "analysis/sections.h"
#include "input/stream.h"
#include "records/record.h"
#include "records/scanner.h"
#include "support/output.h"

namespace {

constexpr size_t cbLog = 64u << 20;
constexpr uint32_t tsLogStart = 1420070400u;   // 01/01/2015 00:00:00 UTC: no date correction
constexpr int cDrivePerDay = 8;
constexpr uint32_t secDrive = 480;
constexpr int cChargePerDay = 3;
constexpr uint32_t cminCharge = 45;

typedef std::vector<uint8_t> BYTES;

struct RECW {
    uint8_t rgb[64];
    int cb;
};

RECW RecNew(int rt, int cb, uint32_t ts)
{
    RECW rec;
    memset(rec.rgb, 0, sizeof rec.rgb);
    rec.cb = cb;
    rec.rgb[3] = (uint8_t)rt;
    memcpy(rec.rgb + 6, &ts, 4);
    return rec;
}

void Put16(RECW* prec, int ib, unsigned v)
{
    prec->rgb[ib] = (uint8_t)(v & 0xFF);
    prec->rgb[ib + 1] = (uint8_t)((v >> 8) & 0xFF);
}

void Append(BYTES* pb, RECW rec)
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

void AppendVinf(BYTES* pb, uint32_t ts, int fLongTerm)
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

void AppendIdle(BYTES* pb, uint32_t ts, int pctSOC)
{
    RECW rec = RecNew(rtIDLE, 25, ts);
    rec.rgb[4] = 0x10;
    Put16(&rec, 12, 20 * 256);
    Put16(&rec, 14, 22 * 256);
    rec.rgb[16] = (uint8_t)pctSOC;
    Append(pb, rec);
}

// A day: eight eight-minute drives, every other one followed by an odometer reading (the others
// need the forward scan), and three 45-minute charges closed by an idle record.
void AppendDay(BYTES* pb, uint32_t tsDay, unsigned* pmilesOdo10)
{
    for (int d = 0; d < cDrivePerDay; d++) {
        uint32_t ts = tsDay + (uint32_t)d * 3600;
        for (uint32_t s = 0; s < secDrive; s++) {
            RECW rec = RecNew(rtDR1S, 26, ts + s);
            Put16(&rec, 10, 760);
            Put16(&rec, 12, (unsigned)(-60 * 32) & 0xFFFF);
            Put16(&rec, 14, 200 + s % 400);
            Put16(&rec, 16, 6554);
            Put16(&rec, 20, 16384);
            rec.rgb[22] = (uint8_t)(s & 0xFF);
            rec.rgb[24] = (s % 97 == 0) ? 0x41 : 1;
            Append(pb, rec);
        }
        *pmilesOdo10 += 45;
        if (d % 2 == 0) {
            RECW rec10 = RecNew(rtD10M, 23, ts + secDrive + 30);
            rec10.rgb[15] = (uint8_t)(80 - d);
            memcpy(rec10.rgb + 18, pmilesOdo10, 4);
            Append(pb, rec10);
        }
        AppendIdle(pb, ts + secDrive + 200, 79 - d);
    }
    for (int c = 0; c < cChargePerDay; c++) {
        uint32_t ts = tsDay + (uint32_t)(cDrivePerDay + 2 * c) * 3600;
        RECW recStart = RecNew(rtC30M, 23, ts);
        recStart.rgb[16] = 40;
        recStart.rgb[17] = 60;
        Append(pb, recStart);
        for (uint32_t m = 1; m <= cminCharge; m++) {
            RECW rec = RecNew(rtC1MB, 39, ts + 60 * m);
            Put16(&rec, 10, 778);
            Put16(&rec, 12, 32 * 32);
            Put16(&rec, 14, 13041);
            Put16(&rec, 16, 31457);
            rec.rgb[21] = 110;
            Put16(&rec, 34, 25 * 256);
            Put16(&rec, 36, 27 * 256);
            Append(pb, rec);
            if (m % 30 == 0 || m == cminCharge) {
                RECW rec30 = RecNew(rtC30M, 23, ts + 60 * m);
                rec30.rgb[16] = 40;
                rec30.rgb[17] = (uint8_t)(60 + m / 3);
                Append(pb, rec30);
            }
        }
        AppendIdle(pb, ts + 60 * cminCharge + 600, 75);
    }
}

// Long-term part (VINF and one DAY record per day), then the ring: the newest days after the
// transient VINF, a few bytes of an overwritten record, then the oldest days up to the end.
BYTES BuildLog()
{
    BYTES bLongTerm, bNew, bOld;
    unsigned milesOdo10 = 200000;
    uint32_t tsDay = tsLogStart;
    size_t const cbRing = cbLog - 64 * 1024;
    while (bOld.size() < cbRing * 6 / 10)
        AppendDay(&bOld, (tsDay += 86400), &milesOdo10);
    AppendVinf(&bNew, tsDay + 86400, 0);
    while (bOld.size() + bNew.size() < cbRing)
        AppendDay(&bNew, (tsDay += 86400), &milesOdo10);

    AppendVinf(&bLongTerm, tsLogStart, 1);
    for (uint32_t ts = tsLogStart; ts <= tsDay; ts += 86400) {
        RECW rec = RecNew(rtDAY, 41, ts);
        memcpy(rec.rgb + 30, &milesOdo10, 4);
        Put16(&rec, 34, 2600);
        Put16(&rec, 36, 2580);
        rec.rgb[38] = 17;
        rec.rgb[39] = 80;
        Append(&bLongTerm, rec);
    }

    BYTES b = bLongTerm;
    b.insert(b.end(), bNew.begin(), bNew.end());
    b.insert(b.end(), 7, 0x55);
    b.insert(b.end(), bOld.begin(), bOld.end());
    return b;
}

struct BENCHLOG {
    std::string path;
    long cb = 0;
};

BENCHLOG const& Log()
{
    static BENCHLOG s_log;
    if (s_log.path.empty()) {
        BYTES b = BuildLog();
        s_log.cb = (long)b.size();
        char achPath[] = "/tmp/qf-summary-bench-XXXXXX";
        int fd = mkstemp(achPath);
        if (fd < 0 || write(fd, b.data(), b.size()) != (ssize_t)b.size())
            abort();
        close(fd);
        s_log.path = achPath;
        std::atexit([] { unlink(s_log.path.c_str()); });
    }
    return s_log;
}

// Runs fn with standard output sent to /dev/null through the program's own output buffer.
template <typename F>
void Silenced(F fn)
{
    fflush(stdout);
    int fdOut = dup(1);
    int fdNull = open("/dev/null", O_WRONLY);
    dup2(fdNull, 1);
    fn();
    fflush(stdout);
    dup2(fdOut, 1);
    close(fdNull);
    close(fdOut);
}

// Baseline: one chained scanner pass over the whole file, nothing else.
void BM_ScannerPass(benchmark::State& state)
{
    BENCHLOG const& log = Log();
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    for (auto _ : state) {
        long pos = 0, crec = 0;
        int cb;
        while (FScanToRecord(&stream, &pos, log.cb, &cb)) {
            pos += cb;
            crec++;
        }
        benchmark::DoNotOptimize(crec);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}
BENCHMARK(BM_ScannerPass)->Unit(benchmark::kMillisecond);

// Baseline: the section phase that precedes the summary.
void BM_SectionScan(benchmark::State& state)
{
    BENCHLOG const& log = Log();
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    static LOGLAYOUT s_layout;
    for (auto _ : state)
        Silenced([&] { BuildLogLayout(&stream, &s_layout, 0, 0); });
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}
BENCHMARK(BM_SectionScan)->Unit(benchmark::kMillisecond);

// quenfell log > /dev/null: the section phase, the ring walk with its forward scans, the capacity.
void BM_DefaultReport(benchmark::State& state)
{
    BENCHLOG const& log = Log();
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    s_timestampLastValid = tsLogStart + 3u * 365 * 86400;
    for (auto _ : state)
        Silenced([&] { DecodeVmsFile("vms_log", &stream, 0, 1, 0, 0, 0, 0, 0, 0); });
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}
BENCHMARK(BM_DefaultReport)->Unit(benchmark::kMillisecond);

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--write-log") == 0) {
        BYTES b = BuildLog();
        FILE* pf = fopen(argv[2], "wb");
        if (!pf || fwrite(b.data(), 1, b.size(), pf) != b.size()) {
            perror(argv[2]);
            return 1;
        }
        fclose(pf);
        return 0;
    }
    InitOutput();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
