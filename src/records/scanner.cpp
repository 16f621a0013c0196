// Finding records in a log by marker and checksum, and decoding one record into a VLR: the vehicle
// information, the per-type tally and, as the display flags ask, the listing line and the battery study.
#include "records/scanner.h"

#include <cstdio>
#include <cstring>

#include "records/listing.h"
#include "records/tagstats.h"
#include "support/output.h"
#include "support/timecal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr unsigned char bMarker0 = 0x03;
constexpr unsigned char bMarker1 = 0x02;

// ---------------------------------------------------------------------------------------------
// Checksums of candidates without re-adding their bytes: running sums (mod 256) of the bytes from
// a start point, one per byte, kept in a small ring that is filled 16 bytes at a time and only
// forward. A candidate at count byte c with length L reads two entries, those of bytes c - 1 and
// c + L - 1, both within 271 bytes of the fill point, so every byte of a search is added once
// however many candidates overlap it. Short candidates, and the first one of each search
// (normally the record the caller expects), are cheaper to add up directly; either way a byte is
// added a bounded number of times.

constexpr int cbBlock = 16;

#if defined(__SSE2__)
const unsigned char s_rgbMaskLow[2 * cbBlock] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
};

inline unsigned SumOfSad(__m128i sad)
{
    return (unsigned)_mm_cvtsi128_si32(sad) + (unsigned)_mm_extract_epi16(sad, 4);
}
#endif

// Sum of the first cch (0..15) bytes at ib; a 16-byte block there may run past cbData.
inline unsigned SumBlockHead(unsigned char const* pbData, [[maybe_unused]] long cbData, long ib, int cch)
{
    if (cch == 0)
        return 0;
#if defined(__SSE2__)
    if (ib + cbBlock <= cbData) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbData + ib));
        __m128i mask = _mm_loadu_si128(reinterpret_cast<__m128i const*>(s_rgbMaskLow + cbBlock - cch));
        return SumOfSad(_mm_sad_epu8(_mm_and_si128(v, mask), _mm_setzero_si128()));
    }
#endif
    unsigned sum = 0;
    for (int i = 0; i < cch; i++)
        sum += pbData[ib + i];
    return sum;
}

// Sum of the cch bytes at ib, all inside the data, adding each of them: for candidates whose
// cost is bounded anyway (short ones, and the first of each search).
inline unsigned SumRange(unsigned char const* pbData, long cbData, long ib, long cch)
{
    unsigned sum = 0;
#if defined(__SSE2__)
    __m128i acc = _mm_setzero_si128();
    for (; cch >= cbBlock; ib += cbBlock, cch -= cbBlock) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pbData + ib));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(v, _mm_setzero_si128()));
    }
    sum = SumOfSad(acc);
#else
    for (; cch >= cbBlock; ib += cbBlock, cch -= cbBlock) {
        for (int i = 0; i < cbBlock; i++)
            sum += pbData[ib + i];
    }
#endif
    return sum + SumBlockHead(pbData, cbData, ib, (int)cch);
}

// Candidates up to this length are summed directly rather than through the ring.
constexpr unsigned cbDirectMax = 32;

constexpr long cbRing = 512;   // > 271 + 16: the reach of a candidate behind the fill point, and a block

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
        while (ib < ibEnd) {
#if defined(__SSE2__)
            if (ib % cbBlock == 0 && ib + cbBlock <= cb) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(pb + ib));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
                v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
                v = _mm_add_epi8(v, _mm_set1_epi8((char)b));
                _mm_store_si128(reinterpret_cast<__m128i*>(&Entry(ib)), v);
                b = (unsigned char)(_mm_extract_epi16(v, 7) >> 8);
                ib += cbBlock;
                continue;
            }
#endif
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
        if (!fValid || c > ibFill)
            Start(c - c % cbBlock);
        FillTo(c + (long)L);
        return (unsigned)(Entry(c + (long)L - 1) - Entry(c - 1)) & 0xFF;
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

// ---------------------------------------------------------------------------------------------
// Decoding.

// The highest offset any decoded field reaches, rounded up; shorter records are copied into a
// zeroed buffer of this size so that fields past their end read as zero.
constexpr int cbFieldsMax = 48;

