#include "format/compressed_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const corvane_result WrongFile = CORVANE_WRONG_FILE;
const corvane_result TooFewValues = CORVANE_ONE_OR_NO_CHARACTER;

Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class CompressedFileTest : public CodingStateTest {
protected:
    // The test's records as a fresh run has them.
    void Fresh() {
        for (SymbolStat& entry : FrequencyTable) entry = SymbolStat{};
        for (SymbolStat& entry : SavedFrequencies) entry = SymbolStat{};
        InitSymbols(FrequencyTable);
        FreshTree();
        header = HeaderRecord{};
        CloseStream(SourceStream);
        CloseStream(DataSink);
    }

    void SaveCounts(const std::map<int, std::uint64_t>& counts) {
        for (const auto& [symbol, count] : counts) {
            FrequencyTable[symbol].count = count;
        }
        SnapshotCounts(FrequencyTable, SavedFrequencies);
    }

    // Header part as WriteHeader and WriteTable write it.
    Bytes WrittenHeaderPart(int finalBitCount) {
        CloseStream(DataSink);
        DataSink = TempStream();
        EXPECT_NE(DataSink, nullptr);
        EXPECT_EQ(WriteHeader(header, SavedFrequencies, finalBitCount, Sink()), CORVANE_OK);
        EXPECT_EQ(WriteTable(header, SavedFrequencies, Sink()), CORVANE_OK);
        std::rewind(DataSink);
        Bytes part(2048);
        part.resize(std::fread(part.data(), 1, part.size(), DataSink));
        return part;
    }

    // The whole compressed file of `text`, the payload packed here from the
    // code list, most significant bit first.
    Bytes CompressedFile(const std::string& text) {
        CountText(text);
        SnapshotCounts(FrequencyTable, SavedFrequencies);
        EXPECT_EQ(BuildTree(true), CORVANE_OK);
        std::map<int, std::string> codes = CodeMap();
        Bytes payload;
        int used = 0;
        for (unsigned char byte : text) {
            for (char bit : codes[byte]) {
                if (used % 8 == 0) payload.push_back(0);
                if (bit == '1') payload.back() |= static_cast<std::uint8_t>(0x80 >> (used % 8));
                ++used;
            }
        }
        Bytes file = Concat(WrittenHeaderPart(used % 8), payload);
        Fresh();
        return file;
    }

    // Reads the header and the table from the file's start.
    corvane_result Read(const Bytes& file) {
        Fresh();
        SourceStream = StreamWith(file);
        EXPECT_NE(SourceStream, nullptr);
        return ReadHeader(header, FrequencyTable, SavedFrequencies, TreeRoot, Source());
    }

    // Reads the header, then decodes the rest of the file with the tree.
    std::string Extracted(const Bytes& file, long* payloadStart = nullptr) {
        EXPECT_EQ(Read(file), CORVANE_OK);
        if (TreeRoot == nullptr) return "(refused)";
        if (payloadStart != nullptr) *payloadStart = std::ftell(SourceStream);
        Bytes payload(file.size());
        payload.resize(std::fread(payload.data(), 1, payload.size(), SourceStream));
        std::string text;
        const TreeNode* node = TreeRoot;
        for (std::size_t k = 0; k < payload.size(); ++k) {
            int bits = k + 1 == payload.size() ? header.finalBits : 8;
            for (int bit = 0; bit < bits; ++bit) {
                node = (payload[k] & (0x80 >> bit)) != 0 ? node->right : node->left;
                if (node->left == nullptr) {
                    text.push_back(static_cast<char>(node->symbol));
                    node = TreeRoot;
                }
            }
        }
        return text;
    }
};

TEST_F(CompressedFileTest, AabFileByteForByte) {
    Bytes expected{0x43, 0x04, 0x61, 0x02, 0x62, 0x01, 0xC0};
    EXPECT_EQ(CompressedFile("aab"), expected);

    long payloadStart = 0;
    EXPECT_EQ(Extracted(expected, &payloadStart), "aab");
    EXPECT_EQ(payloadStart, 6);
    EXPECT_EQ(header.finalBits, 3);
    EXPECT_EQ(header.widthCode, 0);
    EXPECT_EQ(header.reservedFlag, 0);
    EXPECT_EQ(header.tableMode, SparseTable);
    EXPECT_EQ(header.storedTotal, 3u);
    EXPECT_EQ(TreeRoot->left->symbol, 0x62);
    EXPECT_EQ(TreeRoot->right->symbol, 0x61);
    EXPECT_EQ(CodeList.next, nullptr);
}

