#include "codec/code_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/bit_buffer.h"
#include "codec/decode_kernel.h"
#include "codec/encoder.h"
#include "test_support.h"

namespace {

class CodeTablesTest : public CodingStateTest {
protected:
    EncodingTable EncodeCodes;
    DecodingTable DecodeLookup;

    // The table entry for a bit text at the top of the index.
    std::uint32_t EntryAt(const std::string& bits) const;
};

// The table index whose bits, first bit highest, begin with the bit text.
unsigned TopBitsIndex(const std::string& bits) {
    unsigned index = 0;
    for (unsigned k = 0; k < LookupBits; ++k)
        index = index << 1 | (k < bits.size() && bits[k] == '1' ? 1 : 0);
    return index;
}

std::string Ones(std::size_t count) { return std::string(count, '1'); }

std::uint32_t CodeTablesTest::EntryAt(const std::string& bits) const {
    return DecodeLookup.entries[TopBitsIndex(bits)];
}

TEST_F(CodeTablesTest, EncodingTableTakesEachValuesFirstCode) {
    const std::string fiftySeven = Ones(56) + '0';
    std::string longest;
    for (int i = 0; i < 255; ++i) longest += (i % 3 == 0) ? '0' : '1';
    SetCodeList({{'a', "01"}, {'b', ""}, {'b', "1101"}, {'a', "111"}, {'c', fiftySeven}, {'d', longest}});
    BuildEncodingTable(EncodeCodes, CodeList);
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
        std::uint8_t symbol = 0;
        EXPECT_TRUE(DecodeLongCode(DecodeLookup, padded.data(), position, index, symbol)) << value;
        EXPECT_EQ(symbol, comb[value].first) << value;
        EXPECT_EQ(position, 1 + code.size()) << value;
    }
}

TEST_F(CodeTablesTest, BranchesMissingFromAHandMadeTreeAreRefusedWhenReached) {
    SetTree({{'A', "0"}, {'B', "10"}});  // nothing below 11
    BuildDecodingTable(DecodeLookup, TreeRoot);
    EXPECT_EQ(SymbolsIn(EntryAt("110000000000")), 0u);
    EXPECT_EQ(DecodeLookup.longCodes[TopBitsIndex("110000000000")], nullptr);
    // Whole codes before the missing branch still count.
    EXPECT_EQ(SymbolsIn(EntryAt("010110000000")), 2u);
    Bytes payload = {0xC0, 0, 0, 0, 0, 0, 0, 0};
    std::uint64_t position = 0;
    std::uint8_t symbol = 0;
    EXPECT_FALSE(
        DecodeLongCode(DecodeLookup, payload.data(), position, TopBitsIndex("110000000000"), symbol));

    SetTree({});  // a lone root: no code at all
    BuildDecodingTable(DecodeLookup, TreeRoot);
    for (unsigned index = 0; index < (1u << LookupBits); ++index) ASSERT_EQ(DecodeLookup.entries[index], 0u);
}

// Three readers over three parts of one payload: taken together and then
// each alone, they give what each gives alone, within the kernel's margins
// (the buffers end right where the kernel may still read and write), and
// the tally counts exactly the symbols handed out.
TEST_F(CodeTablesTest, KernelReadersTogetherDecodeAsEachAloneWithinTheMargins) {
    constexpr unsigned Parts = 3;
    constexpr std::size_t PartSymbols = 1000;
    const CodeTable codes = RandomCodes(AllByteValues(), 19);  // codes up to well past LookupBits
    SetTree(codes);
    BuildDecodingTable(DecodeLookup, TreeRoot);
    ASSERT_GT(DecodeLookup.longest, LookupBits);
    const Bytes input = RandomBytes(Parts * PartSymbols, 7);
    std::uint64_t starts[Parts + 1] = {};
    for (unsigned k = 1; k <= Parts; ++k) {
        const Bytes before(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(k * PartSymbols));
        starts[k] = CodeTextOf(codes, before).size();
    }
    Bytes payload = PackBitText(CodeTextOf(codes, input)).first;
    payload.resize(starts[Parts] / 8 + FastReadAhead(DecodeLookup));
    const std::size_t capacity = PartSymbols + 2 * MostSymbolsPerRefill;
    const auto run = [&](unsigned together) {
        std::vector<Bytes> outs(Parts, Bytes(capacity + KernelWritesPastEnd));
        KernelCursor cursors[Parts];
        for (unsigned k = 0; k < Parts; ++k)
            cursors[k] = {starts[k], starts[k + 1], outs[k].data(), outs[k].data() + capacity};
        DecodeTally tally;
        EXPECT_TRUE(DecodeWithReaders(DecodeLookup, payload.data(), cursors, together, tally));
        std::uint64_t counts[256] = {};
        std::uint64_t expected[256] = {};
        for (unsigned k = 0; k < Parts; ++k) {
            EXPECT_TRUE(DecodeWithReaders(DecodeLookup, payload.data(), &cursors[k], 1, tally));
            EXPECT_GE(cursors[k].position, starts[k + 1]);
            outs[k].resize(static_cast<std::size_t>(cursors[k].out - outs[k].data()));
            for (std::uint8_t value : outs[k]) ++expected[value];
        }
        AddTallyTo(DecodeLookup, tally, counts);
        EXPECT_TRUE(std::equal(counts, counts + 256, expected));
        return outs;
    };
    const std::vector<Bytes> alone = run(1);
    EXPECT_EQ(run(Parts), alone);
    for (unsigned k = 0; k < Parts; ++k) {
        ASSERT_GE(alone[k].size(), PartSymbols);
        EXPECT_TRUE(std::equal(alone[k].begin(), alone[k].begin() + PartSymbols,
                               input.begin() + static_cast<std::ptrdiff_t>(k * PartSymbols)));
    }
}

}  // namespace