inline unsigned U16(unsigned char const* pb, int ib) { return (unsigned)pb[ib] | (unsigned)pb[ib + 1] << 8; }
inline int I16(unsigned char const* pb, int ib) { return (int16_t)U16(pb, ib); }
inline uint32_t U32(unsigned char const* pb, int ib) { return U16(pb, ib) | (uint32_t)U16(pb, ib + 2) << 16; }

// Input events (XX03): a code and a state (-1 for any state).
struct EVENTDESC {
    unsigned char code;
    int state;
    const char* sz;
};

const EVENTDESC s_mp_event_desc[] = {
    {0x03, 2, "charging completed"},
    {0x05, 2, "charging completed"},
    {0x98, 2, "charging completed"},
    {0x08, -1, "remove key"},
    {0x09, 2, "wake car"},
    {0x09, 3, "turn off car"},
    {0x0A, -1, "wake car"},
    {0x16, -1, "wake car"},
    {0x18, -1, "wake car"},
    {0x88, -1, "wake car"},
    {0x89, -1, "wake car"},
    {0x8A, -1, "wake car"},
    {0x1E, -1, "log download complete"},
    {0x83, 2, "charging started, flashing yellow"},
    {0x85, 2, "charging started, flashing yellow"},
    {0x96, 2, "slide charge connector switch to on/locked"},
    {0x9E, -1, "insert flash drive / download vehicle log"},
};

const char* SzForInputEvent(unsigned code, unsigned state)
{
    for (EVENTDESC const& ed : s_mp_event_desc) {
        if (ed.code == code && (ed.state < 0 || (unsigned)ed.state == state))
            return ed.sz;
    }
    return "?";
}

constexpr int ibVIN = 22;
constexpr int cchVIN = 17;
constexpr uint32_t grfVinf = fvlrDesc | fvlrVehicleInfo;
constexpr uint32_t grfDay = fvlrCAC | fvlrDaily | fvlrBrickAh | fvlrSOC | fvlrOdometer;
constexpr uint32_t grfIdle = fvlrTempESS | fvlrBrickVolts;
constexpr uint32_t grfC1ma = fvlrTempESS | fvlrTempCoolant | fvlrLineVolts | fvlrChargeAmps;
constexpr uint32_t grfDr1s = fvlrMotorAmps | fvlrTorque | fvlrDistance | fvlrEnergy | fvlrTC | fvlrRegen |
                             fvlrBrake | fvlrPedal | fvlrPower | fvlrSpeed;
constexpr uint32_t grfDr1m = fvlrTempESS | fvlrTempCoolant | fvlrTempMotor | fvlrTempPEM;
constexpr uint32_t grfC1mb = fvlrCooling | fvlrTempESS | fvlrTempCoolant | fvlrBrickVolts | fvlrLineVolts |
                             fvlrChargeAmps | fvlrPower;
static_assert(grfVinf == 0x82000000 && grfDay == 0x11020003 && grfIdle == 0x00410000 &&
              grfC1ma == 0x00603000 && grfDr1s == 0x040083FC && grfDr1m == 0x00780000 &&
              grfC1mb == 0x08613008);

// Before 2001 the car's clock had not been set: the record is from the factory ("H").
constexpr uint32_t timestampClockSet = 978307200u;
constexpr unsigned char bVinfLongTerm = 0x80;
constexpr unsigned char bIdleHasSOC = 0x10;
constexpr unsigned char bD10mHasElevation = 0x01;
constexpr unsigned cbD10mWithOdometer = 21;   // count byte from which the odometer is present

void NoteVehicleInfo(unsigned char const* pb)
{
    s_versFirmware = VersFirmwareFromRecord(pb);
    memcpy(s_achVIN, pb + ibVIN, cchVIN);
    s_achVIN[cchVIN] = 0;
    s_rver = pb[14];
    s_pszRoadsterVersion = SzRoadsterVersion(s_rver);
}

void DecodeVinf(unsigned char const* pb, VLR* pvlr)
{
    pvlr->versFirmware = VersFirmwareFromRecord(pb);
    memcpy(pvlr->achVIN, pb + ibVIN, cchVIN);
    char chKind = 'T';
    if (pvlr->timestamp < timestampClockSet)
        chKind = 'H';
    else if (pb[5] & bVinfLongTerm)
        chKind = 'L';
    char szVers[20];
    FormatFirmwareVersion(pvlr->versFirmware, szVers, sizeof szVers);
    snprintf(pvlr->szDesc, sizeof pvlr->szDesc, "%c %.*s '%s'", chKind, cchVIN, pvlr->achVIN, szVers);
    pvlr->grf = grfVinf;
}

