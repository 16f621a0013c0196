// SHA-256 (FIPS 180-4). A weekly download is 16 MB and is hashed whole before anything else is
// done with it, so on processors that have them the SHA instructions do the rounds (about five
// times faster than the portable code).
#include "support/sha256.h"

#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define QF_SHA_X86 1
#endif

namespace {

constexpr uint32_t s_rgk[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t s_rgstateInitial[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t U32BigEndian(uint8_t const* pb)
{
    return (uint32_t)pb[0] << 24 | (uint32_t)pb[1] << 16 | (uint32_t)pb[2] << 8 | (uint32_t)pb[3];
}

#ifdef QF_SHA_X86

// Four rounds a step. The state is kept as the instructions want it: ABEF in one register, CDGH in
// the other. Message words wi go through msg1 one step after they are loaded or made and give the
// words four steps later through msg2.
__attribute__((target("sha,sse4.1"))) void CompressShaInstructions(uint32_t rgstate[8], uint8_t const* pb,
                                                                    size_t cblock)
{
    __m128i const maskByteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_loadu_si128((__m128i const*)&rgstate[0]);
    __m128i state1 = _mm_loadu_si128((__m128i const*)&rgstate[4]);
    tmp = _mm_shuffle_epi32(tmp, 0xB1);
    state1 = _mm_shuffle_epi32(state1, 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);

    for (; cblock > 0; cblock--, pb += 64) {
        __m128i const abefSaved = state0;
        __m128i const cdghSaved = state1;
        __m128i rgmsg[4];
        for (int i = 0; i < 4; i++)
            rgmsg[i] = _mm_shuffle_epi8(_mm_loadu_si128((__m128i const*)(pb + 16 * i)), maskByteSwap);
        for (int istep = 0; istep < 16; istep++) {
            __m128i& msgCur = rgmsg[istep % 4];
            __m128i msg = _mm_add_epi32(msgCur, _mm_loadu_si128((__m128i const*)&s_rgk[4 * istep]));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (istep >= 3 && istep <= 14) {
                __m128i& msgNext = rgmsg[(istep + 1) % 4];
                msgNext = _mm_add_epi32(msgNext, _mm_alignr_epi8(msgCur, rgmsg[(istep + 3) % 4], 4));
                msgNext = _mm_sha256msg2_epu32(msgNext, msgCur);
            }
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
            if (istep >= 1 && istep <= 12) {
                __m128i& msgPrev = rgmsg[(istep + 3) % 4];
                msgPrev = _mm_sha256msg1_epu32(msgPrev, msgCur);
            }
        }
        state0 = _mm_add_epi32(state0, abefSaved);
        state1 = _mm_add_epi32(state1, cdghSaved);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128((__m128i*)&rgstate[0], state0);
    _mm_storeu_si128((__m128i*)&rgstate[4], state1);
}

// CPUID leaf 7 tells of the SHA extensions (EBX bit 29), leaf 1 of SSE4.1 (ECX bit 19); asked
// directly, as not every compiler's __builtin_cpu_supports knows "sha".
bool FCpuHasSha()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || !(ecx & (1u << 19)))
        return false;
    return __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & (1u << 29));
}

bool FHaveShaInstructions()
{
    static bool const s_fHave = FCpuHasSha();
    return s_fHave;
}

#endif

void Compress(uint32_t rgstate[8], uint8_t const* pb, size_t cblock)
{
#ifdef QF_SHA_X86
    if (FHaveShaInstructions()) {
        CompressShaInstructions(rgstate, pb, cblock);
        return;
    }
#endif
    _CompressSha256Portable(rgstate, pb, cblock);
}

}  // namespace

