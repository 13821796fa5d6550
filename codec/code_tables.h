#pragma once
// The fast path's code tables, made once per run: the encode table holds
// each byte value's code as bits and a length, taken from the code list; the
// decode table looks LookupBits payload bits up at once, made from the tree.
// Both give exactly the codes of the tree, every tie rule included.
//
// How long a code can be: every stored count is below 2^32 and at most 256
// values occur, so the counts add up to less than 2^40, which is below the
// Fibonacci number F(60). A code of length d needs a total of at least
// F(d + 2), so no code of a built tree is longer than 57 bits, and 57 code
// bits plus the 7 bits of an unfinished byte fit the 64-bit writer. Longer
// codes come only from hand-made code lists and trees; they take a slower,
// guarded path.
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "model/code_tree.h"

inline constexpr unsigned LongestFastCode = 57;

// Each value's code at the top of a word, with zeros below it, and its
// length; a length of 0 means the value has no code. A code longer than 64
// bits, which only the guarded path encodes, from its text, has no word.
struct EncodingTable {
    std::uint64_t codes[256] = {};
    unsigned lengths[256] = {};
    const std::string* texts[256] = {};
    unsigned longest = 0;
};

// The code of a code text, at the top of a word; at most 64 bits of it.
std::uint64_t LeftAlignedBits(const std::string& text);

// Each value's code is that of its first entry in CodeList with a code.
void BuildEncodingTable(EncodingTable& table);

inline constexpr unsigned LookupBits = 12;
inline constexpr unsigned MostSymbolsPerEntry = 3;

// An entry holds the number of bits its codes take in its bits 0 to 5, the
// number of codes (up to three) in bits 6 and 7, and their symbols in the
// three bytes above, the first lowest. Bits and count share the low byte so
// that a shift by the entry itself moves a window past its codes. An entry
// without symbols stands where the code starting there is longer than
// LookupBits (longCodes gives the node reached after them), or where the
// bits leave a hand-made tree that lacks a branch.
struct DecodingTable {
    std::uint32_t entries[1u << LookupBits] = {};
    std::uint8_t firstLengths[1u << LookupBits] = {};  // of each entry's first code; 0 if longer
    const TreeNode* longCodes[1u << LookupBits] = {};
    const TreeNode* root = nullptr;
    unsigned longest = 0;  // the depth of the deepest leaf
};

void BuildDecodingTable(DecodingTable& table, const TreeNode* root);

inline unsigned BitsOf(std::uint32_t entry) { return entry & 63; }
inline unsigned SymbolsIn(std::uint32_t entry) { return (entry >> 6) & 3; }
inline std::uint32_t SymbolBytesOf(std::uint32_t entry) { return entry >> 8; }

// The entry's symbols at out: one store of four bytes, the last of which
// the next symbols overwrite.
inline void StoreSymbols(std::uint8_t* out, std::uint32_t entry) {
    const std::uint32_t symbols = SymbolBytesOf(entry);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &symbols, 4);
    } else {
        for (unsigned k = 0; k < MostSymbolsPerEntry; ++k)
            out[k] = static_cast<std::uint8_t>(symbols >> (8 * k));
    }
}

inline bool IsLeaf(const TreeNode* node) { return node->left == nullptr && node->right == nullptr; }

// Decodes the one code that starts at bit `position`, where the table entry
// `index` has no symbols, by walking the tree bit by bit; moves position past
// it. A branch missing from the tree is fatal: "wrong tree.".
std::uint8_t DecodeLongCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                            unsigned index);
