#include "codec/chunk_output.h"

#include "codec/encoder.h"
#include "io/shared_io.h"

std::unique_ptr<std::uint8_t[]> NewChunkBuffer(std::int32_t chunkSize) {
    return std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(chunkSize) + ChunkSlack);
}

void AppendToChunk(ChunkOutput& output, std::uint8_t byte) {
    if (OutputIndex == output.chunkSize - 1) {
        output.sink(output.buffer, static_cast<std::size_t>(output.chunkSize));
        OutputIndex = -1;
    }
    output.buffer[++OutputIndex] = byte;
}

std::uint8_t* FreePart(const ChunkOutput& output) { return output.buffer + OutputIndex + 1; }

std::size_t ChunkRoom(const ChunkOutput& output) {
    return static_cast<std::size_t>(output.chunkSize - 1 - OutputIndex);
}

void CommitToChunk(ChunkOutput&, std::size_t length) { OutputIndex += static_cast<std::int32_t>(length); }

void FlushChunk(ChunkOutput& output) {
    if (OutputIndex >= 0) output.sink(output.buffer, static_cast<std::size_t>(OutputIndex) + 1);
    OutputIndex = -1;
}

void WriteToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }
