#include "codec/encode_kernel.h"

namespace {

// How much of the time groups of groupSize codes pass GroupBits, from the
// distribution of one code's length.
double OverflowShare(const double (&lengthShare)[LongestWordCode + 1], unsigned groupSize) {
    constexpr unsigned Sums = GroupBits + 1;
    double sums[Sums] = {1.0};  // the sums up to GroupBits; the rest overflow
    for (unsigned code = 0; code < groupSize; ++code) {
        double next[Sums] = {};
        for (unsigned sum = 0; sum < Sums; ++sum) {
            for (unsigned length = 0; sum + length < Sums; ++length)
                next[sum + length] += sums[sum] * lengthShare[length];
        }
        for (unsigned sum = 0; sum < Sums; ++sum) sums[sum] = next[sum];
    }
    double fitting = 0;
    for (double share : sums) fitting += share;
    return 1.0 - fitting;
}

// A code put without care for the buffer's end: a group that passes it is
// put again. x86 shifts take the count modulo 64 by themselves.
inline void PutUnguarded(BitWriter& writer, std::uint64_t code, unsigned length) {
    writer.bits |= code >> (writer.count & 63);
    writer.count += length;
}

// A store after a group: fewer than 64 bits are held.
inline void FlushGroup(BitWriter& writer) {
    StoreBigEndian64(writer.out, writer.bits);
    writer.out += writer.count / 8;
    writer.bits <<= writer.count & ~7u;
    writer.count &= 7;
}

// One code and a store: the guarded path of a group that does not fit, and
// of the bytes after the last whole group. False for a value without a code.
inline bool PutAndFlush(BitWriter& writer, const CodeWords& words, std::uint8_t value) {
    if (words.lengths[value] > LongestWordCode) return false;
    PutBits(writer, words.codes[value], words.lengths[value]);
    FlushWholeBytes(writer);
    return true;
}

template <unsigned groupSize, bool counting>
bool EncodeGroups(BitWriter& writer, const std::uint8_t* bytes, std::size_t length, const CodeWords& words,
                  PlaceCounts* counts) {
    BitWriter local = writer;  // in registers, whatever the counts' stores
    bool allCoded = true;
    std::size_t k = 0;
    for (; k + groupSize <= length; k += groupSize) {
        const BitWriter before = local;
        for (unsigned j = 0; j < groupSize; ++j) {
            const std::uint8_t value = bytes[k + j];
            PutUnguarded(local, words.codes[value], words.lengths[value]);
            if constexpr (counting) ++(*counts)[j % CountPlaces][value];
        }
        if (local.count < 64) [[likely]] {
            FlushGroup(local);
        } else {
            local = before;
            for (unsigned j = 0; j < groupSize; ++j) allCoded &= PutAndFlush(local, words, bytes[k + j]);
        }
    }
    for (; k < length; ++k) {
        if constexpr (counting) ++(*counts)[0][bytes[k]];
        allCoded &= PutAndFlush(local, words, bytes[k]);
    }
    writer = local;
    return allCoded;
}

template <unsigned groupSize>
bool EncodeWithGroupSize(BitWriter& writer, const std::uint8_t* bytes, std::size_t length,
                         const CodeWords& words, PlaceCounts* counts) {
    if (counts != nullptr) return EncodeGroups<groupSize, true>(writer, bytes, length, words, counts);
    return EncodeGroups<groupSize, false>(writer, bytes, length, words, nullptr);
}

}  // namespace

void MakeCodeWords(CodeWords& words, const std::uint64_t (&codes)[256], const unsigned (&lengths)[256]) {
    for (int value = 0; value < 256; ++value) {
        words.codes[value] = codes[value];
        words.lengths[value] = lengths[value] == 0 ? NoCodeLength : static_cast<std::uint8_t>(lengths[value]);
    }
}

unsigned ChooseGroupSize(const CodeWords& words, const std::uint64_t (&counts)[256]) {
    // A group passes the store this often at most by the model before a
    // smaller one pays. Real data overflows more often than independent
    // values would (up to eight times as often in a concatenation of
    // unlike files), hence the small share.
    constexpr double MostOverflowShare = 1.0 / 256;
    double lengthShare[LongestWordCode + 1] = {};
    double total = 0;
    for (unsigned value = 0; value < 256; ++value) {
        if (words.lengths[value] > LongestWordCode) continue;
        lengthShare[words.lengths[value]] += static_cast<double>(counts[value]);
        total += static_cast<double>(counts[value]);
    }
    if (total == 0) return 1;
    for (double& share : lengthShare) share /= total;
    for (const unsigned size : GroupSizes) {
        if (size == 1 || OverflowShare(lengthShare, size) <= MostOverflowShare) return size;
    }
    return 1;
}

bool EncodeBytes(BitWriter& writer, const std::uint8_t* bytes, std::size_t length, const CodeWords& words,
                 unsigned groupSize, PlaceCounts* counts) {
    switch (groupSize) {
        case 16: return EncodeWithGroupSize<16>(writer, bytes, length, words, counts);
        case 12: return EncodeWithGroupSize<12>(writer, bytes, length, words, counts);
        case 10: return EncodeWithGroupSize<10>(writer, bytes, length, words, counts);
        case 8: return EncodeWithGroupSize<8>(writer, bytes, length, words, counts);
        case 7: return EncodeWithGroupSize<7>(writer, bytes, length, words, counts);
        case 6: return EncodeWithGroupSize<6>(writer, bytes, length, words, counts);
        case 5: return EncodeWithGroupSize<5>(writer, bytes, length, words, counts);
        case 4: return EncodeWithGroupSize<4>(writer, bytes, length, words, counts);
        case 3: return EncodeWithGroupSize<3>(writer, bytes, length, words, counts);
        case 2: return EncodeWithGroupSize<2>(writer, bytes, length, words, counts);
        default: return EncodeWithGroupSize<1>(writer, bytes, length, words, counts);
    }
}
