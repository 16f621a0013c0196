// Builds log files byte by byte for tests: records with correct count bytes and checksums,
// garbage runs, plain files and tar downloads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

// One record of a fixed total length (at least 10 bytes). The last byte is the checksum byte,
// computed by Bytes(); fields written there are overwritten.
class Rec {
public:
    Rec(int rt, int cbTotal, uint32_t dateRaw = 0);
    Rec& T2(int v);
    Rec& T3(int v);
    Rec& Date(uint32_t dateRaw);
    Rec& U8(int off, int v);
    Rec& I16(int off, int v);
    Rec& U16(int off, unsigned v);
    Rec& U32(int off, uint32_t v);
    Rec& Text(int off, const std::string& s);
    // The record's bytes with marker, count byte and checksum filled in.
    Bytes Get() const;

private:
    Bytes b;
};

// Typical records, with the fields the tests use most.
Rec VinfRec(uint32_t date, bool fLongTerm, const std::string& vin = "SFZRE8B19A3000123",
            int a = 4, int b = 1, int c = 2, int d = 5);
Rec DayRec(uint32_t date, double milesOdo, unsigned rawAh, int pctSOC);
Rec IdleRec(uint32_t date, int pctSOC = -1);   // -1: no SOC bit
Rec Dr1sRec(uint32_t date, double mph, double ampsOut, double volts = 380.0, int flags = 1);
Rec D10mRec(uint32_t date, int pctSOC, double milesOdo = -1);   // -1: short record, no odometer
Rec C1mbRec(uint32_t date, double voltsLine, double ampsCharge, double ampsIn = 10.0);
Rec C30mRec(uint32_t date, int subkind, int pctSOC, int ampsAvailable);

class LogBuilder {
public:
    LogBuilder& Add(const Rec& rec);
    LogBuilder& Add(const Bytes& bytes);
    LogBuilder& Garbage(size_t cb, uint8_t b = 0x55);
    const Bytes& Data() const { return bytes; }
    size_t Size() const { return bytes.size(); }
    // Writes the log as a plain file.
    void WriteFile(const std::string& path) const;
    // Writes a ustar archive holding the log as member "vms_log" (after an optional other member).
    void WriteTar(const std::string& path) const;

private:
    Bytes bytes;
};

// A fresh empty folder under the test temp dir, removed by nobody (the test harness's dir is
// temporary). Each call returns a new one.
std::string TempDir();
void WriteBytes(const std::string& path, const Bytes& bytes);
void WriteText(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
Bytes ReadBytes(const std::string& path);

// The resident KiB of the mapping that holds pb, from /proc/self/smaps; -1 when it cannot be read.
long KibResidentOfMapping(void const* pb);

// The records' bytes one after another.
Bytes Concat(const std::vector<Rec>& recs);
// A download as a join meets it: a long-term part (81 bytes: a long-term VINF three days before
// timestampNow, a DAY record the day before) followed by the given transient records.
LogBuilder DownloadBefore(uint32_t timestampNow, const std::vector<Rec>& transient);

// A ustar archive of the given members (name, data), written by hand.
Bytes MakeTar(const std::vector<std::pair<std::string, Bytes>>& members);
