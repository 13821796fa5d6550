#include "format/compressed_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

std::uint8_t finalBits = 0;
std::uint8_t widthCode = 0;
std::uint8_t reservedFlag = 0;
std::uint8_t tableMode = 0;
std::uint64_t storedTotal = 0;

namespace {

std::uint8_t WidthFor(std::uint64_t largest) {
    if (largest <= 0xFF) return 0;
    if (largest <= 0xFFFF) return 1;
    return 3;
}

// The shortest encoding; on equal lengths full wins, then sparse.
std::uint8_t ShortestMode(int width) {
    std::size_t full = TableLength(FullTable, width);
    std::size_t sparse = TableLength(SparseTable, width);
    std::size_t runs = TableLength(RunsTable, width);
    if (full <= sparse && full <= runs) return FullTable;
    return sparse <= runs ? SparseTable : RunsTable;
}

void ReadExactly(void* buffer, std::size_t size) {
    if (ReadBytes(SourceStream, buffer, size) != size) Fatal("wrong compressed file.");
}

std::uint64_t SumOfCounts() {
    std::uint64_t total = 0;
    for (const SymbolStat& entry : FrequencyTable) {
        total += entry.count;
    }
    return total;
}

}  // namespace

std::uint64_t LargestCount() {
    std::uint64_t largest = 0;
    for (const SymbolStat& entry : SavedFrequencies) {
        if (entry.count > largest) largest = entry.count;
    }
    return largest;
}

void WriteHeader(int finalBitCount) {
    widthCode = WidthFor(LargestCount());
    tableMode = ShortestMode(widthCode);
    std::size_t length = TableLength(tableMode, widthCode);

    std::uint8_t header[3];
    std::size_t size = 0;
    header[size++] = static_cast<std::uint8_t>((finalBitCount & 0x07) | (widthCode << 4) | (tableMode << 6));
    header[size++] = static_cast<std::uint8_t>(length & 0xFF);
    if (widthCode != 0) header[size++] = static_cast<std::uint8_t>((length >> 8) & 0xFF);
    WriteBytes(HeaderSink, header, size);
}

void ReadHeader() {
    if (std::fseek(SourceStream, 0, SEEK_SET) != 0) Fatal("wrong compressed file.");
    std::uint8_t header = 0;
    ReadExactly(&header, 1);
    finalBits = header & 0x07;
    if (finalBits == 0) finalBits = 8;
    reservedFlag = (header >> 3) & 0x01;
    widthCode = (header >> 4) & 0x03;
    tableMode = (header >> 6) & 0x03;

    std::uint8_t field[2] = {0, 0};
    ReadExactly(field, widthCode != 0 ? 2 : 1);
    std::size_t length = field[0] | (std::size_t{field[1]} << 8);
    if (length == 0) length = 256;
    if (reservedFlag != 0) {
        std::uint8_t skipped = 0;
        ReadExactly(&skipped, 1);
    }

    std::vector<std::uint8_t> table(length);
    ReadExactly(table.data(), length);
    DecodeTable(table.data(), length, tableMode, widthCode);
    SnapshotCounts();
    storedTotal = SumOfCounts();
    BuildTree(false);
}
