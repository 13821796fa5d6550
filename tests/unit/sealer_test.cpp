// The sealing plug-in's format: round trips, and refusal of anything that is
// not exactly what was sealed under the same passphrase.
#include <gtest/gtest.h>

#include "sealed_format.h"

namespace {

// Cheap parameters keep the tests quick; the header carries them.
const KdfParams Quick{10, 8, 1};

Bytes Seal(const Bytes& plain, const std::string& passphrase) {
    Bytes sealed;
    std::string reason;
    EXPECT_TRUE(SealBytes(plain, passphrase, Quick, sealed, reason)) << reason;
    return sealed;
}

std::string UnsealReason(Bytes data, const std::string& passphrase) {
    std::string reason;
    EXPECT_FALSE(UnsealBytes(data, passphrase, reason));
    EXPECT_TRUE(data.empty());
    return reason;
}

TEST(SealedFormat, RoundTripsAnyContentWithFreshSaltAndNonce) {
    for (std::size_t size : {0u, 1u, 4096u, 100003u}) {
        Bytes plain(size);
        for (std::size_t i = 0; i < size; ++i) plain[i] = static_cast<unsigned char>(i * 7 + 3);
        Bytes sealed = Seal(plain, "pass");
        ASSERT_EQ(sealed.size(), SealHeaderSize + size + SealTagSize);
        EXPECT_EQ(std::string(sealed.begin(), sealed.begin() + 8), std::string("CVSL\x01\x0a\x08\x01"));
        std::string reason;
        Bytes data = sealed;
        ASSERT_TRUE(UnsealBytes(data, "pass", reason)) << reason;
        EXPECT_EQ(data, plain);
        // A second sealing of the same content shares neither salt nor nonce.
        Bytes again = Seal(plain, "pass");
        EXPECT_NE(Bytes(sealed.begin() + 8, sealed.begin() + 36),
                  Bytes(again.begin() + 8, again.begin() + 36));
    }
}

TEST(SealedFormat, WrongPassphraseAndEveryDamagedRegionAreRefused) {
    const Bytes plain(300, 'x');
    const Bytes sealed = Seal(plain, "right");
    EXPECT_EQ(UnsealReason(sealed, "wrong"), "wrong passphrase or damaged file");
    // Salt, nonce, ciphertext and tag: one flipped bit each.
    const std::size_t spots[] = {8, 30, 36, 200, sealed.size() - 1};
    for (std::size_t at : spots) {
        Bytes damaged = sealed;
        damaged[at] ^= 0x01;
        EXPECT_EQ(UnsealReason(damaged, "right"), "wrong passphrase or damaged file") << at;
    }
    Bytes truncated(sealed.begin(), sealed.end() - 1);
    EXPECT_EQ(UnsealReason(truncated, "right"), "wrong passphrase or damaged file");
}

TEST(SealedFormat, ForeignFilesAreRecognisedBeforeAnyKeyIsDerived) {
    const Bytes sealed = Seal(Bytes(10, 'y'), "p");
    std::string reason;
    EXPECT_TRUE(CheckSealedHeader(sealed, reason));
    EXPECT_EQ(UnsealReason(Bytes(sealed.begin(), sealed.begin() + 51), "p"), "not a sealed file");
    Bytes text(100, 'a');
    EXPECT_EQ(UnsealReason(text, "p"), "not a sealed file");
    Bytes newer = sealed;
    newer[4] = 2;
    EXPECT_EQ(UnsealReason(newer, "p"), "unsupported sealed-file version 2");
    // Parameters out of range, or needing too much memory, are refused.
    for (auto [index, value] : {std::pair{5, 30}, {6, 0}, {7, 0}, {7, 200}}) {
        Bytes costly = sealed;
        costly[index] = static_cast<unsigned char>(value);
        EXPECT_EQ(UnsealReason(costly, "p"), "unsupported key-derivation parameters") << index;
    }
}

}  // namespace
