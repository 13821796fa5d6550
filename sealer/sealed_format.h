#pragma once
// The sealed-file format: AES-256-GCM under a key derived from a passphrase
// with scrypt.
//
//   offset  size  field
//   0       4     magic "CVSL"
//   4       1     format version (1)
//   5       1     scrypt cost as a power of two (N = 2^value)
//   6       1     scrypt block size r
//   7       1     scrypt parallelism p
//   8       16    salt
//   24      12    nonce
//   36      n     ciphertext (n = length of the sealed file)
//   36 + n  16    authentication tag
//
// The 36 header bytes are authenticated along with the ciphertext.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <openssl/evp.h>

using Bytes = std::vector<unsigned char>;

struct KdfParams {
    std::uint8_t log2N = 14;
    std::uint8_t r = 8;
    std::uint8_t p = 1;
};

inline constexpr std::size_t SealHeaderSize = 36;
inline constexpr std::size_t SealTagSize = 16;

// Seals `plain` into a complete sealed file. False with a reason on failure.
bool SealBytes(const Bytes& plain, const std::string& passphrase, const KdfParams& kdf, Bytes& sealed,
               std::string& reason);

// The work of the key derivation, N * r * p, that a sealed file may ask for:
// four times that of the parameters written now. A later version may raise it.
inline constexpr std::uint64_t MaxKdfWork = 4 * (std::uint64_t{1} << 14) * 8 * 1;

// Checks the magic, version and key-derivation parameters of a sealed file
// without needing the passphrase: of the whole file, or of its first
// SealHeaderSize bytes and its size. False with a reason when it is not one.
bool CheckSealedHeader(const Bytes& sealed, std::string& reason);
bool CheckSealedHeader(const unsigned char* header, std::uint64_t fileSize, std::string& reason);

// Turns a sealed file into its plain content, in place, only when the tag
// matches; otherwise empties `data` and gives false with a reason.
bool UnsealBytes(Bytes& data, const std::string& passphrase, std::string& reason);

// Unsealing block by block, for files of any size: start with the checked
// header, turn each block of ciphertext into plain text in order, then
// finish with the tag. No plain text may be trusted before FinishUnsealing
// has confirmed the tag; every step releases the cipher when it fails.
struct Unsealing {
    EVP_CIPHER_CTX* cipher = nullptr;
};
bool StartUnsealing(Unsealing& unsealing, const unsigned char* header, const std::string& passphrase,
                    std::string& reason);
bool UnsealBlock(Unsealing& unsealing, const unsigned char* in, unsigned char* out, std::size_t size);
bool FinishUnsealing(Unsealing& unsealing, const unsigned char* tag, std::string& reason);
void AbandonUnsealing(Unsealing& unsealing);
