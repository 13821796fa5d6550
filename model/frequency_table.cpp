#include "model/frequency_table.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "io/shared_io.h"

SymbolStat FrequencyTable[256];
SymbolStat SavedFrequencies[256];

namespace {

// One block's counts, added to FrequencyTable; a count past the limit is
// refused at once.
void AddBlockCounts(const std::uint8_t* block, std::size_t length) {
    std::uint64_t counts[256] = {};
    AddByteCounts(counts, block, length);
    for (int value = 0; value < 256; ++value) {
        FrequencyTable[value].count += counts[value];
        if (FrequencyTable[value].count > LargestStorableCount) Fatal("input too large.");
    }
}

}  // namespace

void InitSymbols() {
    for (std::int32_t i = 0; i < 256; ++i) {
        FrequencyTable[i].symbol = i;
    }
}

void CountBytes() {
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(CountBlockSize);
    while (const std::size_t delivered = ReadBytes(SourceStream, block.get(), CountBlockSize)) {
        AddBlockCounts(block.get(), delivered);
    }
}

// Four tables of 32-bit counts, so that repeated bytes do not wait on one
// another's increments, and 16 bytes taken in two loads at a time; each
// piece is short enough for 32 bits.
void AddByteCounts(std::uint64_t (&counts)[256], const std::uint8_t* bytes, std::size_t length) {
    constexpr std::size_t LongestPiece = std::size_t{1} << 31;
    while (length > 0) {
        const std::size_t piece = std::min(length, LongestPiece);
        std::uint32_t partial[4][256] = {};
        std::size_t k = 0;
        for (; k + 16 <= piece; k += 16) {
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
        for (; k < piece; ++k) ++partial[0][bytes[k]];
        for (int value = 0; value < 256; ++value) {
            counts[value] +=
                std::uint64_t{partial[0][value]} + partial[1][value] + partial[2][value] + partial[3][value];
        }
        bytes += piece;
        length -= piece;
    }
}

void SnapshotCounts() {
    for (int k = 0; k < 256; ++k) {
        SavedFrequencies[k] = FrequencyTable[k];
    }
}

std::uint64_t SavedTotal() {
    std::uint64_t total = 0;
    for (const SymbolStat& stat : SavedFrequencies) total += stat.count;
    return total;
}

bool CountsMatchSaved(const std::uint64_t (&counts)[256]) {
    for (int value = 0; value < 256; ++value) {
        if (counts[value] != SavedFrequencies[value].count) return false;
    }
    return true;
}

// Insertion sort: an entry moves left only past larger counts, so equal
// entries keep their order, which the tree builder depends on. The builder
// sorts again after each merge, when a single entry is out of place, so
// each sort is a short pass without any allocation.
void SortByCount(std::int32_t start, std::int32_t last) {
    for (std::int32_t next = start + 1; next <= last; ++next) {
        const SymbolStat moving = FrequencyTable[next];
        std::int32_t hole = next;
        for (; hole > start && FrequencyTable[hole - 1].count > moving.count; --hole)
            FrequencyTable[hole] = FrequencyTable[hole - 1];
        FrequencyTable[hole] = moving;
    }
}
