#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "codec/encode_kernel.h"

#include "test_support.h"

namespace {

const CodeTable AbcCodes = {{'A', "0"}, {'B', "10"}, {'C', "11"}};

const char* const EncoderNames[] = {"fast", "reference"};

class EncoderTest : public CodingStateTest {
protected:
    // Encodes the source into DataSink with the code list, by the fast
    // encoder (k = 0) or the reference (k = 1).
    corvane_result EncodeWith(int k, std::int32_t chunkSize, int& finalBitCount) {
        CodecOptions chosen = options;
        chosen.chunkSize = chunkSize;
        chosen.reference = k == 1;
        return EncodePayload(CodeList, SavedFrequencies, Source(), Sink(), chosen, finalBitCount);
    }

    // Encodes the input with the current code list and both encoders, which
    // must agree; the counts match it.
    std::pair<Bytes, int> Encode(const Bytes& input, std::int32_t chunkSize = ChunkSize) {
        std::pair<Bytes, int> results[2];
        for (int k = 0; k < 2; ++k) {
            SetCountsOf(input);
            SourceStream = StreamWith(input);
            DataSink = TempStream();
            int finalBitCount = -1;
            EXPECT_EQ(EncodeWith(k, chunkSize, finalBitCount), CORVANE_OK);
            EXPECT_EQ(Count(queue), 0);
            results[k] = {ContentsOf(DataSink), finalBitCount};
            CloseStream(SourceStream);
            CloseStream(DataSink);
        }
        EXPECT_EQ(results[0], results[1]) << "chunk size " << chunkSize;
        return results[0];
    }

    corvane_result EncodeWithCounts(int k, const Bytes& counted, const Bytes& source,
                                    std::int32_t chunkSize) {
        SetCountsOf(counted);
        CloseStream(SourceStream);
        CloseStream(DataSink);
        SourceStream = StreamWith(source);
        DataSink = TempStream();
        int finalBitCount = 0;
        return EncodeWith(k, chunkSize, finalBitCount);
    }
};

TEST_F(EncoderTest, PacksCodesEarliestBitFirst) {
    SetCodeList(AbcCodes);
    EXPECT_EQ(Encode(BytesOf("ABCA")), std::make_pair(Bytes{0x58}, 6));
    EXPECT_EQ(Encode(BytesOf("BBBB")), std::make_pair(Bytes{0xAA}, 0));
    // 8k + r one bits: k full bytes, then r bits at the top of a last byte.
    FreshTree();
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
    const corvane_result changed = CORVANE_SOURCE_CHANGED;
    const corvane_result noCode = CORVANE_WRONG_CODE_LIST;
    for (int k = 0; k < 2; ++k) {
        // Longer or shorter than counted.
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCA"), input, 2), changed) << EncoderNames[k];
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCABB"), input, 2), changed) << EncoderNames[k];
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCABCA"), input, 2), changed) << EncoderNames[k];
        // As long as counted, but with other bytes.
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCAA"), input, 2), changed) << EncoderNames[k];
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("BACBA"), BytesOf("ABCAC"), ChunkSize), changed)
            << EncoderNames[k];
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("AD"), BytesOf("AD"), ChunkSize), noCode) << EncoderNames[k];
        // A new value in a source that also grew: what the chunk holding it
        // shows first decides.
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCA"), BytesOf("ADBCAB"), 2), noCode) << EncoderNames[k];
        EXPECT_EQ(EncodeWithCounts(k, BytesOf("ABCA"), BytesOf("ABCADB"), 2), changed) << EncoderNames[k];
        queue.count = queue.readPosition = queue.writePosition = 0;
    }
    FreshTree();  // no code at all
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(EncodeWithCounts(k, input, input, ChunkSize), noCode) << EncoderNames[k];
}

// A prefix code with the given lengths (their Kraft sum at most 1), for the
// symbols 0, 1, ... in order: the shortest codes first, each the next free
// code of its length.
CodeTable CodesOfLengths(const std::vector<unsigned>& lengths) {
    CodeTable codes;
    std::uint64_t next = 0;  // the next free code, as a fraction of 2^64
    for (std::size_t k = 0; k < lengths.size(); ++k) {
        std::string text;
        for (unsigned bit = 0; bit < lengths[k]; ++bit) text += (next >> (63 - bit)) & 1 ? '1' : '0';
        codes.emplace_back(static_cast<std::uint8_t>(k), text);
        next += std::uint64_t{1} << (64 - lengths[k]);
    }
    return codes;
}

