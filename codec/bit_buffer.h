#pragma once
// The fast path's bit buffers: 64 bits in a machine word, the earliest bit
// the most significant, moved to and from the payload eight bytes at a time,
// most significant byte first. So a payload byte holds its bits in stream
// order, bit 7 first, as format/FORMAT.md has it.
#include <bit>
#include <cstdint>
#include <cstring>

// A 64-bit buffer holds a code of up to LongestFastCode bits after the up to
// 7 bits of an unfinished byte, and a reader right after a refill holds at
// least RefilledBits bits.
inline constexpr unsigned LongestFastCode = 57;
static_assert(LongestFastCode + 7 <= 64, "a fast code fits a word beside an unfinished byte");
inline constexpr unsigned RefilledBits = 56;

inline std::uint64_t ByteSwap64(std::uint64_t value) {
#if defined(__GNUC__)
    return __builtin_bswap64(value);
#else
    std::uint64_t swapped = 0;
    for (int k = 0; k < 8; ++k) swapped = swapped << 8 | ((value >> (8 * k)) & 0xFF);
    return swapped;
#endif
}

inline std::uint64_t LoadBigEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, 8);
    return std::endian::native == std::endian::big ? value : ByteSwap64(value);
}

inline void StoreBigEndian64(std::uint8_t* bytes, std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::little) value = ByteSwap64(value);
    std::memcpy(bytes, &value, 8);
}

// The 64 payload bits from bit `position` on (bit 0 is the top bit of
// bytes[0]). The top 57 of them at least are payload bits; the lowest
// position % 8 are zero. Reads the 8 bytes from bytes[position / 8] on.
inline std::uint64_t PeekBits(const std::uint8_t* bytes, std::uint64_t position) {
    return LoadBigEndian64(bytes + position / 8) << (position % 8);
}

// Bits on their way out of the payload. `bits` holds `count` payload bits at
// its top; the bit after them is the first of the byte at `next`. The bits
// below them are zeros or the payload's own next bits, so that a refill can
// lay the next bytes over them. Right after a refill count is RefilledBits
// to 63.
struct BitReader {
    std::uint64_t bits = 0;
    unsigned count = 0;
    const std::uint8_t* next = nullptr;
};

// A reader at bit `position` of the payload; it has read the 8 bytes from
// bytes[position / 8] on.
inline BitReader ReadFrom(const std::uint8_t* bytes, std::uint64_t position) {
    const unsigned offset = static_cast<unsigned>(position % 8);
    return {LoadBigEndian64(bytes + position / 8) << offset, 56 - offset, bytes + position / 8 + 7};
}

// Tops the reader up to RefilledBits bits or more; reads the 8 bytes at `next`.
inline void Refill(BitReader& reader) {
    static_assert(RefilledBits == 56, "whole bytes below 64 bits");
    reader.bits |= LoadBigEndian64(reader.next) >> reader.count;
    reader.next += (63 - reader.count) / 8;
    reader.count |= RefilledBits;
}

inline void SkipBits(BitReader& reader, unsigned length) {
    reader.bits <<= length;
    reader.count -= length;
}

// The payload position of the reader's first bit.
inline std::uint64_t PositionOf(const BitReader& reader, const std::uint8_t* bytes) {
    return static_cast<std::uint64_t>(reader.next - bytes) * 8 - reader.count;
}

// The payload bit at `position`, 0 or 1.
inline unsigned BitAt(const std::uint8_t* bytes, std::uint64_t position) {
    return (bytes[position / 8] >> (7 - position % 8)) & 1u;
}

// Bits on their way into the payload. `bits` holds `count` pending bits at
// its top and zeros below them; `out` is where the byte of the first pending
// bit goes. Between flushes count stays at most 64; right after a flush it
// is at most 7, so up to 57 code bits fit before the next flush.
struct BitWriter {
    std::uint64_t bits = 0;
    unsigned count = 0;
    std::uint8_t* out = nullptr;
};

// Appends a code of `length` bits (0 to 64 - count), given at the top of
// `code` with zeros below it. Needs count below 64, as it is whenever a code
// still fits.
inline void PutBits(BitWriter& writer, std::uint64_t code, unsigned length) {
    writer.bits |= code >> writer.count;
    writer.count += length;
}

// Stores all 8 bytes of the buffer at `out` and moves past the whole ones,
// keeping the pending bits of a partial byte. Writes 8 bytes at `out`
// whatever count is, so 8 bytes there must be writable.
inline void FlushWholeBytes(BitWriter& writer) {
    StoreBigEndian64(writer.out, writer.bits);
    const unsigned whole = writer.count & ~7u;
    writer.out += whole / 8;
    writer.bits = whole == 64 ? 0 : writer.bits << whole;
    writer.count -= whole;
}
