#pragma once
// The fast encoder's code table, made once per run: each byte value's code
// as bits and a length, taken from the code list, so exactly the codes of
// the tree, every tie rule included. (The decode table is the decode
// kernel's, codec/decode_kernel.h.)
//
// How long a code can be: every stored count is below 2^32 and at most 256
// values occur, so the counts add up to less than 2^40, which is below the
// Fibonacci number F(60). A code of length d needs a total of at least
// F(d + 2), so no code of a built tree is longer than 57 bits
// (LongestFastCode, codec/bit_buffer.h), which fit the 64-bit writer beside
// the 7 bits of an unfinished byte. Longer codes come only from hand-made code lists and trees; they take a
// slower, guarded path.
#include <cstdint>
#include <string>

#include "codec/bit_buffer.h"
#include "model/code_tree.h"

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

// Each value's code is that of its first entry in the code list with a code.
void BuildEncodingTable(EncodingTable& table, const CodeEntry& codeList);