// Lengths at the edges of the groups: 7/8 bits (8 codes in 56), 11/12 (the
// decode table), 14/15 (4 codes), 18/19 (3), 28/29 (2), and 56/57 (1 code,
// which with 7 held bits fills the writer).
const std::vector<unsigned> EdgeLengths = {1, 3, 7, 8, 11, 12, 14, 15, 18, 19, 28, 29, 56, 57};

TEST_F(EncoderTest, EveryGroupSizeAgreesWithTheReferenceAtTheEdges) {
    const CodeTable codes = CodesOfLengths(EdgeLengths);
    SetCodeList(codes);
    const auto edgeCodes = static_cast<int>(codes.size());
    // 0 to 7 one-bit codes before pairs whose sums are 56, 57, 63 (fit with
    // up to 7, 6 and 0 bits held), 64 and more (never fit), and 15.
    Bytes pairs;
    for (std::uint8_t held = 0; held < 8; ++held) {
        for (const auto& pair : {std::pair{10, 10}, {10, 11}, {12, 2}, {13, 2}, {12, 3}, {13, 13}, {2, 3}}) {
            for (std::uint8_t k = 0; k < held; ++k) pairs.push_back(0);  // the 1-bit code
            pairs.push_back(static_cast<std::uint8_t>(pair.first));
            pairs.push_back(static_cast<std::uint8_t>(pair.second));
        }
    }
    const Bytes inputs[] = {pairs, RandomBytes(3000, 7, edgeCodes), RandomBytes(3000, 8, 6)};
    for (const unsigned size : GroupSizes) {
        for (const Bytes& input : inputs) {
            options.groupSize = size;
            const auto expected = PackBitText(CodeTextOf(codes, input));
            EXPECT_EQ(Encode(input), expected) << "groups of " << size;
            EXPECT_EQ(Encode(input, 5), expected) << "groups of " << size;
        }
    }
}

TEST_F(EncoderTest, GroupSizeFollowsTheLengthsThatOccur) {
    auto chosen = [this](const std::vector<unsigned>& lengths, const std::vector<std::uint64_t>& counts) {
        FreshTree();
        SetCodeList(CodesOfLengths(lengths));
        EncodingTable codes;
        BuildEncodingTable(codes, CodeList);
        CodeWords words;
        MakeCodeWords(words, codes.codes, codes.lengths);
        std::uint64_t byValue[256] = {};
        std::copy(counts.begin(), counts.end(), byValue);
        return ChooseGroupSize(words, byValue);
    };
    EXPECT_EQ(chosen({2, 2, 2, 2}, {5, 5, 5, 5}), 16u);
    EXPECT_EQ(chosen({1, 7, 7}, {0, 1, 1}), 8u);  // 8 x 7 = 56 bits
    EXPECT_EQ(chosen({1, 8, 8}, {0, 1, 1}), 7u);
    EXPECT_EQ(chosen({1, 19, 19}, {0, 1, 1}), 2u);
    EXPECT_EQ(chosen({1, 29, 29}, {0, 1, 1}), 1u);
    // A long code that occurs rarely does not shrink the groups.
    EXPECT_EQ(chosen({1, 2, 29, 29}, {1000000, 1000000, 1, 1}), 16u);
    EXPECT_EQ(chosen({1, 2}, {0, 0}), 1u);
}

TEST_F(EncoderTest, EveryGroupSizeRefusesAValueWithoutCode) {
    SetCodeList(AbcCodes);
    Bytes input(200, 'A');
    input[137] = 'D';
    for (const unsigned size : GroupSizes) {
        options.groupSize = size;
        EXPECT_EQ(EncodeWithCounts(0, input, input, ChunkSize), CORVANE_WRONG_CODE_LIST)
            << "groups of " << size;
    }
}

}  // namespace
