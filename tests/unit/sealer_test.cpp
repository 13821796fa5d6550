// The sealing plug-in's format: round trips, and refusal of anything that is
// not exactly what was sealed under the same passphrase, before any byte of
// it is handed on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "sealed_format.h"
#include "sealer_crypto.h"

namespace {

// Cheap parameters and the smallest chunks keep the tests quick; the header
// carries both.
const KdfParams Quick{10, 8, 1};
constexpr std::size_t Chunk = std::size_t{1} << SmallestChunkLog2;

std::FILE* FileOf(const Bytes& content) {
    std::FILE* file = std::tmpfile();
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    return file;
}

Bytes Seal(const Bytes& plain, const std::string& passphrase) {
    std::FILE* in = FileOf(plain);
    Bytes sealed;
    std::string reason;
    EXPECT_TRUE(SealStream(
        in, passphrase, Quick,
        [&](const unsigned char* bytes, std::size_t size) {
            sealed.insert(sealed.end(), bytes, bytes + size);
            return true;
        },
        reason, SmallestChunkLog2))
        << reason;
    std::fclose(in);
    return sealed;
}

struct Unsealed {
    bool ok = false;
    std::string reason;
    Bytes written;  // everything handed on, also before a failure
};

Unsealed Unseal(const Bytes& sealed, const std::string& passphrase) {
    std::FILE* in = FileOf(sealed);
    Unsealed result;
    unsigned char header[SealHeaderSize];
    result.ok = ReadSealedHeader(in, header, result.reason) &&
                UnsealStream(
                    in, header, passphrase,
                    [&](const unsigned char* bytes, std::size_t size) {
                        result.written.insert(result.written.end(), bytes, bytes + size);
                        return true;
                    },
                    result.reason);
    std::fclose(in);
    return result;
}

Bytes Pattern(std::size_t size) {
    Bytes plain(size);
    for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<unsigned char>(i * 7 + 3 + i / 251);
    return plain;
}

// A version-1 file as the earlier sealer wrote it: one GCM message.
Bytes SealVersion1(const Bytes& plain, const std::string& passphrase) {
    Bytes sealed(SealHeaderSize + plain.size() + SealTagSize);
    const unsigned char start[8] = {'C', 'V', 'S', 'L', 1, Quick.log2N, Quick.r, Quick.p};
    std::memcpy(sealed.data(), start, sizeof start);
    EXPECT_TRUE(RandomBytes(sealed.data() + 8, 28));
    SealKey key;
    EXPECT_TRUE(
        DeriveKey(passphrase, sealed.data() + 8, 1u << Quick.log2N, Quick.r, Quick.p, 64u << 20, key));
    unsigned char* body = sealed.data() + SealHeaderSize;
    EXPECT_TRUE(GcmSeal(key, sealed.data() + 24, sealed.data(), SealHeaderSize, plain.data(), plain.size(),
                        body, body + plain.size()));
    return sealed;
}

const std::string Damaged = "wrong passphrase or damaged file";

TEST(SealedFormat, RoundTripsAnyContentInChunksWithFreshSaltAndNonce) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, Chunk - 1, Chunk, 2 * Chunk, 2 * Chunk + 1}) {
        const Bytes plain = Pattern(size);
        const Bytes sealed = Seal(plain, "pass");
        const std::size_t chunks = size / Chunk + 1 - (size % Chunk == 0 && size > 0 ? 1 : 0);
        ASSERT_EQ(sealed.size(), SealHeaderSize + size + chunks * SealTagSize) << size;
        EXPECT_EQ(std::string(sealed.begin(), sealed.begin() + 8), std::string("CVSL\x02\x0a\x08\x01"));
        EXPECT_EQ(std::string(sealed.begin() + 32, sealed.begin() + 36), std::string("\x10\0\0\0", 4));
        const Unsealed back = Unseal(sealed, "pass");
        ASSERT_TRUE(back.ok) << back.reason;
        EXPECT_EQ(back.written, plain);
        // A second sealing of the same content shares neither salt nor nonce.
        const Bytes again = Seal(plain, "pass");
        EXPECT_NE(Bytes(sealed.begin() + 8, sealed.begin() + 32),
                  Bytes(again.begin() + 8, again.begin() + 32));
    }
}

