#include "model/frequency_table.h"

#include <algorithm>
#include <cstddef>
#include <memory>

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

// Insertion sort: an entry moves left only past larger counts, so equal
// entries keep their order, which the tree builder depends on. The builder
// sorts again after each merge, when a single entry is out of place, so
// each sort is a short pass without any allocation.
void SortByCount(SymbolTable& table, std::int32_t start, std::int32_t last) {
    for (std::int32_t next = start + 1; next <= last; ++next) {
        const SymbolStat moving = table[next];
        std::int32_t hole = next;
        for (; hole > start && table[hole - 1].count > moving.count; --hole) table[hole] = table[hole - 1];
        table[hole] = moving;
    }
}
