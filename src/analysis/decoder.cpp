// DecodeVmsFile: the analysis of one log. After the section phase it either hands the transient
// ring to the session summary or walks the records of one part that pass the user's filters, in
// the log's own time order: to the consumer as a listing, with the user's notes between them and
// the type statistics after, or to the battery study's collector.
#include "analysis/decoder.h"

#include <cstdio>

#include "analysis/sections.h"
#include "analysis/summary.h"
#include "records/listing.h"
#include "records/scanner.h"
#include "records/tagstats.h"

namespace {

constexpr int grfdispVerbose = fdispOffset | fdispRawBytes | fdispHeaderBytes;
// Width of the "0x%08lx: " prefix that an offset puts before a record line.
constexpr int cchIndentOffset = 12;
constexpr int cchTitle = 256;

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
        BeginLinearWalk(0, IbEndLongTerm(playout), &pwalk->linear, playout);
    else
        BeginLogRingWalk(playout, &pwalk->ring);
}

int FNextPartRecord(STREAM* pstream, PARTWALK* pwalk, long* ppos, int* pcb)
{
    if (pwalk->fLongTerm)
        return FNextLinearRecord(pstream, &pwalk->linear, ppos, pcb);
    return FNextRingRecord(pstream, &pwalk->ring, ppos, pcb);
}

// Goes on from ib, an entry's end: the walk finds the next entry's first record there as it finds
// every record after an unused-bytes entry.
void SkipPartWalkTo(PARTWALK* pwalk, long ib)
{
    if (pwalk->fLongTerm) {
        pwalk->linear.pos = ib;
        pwalk->linear.ibTrusted = 0;
    } else {
        pwalk->ring.pos = ib;
        pwalk->ring.ibTrusted = 0;
    }
}

