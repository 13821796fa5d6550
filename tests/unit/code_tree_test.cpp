#include "model/code_tree.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using Codes = std::map<int, std::string>;

class CodeTreeTest : public CodingStateTest {
protected:
    // The code list after its head, as (symbol, code) in list order.
    std::vector<std::pair<int, std::string>> Listed() const {
        std::vector<std::pair<int, std::string>> codes;
        for (const CodeEntry* entry = CodeList.next; entry != nullptr; entry = entry->next) {
            codes.emplace_back(entry->symbol, entry->code);
        }
        return codes;
    }

    static std::map<int, std::string> CodesOf(const std::string& text) {
        SymbolTable table = {};
        InitSymbols(table);
        for (unsigned char byte : text) ++table[byte].count;
        CodeTree built;
        EXPECT_EQ(::BuildTree(table, built.root, &built.codeList), CORVANE_OK);
        std::map<int, std::string> codes;
        for (const CodeEntry* entry = built.codeList.next; entry != nullptr; entry = entry->next)
            codes[entry->symbol] = entry->code;
        return codes;
    }

    // Follows a code from the root; the symbol of the leaf reached, or -1.
    int Walk(const std::string& code) {
        const TreeNode* node = TreeRoot;
        for (char bit : code) {
            node = bit == '0' ? node->left : node->right;
            if (node == nullptr) return -1;
        }
        return node->left == nullptr && node->right == nullptr ? node->symbol : -1;
    }

    // Checks the shape: both children or none, parents pointing back.
    static int CountLeaves(const TreeNode* node) {
        if (node->left == nullptr && node->right == nullptr) return 1;
        EXPECT_NE(node->left, nullptr);
        EXPECT_NE(node->right, nullptr);
        EXPECT_EQ(node->left->parent, node);
        EXPECT_EQ(node->right->parent, node);
        EXPECT_EQ(node->symbol, 0);
        return CountLeaves(node->left) + CountLeaves(node->right);
    }
};

TEST_F(CodeTreeTest, TwoValuesSmallerOrLowerGetsZero) {
    EXPECT_EQ(CodesOf("ab"), (Codes{{'a', "0"}, {'b', "1"}}));
    EXPECT_EQ(CodesOf("ba"), (Codes{{'a', "0"}, {'b', "1"}}));
    EXPECT_EQ(CodesOf("aab"), (Codes{{'a', "1"}, {'b', "0"}}));
}

TEST_F(CodeTreeTest, MergedSubtreeSortsAfterSmallerLeaf) {
    EXPECT_EQ(CodesOf("abc"), (Codes{{'a', "10"}, {'b', "11"}, {'c', "0"}}));
}

TEST_F(CodeTreeTest, MergedSubtreeStaysAheadOfEqualLeaf) {
    EXPECT_EQ(CodesOf("abcc"), (Codes{{'a', "00"}, {'b', "01"}, {'c', "1"}}));
}

TEST_F(CodeTreeTest, AbracadabraCodesInListOrder) {
    CountText("abracadabra");
    ASSERT_EQ(BuildTree(true), CORVANE_OK);
    std::vector<std::pair<int, std::string>> expected{
        {'a', "0"}, {'r', "10"}, {'c', "1100"}, {'d', "1101"}, {'b', "111"}};
    EXPECT_EQ(Listed(), expected);
    EXPECT_EQ(CountLeaves(TreeRoot), 5);
    EXPECT_EQ(TreeRoot->parent, nullptr);
    for (const auto& [symbol, code] : expected) {
        EXPECT_EQ(Walk(code), symbol) << code;
    }
    EXPECT_EQ(CodeList.symbol, 0);
    EXPECT_TRUE(CodeList.code.empty());
}

TEST_F(CodeTreeTest, AllByteValuesOnceGiveEightBitCodes) {
    for (int k = 0; k < 256; ++k) {
        FrequencyTable[k].count = 1;
    }
    ASSERT_EQ(BuildTree(true), CORVANE_OK);
    std::vector<std::pair<int, std::string>> listed = Listed();
    ASSERT_EQ(listed.size(), 256u);
    EXPECT_EQ(listed.front(), (std::pair<int, std::string>{170, "00000000"}));
    Codes codes = CodeMap();
    for (const auto& [symbol, code] : codes) {
        EXPECT_EQ(code.size(), 8u) << symbol;
    }
    EXPECT_EQ(codes[0], "10101010");
    EXPECT_EQ(codes[1], "10101011");
    EXPECT_EQ(codes[128], "00101010");
    EXPECT_EQ(codes[255], "01010101");
    for (std::size_t k = 1; k < listed.size(); ++k) {
        EXPECT_LT(listed[k - 1].second, listed[k].second);
    }
}

TEST_F(CodeTreeTest, FibonacciCountsGiveNineBitCodes) {
    const std::uint64_t counts[10] = {1, 1, 1, 2, 3, 5, 8, 13, 21, 34};
    for (int k = 0; k < 10; ++k) {
        FrequencyTable[k].count = counts[k];
    }
    ASSERT_EQ(BuildTree(true), CORVANE_OK);
    Codes expected{{9, "0"},      {8, "10"},      {7, "110"},      {6, "1110"},      {5, "11110"},
                   {4, "111110"}, {3, "1111110"}, {2, "11111110"}, {0, "111111110"}, {1, "111111111"}};
    EXPECT_EQ(CodeMap(), expected);
}

TEST_F(CodeTreeTest, TreeWithoutCodesAndUnusedValuesWithoutLeaves) {
    CountText("abracadabra");
    SnapshotCounts(FrequencyTable, SavedFrequencies);
    ASSERT_EQ(BuildTree(false), CORVANE_OK);
    EXPECT_EQ(CodeList.next, nullptr);
    EXPECT_EQ(CountLeaves(TreeRoot), 5);
    EXPECT_EQ(Walk("1101"), 'd');
    EXPECT_EQ(FrequencyTable[255].count, 11u);
    EXPECT_EQ(SavedFrequencies['a'].count, 5u);
    EXPECT_EQ(SavedFrequencies['e'].count, 0u);
    EXPECT_EQ(SavedFrequencies[114].symbol, 114);
}

TEST_F(CodeTreeTest, FewerThanTwoValuesIsRefused) {
    EXPECT_EQ(BuildTree(true), CORVANE_ONE_OR_NO_CHARACTER);
    CountText("xxxx");
    EXPECT_EQ(BuildTree(true), CORVANE_ONE_OR_NO_CHARACTER);
    EXPECT_EQ(TreeRoot, nullptr);
}

}  // namespace
