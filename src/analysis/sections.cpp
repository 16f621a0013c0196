// The log's sections: one pass over the record headers builds the section table, from which the
// long-term part's end, the transient ring's oldest record and each section's firmware follow;
// the walks that visit the records in the log's own time order are built on that table.
#include "analysis/sections.h"

#include <algorithm>
#include <cstring>

#include "analysis/consumer.h"
#include "records/scanner.h"
#include "support/assert.h"

namespace {

constexpr uint32_t timestampNone = 0xFFFFFFFFu;
// A timestamp is "valid" here when it lies after this instant (2001-01-01 00:00:00 UTC) and is
// not erased flash; several tests use the instant itself as their bound, each says which.
constexpr uint32_t timestampBefore2001 = 978307200u;
constexpr uint32_t timestampValidFirst = timestampBefore2001 + 1;
// Transient sections dated this far after the newest long-term record are left out of the ring:
// they carry a clock that was wrong, and taking them as the oldest would scramble the order.
constexpr uint32_t secRingLimit = 2592000u;   // 30 days
constexpr uint8_t ft3LongTerm = 0x80;

void WidenSpan(uint32_t* ptimestampMin, uint32_t* ptimestampMax, uint32_t timestamp)
{
    if (timestamp < *ptimestampMin)
        *ptimestampMin = timestamp;
    if (timestamp > *ptimestampMax)
        *ptimestampMax = timestamp;
}

// Appends an entry at ibStart with the flag of the entry before it, or marks the table full (the
// scan stops there) and returns null.
SEC* PsecAppend(LOGLAYOUT* playout, int64_t ibStart)
{
    if (playout->csec >= csecMax) {
        playout->fTableFull = 1;
        return nullptr;
    }
    QF_ASSERT(playout->csec == 0 || ibStart >= playout->rgsec[playout->csec - 1].ibStart);
    SEC* psec = &playout->rgsec[playout->csec];
    psec->ibStart = ibStart;
    psec->cb = 0;
    psec->timestampFirst = timestampNone;
    psec->versFirmware = 0;
    psec->fLongTerm = playout->csec > 0 ? playout->rgsec[playout->csec - 1].fLongTerm : 0;
    psec->crec = 0;
    psec->grfRt = 0;
    playout->csec++;
    return psec;
}

uint32_t GrfRtOf(int rt)
{
    return 1u << ((unsigned)rt % 32);
}

// Notes the record at pos in the index, whose types the caller has checked.
void NoteIndexed(RECORDINDEX* pindex, long pos)
{
    if (pindex->cib < cibRecordIndexMax)
        pindex->rgib[pindex->cib++] = (uint32_t)pos;
    else
        pindex->fIncomplete = 1;
}

// Widens the time span of the part that the record belongs to (what the table of contents
// reports). DR1S and D10M records never move either span.
void AccountForSpans(LOGLAYOUT* playout, RH const& rh, uint32_t timestamp, uint32_t timestampLastValid)
{
    if (rh.rt == rtVINF) {
        if (timestamp < timestampValidFirst)
            return;
        if (rh.t3 & ft3LongTerm)
            WidenSpan(&playout->timestampMinLongTerm, &playout->timestampMaxLongTerm, timestamp);
        else
            WidenSpan(&playout->timestampMinTransient, &playout->timestampMaxTransient, timestamp);
        return;
    }
    if (rh.rt == rtDR1S || rh.rt == rtD10M || playout->csec == 0)
        return;
    SEC const& secCur = playout->rgsec[playout->csec - 1];
    if (secCur.fLongTerm) {
        if (timestamp >= timestampBefore2001 && timestamp <= timestampLastValid)
            WidenSpan(&playout->timestampMinLongTerm, &playout->timestampMaxLongTerm, timestamp);
    } else if (secCur.timestampFirst > timestampBefore2001) {
        WidenSpan(&playout->timestampMinTransient, &playout->timestampMaxTransient, timestamp);
    }
}

// The records that follow the current entry's last one back to back, from pos on, up to the next
// VINF record, short record or gap: counted into the entry and their times into the spans as
// AccountForSpans would, without the general step's searching and copying. Returns where the
// records taken end.
template <bool fIndex>
long ScanRunOfRecords(unsigned char const* pbMap, long cbFile, long pos, uint32_t timestampLastValid,
                      LOGLAYOUT* playout, RECORDINDEX* pindex)
{
    uint32_t const grfRtIndexed = fIndex ? pindex->grfRt : 0;
    SEC* psec = &playout->rgsec[playout->csec - 1];
    bool const fLongTerm = psec->fLongTerm;
    bool const fTransientSpan = !fLongTerm && psec->timestampFirst > timestampBefore2001;
    uint32_t* ptimestampMin = fLongTerm ? &playout->timestampMinLongTerm : &playout->timestampMinTransient;
    uint32_t* ptimestampMax = fLongTerm ? &playout->timestampMaxLongTerm : &playout->timestampMaxTransient;
    uint32_t timestampMin = *ptimestampMin;
    uint32_t timestampMax = *ptimestampMax;
    int32_t crec = psec->crec;
    uint32_t grfRt = psec->grfRt;
    while (pos + cbRecordHeader <= cbFile) {
        __builtin_prefetch(pbMap + pos + cbReadAhead);
        int cb = CbRecordAt(pbMap, cbFile, pos);
        if (cb < cbRecordHeader)
            break;
        RH const* prh = (RH const*)(pbMap + pos);
        int rt = prh->rt;
        if (rt == rtVINF)
            break;
        if (rt != rtDR1S && rt != rtD10M) {
            uint32_t timestamp = TimestampFromRh(prh);
            if (fLongTerm ? timestamp >= timestampBefore2001 && timestamp <= timestampLastValid : fTransientSpan) {
                if (timestamp < timestampMin)
                    timestampMin = timestamp;
                if (timestamp > timestampMax)
                    timestampMax = timestamp;
            }
        }
        grfRt |= GrfRtOf(rt);
        if (fIndex && (grfRtIndexed & GrfRtOf(rt)))
            NoteIndexed(pindex, pos);
        crec++;
        pos += cb;
    }
    psec->crec = crec;
    psec->grfRt = grfRt;
    *ptimestampMin = timestampMin;
    *ptimestampMax = timestampMax;
    return pos;
}

// Step 1: one pass over the file, reading only record headers (and decoding VINF records).
// The current entry is always the last one appended.
void ScanSections(SCANSTATE* pscan, unsigned int timestampLastValid, STREAM* pstream, LOGLAYOUT* playout,
                  RECORDINDEX* pindex)
{
    long cbFile = playout->cbFile;
    if (cbFile < 1)
        return;
    long posSearch = 0;
    long posExpected = 0;
    for (;;) {
        long pos = posSearch;
        int cb = 0;
        if (!FScanToRecord(pstream, &pos, cbFile, &cb))
            pos = cbFile;
        if (pos != posExpected) {
            if (!PsecAppend(playout, posExpected))
                return;
            if (pos == cbFile)
                return;
        }
        RH rhSpare;
        RH const& rh = *PrhRecordHeader(pstream, pos, cb, &rhSpare);
        uint32_t timestamp = TimestampFromRh(&rh);
        AccountForSpans(playout, rh, timestamp, timestampLastValid);
        if (pindex && (pindex->grfRt & GrfRtOf(rh.rt)))
            NoteIndexed(pindex, pos);

        if (pos != posExpected || rh.rt == rtVINF) {
            SEC* psec = PsecAppend(playout, pos);
            if (!psec)
                return;
            psec->crec = 1;
            psec->grfRt = GrfRtOf(rh.rt);
            psec->timestampFirst = timestamp;
            if (rh.rt == rtVINF) {
                psec->fLongTerm = (rh.t3 & ft3LongTerm) ? 1 : 0;
                pscan->vehicle.versFirmware = 0;
                ScanRecordFromFile(pscan, pstream, pos, (unsigned long)cb, 0, nullptr);
                psec->versFirmware = pscan->vehicle.versFirmware;
            }
        } else if (playout->csec > 0) {
            playout->rgsec[playout->csec - 1].crec++;
            playout->rgsec[playout->csec - 1].grfRt |= GrfRtOf(rh.rt);
        }
        // A found record is at least 3 bytes long; the guard only keeps a broken scanner from
        // looping forever.
        posExpected = posSearch = pos + (cb > 0 ? cb : 1);
        if (pstream->PbMap() && playout->csec > 0)
            posExpected = posSearch =
                pindex ? ScanRunOfRecords<true>(pstream->PbMap(), cbFile, posSearch, timestampLastValid, playout, pindex)
                       : ScanRunOfRecords<false>(pstream->PbMap(), cbFile, posSearch, timestampLastValid, playout, nullptr);
        if (posSearch >= cbFile)
            return;
    }
}

// A section without its own VINF record takes the version of the last earlier-dated long-term
// section, in file order, before the first transient entry.
void InheritFirmware(LOGLAYOUT* playout, int isec)
{
    SEC* psec = &playout->rgsec[isec];
    if (psec->versFirmware != 0 || isec == 0)
        return;
    for (int isecPrev = 0; isecPrev < isec; isecPrev++) {
        SEC const& secPrev = playout->rgsec[isecPrev];
        if (secPrev.timestampFirst < timestampBefore2001)
            continue;
        if (!secPrev.fLongTerm)
            return;
        if (secPrev.timestampFirst < psec->timestampFirst)
            psec->versFirmware = secPrev.versFirmware;
    }
}

// Step 2: lengths, firmware inheritance, and the ring's start and wrap points.
void CompleteTable(LOGLAYOUT* playout)
{
    // Without any long-term time (a joined log, or a download without a long-term part) there is
    // nothing to measure "too late" against, so every valid transient section may qualify.
    uint32_t timestampLimit =
        playout->timestampMaxLongTerm == 0 ? timestampNone : playout->timestampMaxLongTerm + secRingLimit;
    uint32_t timestampOldest = timestampNone;
    for (int isec = 0; isec < playout->csec; isec++) {
        SEC* psec = &playout->rgsec[isec];
        int64_t ibEnd = isec + 1 < playout->csec ? playout->rgsec[isec + 1].ibStart : (int64_t)playout->cbFile;
        psec->cb = ibEnd - psec->ibStart;
        if (psec->crec == 0)
            continue;
        InheritFirmware(playout, isec);
        uint32_t timestamp = psec->timestampFirst;
        if (psec->fLongTerm || timestamp < timestampValidFirst || timestamp == timestampNone ||
            timestamp >= timestampLimit)
            continue;
        if (playout->isecFirstTransient < 0)
            playout->isecFirstTransient = isec;
        if (timestamp < timestampOldest) {
            timestampOldest = timestamp;
            playout->isecOldest = isec;
        }
    }
}

}   // namespace

