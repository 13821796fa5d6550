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
#include "codec/codec_options.h"
#include "corvane.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

// Decodes the payload from the source (standing at its first byte), walking
// the tree from root with the header's finalBits, and hands the decoded
// bytes to the sink in order. Produces exactly header.storedTotal bytes,
// each byte value exactly as often as the saved table says, or gives
// CORVANE_WRONG_FILE ("wrong compressed file.", at the latest before the
// last chunk is handed on) or CORVANE_WRONG_TREE. options.reference takes
// the reference path.
corvane_result DecodePayload(const TreeNode* root, const HeaderRecord& header, const SymbolTable& saved,
                             const corvane_reader& source, const corvane_writer& sink,
                             const CodecOptions& options);

// The same, bit by bit; every byte handed on and every result as
// DecodePayload's with the same chunk size.
corvane_result DecodePayloadReference(const TreeNode* root, const HeaderRecord& header,
                                      const SymbolTable& saved, const corvane_reader& source,
                                      const corvane_writer& sink, const CodecOptions& options);

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
// output, or null where the bits leave the tree ("wrong tree."). Reads
// bytes up to FastReadAhead(table) bytes past limit / 8 and writes up to 3
// bytes past outEnd; those must be there.
inline constexpr unsigned LookupsPerRefill = 4;  // 4 × LookupBits of the 56 bits a refill gives
inline constexpr unsigned MostSymbolsPerStep = LookupsPerRefill * MostSymbolsPerEntry;
std::size_t FastReadAhead(const DecodingTable& table);
std::uint8_t* DecodeBitRange(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                             std::uint64_t limit, std::uint8_t* out, const std::uint8_t* outEnd,
                             DecodeTally& tally);
