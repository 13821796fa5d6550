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
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

// The code of each byte value, found once by walking the list: the first
// entry of that symbol with a code (the head's empty code never matches).
// Null for a byte value without an entry.
using CodeTexts = std::array<const std::string*, 256>;

CodeTexts CodesBySymbol(const CodeEntry& codeList) {
    CodeTexts codes{};
    for (const CodeEntry* entry = &codeList; entry != nullptr; entry = entry->next) {
        if (!entry->code.empty() && codes[entry->symbol] == nullptr) codes[entry->symbol] = &entry->code;
    }
    return codes;
}

// A full byte leaves the queue as soon as it is complete, even in the middle
// of a code, so codes of any length pass through the queue.
corvane_result EncodeSymbol(BitQueueRecord& queue, const std::string* code, ChunkOutput& output) {
    if (code == nullptr) return CORVANE_WRONG_CODE_LIST;
    for (const char bit : *code) {
        Push(queue, bit == '0' ? 0 : 1);
        if (Count(queue) == 8) {
            if (const corvane_result result = AppendToChunk(output, PackBits(queue, 8))) return result;
        }
    }
    return CORVANE_OK;
}

}  // namespace

corvane_result EncodePayloadReference(const CodeEntry& codeList, const SymbolTable& saved,
                                      const corvane_reader& source, const corvane_writer& sink,
                                      const CodecOptions& options, int& finalBitCount) {
    std::uint8_t ownStorage[50] = {};
    BitQueueRecord ownQueue{ownStorage};
    BitQueueRecord& queue = options.queue != nullptr ? *options.queue : ownQueue;
    const std::int32_t chunkSize = options.chunkSize;
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto buffer = NewChunkBuffer(chunkSize);
    ChunkOutput output{buffer.get(), chunkSize, &sink};
    // A source that changed since it was counted would not match the stored
    // table, so its length is checked before each chunk is encoded, and its
    // byte counts at the end.
    const std::uint64_t expected = TotalOf(saved);
    const CodeTexts codes = CodesBySymbol(codeList);
    std::uint64_t consumed = 0;
    std::uint64_t counts[256] = {};
    while (true) {
        std::size_t got = 0;
        if (const corvane_result result = ReadFully(source, input.get(), size, got)) return result;
        if (got == 0) break;
        consumed += got;
        if (consumed > expected) return CORVANE_SOURCE_CHANGED;
        for (std::size_t i = 0; i < got; ++i) {
            if (const corvane_result result = EncodeSymbol(queue, codes[input[i]], output)) return result;
            ++counts[input[i]];
        }
    }
    if (consumed != expected || !CountsMatch(counts, saved)) return CORVANE_SOURCE_CHANGED;
    if (const corvane_result result = FlushChunk(output)) return result;
    finalBitCount = Count(queue);
    if (finalBitCount > 0) {
        const std::uint8_t lastByte = PackBits(queue, finalBitCount);
        return WriteTo(sink, &lastByte, 1);
    }
    return CORVANE_OK;
}
