#pragma once
// The sealer's cryptographic primitives, and the only header through which
// the sealer reaches a cryptographic library. sealer_crypto_openssl.cpp
// defines them with OpenSSL; a Windows backend (CNG) defines the same
// functions. The sealed format (sealed_format.cpp) is written on these alone.
//
// Every GCM operation here is one-shot: one call seals or opens one whole
// buffer under one nonce. The only exception is the incremental decryption
// at the end, used only to open sealed files of format version 1, whose body
// is a single GCM message of any size. A backend without it (CNG) says so
// through IncrementalGcmAvailable and defines those four as stubs: version 1
// is then opened in memory with one GcmOpen.
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr std::size_t SealKeySize = 32;
inline constexpr std::size_t SealSaltSize = 16;
inline constexpr std::size_t GcmNonceSize = 12;
inline constexpr std::size_t GcmTagSize = 16;

// An AES-256 key, wiped when it goes out of scope.
struct SealKey {
    unsigned char bytes[SealKeySize] = {};
    SealKey() = default;
    SealKey(const SealKey&) = delete;
    SealKey& operator=(const SealKey&) = delete;
    ~SealKey();
};

// Overwrites memory that held a secret, in a way the compiler keeps.
void WipeSecret(void* bytes, std::size_t size);

// Fills `out` from the system's cryptographic random generator.
bool RandomBytes(unsigned char* out, std::size_t size);

// scrypt(passphrase, salt, N, r, p) into a 32-byte key; false when the
// derivation fails or would need more than `maxMemory` bytes.
bool DeriveKey(const std::string& passphrase, const unsigned char* salt, std::uint64_t n, std::uint32_t r,
               std::uint32_t p, std::uint64_t maxMemory, SealKey& key);

// AES-256-GCM over one whole buffer: `size` bytes of `in` become `size` bytes
// of `out` (which may be `in`) and the 16-byte `tag`, with `associated`
// authenticated alongside.
bool GcmSeal(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             unsigned char* tag);

// The reverse: true only when the tag matches. On false nothing in `out` may
// be trusted (it is zeroed).
bool GcmOpen(const SealKey& key, const unsigned char* nonce, const unsigned char* associated,
             std::size_t associatedSize, const unsigned char* in, std::size_t size, unsigned char* out,
             const unsigned char* tag);

// Whether the incremental decryption below works with this backend.
bool IncrementalGcmAvailable();

// Version 1 only: one GCM decryption fed piece by piece. Nothing it gives
// may be trusted before FinishGcmDecryption returned true. Finish and
// Abandon release it; a failing Piece releases it too and gives false.
struct GcmDecryption;
GcmDecryption* StartGcmDecryption(const SealKey& key, const unsigned char* nonce,
                                  const unsigned char* associated, std::size_t associatedSize);
bool GcmDecryptPiece(GcmDecryption*& decryption, const unsigned char* in, unsigned char* out,
                     std::size_t size);
bool FinishGcmDecryption(GcmDecryption*& decryption, const unsigned char* tag);
void AbandonGcmDecryption(GcmDecryption*& decryption);
