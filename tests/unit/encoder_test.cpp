#include "codec/encoder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};

using Encoder = int (*)(std::int32_t);
struct NamedEncoder {
    const char* name;
    Encoder encode;
};
const NamedEncoder BothEncoders[] = {{"fast", EncodePayload}, {"reference", EncodePayloadReference}};

class EncoderTest : public CodingStateTest {
protected:
    // Encodes the input with the current code list and both encoders, which
    // must agree; the counts match it.
    static std::pair<Bytes, int> Encode(const Bytes& input, std::int32_t chunkSize = ChunkSize) {
        std::pair<Bytes, int> results[2];
        for (int k = 0; k < 2; ++k) {
            SetCountsOf(input);
            SourceStream = StreamWith(input);
            DataSink = TempStream();
            const int finalBitCount = BothEncoders[k].encode(chunkSize);
            EXPECT_EQ(Count(), 0);
            EXPECT_EQ(OutputIndex, -1);
            results[k] = {ContentsOf(DataSink), finalBitCount};
            CloseStream(SourceStream);
            CloseStream(DataSink);
        }
        EXPECT_EQ(results[0], results[1]) << "chunk size " << chunkSize;
        return results[0];
    }
};

TEST_F(EncoderTest, PacksCodesEarliestBitFirst) {
    SetCodeList(AbcCodes);
    EXPECT_EQ(Encode(BytesOf("ABCA")), std::make_pair(Bytes{0x58}, 6));
    EXPECT_EQ(Encode(BytesOf("BBBB")), std::make_pair(Bytes{0xAA}, 0));
    // 8k + r one bits: k full bytes, then r bits at the top of a last byte.
    ResetProgramState();
    SetCodeList({{'1', "1"}, {'0', "0"}});
    for (int r = 0; r < 8; ++r) {
        Bytes expected{0xFF};
        if (r > 0) expected.push_back(static_cast<std::uint8_t>(0xFF00 >> r));
        EXPECT_EQ(Encode(Bytes(8 + r, '1')), std::make_pair(expected, r)) << r;
    }
}

TEST_F(EncoderTest, EncodesCodesLongerThanTheQueue) {
    const std::string sixty = std::string(30, '1') + std::string(29, '0') + "1";
    std::string longest;
    for (int i = 0; i < 255; ++i) longest += (i % 3 == 0) ? '0' : '1';
    const CodeTable codes = {{'x', sixty}, {'y', longest}, {'z', "1"}};
    SetCodeList(codes);
    const Bytes input = BytesOf("zxyyzxzyxxz");
    const auto expected = PackBitText(CodeTextOf(codes, input));
    EXPECT_EQ(Encode(input), expected);
    EXPECT_EQ(Encode(input, 7), expected);
}

TEST_F(EncoderTest, ChunkBoundariesLeaveThePayloadUnchanged) {
    const CodeTable codes = RandomCodes(AllByteValues(), 2);
    SetCodeList(codes);
    for (std::size_t length : {0, 1, 6, 7, 8, 16, 112, 113, 1000}) {
        const Bytes input = RandomBytes(length, static_cast<unsigned>(length));
        const auto expected = PackBitText(CodeTextOf(codes, input));
        EXPECT_EQ(Encode(input), expected) << length;
        EXPECT_EQ(Encode(input, 7), expected) << length;
        EXPECT_EQ(Encode(input, 16), expected) << length;
    }
}

TEST_F(EncoderTest, RefusesBytesWithoutCodeAndChangedSources) {
    SetCodeList(AbcCodes);
    const Bytes input = BytesOf("ABCAB");
    for (const NamedEncoder& encoder : BothEncoders) {
        auto encodeWithCounts = [&](const Bytes& counted, const Bytes& source, std::int32_t chunkSize) {
            SetCountsOf(counted);
            SourceStream = StreamWith(source);
            DataSink = TempStream();
            encoder.encode(chunkSize);
        };
        const auto readError = testing::Eq("Read error.\n");
        // Longer or shorter than counted.
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCA"), input, 2), readError) << encoder.name;
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCABB"), input, 2), readError) << encoder.name;
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCABCA"), input, 2), readError) << encoder.name;
        // As long as counted, but with other bytes.
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCAA"), input, 2), readError) << encoder.name;
        EXPECT_FATAL(encodeWithCounts(BytesOf("BACBA"), BytesOf("ABCAC"), ChunkSize), readError)
            << encoder.name;
        const auto noCode = testing::Eq("wrong tree find list.\n");
        EXPECT_FATAL(encodeWithCounts(BytesOf("AD"), BytesOf("AD"), ChunkSize), noCode) << encoder.name;
        // A new value in a source that also grew: what the chunk holding it
        // shows first decides.
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCA"), BytesOf("ADBCAB"), 2), noCode) << encoder.name;
        EXPECT_FATAL(encodeWithCounts(BytesOf("ABCA"), BytesOf("ABCADB"), 2), readError) << encoder.name;
    }
    ResetProgramState();  // no code at all
    for (const NamedEncoder& encoder : BothEncoders) {
        EXPECT_FATAL(
            {
                SetCountsOf(input);
                SourceStream = StreamWith(input);
                DataSink = TempStream();
                encoder.encode(ChunkSize);
            },
            testing::Eq("wrong tree find list.\n"))
            << encoder.name;
    }
}

}  // namespace
