// Times the coding kernels in memory on each file named, each beside its
// plain loop (bench/plain_loops.c), zlib's Huffman-only deflate and memcpy,
// in alternating turns, and prints one line a measurement:
//
//   file<TAB>phase<TAB>what<TAB>GB/s (median over turns)<TAB>ratio to the plain loop (median)
//
// Every output is checked against the plain loop's; a difference fails the
// run. bench/run --memory runs it and makes the tables.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "codec/code_tables.h"
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

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

void MakeCodes(const Bytes& data, FileCodes& file) {
    AddByteCounts(file.counts, data.data(), data.size());
    InitSymbols();
    for (int value = 0; value < 256; ++value) FrequencyTable[value].count = file.counts[value];
    SnapshotCounts();
    BuildTree(true);
    BuildEncodingTable(EncodeCodes);
    if (EncodeCodes.longest > LongestWordCode) Fail("codes too long for the bench");
    for (int value = 0; value < 256; ++value) {
        file.codes[value] = EncodeCodes.codes[value];
        file.lengths[value] = static_cast<std::uint8_t>(EncodeCodes.lengths[value]);
    }
    file.longest = EncodeCodes.longest;
    MakeCodeWords(file.words, EncodeCodes.codes, EncodeCodes.lengths);
}

struct Measured {
    std::string phase, what;
    std::function<void()> work;
    std::vector<double> speeds = {};
};

Bytes ReadFile(const char* path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) Fail(std::string("cannot read ") + path);
    return Bytes(std::istreambuf_iterator<char>(stream), {});
}

void BenchFile(const char* path, int turns) {
    const Bytes data = ReadFile(path);
    const std::size_t size = data.size();
    FileCodes file;
    MakeCodes(data, file);
    const unsigned perStore = plain_codes_per_store(file.longest);
    const unsigned groupSize = ChooseGroupSize(file.words, file.counts);

    Bytes plainOut(size * 8 + Slack), kernelOut(size * 8 + Slack);
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
    BuildDecodingTable(*table, TreeRoot);
    plain_decoder decoder;
    if (plain_decoder_init(&decoder, table->entries, file.codes, file.lengths) != 0) Fail("out of memory");
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

    std::vector<Measured> all = {
        {"count", "plain (4 tables)",
         [&] {
             std::uint32_t counts[4][256] = {};
             plain_count(data.data(), size, counts);
             sink += counts[0][1];
         }},
        {"count", "corvane",
         [&] {
             std::uint64_t counts[256] = {};
             AddByteCounts(counts, data.data(), size);
             sink += counts[1];
         }},
        {"encode", "plain", [&] { plainEncode(nullptr); }},
        {"encode", "plain, counting",
         [&] {
             std::uint32_t counts[256] = {};
             plainEncode(counts);
             sink += counts[1];
         }},
        {"encode", "corvane", [&] { kernelEncode(nullptr); }},
        {"encode", "corvane, counting",
         [&] {
             PlaceCounts counts = {};
             kernelEncode(&counts);
             sink += counts[0][1];
         }},
        {"decode", "plain", [&] { plain_decode(&decoder, payload.data(), decoded.data(), size); }},
        {"decode", "plain, two readers",
         [&] { plain_decode2(&decoder, payload.data(), decoded.data(), size, size / 2, half); }},
        {"decode", "corvane",
         [&] {
             std::uint64_t position = 0;
             const std::uint8_t* end = DecodeBitRange(*table, payload.data(), position, plainBits,
                                                      decoded.data(), decoded.data() + size, *tally);
             kernelDecoded = static_cast<std::size_t>(end - decoded.data());
             *tally = DecodeTally{};
         }},
        {"zlib", "deflate Z_HUFFMAN_ONLY", deflateHuffman},
        {"zlib", "inflate",
         [&] {
             uLongf length = static_cast<uLongf>(decoded.size());
             if (uncompress(decoded.data(), &length, deflated.data(), deflatedSize) != Z_OK) Fail("inflate");
         }},
        {"copy", "memcpy", [&] { std::memcpy(kernelOut.data(), data.data(), size); }},
    };
    std::map<std::string, std::vector<double>> ratios;
    for (int turn = 0; turn < turns; ++turn) {
        std::map<std::string, double> plainSpeed;
        for (Measured& measured : all) {
            double best = 1e30;
            for (int pass = 0; pass < 3; ++pass) best = std::min(best, Seconds(measured.work));
            const double speed = static_cast<double>(size) / best / 1e9;
            measured.speeds.push_back(speed);
            if (measured.what == "plain" || measured.what == "plain (4 tables)")
                plainSpeed[measured.phase] = speed;
            if (plainSpeed.count(measured.phase))
                ratios[measured.phase + measured.what].push_back(speed / plainSpeed[measured.phase]);
        }
    }
    plain_decode(&decoder, payload.data(), decoded.data(), size);
    if (!std::equal(data.begin(), data.end(), decoded.begin())) Fail("the plain decoder differs");
    plain_decode2(&decoder, payload.data(), decoded.data(), size, size / 2, half);
    if (!std::equal(data.begin(), data.end(), decoded.begin())) Fail("the two-reader decoder differs");
    std::uint64_t position = 0;
    DecodeBitRange(*table, payload.data(), position, plainBits, decoded.data(), decoded.data() + size,
                   *tally);
    if (!std::equal(data.begin(), data.begin() + static_cast<long>(kernelDecoded), decoded.begin()) ||
        kernelDecoded + 2 * MostSymbolsPerStep < size)
        Fail("the decode kernel differs");
    plain_decoder_free(&decoder);

    const char* name = std::strrchr(path, '/') ? std::strrchr(path, '/') + 1 : path;
    std::printf("%s\tcodes\tlongest %u, plain %u a store, corvane groups of %u\t\t\n", name, file.longest,
                perStore, groupSize);
    for (const Measured& measured : all) {
        const auto ratio = ratios.find(measured.phase + measured.what);
        std::printf("%s\t%s\t%s\t%.3f\t%s\n", name, measured.phase.c_str(), measured.what.c_str(),
                    Median(measured.speeds),
                    ratio == ratios.end() ? "" : std::to_string(Median(ratio->second)).c_str());
    }
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
    for (int k = first; k < argc; ++k) {
        FreeTree(TreeRoot);
        TreeRoot = nullptr;
        FreeCodeList(CodeList.next);
        CodeList.next = nullptr;
        for (auto& stat : FrequencyTable) stat = SymbolStat{};
        BenchFile(argv[k], turns);
    }
}