void DecodeDay(unsigned char const* pb, VLR* pvlr)
{
    pvlr->milesOdo = U32(pb, 30) * 0.1;
    pvlr->ahBrickAve = (double)(U16(pb, 34) * 467) / 8192;
    pvlr->ahBrickMin = (double)(U16(pb, 36) * 467) / 8192;
    pvlr->ahCAC = U16(pb, 36) / 17.5039;
    pvlr->iBrickAhMin = pb[38];
    pvlr->pctSOC = pb[39];
    pvlr->grf = grfDay;
}

void DecodeIdle(unsigned char const* pb, VLR* pvlr)
{
    pvlr->degESSMin = I16(pb, 12) / 256.0;
    pvlr->degESSMax = I16(pb, 14) / 256.0;
    pvlr->voltsBrickMin = U16(pb, 18) / 8192.0;
    pvlr->voltsBrickMax = U16(pb, 20) / 8192.0;
    pvlr->iBrickVMin = pb[22];
    pvlr->iBrickVMax = pb[23];
    pvlr->grf = grfIdle;
    if (pb[4] & bIdleHasSOC) {
        pvlr->pctSOC = pb[16];
        pvlr->grf |= fvlrSOC;
    }
}

void DecodeC1ma(unsigned char const* pb, VLR* pvlr)
{
    double ampsIn = I16(pb, 16) * 0.03125;
    if (ampsIn > 0)
        pvlr->ahIn += ampsIn / 60;
    else
        pvlr->ahOut -= ampsIn / 60;
    pvlr->ampsCharge = U16(pb, 18) / 327.68;
    pvlr->voltsLine = U16(pb, 20) / 131.072;
    pvlr->degCoolant = pb[25] * 0.5 - 30;
    pvlr->degESSMin = U16(pb, 38) / 256.0;
    pvlr->degESSMax = U16(pb, 40) / 256.0;
    pvlr->grf = grfC1ma;
}

void DecodeC30m(unsigned char const* pb, VLR* pvlr)
{
    // Sub-kind (t3) -> where the SOC and the offered current lie; 0 = not carried.
    static const unsigned char s_mp_kind_ibSOC[4] = {17, 21, 0, 17};
    static const unsigned char s_mp_kind_ibAmps[4] = {16, 16, 0, 14};
    unsigned kind = pb[5];
    if (kind >= 4)
        return;
    if (s_mp_kind_ibSOC[kind]) {
        pvlr->pctSOC = pb[s_mp_kind_ibSOC[kind]];
        pvlr->grf |= fvlrSOC;
    }
    if (s_mp_kind_ibAmps[kind]) {
        pvlr->ampsAvailable = pb[s_mp_kind_ibAmps[kind]];
        pvlr->grf |= fvlrAmpsAvailable;
    }
}

void DecodeDr1s(unsigned char const* pb, VLR* pvlr)
{
    unsigned bFlags = pb[24];
    double sign = (bFlags & 0x01) ? 1.0 : -1.0;
    pvlr->voltsESS = I16(pb, 10) * 0.5;
    pvlr->ampsESS = I16(pb, 12) * -0.03125;
    pvlr->mphSpeed = I16(pb, 14) * 0.1;
    pvlr->ampsMotor = U16(pb, 16) * sign / 65.536;
    pvlr->lbftTorque = U16(pb, 20) * sign / 163.84 * 0.737562;
    pvlr->bPedal = pb[22];
    pvlr->fBrake = (bFlags >> 2) & 1;
    pvlr->fRegen = (bFlags >> 3) & 1;
    pvlr->fTCOff = (bFlags >> 6) & 1;
    if (pvlr->ampsESS > 0)
        pvlr->ahOut += pvlr->ampsESS / 3600;
    else
        pvlr->ahIn -= pvlr->ampsESS / 3600;
    pvlr->milesDrive += pvlr->mphSpeed / 3600;
    pvlr->whDrive += pvlr->voltsESS * pvlr->ampsESS / 3600;
    pvlr->grf = grfDr1s;
}

