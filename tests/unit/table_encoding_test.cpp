#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Counts = std::map<int, std::uint64_t>;

class TableEncodingTest : public CodingStateTest {
protected:
    void Save(const Counts& counts) {
        for (int k = 0; k < 256; ++k) {
            SavedFrequencies[k] = SymbolStat{k, 0, nullptr};
        }
        for (const auto& [symbol, count] : counts) {
            SavedFrequencies[symbol].count = count;
        }
    }

    void SaveText(const std::string& text) {
        Counts counts;
        for (unsigned char byte : text) {
            ++counts[byte];
        }
        Save(counts);
    }

    corvane_result Decode(const Bytes& table, int mode, int width) {
        for (SymbolStat& entry : FrequencyTable) {
            entry.count = 0;
        }
        return DecodeTable(FrequencyTable, table.data(), table.size(), mode, width);
    }

    Counts Decoded(const Bytes& table, int mode, int width) {
        EXPECT_EQ(Decode(table, mode, width), CORVANE_OK);
        Counts counts;
        for (int k = 0; k < 256; ++k) {
            EXPECT_EQ(FrequencyTable[k].symbol, k);
            if (FrequencyTable[k].count != 0) counts[k] = FrequencyTable[k].count;
        }
        return counts;
    }
};

TEST_F(TableEncodingTest, AabInAllThreeEncodings) {
    SaveText("aab");
    Bytes full = EncodeTable(SavedFrequencies, FullTable, 0);
    ASSERT_EQ(full.size(), 256u);
    for (int k = 0; k < 256; ++k) {
        EXPECT_EQ(full[k], k == 0x61 ? 2 : k == 0x62 ? 1 : 0) << k;
    }
    EXPECT_EQ(EncodeTable(SavedFrequencies, SparseTable, 0), (Bytes{0x61, 0x02, 0x62, 0x01}));
    EXPECT_EQ(EncodeTable(SavedFrequencies, RunsTable, 0), (Bytes{0x61, 0x02, 0x01, 0x00}));
}

TEST_F(TableEncodingTest, AbracadabraShortForms) {
    SaveText("abracadabra");
    EXPECT_EQ(EncodeTable(SavedFrequencies, SparseTable, 0),
              (Bytes{0x61, 0x05, 0x62, 0x02, 0x63, 0x01, 0x64, 0x01, 0x72, 0x02}));
    EXPECT_EQ(EncodeTable(SavedFrequencies, RunsTable, 0),
              (Bytes{0x61, 0x05, 0x02, 0x01, 0x01, 0x00, 0x72, 0x02, 0x00}));
    EXPECT_EQ(TableLength(SavedFrequencies, SparseTable, 0), 10u);
    EXPECT_EQ(TableLength(SavedFrequencies, RunsTable, 0), 9u);
}

TEST_F(TableEncodingTest, TwoByteCountsAreLittleEndian) {
    Save({{0x61, 300}, {0x62, 1}});
    EXPECT_EQ(EncodeTable(SavedFrequencies, SparseTable, 1), (Bytes{0x61, 0x2C, 0x01, 0x62, 0x01, 0x00}));
    EXPECT_EQ(EncodeTable(SavedFrequencies, RunsTable, 1), (Bytes{0x61, 0x2C, 0x01, 0x01, 0x00, 0x00, 0x00}));
    Bytes full = EncodeTable(SavedFrequencies, FullTable, 1);
    ASSERT_EQ(full.size(), 512u);
    EXPECT_EQ(full[0xC2], 0x2C);
    EXPECT_EQ(full[0xC3], 0x01);
    EXPECT_EQ(full[0xC4], 0x01);
    EXPECT_EQ(full[0xC5], 0x00);
}

