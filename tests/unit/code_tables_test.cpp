#include "codec/code_tables.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/bit_buffer.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "test_support.h"

namespace {

using CodeTablesTest = CodingStateTest;

// The table index whose bits, first bit highest, begin with the bit text.
unsigned TopBitsIndex(const std::string& bits) {
    unsigned index = 0;
    for (unsigned k = 0; k < LookupBits; ++k)
        index = index << 1 | (k < bits.size() && bits[k] == '1' ? 1 : 0);
    return index;
}

std::string Ones(std::size_t count) { return std::string(count, '1'); }

// The table entry for a bit text at the top of the index.
std::uint32_t EntryAt(const std::string& bits) { return DecodeLookup.entries[TopBitsIndex(bits)]; }

TEST_F(CodeTablesTest, EncodingTableTakesEachValuesFirstCode) {
    const std::string fiftySeven = Ones(56) + '0';
    std::string longest;
    for (int i = 0; i < 255; ++i) longest += (i % 3 == 0) ? '0' : '1';
    SetCodeList({{'a', "01"}, {'b', ""}, {'b', "1101"}, {'a', "111"}, {'c', fiftySeven}, {'d', longest}});
    BuildEncodingTable(EncodeCodes);
    EXPECT_EQ(EncodeCodes.lengths['a'], 2u);
    EXPECT_EQ(EncodeCodes.codes['a'], std::uint64_t{1} << 62);
    EXPECT_EQ(EncodeCodes.lengths['b'], 4u);
    EXPECT_EQ(EncodeCodes.codes['b'], std::uint64_t{0b1101} << 60);
    EXPECT_EQ(EncodeCodes.lengths['c'], 57u);
    EXPECT_EQ(EncodeCodes.codes['c'], ~std::uint64_t{0} << 8);
    EXPECT_EQ(EncodeCodes.lengths['d'], 255u);
    EXPECT_EQ(*EncodeCodes.texts['d'], longest);
    EXPECT_EQ(EncodeCodes.lengths['e'], 0u);
    EXPECT_EQ(EncodeCodes.longest, 255u);
}

TEST_F(CodeTablesTest, DecodingTableHoldsUpToThreeWholeCodesPerEntry) {
    SetTree({{'A', "0"}, {'B', "10"}, {'C', "110"}, {'D', "1110"}, {'E', "1111"}});
    BuildDecodingTable(DecodeLookup, TreeRoot);
    EXPECT_EQ(DecodeLookup.longest, 4u);
    struct Case {
        std::string bits;  // the index, first bit first
        std::string symbols;
        unsigned used;
    };
    const Case cases[] = {
        {"000000000000", "AAA", 3},  {"101100000000", "BCA", 6},
        {"111011111111", "DEE", 12}, {"110111000000", "CDA", 8},
        {"111111111111", "EEE", 12}, {"010110111011", "ABC", 6},  // three codes at the most
    };
    for (const Case& c : cases) {
        const std::uint32_t entry = EntryAt(c.bits);
        ASSERT_EQ(SymbolsIn(entry), c.symbols.size()) << c.bits;
        EXPECT_EQ(BitsOf(entry), c.used) << c.bits;
        for (unsigned k = 0; k < SymbolsIn(entry); ++k) {
            EXPECT_EQ(static_cast<char>((SymbolBytesOf(entry) >> (8 * k)) & 0xFF), c.symbols[k]) << c.bits;
        }
    }
}

TEST_F(CodeTablesTest, CodesLongerThanTheTableAreWalkedFromTheirNode) {
    const CodeTable comb = CombCodes(AllByteValues());  // 0, 10, 110, ... up to 255 bits
    SetTree(comb);
    BuildDecodingTable(DecodeLookup, TreeRoot);
    EXPECT_EQ(DecodeLookup.longest, 255u);
    const std::string twelveOnes(LookupBits, '1');
    EXPECT_EQ(SymbolsIn(EntryAt(twelveOnes)), 0u);
    ASSERT_NE(DecodeLookup.longCodes[TopBitsIndex(twelveOnes)], nullptr);
    EXPECT_EQ(SymbolsIn(EntryAt(Ones(LookupBits - 1) + '0')), 1u);
    // A code cut off by the end of the index waits for the next lookup.
    const std::uint32_t cut = EntryAt('0' + Ones(LookupBits - 1));
    EXPECT_EQ(SymbolsIn(cut), 1u);
    EXPECT_EQ(BitsOf(cut), 1u);
    for (std::size_t value : {12, 13, 57, 200, 254, 255}) {
        const std::string& code = comb[value].second;
        const auto [payload, lastBits] = PackBitText('0' + code + '0');
        Bytes padded = payload;
        padded.resize(payload.size() + 8);
        std::uint64_t position = 1;
        const auto index = static_cast<unsigned>(PeekBits(padded.data(), position) >> (64 - LookupBits));
        EXPECT_EQ(DecodeLongCode(DecodeLookup, padded.data(), position, index), comb[value].first) << value;
        EXPECT_EQ(position, 1 + code.size()) << value;
    }
}

TEST_F(CodeTablesTest, BranchesMissingFromAHandMadeTreeAreFatalWhenReached) {
    SetTree({{'A', "0"}, {'B', "10"}});  // nothing below 11
    BuildDecodingTable(DecodeLookup, TreeRoot);
    EXPECT_EQ(SymbolsIn(EntryAt("110000000000")), 0u);
    EXPECT_EQ(DecodeLookup.longCodes[TopBitsIndex("110000000000")], nullptr);
    // Whole codes before the missing branch still count.
    EXPECT_EQ(SymbolsIn(EntryAt("010110000000")), 2u);
    Bytes payload = {0xC0, 0, 0, 0, 0, 0, 0, 0};
    std::uint64_t position = 0;
    EXPECT_FATAL(DecodeLongCode(DecodeLookup, payload.data(), position, TopBitsIndex("110000000000")),
                 testing::Eq("wrong tree.\n"));

    ResetProgramState();
    SetTree({});  // a lone root: no code at all
    BuildDecodingTable(DecodeLookup, TreeRoot);
    for (unsigned index = 0; index < (1u << LookupBits); ++index) ASSERT_EQ(DecodeLookup.entries[index], 0u);
}

}  // namespace
