#include "codec/encoder.h"

#include <algorithm>
#include <cstddef>
#include <memory>

#include "codec/bit_buffer.h"
#include "codec/chunk_output.h"
#include "model/frequency_table.h"

namespace {

// Counts of the encoded values, one table for each place in a group of
// four, so that repeated values do not wait on one another's increments.
using PartialCounts = std::uint32_t[4][256];

void PutCode(BitWriter& writer, const EncodingTable& codes, std::uint8_t value) {
    PutBits(writer, codes.codes[value], codes.lengths[value]);
}

// As many codes between stores as fit the buffer beside the at most 7 bits
// of an unfinished byte: codesPerStore codes of at most
// LongestFastCode / codesPerStore bits each. A value without a code puts
// nothing; the counts show it afterwards.
template <unsigned codesPerStore>
void EncodeInGroups(BitWriter& writer, const EncodingTable& codes, const std::uint8_t* bytes,
                    std::size_t length, PartialCounts& counts) {
    BitWriter local = writer;  // in registers, whatever the counts' stores
    std::size_t k = 0;
    for (; k + codesPerStore <= length; k += codesPerStore) {
        for (unsigned j = 0; j < codesPerStore; ++j) {
            PutCode(local, codes, bytes[k + j]);
            ++counts[j % 4][bytes[k + j]];
        }
        FlushWholeBytes(local);
    }
    for (; k < length; ++k) {
        PutCode(local, codes, bytes[k]);
        ++counts[0][bytes[k]];
        FlushWholeBytes(local);
    }
    writer = local;
}

// The guarded path for hand-made codes longer than LongestFastCode: those
// go in pieces of 56 bits, one store after each.
void EncodeWithLongCodes(BitWriter& writer, const EncodingTable& codes, const std::uint8_t* bytes,
                         std::size_t length, PartialCounts& counts) {
    constexpr std::size_t Piece = 56;
    for (std::size_t k = 0; k < length; ++k) {
        const std::uint8_t value = bytes[k];
        ++counts[0][value];
        if (codes.lengths[value] <= LongestFastCode) {
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
}

// Encodes the bytes and counts them into the partial counts.
void EncodeAndCount(BitWriter& writer, const EncodingTable& codes, const std::uint8_t* bytes,
                    std::size_t length, PartialCounts& partial) {
    const unsigned longest = codes.longest;
    if (longest > LongestFastCode) {
        EncodeWithLongCodes(writer, codes, bytes, length, partial);
    } else if (longest > LongestFastCode / 2) {
        EncodeInGroups<1>(writer, codes, bytes, length, partial);
    } else if (longest > LongestFastCode / 3) {
        EncodeInGroups<2>(writer, codes, bytes, length, partial);
    } else if (longest > LongestFastCode / 4) {
        EncodeInGroups<3>(writer, codes, bytes, length, partial);
    } else if (longest > LongestFastCode / 8) {
        EncodeInGroups<4>(writer, codes, bytes, length, partial);
    } else {
        EncodeInGroups<8>(writer, codes, bytes, length, partial);
    }
}

// The partial counts are added up before one of them can pass 2^32: one
// run of codes is at most a chunk, less than 2^31 bytes.
constexpr std::uint64_t MostUnadded = std::uint64_t{1} << 31;

struct EncodeRun {
    ChunkOutput output;
    const EncodingTable& codes;
    BitWriter writer = {};
    PartialCounts partial = {};
    std::uint64_t counts[256] = {};  // of the encoded values, but for those in partial
    std::uint64_t unadded = 0;       // bytes in partial
};

void AddPartialCounts(EncodeRun& run) {
    for (int value = 0; value < 256; ++value) {
        for (auto& table : run.partial) {
            run.counts[value] += table[value];
            table[value] = 0;
        }
    }
    run.unadded = 0;
}

// A few bytes are looked at themselves; a longer run's values in the counts.
bool ValuesWithoutCode(const EncodingTable& codes, const std::uint8_t* bytes, std::size_t length,
                       const PartialCounts& partial) {
    constexpr std::size_t FewBytes = 1024;
    bool withoutCode = false;
    if (length < FewBytes) {
        for (std::size_t k = 0; k < length; ++k) withoutCode |= codes.lengths[bytes[k]] == 0;
    } else {
        for (int value = 0; value < 256; ++value) {
            for (const auto& table : partial) withoutCode |= table[value] != 0 && codes.lengths[value] == 0;
        }
    }
    return withoutCode;
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
        EncodeAndCount(run.writer, run.codes, bytes, codes, run.partial);
        if (ValuesWithoutCode(run.codes, bytes, codes, run.partial)) return CORVANE_WRONG_CODE_LIST;
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
