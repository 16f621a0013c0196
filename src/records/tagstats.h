// Record-type statistics: every record decoded is tallied by its header bytes cb, rt, t2, t3.
#pragma once

#include <cstdint>
#include <cstring>

// Positions of the header bytes inside TAGE.tag (the record's bytes 2 to 5).
constexpr int itagCb = 0;
constexpr int itagRt = 1;
constexpr int itagT2 = 2;
constexpr int itagT3 = 3;

struct TAGE {
    uint8_t tag[4];          // cb, rt, t2, t3
    uint32_t versFirmware;   // firmware version when the tag was first met
    uint32_t crec;
    uint32_t cbTotal;
};

constexpr int ctageMax = 1000;

// The tally of one walk: a fixed table, new tags dropped once it is full.
struct TAGSTATS {
    TAGE rgtage[ctageMax];
    int ctage;
    int itageLast = 0;   // the entry found last: a log's records come in runs of one kind
};

// Tallies one record (its header bytes 2 to 5 and its length); a new tag remembers versFirmware.
void TallyRecordSlow(TAGSTATS* ptags, unsigned char const* rec, int cb, unsigned int versFirmware);
// Inline for the common case: a log's records come in runs of one kind, so the entry found last
// usually matches. Tags are unique in the table, so that entry is the one a search would find.
inline void TallyRecord(TAGSTATS* ptags, unsigned char const* rec, int cb, unsigned int versFirmware)
{
    uint32_t tag;
    memcpy(&tag, rec + 2, sizeof tag);
    int itageLast = ptags->itageLast;
    if ((unsigned)itageLast < (unsigned)ptags->ctage) {
        TAGE* ptage = &ptags->rgtage[itageLast];
        uint32_t tagLast;
        memcpy(&tagLast, ptage->tag, sizeof tagLast);
        if (tagLast == tag) {
            ptage->crec++;
            ptage->cbTotal += (uint32_t)cb;
            return;
        }
    }
    TallyRecordSlow(ptags, rec, cb, versFirmware);
}
// Sorts the table by type, then t2, t3, length and firmware: the order the tally is shown in.
void SortTagStats(TAGSTATS* ptags);
int _CmpTags(unsigned int i, unsigned int j, void* ctx);
