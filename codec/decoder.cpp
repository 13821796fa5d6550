#include "codec/decoder.h"

#include <cstddef>
#include <memory>
#include <string>

#include "app/operation_driver.h"
#include "codec/bit_queue.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"

namespace {

struct DecodeRun {
    std::uint8_t* output = nullptr;
    std::int32_t chunkSize = 0;
    const TreeNode* node = nullptr;  // where the walk stands; the root between symbols
    std::uint64_t produced = 0;
};

bool IsLeaf(const TreeNode* node) { return node->left == nullptr && node->right == nullptr; }

// A symbol beyond the stored total means the payload does not belong to the
// table; nothing more is written.
void AppendSymbol(DecodeRun& run, std::uint8_t symbol) {
    if (run.produced == storedTotal) Fatal("wrong compressed file.");
    ++run.produced;
    if (OutputIndex == run.chunkSize - 1) {
        WriteBytes(DataSink, run.output, static_cast<std::size_t>(run.chunkSize));
        OutputIndex = -1;
    }
    run.output[++OutputIndex] = symbol;
}

void DecodeByte(DecodeRun& run, std::uint8_t byte, int bits) {
    UnpackBits(byte, bits);
    while (Count() > 0) {
        const TreeNode* next = Pop() == 0 ? run.node->left : run.node->right;
        if (next == nullptr) Fatal("wrong tree.");
        if (IsLeaf(next)) {
            AppendSymbol(run, next->symbol);
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

void ShowText(const std::uint8_t* output) {
    const auto length = static_cast<std::size_t>(OutputIndex + 1);
    std::size_t textLength = 0;
    while (textLength < length && output[textLength] != 0) ++textLength;
    PrintLine(std::string(reinterpret_cast<const char*>(output), textLength));
}

}  // namespace

void DecodePayload(std::int32_t chunkSize) {
    PrintLine(std::string(38, '='));
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    const auto output = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    DecodeRun run{output.get(), chunkSize, TreeRoot, 0};
    bool lastChunk = AtEndOfFile(SourceStream);
    while (!lastChunk) {
        const std::size_t got = ReadBytes(SourceStream, input.get(), size);
        lastChunk = got == 0 || AtEndOfFile(SourceStream);
        DecodeChunk(run, input.get(), got, lastChunk);
    }
    if (run.produced != storedTotal) Fatal("wrong compressed file.");
    if (displayMode) {
        ShowText(output.get());
    } else if (OutputIndex >= 0) {
        WriteBytes(DataSink, output.get(), static_cast<std::size_t>(OutputIndex) + 1);
    }
    OutputIndex = -1;
}
