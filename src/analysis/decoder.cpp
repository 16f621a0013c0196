// DecodeVmsFile: the analysis of one log. After the section phase it either hands the transient
// ring to the session summary or lists the records of one part that pass the user's filters, in
// the log's own time order, with the user's notes between them and the type statistics after.
#include "analysis/decoder.h"

#include <cstdio>

#include "analysis/sections.h"
#include "analysis/summary.h"
#include "records/listing.h"
#include "records/scanner.h"
#include "records/tagstats.h"
#include "support/output.h"

namespace {

constexpr uint32_t timestampNone = 0xFFFFFFFFu;
constexpr int grfdispVerbose = fdispOffset | fdispRawBytes | fdispHeaderBytes;
// Width of the "0x%08lx: " prefix that an offset puts before a record line.
constexpr int cchIndentOffset = 12;
constexpr int cchTitle = 256;

// The walk's decoded record: large, and it lives for one walk.
VLR s_vlr;
PFNNOTES s_pfnNotes;

// One part of the log in time order: the long-term part in file order, or the transient ring.
struct PARTWALK {
    int fLongTerm;
    LINEARWALK linear;
    RINGWALK ring;
};

void BeginPartWalk(LOGLAYOUT const* playout, int fLongTerm, PARTWALK* pwalk)
{
    pwalk->fLongTerm = fLongTerm;
    if (fLongTerm)
        BeginLinearWalk(0, IbEndLongTerm(playout), &pwalk->linear);
    else
        BeginRingWalk(playout, &pwalk->ring);
}

int FNextPartRecord(STREAM* pstream, LOGLAYOUT const* playout, PARTWALK* pwalk, long* ppos, int* pcb)
{
    if (pwalk->fLongTerm)
        return FNextLinearRecord(pstream, playout, &pwalk->linear, ppos, pcb);
    return FNextRingRecord(pstream, playout, &pwalk->ring, ppos, pcb);
}

void PrintListingHeading(int grfDisp)
{
    if (grfDisp & fdispTab)
        PrintVlrHeader(grfDisp);
    else
        PrintTextHeader(grfDisp);
}

// The listing walk: every record of the chosen part that passes the filters is decoded (and, by
// the display flags, printed or handed to the battery study).
void ListRecords(STREAM* pstream, LOGLAYOUT const* playout, int fVerbose, int grfDisplay, int fPermanent,
                 unsigned int grfRt, unsigned int timestampStart, unsigned int timestampEnd)
{
    ClearVlr(&s_vlr, fPermanent ? sectLongTerm : sectTransient);

    int grfDisp = grfDisplay;
    if (!(grfDisplay & fdispAggregate))
        grfDisp |= fdispList;
    if (fVerbose)
        grfDisp |= grfdispVerbose;

    // Both listings decode with the firmware of the ring's oldest section; without a ring the
    // version is unknown rather than whatever the section scan decoded last.
    unsigned int timestampPrev = timestampStart;
    s_versFirmware = 0;
    if (playout->isecOldest >= 0) {
        SEC const& secOldest = playout->rgsec[playout->isecOldest];
        s_versFirmware = secOldest.versFirmware;
        if (secOldest.timestampFirst > timestampPrev)
            timestampPrev = secOldest.timestampFirst;
    }

    if (grfDisp & fdispList)
        PrintListingHeading(grfDisp);
    int cchIndent = (grfDisp & fdispOffset) ? cchIndentOffset : 0;

    PARTWALK walk;
    BeginPartWalk(playout, fPermanent, &walk);
    long pos;
    int cb;
    while (FNextPartRecord(pstream, playout, &walk, &pos, &cb)) {
        RH rh;
        FReadRecordHeader(pstream, pos, cb, &rh);
        unsigned int timestamp = TimestampFromRh(&rh);
        if (!FPassesFilter(timestamp, rh.rt, grfRt, timestampStart, timestampEnd))
            continue;
        FPrintNotes(timestampPrev, timestamp, cchIndent);
        ScanRecordFromFile(pstream, pos, (unsigned long)cb, grfDisp, &s_vlr);
        timestampPrev = timestamp;
    }

    if (grfDisp & fdispList) {
        putchar('\n');
        const char* szPart = "";
        if (!grfRt && !timestampStart && !timestampEnd)
            szPart = fPermanent ? "Long-term " : "Transient ";
        char szTitle[cchTitle];
        snprintf(szTitle, sizeof szTitle, "%sRecord Stats", szPart);
        PrintTagStats(szTitle);
    }
}

}   // namespace

int FPassesFilter(unsigned int timestamp, int rt, unsigned int grfRt, unsigned int timestampStart,
                  unsigned int timestampEnd)
{
    // Erased-flash times would pass an open end bound, but a time window never means them.
    if ((timestampStart || timestampEnd) && timestamp == timestampNone)
        return 0;
    if (timestamp < timestampStart)
        return 0;
    if (timestampEnd && timestamp > timestampEnd)
        return 0;
    if (grfRt && !(grfRt & (1u << ((unsigned int)rt % 32))))
        return 0;
    return 1;
}

void SetNotesPrinter(PFNNOTES pfn)
{
    s_pfnNotes = pfn;
}

int FPrintNotes(unsigned int timestampPrev, unsigned int timestampCur, int cchIndent)
{
    return s_pfnNotes ? s_pfnNotes(timestampPrev, timestampCur, cchIndent) : 0;
}

void DecodeVmsFile(const char* pszPath, STREAM* pstream, int fVerbose, int fSummary, int fChargeDetail,
                   int grfDisplay, int fPermanent, unsigned int grfRt, unsigned int timestampStart,
                   unsigned int timestampEnd)
{
    // Static: the table is large, and it only lives for this call.
    static LOGLAYOUT s_layout;
    BuildLogLayout(pstream, &s_layout, grfDisplay, fVerbose && fSummary);
    // The statistics count the walk's records only, not the VINF records of the section scan.
    ResetTagStats();
    if (fSummary || fChargeDetail) {
        RunSessionSummary(pszPath, pstream, &s_layout, fVerbose, fChargeDetail, grfDisplay, grfRt, timestampStart,
                          timestampEnd);
        return;
    }
    ListRecords(pstream, &s_layout, fVerbose, grfDisplay, fPermanent, grfRt, timestampStart, timestampEnd);
}
