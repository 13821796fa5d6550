#include "codec/chunk_output.h"

std::unique_ptr<std::uint8_t[]> NewChunkBuffer(std::int32_t chunkSize) {
    return std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(chunkSize) + ChunkSlack);
}

corvane_result WriteTo(const corvane_writer& sink, const std::uint8_t* bytes, std::size_t length) {
    return sink.write(sink.context, bytes, length) == 0 ? CORVANE_OK : CORVANE_WRITE_ERROR;
}

corvane_result AppendToChunk(ChunkOutput& output, std::uint8_t byte) {
    if (output.outputIndex == output.chunkSize - 1) {
        const corvane_result result =
            WriteTo(*output.sink, output.buffer, static_cast<std::size_t>(output.chunkSize));
        output.outputIndex = -1;
        if (result != CORVANE_OK) return result;
    }
    output.buffer[++output.outputIndex] = byte;
    return CORVANE_OK;
}

corvane_result FlushChunk(ChunkOutput& output) {
    corvane_result result = CORVANE_OK;
    if (output.outputIndex >= 0)
        result = WriteTo(*output.sink, output.buffer, static_cast<std::size_t>(output.outputIndex) + 1);
    output.outputIndex = -1;
    return result;
}
