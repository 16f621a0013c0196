// Cost of the log decoder on a 64 MiB synthetic download with a wrapped transient ring: the
// section scan alone, a type filter that matches nothing (-r 2: section scan plus one walk that
// reads only headers) and a full tab-delimited listing (-a -t), each beside a pass that reads every
// byte of the mapped file once and a bare scanner pass over the same file. With --write-log PATH
// it writes the log instead (bench/decoder_bench.sh).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "analysis/decoder.h"
#include "report/report.h"
#include "benchlog.h"
#include "input/stream.h"
#include "records/listing.h"
#include "records/record.h"
#include "records/scanner.h"
#include "support/output.h"

namespace {

constexpr size_t cbLog = 64u << 20;
constexpr uint32_t tsLogStart = 1420070400u;   // 01/01/2015 00:00:00 UTC: no date correction
constexpr unsigned grfRtNone = 1u << 2;        // -r 2: no such records in the log
constexpr unsigned grfRtAll = 0xFFFFFFFFu;     // -a

// A day of the car's life: an hour's drive (DR1S every second, DR1M every minute, D10M every ten
// minutes), four hours' charge (C1MB every minute, C30M every half hour), hourly idle records.
void AppendDay(BYTES* pb, uint32_t tsDay, unsigned* pmilesOdo)
{
    for (uint32_t s = 0; s < 3600; s++) {
        RECW rec = RecNew(rtDR1S, 26, tsDay + s);
        Put16(&rec, 10, 760);
        Put16(&rec, 12, (unsigned)(-20 * 32) & 0xFFFF);
        Put16(&rec, 14, 300 + s % 300);
        Put16(&rec, 16, 6554);
        Put16(&rec, 20, 16384);
        rec.rgb[22] = (uint8_t)(s & 0xFF);
        rec.rgb[24] = 1;
        Append(pb, rec);
        if (s % 60 == 59) {
            RECW recM = RecNew(rtDR1M, 36, tsDay + s);
            recM.rgb[17] = 90;
            recM.rgb[18] = 60;
            recM.rgb[20] = 110;
            Put16(&recM, 26, 24 * 256);
            Put16(&recM, 28, 26 * 256);
            Append(pb, recM);
        }
        if (s % 600 == 599) {
            *pmilesOdo += 6;
            AppendD10m(pb, tsDay + s, 60, *pmilesOdo * 10);
        }
    }
    for (uint32_t m = 0; m < 240; m++) {
        RECW rec = RecNew(rtC1MB, 39, tsDay + 3600 + 60 * m);
        Put16(&rec, 10, 778);
        Put16(&rec, 12, 32 * 32);
        Put16(&rec, 14, 13041);
        Put16(&rec, 16, 31457);
        rec.rgb[21] = 110;
        Put16(&rec, 26, 32000);
        Put16(&rec, 28, 32200);
        rec.rgb[30] = 12;
        rec.rgb[31] = 87;
        Put16(&rec, 34, 25 * 256);
        Put16(&rec, 36, 27 * 256);
        Append(pb, rec);
        if (m % 30 == 29) {
            RECW rec30 = RecNew(rtC30M, 23, tsDay + 3600 + 60 * m);
            rec30.rgb[16] = 40;
            rec30.rgb[17] = (uint8_t)(50 + m / 6);
            Append(pb, rec30);
        }
    }
    for (uint32_t h = 5; h < 24; h++)
        AppendIdle(pb, tsDay + 3600 * h, 90);
}

// Long-term part (a VINF record and a DAY record for every day of the log, so the newest
// transient section is not "too late"), then the ring: the newest days right after the transient
// VINF record, a few bytes of an overwritten record, then the oldest days up to the end of the file.
BYTES BuildLog(long* pcrec)
{
    const size_t cbLongTermRoom = 64 * 1024;
    BYTES bLongTerm, bNew, bOld;
    unsigned milesOdo = 20000;
    uint32_t tsDay = tsLogStart;
    size_t cbRing = cbLog - cbLongTermRoom;
    while (bOld.size() < cbRing * 6 / 10)
        AppendDay(&bOld, (tsDay += 86400), &milesOdo);
    AppendVinf(&bNew, tsDay + 86400, 0);
    while (bOld.size() + bNew.size() < cbRing)
        AppendDay(&bNew, (tsDay += 86400), &milesOdo);

    AppendVinf(&bLongTerm, tsLogStart, 1);
    for (uint32_t ts = tsLogStart; ts <= tsDay; ts += 86400)
        AppendDayRecord(&bLongTerm, ts, 200000u + (ts - tsLogStart) / 288u);

    BYTES b = bLongTerm;
    b.insert(b.end(), bNew.begin(), bNew.end());
    b.insert(b.end(), 7, 0x55);
    b.insert(b.end(), bOld.begin(), bOld.end());
    // Count the records the way the scanner finds them.
    *pcrec = 0;
    for (size_t ib = 0; ib + 2 < b.size();) {
        if (b[ib] == 0x03 && b[ib + 1] == 0x02) {
            (*pcrec)++;
            ib += b[ib + 2] + 2u;
        } else {
            ib++;
        }
    }
    return b;
}

BENCHLOG const& Log()
{
    static BENCHLOG s_log;
    if (s_log.path.empty()) {
        long crec;
        s_log.Write("decoder-bench", BuildLog(&crec));
        s_log.crec = crec;
    }
    return s_log;
}

void Decode(RUN* prun, STREAM* pstream, unsigned grfRt, int grfDisplay)
{
    prun->timestampLastValid = (unsigned)time(nullptr);
    REPORTER reporter{(grfDisplay & fdispTab) != 0, (grfDisplay & fdispMetric) != 0, nullptr, 0, 0, nullptr};
    CONSUMER const cons = ConsumerOfReport(&reporter);
    DECODE decode;
    decode.mode = modeListing;
    decode.grfRt = grfRt;
    decode.pszPath = "vms_log";
    decode.pcons = &cons;
    DecodeVmsFile(prun, pstream, decode);
}

void SetCounters(benchmark::State& state, BENCHLOG const& log)
{
    state.SetBytesProcessed((int64_t)state.iterations() * log.cb);
    state.counters["records/s"] =
        benchmark::Counter((double)log.crec * (double)state.iterations(), benchmark::Counter::kIsRate);
}

void BM_TouchPass(benchmark::State& state)
{
    TimeTouchPass(state, Log());
    SetCounters(state, Log());
}
BENCHMARK(BM_TouchPass)->Unit(benchmark::kMillisecond);

void BM_ScannerPass(benchmark::State& state)
{
    TimeScannerPass(state, Log());
    SetCounters(state, Log());
}
BENCHMARK(BM_ScannerPass)->Unit(benchmark::kMillisecond);

void BM_SectionScan(benchmark::State& state)
{
    TimeSectionScan(state, Log());
    SetCounters(state, Log());
}
BENCHMARK(BM_SectionScan)->Unit(benchmark::kMillisecond);

// DecodeVmsFile as the program runs it, standard output into /dev/null.
void TimeDecode(benchmark::State& state, unsigned grfRt, int grfDisplay)
{
    BENCHLOG const& log = Log();
    STREAM stream;
    stream.FOpenFile(log.path.c_str());
    // One run for every pass, as the program keeps one for its whole command line.
    std::unique_ptr<RUN> prun = std::make_unique<RUN>();
    InitRun(prun.get());
    for (auto _ : state)
        Silenced([&] { Decode(prun.get(), &stream, grfRt, grfDisplay); });
    SetCounters(state, log);
}

// quenfell -r 2 log: section scan plus one walk that reads only headers.
void BM_TypeFilterMatchingNothing(benchmark::State& state) { TimeDecode(state, grfRtNone, 0); }
BENCHMARK(BM_TypeFilterMatchingNothing)->Unit(benchmark::kMillisecond);

// quenfell -a -t log > /dev/null: every record decoded and listed.
void BM_ListAllTab(benchmark::State& state) { TimeDecode(state, grfRtAll, fdispTab); }
BENCHMARK(BM_ListAllTab)->Unit(benchmark::kMillisecond);

// quenfell -a log > /dev/null, the column layout.
void BM_ListAllText(benchmark::State& state) { TimeDecode(state, grfRtAll, 0); }
BENCHMARK(BM_ListAllText)->Unit(benchmark::kMillisecond);

}   // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--write-log") == 0) {
        long crec;
        if (!FWriteBytes(argv[2], BuildLog(&crec)))
            return 1;
        printf("%ld\n", crec);
        return 0;
    }
    InitOutput();
    return RunBenchmarks(argc, argv);
}