TEST_F(CompressedFileTest, AbracadabraFileByteForByte) {
    Bytes expected{0x87, 0x09, 0x61, 0x05, 0x02, 0x01, 0x01, 0x00, 0x72, 0x02, 0x00, 0x79, 0x8D, 0x78};
    EXPECT_EQ(CompressedFile("abracadabra"), expected);
    EXPECT_EQ(Extracted(expected), "abracadabra");
    EXPECT_EQ(header.tableMode, RunsTable);
    EXPECT_EQ(header.finalBits, 7);
    EXPECT_EQ(header.storedTotal, 11u);
}

TEST_F(CompressedFileTest, TwoByteCountsAndLengthField) {
    std::string text = std::string(300, 'a') + "b";
    Bytes expected = Concat({0x55, 0x06, 0x00, 0x61, 0x2C, 0x01, 0x62, 0x01, 0x00}, Bytes(37, 0xFF));
    expected.push_back(0xF0);
    ASSERT_EQ(expected.size(), 47u);
    EXPECT_EQ(CompressedFile(text), expected);

    long payloadStart = 0;
    EXPECT_EQ(Extracted(expected, &payloadStart), text);
    EXPECT_EQ(payloadStart, 9);
    EXPECT_EQ(header.widthCode, 1);
    EXPECT_EQ(header.finalBits, 5);
    EXPECT_EQ(header.storedTotal, 301u);
}

TEST_F(CompressedFileTest, AllByteValuesUseTheFullTableOfLengthZero) {
    std::string text;
    for (int k = 0; k < 256; ++k) {
        text.push_back(static_cast<char>(k));
    }
    Bytes file = CompressedFile(text);
    ASSERT_EQ(file.size(), 2u + 256u + 256u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 258), Concat({0x00, 0x00}, Bytes(256, 0x01)));

    long payloadStart = 0;
    EXPECT_EQ(Extracted(file, &payloadStart), text);
    EXPECT_EQ(payloadStart, 258);
    EXPECT_EQ(header.finalBits, 8);
    EXPECT_EQ(header.tableMode, FullTable);
    EXPECT_EQ(header.storedTotal, 256u);
}

TEST_F(CompressedFileTest, WidthCodeFollowsTheLargestCount) {
    struct Case {
        std::uint64_t largest;
        Bytes header;
    };
    // 'a' and 'b' form one run: sparse wins over runs or ties with it.
    const Case cases[] = {
        {255, {0x40, 0x04}},         {256, {0x50, 0x06, 0x00}},           {65535, {0x50, 0x06, 0x00}},
        {65536, {0x70, 0x0A, 0x00}}, {0xFFFFFFFFull, {0x70, 0x0A, 0x00}},
    };
    for (const Case& c : cases) {
        SaveCounts({{'a', c.largest}, {'b', 1}});
        EXPECT_EQ(LargestCount(SavedFrequencies), c.largest);
        Bytes part = WrittenHeaderPart(0);
        EXPECT_EQ(Bytes(part.begin(), part.begin() + static_cast<long>(c.header.size())), c.header)
            << c.largest;
        std::string text = Extracted(part);  // no payload
        EXPECT_TRUE(text.empty());
        EXPECT_EQ(header.storedTotal, c.largest + 1);
        Fresh();
    }
    SaveCounts({{3, 0x100000000ull}, {4, 7}});
    EXPECT_EQ(LargestCount(SavedFrequencies), 0x100000000ull);
}

TEST_F(CompressedFileTest, TableModeTiesFavourFullThenSparse) {
    struct Case {
        std::vector<int> symbols;
        std::uint8_t mode;
    };
    std::vector<int> pairs, evens, middle;
    for (int k = 0; k < 256; ++k) {
        if (k % 4 < 2) pairs.push_back(k);            // all three 256 bytes long
        if (k % 2 == 0) evens.push_back(k);           // full = sparse < runs
        if (k >= 1 && k <= 254) middle.push_back(k);  // full = runs < sparse
    }
    const Case cases[] = {
        {pairs, FullTable},
        {evens, FullTable},
        {middle, FullTable},
        {{'a', 'b'}, SparseTable},               // sparse = runs
        {{'a', 'c'}, SparseTable},               // sparse shortest
        {{'a', 'b', 'c', 'd', 'r'}, RunsTable},  // runs shortest
    };
    for (const Case& c : cases) {
        std::map<int, std::uint64_t> counts;
        for (int symbol : c.symbols) {
            counts[symbol] = 1;
        }
        SaveCounts(counts);
        Bytes part = WrittenHeaderPart(1);
        EXPECT_EQ(header.tableMode, c.mode) << c.symbols.size();
        EXPECT_EQ(part[0], 1 | (c.mode << 6));
        std::size_t length = part[1] == 0 ? 256 : part[1];
        EXPECT_EQ(part.size(), 2 + length);
        Fresh();
    }
}

