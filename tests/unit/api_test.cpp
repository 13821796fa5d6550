// The public C API held against the program's own coding steps: the files
// it writes are the program's byte for byte, each refusal has its result,
// and calls on several threads at once give what one thread gives.
#include "corvane.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "memory_run.h"
#include "test_support.h"

namespace {

Bytes Compressed(const Bytes& input) {
    Bytes file(corvane_compress_bound(input.size()));
    std::size_t size = 0;
    EXPECT_EQ(corvane_compress(input.data(), input.size(), file.data(), file.size(), &size), CORVANE_OK);
    file.resize(size);
    return file;
}

Bytes Decompressed(const Bytes& file) {
    std::uint64_t total = 0;
    EXPECT_EQ(corvane_decompressed_size(file.data(), file.size(), &total), CORVANE_OK);
    Bytes output(total);
    std::size_t size = 1;
    EXPECT_EQ(corvane_decompress(file.data(), file.size(), output.data(), output.size(), &size), CORVANE_OK);
    EXPECT_EQ(size, total);
    return output;
}

// A reader over bytes that may fail: on its `failRead`th read, or on rewind,
// or by giving `second` after a rewind.
struct TestReader {
    const Bytes* bytes;
    std::size_t position = 0;
    int reads = 0;
    int failRead = -1;
    bool failRewind = false;
    const Bytes* second = nullptr;
};

std::ptrdiff_t ReadTest(void* context, void* buffer, std::size_t size) {
    auto& reader = *static_cast<TestReader*>(context);
    if (reader.reads++ == reader.failRead) return -1;
    const std::size_t part = std::min({size, reader.bytes->size() - reader.position, std::size_t{1000}});
    if (part > 0) std::memcpy(buffer, reader.bytes->data() + reader.position, part);
    reader.position += part;
    return static_cast<std::ptrdiff_t>(part);
}

int RewindTest(void* context) {
    auto& reader = *static_cast<TestReader*>(context);
    reader.position = 0;
    if (reader.second != nullptr) reader.bytes = reader.second;
    return reader.failRewind ? -1 : 0;
}

struct TestWriter {
    Bytes bytes;
    int writesLeft = -1;  // fails once none are left
};

int WriteTest(void* context, const void* buffer, std::size_t size) {
    auto& writer = *static_cast<TestWriter*>(context);
    if (writer.writesLeft-- == 0) return 1;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    writer.bytes.insert(writer.bytes.end(), bytes, bytes + size);
    return 0;
}

corvane_result Stream(corvane_result (*call)(const corvane_reader*, const corvane_writer*), TestReader& in,
                      TestWriter& out) {
    const corvane_reader reader{&in, ReadTest, RewindTest};
    const corvane_writer writer{&out, WriteTest};
    return call(&reader, &writer);
}

std::vector<Bytes> Inputs() {
    std::vector<Bytes> inputs = {BytesOf("aab"), BytesOf("abracadabra"), AllByteValues(),
                                 RandomBytes(300000, 1, 40), Bytes(70000, 'x')};
    inputs.back().push_back('y');
    std::vector<std::filesystem::path> folders = {std::filesystem::path(SAMPLES_DIR)};
    if (std::filesystem::is_directory(CORPUS_DIR)) folders.emplace_back(CORPUS_DIR);
    for (const auto& folder : folders) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    return inputs;
}

TEST(ApiTest, EveryEntryPointWritesAndReadsTheProgramsFiles) {
    for (const Bytes& input : Inputs()) {
        const MemoryRun program = CompressInMemory(input, ChunkSize);
        ASSERT_TRUE(program.completed) << program.message;
        const Bytes file = Compressed(input);
        EXPECT_EQ(file, program.bytes) << input.size();
        EXPECT_LE(file.size(), corvane_compress_bound(input.size()));
        EXPECT_EQ(Decompressed(file), input) << input.size();

        TestReader source{&input};
        TestWriter packed;
        ASSERT_EQ(Stream(corvane_compress_stream, source, packed), CORVANE_OK);
        EXPECT_EQ(packed.bytes, program.bytes) << input.size();
        TestReader compressed{&file};
        TestWriter restored;
        ASSERT_EQ(Stream(corvane_decompress_stream, compressed, restored), CORVANE_OK);
        EXPECT_EQ(restored.bytes, input) << input.size();
    }
}

TEST(ApiTest, RefusalsGiveTheirResultAndNoSize) {
    std::uint8_t out[2048];
    std::size_t size = 99;
    EXPECT_EQ(corvane_compress("aaaa", 4, out, sizeof out, &size), CORVANE_ONE_OR_NO_CHARACTER);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(corvane_compress(nullptr, 0, out, sizeof out, &size), CORVANE_ONE_OR_NO_CHARACTER);
    const Bytes file = Compressed(BytesOf("abracadabra"));
    Bytes longer = file;
    longer.push_back(0xFF);
    size = 99;
    EXPECT_EQ(corvane_decompress(longer.data(), longer.size(), out, sizeof out, &size), CORVANE_WRONG_FILE);
    EXPECT_EQ(size, 0u);
    EXPECT_STREQ(corvane_result_text(CORVANE_WRONG_FILE), "wrong compressed file.");
    EXPECT_STREQ(corvane_version(), "3.0");

    const Bytes input = RandomBytes(5000, 3, 20);
    const Bytes changed = RandomBytes(5000, 4, 20);
    TestWriter out1;
    TestReader failing{&input, 0, 0, 2};
    EXPECT_EQ(Stream(corvane_compress_stream, failing, out1), CORVANE_READ_ERROR);
    TestReader noRewind{&input, 0, 0, -1, true};
    EXPECT_EQ(Stream(corvane_compress_stream, noRewind, out1), CORVANE_READ_ERROR);
    TestReader switched{&input, 0, 0, -1, false, &changed};
    EXPECT_EQ(Stream(corvane_compress_stream, switched, out1), CORVANE_SOURCE_CHANGED);
    TestReader fine{&input};
    TestWriter refusing{{}, 1};
    EXPECT_EQ(Stream(corvane_compress_stream, fine, refusing), CORVANE_WRITE_ERROR);
    EXPECT_EQ(refusing.bytes.size(), 3u);  // the header byte and the table length were handed on
    const Bytes packed = Compressed(input);
    TestReader compressed{&packed};
    TestWriter refusingOutput{{}, 0};
    EXPECT_EQ(Stream(corvane_decompress_stream, compressed, refusingOutput), CORVANE_WRITE_ERROR);
    EXPECT_TRUE(refusingOutput.bytes.empty());
}

TEST(ApiTest, OneByteTooFewIsTooSmall) {
    for (const Bytes& input : {BytesOf("abracadabra"), RandomBytes(300000, 5, 100)}) {
        const Bytes file = Compressed(input);
        Bytes out(std::max(file.size(), input.size()));
        std::size_t size = 99;
        EXPECT_EQ(corvane_compress(input.data(), input.size(), out.data(), file.size() - 1, &size),
                  CORVANE_DESTINATION_TOO_SMALL);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(corvane_decompress(file.data(), file.size(), out.data(), input.size() - 1, &size),
                  CORVANE_DESTINATION_TOO_SMALL);
        EXPECT_EQ(size, 0u);
    }
}

TEST(ApiTest, DecompressedSizeNeedsTheWholeHeaderAndTable) {
    const Bytes file = Compressed(BytesOf(std::string(300, 'a') + "b"));
    std::uint64_t total = 0;
    EXPECT_EQ(corvane_decompressed_size(file.data(), file.size(), &total), CORVANE_OK);
    EXPECT_EQ(total, 301u);
    for (std::size_t cut = 0; cut < 9; ++cut) {
        total = 7;
        EXPECT_EQ(corvane_decompressed_size(file.data(), cut, &total), CORVANE_WRONG_FILE) << cut;
        EXPECT_EQ(total, 0u);
    }
}

// Eight threads at once, each on its own input, twice over in one process:
// every file and every restored input as one thread alone makes them.
TEST(ApiThreadTest, EightThreadsAtOnceGiveTheSequentialResults) {
    constexpr int Threads = 8;
    std::vector<Bytes> inputs;
    std::vector<Bytes> files;
    for (int k = 0; k < Threads; ++k) {
        inputs.push_back(
            RandomBytes(100000 + 7000 * static_cast<std::size_t>(k), static_cast<unsigned>(k), 2 + 30 * k));
        files.push_back(Compressed(inputs.back()));
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<Bytes> packed(Threads);
        std::vector<Bytes> restored(Threads);
        std::vector<std::thread> threads;
        for (int k = 0; k < Threads; ++k) {
            threads.emplace_back([&, k] {
                TestReader source{&inputs[k]};
                TestWriter out;
                if (Stream(corvane_compress_stream, source, out) == CORVANE_OK) packed[k] = out.bytes;
                Bytes output(inputs[k].size());
                std::size_t size = 0;
                if (corvane_decompress(files[k].data(), files[k].size(), output.data(), output.size(),
                                       &size) == CORVANE_OK)
                    restored[k] = output;
            });
        }
        for (std::thread& thread : threads) thread.join();
        for (int k = 0; k < Threads; ++k) {
            EXPECT_EQ(packed[k], files[k]) << k << " round " << round;
            EXPECT_EQ(restored[k], inputs[k]) << k << " round " << round;
        }
    }
}

}  // namespace
