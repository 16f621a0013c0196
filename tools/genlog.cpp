// genlog: writes synthetic VMS logs, or tar downloads holding one, for tests, the sample download and
// benchmarks. Everything follows from the seed: a car drives, charges and parks along a daily plan, its
// long-term records fill a fixed area and its transient records wrap around a fixed-size ring.

#include "records/record.h"
#include "support/civil.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> BYTES;

constexpr uint32_t secMinute = 60;
constexpr uint32_t secHour = 3600;
constexpr uint32_t secDay = 86400;
// The car lives on the west coast of North America in summer time; plans are made in its local time.
constexpr int secLocalOffset = -7 * 3600;
constexpr uint32_t timestampNever = 0xFFFFFFFFu;
constexpr uint32_t timestampEarliest = 978307200u + 2 * 86400;   // dates before 2001 count as none
constexpr double pi = 3.14159265358979323846;

// ---------------------------------------------------------------------------------------------
// Options

struct OPTS {
    uint64_t seed = 1;
    int cDays = 14;
    const char* pszOut = nullptr;
    bool fTar = false;
    uint64_t cbSize = 0;   // 0: generate cDays days instead
    int rver = 4;
    bool fRawDates = false;
    bool fEndGiven = false;
    uint32_t timestampEnd = 0;
    uint64_t cbRing = 512 * 1024;
    bool fRingGiven = false;
    uint64_t cbLongTerm = 32 * 1024;
    bool fAdversarial = false;
    uint32_t timestampStop = 0;   // 0: none
};

void GiveUsage(const char* pszWhy)
{
    if (pszWhy)
        fprintf(stderr, "genlog: %s\n", pszWhy);
    fprintf(stderr,
            "usage: genlog --out FILE [--seed N] [--days D] [--end \"YYYY-MM-DD HH:MM\"] [--tar]\n"
            "              [--size BYTES] [--vehicle 3|4] [--raw-dates] [--ring BYTES]\n"
            "              [--longterm BYTES] [--adversarial]\n"
            "  --seed N         everything follows from N (default 1)\n"
            "  --days D         days of driving, charging and daily status (default 14)\n"
            "  --end WHEN       UTC time of the last record (default 2009-06-05 08:00,\n"
            "                   2020-06-05 08:00 with --raw-dates)\n"
            "  --size BYTES     generate until the log is about BYTES long (K and M suffixes)\n"
            "  --ring BYTES     size of the transient ring (default 512K)\n"
            "  --longterm BYTES size of the long-term area (default 32K; grows if the records need it)\n"
            "  --vehicle 3|4    vehicle type: 3 writes C1MA charge records, 4 writes C1MB (default 4)\n"
            "  --raw-dates      write dates from 2019-04-06 on 1024 weeks early, as rolled-back clocks do\n"
            "  --adversarial    write bytes that stress a record scanner instead of a log\n"
            "  --stop WHEN      the download's time: the car's history is planned up to --end as usual,\n"
            "                   but nothing after WHEN is written (downloads of one car that overlap)\n"
            "  --tar            write a ustar download holding vms_log and two small text members\n");
    exit(2);
}

bool FParseBytes(const char* psz, uint64_t* pcb)
{
    char* pchEnd = nullptr;
    unsigned long long n = strtoull(psz, &pchEnd, 10);
    if (pchEnd == psz)
        return false;
    if (*pchEnd == 'k' || *pchEnd == 'K')
        n *= 1024, pchEnd++;
    else if (*pchEnd == 'm' || *pchEnd == 'M')
        n *= 1024 * 1024, pchEnd++;
    if (*pchEnd != 0)
        return false;
    *pcb = n;
    return true;
}

bool FParseWhen(const char* psz, uint32_t* ptimestamp)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0;
    int c = sscanf(psz, "%d-%d-%d %d:%d", &y, &mo, &d, &h, &mi);
    if (c != 3 && c != 5)
        return false;
    if (y < 2001 || y > 2105 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59)
        return false;
    int64_t t = DaysFromCivil(y, mo, d) * secDay + h * secHour + mi * secMinute;
    *ptimestamp = (uint32_t)t;
    return true;
}

OPTS ParseOptions(int argc, char** argv)
{
    OPTS opts;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool fHasValue = i + 1 < argc;
        const char* pszValue = fHasValue ? argv[i + 1] : "";
        if (arg == "--tar") {
            opts.fTar = true;
        } else if (arg == "--raw-dates") {
            opts.fRawDates = true;
        } else if (arg == "--adversarial") {
            opts.fAdversarial = true;
        } else if (arg == "-h" || arg == "--help") {
            GiveUsage(nullptr);
        } else if (!fHasValue) {
            GiveUsage(("unknown option or missing value: " + arg).c_str());
        } else {
            i++;
            char* pchEnd = nullptr;
            if (arg == "--seed") {
                opts.seed = strtoull(pszValue, &pchEnd, 0);
                if (*pchEnd != 0)
                    GiveUsage("--seed takes a number");
            } else if (arg == "--days") {
                opts.cDays = (int)strtol(pszValue, &pchEnd, 10);
                if (*pchEnd != 0 || opts.cDays < 1 || opts.cDays > 20000)
                    GiveUsage("--days takes a number from 1 to 20000");
            } else if (arg == "--out") {
                opts.pszOut = pszValue;
            } else if (arg == "--size") {
                if (!FParseBytes(pszValue, &opts.cbSize) || opts.cbSize < 64 * 1024 || opts.cbSize > (3ull << 30))
                    GiveUsage("--size takes a byte count from 64K to 3072M");
            } else if (arg == "--ring") {
                if (!FParseBytes(pszValue, &opts.cbRing) || opts.cbRing < 4096 || opts.cbRing > (3ull << 30))
                    GiveUsage("--ring takes a byte count from 4K to 3072M");
                opts.fRingGiven = true;
            } else if (arg == "--longterm") {
                if (!FParseBytes(pszValue, &opts.cbLongTerm) || opts.cbLongTerm < 1024 || opts.cbLongTerm > (1u << 30))
                    GiveUsage("--longterm takes a byte count from 1K to 1024M");
            } else if (arg == "--vehicle") {
                opts.rver = (int)strtol(pszValue, &pchEnd, 10);
                if (*pchEnd != 0 || (opts.rver != 3 && opts.rver != 4))
                    GiveUsage("--vehicle takes 3 or 4");
            } else if (arg == "--stop") {
                if (!FParseWhen(pszValue, &opts.timestampStop))
                    GiveUsage("--stop takes \"YYYY-MM-DD HH:MM\" (UTC, 2001 or later)");
            } else if (arg == "--end") {
                if (!FParseWhen(pszValue, &opts.timestampEnd))
                    GiveUsage("--end takes \"YYYY-MM-DD HH:MM\" (UTC, 2001 or later)");
                opts.fEndGiven = true;
            } else {
                GiveUsage(("unknown option: " + arg).c_str());
            }
        }
    }
    if (!opts.pszOut)
        GiveUsage("--out FILE is required");
    if (!opts.fEndGiven)
        FParseWhen(opts.fRawDates ? "2020-06-05 08:00" : "2009-06-05 08:00", &opts.timestampEnd);
    if (opts.timestampEnd < timestampEarliest + 2 * secDay)
        GiveUsage("--end must lie after 2001-01-04");
    return opts;
}

// ---------------------------------------------------------------------------------------------
// Random numbers: splitmix64, so that a seed gives the same bytes on every machine.

struct RNG {
    uint64_t s;
};

