#include "codec/decoder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};
const char* const DecoderNames[] = {"fast", "reference"};

int KeepDecoded(void* context, const void* bytes, std::size_t length) {
    auto& decoded = *static_cast<Bytes*>(context);
    decoded.insert(decoded.end(), static_cast<const std::uint8_t*>(bytes),
                   static_cast<const std::uint8_t*>(bytes) + length);
    return 0;
}

class DecoderTest : public CodingStateTest {
protected:
    Bytes Decoded;

    // The stored table as the header would give it: the counts of `stored`.
    // lastBits 0 stands for a full last byte, as in the header.
    void Prepare(const Bytes& payload, int lastBits, const Bytes& stored) {
        CloseStream(SourceStream);
        SourceStream = StreamWith(payload);
        Decoded.clear();
        header.finalBits = static_cast<std::uint8_t>(lastBits == 0 ? 8 : lastBits);
        SetCountsOf(stored);
        header.storedTotal = stored.size();
    }

    // Decodes by the fast decoder (k = 0) or the reference (k = 1).
    corvane_result DecodeWith(int k, std::int32_t chunkSize) {
        CodecOptions chosen = options;
        chosen.chunkSize = chunkSize;
        chosen.reference = k == 1;
        queue.count = queue.readPosition = queue.writePosition = 0;
        return DecodePayload(TreeRoot, header, SavedFrequencies, Source(),
                             corvane_writer{&Decoded, KeepDecoded}, chosen);
    }

    // Decodes with both decoders, which must agree; the fast one's output.
    Bytes Decode(const Bytes& payload, int lastBits, const Bytes& stored,
                 std::int32_t chunkSize = ChunkSize) {
        Bytes outputs[2];
        for (int k = 1; k >= 0; --k) {
            Prepare(payload, lastBits, stored);
            EXPECT_EQ(DecodeWith(k, chunkSize), CORVANE_OK) << DecoderNames[k];
            EXPECT_EQ(Count(queue), 0);
            outputs[k] = Decoded;
        }
        EXPECT_EQ(outputs[0], outputs[1]) << "chunk size " << chunkSize;
        return outputs[0];
    }

    corvane_result Refusal(int k, const Bytes& payload, int lastBits, const std::string& stored,
                           std::int32_t chunkSize) {
        Prepare(payload, lastBits, BytesOf(stored));
        return DecodeWith(k, chunkSize);
    }
};

TEST_F(DecoderTest, LastByteGivesOnlyItsFinalBits) {
    SetTree(AbcCodes);
    EXPECT_EQ(Decode({0x58}, 6, BytesOf("ABCA")), BytesOf("ABCA"));
    EXPECT_EQ(Decode({0x58}, 8, BytesOf("ABCAAA")), BytesOf("ABCAAA"));
    // A code cut off by the end of the payload is dropped without a message.
    EXPECT_EQ(Decode({0x40}, 2, BytesOf("A")), BytesOf("A"));

    SetTree({{'0', "0"}, {'1', "1"}});
    for (int n = 1; n <= 8; ++n) {
        const Bytes bits = BytesOf(std::string("10110101", n));
        EXPECT_EQ(Decode({0xB5}, n, bits), bits) << n;
    }
}

TEST_F(DecoderTest, FullLastChunkStillEndsWithFinalBits) {
    SetTree(AbcCodes);
    for (std::size_t bitLength : {107, 112}) {
        Bytes input = RandomBytes(40, 5, 3);
        for (auto& byte : input) byte = static_cast<std::uint8_t>('A' + byte);
        while (CodeTextOf(AbcCodes, input).size() < bitLength) input.push_back('A');
        const auto [payload, lastBits] = PackBitText(CodeTextOf(AbcCodes, input));
        ASSERT_EQ(payload.size(), 14u);
        for (std::int32_t chunkSize : {1, 7, 14, ChunkSize}) {
            EXPECT_EQ(Decode(payload, lastBits, input, chunkSize), input) << bitLength << " " << chunkSize;
        }
    }
}

TEST_F(DecoderTest, RestoresWhatTheEncoderWrote) {
    for (const CodeTable& codes : {RandomCodes(AllByteValues(), 3), CombCodes(AllByteValues())}) {
        for (std::int32_t chunkSize : {7, 16, 4096}) {
            FreshTree();
            SetTree(codes);
            SetCodeList(codes);
            const Bytes input = RandomBytes(3000, static_cast<unsigned>(chunkSize));
            SetCountsOf(input);
            SourceStream = StreamWith(input);
            DataSink = TempStream();
            CodecOptions chosen = options;
            chosen.chunkSize = chunkSize;
            int lastBits = 0;
            ASSERT_EQ(EncodePayload(CodeList, SavedFrequencies, Source(), Sink(), chosen, lastBits),
                      CORVANE_OK);
            const Bytes payload = ContentsOf(DataSink);
            CloseStream(SourceStream);
            CloseStream(DataSink);
            EXPECT_EQ(Decode(payload, lastBits, input, chunkSize), input);
        }
    }
}

TEST_F(DecoderTest, RefusesPayloadsThatDoNotMatchTheStoredCounts) {
    SetTree(AbcCodes);
    const corvane_result refused = CORVANE_WRONG_FILE;
    for (int k = 0; k < 2; ++k) {
        // The payload spells ABCA: fewer or more bytes than stored.
        EXPECT_EQ(Refusal(k, {0x58}, 6, "ABC", ChunkSize), refused) << DecoderNames[k];
        EXPECT_EQ(Refusal(k, {0x58}, 6, "ABCAA", ChunkSize), refused) << DecoderNames[k];
        EXPECT_EQ(Refusal(k, {0x58, 0x58}, 6, "ABCAAAAA", 1), refused) << DecoderNames[k];
        EXPECT_EQ(Refusal(k, {0x58}, 8, "ABCA", ChunkSize), refused) << DecoderNames[k];
        // As many bytes as stored, but other values.
        EXPECT_EQ(Refusal(k, {0x58}, 6, "ABBA", ChunkSize), refused) << DecoderNames[k];
        EXPECT_EQ(Refusal(k, {0x58}, 6, "AACA", 1), refused) << DecoderNames[k];
    }
    SetTree({{'A', "0"}, {'B', "10"}});
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(Refusal(k, {0xC0}, 2, "A", ChunkSize), CORVANE_WRONG_TREE) << DecoderNames[k];
}

}  // namespace
