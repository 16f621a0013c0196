// Finding records in a log by marker and checksum, and taking one record: its decoding, the vehicle
// information, the per-type tally and, when asked, the battery study's collector.
#include "records/scanner.h"

#include <cstdio>
#include <cstring>


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned char bMarker0 = 0x03;
constexpr unsigned char bMarker1 = 0x02;

// ---------------------------------------------------------------------------------------------
// Checksums of candidates without re-adding their bytes: running sums (mod 256) of the bytes from
// a start point, one per byte, kept in a small ring that is filled 16 bytes at a time and only
// forward, up to the next multiple of 64 past the candidate that needs it. A candidate at count
// byte c with length L reads two entries, those of bytes c - 1 and c + L - 1, both within
// 255 + 64 bytes of the fill point, so every byte of a search is added once
// however many candidates overlap it. Short candidates, and the first one of each search
// (normally the record the caller expects), are cheaper to add up directly; either way a byte is
// added a bounded number of times.

constexpr int cbBlock = 16;

// Candidates up to this length are summed directly rather than through the ring.
constexpr unsigned cbDirectMax = 32;

// The ring is filled up to the next multiple of cbFillAhead past a candidate's end, so that the
// next few candidates find their entries filled.
constexpr long cbFillAhead = 64;

constexpr long cbRing = 512;   // > 255 + 64: a candidate's reach behind the fill point

struct PREFIXRING {
    unsigned char const* pb;
    long cb;
    bool fValid;
    long ibFill;           // entries are filled for the bytes below ibFill
    unsigned char bLast;   // the entry of byte ibFill - 1
    alignas(16) unsigned char rgbSum[cbRing];

    unsigned char& Entry(long ib) { return rgbSum[(unsigned long)ib % cbRing]; }

    // The running sums start at ib (a block boundary): the entry of the byte before it is 0.
    void Start(long ib)
    {
        fValid = true;
        ibFill = ib;
        bLast = 0;
        Entry(ib - 1) = 0;
    }

    void FillTo(long ibEnd)
    {
        long ib = ibFill;
        unsigned char b = bLast;
#if defined(__SSE2__)
        // Whole blocks: each block's own running sums, plus the sum of everything before it, which
        // is carried in every byte of a register, so that one block need not wait for the last byte
        // of the one before.
        if (ib < ibEnd && ib % cbBlock == 0 && ib + cbBlock <= cb) {
            __m128i vCarry = _mm_set1_epi8((char)b);
            do {
                __builtin_prefetch(pb + ib + cbReadAhead);
                __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + ib));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
                _mm_store_si128(reinterpret_cast<__m128i*>(&Entry(ib)), _mm_add_epi8(v, vCarry));
                // The block's total (its last byte) in every byte.
                __m128i vTotal = _mm_shufflehi_epi16(_mm_unpackhi_epi8(v, v), 0xFF);
                vCarry = _mm_add_epi8(vCarry, _mm_unpackhi_epi64(vTotal, vTotal));
                ib += cbBlock;
            } while (ib < ibEnd && ib + cbBlock <= cb);
            b = (unsigned char)_mm_cvtsi128_si32(vCarry);
        }
#endif
        while (ib < ibEnd) {
            b = (unsigned char)(b + pb[ib]);
            Entry(ib) = b;
            ib++;
        }
        ibFill = ib;
        bLast = b;
    }

    // Sum (mod 256) of the L bytes from the count byte at c; c + L <= cb. Calls come with
    // increasing c.
    unsigned SumCandidate(long c, unsigned L)
    {
        long ibEnd = c + (long)L;
        if (ibEnd > ibFill) {
            if (!fValid || c > ibFill)
                Start(c - c % cbBlock);
            long ibTo = (ibEnd + cbFillAhead - 1) / cbFillAhead * cbFillAhead;
            FillTo(ibTo < cb ? ibTo : cb);
        }
        return (unsigned)(Entry(ibEnd - 1) - Entry(c - 1)) & 0xFF;
    }
};