// The listing walk: every record of the chosen part that passes the filters is decoded and shown
// to the consumer, or (in the study) handed to the collector.
void WalkPart(RUN* prun, STREAM* pstream, DECODE const& decode)
{
    LOGLAYOUT const* playout = &prun->layout;
    CONSUMER const* pcons = decode.pcons;
    int const fPermanent = decode.fPermanent;
    bool const fCollect = decode.mode == modeStudy;
    bool const fList = !fCollect;
    int const grfDisplay = decode.fVerbose && fList ? grfdispVerbose : 0;
    SECT const sect = fPermanent ? sectLongTerm : sectTransient;
    VLR vlr;
    ClearVlr(&vlr, sect);

    // Both listings decode with the firmware of the ring's oldest section; without a ring the
    // version is unknown rather than whatever the section scan decoded last.
    unsigned int timestampPrev = decode.timestampStart;
    prun->scan.vehicle.versFirmware = 0;
    if (playout->isecOldest >= 0) {
        SEC const& secOldest = playout->rgsec[playout->isecOldest];
        prun->scan.vehicle.versFirmware = secOldest.versFirmware;
        if (secOldest.timestampFirst > timestampPrev)
            timestampPrev = secOldest.timestampFirst;
    }

    if (fList && pcons->pfnListingStart)
        pcons->pfnListingStart(pcons->pv, grfDisplay);
    int cchIndent = (grfDisplay & fdispOffset) ? cchIndentOffset : 0;
    PFNWANTS const pfnWants = prun->scan.pfnWants;
    void* const pvWants = prun->scan.pvAggregate;
    bool const fAskCollector = fCollect && pfnWants && prun->scan.pfnAggregate;
    // The vehicle-info records are always decoded, as later records decode by the vehicle.
    uint32_t grfRtWanted = fAskCollector ? pfnWants(pvWants, sect) | 1u << rtVINF : grfRtAll;
    // With no notes to place between the records, a record the collector would drop is passed by
    // on its type alone, before its time is worked out.
    bool const fSkipByType = fAskCollector && !pcons->pfnNotes;
    bool const fShow = fList && pcons->pfnRecord;

    // A type filter passes over the entries in which the section scan found none of its types, so
    // that a listing of rare records reads little more than the scan did. The records it passes
    // over would not pass the filter, and nothing is told of those.
    bool fSkipEntries = fList && decode.grfRt != 0;
    int isecIn = -1;
    long ibInStart = 0, ibInEnd = 0;   // the entry of wanted types that the walk is in

    PARTWALK walk;
    BeginPartWalk(playout, fPermanent, &walk);
    // A ring of which only some types are wanted is taken from the records of those types that the
    // section scan noted, as long as they are the only ones wanted.
    INDEXEDWALK walkIndexed;
    bool fIndexed = fSkipByType && !fPermanent &&
                    FBeginIndexedRingWalk(playout, prun->pindex, pstream, grfRtWanted, &walkIndexed);
    long pos;
    int cb;
    for (;;) {
        if (fIndexed && !FNextIndexedRecord(pstream, &walkIndexed, &pos, &cb)) {
            if (!walkIndexed.fBroken)
                break;
            ResumeRingWalk(&walkIndexed, &walk.ring);
            fIndexed = false;
        }
        if (!fIndexed && !FNextPartRecord(pstream, &walk, &pos, &cb))
            break;
        if (fSkipEntries && (pos < ibInStart || pos >= ibInEnd)) {
            isecIn = IsecHolding(playout, pstream, pos, isecIn);
            if (isecIn < 0) {
                fSkipEntries = false;
            } else {
                SEC const& sec = playout->rgsec[isecIn];
                ibInStart = (long)sec.ibStart;
                ibInEnd = (long)(sec.ibStart + sec.cb);
                if (!(sec.grfRt & decode.grfRt)) {
                    SkipPartWalkTo(&walk, ibInEnd);
                    continue;
                }
            }
        }
        RH rhSpare;
        RH const* prh = PrhRecordHeader(pstream, pos, cb, &rhSpare);
        int const rt = prh->rt;
        if (fSkipByType && !FRtWanted(grfRtWanted, rt))
            continue;
        unsigned int timestamp = TimestampFromRh(prh);
        if (!FPassesFilter(decode, timestamp, rt))
            continue;
        ShowNotes(pcons, timestampPrev, timestamp, cchIndent);
        timestampPrev = timestamp;
        // A record that nobody lists and the collector would drop is not decoded at all.
        if (fAskCollector && !FRtWanted(grfRtWanted, rt))
            continue;
        if (fShow) {
            unsigned char rgbBuf[cbRecordBuffer];
            unsigned long cbRec = (unsigned long)cb;
            unsigned char const* pb = PbScanShownRecord(&prun->scan, pstream, pos, &cbRec, rgbBuf, &vlr);
            SHOWNRECORD rec{pos, pb, (int)cbRec, timestamp, &vlr, grfDisplay, false, prun->scan.vehicle.rver};
            pcons->pfnRecord(pcons->pv, &rec);
            continue;
        }
        ScanRecordFromFile(&prun->scan, pstream, pos, (unsigned long)cb, fCollect, &vlr);
        if (fAskCollector)
            grfRtWanted = pfnWants(pvWants, sect) | 1u << rtVINF;
        if (fIndexed && !FIndexCovers(prun->pindex, grfRtWanted)) {
            ResumeRingWalk(&walkIndexed, &walk.ring);
            fIndexed = false;
        }
    }

    if (fList) {
        const char* szPart = "";
        if (!FFiltered(decode))
            szPart = fPermanent ? "Long-term " : "Transient ";
        char szTitle[cchTitle];
        snprintf(szTitle, sizeof szTitle, "%sRecord Stats", szPart);
        SortTagStats(&prun->scan.tags);
        if (pcons->pfnListingEnd)
            pcons->pfnListingEnd(pcons->pv, &prun->scan.tags, szTitle);
    }
}

}   // namespace

void DecodeVmsFile(RUN* prun, STREAM* pstream, DECODE const& decode)
{
    QF_ASSERT(decode.mode != modeJoin);
    CONSUMER const consNone = ConsumerNone();
    DECODE decodeTold = decode;
    if (!decodeTold.pcons)
        decodeTold.pcons = &consNone;
    BuildLogLayout(&prun->scan, prun->timestampLastValid, pstream, decodeTold.pcons, &prun->layout, prun->pindex);
    if (decode.mode == modeSummary && decode.fVerbose && decodeTold.pcons->pfnContents)
        decodeTold.pcons->pfnContents(decodeTold.pcons->pv, &prun->layout);
    DecodeLaidOutFile(prun, pstream, decodeTold);
}

void DecodeLaidOutFile(RUN* prun, STREAM* pstream, DECODE const& decode)
{
    CONSUMER const consNone = ConsumerNone();
    DECODE decodeTold = decode;
    if (!decodeTold.pcons)
        decodeTold.pcons = &consNone;
    // The statistics count the walk's records only, not the VINF records of the section scan.
    prun->scan.tags.ctage = 0;
    if (decode.mode == modeSummary || decode.mode == modeDetail) {
        RunSessionSummary(prun, pstream, decodeTold);
        return;
    }
    WalkPart(prun, pstream, decodeTold);
}