int FReadRecordHeaderSlow(STREAM* pstream, long pos, int cb, RH* prh)
{
    unsigned char const* pbMap = pstream->PbMap();
    memset(prh, 0, sizeof *prh);
    int cbRead = cb < cbRecordHeader ? cb : cbRecordHeader;
    if (cbRead <= 0 || pos < 0)
        return 0;
    if (pbMap) {
        long cbFile = pstream->CbSize();
        if (pos > cbFile - cbRead)
            return 0;
        memcpy(prh, pbMap + pos, (size_t)cbRead);
        return 1;
    }
    return pstream->FSetPos(pos) && pstream->FReadBytes(cbRead, prh);
}

void BuildLogLayout(SCANSTATE* pscan, unsigned int timestampLastValid, STREAM* pstream, CONSUMER const* pcons,
                    LOGLAYOUT* playout, RECORDINDEX* pindex)
{
    playout->csec = 0;
    playout->cbFile = pstream->CbSize();
    playout->timestampMinLongTerm = playout->timestampMinTransient = timestampNone;
    playout->timestampMaxLongTerm = playout->timestampMaxTransient = 0;
    playout->isecOldest = playout->isecFirstTransient = -1;
    playout->fTableFull = 0;

    if (pindex) {
        pindex->cib = 0;
        // Offsets are noted in 32 bits.
        pindex->fIncomplete = playout->cbFile > (long)UINT32_MAX;
        if (pindex->fIncomplete)
            pindex = nullptr;
    }
    pstream->PopulateBytes(0, playout->cbFile);
    ScanSections(pscan, timestampLastValid, pstream, playout, pindex);
    QF_ASSERT(playout->csec >= 0 && playout->csec <= csecMax);
    // Nothing else is said during the scan, so the message comes where the scan stopped.
    if (playout->fTableFull && pcons && pcons->pfnTableFull)
        pcons->pfnTableFull(pcons->pv);
    if (pcons && pcons->pfnVehicle)
        pcons->pfnVehicle(pcons->pv, &pscan->vehicle);
    CompleteTable(playout);
    QF_ASSERT((playout->isecOldest < 0) == (playout->isecFirstTransient < 0));
    QF_ASSERT(playout->isecOldest < 0 ||
              (playout->isecOldest < playout->csec && playout->isecFirstTransient <= playout->isecOldest &&
               playout->rgsec[playout->isecFirstTransient].ibStart <= playout->rgsec[playout->isecOldest].ibStart));
}

