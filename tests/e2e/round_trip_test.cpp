// Whole compressions and extractions of real and made-up files.
#include <gtest/gtest.h>

#include <random>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

// Compresses `input` as file "in", extracts it to "in" again and returns the
// compressed bytes. Checks that nothing else is left behind.
std::string RoundTrip(const std::string& input) {
    Sandbox box;
    box.Write("in", input);
    RunResult run = box.Run({"in"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    std::string compressed = box.Read("in.lx");
    fs::remove(box.path("in"));
    run = box.Run({"in.lx"});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(box.Read("in") == input) << "round trip changed " << input.size() << " bytes";
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"in", "in.lx"}));
    return compressed;
}

std::string RandomBytes(std::size_t size, int values, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> pick(0, values - 1);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(pick(generator));
    return bytes;
}

TEST(RoundTrip, WorkedExamplesAreExact) {
    EXPECT_EQ(RoundTrip("aab"), std::string("\x43\x04\x61\x02\x62\x01\xC0", 7));
    EXPECT_EQ(RoundTrip("abracadabra"),
              std::string("\x87\x09\x61\x05\x02\x01\x01\x00\x72\x02\x00\x79\x8D\x78", 14));
    std::string expected =
        std::string("\x55\x06\x00\x61\x2C\x01\x62\x01\x00", 9) + std::string(37, '\xFF') + "\xF0";
    EXPECT_EQ(RoundTrip(std::string(300, 'a') + "b"), expected);
}

TEST(RoundTrip, AllByteValuesAndTwoValues) {
    std::string all;
    for (int value = 0; value < 256; ++value) all += static_cast<char>(value);
    std::string compressed = RoundTrip(all);
    ASSERT_EQ(compressed.size(), 2u + 256u + 256u);
    EXPECT_EQ(compressed.substr(0, 2), std::string("\0\0", 2));
    EXPECT_EQ(compressed.substr(2, 256), std::string(256, '\x01'));

    RoundTrip(RandomBytes(100000, 256, 1));
    RoundTrip(RandomBytes(77777, 2, 2));
    RoundTrip(std::string("\xFE\xFF\xFF", 3));
}

TEST(RoundTrip, SizesAroundBlockMultiples) {
    for (std::size_t size : {4095u, 4096u, 4097u, 8191u, 8192u, 8193u, 65536u})
        RoundTrip(RandomBytes(size, 5, 3));
}

TEST(RoundTrip, CanterburyCorpus) {
    std::string corpus = CorpusDir();
    if (corpus.empty()) GTEST_SKIP() << "corpus not found beside the project";
    for (const auto& entry : fs::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        std::string input = ReadFile(entry.path());
        std::string compressed = RoundTrip(input);
        EXPECT_LT(compressed.size(), input.size());
    }
}

}  // namespace
