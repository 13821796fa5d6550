#include "codec/decoder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};
Bytes Decoded;
void KeepDecoded(const std::uint8_t* bytes, std::size_t length) {
    Decoded.insert(Decoded.end(), bytes, bytes + length);
}

using Decoder = void (*)(ByteSink, std::int32_t);
struct NamedDecoder {
    const char* name;
    Decoder decode;
};
const NamedDecoder BothDecoders[] = {{"fast", DecodePayload}, {"reference", DecodePayloadReference}};

class DecoderTest : public CodingStateTest {
protected:
    // The stored table as the header would give it: the counts of `stored`.
    // lastBits 0 stands for a full last byte, as in the header.
    static void Prepare(const Bytes& payload, int lastBits, const Bytes& stored) {
        SourceStream = StreamWith(payload);
        Decoded.clear();
        finalBits = static_cast<std::uint8_t>(lastBits == 0 ? 8 : lastBits);
        SetCountsOf(stored);
        storedTotal = stored.size();
    }

    // Decodes with both decoders, which must agree; the fast one's output.
    static Bytes Decode(const Bytes& payload, int lastBits, const Bytes& stored,
                        std::int32_t chunkSize = ChunkSize) {
        Bytes outputs[2];
        for (int k = 1; k >= 0; --k) {
            Prepare(payload, lastBits, stored);
            testing::internal::CaptureStdout();
            BothDecoders[k].decode(KeepDecoded, chunkSize);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << BothDecoders[k].name;
            EXPECT_EQ(Count(), 0);
            EXPECT_EQ(OutputIndex, -1);
            CloseStream(SourceStream);
            outputs[k] = Decoded;
        }
        EXPECT_EQ(outputs[0], outputs[1]) << "chunk size " << chunkSize;
        return outputs[0];
    }
};

TEST_F(DecoderTest, LastByteGivesOnlyItsFinalBits) {
    SetTree(AbcCodes);
    EXPECT_EQ(Decode({0x58}, 6, BytesOf("ABCA")), BytesOf("ABCA"));
    EXPECT_EQ(Decode({0x58}, 8, BytesOf("ABCAAA")), BytesOf("ABCAAA"));
    // A code cut off by the end of the payload is dropped without a message.
    EXPECT_EQ(Decode({0x40}, 2, BytesOf("A")), BytesOf("A"));

    ResetProgramState();
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
            ResetProgramState();
            SetTree(codes);
            SetCodeList(codes);
            const Bytes input = RandomBytes(3000, static_cast<unsigned>(chunkSize));
            SetCountsOf(input);
            SourceStream = StreamWith(input);
            DataSink = TempStream();
            const int lastBits = EncodePayload(chunkSize);
            const Bytes payload = ContentsOf(DataSink);
            CloseStream(SourceStream);
            CloseStream(DataSink);
            EXPECT_EQ(Decode(payload, lastBits, input, chunkSize), input);
        }
    }
}

TEST_F(DecoderTest, RefusesPayloadsThatDoNotMatchTheStoredCounts) {
    SetTree(AbcCodes);
    const std::string refused = "wrong compressed file.\n";
    for (const NamedDecoder& decoder : BothDecoders) {
        auto decode = [&](const Bytes& payload, int lastBits, const std::string& stored,
                          std::int32_t chunkSize) {
            Prepare(payload, lastBits, BytesOf(stored));
            decoder.decode(KeepDecoded, chunkSize);
        };
        // The payload spells ABCA: fewer or more bytes than stored.
        EXPECT_FATAL(decode({0x58}, 6, "ABC", ChunkSize), testing::Eq(refused)) << decoder.name;
        EXPECT_FATAL(decode({0x58}, 6, "ABCAA", ChunkSize), testing::Eq(refused)) << decoder.name;
        EXPECT_FATAL(decode({0x58, 0x58}, 6, "ABCAAAAA", 1), testing::Eq(refused)) << decoder.name;
        EXPECT_FATAL(decode({0x58}, 8, "ABCA", ChunkSize), testing::Eq(refused)) << decoder.name;
        // As many bytes as stored, but other values.
        EXPECT_FATAL(decode({0x58}, 6, "ABBA", ChunkSize), testing::Eq(refused)) << decoder.name;
        EXPECT_FATAL(decode({0x58}, 6, "AACA", 1), testing::Eq(refused)) << decoder.name;
    }

    ResetProgramState();
    SetTree({{'A', "0"}, {'B', "10"}});
    for (const NamedDecoder& decoder : BothDecoders) {
        EXPECT_FATAL(
            {
                Prepare({0xC0}, 2, BytesOf("A"));
                decoder.decode(KeepDecoded, ChunkSize);
            },
            testing::Eq("wrong tree.\n"))
            << decoder.name;
    }
}

}  // namespace
