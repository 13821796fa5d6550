#pragma once
// The fast decoder's kernel: the decode table, whose entries give up to
// MostSymbolsPerEntry whole codes for the next LookupBits payload bits, and
// one loop that decodes with N bit readers at once, their lookups taken in
// turn so that the processor works on their chains side by side. The single
// lane is N = 1; the lanes (codec/decode_lanes.h) use up to MostDecodeLanes.
// A code longer than the table is walked through the tree between refills.
// What the loop decodes is tallied per entry, cheaply, and turned into value
// counts afterwards.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/bit_buffer.h"
#include "model/code_tree.h"

inline constexpr unsigned LookupBits = 12;
inline constexpr unsigned LookupEntries = 1u << LookupBits;

// An entry holds the number of bits its codes take in its bits 0 to 5, the
// number of codes in bits 6 and 7, and their symbols in the three bytes
// above, the first lowest. An entry without symbols takes no bits: it stands
// where the code starting there is longer than LookupBits (longCodes gives
// the node reached after them), or where the bits leave a hand-made tree
// that lacks a branch.
inline constexpr unsigned EntryCountShift = 6;
inline constexpr unsigned MostSymbolsPerEntry = 3;
static_assert(LookupBits < (1u << EntryCountShift), "an entry's bit count fits below its symbol count");
static_assert(MostSymbolsPerEntry <= 3 && MostSymbolsPerEntry < (1u << (8 - EntryCountShift)),
              "an entry's symbols fit the three bytes above its low byte");
static_assert(LookupBits <= LongestFastCode, "one peek holds a whole lookup wherever it starts in a byte");

// A refill leaves RefilledBits or more bits in a reader; each lookup takes at
// most LookupBits of them.
inline constexpr unsigned LookupsPerRefill = 4;
static_assert(LookupsPerRefill * LookupBits <= RefilledBits, "the lookups between refills have their bits");
// All 64 bits of a refilled buffer are payload bits: the index looked at
// after the lookups, for a code longer than the table, is among them too.
static_assert((LookupsPerRefill + 1) * LookupBits <= 64, "the index after a refill's lookups has its bits");
inline constexpr unsigned MostSymbolsPerRefill = LookupsPerRefill * MostSymbolsPerEntry;

// Symbols are stored one entry at a time, four bytes at once; the bytes
// beyond an entry's symbols are overwritten by the next ones, and the last
// store may reach this many bytes past the end it was given.
inline constexpr std::size_t KernelWritesPastEnd = sizeof(std::uint32_t) - 1;
static_assert(KernelWritesPastEnd + 1 >= MostSymbolsPerEntry, "one store holds an entry's symbols");

// Bytes a reader may load past the byte of the last bit it starts a lookup
// from: one load where it starts and one at its refill.
inline constexpr std::size_t KernelReadsPastLimit = 2 * sizeof(std::uint64_t);

struct DecodingTable {
    std::uint32_t entries[LookupEntries] = {};
    std::uint8_t firstLengths[LookupEntries] = {};  // of each entry's first code; 0 if longer
    const TreeNode* longCodes[LookupEntries] = {};
    const TreeNode* root = nullptr;
    unsigned longest = 0;  // the depth of the deepest leaf
};

void BuildDecodingTable(DecodingTable& table, const TreeNode* root);

inline unsigned BitsOf(std::uint32_t entry) { return entry & ((1u << EntryCountShift) - 1); }
inline unsigned SymbolsIn(std::uint32_t entry) { return (entry & 0xFF) >> EntryCountShift; }
inline std::uint32_t SymbolBytesOf(std::uint32_t entry) { return entry >> 8; }

// The entry's symbols at out, in one store of four bytes.
inline void StoreSymbols(std::uint8_t* out, std::uint32_t entry) {
    const std::uint32_t symbols = SymbolBytesOf(entry);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &symbols, sizeof symbols);
    } else {
        for (unsigned k = 0; k < MostSymbolsPerEntry; ++k)
            out[k] = static_cast<std::uint8_t>(symbols >> (8 * k));
    }
}

inline bool IsLeaf(const TreeNode* node) { return node->left == nullptr && node->right == nullptr; }

// The table index of the LookupBits bits at the top of a word.
inline unsigned LookupIndex(std::uint64_t bits) { return static_cast<unsigned>(bits >> (64 - LookupBits)); }

// The bytes the kernel may read past limit / 8 when it decodes up to bit
// `limit`: its loads and the walk of the longest code.
std::size_t FastReadAhead(const DecodingTable& table);

// Decodes the one code that starts at bit `position`, where the table entry
// `index` has no symbols, by walking the tree bit by bit; moves position past
// it. False where a branch is missing from the tree ("wrong tree.").
bool DecodeLongCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                    unsigned index, std::uint8_t& symbol);

// The one code at `position`, on a tree with every branch; moves position past it.
std::uint8_t DecodeOneCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position);

// What the kernel decoded, tallied cheaply: how often it used each table
// entry, the values it decoded one code at a time, and the values decoded but
// then dropped (a lane's output before it joins the lane before it). An
// entry's uses must be added to counts before they reach 2^32; entries
// without symbols count nothing.
struct DecodeTally {
    std::uint32_t entryHits[LookupEntries] = {};
    std::uint64_t walked[256] = {};
    std::uint64_t dropped[256] = {};
};

// Adds the tallied values to counts (by byte value) and empties the tally.
void AddTallyTo(const DecodingTable& table, DecodeTally& tally, std::uint64_t (&counts)[256]);

// One bit reader's part: it decodes whole codes from bit `position` into
// `out` while position is below `limit` and MostSymbolsPerRefill more
// symbols fit before outEnd.
struct KernelCursor {
    std::uint64_t position = 0;
    std::uint64_t limit = 0;
    std::uint8_t* out = nullptr;
    const std::uint8_t* outEnd = nullptr;
};

// Decodes with `count` readers (1 to MostKernelReaders) at once, as long as
// every one of them may go on, and tallies what they decode. Each cursor is
// left where its reader stopped. False where the bits leave the tree ("wrong
// tree."). Reads up to FastReadAhead(table) bytes past each limit / 8 and
// writes up to KernelWritesPastEnd bytes past each outEnd.
inline constexpr unsigned MostKernelReaders = 8;
bool DecodeWithReaders(const DecodingTable& table, const std::uint8_t* bytes, KernelCursor* cursors,
                       unsigned count, DecodeTally& tally);
