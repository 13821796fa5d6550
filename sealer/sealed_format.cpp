#include "sealed_format.h"

#include <algorithm>
#include <cstring>

#include "sealer_crypto.h"

namespace {

constexpr unsigned char Magic[4] = {'C', 'V', 'S', 'L'};
constexpr std::uint8_t ChunkedVersion = 2;
constexpr std::uint8_t SingleMessageVersion = 1;
constexpr std::size_t SaltOffset = 8;
constexpr std::size_t NonceOffset = 24;
constexpr std::size_t NoncePrefixSize = 8;
constexpr std::size_t ChunkLog2Offset = 32;
// scrypt needs about 128 * r * (N + p) bytes; a file asking for more is refused.
constexpr std::uint64_t MaxKdfMemory = 320ull << 20;
constexpr std::uint8_t MaxParallelism = 16;
// Version 1 is opened in memory up to this size of body, and otherwise in
// two passes, read in pieces of 1 MiB.
constexpr std::uint64_t Version1InMemory = 8u << 20;
constexpr std::size_t Version1Piece = 1u << 20;
constexpr std::uint64_t MaxChunks = std::uint64_t{1} << 32;
const std::string Damaged = "wrong passphrase or damaged file";

KdfParams ReadKdfParams(const unsigned char* header) { return KdfParams{header[5], header[6], header[7]}; }

bool KdfParamsAcceptable(const KdfParams& kdf) {
    if (kdf.log2N < 1 || kdf.log2N > 40 || kdf.r < 1 || kdf.p < 1 || kdf.p > MaxParallelism) return false;
    const std::uint64_t n = std::uint64_t{1} << kdf.log2N;
    return 128ull * kdf.r * (n + kdf.p + 2) <= MaxKdfMemory && n * kdf.r * kdf.p <= MaxKdfWork;
}

bool DeriveFileKey(const std::string& passphrase, const unsigned char* header, SealKey& key) {
    const KdfParams kdf = ReadKdfParams(header);
    return DeriveKey(passphrase, header + SaltOffset, std::uint64_t{1} << kdf.log2N, kdf.r, kdf.p,
                     MaxKdfMemory + (1u << 20), key);
}

// fseek with 64-bit offsets on every platform.
int SeekTo(std::FILE* in, long long offset, int origin) {
#ifdef _WIN32
    return _fseeki64(in, offset, origin);
#else
    return fseeko(in, static_cast<off_t>(offset), origin);
#endif
}

// True when `in` has nothing more to deliver; peeks one byte otherwise.
bool AtEnd(std::FILE* in) {
    const int next = std::getc(in);
    if (next == EOF) return true;
    std::ungetc(next, in);
    return false;
}

// The nonce of chunk `index`, and the associated data of a chunk: the header
// and whether the chunk is the last.
struct ChunkFrame {
    unsigned char nonce[GcmNonceSize] = {};
    unsigned char associated[SealHeaderSize + 1] = {};