namespace {

// The entry that starts at pos, or -1.
int IsecStartingAt(LOGLAYOUT const* playout, long pos)
{
    int isecLo = 0;
    int isecHi = playout->csec;
    while (isecLo < isecHi) {
        int isecMid = isecLo + (isecHi - isecLo) / 2;
        if (playout->rgsec[isecMid].ibStart < pos)
            isecLo = isecMid + 1;
        else
            isecHi = isecMid;
    }
    if (isecLo >= playout->csec || playout->rgsec[isecLo].ibStart != pos)
        return -1;
    return isecLo;
}

}   // namespace

long IbTrustedRun(LOGLAYOUT const* playout, STREAM* pstream, long pos, long ibCap)
{
    if (!playout || !pstream->PbMap() || pstream->CbSize() != playout->cbFile)
        return 0;
    int isec = IsecStartingAt(playout, pos);
    if (isec < 0)
        return 0;
    SEC const& sec = playout->rgsec[isec];
    // The scan stopped inside the last entry of a full table: its end is not known.
    if (sec.crec == 0 || (playout->fTableFull && isec == playout->csec - 1))
        return 0;
    long ibEnd = (long)(sec.ibStart + sec.cb);
    QF_ASSERT(ibEnd >= pos);
    if (ibEnd > pstream->CbSize())
        return 0;
    return ibEnd < ibCap ? ibEnd : ibCap;
}

