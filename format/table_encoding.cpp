#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/compressed_file.h"
#include "model/frequency_table.h"

namespace {

std::size_t CountWidth(int width) { return static_cast<std::size_t>(width) + 1; }

bool Present(const SymbolTable& saved, int symbol) { return saved[symbol].count != 0; }

void AppendCount(std::vector<std::uint8_t>& table, std::uint64_t count, int width) {
    for (std::size_t k = 0; k < CountWidth(width); ++k) {
        table.push_back(static_cast<std::uint8_t>(count >> (8 * k)));
    }
}

corvane_result DecodeFull(SymbolTable& counts, const std::uint8_t* table, std::size_t length, int width) {
    std::size_t b = CountWidth(width);
    if (length != 256 * b) return CORVANE_WRONG_FILE;
    for (std::size_t s = 0; s < 256; ++s) {
        std::uint64_t count = 0;
        ReadCount(count, table + s * b, width);
        counts[s].count = count;
    }
    return CORVANE_OK;
}

corvane_result DecodeSparse(SymbolTable& counts, const std::uint8_t* table, std::size_t length, int width) {
    std::size_t entry = CountWidth(width) + 1;
    if (length % entry != 0) return CORVANE_WRONG_FILE;
    for (std::size_t p = 0; p < length; p += entry) {
        std::uint64_t count = 0;
        ReadCount(count, table + p + 1, width);
        counts[table[p]].count = count;
    }
    return CORVANE_OK;
}

// Each run is a start symbol, its counts and a zero count. A run that reaches
// symbol 255 ends at the wrap to 0 instead; the zero bytes that follow it are
// then start bytes of value 0, which begin nothing once a count is stored.
corvane_result DecodeRuns(SymbolTable& counts, const std::uint8_t* table, std::size_t length, int width) {
    std::size_t b = CountWidth(width);
    bool storedAny = false;
    std::size_t p = 0;
    while (p < length) {
        std::uint8_t s = table[p++];
        while (!(s == 0 && storedAny)) {
            if (length - p < b) return CORVANE_WRONG_FILE;
            std::uint64_t count = 0;
            ReadCount(count, table + p, width);
            p += b;
            if (count == 0) break;
            counts[s].count = count;
            storedAny = true;
            s = static_cast<std::uint8_t>(s + 1);
        }
    }
    return CORVANE_OK;
}

}  // namespace

std::size_t TableLength(const SymbolTable& saved, int mode, int width) {
    std::size_t b = CountWidth(width);
    std::size_t length = 0;
    for (int k = 0; k < 256; ++k) {
        if (mode == FullTable) {
            length += b;
        } else if (mode == SparseTable && Present(saved, k)) {
            length += b + 1;
        } else if (mode == RunsTable && Present(saved, k)) {
            bool runStart = k == 0 || !Present(saved, k - 1);
            bool runEnd = k == 255 || !Present(saved, k + 1);
            length += b + (runStart ? 1 : 0) + (runEnd ? b : 0);
        }
    }
    return length;
}

std::vector<std::uint8_t> EncodeTable(const SymbolTable& saved, int mode, int width) {
    std::vector<std::uint8_t> table;
    int k = 0;
    while (k < 256) {
        std::uint64_t count = saved[k].count;
        if (mode == FullTable) {
            AppendCount(table, count, width);
            ++k;
        } else if (mode == SparseTable && count != 0) {
            table.push_back(static_cast<std::uint8_t>(k));
            AppendCount(table, count, width);
            ++k;
        } else if (mode == RunsTable && count != 0) {
            table.push_back(static_cast<std::uint8_t>(k));
            while (k < 256 && saved[k].count != 0) {
                AppendCount(table, saved[k].count, width);
                ++k;
            }
            AppendCount(table, 0, width);
        } else {
            ++k;
        }
    }
    return table;
}

corvane_result WriteTable(const HeaderRecord& header, const SymbolTable& saved, const corvane_writer& sink) {
    std::vector<std::uint8_t> table = EncodeTable(saved, header.tableMode, header.widthCode);
    if (table.empty()) return CORVANE_OK;
    return sink.write(sink.context, table.data(), table.size()) == 0 ? CORVANE_OK : CORVANE_WRITE_ERROR;
}

corvane_result DecodeTable(SymbolTable& counts, const std::uint8_t* table, std::size_t length, int mode,
                           int width) {
    if (mode == FullTable) return DecodeFull(counts, table, length, width);
    if (mode == SparseTable) return DecodeSparse(counts, table, length, width);
    if (mode == RunsTable) return DecodeRuns(counts, table, length, width);
    return CORVANE_OK;
}

void ReadCount(std::uint64_t& destination, const std::uint8_t* source, int width) {
    for (std::size_t k = 0; k < CountWidth(width); ++k) {
        std::uint64_t shift = 8 * k;
        destination &= ~(std::uint64_t{0xFF} << shift);
        destination |= std::uint64_t{source[k]} << shift;
    }
}