// The first q in [q, qMax] with pb[q] == 0x02 and pb[q - 1] == 0x03, or qMax + 1. q >= 1.
inline long QFindMarkerPair(unsigned char const* pb, long q, long qMax)
{
#if defined(__SSE2__)
    const __m128i v02 = _mm_set1_epi8((char)bMarker1);
    const __m128i v03 = _mm_set1_epi8((char)bMarker0);
    for (; q + cbBlock - 1 <= qMax; q += cbBlock) {
        __m128i vCur = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + q));
        __m128i vPrev = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + q - 1));
        int grf = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(vCur, v02), _mm_cmpeq_epi8(vPrev, v03)));
        if (grf != 0)
            return q + __builtin_ctz((unsigned)grf);
    }
#endif
    for (; q <= qMax; q++) {
        if (pb[q] == bMarker1 && pb[q - 1] == bMarker0)
            return q;
    }
    return qMax + 1;
}

// A count byte of 0 or 1 cannot cover itself and a checksum: no record starts there.
inline bool FCountByteCanStart(unsigned L) { return L >= 2; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Finding records.
//
// The marker is matched by a two-state machine in which a second 0x03 returns the match to its
// start, so a 0x02 completes a marker only after an odd-length run of 0x03 bytes counted from the
// last point where the match was reset (the search start, or the byte after a rejected count
// byte). The count byte itself never takes part in a marker.

int FSearchRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec)
{
    long p0 = *ppos;
    if (p0 >= posLimit || p0 < 0)
        return 0;
    long lim = posLimit < cb ? posLimit : cb;   // no byte at lim or beyond is looked at for a marker
    long qMax = lim - 2;                       // a 0x02 at q needs its count byte at q + 1 < lim
    PREFIXRING ring;
    ring.pb = pb;
    ring.cb = cb;
    ring.fValid = false;
    ring.ibFill = 0;
    ring.bLast = 0;
    long r = p0;
    long q = r + 1;
    bool fFirst = true;
    while (q <= qMax) {
        // A walk's next record, or the next of a run of candidates, usually sits right here.
        if (!FMarkerAt(pb + q - 1)) {
            q = QFindMarkerPair(pb, q, qMax);
            if (q > qMax)
                break;
        }
        // Each run of 0x03 is counted once: the next candidate lies beyond it.
        long j = q - 1;
        while (j > r && pb[j - 1] == bMarker0)
            j--;
        if (((q - j) & 1) == 0) {
            q++;
            continue;
        }
        long c = q + 1;
        unsigned L = pb[c];
        if (FCountByteCanStart(L) && c + (long)L <= cb) {
            unsigned sum = (fFirst || L <= cbDirectMax) ? SumBytes(pb, cb, c, L) : ring.SumCandidate(c, L);
            if ((sum & 0xFF) == 0) {
                *ppos = c - 2;
                *pcbRec = (int)L + 2;
                return 1;
            }
            fFirst = false;
        }
        r = c + 1;
        q = r + 1;
    }
    return 0;
}

int FScanToRecordBytewise(STREAM* pstream, long* ppos, long posLimit, int* pcb)
{
    long p = *ppos;
    pstream->FSetPos(p);
    if (p >= posLimit || p < 0)
        return 0;
    int state = 0;
    unsigned char b;
    unsigned char rgbRest[cbRecordMax];
    while (pstream->FReadByte(&b)) {
        if (state == 2) {
            unsigned L = b;
            if (FCountByteCanStart(L) && pstream->FReadBytes((int)L - 1, rgbRest)) {
                unsigned sum = L;
                for (unsigned i = 0; i + 1 < L; i++)
                    sum += rgbRest[i];
                if ((sum & 0xFF) == 0) {
                    *ppos = p - 2;
                    *pcb = (int)L + 2;
                    return 1;
                }
            }
            pstream->FSetPos(p + 1);
            state = 0;
        } else if (b == bMarker0) {
            state = state == 0 ? 1 : 0;
        } else if (b == bMarker1 && state == 1) {
            state = 2;
        } else {
            state = 0;
        }
        if (p + 1 == posLimit)
            return 0;
        p++;
    }
    return 0;
}


// ---------------------------------------------------------------------------------------------
// Reading and decoding one record.

void InitScanState(SCANSTATE* pscan)
{
    pscan->vehicle = VehicleUnknown();
    pscan->tags.ctage = 0;
    pscan->pfnAggregate = nullptr;
    pscan->pvAggregate = nullptr;
    pscan->pfnWants = nullptr;
}

