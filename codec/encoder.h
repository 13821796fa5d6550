#pragma once
// The coding engine's encoder: the source's bytes into the payload of a
// compressed file, each byte's code in turn, packed most significant bit
// first, the last byte padded with zero bits. It writes the payload only;
// the header and table are format/'s, the files are the shell's. The
// payload's bit order is documented in format/FORMAT.md.
#include <cstdint>

// Size of every bulk read and write, and of each of the two run buffers.
inline constexpr std::int32_t ChunkSize = 40960000;

// The chunk size the entry points use when given none: ChunkSize, set lower
// only by tests and fuzz targets, so that short inputs cross chunk
// boundaries.
extern std::int32_t BulkSize;

// Index of the last byte in the output buffer; -1 when empty.
extern std::int32_t OutputIndex;

// Encodes SourceStream into DataSink with the codes of CodeList. Returns the
// number of code bits in the final, partly filled byte (0 to 7). The chunk
// size is a parameter only so that tests can cross chunk boundaries cheaply.
int EncodePayload(std::int32_t chunkSize = BulkSize);
