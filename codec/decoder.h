#pragma once
// Decoding: the payload of a compressed file back into the original bytes.
//
// Two paths give the same bytes and the same verdicts: the fast one looks
// LookupBits bits up at once in the decode table, and the reference one
// walks the tree one bit at a time through the bit queue, kept so that tests
// can hold the fast one against it.
#include <cstddef>
#include <cstdint>

#include "codec/chunk_output.h"
#include "codec/code_tables.h"

// The decode table of the current run, filled from TreeRoot by DecodePayload.
extern DecodingTable DecodeLookup;

// Decodes the payload from SourceStream, walking the tree from TreeRoot with
// the header's finalBits, and hands the decoded bytes to the sink in order.
// Produces exactly storedTotal bytes, each byte value exactly as often as
// SavedFrequencies says, or stops with "wrong compressed file." (at the
// latest before the last chunk is handed on). The chunk size is a parameter
// only so that tests can cross chunk boundaries cheaply.
void DecodePayload(ByteSink sink);
void DecodePayload(ByteSink sink, std::int32_t chunkSize);

// The same, bit by bit; every byte handed on and every message as
// DecodePayload's with the same chunk size.
void DecodePayloadReference(ByteSink sink, std::int32_t chunkSize);

// Decoding in lanes (codec/decode_lanes.h): the number of lanes a stretch of
// payload is cut into (1 turns lanes off), the bits after its cut in which a
// lane notes where symbols start, the most bytes a stretch decoded in lanes
// has, and the fewest (shorter stretches take the single lane). Set low only
// by tests and fuzz targets, so that small payloads take every path.
inline constexpr unsigned MostDecodeLanes = 8;
inline constexpr unsigned ShippedLaneCount = 2;
inline constexpr std::uint64_t ShippedLaneWindowBits = 1024;
inline constexpr std::size_t ShippedLaneStretchBytes = std::size_t{1} << 16;
inline constexpr std::size_t ShippedLeastLaneStretchBytes = std::size_t{1} << 12;
extern unsigned DecodeLaneCount;
extern std::uint64_t LaneWindowBits;
extern std::size_t LaneStretchBytes;
extern std::size_t LeastLaneStretchBytes;

// What the fast loop decoded, tallied cheaply: how often it used each table
// entry, the values it decoded by walking the tree, and the values decoded
// but then dropped (a lane's output before it joins the lane before it).
// AddTallyTo turns the entries' uses into value counts; a tally must be
// added before any entry is used 2^32 times.
struct DecodeTally {
    std::uint32_t entryHits[1u << LookupBits] = {};
    std::uint64_t walked[256] = {};
    std::uint64_t dropped[256] = {};
};

// Adds the tallied values to counts (by byte value) and empties the tally.
void AddTallyTo(const DecodingTable& table, DecodeTally& tally, std::uint64_t (&counts)[256]);

// The fast loop over one stretch of payload: decodes whole codes from bit
// `position` of `bytes` into `out` while position is below `limit` and at
// least MostSymbolsPerStep more symbols fit before outEnd, and tallies them.
// Moves position past what it decoded and returns the new end of the
// output. Reads bytes up to FastReadAhead(table) bytes past limit / 8 and
// writes up to 3 bytes past outEnd; those must be there.
// A refill gives at least 56 bits, and all 64 of the buffer are payload
// bits; the index looked at after the lookups, for a code longer than the
// table, must be among them too.
inline constexpr unsigned LookupsPerRefill = 4;
static_assert(LookupsPerRefill * LookupBits <= 56 && (LookupsPerRefill + 1) * LookupBits <= 64);
inline constexpr unsigned MostSymbolsPerStep = LookupsPerRefill * MostSymbolsPerEntry;
std::size_t FastReadAhead(const DecodingTable& table);
std::uint8_t* DecodeBitRange(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                             std::uint64_t limit, std::uint8_t* out, const std::uint8_t* outEnd,
                             DecodeTally& tally);
