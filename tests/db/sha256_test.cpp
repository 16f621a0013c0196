// SHA-256 against the standard's test vectors, through the processor's instructions and through
// the portable code, fed whole and in pieces of every awkward size.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/sha256.h"

namespace {

struct VECTOR {
    std::string strMessage;
    char const* szDigest;
};

std::vector<VECTOR> Vectors()
{
    return {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // 55, 56 and 64 bytes: the padding just fits, just does not, and takes a block of its own.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
}

std::string StrDigest(std::string const& str, size_t cbPiece)
{
    SHA256 sha;
    InitSha256(&sha);
    for (size_t ib = 0; ib < str.size(); ib += cbPiece)
        AddSha256(&sha, str.data() + ib, std::min(cbPiece, str.size() - ib));
    uint8_t rgb[cbSha256];
    FinishSha256(&sha, rgb);
    char sz[cchSha256Hex + 1];
    HexFromSha256(rgb, sz);
    return sz;
}

TEST(Sha256, StandardVectorsWholeAndInPieces)
{
    for (VECTOR const& v : Vectors()) {
        for (size_t cbPiece : {(size_t)1 << 30, (size_t)1, (size_t)3, (size_t)63, (size_t)64, (size_t)65, (size_t)1000}) {
            if (v.strMessage.size() > 100000 && cbPiece < 63)
                continue;
            EXPECT_EQ(StrDigest(v.strMessage, cbPiece), v.szDigest) << v.strMessage.size() << " bytes in " << cbPiece;
        }
    }
}

// The portable rounds and the processor's instructions (when it has them) give the same state
// for every block of a message that exercises all message words.
TEST(Sha256, PortableCodeAgreesWithTheDigests)
{
    for (VECTOR const& v : Vectors()) {
        std::string str = v.strMessage;
        // The padded message, by hand.
        uint64_t cbit = str.size() * 8;
        str += '\x80';
        while (str.size() % 64 != 56)
            str += '\0';
        for (int i = 7; i >= 0; i--)
            str += (char)(uint8_t)(cbit >> (8 * i));
        uint32_t rgstate[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        _CompressSha256Portable(rgstate, (uint8_t const*)str.data(), str.size() / 64);
        char sz[cchSha256Hex + 1];
        for (int i = 0; i < 8; i++)
            snprintf(sz + 8 * i, 9, "%08x", rgstate[i]);
        EXPECT_EQ(std::string(sz), v.szDigest) << v.strMessage.size() << " bytes";
    }
    if (!_FSha256Instructions())
        GTEST_SKIP() << "this processor has no SHA instructions: only the portable code was checked";
}

}  // namespace
