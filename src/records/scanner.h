// Finding records in a stream by marker and checksum, and the step that takes one record: decode
// it, note what it says of the vehicle, tally it, and hand it to the battery study's collector.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "input/stream.h"
#include "records/record.h"
#include "records/tagstats.h"

// The battery study's collector, called for every record taken with fCollect.
typedef void (*PFNAGGREGATE)(void* pvContext, VLR* pvlr);
// The record types of part sect that the collector (same context) could do anything with at this
// point, as bits 1 << rt; a walk that only collects passes the others by undecoded. The answer holds
// until the collector is next handed a record. A type of 32 or more is wanted only when every bit
// is set (grfRtAll).
typedef uint32_t (*PFNWANTS)(void* pvContext, SECT sect);
constexpr uint32_t grfRtAll = 0xFFFFFFFFu;
inline bool FRtWanted(uint32_t grfRtWanted, int rt)
{
    return rt >= 0 && rt < 32 ? ((grfRtWanted >> rt) & 1) != 0 : grfRtWanted == grfRtAll;
}

// What taking records keeps from one record to the next: one per decoding run, owned by the run.
struct SCANSTATE {
    VEHICLE vehicle;              // from the last VINF record taken
    TAGSTATS tags;                // the tally of the records taken since it was last emptied
    PFNAGGREGATE pfnAggregate;    // null: nothing collects
    void* pvAggregate;            // the collector's context
    PFNWANTS pfnWants;            // null: the collector wants every record
};
// A state with no vehicle known, an empty tally and no collector.
void InitScanState(SCANSTATE* pscan);

// Finds the next record whose marker and count byte start at or after *ppos and before posLimit.
// Returns 1 and stores its offset and length (cb + 2), or 0 and leaves both untouched.
inline int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb);
// The same search over cb bytes in memory (a mapped stream), in time linear in the bytes scanned.
inline int FScanToRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec);
// The search itself, for when no record starts right at *ppos.
int FSearchRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec);

#if defined(__SSE2__)
// From 16 - n on, 16 bytes of which the first n are 0xFF: the mask of a block's first n bytes.
inline constexpr unsigned char s_rgbMaskLow[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};
#endif

// From cbFieldsMax - n on, cbFieldsMax bytes of which the first n are 0xFF: the mask that keeps the
// n bytes of a record and clears the rest of its fields.
inline constexpr unsigned char s_rgbMaskFields[2 * cbFieldsMax] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};
static_assert(cbFieldsMax == 48, "the mask above holds cbFieldsMax bytes of 0xFF");

// How far ahead of a pass over back-to-back records the bytes it comes to next are asked for. The
// processor's own prefetching stops at the end of each 4 KiB page, and the pages of a mapped file
// lie anywhere in memory: without this, a pass waited for memory at every page it began.
constexpr long cbReadAhead = 1024;

// Sum of the cch bytes at ib, all of them inside the cbData bytes at pbData.
inline unsigned SumBytes(unsigned char const* pbData, long cbData, long ib, long cch)
{
    unsigned sum = 0;
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    for (; cch >= 16; ib += 16, cch -= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbData + ib));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(v, _mm_setzero_si128()));
    }
    if (cch > 0 && ib + 16 <= cbData) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbData + ib));
        __m128i mask = _mm_loadu_si128(reinterpret_cast<__m128i const*>(s_rgbMaskLow + 16 - cch));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_and_si128(v, mask), _mm_setzero_si128()));
        cch = 0;
    }
    sum = (unsigned)_mm_cvtsi128_si32(acc) + (unsigned)_mm_extract_epi16(acc, 4);
#endif
    for (; cch > 0; ib++, cch--)
        sum += pbData[ib];
    return sum;
}

// The marker's two bytes, 03 02, as one 16-bit word read from memory.
constexpr uint16_t wRecordMarker = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 0x0203 : 0x0302;

// Whether the two bytes at pb are a record's marker: one comparison, where two bytes would be two.
inline bool FMarkerAt(unsigned char const* pb)
{
    uint16_t wMarker;
    memcpy(&wMarker, pb, sizeof wMarker);
    return wMarker == wRecordMarker;
}

// The length of the record whose marker starts right at pos (0 <= pos, pos + 3 <= cb) in the cb
// bytes at pb, or 0 when none does. The up to 32 bytes after the marker that most records are, with
// 32 bytes readable there, are summed without a loop: two blocks, each masked to the record's bytes
// and added bytewise (only the sum's low byte counts), then the halves' bytes.
inline int CbRecordAt(unsigned char const* pb, long cb, long pos)
{
    if (!FMarkerAt(pb + pos))
        return 0;
    unsigned L = pb[pos + 2];
    if (L < 2)
        return 0;
#if defined(__SSE2__)
    if (L <= 32 && pos + 2 + 32 <= cb) [[likely]] {
        __m128i lo = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + pos + 2));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + pos + 2 + 16));
        unsigned char const* pbMask = s_rgbMaskFields + cbFieldsMax - L;
        lo = _mm_and_si128(lo, _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbMask)));
        hi = _mm_and_si128(hi, _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbMask + 16)));
        __m128i v = _mm_add_epi8(lo, hi);
        v = _mm_add_epi8(v, _mm_srli_si128(v, 8));
        unsigned sum = (unsigned)_mm_cvtsi128_si32(_mm_sad_epu8(v, _mm_setzero_si128()));
        return (sum & 0xFF) == 0 ? (int)L + 2 : 0;
    }
