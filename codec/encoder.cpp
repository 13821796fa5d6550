#include "codec/encoder.h"

#include <array>
#include <cstddef>
#include <memory>

#include "codec/bit_queue.h"
#include "codec/chunk_output.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

std::int32_t OutputIndex = -1;
std::int32_t BulkSize = ChunkSize;

namespace {

// The number of bytes the source held when it was counted.
std::uint64_t CountedLength() {
    std::uint64_t total = 0;
    for (const SymbolStat& stat : SavedFrequencies) total += stat.count;
    return total;
}

// The code of each byte value, found once by walking the list: the first
// entry of that symbol with a code (the head's empty code never matches).
// Null for a byte value without an entry.
using CodeTable = std::array<const std::string*, 256>;

CodeTable CodesBySymbol() {
    CodeTable codes{};
    for (const CodeEntry* entry = &CodeList; entry != nullptr; entry = entry->next) {
        if (!entry->code.empty() && codes[entry->symbol] == nullptr) codes[entry->symbol] = &entry->code;
    }
    return codes;
}

void WriteToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }

// A full byte leaves the queue as soon as it is complete, even in the middle
// of a code, so codes of any length pass through the queue.
void EncodeSymbol(const std::string* code, ChunkOutput& output) {
    if (code == nullptr) Fatal("wrong tree find list.");
    for (const char bit : *code) {
        Push(bit == '0' ? 0 : 1);
        if (Count() == 8) AppendToChunk(output, PackBits(8));
    }
}

}  // namespace

int EncodePayload(std::int32_t chunkSize) {
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    ChunkOutput output{buffer.get(), chunkSize, WriteToDataSink};
    // A source that changed since it was counted would not match the stored
    // table, so its length is checked before each chunk is encoded.
    const std::uint64_t expected = CountedLength();
    const CodeTable codes = CodesBySymbol();
    std::uint64_t consumed = 0;
    while (!AtEndOfFile(SourceStream)) {
        const std::size_t got = ReadBytes(SourceStream, input.get(), size);
        consumed += got;
        if (consumed > expected) Fatal("Read error.");
        for (std::size_t i = 0; i < got; ++i) EncodeSymbol(codes[input[i]], output);
    }
    if (consumed != expected) Fatal("Read error.");
    FlushChunk(output);
    const int finalBitCount = Count();
    if (finalBitCount > 0) {
        const std::uint8_t lastByte = PackBits(finalBitCount);
        WriteBytes(DataSink, &lastByte, 1);
    }
    return finalBitCount;
}