void DecodeDr1m(unsigned char const* pb, VLR* pvlr)
{
    pvlr->degPEM = pb[17] * 0.5;
    pvlr->degMotor = s_rver == 3 ? I16(pb, 18) / 256.0 : (double)pb[18];
    pvlr->degCoolant = pb[20] * 0.5 - 30;
    pvlr->degESSMin = I16(pb, 26) / 256.0;
    pvlr->degESSMax = I16(pb, 28) / 256.0;
    pvlr->grf = grfDr1m;
    if (s_rver >= 4) {
        pvlr->degMotor2 = pb[34];
        pvlr->grf |= fvlrTempMotor2;
    }
}

void DecodeD10m(unsigned char const* pb, VLR* pvlr)
{
    pvlr->pctSOC = pb[15];
    pvlr->grf = fvlrSOC;
    if (pb[2] >= cbD10mWithOdometer) {
        pvlr->milesOdo = U32(pb, 18) * 0.1;
        pvlr->grf |= fvlrOdometer;
    }
    if (pb[4] & bD10mHasElevation) {
        pvlr->mElevation = (int16_t)I16(pb, 10);
        pvlr->grf |= fvlrElevation;
    }
}

void DecodeTpms(unsigned char const* pb, VLR* pvlr)
{
    for (int i = 0; i < 4; i++) {
        pvlr->rgpsiTire[i] = pb[10 + 2 * i] / 2.56;
        pvlr->rgdegTire[i] = pb[11 + 2 * i];
    }
    pvlr->grf = fvlrTPMS;
}

void DecodeErr(unsigned char const* pb, VLR* pvlr)
{
    pvlr->codeError = (uint16_t)U16(pb, 14);
    pvlr->grf = fvlrError;
    char* psz = pvlr->szDesc;
    int cchMax = (int)sizeof pvlr->szDesc;
    int cch = 0;
    psz[0] = 0;
    if (const char* szKnown = SzDescForErrorCode(pvlr->codeError))
        cch = snprintf(psz, (size_t)cchMax, "(%s)", szKnown);
    unsigned cbData = pb[16];
    if (cbData != 0 && cch < cchMax)
        snprintf(psz + cch, (size_t)(cchMax - cch), "%s%u bytes", cch ? " " : "", cbData);
    if (psz[0])
        pvlr->grf |= fvlrDesc;
}

void DecodeC1mb(unsigned char const* pb, VLR* pvlr)
{
    pvlr->voltsESS = U16(pb, 10) / 2.048;
    pvlr->ampsESS = I16(pb, 12) * 0.03125;
    pvlr->ampsCharge = U16(pb, 14) / 327.68;
    pvlr->voltsLine = U16(pb, 16) / 131.072;
    pvlr->degCoolant = pb[21] * 0.5 - 30;
    pvlr->nCooling = pb[22];
    pvlr->voltsBrickMin = U16(pb, 26) / 8192.0;
    pvlr->voltsBrickMax = U16(pb, 28) / 8192.0;
    pvlr->iBrickVMin = pb[30];
    pvlr->iBrickVMax = pb[31];
    pvlr->degESSMin = U16(pb, 34) / 256.0;
    pvlr->degESSMax = U16(pb, 36) / 256.0;
    pvlr->grf = grfC1mb;
}

void DecodeBody(unsigned char const* pb, VLR* pvlr)
{
    switch (pb[3]) {
    case rtVINF: DecodeVinf(pb, pvlr); break;
    case rtXX03:
        snprintf(pvlr->szDesc, sizeof pvlr->szDesc, "%s", SzForInputEvent(pb[10], pb[11]));
        pvlr->grf = fvlrDesc;
        break;
    case rtDAY: DecodeDay(pb, pvlr); break;
    case rtIDLE: DecodeIdle(pb, pvlr); break;
    case rtC1MA: DecodeC1ma(pb, pvlr); break;
    case rtC30M: DecodeC30m(pb, pvlr); break;
    case rtDR1S: DecodeDr1s(pb, pvlr); break;
    case rtDR1M: DecodeDr1m(pb, pvlr); break;
    case rtD10M: DecodeD10m(pb, pvlr); break;
    case rtTPMS: DecodeTpms(pb, pvlr); break;
    case rtERR: DecodeErr(pb, pvlr); break;
    case rtC1MB: DecodeC1mb(pb, pvlr); break;
    default: break;
    }
}

