// The reference decoder: the plain algorithm, the tree walked one payload
// bit at a time through the bit queue. Tests hold the fast decoder against
// it.
#include <cstddef>
#include <memory>

#include "codec/bit_queue.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

struct DecodeRun {
    ChunkOutput output;
    const TreeNode* node = nullptr;  // where the walk stands; the root between symbols
    std::uint64_t produced = 0;
    std::uint64_t counts[256] = {};  // of the decoded byte values
};

bool EndsCode(const TreeNode* node) { return node->left == nullptr && node->right == nullptr; }

// A symbol beyond the stored total means the payload does not belong to the
// table; nothing more is handed on.
void AppendDecoded(DecodeRun& run, std::uint8_t symbol) {
    if (run.produced == storedTotal) Fatal("wrong compressed file.");
    ++run.produced;
    ++run.counts[symbol];
    AppendToChunk(run.output, symbol);
}

void DecodeByte(DecodeRun& run, std::uint8_t byte, int bits) {
    UnpackBits(byte, bits);
    while (Count() > 0) {
        const TreeNode* next = Pop() == 0 ? run.node->left : run.node->right;
        if (next == nullptr) Fatal("wrong tree.");
        if (EndsCode(next)) {
            AppendDecoded(run, next->symbol);
            next = TreeRoot;
        }
        run.node = next;
    }
}

// Bits after the last symbol that complete no code are left undecoded.
void DecodeChunk(DecodeRun& run, const std::uint8_t* input, std::size_t length, bool lastChunk) {
    for (std::size_t i = 0; i + 1 < length; ++i) DecodeByte(run, input[i], 8);
    if (length > 0) DecodeByte(run, input[length - 1], lastChunk ? finalBits : 8);
}

}  // namespace

void DecodePayloadReference(ByteSink sink, std::int32_t chunkSize) {
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto output = NewChunkBuffer(chunkSize);
    DecodeRun run{{output.get(), chunkSize, sink}, TreeRoot};
    bool lastChunk = AtEndOfFile(SourceStream);
    while (!lastChunk) {
        const std::size_t got = ReadBytes(SourceStream, input.get(), size);
        lastChunk = got == 0 || AtEndOfFile(SourceStream);
        DecodeChunk(run, input.get(), got, lastChunk);
    }
    if (run.produced != storedTotal || !CountsMatchSaved(run.counts)) Fatal("wrong compressed file.");
    FlushChunk(run.output);
}
