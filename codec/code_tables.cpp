#include "codec/code_tables.h"

#include <algorithm>

#include "codec/bit_buffer.h"

std::uint64_t LeftAlignedBits(const std::string& text) {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < text.size() && k < 64; ++k) {
        if (text[k] != '0') bits |= std::uint64_t{1} << (63 - k);
    }
    return bits;
}

void BuildEncodingTable(EncodingTable& table, const CodeEntry& codeList) {
    table = EncodingTable{};
    for (const CodeEntry* entry = &codeList; entry != nullptr; entry = entry->next) {
        const std::uint8_t value = entry->symbol;
        if (entry->code.empty() || table.lengths[value] != 0) continue;
        const auto length = static_cast<unsigned>(entry->code.size());
        table.codes[value] = LeftAlignedBits(entry->code);
        table.lengths[value] = length;
        table.texts[value] = &entry->code;
        table.longest = std::max(table.longest, length);
    }
}
