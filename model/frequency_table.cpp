#include "model/frequency_table.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

// One block's counts, added to the table; a count past the limit is
// refused at once.
corvane_result AddBlockCounts(SymbolTable& table, const std::uint8_t* block, std::size_t length) {
    std::uint64_t counts[256] = {};
    AddByteCounts(counts, block, length);
    for (int value = 0; value < 256; ++value) {
        table[value].count += counts[value];
        if (table[value].count > LargestStorableCount) return CORVANE_INPUT_TOO_LARGE;
    }
    return CORVANE_OK;
}

void InitSymbols(SymbolTable& table) {
    for (std::int32_t i = 0; i < 256; ++i) {
        table[i].symbol = i;
    }
}

corvane_result ReadFully(const corvane_reader& source, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (got < size) {
        const std::ptrdiff_t delivered = source.read(source.context, bytes + got, size - got);
        if (delivered < 0) return CORVANE_READ_ERROR;
        if (delivered == 0) break;
        got += static_cast<std::size_t>(delivered);
    }
    return CORVANE_OK;
}

corvane_result CountBytes(SymbolTable& table, const corvane_reader& source) {
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(CountBlockSize);
    while (true) {
        std::size_t delivered = 0;
        if (const corvane_result result = ReadFully(source, block.get(), CountBlockSize, delivered))
            return result;
        if (delivered == 0) return CORVANE_OK;
        if (const corvane_result result = AddBlockCounts(table, block.get(), delivered)) return result;
    }
}

void SnapshotCounts(const SymbolTable& from, SymbolTable& to) {
    for (int k = 0; k < 256; ++k) {
        to[k] = from[k];
    }
}

std::uint64_t TotalOf(const SymbolTable& saved) {
    std::uint64_t total = 0;
    for (const SymbolStat& stat : saved) total += stat.count;
    return total;
}

bool CountsMatch(const std::uint64_t (&counts)[256], const SymbolTable& saved) {
    for (int value = 0; value < 256; ++value) {
        if (counts[value] != saved[value].count) return false;
    }
    return true;
}

// Top-down merge sort. On equal counts the left entry goes first, which keeps
// the order of equal entries: the tree builder depends on it.
void SortByCount(SymbolTable& table, std::int32_t start, std::int32_t last) {
    if (start >= last) return;
    std::int32_t mid = start + (last - start) / 2;
    SortByCount(table, start, mid);
    SortByCount(table, mid + 1, last);

    std::vector<SymbolStat> merged;
    merged.reserve(static_cast<std::size_t>(last - start + 1));
    std::int32_t j = start;
    std::int32_t i = mid + 1;
    while (j <= mid && i <= last) {
        if (table[j].count > table[i].count) {
            merged.push_back(table[i++]);
        } else {
            merged.push_back(table[j++]);
        }
    }
    while (i <= last) {
        merged.push_back(table[i++]);
    }
    while (j <= mid) {
        merged.push_back(table[j++]);
    }
    for (std::size_t k = 0; k < merged.size(); ++k) {
        table[start + static_cast<std::int32_t>(k)] = merged[k];
    }
}
