#include "format/compressed_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

std::uint8_t WidthFor(std::uint64_t largest) {
    if (largest <= 0xFF) return 0;
    if (largest <= 0xFFFF) return 1;
    return 3;
}

// The shortest encoding; on equal lengths full wins, then sparse.
std::uint8_t ShortestMode(const SymbolTable& saved, int width) {
    std::size_t full = TableLength(saved, FullTable, width);
    std::size_t sparse = TableLength(saved, SparseTable, width);
    std::size_t runs = TableLength(saved, RunsTable, width);
    if (full <= sparse && full <= runs) return FullTable;
    return sparse <= runs ? SparseTable : RunsTable;
}

corvane_result ReadExactly(const corvane_reader& source, void* buffer, std::size_t size) {
    std::size_t got = 0;
    if (const corvane_result result = ReadFully(source, buffer, size, got)) return result;
    return got == size ? CORVANE_OK : CORVANE_WRONG_FILE;
}

}  // namespace

std::uint64_t LargestCount(const SymbolTable& saved) {
    std::uint64_t largest = 0;
    for (const SymbolStat& entry : saved) {
        if (entry.count > largest) largest = entry.count;
    }
    return largest;
}

corvane_result WriteHeader(HeaderRecord& header, const SymbolTable& saved, int finalBitCount,
                           const corvane_writer& sink) {
    header.widthCode = WidthFor(LargestCount(saved));
    header.tableMode = ShortestMode(saved, header.widthCode);
    std::size_t length = TableLength(saved, header.tableMode, header.widthCode);

    std::uint8_t bytes[3];
    std::size_t size = 0;
    bytes[size++] =
        static_cast<std::uint8_t>((finalBitCount & 0x07) | (header.widthCode << 4) | (header.tableMode << 6));
    bytes[size++] = static_cast<std::uint8_t>(length & 0xFF);
    if (header.widthCode != 0) bytes[size++] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    return sink.write(sink.context, bytes, size) == 0 ? CORVANE_OK : CORVANE_WRITE_ERROR;
}

corvane_result ReadHeaderAndTable(HeaderRecord& header, SymbolTable& table, SymbolTable& saved,
                                  const corvane_reader& source) {
    std::uint8_t first = 0;
    if (const corvane_result result = ReadExactly(source, &first, 1)) return result;
    header.finalBits = first & 0x07;
    if (header.finalBits == 0) header.finalBits = 8;
    header.reservedFlag = (first >> 3) & 0x01;
    header.widthCode = (first >> 4) & 0x03;
    header.tableMode = (first >> 6) & 0x03;

    std::uint8_t field[2] = {0, 0};
    if (const corvane_result result = ReadExactly(source, field, header.widthCode != 0 ? 2 : 1))
        return result;
    std::size_t length = field[0] | (std::size_t{field[1]} << 8);
    if (length == 0) length = 256;
    if (header.reservedFlag != 0) {
        std::uint8_t skipped = 0;
        if (const corvane_result result = ReadExactly(source, &skipped, 1)) return result;
    }

    std::vector<std::uint8_t> bytes(length);
    if (const corvane_result result = ReadExactly(source, bytes.data(), length)) return result;
    if (const corvane_result result =
            DecodeTable(table, bytes.data(), length, header.tableMode, header.widthCode))
        return result;
    SnapshotCounts(table, saved);
    header.storedTotal = TotalOf(table);
    return CORVANE_OK;
}

corvane_result ReadHeader(HeaderRecord& header, SymbolTable& table, SymbolTable& saved, TreeNode*& root,
                          const corvane_reader& source) {
    if (const corvane_result result = ReadHeaderAndTable(header, table, saved, source)) return result;
    return BuildTree(table, root, nullptr);
}
