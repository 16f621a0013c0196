// The text report's consumers: what the section scan, the listing, the summary, a tar download and
// the join hand over, printed as quenfell prints it.
#include "report/report.h"

#include <cstdio>

#include "records/listing.h"
#include "report/listpipe.h"
#include "report/sessionlines.h"
#include "support/assert.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr int cchDate = 20;

REPORTER const* Prep(void* pv)
{
    return (REPORTER const*)pv;
}

void TakeTableFull(void*)
{
    PrintTooManySections();
}

void TakeVehicle(void*, VEHICLE const* pvehicle)
{
    printf("\n%s VIN %s\n\n", pvehicle->pszRoadsterVersion ? pvehicle->pszRoadsterVersion : "", pvehicle->achVIN);
}

void TakeContents(void*, LOGLAYOUT const* playout)
{
    PrintLogContents(playout);
}

void TakeNotes(void* pv, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent)
{
    REPORTER const* prep = Prep(pv);
    if (!prep->pnotes)
        return;
    // A note stands after the records before it, whichever thread formats them.
    if (prep->plistpipe && FNotesDue(prep->pnotes, timestampPrev, timestampCur))
        DrainListPipe(prep->plistpipe);
    PrintNotes(prep->pnotes, timestampPrev, timestampCur, cchIndent);
}

// The listing's lines carry the report's layout on top of the parts their place asks for.
int GrfDisplay(REPORTER const* prep, int grfParts)
{
    return grfParts | (prep->fTab ? fdispTab : 0) | (prep->fMetric ? fdispMetric : 0);
}

void TakeListingStart(void* pv, int grfParts)
{
    REPORTER* prep = (REPORTER*)pv;
    int const grfDisplay = GrfDisplay(prep, grfParts);
    if (grfDisplay & fdispTab)
        PrintVlrHeader(grfDisplay);
    else
        PrintTextHeader(grfDisplay);
    QF_ASSERT(prep->plistpipe == nullptr);
    prep->plistpipe = PlistpipeOpen(prep->cworkerListing);
}

// The -u trace's records keep the column layout in miles, whatever the report's layout.
void TakeRecord(void* pv, SHOWNRECORD const* prec)
{
    REPORTER const* prep = Prep(pv);
    int const grfDisplay = prec->fTrace ? prec->grfDisplay : GrfDisplay(prep, prec->grfDisplay);
    if (prep->plistpipe && !prec->fTrace) {
        PipeRecord(prep->plistpipe, prec, grfDisplay);
        return;
    }
    PrintRecordLine(prec->pos, prec->pb, prec->cb, prec->pvlr, grfDisplay);
}

void TakeListingEnd(void* pv, TAGSTATS const* ptags, char const* szTitle)
{
    REPORTER* prep = (REPORTER*)pv;
    CloseListPipe(prep->plistpipe);
    prep->plistpipe = nullptr;
    putchar('\n');
    PrintTagStats(ptags, szTitle);
}

void TakeSummaryStart(void* pv)
{
    PrintSummaryHeader(Prep(pv));
}

void TakeSummaryNote(void*, SUMMARYNOTE snote, uint32_t timestamp, int pctSOC)
{
    PrintSummaryNote(snote, timestamp, pctSOC);
}

void TakeDrive(void* pv, DRIVESESSION const* pds)
{
    PrintDriveLine(Prep(pv), pds);
}

void TakeCharge(void* pv, CHARGESESSION const* pcs)
{
    PrintChargeLine(Prep(pv), pcs);
}

void TakeSegment(void*, CHARGESEGMENT const* pseg)
{
    PrintSegmentLine(pseg);
}

void TakeTotals(void* pv, SUMMARYTOTALS const* ptotals)
{
    PrintTotals(Prep(pv), ptotals);
}

void TakeStats(void*, TAGSTATS const* ptags, char const* szTitle)
{
    PrintTagStats(ptags, szTitle);
}

void TakeCapacity(void*, double ahCAC, uint32_t timestamp)
{
    PrintCapacity(ahCAC, timestamp);
}

// ---- A tar download's members ----

void TakeTarOpened(void* pv)
{
    if (!Prep(pv)->fListMembers)
        return;
    printf("\n");
    PrintSectionTitle("Tarball Contents");
    printf("    Size Name\n");
    printf("-------- -----------------\n");
}

void TakeMember(void* pv, TARF const& tarf)
{
    fputs(tarf.szPrefix, stdout);
    if (!Prep(pv)->fListMembers)
        return;
    if (tarf.chType == '0')
        printf("%8lu", (unsigned long)tarf.cb);
    else
        printf("%8s", "");
    printf(" %s \n", tarf.szName);
}

