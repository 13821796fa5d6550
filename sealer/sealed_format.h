#pragma once
// The sealed-file format: AES-256-GCM under a key derived from a passphrase
// with scrypt. Written as version 2; version 1 files are still opened.
//
// Version 2 (written now): a header, then the body in chunks, each sealed on
// its own with one-shot AES-256-GCM.
//
//   offset  size  field
//   0       4     magic "CVSL"
//   4       1     format version (2)
//   5       1     scrypt cost as a power of two (N = 2^value)
//   6       1     scrypt block size r
//   7       1     scrypt parallelism p
//   8       16    salt
//   24      8     nonce prefix, random for every file
//   32      1     chunk size as a power of two (16 to 20: 64 KiB to 1 MiB)
//   33      3     zero
//   36      ...   chunks: the ciphertext of up to one chunk size of plain
//                 text, then its 16-byte tag
//
// Every chunk but the last holds exactly one chunk size of plain text; the
// last holds 0 up to one chunk size (one empty chunk for an empty file), so
// a reader knows the last chunk by the end of the file. Chunk k (from 0) is
// sealed with the nonce "prefix, then k as 4 bytes big-endian" and with the
// 36 header bytes and one byte, 1 for the last chunk and 0 for any other,
// as associated data. A chunk is written out only once its tag matched, so
// a damaged chunk is refused before any of its bytes is written; a changed
// header fails every chunk; reordered chunks fail by their nonce; a file cut
// at a chunk boundary ends with a chunk not marked last, and bytes appended
// after the last chunk make it a chunk that is not the last: both fail.
//
// Version 1 (read only): the same first 24 bytes with version 1, then
//
//   24      12    nonce
//   36      n     ciphertext of the whole body, one GCM message
//   36 + n  16    authentication tag
//
// with the 36 header bytes as associated data. A body of up to 8 MiB is
// opened in memory; a larger one has its tag checked in a first pass over
// the file that writes nothing, and only then is it decrypted and written,
// the tag checked again at the end of that second pass.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
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
inline constexpr unsigned SmallestChunkLog2 = 16;
inline constexpr unsigned LargestChunkLog2 = 20;
inline constexpr unsigned WrittenChunkLog2 = 20;

// The work of the key derivation, N * r * p, that a sealed file may ask for:
// four times that of the parameters written now. A later version may raise it.
inline constexpr std::uint64_t MaxKdfWork = 4 * (std::uint64_t{1} << 14) * 8 * 1;

// Takes bytes to write, in order; false when they could not be written.
using ByteWriter = std::function<bool(const unsigned char* bytes, std::size_t size)>;

// Seals everything `in` delivers from its position to its end as a version-2
// sealed file, handed to `out` piece by piece; it holds at most two chunks
// in memory. False with a reason on failure, or with none when `out` failed.
bool SealStream(std::FILE* in, const std::string& passphrase, const KdfParams& kdf, const ByteWriter& out,
                std::string& reason, unsigned chunkLog2 = WrittenChunkLog2);

// Checks the magic, version and parameters of a sealed file without needing
// the passphrase, from its first SealHeaderSize bytes and its size. False
// with a reason when it is not one this sealer can open.
bool CheckSealedHeader(const unsigned char* header, std::uint64_t fileSize, std::string& reason);

// Reads the header from the start of `in`, a sealed file that can be sought
// in, and checks it; `header` receives SealHeaderSize bytes.
bool ReadSealedHeader(std::FILE* in, unsigned char* header, std::string& reason);

// Unseals the file whose checked header ReadSealedHeader read, handing the
// plain text to `out` only as it is authenticated (see above). False with a
// reason on failure, or with none when `out` failed; what was handed to
// `out` before a failure must then be thrown away.
bool UnsealStream(std::FILE* in, const unsigned char* header, const std::string& passphrase,
                  const ByteWriter& out, std::string& reason);
