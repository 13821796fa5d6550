// The reference encoder: the plain algorithm, one code bit at a time through
// the bit queue, the codes looked up in the code list itself. Tests hold the
// fast encoder against it.
#include <array>
#include <cstddef>
#include <memory>
#include <string>

#include "codec/bit_queue.h"
#include "codec/chunk_output.h"
#include "codec/encoder.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

// The code of each byte value, found once by walking the list: the first
// entry of that symbol with a code (the head's empty code never matches).
// Null for a byte value without an entry.
using CodeTexts = std::array<const std::string*, 256>;

CodeTexts CodesBySymbol() {
    CodeTexts codes{};
    for (const CodeEntry* entry = &CodeList; entry != nullptr; entry = entry->next) {
        if (!entry->code.empty() && codes[entry->symbol] == nullptr) codes[entry->symbol] = &entry->code;
    }
    return codes;
}

void PassToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }

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

int EncodePayloadReference(std::int32_t chunkSize) {
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto buffer = NewChunkBuffer(chunkSize);
    ChunkOutput output{buffer.get(), chunkSize, PassToDataSink};
    // A source that changed since it was counted would not match the stored
    // table, so its length is checked before each chunk is encoded, and its
    // byte counts at the end.
    const std::uint64_t expected = SavedTotal();
    const CodeTexts codes = CodesBySymbol();
    std::uint64_t consumed = 0;
    std::uint64_t counts[256] = {};
    while (!AtEndOfFile(SourceStream)) {
        const std::size_t got = ReadBytes(SourceStream, input.get(), size);
        consumed += got;
        if (consumed > expected) Fatal("Read error.");
        for (std::size_t i = 0; i < got; ++i) {
            EncodeSymbol(codes[input[i]], output);
            ++counts[input[i]];
        }
    }
    if (consumed != expected || !CountsMatchSaved(counts)) Fatal("Read error.");
    FlushChunk(output);
    const int finalBitCount = Count();
    if (finalBitCount > 0) {
        const std::uint8_t lastByte = PackBits(finalBitCount);
        WriteBytes(DataSink, &lastByte, 1);
    }
    return finalBitCount;
}
