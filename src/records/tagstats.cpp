// Record-type statistics: every record decoded during a walk is tallied by its header signature
// (cb, rt, t2, t3), and the table is printed sorted by record type after a listing or summary.
#include "records/tagstats.h"

#include <cstdio>
#include <cstring>

#include "records/record.h"
#include "support/heapsort.h"
#include "support/output.h"

// Positions of the header bytes inside TAGE.tag (the record's bytes 2 to 5).
constexpr int itagCb = 0;
constexpr int itagRt = 1;
constexpr int itagT2 = 2;
constexpr int itagT3 = 3;

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

void PrintTagStats(TAGSTATS* ptags, const char* title)
{
    PrintSectionTitle(title);
    fputs("rt t2 t3 cb    firmware   count    bytes  tag   notes\n"
          "-- -- -- -- ----------- ------- --------  ----  -----\n",
          stdout);
    HeapSort(ptags->rgtage, (unsigned int)ptags->ctage, (int)sizeof(TAGE), _CmpTags);
    for (int itage = 0; itage < ptags->ctage; itage++) {
        TAGE const& tage = ptags->rgtage[itage];
        char szFirmware[20];
        szFirmware[0] = '\0';
        FormatFirmwareVersion(tage.versFirmware, szFirmware, sizeof szFirmware);
        printf("%02X %02X %02X %02X %11s %7u %8u", tage.tag[itagRt], tage.tag[itagT2], tage.tag[itagT3],
               tage.tag[itagCb], szFirmware, tage.crec, tage.cbTotal);
        int rt = tage.tag[itagRt];
        if (rt < rtMax && s_mp_rt_ri[rt].szCode)
            printf("  %-4s  %s", s_mp_rt_ri[rt].szCode, s_mp_rt_ri[rt].szDesc ? s_mp_rt_ri[rt].szDesc : "");
        putchar('\n');
    }
    putchar('\n');
}