TEST(SealedFormat, AFailingChunkIsRefusedBeforeAnyOfItIsHandedOn) {
    const Bytes plain = Pattern(3 * Chunk + 100);
    const Bytes sealed = Seal(plain, "right");
    const std::size_t framed = Chunk + SealTagSize;
    EXPECT_EQ(Unseal(sealed, "wrong").written.size(), 0u);
    // One flipped bit in the header, in chunk 1 or in the tag of the last.
    for (std::size_t at : {std::size_t{9}, std::size_t{30}, SealHeaderSize + framed + 5, sealed.size() - 1}) {
        Bytes damaged = sealed;
        damaged[at] ^= 0x01;
        const Unsealed back = Unseal(damaged, "right");
        EXPECT_FALSE(back.ok) << at;
        EXPECT_EQ(back.reason, Damaged) << at;
        EXPECT_EQ(back.written, Bytes(plain.begin(), plain.begin() + back.written.size())) << at;
        EXPECT_TRUE(back.written.size() % Chunk == 0 && back.written.size() < plain.size()) << at;
    }
    const auto body = sealed.begin() + SealHeaderSize;
    // Cut after a whole chunk, chunks swapped, a chunk or a byte appended.
    Bytes cut(sealed.begin(), body + 2 * framed);
    Bytes swapped(sealed.begin(), body);
    swapped.insert(swapped.end(), body + framed, body + 2 * framed);
    swapped.insert(swapped.end(), body, body + framed);
    swapped.insert(swapped.end(), body + 2 * framed, sealed.end());
    Bytes longer = sealed;
    longer.insert(longer.end(), body, body + framed);
    Bytes oneMore = sealed;
    oneMore.push_back(0);
    for (const Bytes* changed : {&cut, &swapped, &longer, &oneMore}) {
        const Unsealed back = Unseal(*changed, "right");
        EXPECT_FALSE(back.ok);
        EXPECT_EQ(back.reason, Damaged);
        EXPECT_LT(back.written.size(), plain.size());
    }
}

// Opened in memory up to 8 MiB of body, in two passes beyond.
TEST(SealedFormat, Version1StillOpensButHandsOnNothingUnverified) {
    for (std::size_t size : {3 * Chunk + 7, (std::size_t{9} << 20) + 5}) {
        const Bytes plain = Pattern(size);
        const Bytes sealed = SealVersion1(plain, "old");
        Unsealed back = Unseal(sealed, "old");
        ASSERT_TRUE(back.ok) << back.reason;
        EXPECT_TRUE(back.written == plain) << size;
        Bytes damaged = sealed;
        damaged[sealed.size() - 1] ^= 0x80;
        for (const Unsealed& refused : {Unseal(sealed, "new"), Unseal(damaged, "old"),
                                        Unseal(Bytes(sealed.begin(), sealed.end() - 1), "old")}) {
            EXPECT_FALSE(refused.ok);
            EXPECT_EQ(refused.reason, Damaged);
            EXPECT_TRUE(refused.written.empty()) << size;
        }
    }
}

TEST(SealedFormat, ForeignFilesAreRecognisedBeforeAnyKeyIsDerived) {
    const Bytes sealed = Seal(Bytes(10, 'y'), "p");
    std::string reason;
    EXPECT_TRUE(CheckSealedHeader(sealed.data(), sealed.size(), reason));
    EXPECT_EQ(Unseal(Bytes(sealed.begin(), sealed.begin() + 51), "p").reason, "not a sealed file");
    EXPECT_EQ(Unseal(Bytes(100, 'a'), "p").reason, "not a sealed file");
    Bytes newer = sealed;
    newer[4] = 3;
    EXPECT_EQ(Unseal(newer, "p").reason, "unsupported sealed-file version 3");
    // Parameters out of range, or needing too much memory, are refused.
    for (auto [index, value] : {std::pair{5, 30}, {6, 0}, {7, 0}, {7, 200}}) {
        Bytes costly = sealed;
        costly[index] = static_cast<unsigned char>(value);
        EXPECT_EQ(Unseal(costly, "p").reason, "unsupported key-derivation parameters") << index;
    }
    for (auto [index, value] : {std::pair{32, 15}, {32, 21}, {35, 1}}) {
        Bytes odd = sealed;
        odd[index] = static_cast<unsigned char>(value);
        EXPECT_EQ(Unseal(odd, "p").reason, "unsupported chunk size") << index;
    }
}

}  // namespace
