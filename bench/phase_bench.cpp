// Times the coding kernels in memory on each file named, each beside its
// plain loop (bench/plain_loops.c), zlib's Huffman-only deflate and memcpy,
// all in each of several turns, and prints a table row a file: GB/s of the
// original in processor time of the thread (medians over the turns) and the kernel's speed over its plain
// loop's (the median of the turns' ratios). The group size and the cost of
// the encoder's count go to standard error. Every output is checked against
// the plain loop's; a difference fails the run. bench/run --memory runs it.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codec/code_tables.h"
#include "codec/decode_kernel.h"
#include "codec/decode_lanes.h"
#include "codec/decoder.h"
#include "codec/encode_kernel.h"
#include "codec/encoder.h"
#include "model/code_tree.h"
#include "model/count_kernel.h"
#include "model/frequency_table.h"
#include "plain_loops.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t Slack = 64;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "phase_bench: %s\n", what.c_str());
    std::exit(1);
}

// The processor time of this thread, so that time spent waiting while the
// other processes on a shared machine run does not count.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// The codes the program gives the file, as left-aligned words and lengths.
struct FileCodes {
    std::uint64_t counts[256] = {};
    std::uint64_t codes[256] = {};
    std::uint8_t lengths[256] = {};
    CodeWords words = {};
    unsigned longest = 0;
};

// The tree and code list the program makes for the file.
struct FileTree {
    TreeNode* root = nullptr;
    CodeEntry codeList;
    ~FileTree() {
        FreeTree(root);
        FreeCodeList(codeList.next);
    }
};

void MakeCodes(const Bytes& data, FileCodes& file, FileTree& tree) {
    AddByteCounts(file.counts, data.data(), data.size());
    SymbolTable counts;
    InitSymbols(counts);
    for (int value = 0; value < 256; ++value) counts[value].count = file.counts[value];
    if (BuildTree(counts, tree.root, &tree.codeList) != CORVANE_OK) Fail("fewer than two byte values");
    EncodingTable codes;
    BuildEncodingTable(codes, tree.codeList);
    if (codes.longest > LongestWordCode) Fail("codes too long for the bench");
    for (int value = 0; value < 256; ++value) {
        file.codes[value] = codes.codes[value];
        file.lengths[value] = static_cast<std::uint8_t>(codes.lengths[value]);
    }
    file.longest = codes.longest;
    MakeCodeWords(file.words, codes.codes, codes.lengths);
}

// One reader of the decode kernel over bits [0, bits) into out; the
// symbols it decoded.
std::size_t DecodeOneLane(const DecodingTable& table, const Bytes& payload, std::uint64_t bits, Bytes& out,
                          DecodeTally& tally) {
    KernelCursor cursor{
        .position = 0, .limit = bits, .out = out.data(), .outEnd = out.data() + out.size() - 64};
    if (!DecodeWithReaders(table, payload.data(), &cursor, 1, tally)) Fail("wrong tree");
    tally = DecodeTally{};
    return static_cast<std::size_t>(cursor.out - out.data());
}

// One loop timed in every turn, and the loop it is held against.
struct Measured {
    std::string key, against;
    std::function<void()> work;
    std::vector<double> speeds = {};  // GB/s of the original, one a turn
    std::vector<double> ratios = {};  // to `against` in the same turn
};

// The payload in stretches of lanes as the decoder takes them, each
// stretch's output copied on; the rest in one lane. Returns the symbols
// decoded.
std::size_t DecodeWithLanes(const DecodingTable& table, const Bytes& payload, std::uint64_t bits,
                            Bytes& out) {
    static LaneSet lanes;
    static DecodeTally tally;
    static const CodecOptions options;
    if (lanes.lanes.empty()) PrepareLanes(lanes, options);
    std::uint64_t position = 0;
    std::size_t produced = 0;
    const std::uint64_t stretch = 8 * std::uint64_t{options.laneStretchBytes};
    while (position + stretch <= bits) {
        DecodeInLanes(lanes, table, payload.data(), position, position + stretch, tally);
        for (const DecodeLane& lane : lanes.lanes) {
            const std::size_t length = static_cast<std::size_t>(lane.out - lane.buffer.get()) - lane.from;
            std::memcpy(out.data() + produced, lane.buffer.get() + lane.from, length);
            produced += length;
        }
    }
    KernelCursor cursor{.position = position,
                        .limit = bits,
                        .out = out.data() + produced,
                        .outEnd = out.data() + out.size() - 64};
    if (!DecodeWithReaders(table, payload.data(), &cursor, 1, tally)) Fail("wrong tree");
    tally = DecodeTally{};
    return static_cast<std::size_t>(cursor.out - out.data());
}

