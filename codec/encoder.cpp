#include "codec/encoder.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/chunk_output.h"
#include "codec/encode_kernel.h"
#include "model/frequency_table.h"

static_assert(LongestWordCode == LongestFastCode);

namespace {

void PutCode(BitWriter& writer, const EncodingTable& codes, std::uint8_t value) {
    PutBits(writer, codes.codes[value], codes.lengths[value]);
}

// The guarded path for hand-made codes longer than LongestWordCode: those
// go in pieces of 56 bits, one store after each. True when a value without
// a code came by.
bool EncodeWithLongCodes(BitWriter& writer, const EncodingTable& codes, const std::uint8_t* bytes,
                         std::size_t length, PlaceCounts& counts) {
    constexpr std::size_t Piece = 56;
    bool withoutCode = false;
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t value = bytes[k];
        ++counts[0][value];
        withoutCode |= codes.lengths[value] == 0;
        if (codes.lengths[value] <= LongestWordCode) {
            PutCode(writer, codes, value);
            FlushWholeBytes(writer);
            continue;
        }
        const std::string& text = *codes.texts[value];
        for (std::size_t start = 0; start < text.size(); start += Piece) {
            const std::string piece = text.substr(start, Piece);
            PutBits(writer, LeftAlignedBits(piece), static_cast<unsigned>(piece.size()));
            FlushWholeBytes(writer);
        }
    }
    return withoutCode;
}

// The partial counts are added up before one of them can pass 2^32: one
// run of codes is at most a chunk, less than 2^31 bytes.
constexpr std::uint64_t MostUnadded = std::uint64_t{1} << 31;

struct EncodeRun {
    ChunkOutput output;
    const EncodingTable& codes;
    BitWriter writer = {};
    CodeWords words = {};  // of codes, when none is longer than LongestWordCode
    unsigned groupSize = 1;
    PlaceCounts partial = {};
    std::uint64_t counts[256] = {};  // of the encoded values, but for those in partial
    std::uint64_t unadded = 0;       // bytes in partial
};

void PrepareWords(EncodeRun& run, const SymbolTable& saved, unsigned forcedGroupSize) {
    if (run.codes.longest > LongestWordCode) return;
    MakeCodeWords(run.words, run.codes.codes, run.codes.lengths);
    std::uint64_t counts[256];
    for (int value = 0; value < 256; ++value) counts[value] = saved[value].count;
    run.groupSize = forcedGroupSize != 0 ? forcedGroupSize : ChooseGroupSize(run.words, counts);
}

// Encodes the bytes and counts them into the partial counts; false when a
// value without a code came by.
bool EncodeAndCount(EncodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    if (run.codes.longest > LongestWordCode)
        return !EncodeWithLongCodes(run.writer, run.codes, bytes, length, run.partial);
    return EncodeBytes(run.writer, bytes, length, run.words, run.groupSize, &run.partial);
}

void AddPartialCounts(EncodeRun& run) {
    for (int value = 0; value < 256; ++value) {
        for (auto& table : run.partial) {
            run.counts[value] += table[value];
            table[value] = 0;
        }
    }
    run.unadded = 0;
}

// How many codes surely fit the rest of the chunk, with the at most 7 bits
// the writer holds back.
std::size_t CodesThatFit(const ChunkOutput& output, const EncodingTable& codes) {
    const std::size_t roomBits = ChunkRoom(output) * 8;
    const std::size_t longest = std::max(codes.longest, 1u);  // 0 when no value has a code
    return roomBits < 7 + longest ? 0 : (roomBits - 7) / longest;
}

// Encodes a block of the source into the output, as many codes as surely
// fit the chunk at a time, and counts it. Whole bytes go into the chunk, and
// only once the codes were all there; the writer keeps an unfinished byte.
corvane_result EncodeBlock(EncodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        const std::size_t codes = std::min(length, CodesThatFit(run.output, run.codes));
        if (codes == 0) {
            if (const corvane_result result = FlushChunk(run.output)) return result;
            continue;
        }
        std::uint8_t* start = FreePart(run.output);
        run.writer.out = start;
        if (!EncodeAndCount(run, bytes, codes)) return CORVANE_WRONG_CODE_LIST;
        CommitToChunk(run.output, static_cast<std::size_t>(run.writer.out - start));
        run.unadded += codes;
        if (run.unadded >= MostUnadded) AddPartialCounts(run);
        bytes += codes;
        length -= codes;
    }
    return CORVANE_OK;
}

}  // namespace

int FinalBitsOf(const SymbolTable& saved, const EncodingTable& codes) {
    std::uint64_t bits = 0;
    for (int value = 0; value < 256; ++value) bits += saved[value].count * codes.lengths[value];
    return static_cast<int>(bits % 8);
}

// The source is read in chunks and counted as it is encoded, so that a byte
// value without a code stops the run before the codes around it are handed
// on, and the counts can be held against the first pass's at the end.
corvane_result EncodePayload(const CodeEntry& codeList, const SymbolTable& saved,
                             const corvane_reader& source, const corvane_writer& sink,
                             const CodecOptions& options, int& finalBitCount) {
    if (options.reference)
        return EncodePayloadReference(codeList, saved, source, sink, options, finalBitCount);
    const std::int32_t chunkSize = options.chunkSize;
    EncodingTable codes;
    BuildEncodingTable(codes, codeList);
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    // Room for at least one code of any length after a flush.
    const std::int32_t outputSize = std::max<std::int32_t>(chunkSize, (codes.longest + 7) / 8 + 1);
    const auto buffer = NewChunkBuffer(outputSize);
    EncodeRun run{{buffer.get(), outputSize, &sink}, codes};
    PrepareWords(run, saved, options.groupSize);
    const std::uint64_t expected = TotalOf(saved);
    std::uint64_t consumed = 0;
    while (true) {
        std::size_t got = 0;
        if (const corvane_result result = ReadFully(source, input.get(), size, got)) return result;
        if (got == 0) break;
        consumed += got;
        if (consumed > expected) return CORVANE_SOURCE_CHANGED;
        if (const corvane_result result = EncodeBlock(run, input.get(), got)) return result;
    }
    AddPartialCounts(run);
    if (consumed != expected || !CountsMatch(run.counts, saved)) return CORVANE_SOURCE_CHANGED;
    const BitWriter& writer = run.writer;
    if (writer.count > 0) {
        if (const corvane_result result =
                AppendToChunk(run.output, static_cast<std::uint8_t>(writer.bits >> 56)))
            return result;
    }
    finalBitCount = static_cast<int>(writer.count);
    return FlushChunk(run.output);
}
