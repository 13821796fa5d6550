// The fast encoder and decoder held against the bit-by-bit reference: the
// same payload, the same decoded bytes, the same verdict and message, over
// random inputs, random and comb-shaped code trees, chunk sizes that cut
// everywhere, and payloads cut short, lengthened or with a bit flipped.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "codec/decode_kernel.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "memory_run.h"
#include "test_support.h"

namespace {

int KeepDecoded(void* context, const void* bytes, std::size_t length) {
    auto& decoded = *static_cast<Bytes*>(context);
    decoded.insert(decoded.end(), static_cast<const std::uint8_t*>(bytes),
                   static_cast<const std::uint8_t*>(bytes) + length);
    return 0;
}

// What a run ended with: its bytes, or its result.
struct Outcome {
    bool completed = false;
    corvane_result result = CORVANE_OK;
    Bytes bytes;
    int finalBitCount = 0;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.completed ? "completed, "
                               : std::string("stopped: ") + corvane_result_text(outcome.result))
         << outcome.bytes.size() << " bytes";
}

// Copies of a payload and their final-bit counts: cut short at each cut,
// lengthened by each number of random bytes, and with `flips` single bits
// flipped, one each.
std::vector<std::pair<Bytes, int>> DamagedCopies(const Bytes& payload, int lastBits,
                                                 std::initializer_list<std::size_t> cuts,
                                                 std::initializer_list<int> extras, int flips,
                                                 std::mt19937& random) {
    std::vector<std::pair<Bytes, int>> damaged;
    for (std::size_t cut : cuts)
        damaged.emplace_back(Bytes(payload.begin(), payload.begin() + static_cast<long>(cut)), 0);
    for (int extra : extras) {
        Bytes longer = payload;
        for (int k = 0; k < extra; ++k) longer.push_back(static_cast<std::uint8_t>(random()));
        damaged.emplace_back(longer, static_cast<int>(random() % 8));
    }
    for (int flip = 0; flip < flips; ++flip) {
        Bytes flipped = payload;
        const std::size_t bit = random() % (payload.size() * 8);
        flipped[bit / 8] ^= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        damaged.emplace_back(flipped, lastBits);
    }
    return damaged;
}

// Lanes: tiny knobs send small payloads through every lane path (joins,
// lanes that never meet, codes longer than the table); every setting must
// give the single lane's bytes and verdict.
struct LaneKnobs {
    unsigned count;
    std::uint64_t windowBits;
    std::size_t stretchBytes;
};

const LaneKnobs TinyLanes[] = {{2, 64, 40}, {4, 1, 100}, {4, 24, 64}, {3, 4096, 333}, {8, 200, 1000}};

class CodecDifferentialTest : public CodingStateTest {
protected:
    Outcome Encode(bool reference, const Bytes& input, std::int32_t chunkSize) {
        SourceStream = StreamWith(input);
        DataSink = TempStream();
        CodecOptions chosen = options;
        chosen.chunkSize = chunkSize;
        chosen.reference = reference;
        queue.count = queue.readPosition = queue.writePosition = 0;
        Outcome outcome;
        outcome.result =
            EncodePayload(CodeList, SavedFrequencies, Source(), Sink(), chosen, outcome.finalBitCount);
        outcome.completed = outcome.result == CORVANE_OK;
        if (!outcome.completed) outcome.finalBitCount = 0;
        outcome.bytes = ContentsOf(DataSink);
        CloseStream(SourceStream);
        CloseStream(DataSink);
        return outcome;
    }

