#include "codec/decode_kernel.h"

#include <algorithm>

namespace {

// The code at the top of a table index: its symbol and length, or length 0
// where no code ends within LookupBits bits.
struct FirstCode {
    std::uint8_t symbol = 0;
    std::uint8_t length = 0;
};

// Fills the indices whose top bits are the path `code` of `depth` bits to
// the node. The root never counts as a leaf: even a lone root needs a bit.
void FillFirstCodes(FirstCode (&first)[LookupEntries], DecodingTable& table, const TreeNode* node,
                    unsigned depth, unsigned code) {
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
std::uint32_t EntryFor(const FirstCode (&first)[LookupEntries], unsigned index) {
    std::uint32_t entry = 0;
    unsigned used = 0;
    unsigned symbols = 0;
    while (symbols < MostSymbolsPerEntry) {
        const FirstCode code = first[(index << used) & (LookupEntries - 1)];
        if (code.length == 0 || used + code.length > LookupBits) break;
        entry |= std::uint32_t{code.symbol} << (8 + 8 * symbols);
        used += code.length;
        ++symbols;
    }
    return entry | symbols << EntryCountShift | used;
}

// One lookup: the entry's symbols at out and its bits skipped. An entry
// without symbols stores bytes that the next ones overwrite, and takes no
// bits, so that the lookups after it in a refill repeat it harmlessly.
inline void LookUp(const DecodingTable& table, BitReader& reader, std::uint8_t*& out, DecodeTally& tally) {
    const unsigned index = LookupIndex(reader.bits);
    const std::uint32_t entry = table.entries[index];
    ++tally.entryHits[index];
    StoreSymbols(out, entry);
    out += SymbolsIn(entry);
    SkipBits(reader, BitsOf(entry));
}

inline bool MayGoOn(const BitReader& reader, const std::uint8_t* out, const KernelCursor& cursor,
                    const std::uint8_t* bytes) {
    return PositionOf(reader, bytes) < cursor.limit && cursor.outEnd - out >= MostSymbolsPerRefill;
}

// Walks the code at the reader when the table has no entry for it and the
// reader may still decode one symbol.
inline bool WalkLongCode(const DecodingTable& table, const std::uint8_t* bytes, BitReader& reader,
                         std::uint8_t*& out, const KernelCursor& cursor, DecodeTally& tally) {
    const unsigned index = LookupIndex(reader.bits);
    std::uint64_t position = PositionOf(reader, bytes);
    if (SymbolsIn(table.entries[index]) != 0 || position >= cursor.limit || out >= cursor.outEnd) return true;
    if (!DecodeLongCode(table, bytes, position, index, *out)) return false;
    ++tally.walked[*out++];
    reader = ReadFrom(bytes, position);
    return true;
}

template <unsigned N>
bool DecodeInterleaved(const DecodingTable& table, const std::uint8_t* bytes, KernelCursor* cursors,
                       DecodeTally& tally) {
    BitReader readers[N];
    std::uint8_t* outs[N];
    for (unsigned k = 0; k < N; ++k) {
        readers[k] = ReadFrom(bytes, cursors[k].position);
        outs[k] = cursors[k].out;
    }
    bool inTree = true;
    while (inTree) {
        bool goOn = true;
        for (unsigned k = 0; k < N; ++k) goOn &= MayGoOn(readers[k], outs[k], cursors[k], bytes);
        if (!goOn) break;
        for (unsigned k = 0; k < N; ++k) Refill(readers[k]);
        for (unsigned step = 0; step < LookupsPerRefill; ++step) {
            for (unsigned k = 0; k < N; ++k) LookUp(table, readers[k], outs[k], tally);
        }
        for (unsigned k = 0; k < N; ++k)
            inTree &= WalkLongCode(table, bytes, readers[k], outs[k], cursors[k], tally);
    }
    for (unsigned k = 0; k < N; ++k) {
        cursors[k].position = PositionOf(readers[k], bytes);
        cursors[k].out = outs[k];
    }
    return inTree;
}

}  // namespace

void BuildDecodingTable(DecodingTable& table, const TreeNode* root) {
    table = DecodingTable{};
    table.root = root;
    table.longest = DeepestLeaf(root, 0);
    FirstCode first[LookupEntries];
    FillFirstCodes(first, table, root, 0, 0);
    for (unsigned index = 0; index < LookupEntries; ++index) {
        table.entries[index] = EntryFor(first, index);
        table.firstLengths[index] = first[index].length;
    }
}

bool DecodeLongCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position,
                    unsigned index, std::uint8_t& symbol) {
    const TreeNode* node = table.longCodes[index];
    if (node != nullptr) {
        position += LookupBits;
    } else {
        node = table.root;
    }
    while (true) {
        node = BitAt(bytes, position++) == 0 ? node->left : node->right;
        if (node == nullptr) return false;
        if (IsLeaf(node)) {
            symbol = node->symbol;
            return true;
        }
    }
}

std::uint8_t DecodeOneCode(const DecodingTable& table, const std::uint8_t* bytes, std::uint64_t& position) {
    const unsigned index = LookupIndex(PeekBits(bytes, position));
    const unsigned length = table.firstLengths[index];
    if (length == 0) {
        std::uint8_t symbol = 0;
        DecodeLongCode(table, bytes, position, index, symbol);  // every branch is there
        return symbol;
    }
    position += length;
    return static_cast<std::uint8_t>(SymbolBytesOf(table.entries[index]));
}

std::size_t FastReadAhead(const DecodingTable& table) {
    return KernelReadsPastLimit + (table.longest + 7) / 8;
}

void AddTallyTo(const DecodingTable& table, DecodeTally& tally, std::uint64_t (&counts)[256]) {
    for (unsigned index = 0; index < LookupEntries; ++index) {
        const std::uint32_t entry = table.entries[index];
        for (unsigned k = 0; k < SymbolsIn(entry); ++k) {
            counts[(SymbolBytesOf(entry) >> (8 * k)) & 0xFF] += tally.entryHits[index];
        }
    }
    for (int value = 0; value < 256; ++value) counts[value] += tally.walked[value] - tally.dropped[value];
    tally = DecodeTally{};
}

bool DecodeWithReaders(const DecodingTable& table, const std::uint8_t* bytes, KernelCursor* cursors,
                       unsigned count, DecodeTally& tally) {
    static_assert(MostKernelReaders == 8, "one case for each count of readers");
    switch (count) {
        case 1: return DecodeInterleaved<1>(table, bytes, cursors, tally);
        case 2: return DecodeInterleaved<2>(table, bytes, cursors, tally);
        case 3: return DecodeInterleaved<3>(table, bytes, cursors, tally);
        case 4: return DecodeInterleaved<4>(table, bytes, cursors, tally);
        case 5: return DecodeInterleaved<5>(table, bytes, cursors, tally);
        case 6: return DecodeInterleaved<6>(table, bytes, cursors, tally);
        case 7: return DecodeInterleaved<7>(table, bytes, cursors, tally);
        default: return DecodeInterleaved<8>(table, bytes, cursors, tally);
    }
}
