#pragma once
// The output buffer that the encoder and the decoder fill and hand on in
// whole chunks: byte by byte on the reference path, in runs written straight
// into the buffer on the fast path. OutputIndex (encoder.h) counts its
// filled part.
#include <cstddef>
#include <cstdint>
#include <memory>

// Receives the bytes of one chunk, in order. Stops the program itself when it
// cannot take them.
using ByteSink = void (*)(const std::uint8_t* bytes, std::size_t length);

struct ChunkOutput {
    std::uint8_t* buffer = nullptr;
    std::int32_t chunkSize = 0;
    ByteSink sink = nullptr;
};

// Writable bytes after the chunkSize bytes of a chunk buffer, so that the
// fast path may store 8 bytes at once at its filled end.
inline constexpr std::size_t ChunkSlack = 8;

// A buffer for chunks of chunkSize bytes, with the slack after them.
std::unique_ptr<std::uint8_t[]> NewChunkBuffer(std::int32_t chunkSize);

// Stores the byte, first handing a full buffer to the sink.
void AppendToChunk(ChunkOutput& output, std::uint8_t byte);

// Where the next byte goes, and how many more fit before the chunk is full.
std::uint8_t* FreePart(const ChunkOutput& output);
std::size_t ChunkRoom(const ChunkOutput& output);

// Takes `length` bytes (at most ChunkRoom) written at FreePart into the chunk.
void CommitToChunk(ChunkOutput& output, std::size_t length);

// Hands the filled part of the buffer (possibly nothing) to the sink and
// empties it.
void FlushChunk(ChunkOutput& output);

// The sink that writes the bytes to DataSink (io/shared_io.h).
void WriteToDataSink(const std::uint8_t* bytes, std::size_t length);
