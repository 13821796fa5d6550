#include "codec/encoder.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};

class EncoderTest : public CodingStateTest {
protected:
    // Encodes the input with the current code list; the counts match it.
    std::pair<Bytes, int> Encode(const Bytes& input, std::int32_t chunkSize = ChunkSize) {
        SetCountsOf(input);
        SourceStream = StreamWith(input);
        DataSink = TempStream();
        const int finalBitCount = EncodePayload(chunkSize);
        EXPECT_EQ(Count(), 0);
        EXPECT_EQ(OutputIndex, -1);
        Bytes payload = ContentsOf(DataSink);
        CloseStream(SourceStream);
        CloseStream(DataSink);
        return {payload, finalBitCount};
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
    auto encodeWithCounts = [&](const Bytes& counted) {
        SetCountsOf(counted);
        SourceStream = StreamWith(input);
        DataSink = TempStream();
        EncodePayload(2);
    };
    EXPECT_FATAL(encodeWithCounts(BytesOf("ABCA")), testing::Eq("Read error.\n"));
    EXPECT_FATAL(encodeWithCounts(BytesOf("ABCABB")), testing::Eq("Read error.\n"));
    EXPECT_FATAL(encodeWithCounts(BytesOf("ABCABCA")), testing::Eq("Read error.\n"));
    EXPECT_FATAL(
        {
            SetCountsOf(BytesOf("AD"));
            SourceStream = StreamWith(BytesOf("AD"));
            DataSink = TempStream();
            EncodePayload();
        },
        testing::Eq("wrong tree find list.\n"));
}

}  // namespace
