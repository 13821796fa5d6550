// The reference decoder: the plain algorithm, the tree walked one payload
// bit at a time through the bit queue. Tests hold the fast decoder against
// it.
#include <cstddef>
#include <memory>

#include "codec/bit_queue.h"
#include "codec/decoder.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

struct DecodeRun {
    ChunkOutput output;
    BitQueueRecord& queue;
    const TreeNode* root = nullptr;
    const TreeNode* node = nullptr;  // where the walk stands; the root between symbols
    std::uint64_t storedTotal = 0;
    std::uint64_t produced = 0;
    std::uint64_t counts[256] = {};  // of the decoded byte values
};

bool EndsCode(const TreeNode* node) { return node->left == nullptr && node->right == nullptr; }

// A symbol beyond the stored total means the payload does not belong to the
// table; nothing more is handed on.
corvane_result AppendDecoded(DecodeRun& run, std::uint8_t symbol) {
    if (run.produced == run.storedTotal) return CORVANE_WRONG_FILE;
    ++run.produced;
    ++run.counts[symbol];
    return AppendToChunk(run.output, symbol);
}

corvane_result DecodeByte(DecodeRun& run, std::uint8_t byte, int bits) {
    UnpackBits(run.queue, byte, bits);
    while (Count(run.queue) > 0) {
        const TreeNode* next = Pop(run.queue) == 0 ? run.node->left : run.node->right;
        if (next == nullptr) return CORVANE_WRONG_TREE;
        if (EndsCode(next)) {
            if (const corvane_result result = AppendDecoded(run, next->symbol)) return result;
            next = run.root;
        }
        run.node = next;
    }
    return CORVANE_OK;
}

}  // namespace

// Every byte but the last of the file is walked whole; the last one read is
// held back until the next read shows whether more follow, and the file's
// last byte gives only its finalBits. Bits after the last symbol that
// complete no code are left undecoded.
corvane_result DecodePayloadReference(const TreeNode* root, const HeaderRecord& header,
                                      const SymbolTable& saved, const corvane_reader& source,
                                      const corvane_writer& sink, const CodecOptions& options) {
    std::uint8_t ownStorage[50] = {};
    BitQueueRecord ownQueue{ownStorage};
    const std::int32_t chunkSize = options.chunkSize;
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto output = NewChunkBuffer(chunkSize);
    DecodeRun run{{output.get(), chunkSize, &sink},
                  options.queue != nullptr ? *options.queue : ownQueue,
                  root,
                  root,
                  header.storedTotal};
    bool holding = false;
    std::uint8_t held = 0;
    while (true) {
        std::size_t got = 0;
        if (const corvane_result result = ReadFully(source, input.get(), size, got)) return result;
        if (got == 0) break;
        if (holding) {
            if (const corvane_result result = DecodeByte(run, held, 8)) return result;
        }
        for (std::size_t i = 0; i + 1 < got; ++i) {
            if (const corvane_result result = DecodeByte(run, input[i], 8)) return result;
        }
        held = input[got - 1];
        holding = true;
        if (got < size) break;
    }
    if (holding) {
        if (const corvane_result result = DecodeByte(run, held, header.finalBits)) return result;
    }
    if (run.produced != header.storedTotal || !CountsMatch(run.counts, saved)) return CORVANE_WRONG_FILE;
    return FlushChunk(run.output);
}
