#include "logbuilder.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

Rec::Rec(int rt, int cbTotal, uint32_t dateRaw) : b(cbTotal < 10 ? 10 : cbTotal, 0)
{
    b[3] = (uint8_t)rt;
    Date(dateRaw);
}

Rec& Rec::T2(int v) { b[4] = (uint8_t)v; return *this; }
Rec& Rec::T3(int v) { b[5] = (uint8_t)v; return *this; }
Rec& Rec::Date(uint32_t d) { return U32(6, d); }

Rec& Rec::U8(int off, int v)
{
    if (off < 0 || (size_t)off >= b.size())
        throw std::out_of_range("Rec field past the record");
    b[off] = (uint8_t)v;
    return *this;
}

Rec& Rec::I16(int off, int v) { return U16(off, (unsigned)(uint16_t)(int16_t)v); }

Rec& Rec::U16(int off, unsigned v)
{
    U8(off, v & 0xFF);
    return U8(off + 1, (v >> 8) & 0xFF);
}

Rec& Rec::U32(int off, uint32_t v)
{
    U16(off, v & 0xFFFF);
    return U16(off + 2, v >> 16);
}

Rec& Rec::Text(int off, const std::string& s)
{
    for (size_t i = 0; i < s.size(); i++)
        U8(off + (int)i, (uint8_t)s[i]);
    return *this;
}

Bytes Rec::Get() const
{
    Bytes r = b;
    r[0] = 0x03;
    r[1] = 0x02;
    r[2] = (uint8_t)(r.size() - 2);
    unsigned sum = 0;
    for (size_t i = 2; i + 1 < r.size(); i++)
        sum += r[i];
    r[r.size() - 1] = (uint8_t)(0x100 - (sum & 0xFF));
    return r;
}

Rec VinfRec(uint32_t date, bool fLongTerm, const std::string& vin, int a, int b, int c, int d)
{
    Rec r(1, 40, date);
    r.T3(fLongTerm ? 0x80 : 0).U8(12, c).U8(13, b).U8(14, a).U8(18, d).Text(22, vin.substr(0, 17));
    return r;
}

Rec DayRec(uint32_t date, double milesOdo, unsigned rawAh, int pctSOC)
{
    Rec r(6, 41, date);
    r.U32(30, (uint32_t)std::lround(milesOdo * 10)).U16(34, rawAh).U16(36, rawAh).U8(38, 17).U8(39, pctSOC);
    return r;
}

Rec IdleRec(uint32_t date, int pctSOC)
{
    Rec r(7, 25, date);
    r.I16(12, 20 * 256).I16(14, 22 * 256).U16(18, (unsigned)(3.9 * 8192)).U16(20, (unsigned)(3.95 * 8192));
    r.U8(22, 5).U8(23, 77);
    if (pctSOC >= 0)
        r.T2(0x10).U8(16, pctSOC);
    return r;
}

Rec Dr1sRec(uint32_t date, double mph, double ampsOut, double volts, int flags)
{
    Rec r(10, 26, date);
    r.I16(10, (int)std::lround(volts * 2)).I16(12, (int)std::lround(-ampsOut * 32)).I16(14, (int)std::lround(mph * 10));
    r.U8(24, flags);
    return r;
}

Rec D10mRec(uint32_t date, int pctSOC, double milesOdo)
{
    if (milesOdo < 0) {
        Rec r(12, 17, date);
        r.U8(15, pctSOC);
        return r;
    }
    Rec r(12, 23, date);
    r.U8(15, pctSOC).U32(18, (uint32_t)std::lround(milesOdo * 10));
    return r;
}

Rec C1mbRec(uint32_t date, double voltsLine, double ampsCharge, double ampsIn)
{
    Rec r(24, 39, date);
    r.U16(10, (unsigned)std::lround(380 * 2.048)).I16(12, (int)std::lround(ampsIn * 32));
    r.U16(14, (unsigned)std::lround(ampsCharge * 327.68)).U16(16, (unsigned)std::lround(voltsLine * 131.072));
    r.U8(21, 110).U16(34, 25 * 256).U16(36, 27 * 256);
    return r;
}