// Reads the file from the page cache in blocks of 256 KiB, as the program
// does; the bytes read.
std::size_t ReadThrough(const char* path, Bytes& block) {
    const int file = open(path, O_RDONLY);
    if (file < 0) Fail(std::string("cannot read ") + path);
    std::size_t total = 0;
    while (const ssize_t got = read(file, block.data(), block.size())) {
        if (got < 0) Fail(std::string("cannot read ") + path);
        total += static_cast<std::size_t>(got);
    }
    close(file);
    return total;
}

Bytes ReadFile(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) Fail(std::string("cannot read ") + path);
    return Bytes(std::istreambuf_iterator<char>(stream), {});
}

void BenchFile(const char* path, int turns) {
    const Bytes data = ReadFile(path);
    const std::size_t size = data.size();
    FileCodes file;
    FileTree tree;
    MakeCodes(data, file, tree);
    const unsigned perStore = plain_codes_per_store(file.longest);
    const unsigned groupSize = ChooseGroupSize(file.words, file.counts);

    std::uint64_t payloadBits = 0;
    for (int value = 0; value < 256; ++value) payloadBits += file.counts[value] * file.lengths[value];
    const std::size_t outSize =
        std::max<std::size_t>(static_cast<std::size_t>(payloadBits / 8), size) + Slack;
    Bytes plainOut(outSize), kernelOut(outSize);
    std::uint64_t plainBits = 0, kernelBits = 0;
    std::uint64_t sink = 0;
    auto plainEncode = [&](std::uint32_t* counts) {
        plainBits =
            plain_encode(data.data(), size, file.codes, file.lengths, perStore, counts, plainOut.data());
    };
    auto kernelEncode = [&](PlaceCounts* counts) {
        BitWriter writer{0, 0, kernelOut.data()};
        sink += !EncodeBytes(writer, data.data(), size, file.words, groupSize, counts);
        FlushWholeBytes(writer);
        kernelBits = static_cast<std::uint64_t>(writer.out - kernelOut.data()) * 8 + writer.count;
    };
    plainEncode(nullptr);
    kernelEncode(nullptr);
    const std::size_t payloadBytes = (plainBits + 7) / 8;
    if (plainBits != kernelBits || std::memcmp(plainOut.data(), kernelOut.data(), payloadBytes) != 0)
        Fail("the encode kernel and the plain encoder differ");
    Bytes payload(plainOut.begin(), plainOut.begin() + static_cast<long>(payloadBytes));
    payload.resize(payloadBytes + Slack);

    auto table = std::make_unique<DecodingTable>();
    BuildDecodingTable(*table, tree.root);
    plain_decoder decoder;
    if (plain_decoder_init(&decoder, table->entries, LookupBits, file.codes, file.lengths) != 0)
        Fail("out of memory");
    std::uint64_t half = 0;
    for (std::size_t k = 0; k < size / 2; ++k) half += file.lengths[data[k]];
    auto tally = std::make_unique<DecodeTally>();
    Bytes decoded(size + Slack);
    std::size_t kernelDecoded = 0;

    std::vector<std::uint8_t> deflated(compressBound(size) + Slack);
    uLongf deflatedSize = 0;
    auto deflateHuffman = [&] {
        z_stream stream{};
        if (deflateInit2(&stream, 1, Z_DEFLATED, 15, 8, Z_HUFFMAN_ONLY) != Z_OK) Fail("deflateInit2");
        stream.next_in = const_cast<Bytef*>(data.data());
        stream.avail_in = static_cast<uInt>(size);
        stream.next_out = deflated.data();
        stream.avail_out = static_cast<uInt>(deflated.size());
        if (deflate(&stream, Z_FINISH) != Z_STREAM_END) Fail("deflate");
        deflatedSize = stream.total_out;
        deflateEnd(&stream);
    };
    deflateHuffman();

    Bytes block(std::size_t{1} << 18);
    std::vector<Measured> all = {
        {"count plain", "",
         [&] {
             std::uint32_t counts[4][256] = {};
             plain_count(data.data(), size, counts);
             sink += counts[0][1];
         }},
        {"count", "count plain",
         [&] {
             std::uint64_t counts[256] = {};
             AddByteCounts(counts, data.data(), size);
             sink += counts[1];
         }},
        {"encode plain", "", [&] { plainEncode(nullptr); }},
        {"encode plain counting", "encode plain",
         [&] {
             std::uint32_t counts[256] = {};
             plainEncode(counts);
             sink += counts[1];
         }},
        {"encode unchecked", "encode plain", [&] { kernelEncode(nullptr); }},
        {"encode", "encode plain",
         [&] {
             PlaceCounts counts = {};
             kernelEncode(&counts);
             sink += counts[0][1];
         }},
        {"decode plain", "", [&] { plain_decode(&decoder, payload.data(), decoded.data(), size); }},
        {"decode plain two", "decode plain",
         [&] { plain_decode2(&decoder, payload.data(), decoded.data(), size, size / 2, half); }},
        {"decode one lane", "decode plain",
         [&] { kernelDecoded = DecodeOneLane(*table, payload, plainBits, decoded, *tally); }},
        {"decode lanes", "decode plain two",
         [&] { kernelDecoded = DecodeWithLanes(*table, payload, plainBits, decoded); }},
        {"deflate", "", deflateHuffman},
        {"inflate", "",
         [&] {
             uLongf length = static_cast<uLongf>(decoded.size());
             if (uncompress(decoded.data(), &length, deflated.data(), deflatedSize) != Z_OK) Fail("inflate");
         }},
        {"memcpy", "", [&] { std::memcpy(kernelOut.data(), data.data(), size); }},
        {"read", "", [&] { sink += ReadThrough(path, block); }},
    };
    for (int turn = 0; turn < turns; ++turn) {
        std::map<std::string, double> speeds;
        for (Measured& measured : all) {
            double best = 1e30;
            for (int pass = 0; pass < 3; ++pass) best = std::min(best, Seconds(measured.work));
            const double speed = static_cast<double>(size) / best / 1e9;
            measured.speeds.push_back(speed);
            speeds[measured.key] = speed;
            if (!measured.against.empty()) measured.ratios.push_back(speed / speeds[measured.against]);
        }
    }
    plain_decode(&decoder, payload.data(), decoded.data(), size);
    if (!std::equal(data.begin(), data.end(), decoded.begin())) Fail("the plain decoder differs");
    plain_decode2(&decoder, payload.data(), decoded.data(), size, size / 2, half);
    if (!std::equal(data.begin(), data.end(), decoded.begin())) Fail("the two-reader decoder differs");
    kernelDecoded = DecodeOneLane(*table, payload, plainBits, decoded, *tally);
    if (!std::equal(data.begin(), data.begin() + static_cast<long>(kernelDecoded), decoded.begin()) ||
        kernelDecoded + 2 * MostSymbolsPerRefill < size)
        Fail("the decode kernel differs");
    kernelDecoded = DecodeWithLanes(*table, payload, plainBits, decoded);
    if (!std::equal(data.begin(), data.begin() + static_cast<long>(kernelDecoded), decoded.begin()) ||
        kernelDecoded + 2 * MostSymbolsPerRefill < size)
        Fail("the lanes differ");
    plain_decoder_free(&decoder);

    const char* name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    std::map<std::string, const Measured*> byKey;
    for (const Measured& measured : all) byKey[measured.key] = &measured;
    auto speed = [&](const std::string& key) { return Median(byKey[key]->speeds); };
    auto beside = [&](const std::string& key) {
        char cell[64];
        std::snprintf(cell, sizeof cell, "%.2f / %.2f (%.2f)", speed(key), speed(byKey[key]->against),
                      Median(byKey[key]->ratios));
        return std::string(cell);
    };
    std::printf("| %s | %s | %s | %s | %s | %s | %.3f / %.3f | %.1f | %.1f |\n", name,
                beside("count").c_str(), beside("encode").c_str(), beside("decode one lane").c_str(),
                beside("decode lanes").c_str(), beside("decode plain two").c_str(), speed("deflate"),
                speed("inflate"), speed("memcpy"), speed("read"));
    std::fprintf(
        stderr,
        "%s: longest code %u, plain %u codes a store, corvane groups of %u; encode without the count "
        "%s, plain with a count %s\n",
        name, file.longest, perStore, groupSize, beside("encode unchecked").c_str(),
        beside("encode plain counting").c_str());
    std::fflush(stdout);
    if (sink == 42) std::puts("");
}

}  // namespace

int main(int argc, char** argv) {
    int turns = 5;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--turns") == 0) {
        turns = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) Fail("usage: phase_bench [--turns N] FILE...");
    std::printf(
        "| File | Count: corvane / plain (ratio) | Encode | Decode, one reader | Decode, two: corvane's "
        "lanes / plain | Plain, two readers / one | zlib deflate / inflate | memcpy | read |\n"
        "|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (int k = first; k < argc; ++k) {
        BenchFile(argv[k], turns);
    }
}