    // Decodes with the stored counts in SavedFrequencies and the header's
    // stored total, in the options' lanes.
    Outcome Decode(bool reference, const Bytes& payload, int lastBits, std::int32_t chunkSize,
                   const CodecOptions& lanes) {
        SourceStream = StreamWith(payload);
        header.finalBits = static_cast<std::uint8_t>(lastBits == 0 ? 8 : lastBits);
        CodecOptions chosen = lanes;
        chosen.chunkSize = chunkSize;
        chosen.reference = reference;
        queue.count = queue.readPosition = queue.writePosition = 0;
        Bytes decoded;
        Outcome outcome;
        outcome.result = DecodePayload(TreeRoot, header, SavedFrequencies, Source(),
                                       corvane_writer{&decoded, KeepDecoded}, chosen);
        outcome.completed = outcome.result == CORVANE_OK;
        // A stopped run's bytes were handed on in chunks of either path's own
        // making, and are dropped with the output anyway.
        if (outcome.completed) outcome.bytes = decoded;
        CloseStream(SourceStream);
        return outcome;
    }
    Outcome Decode(bool reference, const Bytes& payload, int lastBits, std::int32_t chunkSize) {
        return Decode(reference, payload, lastBits, chunkSize, options);
    }

    void StoreCounts(const Bytes& stored) {
        SetCountsOf(stored);
        header.storedTotal = stored.size();
    }

    // Encodes with both encoders and checks that they agree; the payload.
    Outcome EncodeBoth(const Bytes& input, std::int32_t chunkSize) {
        SetCountsOf(input);
        const Outcome fast = Encode(false, input, chunkSize);
        const Outcome reference = Encode(true, input, chunkSize);
        EXPECT_EQ(fast, reference) << "chunk size " << chunkSize;
        return fast;
    }

    // Decodes with both decoders and checks that they agree.
    Outcome DecodeBoth(const Bytes& payload, int lastBits, std::int32_t chunkSize) {
        const Outcome fast = Decode(false, payload, lastBits, chunkSize);
        const Outcome reference = Decode(true, payload, lastBits, chunkSize);
        EXPECT_EQ(fast, reference) << "chunk size " << chunkSize << ", " << payload.size() << " bytes";
        return fast;
    }

    void UseCodes(const CodeTable& codes) {
        FreshTree();
        SetTree(codes);
        SetCodeList(codes);
    }

    // Decodes in one lane and in every tiny lane setting; returns the single
    // lane's outcome.
    Outcome DecodeInEveryLaneSetting(const Bytes& payload, int lastBits, std::int32_t chunkSize) {
        CodecOptions lanes = options;
        lanes.laneCount = 1;
        const Outcome single = Decode(false, payload, lastBits, chunkSize, lanes);
        for (const LaneKnobs& knobs : TinyLanes) {
            lanes.laneCount = knobs.count;
            lanes.laneWindowBits = knobs.windowBits;
            lanes.laneStretchBytes = knobs.stretchBytes;
            lanes.leastLaneStretchBytes = 1;
            EXPECT_EQ(Decode(false, payload, lastBits, chunkSize, lanes), single)
                << knobs.count << " lanes, window " << knobs.windowBits << ", stretch " << knobs.stretchBytes
                << ", chunk " << chunkSize;
        }
        return single;
    }
};

const std::int32_t ChunkSizes[] = {1, 5, 64, 4096, ChunkSize};

TEST_F(CodecDifferentialTest, RandomInputsAndTreesRoundTripAlike) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 24; ++trial) {
        const int distinct = 2 + static_cast<int>(random() % 255);
        Bytes symbols = AllByteValues();
        std::shuffle(symbols.begin(), symbols.end(), random);
        symbols.resize(static_cast<std::size_t>(distinct));
        const CodeTable codes = trial % 4 == 3 ? CombCodes(symbols) : RandomCodes(symbols, random());
        UseCodes(codes);
        // Skewed inputs: a few values most of the time.
        Bytes input(static_cast<std::size_t>(random() % 20000));
        std::geometric_distribution<int> pick(trial % 2 == 0 ? 0.05 : 0.5);
        for (auto& byte : input) byte = symbols[static_cast<std::size_t>(pick(random)) % symbols.size()];
        const std::int32_t chunkSize = ChunkSizes[trial % std::size(ChunkSizes)];
        const Outcome encoded = EncodeBoth(input, chunkSize);
        ASSERT_TRUE(encoded.completed) << corvane_result_text(encoded.result);
        EXPECT_EQ(encoded.bytes, PackBitText(CodeTextOf(codes, input)).first) << trial;
        StoreCounts(input);
        const Outcome decoded = DecodeBoth(encoded.bytes, encoded.finalBitCount, chunkSize);
        ASSERT_TRUE(decoded.completed) << corvane_result_text(decoded.result);
        EXPECT_EQ(decoded.bytes, input) << trial;
    }
}

