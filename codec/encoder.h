#pragma once
#include <cstdint>

// Size of every bulk read and write, and of each of the two run buffers.
inline constexpr std::int32_t ChunkSize = 40960000;

// Index of the last byte in the output buffer; -1 when empty.
extern std::int32_t OutputIndex;

// Encodes SourceStream into DataSink with the codes of CodeList. Returns the
// number of code bits in the final, partly filled byte (0 to 7). The chunk
// size is a parameter only so that tests can cross chunk boundaries cheaply.
int EncodePayload(std::int32_t chunkSize = ChunkSize);
