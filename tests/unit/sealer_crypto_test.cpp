// The sealer's primitives on the platform's library: scrypt's mixing on its
// PBKDF2 against the vectors of RFC 7914 (the fourth needs 1 GiB, past the
// sealer's work cap), and one-shot AES-256-GCM.
#include "sealer_crypto.h"
#include "scrypt.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <openssl/evp.h>
#endif

namespace {

#ifdef _WIN32
Pbkdf2Sha256 Pbkdf2() { return BackendPbkdf2Sha256(); }
#else
bool OpenSslPbkdf2(const std::string& password, const unsigned char* salt, std::size_t saltSize,
                   unsigned char* out, std::size_t outSize) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt,
                             static_cast<int>(saltSize), 1, EVP_sha256(), static_cast<int>(outSize),
                             out) == 1;
}
Pbkdf2Sha256 Pbkdf2() { return OpenSslPbkdf2; }
#endif

std::string Hex(const unsigned char* bytes, std::size_t size) {
    std::string hex;
    for (std::size_t k = 0; k < size; ++k)
        hex += "0123456789abcdef"[bytes[k] >> 4], hex += "0123456789abcdef"[bytes[k] & 15];
    return hex;
}

std::string ScryptHex(const std::string& password, const std::string& salt, std::uint64_t n, std::uint32_t r,
                      std::uint32_t p, std::uint64_t maxMemory = 64u << 20) {
    unsigned char out[64] = {};
    if (!Scrypt(Pbkdf2(), password, reinterpret_cast<const unsigned char*>(salt.data()), salt.size(), n, r, p,
                maxMemory, out, sizeof out))
        return "refused";
    return Hex(out, sizeof out);
}

TEST(Scrypt, GivesTheVectorsOfRfc7914) {
    EXPECT_EQ(ScryptHex("", "", 16, 1, 1),
              "77d6576238657b203b19ca42c18a0497f16b4844e3074ae8dfdffa3fede21442"
              "fcd0069ded0948f8326a753a0fc81f17e8d3e0fb2e0d3628cf35e20c38d18906");
    EXPECT_EQ(ScryptHex("password", "NaCl", 1024, 8, 16),
              "fdbabe1c9d3472007856e7190d01e9fe7c6ad7cbc8237830e77376634b373162"
              "2eaf30d92e22a3886ff109279d9830dac727afb94a83ee6d8360cbdfa2cc0640");
    EXPECT_EQ(ScryptHex("pleaseletmein", "SodiumChloride", 16384, 8, 1),
              "7023bdcb3afd7348461c06cd81fd38ebfda8fbba904f8e3ea9b543f6545da1f2"
              "d5432955613f0fcf62d49705242a9af9e61e85dc0d651e40dfcf017b45575887");
}

TEST(Scrypt, RefusesBadParametersAndTooMuchMemory) {
    EXPECT_EQ(ScryptHex("p", "s", 1000, 8, 1), "refused");  // n not a power of two
    EXPECT_EQ(ScryptHex("p", "s", 1, 8, 1), "refused");
    EXPECT_EQ(ScryptHex("p", "s", 16, 0, 1), "refused");
    EXPECT_EQ(ScryptHex("p", "s", 16, 1, 0), "refused");
    // 16 MiB for V and 1 KiB for the block: one byte short.
    EXPECT_EQ(ScryptHex("p", "s", 16384, 8, 1, (16u << 20) + 1023), "refused");
    EXPECT_NE(ScryptHex("p", "s", 16384, 8, 1, (16u << 20) + 1024), "refused");
}

TEST(Gcm, SealsAndOpensInOneCall) {
    SealKey key;
    for (unsigned k = 0; k < SealKeySize; ++k) key.bytes[k] = static_cast<unsigned char>(k);
    unsigned char nonce[GcmNonceSize];
    for (unsigned k = 0; k < GcmNonceSize; ++k) nonce[k] = static_cast<unsigned char>(k);
    const std::string header = "header";
    const auto* associated = reinterpret_cast<const unsigned char*>(header.data());
    unsigned char text[] = "corvane";
    unsigned char tag[GcmTagSize];
    ASSERT_TRUE(GcmSeal(key, nonce, associated, header.size(), text, 7, text, tag));
    EXPECT_EQ(Hex(text, 7) + Hex(tag, GcmTagSize), "246da46da48ba7c046a92fd7d5dfade9eaa0ea6fb581e2");

    unsigned char opened[7];
    EXPECT_TRUE(GcmOpen(key, nonce, associated, header.size(), text, 7, opened, tag));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(opened), 7), "corvane");
    // Any changed byte, of the text, the header or the tag, is refused and
    // nothing opened is left.
    tag[0] ^= 1;
    EXPECT_FALSE(GcmOpen(key, nonce, associated, header.size(), text, 7, opened, tag));
    EXPECT_EQ(Hex(opened, 7), "00000000000000");
    tag[0] ^= 1;
    EXPECT_FALSE(GcmOpen(key, nonce, associated, header.size() - 1, text, 7, opened, tag));
    text[6] ^= 0x80;
    EXPECT_FALSE(GcmOpen(key, nonce, associated, header.size(), text, 7, opened, tag));
}

}  // namespace