TEST_F(CodecDifferentialTest, CodesOfFiftySevenBitsAndLongerOnBothSidesOfTheGuard) {
    for (std::size_t longest : {56, 57, 58, 64, 65, 200}) {
        Bytes symbols = {'a', 'b', 'c'};
        const CodeTable codes = {
            {'a', "0"}, {'b', std::string(longest - 1, '1') + "0"}, {'c', std::string(longest, '1')}};
        UseCodes(codes);
        const Bytes input = BytesOf("abcbbacccab" + std::string(30, 'a') + "cb");
        for (std::int32_t chunkSize : {1, 3, 4096}) {
            const Outcome encoded = EncodeBoth(input, chunkSize);
            EXPECT_EQ(encoded.bytes, PackBitText(CodeTextOf(codes, input)).first) << longest;
            StoreCounts(input);
            EXPECT_EQ(DecodeBoth(encoded.bytes, encoded.finalBitCount, chunkSize).bytes, input) << longest;
        }
    }
}

TEST_F(CodecDifferentialTest, DamagedPayloadsGetTheSameVerdict) {
    std::mt19937 random(5);
    int refused = 0;
    int checked = 0;
    for (const CodeTable& codes : {RandomCodes(AllByteValues(), 9), CombCodes(BytesOf("abcdefghij"))}) {
        UseCodes(codes);
        Bytes input = RandomBytes(1500, 4, 10);
        for (auto& byte : input) byte = codes[byte % codes.size()].first;
        const Outcome encoded = EncodeBoth(input, ChunkSize);
        const Bytes& payload = encoded.bytes;
        std::vector<std::pair<Bytes, int>> damaged =
            DamagedCopies(payload, encoded.finalBitCount, {0, 1, payload.size() / 2, payload.size() - 1},
                          {1, 2, 40}, 60, random);
        // Another final-bit count for the intact payload.
        damaged.emplace_back(payload, (encoded.finalBitCount + 3) % 8);
        for (const auto& [bytes, lastBits] : damaged) {
            StoreCounts(input);
            for (std::int32_t chunkSize : {3, 64, ChunkSize}) {
                const Outcome outcome = DecodeBoth(bytes, lastBits, chunkSize);
                if (outcome.completed) {
                    // Whatever it decoded, it matches the stored counts.
                    Bytes sorted = outcome.bytes;
                    Bytes expected = input;
                    std::sort(sorted.begin(), sorted.end());
                    std::sort(expected.begin(), expected.end());
                    EXPECT_EQ(sorted, expected);
                } else {
                    EXPECT_EQ(outcome.result, CORVANE_WRONG_FILE);
                    ++refused;
                }
                ++checked;
            }
        }
    }
    EXPECT_GT(refused, checked / 2);
}

TEST_F(CodecDifferentialTest, PerValueCountsAreCheckedWhateverTheTotal) {
    UseCodes({{'A', "0"}, {'B', "10"}, {'C', "11"}});
    const Bytes input = BytesOf("ABCABCAAB");
    const Outcome encoded = EncodeBoth(input, ChunkSize);
    for (const char* stored : {"ABCABCAAB", "AACABCAAB", "CCCABCAAB", "ABCABCAA", "ABCABCAABA"}) {
        StoreCounts(BytesOf(stored));
        const Outcome outcome = DecodeBoth(encoded.bytes, encoded.finalBitCount, 2);
        EXPECT_EQ(outcome.completed, std::string(stored) == "ABCABCAAB") << stored;
        if (!outcome.completed) {
            EXPECT_EQ(outcome.result, CORVANE_WRONG_FILE) << stored;
        }
    }
    // A source that changed between the passes and kept its length.
    SetCountsOf(BytesOf("ABCABCAAC"));
    for (std::int32_t chunkSize : {1, 4, ChunkSize}) {
        const Outcome fast = Encode(false, input, chunkSize);
        EXPECT_EQ(fast.result, CORVANE_SOURCE_CHANGED);
        EXPECT_EQ(Encode(true, input, chunkSize).result, fast.result);
    }
}

