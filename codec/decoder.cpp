#include "codec/decoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/decode_lanes.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/shared_io.h"
#include "model/frequency_table.h"

DecodingTable DecodeLookup;

namespace {

// The tally is added to the counts before an entry can be used 2^32 times:
// one call of the single lane decodes at most a chunk, less than 2^31
// symbols, and a stretch in lanes at most four symbols a bit of it.
constexpr std::uint64_t MostUntallied = std::uint64_t{1} << 31;

struct DecodeRun {
    ChunkOutput output;
    std::uint64_t produced = 0;
    std::uint64_t counts[256] = {};  // of the decoded byte values, but for those in the tally
    DecodeTally tally = {};
    std::uint64_t untallied = 0;     // symbols in the tally
    const TreeNode* node = nullptr;  // where the careful walk stands; the root between symbols
    bool careful = false;            // too near the stored total for the fast loop
    bool lanesSuit = false;          // lanes are on and the tree suits them
    std::unique_ptr<LaneSet> lanes;  // made for the first stretch decoded in lanes
};

// A symbol beyond the stored total means the payload does not belong to the
// table; nothing more is handed on.
void AppendSymbol(DecodeRun& run, std::uint8_t symbol) {
    if (run.produced == storedTotal) Fatal("wrong compressed file.");
    ++run.produced;
    ++run.counts[symbol];
    AppendToChunk(run.output, symbol);
}

// The careful path: bits [position, end) one at a time, each symbol checked
// against the stored total; a code cut off at `end` waits in run.node.
void WalkBits(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t position, std::uint64_t end) {
    for (; position < end; ++position) {
        const TreeNode* next = BitAt(bytes, position) == 0 ? run.node->left : run.node->right;
        if (next == nullptr) Fatal("wrong tree.");
        if (IsLeaf(next)) {
            AppendSymbol(run, next->symbol);
            next = DecodeLookup.root;
        }
        run.node = next;
    }
}

// Adds the tally to the counts once it may hold MostUntallied symbols.
void NoteTallied(DecodeRun& run, std::uint64_t symbols) {
    run.untallied += symbols;
    if (run.untallied < MostUntallied) return;
    AddTallyTo(DecodeLookup, run.tally, run.counts);
    run.untallied = 0;
}

// One pass of the single lane over bits [position, limit), straight into
// the chunk, at most `left` symbols.
void DecodeStep(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position, std::uint64_t limit,
                std::uint64_t left) {
    const std::size_t room = ChunkRoom(run.output);
    if (room < MostSymbolsPerStep) return FlushChunk(run.output);
    std::uint8_t* start = FreePart(run.output);
    const std::uint8_t* outEnd = start + std::min<std::uint64_t>(room, left);
    const std::uint8_t* out = DecodeBitRange(DecodeLookup, bytes, position, limit, start, outEnd, run.tally);
    const auto decoded = static_cast<std::size_t>(out - start);
    CommitToChunk(run.output, decoded);
    run.produced += decoded;
    NoteTallied(run, decoded);
}

// Bytes into the chunk, handing each full chunk on before more follow.
void AppendRun(DecodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    run.produced += length;
    while (length > 0) {
        if (ChunkRoom(run.output) == 0) FlushChunk(run.output);
        const std::size_t part = std::min(length, ChunkRoom(run.output));
        std::memcpy(FreePart(run.output), bytes, part);
        CommitToChunk(run.output, part);
        bytes += part;
        length -= part;
    }
}

// The end of the stretch from position that lanes decode, or 0 where the
// single lane goes on: lanes take only stretches long enough to cut, and
// only while even the most symbols the stretch can give stay within the
// stored total.
std::uint64_t LaneStretchEnd(const DecodeRun& run, std::uint64_t position, std::uint64_t limit) {
    if (!run.lanesSuit) return 0;
    const std::uint64_t end = std::min<std::uint64_t>(limit, position + 8 * std::uint64_t{LaneStretchBytes});
    const std::uint64_t least = 8 * std::max<std::uint64_t>(LeastLaneStretchBytes, 3 * MostDecodeLanes);
    const std::uint64_t left = storedTotal - run.produced;
    if (end <= position || end - position < least || left < end - position + 2 * MostSymbolsPerStep) return 0;
    return end;
}

void DecodeStretchInLanes(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position,
                          std::uint64_t end) {
    if (!run.lanes) {
        run.lanes = std::make_unique<LaneSet>();
        PrepareLanes(*run.lanes);
    }
    const std::uint64_t bits = end - position;
    DecodeInLanes(*run.lanes, DecodeLookup, bytes, position, end, run.tally);
    NoteTallied(run, 4 * bits);
    for (const DecodeLane& lane : run.lanes->lanes)
        AppendRun(run, lane.buffer.get() + lane.from,
                  static_cast<std::size_t>(lane.out - lane.buffer.get()) - lane.from);
}

// The fast loop over bits [position, limit), in lanes or in one, as long as
// it cannot pass the stored total; after that only the careful path.
void DecodeFast(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position, std::uint64_t limit) {
    while (position < limit) {
        const std::uint64_t left = storedTotal - run.produced;
        if (left < MostSymbolsPerStep) {
            run.careful = true;
            return;
        }
        const std::uint64_t stretchEnd = LaneStretchEnd(run, position, limit);
        if (stretchEnd != 0) {
            DecodeStretchInLanes(run, bytes, position, stretchEnd);
        } else {
            DecodeStep(run, bytes, position, limit, left);
        }
    }
}

// The bits of the held bytes the careful path may walk: in the last bytes
// of the file all up to finalBits of the last byte; before them all but the
// last byte, which may turn out to be the file's last.
std::uint64_t WalkableBits(std::size_t held, bool last) {
    if (held == 0) return 0;
    return std::uint64_t{held} * 8 - (last ? 8 - finalBits : 8);
}

// Whole refills of LookupsPerRefill lookups, until the stretch ends or a
// code is longer than the table, which leaves the loop to be walked.
std::uint8_t* DecodeLookups(const DecodingTable& table, BitReader& reader, std::uint64_t limitBits,
                            std::uint8_t* out, const std::uint8_t* outEnd, const std::uint8_t* bytes,
                            DecodeTally& tally) {
    while (PositionOf(reader, bytes) < limitBits && outEnd - out >= MostSymbolsPerStep) {
        Refill(reader);
        for (unsigned k = 0; k < LookupsPerRefill; ++k) {
            const auto index = static_cast<unsigned>(reader.bits >> (64 - LookupBits));
            const std::uint32_t entry = table.entries[index];
            if (SymbolsIn(entry) == 0) return out;
            ++tally.entryHits[index];
            StoreSymbols(out, entry);
            out += SymbolsIn(entry);
            SkipBits(reader, BitsOf(entry));
        }
    }
    return out;
}

}  // namespace

