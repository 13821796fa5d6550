#include "codec/chunk_output.h"

#include "codec/encoder.h"

void AppendToChunk(ChunkOutput& output, std::uint8_t byte) {
    if (OutputIndex == output.chunkSize - 1) {
        output.sink(output.buffer, static_cast<std::size_t>(output.chunkSize));
        OutputIndex = -1;
    }
    output.buffer[++OutputIndex] = byte;
}

void FlushChunk(ChunkOutput& output) {
    if (OutputIndex >= 0) output.sink(output.buffer, static_cast<std::size_t>(OutputIndex) + 1);
    OutputIndex = -1;
}