PFNAGGREGATE s_pfnAggregate;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Finding records.
//
// The marker is matched by a two-state machine in which a second 0x03 returns the match to its
// start, so a 0x02 completes a marker only after an odd-length run of 0x03 bytes counted from the
// last point where the match was reset (the search start, or the byte after a rejected count
// byte). The count byte itself never takes part in a marker.

int FScanToRecordInBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcbRec)
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
        if (pb[q] != bMarker1 || pb[q - 1] != bMarker0) {
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
            unsigned sum = (fFirst || L <= cbDirectMax) ? SumRange(pb, cb, c, L) : ring.SumCandidate(c, L);
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

int FScanToRecord(STREAM* pstream, long* ppos, long posLimit, int* pcb)
{
    unsigned char const* pbMap = pstream->PbMap();
    if (!pbMap)
        return FScanToRecordBytewise(pstream, ppos, posLimit, pcb);
    int fFound = FScanToRecordInBytes(pbMap, pstream->CbSize(), ppos, posLimit, pcb);
    pstream->FSetPos(*ppos);
    return fFound;
}

// ---------------------------------------------------------------------------------------------
// Reading and decoding one record.

void ScanRecordFromFile(STREAM* pstream, long pos, unsigned long cb, int grfDisplay, VLR* pvlr)
{
    unsigned char rec[cbRecordBuffer];
    if (cb > (unsigned long)cbRecordBuffer)
        cb = cbRecordBuffer;
    int cbRead = 0;
    if (pstream->FSetPos(pos)) {
        if (pstream->FReadBytes((int)cb, rec)) {
            cbRead = (int)cb;
        } else {
            // A short read decodes what is there; the mapped stream reads all or nothing.
            long cbAvail = pstream->CbSize() - pos;
            if (cbAvail > 0 && cbAvail < (long)cb && pstream->FSetPos(pos) &&
                pstream->FReadBytes((int)cbAvail, rec))
                cbRead = (int)cbAvail;
        }
    }
    memset(rec + cbRead, 0, sizeof rec - (size_t)cbRead);
    if (grfDisplay & fdispOffset)
        PrintRecordOffset(pos, grfDisplay);
    ScanRecord(rec, (int)cb, grfDisplay, pvlr);
}

void ScanRecord(unsigned char const* rec, int cb, int grfDisplay, VLR* pvlr)
{
    if (cb < 0)
        cb = 0;
    unsigned char const* pb = rec;
    unsigned char rgbPadded[cbFieldsMax];
    if (cb < cbFieldsMax) {
        memcpy(rgbPadded, rec, (size_t)cb);
        memset(rgbPadded + cb, 0, sizeof rgbPadded - (size_t)cb);
        pb = rgbPadded;
    }

    VLR vlrOwn;
    if (!pvlr && (grfDisplay & (fdispList | fdispAggregate))) {
        ClearVlr(&vlrOwn, sectNil);
        pvlr = &vlrOwn;
    }

    RH rh;
    memcpy(&rh, pb, sizeof rh);
    uint32_t timestamp = TimestampFromRh(&rh);
    if (pvlr) {
        pvlr->rt = pb[3];
        pvlr->timestamp = timestamp;
        pvlr->grf = 0;
    }

    if (grfDisplay & fdispList) {
        char szDate[20];
        DateFromTimestamp(timestamp, szDate, sizeof szDate);
        PrintRecordLineStart(pb, cb, timestamp, szDate, grfDisplay);
    }

    if (pb[3] == rtVINF)
        NoteVehicleInfo(pb);
    if (pvlr)
        DecodeBody(pb, pvlr);

    TallyRecord(pb, cb);

    if (grfDisplay & fdispList) {
        if (pvlr->grf != 0)
            PrintVlr(grfDisplay, pvlr);
        OutChar('\n');
    }
    if ((grfDisplay & fdispAggregate) && s_pfnAggregate)
        s_pfnAggregate(pvlr);
}

void SetAggregateHook(PFNAGGREGATE pfn)
{
    s_pfnAggregate = pfn;
}
