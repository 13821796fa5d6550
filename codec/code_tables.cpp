#include "codec/code_tables.h"

#include <algorithm>

#include "codec/bit_buffer.h"
#include "io/shared_io.h"

namespace {

constexpr unsigned TableSize = 1u << LookupBits;

// The code at the top of a table index: its symbol and length, or length 0
// where no code ends within LookupBits bits.
struct FirstCode {
    std::uint8_t symbol = 0;
    std::uint8_t length = 0;
};

// Fills the indices whose top bits are the path `code` of `depth` bits to
// the node. The root never counts as a leaf: even a lone root needs a bit.
void FillFirstCodes(FirstCode (&first)[TableSize], DecodingTable& table, const TreeNode* node, unsigned depth,
                    unsigned code) {
    if (node == nullptr) return;
    if (depth > 0 && IsLeaf(node)) {
        const unsigned spread = LookupBits - depth;
        for (unsigned index = code << spread; index < (code + 1) << spread; ++index) {
            first[index] = {node->symbol, static_cast<std::uint8_t>(depth)};
        }
    } else if (depth == LookupBits) {
        table.longCodes[code] = node;
    } else {
        FillFirstCodes(first, table, node->left, depth + 1, code << 1);
        FillFirstCodes(first, table, node->right, depth + 1, code << 1 | 1);
    }
}

unsigned DeepestLeaf(const TreeNode* node, unsigned depth) {
    if (node == nullptr) return 0;
    if (IsLeaf(node)) return depth;
    return std::max(DeepestLeaf(node->left, depth + 1), DeepestLeaf(node->right, depth + 1));
}

// Up to MostSymbolsPerEntry whole codes from the top of the index on; the
// bits below the index, shifted in as zeros, never complete a code.
std::uint32_t EntryFor(const FirstCode (&first)[TableSize], unsigned index) {
    std::uint32_t entry = 0;
    unsigned used = 0;
    unsigned symbols = 0;
    while (symbols < MostSymbolsPerEntry) {
        const FirstCode code = first[(index << used) & (TableSize - 1)];
        if (code.length == 0 || used + code.length > LookupBits) break;
        entry |= std::uint32_t{code.symbol} << (8 + 8 * symbols);
        used += code.length;
        ++symbols;
    }
    return entry | symbols << 6 | used;
}

}  // namespace

std::uint64_t LeftAlignedBits(const std::string& text) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < text.size() && k < 64; ++k) {
        if (text[k] != '0') bits |= std::uint64_t{1} << (63 - k);
    }
    return bits;
}

void BuildEncodingTable(EncodingTable& table) {
    table = EncodingTable{};
    for (const CodeEntry* entry = &CodeList; entry != nullptr; entry = entry->next) {
        const std::uint8_t value = entry->symbol;
        if (entry->code.empty() || table.lengths[value] != 0) continue;
        const auto length = static_cast<unsigned>(entry->code.size());
        table.codes[value] = LeftAlignedBits(entry->code);
        table.lengths[value] = length;
        table.texts[value] = &entry->code;
        table.longest = std::max(table.longest, length);
    }
}

void BuildDecodingTable(DecodingTable& table, const TreeNode* root) {
    table = DecodingTable{};
    table.root = root;
    table.longest = DeepestLeaf(root, 0);
    FirstCode first[TableSize];
    FillFirstCodes(first, table, root, 0, 0);
    for (unsigned index = 0; index < TableSize; ++index) {
        table.entries[index] = EntryFor(first, index);
        table.firstLengths[index] = first[index].length;
    }
}

std::uint8_t DecodeLongCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                            unsigned index) {
    const TreeNode* node = table.longCodes[index];
    if (node != nullptr) {
        position += LookupBits;
    } else {
        node = table.root;
    }
    while (true) {
        node = BitAt(bytes, position++) == 0 ? node->left : node->right;
        if (node == nullptr) Fatal("wrong tree.");
        if (IsLeaf(node)) return node->symbol;
    }
}
