// The round trip: bytes are compressed with the program's own writer into
// memory, the compressed file is checked against the format's rules, worked
// out here independently, and extracted again, which must give the bytes back.
//
// An input starting with "RUN" stands for runs: each pair of bytes after it
// (value, n) is the value repeated 300 * (n + 1) times, so that counts above
// 255 and 65,535 (wider stored counts) are reached from short inputs.
#include <cstring>
#include <functional>
#include <queue>
#include <string>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "fuzz_support.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

constexpr std::size_t RunUnit = 300;
constexpr std::size_t LargestExpansion = 150000;

using Counts = std::uint64_t[256];

Bytes InputFrom(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || std::memcmp(data, "RUN", 3) != 0) return Bytes(data, data + size);
    Bytes input;
    for (std::size_t i = 3; i + 1 < size; i += 2) {
        const std::size_t length = RunUnit * (data[i + 1] + 1u);
        if (input.size() + length > LargestExpansion) break;
        input.insert(input.end(), length, data[i]);
    }
    return input;
}

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
    if (full.size() <= sparse.size() && full.size() <= runs.size()) return {FullTable, full};
    if (sparse.size() <= runs.size()) return {SparseTable, sparse};
    return {RunsTable, runs};
}

void CheckFormat(const Bytes& file, const Counts& counts, int finalBitCount) {
    std::uint64_t largest = 0;
    for (std::uint64_t count : counts) largest = count > largest ? count : largest;
    const int width = largest <= 0xFF ? 0 : largest <= 0xFFFF ? 1 : 3;
    const Table table = ExpectedTable(counts, width);
    const std::uint64_t bits = OptimalBits(counts);

    FUZZ_CHECK(static_cast<std::uint64_t>(finalBitCount) == bits % 8, "final-bit count is not bits mod 8");
    Bytes expected{static_cast<std::uint8_t>(bits % 8 + 16 * width + 64 * table.mode),
                   static_cast<std::uint8_t>(table.bytes.size() & 0xFF)};
    if (width != 0) expected.push_back(static_cast<std::uint8_t>(table.bytes.size() >> 8));
    expected.insert(expected.end(), table.bytes.begin(), table.bytes.end());
    const std::size_t payload = static_cast<std::size_t>((bits + 7) / 8);
    FUZZ_CHECK(file.size() == expected.size() + payload, "file size is not header + table + ceil(bits/8)");
    FUZZ_CHECK(std::equal(expected.begin(), expected.end(), file.begin()), "header or table differs");
    if (bits % 8 != 0) {
        const unsigned unused = (1u << (8 - bits % 8)) - 1;
        FUZZ_CHECK((file.back() & unused) == 0, "unused bits of the last byte are not zero");
    }
}

struct Compression {
    bool completed = false;
    std::string message;
    Bytes file;
    int finalBitCount = 0;
};

Compression Compress(const Bytes& input, std::int32_t chunkSize) {
    ResetProgramState();
    MemorySink payload, header;
    SourceStream = ReadStreamOver(input);
    DataSink = OpenSink(payload);
    HeaderSink = OpenSink(header);
    Compression result;
    try {
        CountBytes();
        SnapshotCounts();
        std::rewind(SourceStream);
        BuildTree(true);
        result.finalBitCount = EncodePayload(chunkSize);
        WriteHeader(result.finalBitCount);
        WriteTable();
        result.completed = true;
    } catch (const FatalStop& stop) {
        result.message = stop.message;
    }
    DataSink = HeaderSink = nullptr;
    result.file = SinkBytes(header);
    const Bytes packed = SinkBytes(payload);
    result.file.insert(result.file.end(), packed.begin(), packed.end());
    FreeSink(header);
    FreeSink(payload);
    ResetProgramState();
    return result;
}

void WriteToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }

Bytes ExtractOrFind(const Bytes& file, std::int32_t chunkSize) {
    ResetProgramState();
    MemorySink sink;
    SourceStream = ReadStreamOver(file);
    DataSink = OpenSink(sink);
    try {
        ReadHeader();
        DecodePayload(WriteToDataSink, chunkSize);
    } catch (const FatalStop& stop) {
        Finding("a file of our own writer was refused: " + stop.message);
    }
    DataSink = nullptr;
    const Bytes output = SinkBytes(sink);
    FreeSink(sink);
    ResetProgramState();
    return output;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input = InputFrom(data, size);
    Counts counts{};
    int distinct = 0;
    for (std::uint8_t byte : input) distinct += counts[byte]++ == 0 ? 1 : 0;

    const Compression packed = Compress(input, static_cast<std::int32_t>(1 + size % 29));
    if (distinct < 2) {
        FUZZ_CHECK(!packed.completed && packed.message == "only one character OR no character.",
                   "fewer than two byte values were not refused");
        return 0;
    }
    FUZZ_CHECK(packed.completed, "compression refused: " + packed.message);
    CheckFormat(packed.file, counts, packed.finalBitCount);
    const Bytes restored = ExtractOrFind(packed.file, static_cast<std::int32_t>(1 + (size / 7) % 31));
    FUZZ_CHECK(restored == input, "extraction did not give the input back");
    return 0;
}
