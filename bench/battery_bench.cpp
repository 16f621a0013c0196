// Battery study cost: time and peak resident memory of collecting ten million transient samples
// and printing the report, beside the memory the process held before. With --write-logs it
// instead writes synthetic downloads for measuring a whole `-b` run (bench/battery_memory.sh).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "battery/collect.h"
#include "report/battery.h"
#include "benchlog.h"

namespace {

constexpr int cSampleBench = 10000000;
constexpr uint32_t tsBenchStart = 1420070400u;   // 01/01/2015 00:00:00 UTC
constexpr double cbMiB = 1024.0 * 1024.0;
constexpr int pctSOCIdle = 75;
constexpr uint32_t milesOdo10Drive = 200000;   // the ten-minute drive records' odometer, 20000 miles

double MibFromStatusLine(const char* pszKey)
{
    FILE* pf = std::fopen("/proc/self/status", "r");
    if (!pf)
        return 0;
    char ach[256];
    long kb = 0;
    size_t cchKey = std::strlen(pszKey);
    while (std::fgets(ach, sizeof(ach), pf))
        if (std::strncmp(ach, pszKey, cchKey) == 0)
            kb = std::strtol(ach + cchKey, nullptr, 10);
    std::fclose(pf);
    return kb / 1024.0;
}

void BM_CollectAndReportTenMillion(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<STUDY> pstudy = std::make_unique<STUDY>();
        InitStudy(pstudy.get());
        double mibBaseline = MibFromStatusLine("VmHWM:");
        VLR vlrIdle;
        std::memset(&vlrIdle, 0, sizeof(vlrIdle));
        vlrIdle.sect = sectTransient;
        vlrIdle.rt = rtIDLE;
        vlrIdle.grf = fvlrTempESS | fvlrSOC;
        vlrIdle.degESSMin = 21.5;
        vlrIdle.degESSMax = 24.25;
        vlrIdle.pctSOC = 80;
        VLR vlrCharge = vlrIdle;
        vlrCharge.rt = rtC1MB;
        vlrCharge.grf = fvlrTempESS | fvlrChargeAmps | fvlrLineVolts;
        vlrCharge.ampsCharge = 39.8;
        vlrCharge.voltsLine = 240.0;
        BeginAggregrateSection(pstudy.get(), sectTransient, 0, tsBenchStart + 20 * 365 * 86400u);
        state.ResumeTiming();

        auto tStart = std::chrono::steady_clock::now();
        for (int i = 0; i < cSampleBench; i++) {
            VLR* pvlr = (i & 1) ? &vlrCharge : &vlrIdle;
            pvlr->timestamp = tsBenchStart + 10u * static_cast<uint32_t>(i);
            AggregateVlr(pstudy.get(), pvlr);
        }
        auto tCollected = std::chrono::steady_clock::now();
        Silenced([&] { ProcessAllData(pstudy.get()); }, true);
        auto tReported = std::chrono::steady_clock::now();

        state.PauseTiming();
        double mibPeak = MibFromStatusLine("VmHWM:");
        double mibSamples = static_cast<double>(pstudy->dp2.c) * sizeof(DataPoint) / cbMiB;
        state.counters["samples"] = pstudy->dp2.c;
        state.counters["samples_MiB"] = mibSamples;
        state.counters["hwm_before_MiB"] = mibBaseline;
        state.counters["hwm_MiB"] = mibPeak;
        state.counters["hwm_over_samples_MiB"] = mibPeak - mibSamples;
        state.counters["collect_s"] = std::chrono::duration<double>(tCollected - tStart).count();
        state.counters["report_s"] = std::chrono::duration<double>(tReported - tCollected).count();
        pstudy.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CollectAndReportTenMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// --- Synthetic downloads -------------------------------------------------------------------

void AppendCharge(BYTES* pb, uint32_t ts)
{
    RECW rec = RecNew(rtC1MB, 39, ts);
    Put16(&rec, 14, 13041);   // 39.8 A
    Put16(&rec, 16, 31457);   // 240 V
    Put16(&rec, 34, 25 * 256);
    Put16(&rec, 36, 27 * 256);
    Append(pb, rec);
}

void AppendDrive1s(BYTES* pb, uint32_t ts)
{
    RECW rec = RecNew(rtDR1S, 26, ts);
    Put16(&rec, 10, 760);
    Put16(&rec, 14, 450);
    Append(pb, rec);
}

void AppendDrive1m(BYTES* pb, uint32_t ts)
{
    RECW rec = RecNew(rtDR1M, 36, ts);
    Put16(&rec, 26, 24 * 256);
    Put16(&rec, 28, 26 * 256);
    Append(pb, rec);
}

// Transient records from *pts on until the log holds cbTarget bytes. "kept": only records the
// study keeps (idle and charge status in turn, ten seconds apart); "mixed": a day of an hour's
// drive, four hours' charge and hourly idle records, as a car writes them.
int CAppendTransient(BYTES* pb, const std::string& kind, uint32_t* pts, size_t cbTarget)
{
    int cKept = 0;
    uint32_t ts = *pts;
    if (kind == "kept") {
        for (int i = 0; pb->size() < cbTarget; i++, ts += 10, cKept++)
            (i & 1) ? AppendCharge(pb, ts) : AppendIdle(pb, ts, pctSOCIdle);
    } else {
        while (pb->size() < cbTarget) {
            uint32_t tsDay = ts;
            for (uint32_t s = 0; s < 3600; s++) {
                AppendDrive1s(pb, tsDay + s);
                if (s % 60 == 59) {
                    AppendDrive1m(pb, tsDay + s);
                    cKept++;
                }
                if (s % 600 == 599) {
                    AppendD10m(pb, tsDay + s, 60, milesOdo10Drive);
                    cKept++;
                }
            }
            for (uint32_t m = 0; m < 240; m++, cKept++)
                AppendCharge(pb, tsDay + 3600 + 60 * m);
            for (uint32_t h = 5; h < 24; h++, cKept++)
                AppendIdle(pb, tsDay + 3600 * h, pctSOCIdle);
            ts = tsDay + 86400;
        }
    }
    *pts = ts + 60;
    return cKept;
}

// Writes cFile logs of about cbFile bytes each into dir, the transient parts one after another
// in time; prints the number of transient samples the study will keep.
int WriteLogs(const char* pszDir, const std::string& kind, int cFile, size_t cbFile)
{
    mkdir(pszDir, 0755);
    uint32_t ts = tsBenchStart + 86400;
    long cKept = 0;
    for (int iFile = 0; iFile < cFile; iFile++) {
        BYTES b;
        b.reserve(cbFile + 4096);
        AppendVinf(&b, tsBenchStart, 1);
        // Daily records up to the transient part's start, so the ring's first section counts.
        uint32_t milesOdo = 20000;
        for (uint32_t tsDay = tsBenchStart; tsDay <= ts; tsDay += 86400, milesOdo += 30)
            AppendDayRecord(&b, tsDay, milesOdo * 10);
        AppendVinf(&b, ts, 0);
        cKept += CAppendTransient(&b, kind, &ts, cbFile);
        char achPath[4096];
        std::snprintf(achPath, sizeof(achPath), "%s/vms_log_%03d", pszDir, iFile);
        if (!FWriteBytes(achPath, b))
            return 1;
    }
    std::printf("%ld\n", cKept);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--write-logs") == 0)
        return WriteLogs(argv[2], argv[3], std::atoi(argv[4]), std::strtoul(argv[5], nullptr, 10));
    return RunBenchmarks(argc, argv);
}
