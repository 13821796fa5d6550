#include "codec/decoder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};
Bytes Decoded;
void KeepDecoded(const std::uint8_t* bytes, std::size_t length) {
    Decoded.insert(Decoded.end(), bytes, bytes + length);
}

class DecoderTest : public CodingStateTest {
protected:
    // lastBits 0 stands for a full last byte, as in the header.
    void Prepare(const Bytes& payload, int lastBits, std::uint64_t total) {
        SourceStream = StreamWith(payload);
        Decoded.clear();
        finalBits = static_cast<std::uint8_t>(lastBits == 0 ? 8 : lastBits);
        storedTotal = total;
    }

    Bytes Decode(const Bytes& payload, int lastBits, std::uint64_t total,
                 std::int32_t chunkSize = ChunkSize) {
        Prepare(payload, lastBits, total);
        testing::internal::CaptureStdout();
        DecodePayload(KeepDecoded, chunkSize);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(Count(), 0);
        EXPECT_EQ(OutputIndex, -1);
        CloseStream(SourceStream);
        return Decoded;
    }
};

TEST_F(DecoderTest, LastByteGivesOnlyItsFinalBits) {
    SetTree(AbcCodes);
    EXPECT_EQ(Decode({0x58}, 6, 4), BytesOf("ABCA"));
    EXPECT_EQ(Decode({0x58}, 8, 6), BytesOf("ABCAAA"));
    // A code cut off by the end of the payload is dropped without a message.
    EXPECT_EQ(Decode({0x40}, 2, 1), BytesOf("A"));

    ResetProgramState();
    SetTree({{'0', "0"}, {'1', "1"}});
    for (int n = 1; n <= 8; ++n) {
        EXPECT_EQ(Decode({0xB5}, n, static_cast<std::uint64_t>(n)), BytesOf(std::string("10110101", n))) << n;
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
        for (std::int32_t chunkSize : {7, 14, ChunkSize}) {
            EXPECT_EQ(Decode(payload, lastBits, input.size(), chunkSize), input)
                << bitLength << " " << chunkSize;
        }
    }
}

TEST_F(DecoderTest, RestoresWhatTheEncoderWrote) {
    for (const CodeTable& codes : {RandomCodes(AllByteValues(), 3), CombCodes(AllByteValues())}) {
        for (std::int32_t chunkSize : {7, 16}) {
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
            EXPECT_EQ(Decode(payload, lastBits, input.size(), chunkSize), input);
        }
    }
}

TEST_F(DecoderTest, RefusesPayloadsThatDoNotMatchTheTotal) {
    SetTree(AbcCodes);
    auto decode = [&](const Bytes& payload, int lastBits, std::uint64_t total, std::int32_t chunkSize) {
        Prepare(payload, lastBits, total);
        DecodePayload(KeepDecoded, chunkSize);
    };
    const std::string refused = "wrong compressed file.\n";
    EXPECT_FATAL(decode({0x58}, 6, 3, ChunkSize), testing::Eq(refused));
    EXPECT_FATAL(decode({0x58}, 6, 5, ChunkSize), testing::Eq(refused));
    EXPECT_FATAL(decode({0x58, 0x58}, 6, 8, 1), testing::Eq(refused));
    EXPECT_FATAL(decode({0x58}, 8, 4, ChunkSize), testing::Eq(refused));

    ResetProgramState();
    SetTree({{'A', "0"}, {'B', "10"}});
    EXPECT_FATAL(decode({0xC0}, 2, 1, ChunkSize), testing::Eq("wrong tree.\n"));
}

}  // namespace
