#include "codec/decoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/decode_kernel.h"
#include "codec/decode_lanes.h"
#include "format/compressed_file.h"
#include "model/frequency_table.h"

namespace {

// The tally is added to the counts before an entry can be used 2^32 times:
// one call of the single lane decodes at most a chunk, less than 2^31
// symbols, and a stretch in lanes at most four symbols a bit of it.
constexpr std::uint64_t MostUntallied = std::uint64_t{1} << 31;
static_assert(KernelWritesPastEnd <= ChunkSlack, "the kernel writes into the chunk's slack at most");

struct DecodeRun {
    const DecodingTable& table;
    const HeaderRecord& header;
    const CodecOptions& options;
    ChunkOutput output;
    std::uint64_t produced = 0;
    std::uint64_t counts[256] = {};  // of the decoded byte values, but for those in the tally
    DecodeTally tally = {};
    std::uint64_t untallied = 0;               // symbols in the tally
    const TreeNode* node = nullptr;            // where the careful walk stands; the root between symbols
    bool careful = false;                      // too near the stored total for the fast loop
    bool lanesSuit = false;                    // lanes are on and the tree suits them
    std::unique_ptr<LaneSet> lanes = nullptr;  // made for the first stretch decoded in lanes
};

// A symbol beyond the stored total means the payload does not belong to the
// table; nothing more is handed on.
corvane_result AppendSymbol(DecodeRun& run, std::uint8_t symbol) {
    if (run.produced == run.header.storedTotal) return CORVANE_WRONG_FILE;
    ++run.produced;
    ++run.counts[symbol];
    return AppendToChunk(run.output, symbol);
}

// The careful path: bits [position, end) one at a time, each symbol checked
// against the stored total; a code cut off at `end` waits in run.node.
corvane_result WalkBits(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t position,
                        std::uint64_t end) {
    for (; position < end; ++position) {
        const TreeNode* next = BitAt(bytes, position) == 0 ? run.node->left : run.node->right;
        if (next == nullptr) return CORVANE_WRONG_TREE;
        if (IsLeaf(next)) {
            if (const corvane_result result = AppendSymbol(run, next->symbol)) return result;
            next = run.table.root;
        }
        run.node = next;
    }
    return CORVANE_OK;
}

// Adds the tally to the counts once it may hold MostUntallied symbols.
void NoteTallied(DecodeRun& run, std::uint64_t symbols) {
    run.untallied += symbols;
    if (run.untallied < MostUntallied) return;
    AddTallyTo(run.table, run.tally, run.counts);
    run.untallied = 0;
}

// One pass of the single lane over bits [position, limit), straight into
// the chunk, at most `left` symbols.
corvane_result DecodeStep(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position,
                          std::uint64_t limit, std::uint64_t left) {
    const std::size_t room = ChunkRoom(run.output);
    if (room < MostSymbolsPerRefill) return FlushChunk(run.output);
    std::uint8_t* start = FreePart(run.output);
    KernelCursor cursor{.position = position,
                        .limit = limit,
                        .out = start,
                        .outEnd = start + std::min<std::uint64_t>(room, left)};
    if (!DecodeWithReaders(run.table, bytes, &cursor, 1, run.tally)) return CORVANE_WRONG_TREE;
    position = cursor.position;
    const auto decoded = static_cast<std::size_t>(cursor.out - start);
    CommitToChunk(run.output, decoded);
    run.produced += decoded;
    NoteTallied(run, decoded);
    return CORVANE_OK;
}

// Bytes into the chunk, handing each full chunk on before more follow.
corvane_result AppendRun(DecodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    run.produced += length;
    while (length > 0) {
        if (ChunkRoom(run.output) == 0) {
            if (const corvane_result result = FlushChunk(run.output)) return result;
        }
        const std::size_t part = std::min(length, ChunkRoom(run.output));
        std::memcpy(FreePart(run.output), bytes, part);
        CommitToChunk(run.output, part);
        bytes += part;
        length -= part;
    }
    return CORVANE_OK;
}

// The end of the stretch from position that lanes decode, or 0 where the
// single lane goes on: lanes take only stretches long enough to cut, and
// only while even the most symbols the stretch can give stay within the
// stored total.
std::uint64_t LaneStretchEnd(const DecodeRun& run, std::uint64_t position, std::uint64_t limit) {
    if (!run.lanesSuit) return 0;
    const std::uint64_t end =
        std::min<std::uint64_t>(limit, position + 8 * std::uint64_t{run.options.laneStretchBytes});
    const std::uint64_t least =
        8 * std::max<std::uint64_t>(run.options.leastLaneStretchBytes, 3 * MostDecodeLanes);
    const std::uint64_t left = run.header.storedTotal - run.produced;
    if (end <= position || end - position < least || left < end - position + 2 * MostSymbolsPerRefill)
        return 0;
    return end;
}

corvane_result DecodeStretchInLanes(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position,
                                    std::uint64_t end) {
    if (!run.lanes) {
        run.lanes = std::make_unique<LaneSet>();
        PrepareLanes(*run.lanes, run.options);
    }
    const std::uint64_t bits = end - position;
    DecodeInLanes(*run.lanes, run.table, bytes, position, end, run.tally);
    NoteTallied(run, 4 * bits);
    for (const DecodeLane& lane : run.lanes->lanes) {
        const corvane_result result =
            AppendRun(run, lane.buffer.get() + lane.from,
                      static_cast<std::size_t>(lane.out - lane.buffer.get()) - lane.from);
        if (result != CORVANE_OK) return result;
    }
    return CORVANE_OK;
}

// The fast loop over bits [position, limit), in lanes or in one, as long as
// it cannot pass the stored total; after that only the careful path.
corvane_result DecodeFast(DecodeRun& run, const std::uint8_t* bytes, std::uint64_t& position,
                          std::uint64_t limit) {
    while (position < limit) {
        const std::uint64_t left = run.header.storedTotal - run.produced;
        if (left < MostSymbolsPerRefill) {
            run.careful = true;
            return CORVANE_OK;
        }
        const std::uint64_t stretchEnd = LaneStretchEnd(run, position, limit);
        const corvane_result result = stretchEnd != 0 ? DecodeStretchInLanes(run, bytes, position, stretchEnd)
                                                      : DecodeStep(run, bytes, position, limit, left);
        if (result != CORVANE_OK) return result;
    }
    return CORVANE_OK;
}

// The bits of the held bytes the careful path may walk: in the last bytes
// of the file all up to finalBits of the last byte; before them all but the
// last byte, which may turn out to be the file's last.
std::uint64_t WalkableBits(std::size_t held, bool last, unsigned finalBits) {
    if (held == 0) return 0;
    return std::uint64_t{held} * 8 - (last ? 8 - finalBits : 8);
}

}  // namespace