void ScanFieldsOfRecordSlow(SCANSTATE* pscan, unsigned char const* pb, int cb, int fCollect, VLR* pvlr)
{
    VLR vlrOwn;
    if (!pvlr && fCollect) {
        ClearVlr(&vlrOwn, sectNil);
        pvlr = &vlrOwn;
    }
    if (pb[3] == rtVINF)
        NoteVehicleInfo(&pscan->vehicle, pb);
    if (pvlr)
        DecodeRecord(pb, pscan->vehicle.rver, pvlr);
    TallyRecord(&pscan->tags, pb, cb, pscan->vehicle.versFirmware);
    if (fCollect && pscan->pfnAggregate)
        pscan->pfnAggregate(pscan->pvAggregate, pvlr);
}

unsigned char const* PbRecordBytes(STREAM* pstream, long pos, unsigned long* pcb, unsigned char* rgbBuf)
{
    // A record wholly inside the mapping is taken where it lies: ScanRecord itself pads a short
    // record with zeros, and nothing reads past a longer one. A listing's line reads a header even
    // of a record shorter than one, so such a record is copied and padded.
    unsigned long cb = *pcb;
    unsigned char const* pbMap = pstream->PbMap();
    if (pbMap && pos >= 0 && cb <= (unsigned long)cbRecordBuffer && (long)cb <= pstream->CbSize() - pos) {
        pstream->FSetPos(pos + (long)cb);
        if (cb >= (unsigned long)cbRecordHeader)
            return pbMap + pos;
        // A record shorter than a header: what follows it in the file is no part of its header.
        memset(rgbBuf, 0, (size_t)cbRecordBuffer);
        memcpy(rgbBuf, pbMap + pos, cb);
        return rgbBuf;
    }
    if (cb > (unsigned long)cbRecordBuffer)
        cb = cbRecordBuffer;
    int cbRead = 0;
    if (pstream->FSetPos(pos)) {
        if (pstream->FReadBytes((int)cb, rgbBuf)) {
            cbRead = (int)cb;
        } else {
            // A short read decodes what is there; the mapped stream reads all or nothing.
            long cbAvail = pstream->CbSize() - pos;
            if (cbAvail > 0 && cbAvail < (long)cb && pstream->FSetPos(pos) &&
                pstream->FReadBytes((int)cbAvail, rgbBuf))
                cbRead = (int)cbAvail;
        }
    }
    memset(rgbBuf + cbRead, 0, (size_t)cbRecordBuffer - (size_t)cbRead);
    *pcb = cb;
    return rgbBuf;
}

unsigned char const* PbScanShownRecord(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long* pcb,
                                       unsigned char* rgbBuf, VLR* pvlr)
{
    unsigned long const cb = *pcb;
    unsigned char const* pb = PbRecordBytes(pstream, pos, pcb, rgbBuf);
    if (pstream->PbMap())
        ScanRecordFromFile(pscan, pstream, pos, cb, 0, pvlr);
    else
        ScanRecord(pscan, pb, (int)*pcb, 0, pvlr);
    return pb;
}

void ScanRecordFromFileSlow(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long cb, int fCollect, VLR* pvlr)
{
    unsigned char rgbBuf[cbRecordBuffer];
    unsigned char const* pb = PbRecordBytes(pstream, pos, &cb, rgbBuf);
    ScanRecord(pscan, pb, (int)cb, fCollect, pvlr);
}

void ScanRecord(SCANSTATE* pscan, unsigned char const* rec, int cb, int fCollect, VLR* pvlr)
{
    if (cb < 0)
        cb = 0;
    if (cb >= cbFieldsMax) {
        ScanFieldsOfRecord(pscan, rec, cb, fCollect, pvlr);
        return;
    }
    // A clear of a fixed size is a few stores; one of the record's length is a library call.
    unsigned char rgbPadded[cbFieldsMax];
    memset(rgbPadded, 0, sizeof rgbPadded);
    memcpy(rgbPadded, rec, (size_t)cb);
    ScanFieldsOfRecord(pscan, rgbPadded, cb, fCollect, pvlr);
}