uint64_t NextU64(RNG* prng)
{
    uint64_t z = (prng->s += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double U01(RNG* prng) { return (double)(NextU64(prng) >> 11) * (1.0 / 9007199254740992.0); }
double Uniform(RNG* prng, double lo, double hi) { return lo + (hi - lo) * U01(prng); }
int IntIn(RNG* prng, int lo, int hi) { return lo + (int)(NextU64(prng) % (uint64_t)(hi - lo + 1)); }
bool FChance(RNG* prng, double p) { return U01(prng) < p; }
// Roughly normal, mean 0 and deviation 1, without libm differences between machines.
double Gauss(RNG* prng) { return (U01(prng) + U01(prng) + U01(prng) + U01(prng) - 2.0) * 1.7320508075688772; }

// ---------------------------------------------------------------------------------------------
// Records, written byte by byte

struct REC {
    uint8_t rgb[cbRecordMax];
    int cb;
    uint32_t timestamp;
};

bool s_fRawDates = false;

// The date a car whose clock rolled back writes for a true time in the corrected window.
uint32_t DateRawFromTimestamp(uint32_t timestamp)
{
    if (s_fRawDates && timestamp >= dateRawCorrectFirst + secWeeks1024 && timestamp <= dateRawCorrectLast + secWeeks1024)
        return timestamp - secWeeks1024;
    return timestamp;
}

void PutU8(REC* prec, int ib, int v) { prec->rgb[ib] = (uint8_t)v; }
void PutU16(REC* prec, int ib, unsigned v)
{
    prec->rgb[ib] = (uint8_t)v;
    prec->rgb[ib + 1] = (uint8_t)(v >> 8);
}
void PutI16(REC* prec, int ib, int v) { PutU16(prec, ib, (unsigned)(uint16_t)(int16_t)v); }
void PutU32(REC* prec, int ib, uint32_t v)
{
    PutU16(prec, ib, v & 0xFFFF);
    PutU16(prec, ib + 2, v >> 16);
}

int Clamp(long v, long lo, long hi) { return (int)(v < lo ? lo : v > hi ? hi : v); }
unsigned RawU16(double v) { return (unsigned)Clamp(lround(v), 0, 65535); }
int RawI16(double v) { return Clamp(lround(v), -32768, 32767); }
int RawU8(double v) { return Clamp(lround(v), 0, 255); }

void RecBegin(REC* prec, int rt, int cbTotal, uint32_t timestamp, int t2 = 0, int t3 = 0)
{
    memset(prec->rgb, 0, sizeof(prec->rgb));
    prec->cb = cbTotal;
    prec->timestamp = timestamp;
    prec->rgb[0] = 0x03;
    prec->rgb[1] = 0x02;
    prec->rgb[2] = (uint8_t)(cbTotal - 2);
    prec->rgb[3] = (uint8_t)rt;
    prec->rgb[4] = (uint8_t)t2;
    prec->rgb[5] = (uint8_t)t3;
    PutU32(prec, 6, DateRawFromTimestamp(timestamp));
}

// The last byte makes the bytes from the count byte to the end add up to 0 modulo 256.
void RecSeal(REC* prec)
{
    unsigned sum = 0;
    for (int ib = 2; ib < prec->cb - 1; ib++)
        sum += prec->rgb[ib];
    prec->rgb[prec->cb - 1] = (uint8_t)(0x100 - (sum & 0xFF));
}

// ---------------------------------------------------------------------------------------------
// The car

constexpr int cBricks = 99;           // bricks in series
constexpr double kgMass = 1350.0;     // car and driver
constexpr double mpsPerMph = 0.44704;
constexpr double radiusWheel = 0.32;  // m
constexpr double ratioGear = 8.28;
constexpr double nmMotorMax = 370.0;
constexpr double nmRegenMax = 110.0;
constexpr double wDriveMax = 185000.0;
constexpr double wRegenMax = 32000.0;
constexpr double wAccessory = 350.0;
constexpr double ohmPack = 0.09;
constexpr uint64_t cbPerDayTypical = 100000;   // transient bytes of an average day of this car
constexpr double ahDrainPerHour = 0.05;   // electronics and battery conditioning while parked

struct GEN {
    RNG rng;
    const OPTS* popts;
    int rver;
    char achVIN[17];
    uint8_t rgbVers[4];   // firmware a.b.c d
    uint32_t timestampEnd;   // no record later than this (days mode)
    uint32_t timestampStop;  // the download's time: later records are planned but not written; 0 = none
    bool fStopFlushed;       // the long-term records due by timestampStop are written
    uint64_t cbTarget;       // stop once this many transient bytes were written (size mode), else 0
    bool fDone;

    // Vehicle state.
    uint32_t timestamp;   // time of the newest record
    double milesOdo;
    double ahLeft;
    double ahBrickTrue, ahBrickSpread;   // average brick capacity and how far the weakest lags
    double ahBrickAve, ahBrickMin;       // as the car last estimated them
    int iBrickWeak, iBrickHigh;
    double degESS, degCoolant, degPEM, degMotor;
    double degWeather;     // today's deviation from the usual June day
    double mElevation;
    double rgpsiTire[4];
    int ampsHome;         // the owner's home charger
    uint32_t timestampDownloadNext;
    int cDrives;

    // Long-term part: kept apart, laid out in front of the ring at the end.
    BYTES rgbLongTerm;
    uint32_t timestampDayNext, timestampErrNext, timestampUpgradeNext;

    // Transient ring.
    BYTES rgbRing;         // the ring area as the flash holds it; erased at first
    size_t ibRing;         // write position
    int cpass;             // completed passes
    uint64_t cbWritten;    // every transient byte written, overwritten ones too
    uint64_t cbSinceVinf;
    uint64_t cbSectionMin; // fewer power-on sections in huge logs, so the table of contents stays in bounds
};

double PctSOCExact(GEN const* g) { return 100.0 * g->ahLeft / g->ahBrickMin; }
int PctSOC(GEN const* g) { return Clamp(lround(PctSOCExact(g)), 0, 100); }

// Open-circuit pack voltage: about 3.55 V a brick when empty, 4.15 V when full.
double VoltsOpen(GEN const* g) { return cBricks * (3.55 + 0.006 * PctSOCExact(g)); }

// Battery current for a power drawn (positive) or fed back (negative), with the pack's internal
// resistance; sets the terminal voltage.
double AmpsForPower(GEN const* g, double w, double* pvolts)
{
    double volts0 = VoltsOpen(g);
    double disc = volts0 * volts0 - 4.0 * ohmPack * w;
    if (disc < 0)
        disc = 0;
    double amps = (volts0 - std::sqrt(disc)) / (2.0 * ohmPack);
    *pvolts = volts0 - amps * ohmPack;
    return amps;
}

int64_t DayLocal(uint32_t timestamp) { return ((int64_t)timestamp + secLocalOffset) / (int64_t)secDay; }
uint32_t TimestampLocalMidnight(int64_t dayLocal) { return (uint32_t)(dayLocal * secDay - secLocalOffset); }

double DegAmbient(GEN const* g, uint32_t timestamp)
{
    double hour = (double)(((int64_t)timestamp + secLocalOffset) % (int64_t)secDay) / secHour;
    return 18.0 + g->degWeather + 6.0 * std::sin((hour - 9.0) * (2.0 * pi / 24.0));
}

// One step of first-order approach to a target with time constant tau.
void Approach(double* px, double target, double dt, double tau)
{
    double f = dt >= tau ? 1.0 : dt / tau;
    *px += (target - *px) * f;
}

// ---------------------------------------------------------------------------------------------
// Record makers

void MakeVinf(GEN const* g, REC* prec, uint32_t timestamp, bool fLongTerm)
{
    RecBegin(prec, rtVINF, 40, timestamp, 0, fLongTerm ? 0x80 : 0);
    PutU8(prec, 12, g->rgbVers[2]);
    PutU8(prec, 13, g->rgbVers[1]);
    PutU8(prec, 14, g->rgbVers[0]);
    PutU8(prec, 18, g->rgbVers[3]);
    memcpy(prec->rgb + 22, g->achVIN, 17);
    RecSeal(prec);
}

void MakeDay(GEN const* g, REC* prec, uint32_t timestamp)
{
    RecBegin(prec, rtDAY, 41, timestamp);
    PutU16(prec, 10, RawU16(g->degESS * 256.0));
    PutU32(prec, 30, (uint32_t)lround(g->milesOdo * 10.0));
    PutU16(prec, 34, RawU16(g->ahBrickAve * 8192.0 / 467.0));
    PutU16(prec, 36, RawU16(g->ahBrickMin * 8192.0 / 467.0));
    PutU8(prec, 38, g->iBrickWeak);
    PutU8(prec, 39, PctSOC(g));
    RecSeal(prec);
}

void MakeErr(GEN* g, REC* prec, uint32_t timestamp, int code)
{
    int cbData = FChance(&g->rng, 0.5) ? 0 : IntIn(&g->rng, 1, 8);
    RecBegin(prec, rtERR, 18 + cbData, timestamp);
    PutU8(prec, 10, IntIn(&g->rng, 1, 6));   // reporting subsystem
    PutU16(prec, 14, (unsigned)code);
    PutU8(prec, 16, cbData);
    for (int i = 0; i < cbData; i++)
        PutU8(prec, 17 + i, IntIn(&g->rng, 0, 255));
    RecSeal(prec);
}

void MakeInput(REC* prec, uint32_t timestamp, int code, int state)
{
    RecBegin(prec, rtXX03, 14, timestamp);
    PutU8(prec, 10, code);
    PutU8(prec, 11, state);
    RecSeal(prec);
}

// Operating states as the car seems to number them: 0 off, 1 ready to drive, 2 charging, 3 asleep.
void MakeState(REC* prec, uint32_t timestamp, int state, int statePrev)
{
    RecBegin(prec, rtXX04, 16, timestamp);
    PutU8(prec, 10, state);
    PutU8(prec, 11, statePrev);
    RecSeal(prec);
}

void PutBrickVolts(GEN* g, REC* prec, int ibMin, double volts)
{
    double voltsBrick = volts / cBricks;
    PutU16(prec, ibMin, RawU16((voltsBrick - Uniform(&g->rng, 0.004, 0.014)) * 8192.0));
    PutU16(prec, ibMin + 2, RawU16((voltsBrick + Uniform(&g->rng, 0.003, 0.012)) * 8192.0));
}

void MakeIdle(GEN* g, REC* prec, uint32_t timestamp)
{
    bool fSOC = FChance(&g->rng, 0.9);
    RecBegin(prec, rtIDLE, 25, timestamp, fSOC ? 0x10 : 0);
    PutI16(prec, 12, RawI16((g->degESS - 1.0) * 256.0));
    PutI16(prec, 14, RawI16((g->degESS + 1.2) * 256.0));
    if (fSOC)
        PutU8(prec, 16, PctSOC(g));
    PutBrickVolts(g, prec, 18, VoltsOpen(g));
    PutU8(prec, 22, g->iBrickWeak);
    PutU8(prec, 23, g->iBrickHigh);
    RecSeal(prec);
}

void MakeDr1m(GEN const* g, REC* prec, uint32_t timestamp)
{
    RecBegin(prec, rtDR1M, 36, timestamp);
    PutU8(prec, 17, RawU8(g->degPEM * 2.0));
    if (g->rver == 3)
        PutI16(prec, 18, RawI16(g->degMotor * 256.0));
    else
        PutU8(prec, 18, RawU8(g->degMotor));
    PutU8(prec, 20, RawU8((g->degCoolant + 30.0) * 2.0));
    PutI16(prec, 26, RawI16((g->degESS - 1.0) * 256.0));
    PutI16(prec, 28, RawI16((g->degESS + 1.5) * 256.0));
    if (g->rver >= 4)
        PutU8(prec, 34, RawU8(g->degMotor - 4.0));
    RecSeal(prec);
}

void MakeD10m(GEN const* g, REC* prec, uint32_t timestamp, bool fElevation)
{
    RecBegin(prec, rtD10M, 23, timestamp, fElevation ? 0x01 : 0);
    if (fElevation)
        PutI16(prec, 10, RawI16(g->mElevation));
    PutU8(prec, 15, PctSOC(g));
    PutU32(prec, 18, (uint32_t)lround(g->milesOdo * 10.0));
    RecSeal(prec);
}

void MakeTpms(GEN const* g, REC* prec, uint32_t timestamp, double degTire)
{
    RecBegin(prec, rtTPMS, 20, timestamp);
    for (int i = 0; i < 4; i++) {
        PutU8(prec, 10 + 2 * i, RawU8(g->rgpsiTire[i] * 2.56));
        PutU8(prec, 11 + 2 * i, RawU8(degTire + i * 0.7));
    }
    RecSeal(prec);
}

// Sub-kinds 0, 1 and 3 carry SOC and the supply's current at different places; 2 carries neither.
void MakeC30m(GEN const* g, REC* prec, uint32_t timestamp, int subkind, int ampsAvail)
{
    RecBegin(prec, rtC30M, 23, timestamp, 0, subkind);
    int pct = PctSOC(g);
    switch (subkind) {
    case 0: PutU8(prec, 16, ampsAvail); PutU8(prec, 17, pct); break;
    case 1: PutU8(prec, 16, ampsAvail); PutU8(prec, 21, pct); break;
    case 3: PutU8(prec, 14, ampsAvail); PutU8(prec, 17, pct); break;
    default: PutU8(prec, 12, 1); break;
    }
    RecSeal(prec);
}

void MakeChargeMinute(GEN* g, REC* prec, uint32_t timestamp, double voltsLine, double ampsLine, double ampsIn,
                      double voltsPack)
{
    double degCoolant = g->degCoolant;
    if (g->rver == 3) {
        RecBegin(prec, rtC1MA, 44, timestamp);
        PutI16(prec, 16, RawI16(ampsIn * 32.0));
        PutU16(prec, 18, RawU16(ampsLine * 327.68));
        PutU16(prec, 20, RawU16(voltsLine * 131.072));
        PutU8(prec, 25, RawU8((degCoolant + 30.0) * 2.0));
        PutU16(prec, 38, RawU16((g->degESS - 1.0) * 256.0));
        PutU16(prec, 40, RawU16((g->degESS + 1.4) * 256.0));
    } else {
        RecBegin(prec, rtC1MB, 40, timestamp);
        PutU16(prec, 10, RawU16(voltsPack * 2.048));
        PutI16(prec, 12, RawI16(ampsIn * 32.0));
        PutU16(prec, 14, RawU16(ampsLine * 327.68));
        PutU16(prec, 16, RawU16(voltsLine * 131.072));
        PutU8(prec, 21, RawU8((degCoolant + 30.0) * 2.0));
        PutU8(prec, 22, g->degESS > 38.0 ? 2 : g->degESS > 32.0 ? 1 : 0);
        PutBrickVolts(g, prec, 26, voltsPack);
        PutU8(prec, 30, g->iBrickWeak);
        PutU8(prec, 31, g->iBrickHigh);
        PutU16(prec, 34, RawU16((g->degESS - 1.0) * 256.0));
        PutU16(prec, 36, RawU16((g->degESS + 1.4) * 256.0));
    }
    RecSeal(prec);
}

// ---------------------------------------------------------------------------------------------
// Writing: the long-term part and the transient ring

void EmitLongTerm(GEN* g, REC const* prec)
{
    g->rgbLongTerm.insert(g->rgbLongTerm.end(), prec->rgb, prec->rgb + prec->cb);
}

void RingPutRaw(GEN* g, REC const* prec)
{
    memcpy(g->rgbRing.data() + g->ibRing, prec->rgb, (size_t)prec->cb);
    g->ibRing += (size_t)prec->cb;
    g->cbWritten += (uint64_t)prec->cb;
    g->cbSinceVinf += (uint64_t)prec->cb;
}

// When a record no longer fits before the ring's end, the car erases the rest of the ring and starts
// the next pass at the ring's start with a vehicle-info record. The record that the new pass then
// partly overwrites is what leaves garbage in front of the oldest surviving record.
void RingPut(GEN* g, REC const* prec)
{
    if (g->ibRing + (size_t)prec->cb > g->rgbRing.size()) {
        memset(g->rgbRing.data() + g->ibRing, 0xFF, g->rgbRing.size() - g->ibRing);
        g->ibRing = 0;
        g->cpass++;
        REC recVinf;
        MakeVinf(g, &recVinf, prec->timestamp, false);
        RingPutRaw(g, &recVinf);
        g->cbSinceVinf = 0;
    }
    RingPutRaw(g, prec);
    g->timestamp = prec->timestamp;
}

constexpr int rgcodeErrUnknown[] = {30, 117, 208, 1001, 1414, 2203, 5120};

int CodeErrRandom(GEN* g)
{
    double u = U01(&g->rng);
    if (u < 0.22)
        return 52;
    if (u < 0.50)
        return 53;
    if (u < 0.72)
        return IntIn(&g->rng, 412, 416);
    if (u < 0.76)
        return 1412;
    return rgcodeErrUnknown[IntIn(&g->rng, 0, (int)(sizeof(rgcodeErrUnknown) / sizeof(int)) - 1)];
}

// Each firmware release raises the third number, and the build number by two.
void UpgradeFirmware(GEN* g)
{
    if (g->rgbVers[2] >= 9) {
        g->rgbVers[1]++;
        g->rgbVers[2] = 0;
    } else {
        g->rgbVers[2]++;
    }
    g->rgbVers[3] = (uint8_t)(g->rgbVers[3] + 2);
}

// Writes the long-term records that fall due up to the given time, oldest first.
void FlushLongTerm(GEN* g, uint32_t timestamp)
{
    REC rec;
    for (;;) {
        uint32_t timestampNext = g->timestampDayNext;
        if (g->timestampErrNext < timestampNext)
            timestampNext = g->timestampErrNext;
        if (g->timestampUpgradeNext < timestampNext)
            timestampNext = g->timestampUpgradeNext;
        if (timestampNext > timestamp)
            return;
        if (timestampNext == g->timestampUpgradeNext) {
            // The car reboots into the new firmware: a new long-term section, a restart message, and a
            // new transient section.
            UpgradeFirmware(g);
            MakeVinf(g, &rec, timestampNext, true);
            EmitLongTerm(g, &rec);
            RecBegin(&rec, rtERR, 18, timestampNext + 40);
            PutU8(&rec, 10, 1);
            PutU16(&rec, 14, 52);
            RecSeal(&rec);
            EmitLongTerm(g, &rec);
            MakeVinf(g, &rec, timestampNext, false);
            RingPut(g, &rec);
            g->cbSinceVinf = 0;
            g->timestampUpgradeNext = timestampNext + (uint32_t)IntIn(&g->rng, 90, 200) * secDay;
        } else if (timestampNext == g->timestampDayNext) {
            // The bricks lose a little capacity; the car's daily estimate of it wanders around that.
            g->ahBrickTrue -= Uniform(&g->rng, 0.0, 0.008);
            g->ahBrickAve = g->ahBrickTrue + Gauss(&g->rng) * 0.12;
            g->ahBrickMin = g->ahBrickTrue - g->ahBrickSpread + Gauss(&g->rng) * 0.12;
            MakeDay(g, &rec, timestampNext);
            EmitLongTerm(g, &rec);
            uint32_t timestampMidnight = TimestampLocalMidnight(DayLocal(timestampNext) + 1);
            g->timestampDayNext = timestampMidnight + (uint32_t)IntIn(&g->rng, 2, 40);
            if (g->timestampErrNext == timestampNever && FChance(&g->rng, 0.2))
                g->timestampErrNext = timestampNext + (uint32_t)IntIn(&g->rng, 600, 85000);
        } else {
            MakeErr(g, &rec, timestampNext, CodeErrRandom(g));
            EmitLongTerm(g, &rec);
            g->timestampErrNext = timestampNever;
        }
    }
}

void EmitTransient(GEN* g, REC const* prec)
{
    if (g->fDone)
        return;
    // Past the download's time the plan goes on (the random sequence stays that of the whole
    // history) but nothing reaches the log. The long-term records due by then are written here,
    // at the first record past it, which is where a later download of the same plan writes them
    // too: with the figures of that moment, not those of the plan's end.
    if (g->timestampStop != 0 && prec->timestamp > g->timestampStop) {
        if (!g->fStopFlushed) {
            FlushLongTerm(g, g->timestampStop);
            g->fStopFlushed = true;
        }
        return;
    }
    if (g->cbTarget == 0 && prec->timestamp > g->timestampEnd) {
        g->fDone = true;
        return;
    }
    FlushLongTerm(g, prec->timestamp);
    RingPut(g, prec);
}

// The car writes a vehicle-info record whenever it powers up for a drive or a charge.
void PowerOn(GEN* g, uint32_t timestamp)
{
    if (g->cbSinceVinf < g->cbSectionMin)
        return;
    REC rec;
    MakeVinf(g, &rec, timestamp, false);
    EmitTransient(g, &rec);
    g->cbSinceVinf = 0;
}

// ---------------------------------------------------------------------------------------------
// Parking, driving, charging

void Park(GEN* g, uint32_t timestampTo)
{
    REC rec;
    if (g->cbTarget == 0 && timestampTo > g->timestampEnd) {
        Park(g, g->timestampEnd);
        g->fDone = true;
        return;
    }
    if (timestampTo <= g->timestamp)
        return;
    uint32_t timestampFrom = g->timestamp;
    uint32_t t = timestampFrom;
    for (uint32_t timestampIdle = timestampFrom + secHour; timestampIdle < timestampTo && !g->fDone;
         timestampIdle += secHour) {
        g->ahLeft -= ahDrainPerHour;
        double degAir = DegAmbient(g, timestampIdle);
        Approach(&g->degESS, degAir + 2.0, secHour, 5.0 * secHour);
        Approach(&g->degCoolant, degAir, secHour, 1.0 * secHour);
        Approach(&g->degPEM, degAir, secHour, 1.0 * secHour);
        Approach(&g->degMotor, degAir, secHour, 1.5 * secHour);
        MakeIdle(g, &rec, timestampIdle);
        EmitTransient(g, &rec);
        double u = U01(&g->rng);
        if (u < 0.04) {
            MakeState(&rec, timestampIdle + 1, 3, 0);
            EmitTransient(g, &rec);
        } else if (u < 0.06) {
            // Events whose meaning nobody has worked out.
            static const int rgcodeOdd[] = {0x09, 0x12, 0x41, 0x83};
            MakeInput(&rec, timestampIdle + 2, rgcodeOdd[IntIn(&g->rng, 0, 3)], IntIn(&g->rng, 0, 1));
            EmitTransient(g, &rec);
        }
        if (timestampIdle >= g->timestampDownloadNext) {
            // The owner downloads the log to a flash drive.
            MakeInput(&rec, timestampIdle + 300, 0x9E, 2);
            EmitTransient(g, &rec);
            MakeInput(&rec, timestampIdle + 300 + (uint32_t)IntIn(&g->rng, 20, 90), 0x1E, 2);
            EmitTransient(g, &rec);
            g->timestampDownloadNext += (uint32_t)IntIn(&g->rng, 20, 40) * secDay;
        }
        t = timestampIdle;
    }
    if (timestampTo > t) {
        double hours = (double)(timestampTo - t) / secHour;
        g->ahLeft -= ahDrainPerHour * hours;
        Approach(&g->degESS, DegAmbient(g, timestampTo) + 2.0, timestampTo - t, 5.0 * secHour);
    }
    g->timestamp = timestampTo;
}

// Coastal hills: somewhere between sea level and 600 m.
void WanderElevation(GEN* g, double m)
{
    g->mElevation = std::max(3.0, std::min(600.0, g->mElevation + Gauss(&g->rng) * m));
}

enum PHASE { phStop, phAccel, phCruise, phBrake };

// The speed profile of one drive: standing, speeding up to a cruising speed, cruising, braking.
struct PROFILE {
    bool fHighway;
    bool fFinishing;   // braking to the final stop, then standing a few seconds
    PHASE ph;
    int secPhase;      // seconds left in the phase (standing, cruising)
    double mps, mpsTarget, mpsPerSec;
    int secParked, secParkedNeed;
};

double MpsCruiseTarget(GEN* g, bool fHighway)
{
    if (fHighway && FChance(&g->rng, 0.65))
        return Uniform(&g->rng, 55.0, 72.0) * mpsPerMph;
    return Uniform(&g->rng, 22.0, 45.0) * mpsPerMph;
}

void BeginFinishing(GEN* g, PROFILE* pp)
{
    pp->fFinishing = true;
    if (pp->ph != phStop) {
        pp->ph = phBrake;
        pp->mpsTarget = 0.0;
        pp->mpsPerSec = Uniform(&g->rng, 1.0, 2.2);
    }
}

// Advances the profile by one second; false once the car has stood long enough after the drive.
bool FStepProfile(GEN* g, PROFILE* pp)
{
    RNG* prng = &g->rng;
    switch (pp->ph) {
    case phStop:
        pp->mps = 0.0;
        if (pp->fFinishing) {
            pp->secParked++;
        } else if (--pp->secPhase <= 0) {
            pp->ph = phAccel;
            pp->mpsTarget = MpsCruiseTarget(g, pp->fHighway);
            pp->mpsPerSec = FChance(prng, 0.05) ? Uniform(prng, 3.5, 5.5) : Uniform(prng, 1.0, 2.5);
        }
        break;
    case phAccel:
        pp->mps += pp->mpsPerSec * (1.0 - 0.45 * pp->mps / 35.0);
        if (pp->mps >= pp->mpsTarget) {
            pp->mps = pp->mpsTarget;
            pp->ph = phCruise;
            pp->secPhase = IntIn(prng, 15, pp->fHighway ? 420 : 120);
        }
        break;
    case phCruise:
        pp->mps = std::max(pp->mpsTarget - 0.7, std::min(pp->mpsTarget + 0.7, pp->mps + Gauss(prng) * 0.15));
        if (--pp->secPhase <= 0) {
            double pStop = pp->fHighway ? 0.15 : 0.45;
            pp->mpsTarget = FChance(prng, pStop) ? 0.0 : MpsCruiseTarget(g, pp->fHighway);
            if (pp->mpsTarget < pp->mps) {
                pp->ph = phBrake;
                pp->mpsPerSec = Uniform(prng, 0.8, 2.6);
            } else {
                pp->ph = phAccel;
                pp->mpsPerSec = Uniform(prng, 0.8, 2.0);
            }
        }
        break;
    case phBrake:
        pp->mps -= pp->mpsPerSec;
        if (pp->mps <= pp->mpsTarget) {
            pp->mps = pp->mpsTarget;
            if (pp->mpsTarget <= 0.0) {
                pp->mps = 0.0;
                pp->ph = phStop;
                pp->secPhase = IntIn(prng, 3, 50);
            } else {
                pp->ph = phCruise;
                pp->secPhase = IntIn(prng, 15, 120);
            }
        }
        break;
    }
    return !(pp->fFinishing && pp->ph == phStop && pp->secParked > pp->secParkedNeed);
}

// One second of driving: the forces at the wheels, what the motor and the battery make of them, the
// distance, charge and heat that follow, and the DR1S record.
void WriteDriveSecond(GEN* g, uint32_t t, double mps, double mpsPrev, bool fTCOff)
{
    double accel = mps - mpsPrev;
    double newtons = kgMass * accel;
    if (mps > 0.0)
        newtons += kgMass * 9.81 * 0.012 + 0.5 * 1.2 * 0.58 * mps * mps;
    double wBattery = wAccessory, nmMotor = 0.0;
    bool fRegen = false, fBrake = false;
    int bPedal = 0;
    if (newtons < 0.0 && newtons > -250.0 && mps > 0.0) {
        // Easing off while cruising: a light foot on the pedal, neither drive nor regeneration.
        bPedal = 18;
    } else if (newtons >= 0.0) {
        double newtonsMax = std::min(nmMotorMax * ratioGear / radiusWheel, mps > 1.0 ? wDriveMax / mps : 1e9);
        newtons = std::min(newtons, newtonsMax);
        nmMotor = newtons * radiusWheel / ratioGear;
        wBattery += newtons * mps / 0.86;
        if (mps > 0.0)
            bPedal = Clamp(lround(22.0 + 233.0 * nmMotor / nmMotorMax), 0, 255);
    } else {
        // Regeneration is limited in force and power and fades at walking pace; the brakes do the rest.
        double newtonsRegen = 0.0;
        if (mps > 2.5) {
            newtonsRegen = std::max(newtons, -nmRegenMax * ratioGear / radiusWheel);
            newtonsRegen = std::max(newtonsRegen, -wRegenMax / mps);
        }
        fRegen = newtonsRegen < 0.0;
        fBrake = newtons < newtonsRegen - 50.0 || (mps < 3.0 && accel < -0.3);
        nmMotor = newtonsRegen * radiusWheel / ratioGear;
        wBattery += newtonsRegen * mps * 0.62;
    }
    double voltsPack = 0.0;
    double amps = AmpsForPower(g, wBattery, &voltsPack);
    double ampsMotor = std::fabs(nmMotor) * 1.45 + (mps > 0.0 ? 12.0 : 0.0);

    // The odometer follows the recorded speed, so distance summed from the records matches it.
    int rawMph = Clamp(lround(mps / mpsPerMph * 10.0), 0, 32767);
    g->milesOdo += rawMph / 36000.0;
    g->ahLeft -= amps / 3600.0;
    double degAir = DegAmbient(g, t);
    double kw = std::fabs(wBattery) / 1000.0;
    Approach(&g->degCoolant, degAir + 8.0 + 0.15 * kw, 1.0, 900.0);
    Approach(&g->degPEM, g->degCoolant + 6.0 + 0.5 * kw, 1.0, 200.0);
    Approach(&g->degMotor, g->degCoolant + 10.0 + 1.1 * kw, 1.0, 400.0);
    Approach(&g->degESS, degAir + 5.0 + 0.05 * std::fabs(amps), 1.0, 3000.0);

    int grfFlags = 0;
    if (nmMotor >= 0.0)
        grfFlags |= 0x01;
    if (fBrake)
        grfFlags |= 0x04;
    if (fRegen)
        grfFlags |= 0x08;
    if (fTCOff)
        grfFlags |= 0x40;
    REC rec;
    RecBegin(&rec, rtDR1S, 26, t);
    PutI16(&rec, 10, RawI16(voltsPack * 2.0));
    PutI16(&rec, 12, RawI16(-amps * 32.0));
    PutI16(&rec, 14, rawMph);
    PutU16(&rec, 16, RawU16(ampsMotor * 65.536));
    PutU16(&rec, 20, RawU16(std::fabs(nmMotor) * 163.84));
    PutU8(&rec, 22, bPedal);
    PutU8(&rec, 24, grfFlags);
    RecSeal(&rec);
    EmitTransient(g, &rec);
}

// Tyres lose a little air after each drive; now and then the owner tops them up.
void WearTires(GEN* g)
{
    for (double& psi : g->rgpsiTire)
        psi -= Uniform(&g->rng, 0.0, 0.03);
    if (g->rgpsiTire[0] < 27.5 && FChance(&g->rng, 0.3)) {
        g->rgpsiTire[0] = g->rgpsiTire[1] = 30.0;
        g->rgpsiTire[2] = g->rgpsiTire[3] = 35.0;
    }
}

// One drive: power-up events, a DR1S record a second with DR1M each minute and D10M each ten minutes,
// and the power-down events with the final D10M reading a few seconds after the car stops.
void Drive(GEN* g, uint32_t timestampStart, int secDuration, bool fHighway)
{
    REC rec;
    RNG* prng = &g->rng;
    Park(g, timestampStart);
    if (g->fDone)
        return;
    g->cDrives++;
    PowerOn(g, timestampStart);
    MakeInput(&rec, timestampStart, FChance(prng, 0.8) ? 0x09 : 0x0A, 2);
    EmitTransient(g, &rec);
    MakeState(&rec, timestampStart + 1, 1, 0);
    EmitTransient(g, &rec);

    // Now and then the driver switches traction control off, for the whole drive or a stretch.
    bool fTCOff = FChance(prng, 0.04);
    int secTCOffFrom = FChance(prng, 0.06) ? IntIn(prng, 60, 600) : -1;
    int secTCOffTo = secTCOffFrom + IntIn(prng, 30, 400);
    bool fElevation = FChance(prng, 0.5);
    int secTpms = FChance(prng, 0.35) ? IntIn(prng, 45, 240) : -1;
    WanderElevation(g, 20.0);

    PROFILE prof{};
    prof.fHighway = fHighway;
    prof.ph = phStop;
    prof.secPhase = IntIn(prng, 2, 8);
    prof.secParkedNeed = IntIn(prng, 2, 9);
    uint32_t t = timestampStart + (uint32_t)IntIn(prng, 4, 15);
    for (int sec = 0; !g->fDone; sec++, t++) {
        if (!prof.fFinishing && (sec >= secDuration || PctSOCExact(g) < 6.0))
            BeginFinishing(g, &prof);
        double mpsPrev = prof.mps;
        if (!FStepProfile(g, &prof))
            break;
        WriteDriveSecond(g, t, prof.mps, mpsPrev,
                         fTCOff || (secTCOffFrom >= 0 && sec >= secTCOffFrom && sec < secTCOffTo));
        if (sec > 0 && sec % 60 == 0) {
            MakeDr1m(g, &rec, t);
            EmitTransient(g, &rec);
        }
        if (sec > 0 && sec % 600 == 0) {
            WanderElevation(g, 25.0);
            MakeD10m(g, &rec, t, fElevation);
            EmitTransient(g, &rec);
        }
        if (sec == secTpms) {
            MakeTpms(g, &rec, t, DegAmbient(g, t) + 6.0);
            EmitTransient(g, &rec);
        }
    }
    MakeD10m(g, &rec, t + (uint32_t)IntIn(prng, 4, 30), fElevation);
    EmitTransient(g, &rec);
    uint32_t timestampOff = t + (uint32_t)IntIn(prng, 35, 70);
    MakeInput(&rec, timestampOff, 0x09, 3);
    EmitTransient(g, &rec);
    if (FChance(prng, 0.3)) {
        MakeInput(&rec, timestampOff + 4, 0x08, 1);
        EmitTransient(g, &rec);
    }
    MakeState(&rec, timestampOff + 5, 0, 1);
    EmitTransient(g, &rec);
    WearTires(g);
}

// One charge at a supply of the given voltage and current, until the target SOC, until the owner
// unplugs for the next drive, or until the log ends.
void Charge(GEN* g, uint32_t timestampStart, uint32_t timestampUnplug, int voltsNominal, int ampsAvail,
            int pctTarget)
{
    REC rec;
    RNG* prng = &g->rng;
    Park(g, timestampStart);
    // A car that is nearly at its target, or is about to leave, is not plugged in.
    if (g->fDone || timestampStart + 10 * secMinute > timestampUnplug || PctSOCExact(g) >= pctTarget - 1.5)
        return;
    PowerOn(g, timestampStart);
    if (FChance(prng, 0.6)) {
        MakeInput(&rec, timestampStart, 0x96, 2);
        EmitTransient(g, &rec);
    }
    MakeInput(&rec, timestampStart + 2, FChance(prng, 0.7) ? 0x83 : 0x85, 2);
    EmitTransient(g, &rec);
    MakeState(&rec, timestampStart + 3, 2, 0);
    EmitTransient(g, &rec);
    uint32_t t = timestampStart + (uint32_t)IntIn(prng, 20, 50);
    MakeC30m(g, &rec, t, 0, ampsAvail);
    EmitTransient(g, &rec);

    double ampsDraw = ampsAvail * Uniform(prng, 0.97, 0.995);
    bool fCompleted = false;
    for (int minute = 1; !g->fDone; minute++) {
        t += secMinute;
        if (t + secMinute > timestampUnplug)
            break;
        double voltsLine = voltsNominal * Uniform(prng, 0.985, 1.008);
        double pct = PctSOCExact(g);
        double ampsLine = ampsDraw + Gauss(prng) * 0.05;
        double voltsPack = 0.0;
        double ampsIn = -AmpsForPower(g, -(voltsLine * ampsLine * 0.9 - wAccessory), &voltsPack);
        // Near the target the charger holds the pack voltage and the current falls off.
        double ampsInMax = std::max(2.0, 6.0 * (pctTarget - pct));
        if (ampsIn > ampsInMax) {
            ampsLine *= ampsInMax / ampsIn;
            ampsIn = -AmpsForPower(g, -(voltsLine * ampsLine * 0.9 - wAccessory), &voltsPack);
        }
        g->ahLeft += ampsIn / 60.0;
        double degAir = DegAmbient(g, t);
        Approach(&g->degESS, degAir + 4.0 + 0.3 * ampsIn, secMinute, secHour);
        Approach(&g->degCoolant, degAir + 3.0 + 0.2 * ampsIn, secMinute, 1800.0);
        MakeChargeMinute(g, &rec, t, voltsLine, ampsLine, ampsIn, voltsPack);
        EmitTransient(g, &rec);
        if (minute % 30 == 0) {
            double u = U01(prng);
            int subkind = u < 0.55 ? 0 : u < 0.75 ? 1 : u < 0.93 ? 3 : 2;
            MakeC30m(g, &rec, t, subkind, ampsAvail);
            EmitTransient(g, &rec);
        }
        if (PctSOCExact(g) >= pctTarget) {
            fCompleted = true;
            break;
        }
    }
    MakeC30m(g, &rec, t + 5, 0, ampsAvail);
    EmitTransient(g, &rec);
    if (fCompleted) {
        static const int rgcodeDone[] = {0x03, 0x05, 0x98};
        MakeInput(&rec, t + 6, rgcodeDone[IntIn(prng, 0, 2)], 2);
        EmitTransient(g, &rec);
    }
    MakeState(&rec, t + 7, 0, 2);
    EmitTransient(g, &rec);
}

// ---------------------------------------------------------------------------------------------
// Daily plans

struct ACT {
    uint32_t timestamp;    // planned start
    int secDrive;
    bool fHighway;
    int voltsCharge;       // charge after the drive: 0 none, 120 or 240
    int ampsCharge;
    double pctChargeIf;    // charge only below this SOC
};

constexpr int cactMax = 12;

int PlanWeekday(GEN* g, uint32_t timestampMidnight, ACT* rgact)
{
    RNG* prng = &g->rng;
    int cact = 0;
    rgact[cact++] = {timestampMidnight + 7 * secHour + (uint32_t)IntIn(prng, 0, 6300), IntIn(prng, 900, 2100),
                     FChance(prng, 0.6), FChance(prng, 0.25) ? 120 : 0, FChance(prng, 0.8) ? 12 : 15, 101.0};
    if (FChance(prng, 0.3)) {
        uint32_t t = timestampMidnight + 12 * secHour + (uint32_t)IntIn(prng, 0, 3000);
        rgact[cact++] = {t, IntIn(prng, 300, 900), false, 0, 0, 0.0};
        rgact[cact++] = {t + (uint32_t)IntIn(prng, 1800, 3600), IntIn(prng, 300, 900), false, 0, 0, 0.0};
    }
    rgact[cact++] = {timestampMidnight + 16 * secHour + 1800 + (uint32_t)IntIn(prng, 0, 7200), IntIn(prng, 900, 2400),
                     FChance(prng, 0.6), 0, 0, 0.0};
    if (FChance(prng, 0.4)) {
        uint32_t t = timestampMidnight + 19 * secHour + (uint32_t)IntIn(prng, 0, 5400);
        rgact[cact++] = {t, IntIn(prng, 300, 1200), false, 0, 0, 0.0};
        rgact[cact++] = {t + (uint32_t)IntIn(prng, 1200, 3600), IntIn(prng, 300, 1200), false, 0, 0, 0.0};
    }
    return cact;
}

int PlanWeekend(GEN* g, uint32_t timestampMidnight, ACT* rgact)
{
    RNG* prng = &g->rng;
    int cact = 0;
    if (FChance(prng, 0.2)) {
        // A trip out of town and back, charging at the destination now and then.
        uint32_t t = timestampMidnight + 9 * secHour + (uint32_t)IntIn(prng, 0, 7200);
        int sec = IntIn(prng, 2400, 4500);
        bool fChargeThere = FChance(prng, 0.6);
        rgact[cact++] = {t, sec, true, fChargeThere ? 240 : 0, 30, 101.0};
        rgact[cact++] = {t + (uint32_t)sec + (uint32_t)IntIn(prng, 2 * 3600, 4 * 3600), sec, true, 0, 0, 0.0};
        return cact;
    }
    int cdrive = IntIn(prng, 0, 3);
    uint32_t t = timestampMidnight + 9 * secHour;
    for (int i = 0; i < cdrive; i++) {
        t += (uint32_t)IntIn(prng, 1200, 4 * 3600);
        int sec = IntIn(prng, 300, 2400);
        rgact[cact++] = {t, sec, FChance(prng, 0.3), 0, 0, 0.0};
        t += (uint32_t)sec;
    }
    return cact;
}

void RunDay(GEN* g, int64_t dayLocal)
{
    RNG* prng = &g->rng;
    uint32_t timestampMidnight = TimestampLocalMidnight(dayLocal);
    g->degWeather = std::max(-6.0, std::min(6.0, g->degWeather * 0.6 + Gauss(prng) * 2.0));
    int weekday = (int)((dayLocal % 7 + 7 + 4) % 7);   // 1970-01-01 was a Thursday; 0 is Sunday
    ACT rgact[cactMax];
    int cact = weekday == 0 || weekday == 6 ? PlanWeekend(g, timestampMidnight, rgact)
                                            : PlanWeekday(g, timestampMidnight, rgact);
    if (cact > 0) {
        // After the day's last drive the car goes on the home charger, usually.
        ACT* pact = &rgact[cact - 1];
        pact->voltsCharge = 240;
        pact->ampsCharge = g->ampsHome;
        pact->pctChargeIf = FChance(prng, 0.6) ? 101.0 : 80.0;
    }
    uint32_t timestampNextMorning = timestampMidnight + secDay + 6 * secHour + 1800;
    for (int i = 0; i < cact && !g->fDone; i++) {
        ACT const& act = rgact[i];
        if (act.timestamp + 1800 < g->timestamp)
            continue;
        uint32_t timestampStart = std::max(act.timestamp, g->timestamp + 2 * secMinute);
        Drive(g, timestampStart, act.secDrive, act.fHighway);
        if (g->cbTarget != 0 && g->cbWritten >= g->cbTarget)
            g->fDone = true;
        if (act.voltsCharge == 0 || PctSOCExact(g) >= act.pctChargeIf || g->fDone)
            continue;
        uint32_t timestampUnplug = i + 1 < cact ? rgact[i + 1].timestamp - (uint32_t)IntIn(prng, 120, 900)
                                                : timestampNextMorning;
        bool fRangeMode = act.voltsCharge == 240 && FChance(prng, 0.1);
        int pctTarget = fRangeMode ? 100 : 90;
        Charge(g, g->timestamp + (uint32_t)IntIn(prng, 90, 480), timestampUnplug, act.voltsCharge, act.ampsCharge,
               pctTarget);
    }
    if (g->cbTarget != 0 && g->cbWritten >= g->cbTarget)
        g->fDone = true;
}

void MakeVIN(GEN* g)
{
    // A made-up maker code, the vehicle type, the model year 2009 and a serial number.
    char ach[18];
    snprintf(ach, sizeof(ach), "QFLRD%dA%d9V%06d", g->rver, IntIn(&g->rng, 0, 9), IntIn(&g->rng, 100, 2499));
    memcpy(g->achVIN, ach, 17);
}

// The ring must not end exactly where an old record begins: the oldest surviving record would then
// look like the continuation of the newest section. One more small record moves the end.
void SettleRingEnd(GEN* g)
{
    REC rec;
    for (int i = 0; i < 20 && g->cpass > 0; i++) {
        size_t ib = g->ibRing;
        BYTES const& r = g->rgbRing;
        if (ib + 3 > r.size() || r[ib] != 0x03 || r[ib + 1] != 0x02)
            return;
        size_t cb = r[ib + 2];
        if (cb < 2 || ib + 2 + cb > r.size())
            return;
        unsigned sum = 0;
        for (size_t j = 0; j < cb; j++)
            sum += r[ib + 2 + j];
        if ((sum & 0xFF) != 0)
            return;
        MakeState(&rec, g->timestamp, 0, 0);
        RingPut(g, &rec);
    }
}

BYTES GenerateLog(OPTS const& opts)
{
    GEN gen{};
    GEN* g = &gen;
    g->popts = &opts;
    g->rng.s = opts.seed * 0x2545F4914F6CDD1Dull + 0x5851F42D4C957F2Dull;
    g->rver = opts.rver;
    MakeVIN(g);
    static const uint8_t rgbVers4[4] = {4, 1, 1, 3}, rgbVers3[4] = {3, 6, 8, 28};
    memcpy(g->rgbVers, opts.rver == 3 ? rgbVers3 : rgbVers4, 4);

    uint64_t cbLongTerm = opts.cbLongTerm;
    uint64_t cbRing = opts.cbRing;
    int cDays = opts.cDays;
    if (opts.cbSize != 0) {
        cbRing = opts.cbSize > cbLongTerm + 8192 ? opts.cbSize - cbLongTerm : opts.cbSize / 2;
        // The ring is written about 1.3 times over, so that it wraps with its oldest record well inside.
        g->cbTarget = cbRing + cbRing * 3 / 10;
        cDays = (int)(g->cbTarget / cbPerDayTypical) + 3;
    }
    g->timestampEnd = opts.timestampEnd;
    g->timestampStop = opts.timestampStop;
    g->rgbRing.assign(cbRing, 0xFF);
    g->cbSectionMin = cbRing / 1500;
    g->cbSinceVinf = g->cbSectionMin;

    if ((int64_t)opts.timestampEnd - (int64_t)cDays * secDay < (int64_t)timestampEarliest)
        cDays = (int)((opts.timestampEnd - timestampEarliest) / secDay);
    uint32_t timestampStart = opts.timestampEnd - (uint32_t)cDays * secDay;
    g->timestamp = timestampStart;
    g->ahBrickTrue = g->ahBrickAve = Uniform(&g->rng, 154.0, 159.0);
    g->ahBrickSpread = Uniform(&g->rng, 1.0, 3.0);
    g->ahBrickMin = g->ahBrickTrue - g->ahBrickSpread;
    g->iBrickWeak = IntIn(&g->rng, 1, cBricks);
    g->iBrickHigh = IntIn(&g->rng, 1, cBricks);
    g->ahLeft = g->ahBrickMin * Uniform(&g->rng, 0.55, 0.85);
    g->milesOdo = Uniform(&g->rng, 1500.0, 6000.0);
    g->degESS = g->degCoolant = g->degPEM = g->degMotor = DegAmbient(g, timestampStart);
    g->mElevation = Uniform(&g->rng, 20.0, 400.0);
    g->rgpsiTire[0] = g->rgpsiTire[1] = Uniform(&g->rng, 29.0, 31.0);
    g->rgpsiTire[2] = g->rgpsiTire[3] = Uniform(&g->rng, 34.0, 36.0);
    g->ampsHome = FChance(&g->rng, 0.3) ? 70 : 40;
    g->timestampDayNext = TimestampLocalMidnight(DayLocal(timestampStart) + 1) + 7;
    g->timestampErrNext = timestampNever;
    g->timestampDownloadNext = opts.cbSize != 0 ? timestampStart + (uint32_t)IntIn(&g->rng, 10, 30) * secDay
                                                : opts.timestampEnd - (uint32_t)IntIn(&g->rng, 2 * 24, 5 * 24) * secHour;
    uint32_t dayUpgrade = (uint32_t)IntIn(&g->rng, cDays / 3, std::max(cDays / 3, cDays * 2 / 3));
    g->timestampUpgradeNext = TimestampLocalMidnight(DayLocal(timestampStart) + dayUpgrade) + 2 * secHour +
                              1800 + (uint32_t)IntIn(&g->rng, 0, 1200);

    REC rec;
    MakeVinf(g, &rec, timestampStart, true);
    EmitLongTerm(g, &rec);
    PowerOn(g, timestampStart);
    MakeState(&rec, timestampStart + 1, 0, 0);
    EmitTransient(g, &rec);

    for (int64_t day = DayLocal(timestampStart); !g->fDone; day++) {
        RunDay(g, day);
        if (g->cbTarget == 0 && TimestampLocalMidnight(day + 1) > g->timestampEnd)
            break;
    }
    if (g->cbTarget == 0) {
        g->fDone = false;
        Park(g, g->timestampEnd);
        FlushLongTerm(g, g->timestampStop != 0 && g->timestampStop < g->timestampEnd ? g->timestampStop
                                                                                       : g->timestampEnd);
    }
    SettleRingEnd(g);

    // Long-term records, erased space up to the end of the long-term area, then the ring.
    size_t cbArea = (size_t)cbLongTerm;
    while (cbArea < g->rgbLongTerm.size() + 1)
        cbArea += (size_t)cbLongTerm;
    BYTES log = g->rgbLongTerm;
    log.resize(cbArea, 0xFF);
    log.insert(log.end(), g->rgbRing.begin(), g->rgbRing.end());
    fprintf(stderr,
            "genlog: %.1f days, %d drives, odometer %.1f miles, ring of %llu bytes written %.2f times, "
            "long-term %zu of %zu bytes\n",
            (double)(g->timestamp - timestampStart) / secDay, g->cDrives, g->milesOdo, (unsigned long long)cbRing,
            (double)g->cbWritten / (double)cbRing, g->rgbLongTerm.size(), cbArea);
    return log;
}

// ---------------------------------------------------------------------------------------------
// Bytes that stress a record scanner: every 03 02 starts a candidate that fails its checksum, some
// only after summing 254 bytes, some by one; runs of 03 03 02 that must not match.

// Walks the candidates as a scanner does (a failed candidate resumes after its count byte) and bends
// the checksums of those that would pass. Only bytes other than 02 and 03 change, so the candidates
// stay where they are; a few passes settle it.
void BreakAccidentalRecords(BYTES* pv)
{
    BYTES& b = *pv;
    size_t n = b.size();
    std::vector<uint32_t> rgsum(n + 1);
    for (int iPass = 0; iPass < 50; iPass++) {
        rgsum[0] = 0;
        for (size_t i = 0; i < n; i++)
            rgsum[i + 1] = rgsum[i] + b[i];
        int cfix = 0;
        int state = 0;
        for (size_t p = 0; p < n; p++) {
            uint8_t by = b[p];
            if (state == 2) {
                state = 0;
                if (by == 0) {
                    b[p] = by = 1;   // a count byte of 0 is a case of its own; keep it out
                    cfix++;
                }
                size_t cb = by;
                if (cb < 2 || p + cb > n || ((rgsum[p + cb] - rgsum[p]) & 0xFF) != 0)
                    continue;
                size_t j = p + cb - 1;
                // Adding 0x80 must neither make nor unmake a marker byte, nor make a count byte of 0.
                while (j > p && (b[j] == 0x02 || b[j] == 0x03 || b[j] == 0x80 || b[j] == 0x82 || b[j] == 0x83))
                    j--;
                if (j == p)
                    b[p] = 0xFF;
                else
                    b[j] = (uint8_t)(b[j] + 0x80);
                cfix++;
                continue;
            }
            if (by == 0x03)
                state = state == 0 ? 1 : 0;
            else if (by == 0x02 && state == 1)
                state = 2;
            else
                state = 0;
        }
        if (cfix == 0)
            return;
    }
}

BYTES GenerateAdversarial(OPTS const& opts)
{
    RNG rng{opts.seed * 0x9E3779B97F4A7C15ull + 17};
    size_t cb = opts.cbSize ? (size_t)opts.cbSize : (size_t)1 << 20;
    BYTES v;
    v.reserve(cb + 70000);
    while (v.size() < cb) {
        size_t cbBlock = (size_t)IntIn(&rng, 4096, 65536);
        size_t ibEnd = v.size() + cbBlock;
        switch (IntIn(&rng, 0, 5)) {
        case 0:   // each candidate sums 254 bytes before it fails
            while (v.size() < ibEnd)
                v.insert(v.end(), {0x03, 0x02, 0xFF});
            break;
        case 1:   // candidates of every length that miss their checksum narrowly
            while (v.size() < ibEnd) {
                int cbRec = IntIn(&rng, 2, 255);
                v.insert(v.end(), {0x03, 0x02, (uint8_t)cbRec});
                unsigned sum = (unsigned)cbRec;
                for (int i = 1; i < cbRec - 1; i++) {
                    uint8_t by = (uint8_t)IntIn(&rng, 4, 255);
                    v.push_back(by);
                    sum += by;
                }
                int miss = FChance(&rng, 0.5) ? 1 : 255;
                v.push_back((uint8_t)(0x100 - (sum & 0xFF) + miss));
            }
            break;
        case 2:   // 03 03 02: the second 03 returns the match to its start
            while (v.size() < ibEnd)
                v.insert(v.end(), {0x03, 0x03, 0x02, (uint8_t)IntIn(&rng, 8, 255)});
            break;
        case 3:   // odd runs of 03 before 02 do match
            while (v.size() < ibEnd) {
                int c03 = IntIn(&rng, 1, 7);
                for (int i = 0; i < c03; i++)
                    v.push_back(0x03);
                v.insert(v.end(), {0x02, 0xFF});
            }
            break;
        case 4:   // record-shaped runs with a checksum one off
            while (v.size() < ibEnd) {
                REC rec;
                RecBegin(&rec, rtDR1S, 26, 1244000000u + (uint32_t)IntIn(&rng, 0, 100000));
                for (int i = 10; i < 25; i++)
                    PutU8(&rec, i, IntIn(&rng, 4, 255));
                RecSeal(&rec);
                rec.rgb[25] = (uint8_t)(rec.rgb[25] + (FChance(&rng, 0.5) ? 1 : 255));
                v.insert(v.end(), rec.rgb, rec.rgb + rec.cb);
            }
            break;
        default:   // erased flash with count bytes of 1, which never start a record
            while (v.size() < ibEnd) {
                size_t cbRun = (size_t)IntIn(&rng, 16, 512);
                v.insert(v.end(), cbRun, FChance(&rng, 0.7) ? 0xFF : 0x00);
                v.insert(v.end(), {0x03, 0x02, 0x01});
            }
            break;
        }
    }
    v.resize(cb);
    BreakAccidentalRecords(&v);
    return v;
}

// ---------------------------------------------------------------------------------------------
// Output: the plain log, or a ustar download

void AppendTarMember(BYTES* ptar, const char* pszName, BYTES const& data, uint32_t timestampMod)
{
    uint8_t hdr[512] = {};
    snprintf((char*)hdr, 100, "%s", pszName);
    snprintf((char*)hdr + 100, 8, "%07o", 0644);
    snprintf((char*)hdr + 108, 8, "%07o", 0);
    snprintf((char*)hdr + 116, 8, "%07o", 0);
    snprintf((char*)hdr + 124, 12, "%011llo", (unsigned long long)data.size());
    snprintf((char*)hdr + 136, 12, "%011o", timestampMod);
    hdr[156] = '0';
    memcpy(hdr + 257, "ustar", 6);
    memcpy(hdr + 263, "00", 2);
    snprintf((char*)hdr + 265, 32, "%s", "vms");
    snprintf((char*)hdr + 297, 32, "%s", "vms");
    memset(hdr + 148, ' ', 8);
    unsigned sum = 0;
    for (uint8_t by : hdr)
        sum += by;
    snprintf((char*)hdr + 148, 8, "%06o", sum);
    hdr[155] = ' ';
    ptar->insert(ptar->end(), hdr, hdr + 512);
    ptar->insert(ptar->end(), data.begin(), data.end());
    ptar->resize((ptar->size() + 511) / 512 * 512, 0);
}

BYTES BytesFromText(std::string const& s) { return BYTES(s.begin(), s.end()); }

BYTES MakeDownload(OPTS const& opts, BYTES const& log)
{
    int64_t y;
    int mo, d;
    CivilFromDays(opts.timestampEnd / secDay, &y, &mo, &d);
    unsigned secOfDay = opts.timestampEnd % secDay;
    char achInfo[512];
    snprintf(achInfo, sizeof(achInfo),
             "VMS log download\n"
             "log end: %04d-%02d-%02d %02u:%02u UTC\n"
             "log bytes: %zu\n"
             "generator seed: %llu\n",
             (int)y, mo, d, secOfDay / secHour, secOfDay % secHour / secMinute, log.size(), (unsigned long long)opts.seed);
    BYTES tar;
    AppendTarMember(&tar, "download_info.txt", BytesFromText(achInfo), opts.timestampEnd);
    AppendTarMember(&tar, "vms_log", log, opts.timestampEnd);
    AppendTarMember(&tar, "vms_status.txt", BytesFromText("flash ok\n"), opts.timestampEnd);
    tar.resize(tar.size() + 1024, 0);
    tar.resize((tar.size() + 10239) / 10240 * 10240, 0);   // whole tape records, as tar writes them
    return tar;
}

}   // namespace

int main(int argc, char** argv)
{
    OPTS opts = ParseOptions(argc, argv);
    s_fRawDates = opts.fRawDates;
    BYTES log = opts.fAdversarial ? GenerateAdversarial(opts) : GenerateLog(opts);
    BYTES out = opts.fTar ? MakeDownload(opts, log) : log;
    FILE* pfile = fopen(opts.pszOut, "wb");
    if (!pfile) {
        perror(opts.pszOut);
        return 1;
    }
    bool fOk = fwrite(out.data(), 1, out.size(), pfile) == out.size();
    fOk = fclose(pfile) == 0 && fOk;
    if (!fOk) {
        perror(opts.pszOut);
        return 1;
    }
    return 0;
}