int IsecHolding(LOGLAYOUT const* playout, STREAM* pstream, long pos, int isecHint)
{
    if (playout->fTableFull || playout->csec == 0 || !pstream->PbMap() || pstream->CbSize() != playout->cbFile ||
        pos < playout->rgsec[0].ibStart || pos >= playout->cbFile)
        return -1;
    int isec = isecHint;
    if (isec < 0 || isec >= playout->csec || pos < playout->rgsec[isec].ibStart) {
        // The last entry that starts at or before pos.
        int isecLo = 0;
        int isecHi = playout->csec;
        while (isecHi - isecLo > 1) {
            int isecMid = isecLo + (isecHi - isecLo) / 2;
            if (playout->rgsec[isecMid].ibStart <= pos)
                isecLo = isecMid;
            else
                isecHi = isecMid;
        }
        isec = isecLo;
    }
    while (isec + 1 < playout->csec && playout->rgsec[isec + 1].ibStart <= pos)
        isec++;
    return isec;
}

namespace {

// What a search from pos up to posLimit finds when the section scan made that very search: pos
// starts an unused-bytes entry (the scan searched from there, the end of a record or the start of
// the file, with the file's end as its limit), and the scan found its next record where the
// following entry starts, or none at all when the entry is the last. 1 with the record's offset and
// length, 0 for no record, -1 when not known (and the walk searches).
int KnownSearch(LOGLAYOUT const* playout, STREAM* pstream, long pos, long posLimit, long* pposFound, int* pcb)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (!playout || !pbMap || posLimit != playout->cbFile || pstream->CbSize() != playout->cbFile)
        return -1;
    int isec = IsecStartingAt(playout, pos);
    if (isec < 0 || playout->rgsec[isec].crec != 0)
        return -1;
    if (isec == playout->csec - 1)
        return playout->fTableFull ? -1 : 0;
    long posFound = (long)playout->rgsec[isec + 1].ibStart;
    if (posFound + 3 > playout->cbFile)
        return -1;
    int cb = CbRecordAt(pbMap, playout->cbFile, posFound);
    if (cb == 0)
        return -1;
    *pposFound = posFound;
    *pcb = cb;
    return 1;
}

}   // namespace

