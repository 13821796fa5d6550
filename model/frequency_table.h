#pragma once
// Per-byte-value counts and the stable sort that tree building relies on.
#include <cstdint>

struct TreeNode;

struct SymbolStat {
    std::int32_t symbol = 0;
    std::uint64_t count = 0;
    TreeNode* node = nullptr;  // not owning
};

// The working table: symbol order until BuildTree reorders and sums it.
extern SymbolStat FrequencyTable[256];
// The counts in symbol order, taken right after counting; the stored table
// of a compressed file is written from it.
extern SymbolStat SavedFrequencies[256];

void InitSymbols();
// Counts every byte of SourceStream, in blocks of 4096 bytes.
void CountBytes();
void SnapshotCounts();
// Stable merge sort of FrequencyTable[start..last] by ascending count.
void SortByCount(std::int32_t start, std::int32_t last);