// ---- The join ----

// A record of a merge message: the column layout in miles, with raw and header bytes, whatever the
// options say.
void PrintMergeRecord(unsigned char const* pb, int cb, VLR const* pvlr)
{
    PrintRecordLine(0, pb, cb, pvlr, fdispRawBytes | fdispHeaderBytes);
}

void TakeStarted(void*, char const* pszName)
{
    printf("%s started\n", pszName);
}

void TakeFinished(void*, char const* pszName)
{
    printf("%s finished\n", pszName);
}

void TakeSkip(void*, char const* pszName, unsigned char const* pb, int cb, VLR const* pvlr)
{
    printf("Skip: %s ", pszName);
    PrintMergeRecord(pb, cb, pvlr);
}

void TakeMismatch(void*, char const* pszWritten, unsigned char const* pbWritten, int cbWritten,
                  VLR const* pvlrWritten, char const* pszOther, unsigned char const* pbOther, int cbOther,
                  VLR const* pvlrOther)
{
    printf("NOTE: non-matching records\n");
    printf("%s: ", pszWritten);
    PrintMergeRecord(pbWritten, cbWritten, pvlrWritten);
    printf("%s: ", pszOther);
    PrintMergeRecord(pbOther, cbOther, pvlrOther);
    printf("--------------------------");
}

}   // namespace

CONSUMER ConsumerOfReport(REPORTER* preporter)
{
    CONSUMER cons{};
    cons.pv = preporter;
    cons.pfnTableFull = TakeTableFull;
    cons.pfnVehicle = TakeVehicle;
    cons.pfnContents = TakeContents;
    cons.pfnNotes = preporter->pnotes && preporter->pnotes->cnote > 0 ? TakeNotes : nullptr;
    cons.pfnListingStart = TakeListingStart;
    cons.pfnRecord = TakeRecord;
    cons.pfnListingEnd = TakeListingEnd;
    cons.pfnSummaryStart = TakeSummaryStart;
    cons.pfnSummaryNote = TakeSummaryNote;
    cons.pfnDrive = TakeDrive;
    cons.pfnCharge = TakeCharge;
    cons.pfnSegment = TakeSegment;
    cons.pfnTotals = TakeTotals;
    cons.pfnStats = TakeStats;
    cons.pfnCapacity = TakeCapacity;
    return cons;
}

CONSUMER ConsumerOfStudyReport(REPORTER* preporter)
{
    CONSUMER cons{};
    cons.pv = preporter;
    cons.pfnTableFull = TakeTableFull;
    return cons;
}

MEMBERHOOK MemberHookOfReport(REPORTER* preporter)
{
    return MEMBERHOOK{preporter, TakeTarOpened, TakeMember};
}

MERGEHOOK MergeHookOfReport(REPORTER* preporter)
{
    return MERGEHOOK{preporter, TakeStarted, TakeFinished, TakeSkip, TakeMismatch};
}

void PrintJoinStart()
{
    printf("\n");
}

void PrintPreviewRow(void*, PREVIEWROW const* prow)
{
    char szMin[cchDate], szMax[cchDate], szHigh[cchDate];
    printf("%s - %s %08lX %08lX %s\n", DateFromTimestamp(prow->timestampMin, szMin, cchDate),
           DateFromTimestamp(prow->timestampMax, szMax, cchDate), (unsigned long)prow->ibStart,
           (unsigned long)prow->ibOldest, prow->pszName);
    printf("\tused %d records, up to %s\n", prow->cused, DateFromTimestamp(prow->timestampHigh, szHigh, cchDate));
}

void PrintJoinEnd(long cwritten, char const* pszOutput)
{
    printf("%ld records written to %s\n", cwritten, pszOutput);
}

void PrintTooManySections()
{
    fputs("ERROR: too many sections in log file!\n", stdout);
}

void PrintTimeZoneUsed(char const* pszName, double hoursOffset)
{
    printf("Using time zone %s (GMT%s%g).\n", pszName, hoursOffset >= 0 ? "+" : "", hoursOffset);
}

void PrintTimeZoneList()
{
    printf("Code Delta Name\n");
    printf("---- ----- --------------\n");
    KNOWNZONE known;
    for (int iabbrev = 0; FKnownAbbreviation(iabbrev, &known); iabbrev++) {
        if (known.fFound)
            printf("%-4s %5.1f %s\n", known.szAbbrev, known.hoursOffset, known.szZone);
    }
}