TEST_F(CodecDifferentialTest, WholeFilesDecodeAgainstTheCountsTheirHeaderStores) {
    for (const Bytes& input : {BytesOf("abracadabra"), RandomBytes(70000, 8, 40), RandomBytes(5000, 3)}) {
        const MemoryRun written = CompressInMemory(input, ChunkSize);
        ASSERT_TRUE(written.completed) << written.message;
        const Bytes& file = written.bytes;
        const int lastBits = file[0] & 7;
        FreshTree();
        for (SymbolStat& entry : FrequencyTable) entry = SymbolStat{};
        InitSymbols(FrequencyTable);
        SourceStream = StreamWith(file);
        ASSERT_EQ(ReadHeader(header, FrequencyTable, SavedFrequencies, TreeRoot, Source()), CORVANE_OK);
        for (int value = 0; value < 256; ++value) {
            ASSERT_EQ(SavedFrequencies[value].count,
                      static_cast<std::uint64_t>(std::count(input.begin(), input.end(), value)))
                << value;
        }
        const long payloadStart = std::ftell(SourceStream);
        CloseStream(SourceStream);
        const Bytes stored(file.begin() + payloadStart, file.end());
        for (std::int32_t chunkSize : {7, ChunkSize}) {
            EXPECT_EQ(DecodeBoth(stored, lastBits, chunkSize).bytes, input) << input.size();
        }
    }
}

TEST_F(CodecDifferentialTest, LanesDecodeRandomInputsAsOneLaneAndTheReferenceDo) {
    std::mt19937 random(17);
    for (int trial = 0; trial < 12; ++trial) {
        Bytes symbols = AllByteValues();
        std::shuffle(symbols.begin(), symbols.end(), random);
        symbols.resize(2 + random() % 255);
        const CodeTable codes = trial % 4 == 3 ? CombCodes(symbols) : RandomCodes(symbols, random());
        UseCodes(codes);
        Bytes input(2000 + random() % 12000);
        std::geometric_distribution<int> pick(trial % 2 == 0 ? 0.05 : 0.5);
        for (auto& byte : input) byte = symbols[static_cast<std::size_t>(pick(random)) % symbols.size()];
        const auto [payload, lastBits] = PackBitText(CodeTextOf(codes, input));
        StoreCounts(input);
        const std::int32_t chunkSize = trial % 3 == 0 ? 5 : ChunkSize;
        const Outcome decoded = DecodeInEveryLaneSetting(payload, lastBits, chunkSize);
        ASSERT_TRUE(decoded.completed) << corvane_result_text(decoded.result);
        EXPECT_EQ(decoded.bytes, input) << trial;
        EXPECT_EQ(Decode(true, payload, lastBits, chunkSize), decoded) << trial;
    }
}

TEST_F(CodecDifferentialTest, LanesThatNeverMeetOrMeetRightAtTheCut) {
    const CodeTable codes = {{'a', "0"}, {'b', "10"}, {'c', "11"}};
    UseCodes(codes);
    // After the one "a" every code starts at an odd bit and every cut is at
    // an even one: a lane started at a cut reads "c"s that are no codes of
    // the stream and never meets the lane before it.
    Bytes oddStarts(30001, 'c');
    oddStarts[0] = 'a';
    // Without the "a" each lane starts on a code and joins at its cut.
    const Bytes evenStarts = BytesOf(std::string(30000, 'c') + "ab");
    // Mixed: lanes fall in step some way past their cuts.
    const Bytes mixed = BytesOf(std::string(3000, 'c') + "abcab" + std::string(5000, 'c') + "ba");
    for (const Bytes& input : {oddStarts, evenStarts, mixed}) {
        const auto [payload, lastBits] = PackBitText(CodeTextOf(codes, input));
        StoreCounts(input);
        for (std::int32_t chunkSize : {3, ChunkSize}) {
            const Outcome decoded = DecodeInEveryLaneSetting(payload, lastBits, chunkSize);
            EXPECT_TRUE(decoded.completed) << corvane_result_text(decoded.result);
            EXPECT_EQ(decoded.bytes, input);
        }
    }
}

