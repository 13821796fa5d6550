// The fast encoder and decoder held against the bit-by-bit reference: the
// same payload, the same decoded bytes, the same verdict and message, over
// random inputs, random and comb-shaped code trees, chunk sizes that cut
// everywhere, and payloads cut short, lengthened or with a bit flipped.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "platform/platform.h"
#include "test_support.h"

namespace {

struct FatalStopped {};
void StopInsteadOfExit(int) { throw FatalStopped{}; }

Bytes Decoded;
void KeepDecoded(const std::uint8_t* bytes, std::size_t length) {
    Decoded.insert(Decoded.end(), bytes, bytes + length);
}

// What a run ended with: its bytes, or its message.
struct Outcome {
    bool completed = false;
    std::string message;
    Bytes bytes;
    int finalBitCount = 0;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << (outcome.completed ? "completed, " : "stopped: " + outcome.message) << outcome.bytes.size()
         << " bytes";
}

// Runs one encoder or decoder in this process, a fatal stop caught.
template <typename Run>
Outcome Capture(Run run) {
    BitQueue.readPosition = BitQueue.writePosition = BitQueue.count = 0;
    OutputIndex = -1;
    Outcome outcome;
    FatalExit = StopInsteadOfExit;
    testing::internal::CaptureStdout();
    try {
        outcome.finalBitCount = run();
        outcome.completed = true;
    } catch (const FatalStopped&) {}
    outcome.message = testing::internal::GetCapturedStdout();
    FatalExit = ExitNormally;
    return outcome;
}

Outcome Encode(int (*encoder)(std::int32_t), const Bytes& input, std::int32_t chunkSize) {
    SourceStream = StreamWith(input);
    DataSink = TempStream();
    Outcome outcome = Capture([&] { return encoder(chunkSize); });
    outcome.bytes = ContentsOf(DataSink);
    CloseStream(SourceStream);
    CloseStream(DataSink);
    return outcome;
}

// Decodes with the stored counts in SavedFrequencies and storedTotal.
Outcome Decode(void (*decoder)(ByteSink, std::int32_t), const Bytes& payload, int lastBits,
               std::int32_t chunkSize) {
    SourceStream = StreamWith(payload);
    finalBits = static_cast<std::uint8_t>(lastBits == 0 ? 8 : lastBits);
    Decoded.clear();
    Outcome outcome = Capture([&] {
        decoder(KeepDecoded, chunkSize);
        return 0;
    });
    // A stopped run's bytes were handed on in chunks of either path's own
    // making, and are dropped with the output anyway.
    if (outcome.completed) outcome.bytes = Decoded;
    CloseStream(SourceStream);
    return outcome;
}

void StoreCounts(const Bytes& stored) {
    SetCountsOf(stored);
    storedTotal = stored.size();
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

class CodecDifferentialTest : public CodingStateTest {
protected:
    // Encodes with both encoders and checks that they agree; the payload.
    static Outcome EncodeBoth(const Bytes& input, std::int32_t chunkSize) {
        SetCountsOf(input);
        const Outcome fast = Encode(EncodePayload, input, chunkSize);
        const Outcome reference = Encode(EncodePayloadReference, input, chunkSize);
        EXPECT_EQ(fast, reference) << "chunk size " << chunkSize;
        return fast;
    }

    // Decodes with both decoders and checks that they agree.
    static Outcome DecodeBoth(const Bytes& payload, int lastBits, std::int32_t chunkSize) {
        const Outcome fast = Decode(DecodePayload, payload, lastBits, chunkSize);
        const Outcome reference = Decode(DecodePayloadReference, payload, lastBits, chunkSize);
        EXPECT_EQ(fast, reference) << "chunk size " << chunkSize << ", " << payload.size() << " bytes";
        return fast;
    }

    static void UseCodes(const CodeTable& codes) {
        ResetProgramState();
        SetTree(codes);
        SetCodeList(codes);
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
        ASSERT_TRUE(encoded.completed) << encoded.message;
        EXPECT_EQ(encoded.bytes, PackBitText(CodeTextOf(codes, input)).first) << trial;
        StoreCounts(input);
        const Outcome decoded = DecodeBoth(encoded.bytes, encoded.finalBitCount, chunkSize);
        ASSERT_TRUE(decoded.completed) << decoded.message;
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
                    EXPECT_EQ(outcome.message, "wrong compressed file.\n");
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
            EXPECT_EQ(outcome.message, "wrong compressed file.\n") << stored;
        }
    }
    // A source that changed between the passes and kept its length.
    SetCountsOf(BytesOf("ABCABCAAC"));
    for (std::int32_t chunkSize : {1, 4, ChunkSize}) {
        const Outcome fast = Encode(EncodePayload, input, chunkSize);
        EXPECT_EQ(fast.message, "Read error.\n");
        EXPECT_EQ(Encode(EncodePayloadReference, input, chunkSize).message, fast.message);
    }
}

TEST_F(CodecDifferentialTest, WholeFilesDecodeAgainstTheCountsTheirHeaderStores) {
    for (const Bytes& input : {BytesOf("abracadabra"), RandomBytes(70000, 8, 40), RandomBytes(5000, 3)}) {
        ResetProgramState();
        SourceStream = StreamWith(input);
        CountBytes();
        SnapshotCounts();
        std::rewind(SourceStream);
        BuildTree(true);
        DataSink = TempStream();
        HeaderSink = TempStream();
        const int lastBits = EncodePayload();
        WriteHeader(lastBits);
        WriteTable();
        Bytes file = ContentsOf(HeaderSink);
        const Bytes payload = ContentsOf(DataSink);
        file.insert(file.end(), payload.begin(), payload.end());
        ResetProgramState();

        SourceStream = StreamWith(file);
        ReadHeader();
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

// Lanes: tiny knobs send small payloads through every lane path (joins,
// lanes that never meet, codes longer than the table); every setting must
// give the single lane's bytes and verdict.
struct LaneKnobs {
    unsigned count;
    std::uint64_t windowBits;
    std::size_t stretchBytes;
};

const LaneKnobs TinyLanes[] = {{2, 64, 40}, {4, 1, 100}, {4, 24, 64}, {3, 4096, 333}, {8, 200, 1000}};

void SetLaneKnobs(const LaneKnobs& knobs) {
    DecodeLaneCount = knobs.count;
    LaneWindowBits = knobs.windowBits;
    LaneStretchBytes = knobs.stretchBytes;
    LeastLaneStretchBytes = 1;
}

// Decodes in one lane and in every tiny lane setting; returns the single
// lane's outcome.
Outcome DecodeInEveryLaneSetting(const Bytes& payload, int lastBits, std::int32_t chunkSize) {
    DecodeLaneCount = 1;
    const Outcome single = Decode(DecodePayload, payload, lastBits, chunkSize);
    for (const LaneKnobs& knobs : TinyLanes) {
        SetLaneKnobs(knobs);
        EXPECT_EQ(Decode(DecodePayload, payload, lastBits, chunkSize), single)
            << knobs.count << " lanes, window " << knobs.windowBits << ", stretch " << knobs.stretchBytes
            << ", chunk " << chunkSize;
    }
    DecodeLaneCount = ShippedLaneCount;
    return single;
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
        ASSERT_TRUE(decoded.completed) << decoded.message;
        EXPECT_EQ(decoded.bytes, input) << trial;
        EXPECT_EQ(Decode(DecodePayloadReference, payload, lastBits, chunkSize), decoded) << trial;
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
            EXPECT_TRUE(decoded.completed) << decoded.message;
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
    EXPECT_TRUE(decoded.completed) << decoded.message;
    EXPECT_EQ(decoded.bytes, input);
    SetLaneKnobs({2, 1024, 4096});
    const Outcome lanes = Decode(DecodePayload, payload, lastBits, ChunkSize);
    EXPECT_TRUE(lanes.completed) << lanes.message;
    EXPECT_EQ(lanes.bytes, input);
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