// The payload is read in chunks after the bytes the fast loop left over; it
// stops FastReadAhead bytes short of their end, so it never reads past them
// nor reaches the last byte of the file, which only the careful path decodes.
corvane_result DecodePayload(const TreeNode* root, const HeaderRecord& header, const SymbolTable& saved,
                             const corvane_reader& source, const corvane_writer& sink,
                             const CodecOptions& options) {
    if (options.reference) return DecodePayloadReference(root, header, saved, source, sink, options);
    const std::int32_t chunkSize = options.chunkSize;
    const auto table = std::make_unique<DecodingTable>();
    BuildDecodingTable(*table, root);
    const std::size_t readAhead = FastReadAhead(*table);
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(readAhead + size);
    const std::int32_t outputSize = std::max<std::int32_t>(chunkSize, 2 * MostSymbolsPerRefill);
    const auto output = NewChunkBuffer(outputSize);
    DecodeRun run{
        .table = *table, .header = header, .options = options, .output = {output.get(), outputSize, &sink}};
    run.node = table->root;
    run.lanesSuit = options.laneCount > 1 && TreeSuitsLanes(table->root);
    std::size_t held = 0;
    std::uint64_t position = 0;
    for (bool last = false; !last;) {
        std::size_t got = 0;
        if (const corvane_result result = ReadFully(source, input.get() + held, size, got)) return result;
        last = got < size;
        held += got;
        if (!run.careful && held > readAhead) {
            if (const corvane_result result = DecodeFast(run, input.get(), position, (held - readAhead) * 8))
                return result;
        }
        if (run.careful || last) {
            const std::uint64_t end = WalkableBits(held, last, header.finalBits);
            if (const corvane_result result = WalkBits(run, input.get(), position, end)) return result;
            position = std::max(position, end);
        }
        const std::size_t used = static_cast<std::size_t>(position / 8);
        std::memmove(input.get(), input.get() + used, held - used);
        held -= used;
        position %= 8;
    }
    AddTallyTo(*table, run.tally, run.counts);
    if (run.produced != header.storedTotal || !CountsMatch(run.counts, saved)) return CORVANE_WRONG_FILE;
    return FlushChunk(run.output);
}
