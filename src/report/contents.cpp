// The table of contents: one line per entry of the section table, a title where the part changes,
// and what each part's records cover.
#include <cstdio>

#include "report/report.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr int cchDate = 20;
constexpr int cchFirmware = 20;

const char s_szHeaderRecordHeader[] =
    "  offset   timestamp - date                 firmware        records\n"
    "--------   ------------------------------   ----------- -----------\n";

void PrintCoverLine(int crec, uint32_t timestampMin, uint32_t timestampMax)
{
    char szDate[cchDate];
    printf("%d records cover from %s", crec, DateFromTimestamp(timestampMin, szDate, cchDate));
    printf(" to %s\n", DateFromTimestamp(timestampMax, szDate, cchDate));
    putchar('\n');
}

}   // namespace

void PrintLogContents(LOGLAYOUT const* playout)
{
    int crecRunning = 0;
    for (int isec = 0; isec < playout->csec; isec++) {
        SEC const& sec = playout->rgsec[isec];
        if (sec.crec == 0) {
            printf("%08llX | %llu unused byte%s\n", (unsigned long long)sec.ibStart, (unsigned long long)sec.cb,
                   sec.cb == 1 ? "" : "s");
            continue;
        }
        if (isec == 0 || sec.fLongTerm != playout->rgsec[isec - 1].fLongTerm) {
            if (!sec.fLongTerm) {
                PrintCoverLine(crecRunning, playout->timestampMinLongTerm, playout->timestampMaxLongTerm);
                crecRunning = 0;
            }
            PrintSectionTitle(sec.fLongTerm ? "Long-term Records" : "Transient Records");
            fputs(s_szHeaderRecordHeader, stdout);
        }
        char szDate[cchDate];
        char szFirmware[cchFirmware];
        szFirmware[0] = '\0';
        FormatFirmwareVersion(sec.versFirmware, szFirmware, cchFirmware);
        printf("%08llX | %08X - %s | %-11s %4d record%s\n", (unsigned long long)sec.ibStart, sec.timestampFirst,
               DateFromTimestamp(sec.timestampFirst, szDate, cchDate), szFirmware, sec.crec,
               sec.crec == 1 ? "" : "s");
        crecRunning += sec.crec;
    }
    PrintCoverLine(crecRunning, playout->timestampMinTransient, playout->timestampMaxTransient);
}

void PrintTagStats(TAGSTATS const* ptags, const char* title)
{
    PrintSectionTitle(title);
    fputs("rt t2 t3 cb    firmware   count    bytes  tag   notes\n"
          "-- -- -- -- ----------- ------- --------  ----  -----\n",
          stdout);
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
