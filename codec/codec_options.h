#pragma once
// The knobs of one coding run, in a record the caller hands in: the chunk
// size of every read and of the output chunks, the bit-by-bit reference
// switch, and the decoder's lanes. The shipped values serve every caller
// but tests and fuzz targets, which set them low so that short inputs take
// every path.
#include <cstddef>
#include <cstdint>

struct BitQueueRecord;

// Size of every read of the source and of the output chunks.
inline constexpr std::int32_t ChunkSize = 1 << 18;

// Decoding in lanes (codec/decode_lanes.h): the number of lanes a stretch of
// payload is cut into (1 turns lanes off), the bits after its cut in which a
// lane notes where symbols start, the most bytes a stretch decoded in lanes
// has, and the fewest (shorter stretches take the single lane).
inline constexpr unsigned MostDecodeLanes = 8;
inline constexpr unsigned ShippedLaneCount = 2;
inline constexpr std::uint64_t ShippedLaneWindowBits = 1024;
inline constexpr std::size_t ShippedLaneStretchBytes = std::size_t{1} << 16;
inline constexpr std::size_t ShippedLeastLaneStretchBytes = std::size_t{1} << 12;

struct CodecOptions {
    std::int32_t chunkSize = ChunkSize;
    // The bit-by-bit reference path instead of the fast one, through `queue`
    // (a queue of the run's own when null).
    bool reference = false;
    // The codes the fast encoder puts between stores (one of the encode
    // kernel's GroupSizes); 0 chooses it from the counts.
    unsigned groupSize = 0;
    BitQueueRecord* queue = nullptr;
    unsigned laneCount = ShippedLaneCount;
    std::uint64_t laneWindowBits = ShippedLaneWindowBits;
    std::size_t laneStretchBytes = ShippedLaneStretchBytes;
    std::size_t leastLaneStretchBytes = ShippedLeastLaneStretchBytes;
};
