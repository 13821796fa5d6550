#pragma once
// Fixtures of the unit tests: the coding records of one test (tables, tree,
// code list, header record, bit queue, options) handed to the core, hand-
// built trees and code lists and an independent bit packer, on top of the
// shared test support (tests/support: streams, in-memory runs, checker).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/bit_queue.h"
#include "codec/codec_options.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"
#include "program_state.h"

using CodeTable = std::vector<std::pair<std::uint8_t, std::string>>;

// A temporary stream holding the data, at its start; null if none can be made.
inline std::FILE* StreamWith(const Bytes& data) {
    std::FILE* stream = TempStream();
    if (stream == nullptr) return nullptr;
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), stream);
    std::rewind(stream);
    return stream;
}

inline void CloseStream(std::FILE*& stream) {
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
}

inline Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The payload and final-bit count of a bit text, packed without the queue.
inline std::pair<Bytes, int> PackBitText(const std::string& bits) {
    Bytes packed((bits.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') packed[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    }
    return {packed, static_cast<int>(bits.size() % 8)};
}

inline std::string CodeTextOf(const CodeTable& codes, const Bytes& input) {
    std::string bits;
    for (std::uint8_t byte : input) {
        for (const auto& [symbol, code] : codes) {
            if (symbol == byte) bits += code;
        }
    }
    return bits;
}

// A prefix code for the symbols, made by splitting them at random points.
inline void AddRandomCodes(const Bytes& symbols, std::size_t first, std::size_t last,
                           const std::string& prefix, std::mt19937& random, CodeTable& codes) {
    if (first == last) {
        codes.emplace_back(symbols[first], prefix);
        return;
    }
    const std::size_t split = std::uniform_int_distribution<std::size_t>(first, last - 1)(random);
    AddRandomCodes(symbols, first, split, prefix + '0', random, codes);
    AddRandomCodes(symbols, split + 1, last, prefix + '1', random, codes);
}

inline CodeTable RandomCodes(const Bytes& symbols, unsigned seed) {
    std::mt19937 random(seed);
    CodeTable codes;
    AddRandomCodes(symbols, 0, symbols.size() - 1, "", random, codes);
    return codes;
}

// Codes 0, 10, 110, ... and a last one of all ones: the deepest tree there is.
inline CodeTable CombCodes(const Bytes& symbols) {
    CodeTable codes;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const std::string ones(i, '1');
        codes.emplace_back(symbols[i], i + 1 < symbols.size() ? ones + '0' : ones);
    }
    return codes;
}

inline Bytes RandomBytes(std::size_t length, unsigned seed, int distinct = 256) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, distinct - 1);
    Bytes data(length);
    for (auto& byte : data) byte = static_cast<std::uint8_t>(value(random));
    return data;
}

inline Bytes AllByteValues() {
    Bytes values(256);
    for (int i = 0; i < 256; ++i) values[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return values;
}

inline TreeNode* NewNode(TreeNode* parent) {
    TreeNode* node = new TreeNode;
    node->parent = parent;
    return node;
}

// The records of one test, fresh for each: what the program keeps in its
// globals, here the test's own, handed to the core by reference.
class CodingStateTest : public testing::Test {
protected:
    SymbolTable FrequencyTable = {};
    SymbolTable SavedFrequencies = {};
    CodeTree tree;
    TreeNode*& TreeRoot = tree.root;
    CodeEntry& CodeList = tree.codeList;
    HeaderRecord header;
    std::uint8_t queueStorage[50] = {};
    BitQueueRecord queue{queueStorage};
    CodecOptions options{.queue = &queue};
    std::FILE* SourceStream = nullptr;
    std::FILE* DataSink = nullptr;

    void SetUp() override { InitSymbols(FrequencyTable); }
    void TearDown() override {
        CloseStream(SourceStream);
        CloseStream(DataSink);
    }

    corvane_reader Source() const { return StreamReader(SourceStream); }
    corvane_writer Sink() const { return StreamWriter(DataSink); }

    // A new tree and code list in place of the old.
    void FreshTree() {
        FreeTree(TreeRoot);
        TreeRoot = nullptr;
        FreeCodeList(CodeList.next);
        CodeList.next = nullptr;
    }

    void SetCodeList(const CodeTable& codes) {
        CodeEntry* tail = &CodeList;
        while (tail->next != nullptr) tail = tail->next;
        for (const auto& [symbol, code] : codes) {
            tail->next = new CodeEntry{symbol, code, nullptr};
            tail = tail->next;
        }
    }

    // Builds TreeRoot with one leaf per entry at the place its code names.
    void SetTree(const CodeTable& codes) {
        FreeTree(TreeRoot);
        TreeRoot = NewNode(nullptr);
        for (const auto& [symbol, code] : codes) {
            TreeNode* node = TreeRoot;
            for (char bit : code) {
                TreeNode*& child = bit == '0' ? node->left : node->right;
                if (child == nullptr) child = NewNode(node);
                node = child;
            }
            node->symbol = symbol;
        }
    }

    void SetCountsOf(const Bytes& input) {
        for (auto& stat : SavedFrequencies) stat.count = 0;
        for (std::uint8_t byte : input) ++SavedFrequencies[byte].count;
    }

    // Counts the text into FrequencyTable, as CountBytes would.
    void CountText(const std::string& text) {
        for (unsigned char byte : text) ++FrequencyTable[byte].count;
    }

    corvane_result BuildTree(bool withCodes) {
        return ::BuildTree(FrequencyTable, TreeRoot, withCodes ? &CodeList : nullptr);
    }

    // The code list after its head, by symbol.
    std::map<int, std::string> CodeMap() const {
        std::map<int, std::string> codes;
        for (const CodeEntry* entry = CodeList.next; entry != nullptr; entry = entry->next) {
            codes[entry->symbol] = entry->code;
        }
        return codes;
    }
};
