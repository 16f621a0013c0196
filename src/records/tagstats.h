// Record-type statistics: every record decoded is tallied by its header bytes cb, rt, t2, t3.
#pragma once

#include <cstdint>

struct TAGE {
    uint8_t tag[4];          // cb, rt, t2, t3
    uint32_t versFirmware;   // firmware version when the tag was first met
    uint32_t crec;
    uint32_t cbTotal;
};

constexpr int ctageMax = 1000;

void ResetTagStats();
// Tallies one record (its header bytes 2 to 5 and its length).
void TallyRecord(unsigned char const* rec, int cb);
// Sorts the table by type and prints it under `title`.
void PrintTagStats(const char* title);
int _CmpTags(unsigned int i, unsigned int j, void* ctx);

// The table as it stands, for tests.
int CtageInUse();
TAGE const* PtageAt(int i);
