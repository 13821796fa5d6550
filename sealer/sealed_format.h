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

// Checks the magic, version and key-derivation parameters of a sealed file
// without needing the passphrase. False with a reason when it is not one.
bool CheckSealedHeader(const Bytes& sealed, std::string& reason);

// Turns a sealed file into its plain content, in place, only when the tag
// matches; otherwise empties `data` and gives false with a reason.
bool UnsealBytes(Bytes& data, const std::string& passphrase, std::string& reason);