Rec C30mRec(uint32_t date, int subkind, int pctSOC, int ampsAvailable)
{
    Rec r(9, 23, date);
    r.T3(subkind);
    switch (subkind) {
    case 0: r.U8(17, pctSOC).U8(16, ampsAvailable); break;
    case 1: r.U8(21, pctSOC).U8(16, ampsAvailable); break;
    case 3: r.U8(17, pctSOC).U8(14, ampsAvailable); break;
    default: break;
    }
    return r;
}

LogBuilder& LogBuilder::Add(const Rec& rec) { return Add(rec.Get()); }

LogBuilder& LogBuilder::Add(const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
    return *this;
}

LogBuilder& LogBuilder::Garbage(size_t cb, uint8_t b)
{
    bytes.insert(bytes.end(), cb, b);
    return *this;
}

void LogBuilder::WriteFile(const std::string& path) const { WriteBytes(path, bytes); }

void LogBuilder::WriteTar(const std::string& path) const
{
    Bytes readme = {'h', 'i', '\n'};
    WriteBytes(path, MakeTar({{"readme.txt", readme}, {"vms_log", bytes}}));
}

std::string TempDir()
{
    static std::atomic<int> s_n{0};
    const char* base = getenv("TEST_TMPDIR");
    std::string root = base ? base : std::filesystem::temp_directory_path().string();
    std::string dir = root + "/qftest-" + std::to_string(getpid()) + "-" + std::to_string(s_n++);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

long KibResidentOfMapping(void const* pb)
{
    FILE* pf = fopen("/proc/self/smaps", "r");
    if (!pf)
        return -1;
    uintptr_t const ib = (uintptr_t)pb;
    bool fIn = false;
    long kib = -1;
    char ach[512];
    while (fgets(ach, sizeof ach, pf)) {
        unsigned long ibStart, ibEnd;
        if (sscanf(ach, "%lx-%lx ", &ibStart, &ibEnd) == 2) {
            fIn = ib >= ibStart && ib < ibEnd;
            continue;
        }
        long kibRss;
        if (fIn && sscanf(ach, "Rss: %ld kB", &kibRss) == 1) {
            kib = kibRss;
            break;
        }
    }
    fclose(pf);
    return kib;
}

void WriteBytes(const std::string& path, const Bytes& data)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write((const char*)data.data(), (std::streamsize)data.size());
}

void WriteText(const std::string& path, const std::string& text)
{
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

std::string ReadText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

Bytes MakeTar(const std::vector<std::pair<std::string, Bytes>>& members)
{
    Bytes tar;
    for (auto const& [name, data] : members) {
        uint8_t hdr[512] = {};
        memcpy(hdr, name.data(), std::min<size_t>(name.size(), 100));
        snprintf((char*)hdr + 100, 8, "%07o", 0644);
        snprintf((char*)hdr + 108, 8, "%07o", 0);
        snprintf((char*)hdr + 116, 8, "%07o", 0);
        snprintf((char*)hdr + 124, 12, "%011o", (unsigned)data.size());
        snprintf((char*)hdr + 136, 12, "%011o", 1244200000u);
        hdr[156] = '0';
        memcpy(hdr + 257, "ustar", 6);
        memcpy(hdr + 263, "00", 2);
        memset(hdr + 148, ' ', 8);
        unsigned sum = 0;
        for (uint8_t c : hdr)
            sum += c;
        snprintf((char*)hdr + 148, 8, "%06o", sum);
        tar.insert(tar.end(), hdr, hdr + 512);
        tar.insert(tar.end(), data.begin(), data.end());
        tar.insert(tar.end(), (512 - data.size() % 512) % 512, 0);
    }
    tar.insert(tar.end(), 1024, 0);
    return tar;
}

Bytes ReadBytes(const std::string& path)
{
    std::string s = ReadText(path);
    return Bytes(s.begin(), s.end());
}

Bytes Concat(const std::vector<Rec>& recs)
{
    Bytes all;
    for (auto const& rec : recs) {
        Bytes b = rec.Get();
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

LogBuilder DownloadBefore(uint32_t timestampNow, const std::vector<Rec>& transient)
{
    LogBuilder log;
    log.Add(VinfRec(timestampNow - 3 * 86400, true)).Add(DayRec(timestampNow - 86400, 1000.0, 2700, 80));
    for (auto const& rec : transient)
        log.Add(rec);
    return log;
}