    explicit ChunkFrame(const unsigned char* header) {
        std::memcpy(nonce, header + NonceOffset, NoncePrefixSize);
        std::memcpy(associated, header, SealHeaderSize);
    }
    void Set(std::uint64_t index, bool last) {
        for (std::size_t k = 0; k < 4; ++k)
            nonce[NoncePrefixSize + k] = static_cast<unsigned char>(index >> (8 * (3 - k)));
        associated[SealHeaderSize] = last ? 1 : 0;
    }
};

bool UnsealChunks(std::FILE* in, const unsigned char* header, const SealKey& key, const ByteWriter& out,
                  std::string& reason) {
    const std::size_t chunkSize = std::size_t{1} << header[ChunkLog2Offset];
    Bytes sealed(chunkSize + GcmTagSize);
    Bytes plain(chunkSize);
    ChunkFrame frame(header);
    for (std::uint64_t index = 0; index < MaxChunks; ++index) {
        const std::size_t got = std::fread(sealed.data(), 1, sealed.size(), in);
        if (std::ferror(in)) {
            reason = "cannot read the sealed file";
            return false;
        }
        const bool last = got < sealed.size() || AtEnd(in);
        if (got < GcmTagSize) break;
        const std::size_t size = got - GcmTagSize;
        frame.Set(index, last);
        if (!GcmOpen(key, frame.nonce, frame.associated, sizeof frame.associated, sealed.data(), size,
                     plain.data(), sealed.data() + size))
            break;
        const bool written = out(plain.data(), size);
        WipeSecret(plain.data(), size);
        if (!written) return false;
        if (last) return true;
    }
    reason = Damaged;
    return false;
}

// One pass over a version-1 body: decrypts it piece by piece and checks the
// tag, handing the plain text to `out` when there is one.
bool PassOverVersion1(std::FILE* in, const unsigned char* header, const SealKey& key, std::uint64_t bodySize,
                      const ByteWriter* out, std::string& reason) {
    if (SeekTo(in, SealHeaderSize, SEEK_SET) != 0) {
        reason = "cannot read the sealed file";
        return false;
    }
    GcmDecryption* decryption = StartGcmDecryption(key, header + NonceOffset, header, SealHeaderSize);
    Bytes piece(Version1Piece);
    for (std::uint64_t left = bodySize; decryption != nullptr && left > 0;) {
        const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
        if (std::fread(piece.data(), 1, step, in) != step ||
            !GcmDecryptPiece(decryption, piece.data(), piece.data(), step))
            break;
        if (out != nullptr && !(*out)(piece.data(), step)) {
            AbandonGcmDecryption(decryption);
            return false;
        }
        left -= step;
    }
    WipeSecret(piece.data(), piece.size());
    unsigned char tag[GcmTagSize];
    if (decryption != nullptr && std::fread(tag, 1, sizeof tag, in) == sizeof tag && AtEnd(in) &&
        FinishGcmDecryption(decryption, tag))
        return true;
    AbandonGcmDecryption(decryption);
    reason = Damaged;
    return false;
}

// A version-1 body opened with one GcmOpen: nothing is handed on unless the
// tag matched.
bool OpenVersion1InMemory(std::FILE* in, const unsigned char* header, const SealKey& key,
                          std::uint64_t bodySize, const ByteWriter& out, std::string& reason) {
    Bytes body(static_cast<std::size_t>(bodySize) + GcmTagSize);
    const bool opened = SeekTo(in, SealHeaderSize, SEEK_SET) == 0 &&
                        std::fread(body.data(), 1, body.size(), in) == body.size() && AtEnd(in) &&
                        GcmOpen(key, header + NonceOffset, header, SealHeaderSize, body.data(),
                                static_cast<std::size_t>(bodySize), body.data(), body.data() + bodySize);
    if (!opened) reason = Damaged;
    const bool written = opened && out(body.data(), static_cast<std::size_t>(bodySize));
    WipeSecret(body.data(), body.size());
    return written;
}

std::uint64_t SizeOf(std::FILE* in) {
    if (SeekTo(in, 0, SEEK_END) != 0) return 0;
#ifdef _WIN32
    const long long size = _ftelli64(in);
#else
    const long long size = ftello(in);
#endif
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

}  // namespace

bool SealStream(std::FILE* in, const std::string& passphrase, const KdfParams& kdf, const ByteWriter& out,
                std::string& reason, unsigned chunkLog2) {
    if (!KdfParamsAcceptable(kdf) || chunkLog2 < SmallestChunkLog2 || chunkLog2 > LargestChunkLog2) {
        reason = "unsupported sealing parameters";
        return false;
    }
    unsigned char header[SealHeaderSize] = {};
    std::memcpy(header, Magic, sizeof Magic);
    header[4] = ChunkedVersion;
    header[5] = kdf.log2N;
    header[6] = kdf.r;
    header[7] = kdf.p;
    header[ChunkLog2Offset] = static_cast<unsigned char>(chunkLog2);
    if (!RandomBytes(header + SaltOffset, SealSaltSize + NoncePrefixSize)) {
        reason = "no random numbers available";
        return false;
    }
    SealKey key;
    if (!DeriveFileKey(passphrase, header, key)) {
        reason = "key derivation failed";
        return false;
    }
    if (!out(header, sizeof header)) return false;
    const std::size_t chunkSize = std::size_t{1} << chunkLog2;
    Bytes plain(chunkSize);
    Bytes sealed(chunkSize + GcmTagSize);
    ChunkFrame frame(header);
    for (std::uint64_t index = 0; index < MaxChunks; ++index) {
        const std::size_t got = std::fread(plain.data(), 1, chunkSize, in);
        if (std::ferror(in)) {
            reason = "cannot read the file to seal";
            return false;
        }
        const bool last = got < chunkSize || AtEnd(in);
        frame.Set(index, last);
        if (!GcmSeal(key, frame.nonce, frame.associated, sizeof frame.associated, plain.data(), got,
                     sealed.data(), sealed.data() + got)) {
            reason = "encryption failed";
            return false;
        }
        if (!out(sealed.data(), got + GcmTagSize)) return false;
        if (last) return true;
    }
    reason = "file too large to seal";
    return false;
}

bool CheckSealedHeader(const unsigned char* header, std::uint64_t fileSize, std::string& reason) {
    if (fileSize < SealHeaderSize + SealTagSize || std::memcmp(header, Magic, sizeof Magic) != 0) {
        reason = "not a sealed file";
        return false;
    }
    if (header[4] != ChunkedVersion && header[4] != SingleMessageVersion) {
        reason = "unsupported sealed-file version " + std::to_string(header[4]);
        return false;
    }
    if (!KdfParamsAcceptable(ReadKdfParams(header))) {
        reason = "unsupported key-derivation parameters";
        return false;
    }
    const bool zeroTail = header[33] == 0 && header[34] == 0 && header[35] == 0;
    if (header[4] == ChunkedVersion && (header[ChunkLog2Offset] < SmallestChunkLog2 ||
                                        header[ChunkLog2Offset] > LargestChunkLog2 || !zeroTail)) {
        reason = "unsupported chunk size";
        return false;
    }
    return true;
}

bool ReadSealedHeader(std::FILE* in, unsigned char* header, std::string& reason) {
    const std::uint64_t size = SizeOf(in);
    const bool complete =
        SeekTo(in, 0, SEEK_SET) == 0 && std::fread(header, 1, SealHeaderSize, in) == SealHeaderSize;
    if (!complete) std::memset(header, 0, SealHeaderSize);
    return CheckSealedHeader(header, complete ? size : 0, reason);
}

bool UnsealStream(std::FILE* in, const unsigned char* header, const std::string& passphrase,
                  const ByteWriter& out, std::string& reason) {
    SealKey key;
    if (!DeriveFileKey(passphrase, header, key)) {
        reason = "key derivation failed";
        return false;
    }
    if (header[4] == ChunkedVersion) {
        if (SeekTo(in, SealHeaderSize, SEEK_SET) != 0) {
            reason = "cannot read the sealed file";
            return false;
        }
        return UnsealChunks(in, header, key, out, reason);
    }
    const std::uint64_t size = SizeOf(in);
    if (size < SealHeaderSize + SealTagSize) {
        reason = Damaged;
        return false;
    }
    const std::uint64_t bodySize = size - SealHeaderSize - SealTagSize;
    if (bodySize <= Version1InMemory || !IncrementalGcmAvailable())
        return OpenVersion1InMemory(in, header, key, bodySize, out, reason);
    return PassOverVersion1(in, header, key, bodySize, nullptr, reason) &&
           PassOverVersion1(in, header, key, bodySize, &out, reason);
}
