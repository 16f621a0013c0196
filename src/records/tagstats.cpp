// Record-type statistics: every record decoded during a walk is tallied by its header signature
// (cb, rt, t2, t3), and the table is sorted by record type for showing after a listing or summary.
#include "records/tagstats.h"

#include <cstring>

#include "support/heapsort.h"


void TallyRecordSlow(TAGSTATS* ptags, unsigned char const* rec, int cb, unsigned int versFirmware)
{
    uint32_t tag;
    memcpy(&tag, rec + 2, sizeof tag);
    for (int itage = 0; itage < ptags->ctage; itage++) {
        uint32_t tagCur;
        memcpy(&tagCur, ptags->rgtage[itage].tag, sizeof tagCur);
        if (tagCur == tag) {
            ptags->rgtage[itage].crec++;
            ptags->rgtage[itage].cbTotal += (uint32_t)cb;
            ptags->itageLast = itage;
            return;
        }
    }
    // A full table drops new tags silently: the table is a survey, not an inventory.
    if (ptags->ctage >= ctageMax)
        return;
    TAGE* ptage = &ptags->rgtage[ptags->ctage++];
    memcpy(ptage->tag, &tag, sizeof tag);
    ptage->versFirmware = versFirmware;
    ptage->crec = 1;
    ptage->cbTotal = (uint32_t)cb;
}

// Never 0: equal entries compare as "after", which HeapSort accepts.
int _CmpTags(unsigned int i, unsigned int j, void* ctx)
{
    TAGE const* rgtage = (TAGE const*)ctx;
    TAGE const& tageI = rgtage[i];
    TAGE const& tageJ = rgtage[j];
    static const int s_rgitag[] = {itagRt, itagT2, itagT3, itagCb};
    for (int itag : s_rgitag) {
        if (tageI.tag[itag] != tageJ.tag[itag])
            return tageI.tag[itag] < tageJ.tag[itag] ? -1 : 1;
    }
    return tageI.versFirmware < tageJ.versFirmware ? -1 : 1;
}

void SortTagStats(TAGSTATS* ptags)
{
    HeapSort(ptags->rgtage, (unsigned int)ptags->ctage, (int)sizeof(TAGE), _CmpTags);
    ptags->itageLast = 0;
}
