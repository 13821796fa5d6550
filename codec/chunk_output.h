#pragma once
// The output buffer that the encoder and the decoder fill and hand on in
// whole chunks: byte by byte on the reference path, in runs written straight
// into the buffer on the fast path. Its outputIndex counts its filled part;
// each run has its own.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "corvane.h"

struct ChunkOutput {
    std::uint8_t* buffer = nullptr;
    std::int32_t chunkSize = 0;
    const corvane_writer* sink = nullptr;
    std::int32_t outputIndex = -1;  // the last byte placed; -1 when empty
};

// Writable bytes after the chunkSize bytes of a chunk buffer, so that the
// fast path may store 8 bytes at once at its filled end.
inline constexpr std::size_t ChunkSlack = 8;

// A buffer for chunks of chunkSize bytes, with the slack after them.
std::unique_ptr<std::uint8_t[]> NewChunkBuffer(std::int32_t chunkSize);

// Hands bytes to the writer: CORVANE_WRITE_ERROR when it refuses them.
corvane_result WriteTo(const corvane_writer& sink, const std::uint8_t* bytes, std::size_t length);

// Stores the byte, first handing a full buffer to the sink.
corvane_result AppendToChunk(ChunkOutput& output, std::uint8_t byte);

// Where the next byte goes, and how many more fit before the chunk is full.
inline std::uint8_t* FreePart(const ChunkOutput& output) { return output.buffer + output.outputIndex + 1; }
inline std::size_t ChunkRoom(const ChunkOutput& output) {
    return static_cast<std::size_t>(output.chunkSize - 1 - output.outputIndex);
}

// Takes `length` bytes (at most ChunkRoom) written at FreePart into the chunk.
inline void CommitToChunk(ChunkOutput& output, std::size_t length) {
    output.outputIndex += static_cast<std::int32_t>(length);
}

// Hands the filled part of the buffer (possibly nothing) to the sink and
// empties it.
corvane_result FlushChunk(ChunkOutput& output);