TEST_F(CompressedFileTest, TableLengthZeroMeansTwoHundredFiftySixInBothWidths) {
    // Two runs of 125 symbols with 2-byte counts: 2 * 3 + 2 * 125 = 256 bytes.
    std::map<int, std::uint64_t> counts;
    for (int k = 0; k < 100; ++k) counts[k] = 1;
    for (int k = 110; k < 135; ++k) counts[k] = 2;
    counts[50] = 300;
    SaveCounts(counts);
    Bytes part = WrittenHeaderPart(0);
    ASSERT_EQ(part.size(), 3u + 256u);
    EXPECT_EQ(Bytes(part.begin(), part.begin() + 3), (Bytes{0x90, 0x00, 0x01}));
    EXPECT_EQ(Extracted(part), "");
    EXPECT_EQ(header.storedTotal, 99u + 300u + 50u);

    part[2] = 0x00;
    long payloadStart = 0;
    Extracted(Concat(part, {0x12}), &payloadStart);
    EXPECT_EQ(payloadStart, 259);
    EXPECT_EQ(FrequencyTable[255].count, 449u);
}

TEST_F(CompressedFileTest, ReservedFlagSkipsOneByte) {
    long payloadStart = 0;
    Bytes file{0x4B, 0x04, 0xEE, 0x61, 0x02, 0x62, 0x01, 0xC0};
    EXPECT_EQ(Extracted(file, &payloadStart), "aab");
    EXPECT_EQ(header.reservedFlag, 1);
    EXPECT_EQ(payloadStart, 7);

    Bytes wide{0x5B, 0x06, 0x00, 0xEE, 0x61, 0x2C, 0x01, 0x62, 0x01, 0x00, 0xC0};
    EXPECT_EQ(Extracted(wide, &payloadStart), "aab");
    EXPECT_EQ(payloadStart, 10);
    EXPECT_EQ(header.storedTotal, 301u);
}

TEST_F(CompressedFileTest, ThreeByteCountsAreRead) {
    Bytes file{0x63, 0x08, 0x00, 0x61, 0x02, 0x00, 0x00, 0x62, 0x01, 0x00, 0x00, 0xC0};
    long payloadStart = 0;
    EXPECT_EQ(Extracted(file, &payloadStart), "aab");
    EXPECT_EQ(header.widthCode, 2);
    EXPECT_EQ(payloadStart, 11);
}

TEST_F(CompressedFileTest, ShortFilesAreRefused) {
    const Bytes files[] = {
        {0x43, 0x04, 0x61, 0x02, 0x62, 0x01},
        {0x4B, 0x04, 0xEE, 0x61, 0x02, 0x62, 0x01},
        {0x55, 0x06, 0x00, 0x61, 0x2C, 0x01, 0x62, 0x01, 0x00},
    };
    for (const Bytes& whole : files) {
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            Bytes shorter(whole.begin(), whole.begin() + static_cast<long>(cut));
            EXPECT_EQ(Read(shorter), WrongFile) << cut;
        }
        EXPECT_EQ(Extracted(whole), "");
    }
}

TEST_F(CompressedFileTest, TablesThatDoNotFitTheirModeAreRefused) {
    EXPECT_EQ(Read(Concat({0x03, 0xFF}, Bytes(255, 0x01))), WrongFile);
    EXPECT_EQ(Read(Concat({0x13, 0x00, 0x01}, Bytes(256, 0x01))), WrongFile);
    EXPECT_EQ(Read({0x43, 0x05, 0x61, 0x02, 0x62, 0x01, 0x63}), WrongFile);
    EXPECT_EQ(Read({0x83, 0x04, 0x61, 0x02, 0x01, 0x62}), WrongFile);
    EXPECT_EQ(Read({0x83, 0x03, 0x61, 0x02, 0x01}), WrongFile);
}

TEST_F(CompressedFileTest, TablesWithoutTwoValuesCannotBuildATree) {
    EXPECT_EQ(Read({0xC3, 0x04, 0x61, 0x02, 0x62, 0x01, 0xC0}), TooFewValues);
    EXPECT_EQ(Read({0x43, 0x02, 0x61, 0x05, 0xC0}), TooFewValues);
    EXPECT_EQ(Read({0x43, 0x02, 0x61, 0x00}), TooFewValues);
}

}  // namespace
