#pragma once
// The output buffer that the encoder and the decoder fill byte by byte and
// hand on in whole chunks. OutputIndex (encoder.h) counts its filled part.
#include <cstddef>
#include <cstdint>

// Receives the bytes of one chunk, in order. Stops the program itself when it
// cannot take them.
using ByteSink = void (*)(const std::uint8_t* bytes, std::size_t length);

struct ChunkOutput {
    std::uint8_t* buffer = nullptr;
    std::int32_t chunkSize = 0;
    ByteSink sink = nullptr;
};

// Stores the byte, first handing a full buffer to the sink.
void AppendToChunk(ChunkOutput& output, std::uint8_t byte);

// Hands the filled part of the buffer (possibly nothing) to the sink and
// empties it.
void FlushChunk(ChunkOutput& output);
