#pragma once
// The coding model, part one: how often each of the 256 byte values occurs.
// Counts the source when compressing, keeps a copy in symbol order for the
// stored table, and sorts entries stably by count for the tree builder. The
// order in which equal counts come out is part of the file format: the
// reader rebuilds the writer's tree from the same counts. It neither stores
// nor reads the table itself (format/). Counts are 64-bit here; a stored
// count has at most four bytes, so no value may occur more than
// 4,294,967,295 times. The format is documented in format/FORMAT.md.
#include <cstddef>
#include <cstdint>

#include "model/count_kernel.h"

struct TreeNode;

struct SymbolStat {
    std::int32_t symbol = 0;
    std::uint64_t count = 0;
    TreeNode* node = nullptr;  // not owning
};

// The working table: symbol order until BuildTree reorders and sums it.
extern SymbolStat FrequencyTable[256];
// The counts in symbol order: taken right after counting when compressing,
// and the stored table is written from them; taken from the stored table when
// extracting, and the decoded bytes must match them value by value.
extern SymbolStat SavedFrequencies[256];

void InitSymbols();
// The most times one byte value may occur: a stored table gives a count
// four bytes.
inline constexpr std::uint64_t LargestStorableCount = 0xFFFFFFFFull;

// Counts every byte of SourceStream, read in blocks of CountBlockSize bytes
// into one buffer. A count that passes LargestStorableCount stops the program
// with "input too large." as soon as the block that holds it is counted, so
// an endless input ends too.
inline constexpr std::size_t CountBlockSize = std::size_t{1} << 18;
void CountBytes();

void SnapshotCounts();

// The sum of SavedFrequencies' counts: the length of the original data.
std::uint64_t SavedTotal();

// True when counts (by byte value) are those of SavedFrequencies, value by
// value.
bool CountsMatchSaved(const std::uint64_t (&counts)[256]);
// Stable merge sort of FrequencyTable[start..last] by ascending count.
void SortByCount(std::int32_t start, std::int32_t last);