void BeginRingWalk(long ibOldest, long ibWrap, long ibEnd, int fWrap, RINGWALK* pwalk)
{
    pwalk->pos = ibOldest;
    pwalk->ibOldest = ibOldest;
    pwalk->ibWrap = ibWrap;
    pwalk->ibEnd = ibEnd;
    pwalk->fWrap = fWrap;
    pwalk->fWrapped = 0;
    pwalk->fDone = 0;
    pwalk->playout = nullptr;
    pwalk->ibTrusted = 0;
}

void BeginLogRingWalk(LOGLAYOUT const* playout, RINGWALK* pwalk)
{
    if (playout->isecOldest < 0 || playout->isecFirstTransient < 0) {
        BeginRingWalk(playout->cbFile, playout->cbFile, playout->cbFile, 0, pwalk);
        pwalk->fDone = 1;
        return;
    }
    BeginRingWalk((long)playout->rgsec[playout->isecOldest].ibStart,
                  (long)playout->rgsec[playout->isecFirstTransient].ibStart, playout->cbFile, 1, pwalk);
    pwalk->playout = playout;
}

int FSearchRingRecord(STREAM* pstream, RINGWALK* pwalk, long* ppos, int* pcb)
{
    pwalk->ibTrusted = 0;
    while (!pwalk->fDone) {
        long pos = pwalk->pos;
        int cb = 0;
        int fFound = KnownSearch(pwalk->playout, pstream, pos, pwalk->ibEnd, &pos, &cb);
        if (fFound < 0)
            fFound = FScanToRecord(pstream, &pos, pwalk->ibEnd, &cb);
        if (fFound) {
            QF_ASSERT(pos >= pwalk->pos && pos < pwalk->ibEnd && cb >= 3);
            QF_ASSERT(!pwalk->fWrapped || pwalk->fWrap);
            // Back at (or, after damaged bytes, past) the oldest record: the ring has been read once.
            if (pwalk->fWrapped && pos >= pwalk->ibOldest)
                break;
            pwalk->pos = pos + (cb > 0 ? cb : 1);
            // After the wrap the walk ends before the oldest record, so no trusted run reaches it.
            pwalk->ibTrusted = IbTrustedRun(pwalk->playout, pstream, pos,
                                            pwalk->fWrapped && pwalk->ibOldest < pwalk->ibEnd ? pwalk->ibOldest
                                                                                               : pwalk->ibEnd);
            *ppos = pos;
            *pcb = cb;
            return 1;
        }
        if (pwalk->fWrapped || !pwalk->fWrap)
            break;
        pwalk->fWrapped = 1;
        pwalk->pos = pwalk->ibWrap;
    }
    pwalk->fDone = 1;
    return 0;
}

long IbEndLongTerm(LOGLAYOUT const* playout)
{
    if (playout->isecFirstTransient < 0)
        return playout->cbFile;
    return (long)playout->rgsec[playout->isecFirstTransient].ibStart;
}

void BeginLinearWalk(long ibStart, long ibEnd, LINEARWALK* pwalk, LOGLAYOUT const* playout)
{
    pwalk->pos = ibStart;
    pwalk->ibEnd = ibEnd;
    pwalk->fDone = ibStart >= ibEnd;
    pwalk->playout = playout;
    pwalk->ibTrusted = 0;
}

int FSearchLinearRecord(STREAM* pstream, LINEARWALK* pwalk, long* ppos, int* pcb)
{
    pwalk->ibTrusted = 0;
    if (pwalk->fDone)
        return 0;
    long pos = pwalk->pos;
    int cb = 0;
    int fFound = KnownSearch(pwalk->playout, pstream, pos, pstream->CbSize(), &pos, &cb);
    if (fFound < 0)
        fFound = FScanToRecord(pstream, &pos, pstream->CbSize(), &cb);
    if (!fFound || pos >= pwalk->ibEnd) {
        pwalk->fDone = 1;
        return 0;
    }
    pwalk->pos = pos + (cb > 0 ? cb : 1);
    pwalk->ibTrusted = IbTrustedRun(pwalk->playout, pstream, pos, pwalk->ibEnd);
    *ppos = pos;
    *pcb = cb;
    return 1;
}