std::size_t FastReadAhead(const DecodingTable& table) { return 16 + (table.longest + 7) / 8; }

void AddTallyTo(const DecodingTable& table, DecodeTally& tally, std::uint64_t (&counts)[256]) {
    for (unsigned index = 0; index < (1u << LookupBits); ++index) {
        const std::uint32_t entry = table.entries[index];
        for (unsigned k = 0; k < SymbolsIn(entry); ++k) {
            counts[(SymbolBytesOf(entry) >> (8 * k)) & 0xFF] += tally.entryHits[index];
        }
    }
    for (int value = 0; value < 256; ++value) counts[value] += tally.walked[value] - tally.dropped[value];
    tally = DecodeTally{};
}

std::uint8_t* DecodeBitRange(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                             std::uint64_t limit, std::uint8_t* out, const std::uint8_t* outEnd,
                             DecodeTally& tally) {
    while (position < limit && outEnd - out >= MostSymbolsPerStep) {
        BitReader reader = ReadFrom(bytes, position);
        out = DecodeLookups(table, reader, limit, out, outEnd, bytes, tally);
        position = PositionOf(reader, bytes);
        const auto index = static_cast<unsigned>(reader.bits >> (64 - LookupBits));
        if (position < limit && outEnd - out >= MostSymbolsPerStep && SymbolsIn(table.entries[index]) == 0) {
            *out = DecodeLongCode(table, bytes, position, index);
            ++tally.walked[*out++];
        }
    }
    return out;
}

void DecodePayload(ByteSink sink) {
    if (UseReferenceCodec) return DecodePayloadReference(sink, BulkSize);
    DecodePayload(sink, BulkSize);
}

// The payload is read in chunks after the bytes the fast loop left over; it
// stops FastReadAhead bytes short of their end, so it never reads past them
// nor reaches the last byte of the file, which only the careful path decodes.
void DecodePayload(ByteSink sink, std::int32_t chunkSize) {
    BuildDecodingTable(DecodeLookup, TreeRoot);
    const std::size_t readAhead = FastReadAhead(DecodeLookup);
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(readAhead + size);
    const std::int32_t outputSize = std::max<std::int32_t>(chunkSize, 2 * MostSymbolsPerStep);
    const auto output = NewChunkBuffer(outputSize);
    DecodeRun run;
    run.output = {output.get(), outputSize, sink};
    run.node = DecodeLookup.root;
    run.lanesSuit = DecodeLaneCount > 1 && TreeSuitsLanes(DecodeLookup.root);
    std::size_t held = 0;
    std::uint64_t position = 0;
    for (bool last = false; !last;) {
        const std::size_t got = ReadBytes(SourceStream, input.get() + held, size);
        last = got < size;
        held += got;
        if (!run.careful && held > readAhead) DecodeFast(run, input.get(), position, (held - readAhead) * 8);
        if (run.careful || last) {
            const std::uint64_t end = WalkableBits(held, last);
            WalkBits(run, input.get(), position, end);
            position = std::max(position, end);
        }
        const std::size_t used = static_cast<std::size_t>(position / 8);
        std::memmove(input.get(), input.get() + used, held - used);
        held -= used;
        position %= 8;
    }
    AddTallyTo(DecodeLookup, run.tally, run.counts);
    if (run.produced != storedTotal || !CountsMatchSaved(run.counts)) Fatal("wrong compressed file.");
    FlushChunk(run.output);
}
