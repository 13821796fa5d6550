#include "model/frequency_table.h"

#include <cstddef>
#include <vector>

#include "io/shared_io.h"

SymbolStat FrequencyTable[256];
SymbolStat SavedFrequencies[256];

namespace {

constexpr std::size_t CountBlockSize = 4096;

// Only an input longer than the limit can hold a count beyond it.
void RefuseTooLargeCounts(std::uint64_t counted) {
    if (counted <= LargestStorableCount) return;
    for (const SymbolStat& entry : FrequencyTable) {
        if (entry.count > LargestStorableCount) Fatal("input too large.");
    }
}

}  // namespace

void InitSymbols() {
    for (std::int32_t i = 0; i < 256; ++i) {
        FrequencyTable[i].symbol = i;
    }
}

void CountBytes() {
    unsigned char block[CountBlockSize];
    if (AtEndOfFile(SourceStream)) return;
    std::uint64_t counted = 0;
    do {
        std::size_t delivered = ReadBytes(SourceStream, block, CountBlockSize);
        for (std::size_t k = 0; k < delivered; ++k) ++FrequencyTable[block[k]].count;
        counted += delivered;
        RefuseTooLargeCounts(counted);
    } while (!AtEndOfFile(SourceStream));
}

void SnapshotCounts() {
    for (int k = 0; k < 256; ++k) {
        SavedFrequencies[k] = FrequencyTable[k];
    }
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