namespace {

// The first entry of the index at or beyond ib (below 4 GiB: the index is only of such files).
int IibFirstAtOrAfter(RECORDINDEX const* pindex, long ib)
{
    return (int)(std::lower_bound(pindex->rgib, pindex->rgib + pindex->cib, (uint32_t)ib) - pindex->rgib);
}

}   // namespace

int FIndexCovers(RECORDINDEX const* pindex, uint32_t grfRtWanted)
{
    // A type past 31 is wanted only with every bit set, and every such record is noted only then.
    return grfRtWanted == grfRtAll ? pindex->grfRt == grfRtAll : (grfRtWanted & ~pindex->grfRt) == 0;
}

int FBeginIndexedRingWalk(LOGLAYOUT const* playout, RECORDINDEX const* pindex, STREAM* pstream,
                          uint32_t grfRtWanted, INDEXEDWALK* pwalk)
{
    if (!pindex || pindex->fIncomplete || playout->fTableFull || !pstream->PbMap() ||
        pstream->CbSize() != playout->cbFile || !FIndexCovers(pindex, grfRtWanted))
        return 0;
    pwalk->pindex = pindex;
    pwalk->fWrapped = 0;
    pwalk->posNext = -1;
    pwalk->fWrappedNext = 0;
    pwalk->fBroken = 0;
    if (playout->isecOldest < 0) {
        pwalk->iib = pwalk->iibEnd = pwalk->iibWrap = pwalk->iibWrapEnd = 0;
        return 1;
    }
    // From the oldest record to the end of the file, then from the ring's start up to the oldest.
    int const iibOldest = IibFirstAtOrAfter(pindex, (long)playout->rgsec[playout->isecOldest].ibStart);
    pwalk->iib = iibOldest;
    pwalk->iibEnd = pindex->cib;
    pwalk->iibWrap = IibFirstAtOrAfter(pindex, (long)playout->rgsec[playout->isecFirstTransient].ibStart);
    pwalk->iibWrapEnd = iibOldest;
    return 1;
}

int FNextIndexedRecord(STREAM* pstream, INDEXEDWALK* pwalk, long* ppos, int* pcb)
{
    if (pwalk->fBroken)
        return 0;
    if (pwalk->iib >= pwalk->iibEnd && !pwalk->fWrapped) {
        pwalk->fWrapped = 1;
        pwalk->iib = pwalk->iibWrap;
        pwalk->iibEnd = pwalk->iibWrapEnd;
    }
    if (pwalk->iib >= pwalk->iibEnd)
        return 0;
    long const pos = (long)pwalk->pindex->rgib[pwalk->iib];
    // The records lie apart, mostly out of the caches since the scan passed them: the ones a few
    // steps ahead are asked for now, so that their reads overlap.
    constexpr int ciibAhead = 16;
    if (pwalk->iib + ciibAhead < pwalk->iibEnd)
        __builtin_prefetch(pstream->PbMap() + pwalk->pindex->rgib[pwalk->iib + ciibAhead]);
    int cb;
    // Bytes that changed under the walk send it back to searching, as they do a trusted run.
    if (!FTrustedRecord(pstream, pos, pstream->CbSize(), &cb)) {
        pwalk->fBroken = 1;
        return 0;
    }
    pwalk->iib++;
    pwalk->posNext = pos + cb;
    pwalk->fWrappedNext = pwalk->fWrapped;
    *ppos = pos;
    *pcb = cb;
    return 1;
}

void ResumeRingWalk(INDEXEDWALK const* pwalk, RINGWALK* pring)
{
    if (pwalk->posNext < 0)
        return;
    pring->pos = pwalk->posNext;
    pring->ibTrusted = 0;
    pring->fWrapped = pwalk->fWrappedNext;
}
