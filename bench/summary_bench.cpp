// Cost of the default report (the session summary) on a 64 MiB synthetic download with a wrapped
// ring full of short drives and charges, beside a pass that reads every byte of the mapped file
// once, a bare scanner pass and the section scan alone over the same file. With --write-log PATH
// it writes the log instead, for whole runs of the program (bench/decoder_bench.sh).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>

#include "analysis/decoder.h"
#include "report/report.h"
#include "benchlog.h"
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
        if (d % 2 == 0)
            AppendD10m(pb, ts + secDrive + 30, 80 - d, *pmilesOdo10);
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
    for (uint32_t ts = tsLogStart; ts <= tsDay; ts += 86400)
        AppendDayRecord(&bLongTerm, ts, milesOdo10);

    BYTES b = bLongTerm;
    b.insert(b.end(), bNew.begin(), bNew.end());
    b.insert(b.end(), 7, 0x55);
    b.insert(b.end(), bOld.begin(), bOld.end());
    return b;
}

BENCHLOG const& Log()
{
    static BENCHLOG s_log;
    if (s_log.path.empty())
        s_log.Write("summary-bench", BuildLog());
    return s_log;
}

void BM_TouchPass(benchmark::State& state) { TimeTouchPass(state, Log()); }
BENCHMARK(BM_TouchPass)->Unit(benchmark::kMillisecond);

void BM_ScannerPass(benchmark::State& state) { TimeScannerPass(state, Log()); }
BENCHMARK(BM_ScannerPass)->Unit(benchmark::kMillisecond);

void BM_SectionScan(benchmark::State& state) { TimeSectionScan(state, Log()); }
BENCHMARK(BM_SectionScan)->Unit(benchmark::kMillisecond);

// quenfell log > /dev/null: the section phase, the ring walk with its forward scans, the capacity.
void BM_DefaultReport(benchmark::State& state)
{
    BENCHLOG const& log = Log();
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    prun->timestampLastValid = tsLogStart + 3u * 365 * 86400;
    REPORTER reporter{};
    CONSUMER const cons = ConsumerOfReport(&reporter);
    DECODE decode;
    decode.mode = modeSummary;
    decode.pszPath = "vms_log";
    decode.pcons = &cons;
    for (auto _ : state)
        Silenced([&] { DecodeVmsFile(prun.get(), &stream, decode); });
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
}
BENCHMARK(BM_DefaultReport)->Unit(benchmark::kMillisecond);

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--write-log") == 0) {
        return FWriteBytes(argv[2], BuildLog()) ? 0 : 1;
    }
    InitOutput();
    return RunBenchmarks(argc, argv);
}
