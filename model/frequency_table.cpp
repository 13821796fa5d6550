#include "model/frequency_table.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

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

// Top-down merge sort. On equal counts the left entry goes first, which keeps
// the order of equal entries: the tree builder depends on it.
void SortByCount(std::int32_t start, std::int32_t last) {
    if (start >= last) return;
    std::int32_t mid = start + (last - start) / 2;
    SortByCount(start, mid);
    SortByCount(mid + 1, last);

    std::vector<SymbolStat> merged;
    merged.reserve(static_cast<std::size_t>(last - start + 1));
    std::int32_t j = start;
    std::int32_t i = mid + 1;
    while (j <= mid && i <= last) {
        if (FrequencyTable[j].count > FrequencyTable[i].count) {
            merged.push_back(FrequencyTable[i++]);
        } else {
            merged.push_back(FrequencyTable[j++]);
        }
    }
    while (i <= last) {
        merged.push_back(FrequencyTable[i++]);
    }
    while (j <= mid) {
        merged.push_back(FrequencyTable[j++]);
    }
    for (std::size_t k = 0; k < merged.size(); ++k) {
        FrequencyTable[start + static_cast<std::int32_t>(k)] = merged[k];
    }
}
