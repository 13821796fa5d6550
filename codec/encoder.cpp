#include "codec/encoder.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/chunk_output.h"
#include "codec/encode_kernel.h"
#include "io/shared_io.h"
#include "model/frequency_table.h"

std::int32_t OutputIndex = -1;
std::int32_t BulkSize = ChunkSize;
bool UseReferenceCodec = false;
unsigned ForcedGroupSize = 0;
EncodingTable EncodeCodes;

static_assert(LongestWordCode == LongestFastCode);

namespace {

void PutCode(BitWriter& writer, std::uint8_t value) {
    PutBits(writer, EncodeCodes.codes[value], EncodeCodes.lengths[value]);
}

// The guarded path for hand-made codes longer than LongestWordCode: those
// go in pieces of 56 bits, one store after each. True when a value without
// a code came by.
bool EncodeWithLongCodes(BitWriter& writer, const std::uint8_t* bytes, std::size_t length,
                         PlaceCounts& counts) {
    constexpr std::size_t Piece = 56;
    bool withoutCode = false;
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t value = bytes[k];
        ++counts[0][value];
        withoutCode |= EncodeCodes.lengths[value] == 0;
        if (EncodeCodes.lengths[value] <= LongestWordCode) {
            PutCode(writer, value);
            FlushWholeBytes(writer);
            continue;
        }
        const std::string& text = *EncodeCodes.texts[value];
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
    BitWriter writer = {};
    CodeWords words = {};  // of EncodeCodes, when no code is longer than LongestWordCode
    unsigned groupSize = 1;
    PlaceCounts partial = {};
    std::uint64_t counts[256] = {};  // of the encoded values, but for those in partial
    std::uint64_t unadded = 0;       // bytes in partial
};

void PrepareWords(EncodeRun& run) {
    if (EncodeCodes.longest > LongestWordCode) return;
    MakeCodeWords(run.words, EncodeCodes.codes, EncodeCodes.lengths);
    std::uint64_t saved[256];
    for (int value = 0; value < 256; ++value) saved[value] = SavedFrequencies[value].count;
    run.groupSize = ForcedGroupSize != 0 ? ForcedGroupSize : ChooseGroupSize(run.words, saved);
}

// Encodes the bytes and counts them into the partial counts; a value
// without a code is fatal.
void EncodeAndCount(EncodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    const bool withoutCode =
        EncodeCodes.longest > LongestWordCode
            ? EncodeWithLongCodes(run.writer, bytes, length, run.partial)
            : !EncodeBytes(run.writer, bytes, length, run.words, run.groupSize, &run.partial);
    if (withoutCode) Fatal("wrong tree find list.");
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
std::size_t CodesThatFit(const ChunkOutput& output) {
    const std::size_t roomBits = ChunkRoom(output) * 8;
    const std::size_t longest = std::max(EncodeCodes.longest, 1u);  // 0 when no value has a code
    return roomBits < 7 + longest ? 0 : (roomBits - 7) / longest;
}

// Encodes a block of the source into the output, as many codes as surely
// fit the chunk at a time, and counts it. Whole bytes go into the chunk, and
// only once the codes were all there; the writer keeps an unfinished byte.
void EncodeBlock(EncodeRun& run, const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        const std::size_t codes = std::min(length, CodesThatFit(run.output));
        if (codes == 0) {
            FlushChunk(run.output);
            continue;
        }
        std::uint8_t* start = FreePart(run.output);
        run.writer.out = start;
        EncodeAndCount(run, bytes, codes);
        CommitToChunk(run.output, static_cast<std::size_t>(run.writer.out - start));
        run.unadded += codes;
        if (run.unadded >= MostUnadded) AddPartialCounts(run);
        bytes += codes;
        length -= codes;
    }
}

}  // namespace

// The source is read in chunks and counted as it is encoded, so that a byte
// value without a code stops the run before the codes around it are handed
// on, and the counts can be held against the first pass's at the end.
int EncodePayload(std::int32_t chunkSize) {
    if (UseReferenceCodec) return EncodePayloadReference(chunkSize);
    BuildEncodingTable(EncodeCodes);
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    // Room for at least one code of any length after a flush.
    const std::int32_t outputSize = std::max<std::int32_t>(chunkSize, (EncodeCodes.longest + 7) / 8 + 1);
    const auto buffer = NewChunkBuffer(outputSize);
    EncodeRun run{{buffer.get(), outputSize, WriteToDataSink}};
    PrepareWords(run);
    const std::uint64_t expected = SavedTotal();
    std::uint64_t consumed = 0;
    while (const std::size_t got = ReadBytes(SourceStream, input.get(), size)) {
        consumed += got;
        if (consumed > expected) Fatal("Read error.");
        EncodeBlock(run, input.get(), got);
    }
    AddPartialCounts(run);
    if (consumed != expected || !CountsMatchSaved(run.counts)) Fatal("Read error.");
    const BitWriter& writer = run.writer;
    if (writer.count > 0) AppendToChunk(run.output, static_cast<std::uint8_t>(writer.bits >> 56));
    FlushChunk(run.output);
    return static_cast<int>(writer.count);
}
