#include "model/frequency_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

class FrequencyTableTest : public CodingStateTest {
protected:
    void OpenSource(const std::string& bytes) {
        CloseStream(SourceStream);
        for (SymbolStat& entry : FrequencyTable) entry = SymbolStat{};
        InitSymbols(FrequencyTable);
        SourceStream = StreamWith(BytesOf(bytes));
        ASSERT_NE(SourceStream, nullptr);
    }

    std::vector<int> SymbolOrder(int start, int last) {
        std::vector<int> order;
        for (int k = start; k <= last; ++k) {
            order.push_back(FrequencyTable[k].symbol);
        }
        return order;
    }
};

TEST_F(FrequencyTableTest, CountsEveryByteIntoItsOwnEntry) {
    OpenSource("abracadabra");
    ASSERT_EQ(CountBytes(FrequencyTable, Source()), CORVANE_OK);
    SnapshotCounts(FrequencyTable, SavedFrequencies);
    for (int k = 0; k < 256; ++k) {
        std::uint64_t expected = k == 'a' ? 5 : k == 'b' || k == 'r' ? 2 : k == 'c' || k == 'd' ? 1 : 0;
        EXPECT_EQ(FrequencyTable[k].count, expected) << k;
        EXPECT_EQ(SavedFrequencies[k].count, expected) << k;
        EXPECT_EQ(SavedFrequencies[k].symbol, k);
        EXPECT_EQ(SavedFrequencies[k].node, nullptr);
    }
}

TEST_F(FrequencyTableTest, CountsHighBytesWholeBlocksAndEmptyInputExactly) {
    // Two full blocks: the read that meets end of file delivers nothing.
    std::string bytes;
    for (int k = 0; k < 8192; ++k) {
        bytes.push_back(static_cast<char>(k % 256));
    }
    OpenSource(bytes);
    ASSERT_EQ(CountBytes(FrequencyTable, Source()), CORVANE_OK);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(FrequencyTable[k].count, 32u) << k;
    }

    OpenSource(std::string(4097, '\xff'));
    ASSERT_EQ(CountBytes(FrequencyTable, Source()), CORVANE_OK);
    EXPECT_EQ(FrequencyTable[255].count, 4097u);
    EXPECT_EQ(FrequencyTable[127].count, 0u);

    OpenSource("");
    ASSERT_EQ(CountBytes(FrequencyTable, Source()), CORVANE_OK);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(FrequencyTable[k].count, 0u);
    }
}

TEST_F(FrequencyTableTest, FirstSortPutsZerosFirstAndTiesInSymbolOrder) {
    OpenSource("abracadabra");
    ASSERT_EQ(CountBytes(FrequencyTable, Source()), CORVANE_OK);
    SortByCount(FrequencyTable, 0, 255);
    std::vector<int> order = SymbolOrder(0, 255);
    std::vector<int> expected;
    for (int k = 0; k < 256; ++k) {
        if (k != 'a' && k != 'b' && k != 'c' && k != 'd' && k != 'r') expected.push_back(k);
    }
    for (int k : {'c', 'd', 'b', 'r', 'a'}) {
        expected.push_back(k);
    }
    EXPECT_EQ(order, expected);
}

TEST_F(FrequencyTableTest, SortIsStableWhateverTheSymbols) {
    // Symbols descending, counts cycling 2, 0, 1: equal counts must keep
    // their descending order, and nodes travel with their entries.
    TreeNode marker;
    for (int k = 10; k <= 40; ++k) {
        FrequencyTable[k] = SymbolStat{100 - k, static_cast<std::uint64_t>((k + 2) % 3), nullptr};
    }
    FrequencyTable[13].node = &marker;
    SortByCount(FrequencyTable, 10, 40);
    for (int k = 11; k <= 40; ++k) {
        const SymbolStat& before = FrequencyTable[k - 1];
        const SymbolStat& after = FrequencyTable[k];
        ASSERT_LE(before.count, after.count);
        if (before.count == after.count) {
            EXPECT_GT(before.symbol, after.symbol);
        }
    }
    for (int k = 10; k <= 40; ++k) {
        EXPECT_EQ(FrequencyTable[k].node == &marker, FrequencyTable[k].symbol == 87);
    }
    EXPECT_EQ(FrequencyTable[9].symbol, 9);
    EXPECT_EQ(FrequencyTable[41].symbol, 41);
}

TEST_F(FrequencyTableTest, SortAgreesWithAStableSortOnManyTies) {
    std::mt19937 random(22);
    for (int round = 0; round < 200; ++round) {
        for (int k = 0; k < 256; ++k)
            FrequencyTable[k] = SymbolStat{k, static_cast<std::uint64_t>(random() % 6), nullptr};
        const int start = static_cast<int>(random() % 256);
        const int last = start + static_cast<int>(random() % static_cast<unsigned>(256 - start));
        std::vector<SymbolStat> expected(FrequencyTable, FrequencyTable + 256);
        std::stable_sort(expected.begin() + start, expected.begin() + last + 1,
                         [](const SymbolStat& a, const SymbolStat& b) { return a.count < b.count; });
        SortByCount(FrequencyTable, start, last);
        for (int k = 0; k < 256; ++k) ASSERT_EQ(FrequencyTable[k].symbol, expected[k].symbol) << round;
    }
}

TEST_F(FrequencyTableTest, SortComparesCountsAsUnsigned) {
    FrequencyTable[0].count = 0x8000000000000000ull;
    FrequencyTable[1].count = 5;
    FrequencyTable[2].count = 0xFFFFFFFFFFFFFFFFull;
    FrequencyTable[3].count = 5;
    SortByCount(FrequencyTable, 0, 3);
    EXPECT_EQ(SymbolOrder(0, 3), (std::vector<int>{1, 3, 0, 2}));
}

TEST_F(FrequencyTableTest, EmptyAndSingleRangesStayUnchanged) {
    FrequencyTable[5].count = 9;
    FrequencyTable[6].count = 1;
    SortByCount(FrequencyTable, 5, 5);
    SortByCount(FrequencyTable, 6, 5);
    EXPECT_EQ(SymbolOrder(5, 6), (std::vector<int>{5, 6}));
}

}  // namespace