void _CompressSha256Portable(uint32_t rgstate[8], uint8_t const* pb, size_t cblock)
{
    for (; cblock > 0; cblock--, pb += 64) {
        uint32_t rgw[64];
        for (int i = 0; i < 16; i++)
            rgw[i] = U32BigEndian(pb + 4 * i);
        for (int i = 16; i < 64; i++) {
            uint32_t s0 = Rotr(rgw[i - 15], 7) ^ Rotr(rgw[i - 15], 18) ^ (rgw[i - 15] >> 3);
            uint32_t s1 = Rotr(rgw[i - 2], 17) ^ Rotr(rgw[i - 2], 19) ^ (rgw[i - 2] >> 10);
            rgw[i] = rgw[i - 16] + s0 + rgw[i - 7] + s1;
        }
        uint32_t a = rgstate[0], b = rgstate[1], c = rgstate[2], d = rgstate[3];
        uint32_t e = rgstate[4], f = rgstate[5], g = rgstate[6], h = rgstate[7];
        for (int i = 0; i < 64; i++) {
            uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + s_rgk[i] + rgw[i];
            uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        rgstate[0] += a;
        rgstate[1] += b;
        rgstate[2] += c;
        rgstate[3] += d;
        rgstate[4] += e;
        rgstate[5] += f;
        rgstate[6] += g;
        rgstate[7] += h;
    }
}

bool _FSha256Instructions()
{
#ifdef QF_SHA_X86
    return FHaveShaInstructions();
#else
    return false;
#endif
}

void InitSha256(SHA256* psha)
{
    memcpy(psha->rgstate, s_rgstateInitial, sizeof psha->rgstate);
    psha->cbTotal = 0;
}

void AddSha256(SHA256* psha, void const* pv, size_t cb)
{
    uint8_t const* pb = (uint8_t const*)pv;
    size_t ibBlock = (size_t)(psha->cbTotal % 64);
    psha->cbTotal += cb;
    if (ibBlock > 0) {
        size_t cbTake = cb < 64 - ibBlock ? cb : 64 - ibBlock;
        memcpy(psha->rgbBlock + ibBlock, pb, cbTake);
        pb += cbTake;
        cb -= cbTake;
        if (ibBlock + cbTake < 64)
            return;
        Compress(psha->rgstate, psha->rgbBlock, 1);
    }
    if (cb >= 64) {
        Compress(psha->rgstate, pb, cb / 64);
        pb += cb / 64 * 64;
        cb %= 64;
    }
    memcpy(psha->rgbBlock, pb, cb);
}

void FinishSha256(SHA256* psha, uint8_t rgbDigest[cbSha256])
{
    uint64_t cbitTotal = psha->cbTotal * 8;
    size_t ibBlock = (size_t)(psha->cbTotal % 64);
    psha->rgbBlock[ibBlock++] = 0x80;
    if (ibBlock > 56) {
        memset(psha->rgbBlock + ibBlock, 0, 64 - ibBlock);
        Compress(psha->rgstate, psha->rgbBlock, 1);
        ibBlock = 0;
    }
    memset(psha->rgbBlock + ibBlock, 0, 56 - ibBlock);
    for (int i = 0; i < 8; i++)
        psha->rgbBlock[56 + i] = (uint8_t)(cbitTotal >> (56 - 8 * i));
    Compress(psha->rgstate, psha->rgbBlock, 1);
    for (int i = 0; i < 8; i++) {
        rgbDigest[4 * i] = (uint8_t)(psha->rgstate[i] >> 24);
        rgbDigest[4 * i + 1] = (uint8_t)(psha->rgstate[i] >> 16);
        rgbDigest[4 * i + 2] = (uint8_t)(psha->rgstate[i] >> 8);
        rgbDigest[4 * i + 3] = (uint8_t)psha->rgstate[i];
    }
}

void HexFromSha256(uint8_t const rgbDigest[cbSha256], char szHex[cchSha256Hex + 1])
{
    static char const s_rgchHex[] = "0123456789abcdef";
    for (int i = 0; i < cbSha256; i++) {
        szHex[2 * i] = s_rgchHex[rgbDigest[i] >> 4];
        szHex[2 * i + 1] = s_rgchHex[rgbDigest[i] & 0xF];
    }
    szHex[cchSha256Hex] = '\0';
}