TEST_F(TableEncodingTest, RunsEndingAtTheLastSymbol) {
    Save({{0xFE, 3}, {0xFF, 4}});
    Bytes runs = EncodeTable(SavedFrequencies, RunsTable, 0);
    EXPECT_EQ(runs, (Bytes{0xFE, 0x03, 0x04, 0x00}));
    EXPECT_EQ(Decoded(runs, RunsTable, 0), (Counts{{0xFE, 3}, {0xFF, 4}}));

    Bytes wide = EncodeTable(SavedFrequencies, RunsTable, 1);
    EXPECT_EQ(wide, (Bytes{0xFE, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Decoded(wide, RunsTable, 1), (Counts{{0xFE, 3}, {0xFF, 4}}));

    Counts all;
    for (int k = 0; k < 256; ++k) {
        all[k] = 1 + k % 7;
    }
    Save(all);
    Bytes whole = EncodeTable(SavedFrequencies, RunsTable, 0);
    ASSERT_EQ(whole.size(), 258u);
    EXPECT_EQ(whole.front(), 0x00);
    EXPECT_EQ(whole[1], 1);
    EXPECT_EQ(whole[256], 1 + 255 % 7);
    EXPECT_EQ(whole.back(), 0x00);
    EXPECT_EQ(Decoded(whole, RunsTable, 0), all);
}

TEST_F(TableEncodingTest, EveryWrittenTableDecodesToItsCounts) {
    std::vector<Counts> samples{
        {{0, 1}, {255, 2}},
        {{0, 7}, {1, 1}, {2, 0xFFFF}, {9, 3}, {10, 4}, {200, 65536}, {254, 5}, {255, 0xFFFFFFFFull}},
        {{1, 1}, {3, 1}, {5, 1}, {7, 250}},
        {{0x80, 9}, {0x81, 10}, {0x82, 11}, {0xC0, 12}},
    };
    Counts dense;
    for (int k = 0; k < 256; k += 1 + k % 3) {
        dense[k] = 1000u + k;
    }
    samples.push_back(dense);

    for (const Counts& counts : samples) {
        for (int width = 0; width <= 3; ++width) {
            std::uint64_t limit = width == 3 ? 0xFFFFFFFFull : (1ull << (8 * (width + 1))) - 1;
            Counts fitting;
            for (const auto& [symbol, count] : counts) {
                fitting[symbol] = count <= limit ? count : 1;
            }
            Save(fitting);
            for (int mode : {0, 1, 2}) {
                Bytes table = EncodeTable(SavedFrequencies, mode, width);
                EXPECT_EQ(table.size(), TableLength(SavedFrequencies, mode, width)) << mode << " " << width;
                EXPECT_EQ(Decoded(table, mode, width), fitting) << mode << " " << width;
            }
        }
    }
}

TEST_F(TableEncodingTest, ThreeByteCountsDecodeByTheSameRule) {
    Bytes sparse{0x00, 0x01, 0x02, 0x03, 0x62, 0x05, 0x00, 0x00};
    EXPECT_EQ(Decoded(sparse, SparseTable, 2), (Counts{{0x00, 0x030201}, {0x62, 5}}));
    Bytes runs{0x10, 0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00};
    EXPECT_EQ(Decoded(runs, RunsTable, 2), (Counts{{0x10, 1}, {0x11, 0xFFFFFF}}));
    Bytes full(768, 0);
    full[3 * 0x41] = 0x07;
    full[3 * 0x42 + 2] = 0x01;
    EXPECT_EQ(Decoded(full, FullTable, 2), (Counts{{0x41, 7}, {0x42, 0x010000}}));
}

TEST_F(TableEncodingTest, ReadCountTakesTheLowBytesLittleEndian) {
    const std::uint8_t source[4] = {0x11, 0x22, 0x33, 0x44};
    const std::uint64_t expected[4] = {0x11, 0x2211, 0x332211, 0x44332211};
    for (int width = 0; width <= 3; ++width) {
        std::uint64_t count = 0;
        ReadCount(count, source, width);
        EXPECT_EQ(count, expected[width]);
    }
}

TEST_F(TableEncodingTest, UnusedModeStoresAndWritesNothing) {
    EXPECT_TRUE(Decoded(Bytes{0x61, 0x02, 0x62, 0x01}, 3, 0).empty());
    SaveText("aab");
    EXPECT_TRUE(EncodeTable(SavedFrequencies, 3, 0).empty());
    EXPECT_EQ(TableLength(SavedFrequencies, 3, 0), 0u);
}

TEST_F(TableEncodingTest, WriteTableAppendsTheEncoding) {
    SaveText("abracadabra");
    DataSink = TempStream();
    ASSERT_NE(DataSink, nullptr);
    std::fputc(0x87, DataSink);
    header.tableMode = RunsTable;
    header.widthCode = 0;
    EXPECT_EQ(WriteTable(header, SavedFrequencies, Sink()), CORVANE_OK);
    header.tableMode = 3;
    EXPECT_EQ(WriteTable(header, SavedFrequencies, Sink()), CORVANE_OK);
    std::rewind(DataSink);
    Bytes written(32);
    written.resize(std::fread(written.data(), 1, written.size(), DataSink));
    EXPECT_EQ(written, (Bytes{0x87, 0x61, 0x05, 0x02, 0x01, 0x01, 0x00, 0x72, 0x02, 0x00}));
}

TEST_F(TableEncodingTest, DamagedTablesAreRefused) {
    const corvane_result wrong = CORVANE_WRONG_FILE;
    EXPECT_EQ(Decode(Bytes(255, 0), FullTable, 0), wrong);
    EXPECT_EQ(Decode(Bytes(257, 0), FullTable, 0), wrong);
    EXPECT_EQ(Decode(Bytes(256, 1), FullTable, 1), wrong);
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x62}), SparseTable, 0), wrong);
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x00, 0x62}), SparseTable, 1), wrong);
    // Runs without their zero count, or with a count cut short.
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x01}), RunsTable, 0), wrong);
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x00, 0x01}), RunsTable, 1), wrong);
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x00, 0x00}), RunsTable, 1), wrong);
    EXPECT_EQ(Decode((Bytes{0x61}), RunsTable, 0), wrong);
    EXPECT_EQ(Decode((Bytes{0x00}), RunsTable, 0), wrong);
    EXPECT_EQ(Decode((Bytes{0x61, 0x02, 0x00, 0x63}), RunsTable, 0), wrong);
}

TEST_F(TableEncodingTest, RunsEndingsThatWritersProduceAreAccepted) {
    // A run from symbol 0 is read although its start byte is 0.
    EXPECT_EQ(Decoded((Bytes{0x00, 0x04, 0x00, 0x61, 0x02, 0x00}), RunsTable, 0),
              (Counts{{0x00, 4}, {0x61, 2}}));
    // After a run that reaches 255, zero bytes are start bytes that begin nothing.
    EXPECT_EQ(Decoded((Bytes{0xFF, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00}), RunsTable, 1), (Counts{{0xFF, 5}}));
    EXPECT_EQ(Decoded((Bytes{0x10, 0x01, 0x00, 0xFE, 0x02, 0x03, 0x00, 0x00}), RunsTable, 0),
              (Counts{{0x10, 1}, {0xFE, 2}, {0xFF, 3}}));
}

}  // namespace
