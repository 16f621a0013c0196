// Battery study cost: time and peak resident memory of collecting ten million transient samples
// and printing the report, beside the memory the process held before. With --write-logs it
// instead writes synthetic downloads for measuring a whole `-b` run (bench/battery_memory.sh).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "battery/collect.h"
#include "battery/histogram.h"

namespace {

constexpr int cSampleBench = 10000000;
constexpr uint32_t tsBenchStart = 1420070400u;   // 01/01/2015 00:00:00 UTC
constexpr double cbMiB = 1024.0 * 1024.0;

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

// Runs fn with standard output and error sent to /dev/null.
template <typename F>
void Silenced(F fn)
{
    std::fflush(stdout);
    std::fflush(stderr);
    int fdOut = dup(1);
    int fdErr = dup(2);
    int fdNull = open("/dev/null", O_WRONLY);
    dup2(fdNull, 1);
    dup2(fdNull, 2);
    fn();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(fdOut, 1);
    dup2(fdErr, 2);
    close(fdNull);
    close(fdOut);
    close(fdErr);
}

void BM_CollectAndReportTenMillion(benchmark::State& state)
{
    for (auto _ : state) {
        state.PauseTiming();
        ResetCollection();
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
        BeginAggregrateSection(sectTransient, 0, tsBenchStart + 20 * 365 * 86400u);
        state.ResumeTiming();

        auto tStart = std::chrono::steady_clock::now();
        for (int i = 0; i < cSampleBench; i++) {
            VLR* pvlr = (i & 1) ? &vlrCharge : &vlrIdle;
            pvlr->timestamp = tsBenchStart + 10u * static_cast<uint32_t>(i);
            AggregateVlr(pvlr);
        }
        auto tCollected = std::chrono::steady_clock::now();
        Silenced([] { ProcessAllData(); });
        auto tReported = std::chrono::steady_clock::now();

        state.PauseTiming();
        double mibPeak = MibFromStatusLine("VmHWM:");
        double mibSamples = static_cast<double>(g_cDP2) * sizeof(DataPoint) / cbMiB;
        state.counters["samples"] = g_cDP2;
        state.counters["samples_MiB"] = mibSamples;
        state.counters["hwm_before_MiB"] = mibBaseline;
        state.counters["hwm_MiB"] = mibPeak;
        state.counters["hwm_over_samples_MiB"] = mibPeak - mibSamples;
        state.counters["collect_s"] = std::chrono::duration<double>(tCollected - tStart).count();
        state.counters["report_s"] = std::chrono::duration<double>(tReported - tCollected).count();
        ResetCollection();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_CollectAndReportTenMillion)->Iterations(1)->Unit(benchmark::kMillisecond);

// --- Synthetic downloads -------------------------------------------------------------------

typedef std::vector<uint8_t> BYTES;

struct RECW {
    uint8_t rgb[64];
    int cb;
};

RECW RecNew(int rt, int cb, uint32_t timestamp)
{
    RECW rec;
    std::memset(rec.rgb, 0, sizeof(rec.rgb));
    rec.cb = cb;
    rec.rgb[3] = static_cast<uint8_t>(rt);
    std::memcpy(rec.rgb + 6, &timestamp, 4);   // raw dates after 2008 need no correction
    return rec;
}

void Put16(RECW* prec, int ib, unsigned v)
{
    prec->rgb[ib] = static_cast<uint8_t>(v & 0xFF);
    prec->rgb[ib + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}

void Put32(RECW* prec, int ib, uint32_t v)
{
    Put16(prec, ib, v & 0xFFFF);
    Put16(prec, ib + 2, v >> 16);
}

void Append(BYTES* pb, RECW rec)
{
    rec.rgb[0] = 0x03;
    rec.rgb[1] = 0x02;
    rec.rgb[2] = static_cast<uint8_t>(rec.cb - 2);
    unsigned sum = 0;
    for (int i = 2; i + 1 < rec.cb; i++)
        sum += rec.rgb[i];
    rec.rgb[rec.cb - 1] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
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
    std::memcpy(rec.rgb + 22, "SFZRE8B19A3000123", 17);
    Append(pb, rec);
}

void AppendDay(BYTES* pb, uint32_t ts, uint32_t milesOdo)
{
    RECW rec = RecNew(rtDAY, 41, ts);
    Put32(&rec, 30, milesOdo * 10);
    Put16(&rec, 34, 2600);
    Put16(&rec, 36, 2580);
    rec.rgb[38] = 17;
    rec.rgb[39] = 80;
    Append(pb, rec);
}

void AppendIdle(BYTES* pb, uint32_t ts)
{
    RECW rec = RecNew(rtIDLE, 25, ts);
    rec.rgb[4] = 0x10;
    Put16(&rec, 12, 20 * 256);
    Put16(&rec, 14, 22 * 256);
    rec.rgb[16] = 75;
    Append(pb, rec);
}

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

void AppendDrive10m(BYTES* pb, uint32_t ts, uint32_t milesOdo)
{
    RECW rec = RecNew(rtD10M, 23, ts);
    rec.rgb[15] = 60;
    Put32(&rec, 18, milesOdo * 10);
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
            (i & 1) ? AppendCharge(pb, ts) : AppendIdle(pb, ts);
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
                    AppendDrive10m(pb, tsDay + s, 20000);
                    cKept++;
                }
            }
            for (uint32_t m = 0; m < 240; m++, cKept++)
                AppendCharge(pb, tsDay + 3600 + 60 * m);
            for (uint32_t h = 5; h < 24; h++, cKept++)
                AppendIdle(pb, tsDay + 3600 * h);
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
            AppendDay(&b, tsDay, milesOdo);
        AppendVinf(&b, ts, 0);
        cKept += CAppendTransient(&b, kind, &ts, cbFile);
        char achPath[4096];
        std::snprintf(achPath, sizeof(achPath), "%s/vms_log_%03d", pszDir, iFile);
        FILE* pf = std::fopen(achPath, "wb");
        if (!pf || std::fwrite(b.data(), 1, b.size(), pf) != b.size()) {
            std::perror(achPath);
            return 1;
        }
        std::fclose(pf);
    }
    std::printf("%ld\n", cKept);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 6 && std::strcmp(argv[1], "--write-logs") == 0)
        return WriteLogs(argv[2], argv[3], std::atoi(argv[4]), std::strtoul(argv[5], nullptr, 10));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
