#include "format_check.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <vector>

namespace {

using Counts = std::uint64_t[256];

// The fewest code bits any prefix code can spend on these counts; a Huffman
// tree, whatever its tie rules, spends exactly that many.
std::uint64_t OptimalBits(const Counts& counts) {
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> weights;
    for (std::uint64_t count : counts) {
        if (count != 0) weights.push(count);
    }
    std::uint64_t bits = 0;
    while (weights.size() > 1) {
        const std::uint64_t first = weights.top();
        weights.pop();
        const std::uint64_t second = weights.top();
        weights.pop();
        bits += first + second;
        weights.push(first + second);
    }
    return bits;
}

void AppendCount(Bytes& table, std::uint64_t count, int width) {
    for (int k = 0; k <= width; ++k) table.push_back(static_cast<std::uint8_t>(count >> (8 * k)));
}

struct Table {
    int mode = 0;
    Bytes bytes;
};

// The three encodings, and the shortest by the tie order full, sparse, runs.
Table ExpectedTable(const Counts& counts, int width) {
    Bytes full, sparse, runs;
    for (int s = 0; s < 256; ++s) {
        AppendCount(full, counts[s], width);
        if (counts[s] == 0) continue;
        sparse.push_back(static_cast<std::uint8_t>(s));
        AppendCount(sparse, counts[s], width);
        if (s == 0 || counts[s - 1] == 0) runs.push_back(static_cast<std::uint8_t>(s));
        AppendCount(runs, counts[s], width);
        if (s == 255 || counts[s + 1] == 0) AppendCount(runs, 0, width);
    }
    if (full.size() <= sparse.size() && full.size() <= runs.size()) return {0, full};
    if (sparse.size() <= runs.size()) return {1, sparse};
    return {2, runs};
}

std::uint64_t CountAt(const Bytes& file, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int k = 0; k <= width; ++k) value |= std::uint64_t{file[at + k]} << (8 * k);
    return value;
}

// Reads the table of one mode into the counts; false when it is malformed.
bool ReadTable(const Bytes& file, std::size_t p, std::size_t end, int mode, int width, Counts& counts) {
    const std::size_t b = static_cast<std::size_t>(width) + 1;
    const std::size_t length = end - p;
    if (mode == 0) {
        if (length != 256 * b) return false;
        for (std::size_t s = 0; s < 256; ++s) counts[s] = CountAt(file, p + s * b, width);
    } else if (mode == 1) {
        if (length % (b + 1) != 0) return false;
        for (; p < end; p += b + 1) counts[file[p]] = CountAt(file, p + 1, width);
    } else if (mode == 2) {
        bool stored = false;
        while (p < end) {
            int s = file[p++];
            while (!(s == 0 && stored)) {
                if (end - p < b) return false;
                const std::uint64_t count = CountAt(file, p, width);
                p += b;
                if (count == 0) break;
                counts[s] = count;
                stored = true;
                s = (s + 1) % 256;
            }
        }
    }
    return true;
}

}  // namespace

std::optional<StoredTable> ParseStoredTable(const Bytes& file) {
    if (file.size() < 2) return std::nullopt;
    const int width = (file[0] >> 4) & 3, mode = file[0] >> 6;
    std::size_t p = 1;
    std::size_t length = file[p++];
    if (width != 0) {
        if (file.size() < 3) return std::nullopt;
        length |= std::size_t{file[p++]} << 8;
    }
    if (length == 0) length = 256;
    if (file[0] & 8) ++p;
    if (file.size() < p + length) return std::nullopt;
    StoredTable table;
    if (!ReadTable(file, p, p + length, mode, width, table.counts)) return std::nullopt;
    for (std::uint64_t count : table.counts) table.total += count;
    table.headerLength = p + length;
    return table;
}

std::string CheckWrittenFile(const Bytes& input, const Bytes& file) {
    Counts counts{};
    for (std::uint8_t byte : input) ++counts[byte];
    const std::uint64_t largest = *std::max_element(std::begin(counts), std::end(counts));
    const int width = largest <= 0xFF ? 0 : largest <= 0xFFFF ? 1 : 3;
    const Table table = ExpectedTable(counts, width);
    const std::uint64_t bits = OptimalBits(counts);
    Bytes expected{static_cast<std::uint8_t>(bits % 8 + 16 * width + 64 * table.mode),
                   static_cast<std::uint8_t>(table.bytes.size() & 0xFF)};
    if (width != 0) expected.push_back(static_cast<std::uint8_t>(table.bytes.size() >> 8));
    expected.insert(expected.end(), table.bytes.begin(), table.bytes.end());
    const std::size_t payload = static_cast<std::size_t>((bits + 7) / 8);
    if (file.size() != expected.size() + payload) return "file size is not header + table + ceil(bits/8)";
    if (!std::equal(expected.begin(), expected.end(), file.begin())) return "header or table differs";
    const unsigned unused = bits % 8 == 0 ? 0 : (1u << (8 - bits % 8)) - 1;
    if ((file.back() & unused) != 0) return "unused bits of the last byte are not zero";
    return "";
}

std::string CheckFaithfulDecoding(const Bytes& file, const Bytes& output) {
    const std::optional<StoredTable> table = ParseStoredTable(file);
    if (!table) return "accepted a malformed table";
    if (output.size() != table->total) return "decoded length differs from the stored total";
    std::uint64_t counts[256] = {};
    for (std::uint8_t byte : output) ++counts[byte];
    if (!std::equal(std::begin(counts), std::end(counts), std::begin(table->counts)))
        return "a byte value was decoded other than its stored count of times";
    return "";
}