// The leaves a complete tree needs beside the codes: each branch off their
// paths that no code takes becomes a leaf of a symbol of its own.
CodeTable Completed(CodeTable codes, std::uint8_t firstFreeSymbol) {
    std::set<std::string> paths;
    for (const auto& entry : codes)
        for (std::size_t k = 0; k <= entry.second.size(); ++k) paths.insert(entry.second.substr(0, k));
    CodeTable added;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        std::string sibling = path;
        sibling.back() = sibling.back() == '0' ? '1' : '0';
        if (paths.count(sibling) == 0) added.emplace_back(firstFreeSymbol++, sibling);
        paths.insert(sibling);
    }
    codes.insert(codes.end(), added.begin(), added.end());
    return codes;
}

// The index looked at after a refill's lookups, for a code longer than the
// table, must hold the payload's own bits: after four 'A's, each a whole
// entry, a 'B' read with a bit too few (taken as zero) would look like the
// start of the longer 'C' or 'D', which share its first LookupBits - 1 bits.
TEST_F(CodecDifferentialTest, ACodeAfterARefillsLookupsIsLookedUpWithItsOwnBits) {
    const std::string longA(LookupBits, '1');
    std::string prefix(LookupBits - 1, '0');
    prefix[0] = '1';
    const CodeTable codes =
        Completed({{'A', longA}, {'B', prefix + '1'}, {'C', prefix + "00"}, {'D', prefix + "01"}}, 'E');
    UseCodes(codes);
    Bytes input;
    std::mt19937 random(5);
    for (int group = 0; group < 3000; ++group) {
        for (unsigned k = random() % 8; k > 0; --k) input.push_back(codes[4 + random() % 3].first);
        input.insert(input.end(), {'A', 'A', 'A', 'A', 'B', 'C', 'D'});
    }
    const auto [payload, lastBits] = PackBitText(CodeTextOf(codes, input));
    StoreCounts(input);
    const Outcome decoded = DecodeInEveryLaneSetting(payload, lastBits, ChunkSize);
    EXPECT_TRUE(decoded.completed);
    EXPECT_EQ(decoded.bytes, input);
    CodecOptions lanes = options;
    lanes.laneCount = 2;
    lanes.laneStretchBytes = 4096;
    lanes.leastLaneStretchBytes = 1;
    const Outcome inLanes = Decode(false, payload, lastBits, ChunkSize, lanes);
    EXPECT_TRUE(inLanes.completed);
    EXPECT_EQ(inLanes.bytes, input);
}

TEST_F(CodecDifferentialTest, DamagedPayloadsCutAcrossLanesGetTheSingleLanesVerdict) {
    std::mt19937 random(23);
    int refused = 0;
    // The last tree lacks a branch for "11": it takes no lanes, and "wrong tree.".
    const CodeTable trees[] = {RandomCodes(AllByteValues(), 31),
                               CombCodes(BytesOf("abcdefghijklmnopqrstuvwxyz")),
                               {{'a', "0"}, {'b', "10"}}};
    for (const CodeTable& codes : trees) {
        UseCodes(codes);
        Bytes input = RandomBytes(6000, 4, 26);
        for (auto& byte : input) byte = codes[byte % codes.size()].first;
        const auto [payload, lastBits] = PackBitText(CodeTextOf(codes, input));
        const std::vector<std::pair<Bytes, int>> damaged =
            DamagedCopies(payload, lastBits, {payload.size() / 3, payload.size() / 2, payload.size() - 1},
                          {1, 40, 3000}, 12, random);
        for (const auto& [bytes, bits] : damaged) {
            StoreCounts(input);
            for (std::int32_t chunkSize : {64, ChunkSize}) {
                if (!DecodeInEveryLaneSetting(bytes, bits, chunkSize).completed) ++refused;
            }
        }
    }
    EXPECT_GT(refused, 60);
}

}  // namespace
