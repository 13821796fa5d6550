#pragma once
// scrypt (RFC 7914) for a cryptographic library that has PBKDF2 but not
// scrypt: its mixing (Salsa20/8, BlockMix, ROMix) is here, the PBKDF2 is the
// library's.
#include <cstddef>
#include <cstdint>
#include <string>

// PBKDF2-HMAC-SHA256 with one iteration, the way scrypt uses it.
using Pbkdf2Sha256 = bool (*)(const std::string& password, const unsigned char* salt, std::size_t saltSize,
                              unsigned char* out, std::size_t outSize);

// scrypt(password, salt, n, r, p) into `outSize` bytes. False when n is not
// a power of two above 1, r or p is 0, the work memory (128 * r * n bytes
// and the p blocks) passes `maxMemory` or cannot be had, or PBKDF2 fails.
bool Scrypt(Pbkdf2Sha256 pbkdf2, const std::string& password, const unsigned char* salt, std::size_t saltSize,
            std::uint64_t n, std::uint32_t r, std::uint32_t p, std::uint64_t maxMemory, unsigned char* out,
            std::size_t outSize);

#ifdef _WIN32
// The PBKDF2 that Scrypt runs on here (CNG's), open to the tests.
Pbkdf2Sha256 BackendPbkdf2Sha256();
#endif
