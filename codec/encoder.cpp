#include "codec/encoder.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/chunk_output.h"
#include "io/shared_io.h"
#include "model/frequency_table.h"

std::int32_t OutputIndex = -1;
EncodingTable EncodeCodes;

namespace {

void WriteToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }

void PutCode(BitWriter& writer, const CodeWord& code) { PutBits(writer, code.bits, code.length); }

// As many codes between stores as fit the buffer beside the at most 7 bits
// of an unfinished byte: codesPerStore codes of at most
// LongestFastCode / codesPerStore bits each.
template <unsigned codesPerStore>
void EncodeInGroups(BitWriter& writer, const std::uint8_t* bytes, std::size_t length) {
    const CodeWord* codes = EncodeCodes.codes;
    std::size_t k = 0;
    for (; k + codesPerStore <= length; k += codesPerStore) {
        for (unsigned j = 0; j < codesPerStore; ++j) PutCode(writer, codes[bytes[k + j]]);
        FlushWholeBytes(writer);
    }
    for (; k < length; ++k) {
        PutCode(writer, codes[bytes[k]]);
        FlushWholeBytes(writer);
    }
}

// The guarded path for hand-made codes longer than LongestFastCode: those
// go in pieces of 56 bits, one store after each.
void EncodeWithLongCodes(BitWriter& writer, const std::uint8_t* bytes, std::size_t length) {
    constexpr std::size_t Piece = 56;
    for (std::size_t k = 0; k < length; ++k) {
        const CodeWord& code = EncodeCodes.codes[bytes[k]];
        if (code.length <= LongestFastCode) {
            PutCode(writer, code);
            FlushWholeBytes(writer);
            continue;
        }
        for (std::size_t start = 0; start < code.length; start += Piece) {
            const std::string piece = code.text->substr(start, Piece);
            std::uint64_t bits = 0;
            for (const char bit : piece) bits = bits << 1 | (bit == '0' ? 0 : 1);
            PutBits(writer, bits, static_cast<unsigned>(piece.size()));
            FlushWholeBytes(writer);
        }
    }
}

void EncodeRun(BitWriter& writer, const std::uint8_t* bytes, std::size_t length) {
    const unsigned longest = EncodeCodes.longest;
    if (longest > LongestFastCode) return EncodeWithLongCodes(writer, bytes, length);
    switch (std::min(LongestFastCode / longest, 4u)) {
        case 1: return EncodeInGroups<1>(writer, bytes, length);
        case 2: return EncodeInGroups<2>(writer, bytes, length);
        case 3: return EncodeInGroups<3>(writer, bytes, length);
        default: return EncodeInGroups<4>(writer, bytes, length);
    }
}

// How many codes surely fit the rest of the chunk, with the at most 7 bits
// the writer holds back.
std::size_t CodesThatFit(const ChunkOutput& output) {
    const std::size_t roomBits = ChunkRoom(output) * 8;
    const std::size_t longest = EncodeCodes.longest;
    return roomBits < 7 + longest ? 0 : (roomBits - 7) / longest;
}

// Encodes a block of the source into the output, a run of codes that fits
// the chunk at a time. Whole bytes go into the chunk; the writer keeps an
// unfinished one.
void EncodeBlock(ChunkOutput& output, BitWriter& writer, const std::uint8_t* bytes, std::size_t length) {
    while (length > 0) {
        const std::size_t run = std::min(length, CodesThatFit(output));
        if (run == 0) {
            FlushChunk(output);
            continue;
        }
        std::uint8_t* start = FreePart(output);
        writer.out = start;
        EncodeRun(writer, bytes, run);
        CommitToChunk(output, static_cast<std::size_t>(writer.out - start));
        bytes += run;
        length -= run;
    }
}

void RefuseValuesWithoutCode(const std::uint64_t (&counts)[256]) {
    for (int value = 0; value < 256; ++value) {
        if (counts[value] != 0 && EncodeCodes.codes[value].length == 0) Fatal("wrong tree find list.");
    }
}

}  // namespace

// The source is read in chunks; each chunk is counted before it is encoded,
// so that a byte value without a code stops the run before any of its chunk
// is written, and the counts can be held against the first pass's at the end.
int EncodePayload(std::int32_t chunkSize) {
    BuildEncodingTable(EncodeCodes);
    const auto size = static_cast<std::size_t>(chunkSize);
    const auto input = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    // Room for at least one code of any length after a flush.
    const std::int32_t outputSize = std::max<std::int32_t>(chunkSize, (EncodeCodes.longest + 7) / 8 + 1);
    const auto buffer = NewChunkBuffer(outputSize);
    ChunkOutput output{buffer.get(), outputSize, WriteToDataSink};
    const std::uint64_t expected = SavedTotal();
    std::uint64_t consumed = 0;
    std::uint64_t counts[256] = {};
    BitWriter writer;
    while (const std::size_t got = ReadBytes(SourceStream, input.get(), size)) {
        consumed += got;
        if (consumed > expected) Fatal("Read error.");
        AddByteCounts(counts, input.get(), got);
        RefuseValuesWithoutCode(counts);
        EncodeBlock(output, writer, input.get(), got);
    }
    if (consumed != expected || !CountsMatchSaved(counts)) Fatal("Read error.");
    if (writer.count > 0) AppendToChunk(output, static_cast<std::uint8_t>(writer.bits >> 56));
    FlushChunk(output);
    return static_cast<int>(writer.count);
}
