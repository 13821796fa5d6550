#include "model/count_kernel.h"

#include <algorithm>
#include <cstring>

namespace {

// Counts in 32-bit tables, one for each place in a group of CountTables
// bytes, so that repeated bytes do not wait on one another's increments.
constexpr unsigned CountTables = 4;
using PartialCounts = std::uint32_t[CountTables][256];

// 16 bytes taken in two loads at a time; at most 2^31 of them, so that no
// table passes 32 bits.
void CountPiece(PartialCounts& partial, const std::uint8_t* bytes, std::size_t length) {
    std::size_t k = 0;
    for (; k + 16 <= length; k += 16) {
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        std::memcpy(&first, bytes + k, 8);
        std::memcpy(&second, bytes + k + 8, 8);
        for (int shift = 0; shift < 64; shift += 16) {
            ++partial[0][(first >> shift) & 0xFF];
            ++partial[1][(second >> shift) & 0xFF];
            ++partial[2][(first >> (shift + 8)) & 0xFF];
            ++partial[3][(second >> (shift + 8)) & 0xFF];
        }
    }
    for (; k < length; ++k) ++partial[0][bytes[k]];
}

}  // namespace

void AddByteCounts(std::uint64_t (&counts)[256], const std::uint8_t* bytes, std::size_t length) {
    constexpr std::size_t LongestPiece = std::size_t{1} << 31;
    while (length > 0) {
        const std::size_t piece = std::min(length, LongestPiece);
        PartialCounts partial = {};
        CountPiece(partial, bytes, piece);
        for (int value = 0; value < 256; ++value) {
            for (const auto& table : partial) counts[value] += table[value];
        }
        bytes += piece;
        length -= piece;
    }
}
