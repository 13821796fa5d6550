#pragma once
// The coding model, part one: how often each of the 256 byte values occurs.
// Counts the source when compressing, keeps a copy in symbol order for the
// stored table, and sorts entries stably by count for the tree builder. The
// order in which equal counts come out is part of the file format: the
// reader rebuilds the writer's tree from the same counts. It neither stores
// nor reads the table itself (format/). Counts are 64-bit here; a stored
// count has at most four bytes, so no value may occur more than
// 4,294,967,295 times. The format is documented in format/FORMAT.md.
//
// Every operation works on the tables it is handed; the program's one
// instance of them (FrequencyTable, SavedFrequencies) is the shell's
// (app/program_state.h).
#include <cstddef>
#include <cstdint>

#include "corvane.h"
#include "model/count_kernel.h"

struct TreeNode;

struct SymbolStat {
    std::int32_t symbol = 0;
    std::uint64_t count = 0;
    TreeNode* node = nullptr;  // not owning
};

// The working table (symbol order until BuildTree reorders and sums it), or
// the counts in symbol order (the saved copy).
using SymbolTable = SymbolStat[256];

// Entry i gets symbol i.
void InitSymbols(SymbolTable& table);

// The most times one byte value may occur: a stored table gives a count
// four bytes.
inline constexpr std::uint64_t LargestStorableCount = 0xFFFFFFFFull;

// Counts every byte the source gives, read in blocks of CountBlockSize
// bytes. A count that passes LargestStorableCount gives
// CORVANE_INPUT_TOO_LARGE as soon as the block that holds it is counted, so
// an endless input ends too; a read error CORVANE_READ_ERROR.
inline constexpr std::size_t CountBlockSize = std::size_t{1} << 18;
corvane_result CountBytes(SymbolTable& table, const corvane_reader& source);

// Adds one block's counts to the table; CORVANE_INPUT_TOO_LARGE past the
// limit.
corvane_result AddBlockCounts(SymbolTable& table, const std::uint8_t* block, std::size_t length);

// Copies every entry of `from` into `to`.
void SnapshotCounts(const SymbolTable& from, SymbolTable& to);

// The sum of the counts: the length of the original data.
std::uint64_t TotalOf(const SymbolTable& saved);

// True when counts (by byte value) are those of the saved table, value by
// value.
bool CountsMatch(const std::uint64_t (&counts)[256], const SymbolTable& saved);

// Stable sort of table[start..last] by ascending count.
void SortByCount(SymbolTable& table, std::int32_t start, std::int32_t last);

// Reads up to `size` bytes, as many as the source gives before its end;
// fewer only at the end. CORVANE_READ_ERROR on a read error.
corvane_result ReadFully(const corvane_reader& source, void* buffer, std::size_t size, std::size_t& got);
