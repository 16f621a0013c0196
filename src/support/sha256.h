// SHA-256 of a byte stream, fed in pieces of any size: what tells one download from another.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int cbSha256 = 32;
constexpr int cchSha256Hex = 2 * cbSha256;

struct SHA256 {
    uint32_t rgstate[8];
    uint64_t cbTotal;          // bytes fed so far
    uint8_t rgbBlock[64];      // the block being filled: cbTotal % 64 of its bytes hold data
};

void InitSha256(SHA256* psha);
void AddSha256(SHA256* psha, void const* pv, size_t cb);
// Pads, finishes and writes the 32 bytes of the digest; the state must be initialised again
// before further use.
void FinishSha256(SHA256* psha, uint8_t rgbDigest[cbSha256]);
// The digest as 64 lowercase hexadecimal digits and a NUL.
void HexFromSha256(uint8_t const rgbDigest[cbSha256], char szHex[cchSha256Hex + 1]);

// The compression of cblock 64-byte blocks into the state: the processor's SHA instructions where
// it has them, else portable code. The portable one is offered to tests, which check both paths.
void _CompressSha256Portable(uint32_t rgstate[8], uint8_t const* pb, size_t cblock);
// Whether the processor's SHA instructions are used.
bool _FSha256Instructions();