#endif
    if (pos + 2 + (long)L > cb || (SumBytes(pb, cb, pos + 2, L) & 0xFF) != 0)
        return 0;
    return (int)L + 2;
}

inline int FScanToRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec)
{
    // A walk's next record usually starts right at the search's start: taken here without a call.
    long p0 = *ppos;
    long lim = posLimit < cb ? posLimit : cb;
    if (p0 >= 0 && p0 + 3 <= lim) {
        int cbRec = CbRecordAt(pb, cb, p0);
        if (cbRec) {
            *pcbRec = cbRec;
            return 1;
        }
    }
    return FSearchRecordInBytes(pb, cb, ppos, posLimit, pcbRec);
}
// The same search one byte at a time through FReadByte: for streams without a mapping.
int FScanToRecordBytewise(STREAM* pstream, long* ppos, long posLimit, int* pcb);

// Inline: every step of every walk comes through here.
inline int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (!pbMap)
        return FScanToRecordBytewise(pstream, ppos, posLimit, pcb);
    int fFound = FScanToRecordInBytes(pbMap, pstream->CbSize(), ppos, posLimit, pcb);
    pstream->FSetPos(*ppos);
    return fFound;
}

// Takes one record at pb whose cbFieldsMax bytes are readable, zero past the record's cb bytes:
// decodes it into *pvlr (a VINF record also into the vehicle), tallies it and, with fCollect, hands
// it to the collector (decoded into a VLR of its own when pvlr is null).
void ScanFieldsOfRecordSlow(SCANSTATE* pscan, unsigned char const* pb, int cb, int fCollect, VLR* pvlr);
// Inline for a walk's usual record: decoded into the caller's VLR and tallied, nothing more.
inline void ScanFieldsOfRecord(SCANSTATE* pscan, unsigned char const* pb, int cb, int fCollect, VLR* pvlr)
{
    if (pvlr && !fCollect && pb[3] != rtVINF) {
        DecodeRecord(pb, pscan->vehicle.rver, pvlr);
        TallyRecord(&pscan->tags, pb, cb, pscan->vehicle.versFirmware);
        return;
    }
    ScanFieldsOfRecordSlow(pscan, pb, cb, fCollect, pvlr);
}
void ScanRecordFromFileSlow(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long cb, int fCollect, VLR* pvlr);

// Reads the cb bytes at pos and takes them with ScanRecord. Inline for the common record of a walk:
// shorter than the fields the decoders read, inside a mapping that goes on past them, so it is
// copied in whole blocks and cleared past its end.
inline void ScanRecordFromFile(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long cb, int fCollect, VLR* pvlr)
{
#if defined(__SSE2__)
    static_assert(cbFieldsMax % 16 == 0, "the fields are copied in whole blocks");
    unsigned char const* pbMap = pstream->PbMap();
    if (pbMap && pos >= 0 && cb < (unsigned long)cbFieldsMax && pos <= pstream->CbSize() - cbFieldsMax) {
        pstream->FSetPos(pos + (long)cb);
        alignas(16) unsigned char rgbPadded[cbFieldsMax];
        unsigned char const* pbMask = s_rgbMaskFields + cbFieldsMax - cb;
        for (int ib = 0; ib < cbFieldsMax; ib += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbMap + pos + ib));
            __m128i mask = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbMask + ib));
            _mm_store_si128(reinterpret_cast<__m128i*>(rgbPadded + ib), _mm_and_si128(v, mask));
        }
        ScanFieldsOfRecord(pscan, rgbPadded, (int)cb, fCollect, pvlr);
        return;
    }
#endif
    ScanRecordFromFileSlow(pscan, pstream, pos, cb, fCollect, pvlr);
}

// The bytes of the record of *pcb bytes at pos, for a caller that also shows them: where they lie
// when the mapping holds them whole and they fill a header, else read into rgbBuf (cbRecordBuffer
// bytes), zero past the record or what could be read of it, with *pcb cut to the buffer. At least
// cbRecordHeader bytes are readable either way.
unsigned char const* PbRecordBytes(STREAM* pstream, long pos, unsigned long* pcb, unsigned char* rgbBuf);
// PbRecordBytes, with the record decoded into *pvlr and tallied as ScanRecord takes it: from the
// mapping in whole blocks where there is one (rather than from a copy of the record's own length),
// else from the bytes read.
unsigned char const* PbScanShownRecord(SCANSTATE* pscan, STREAM* pstream, long pos, unsigned long* pcb,
                                       unsigned char* rgbBuf, VLR* pvlr);

// Takes one record of cb bytes; bytes past cb read as zero. pvlr may be null: then the record is
// decoded only when it is collected.
void ScanRecord(SCANSTATE* pscan, unsigned char const* rec, int cb, int fCollect, VLR* pvlr);
