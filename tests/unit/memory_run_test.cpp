// The whole coding path, compress and extract, through the shell's own
// coding steps, held against the independent format checker. Runs on every
// platform, so the Windows build's writer and reader are checked too.
#include "memory_run.h"

#include <gtest/gtest.h>

#include "format_check.h"
#include "test_support.h"

namespace {

TEST(MemoryRunTest, WrittenFilesAreExactAndComeBack) {
    std::vector<Bytes> inputs = {BytesOf("aab"), BytesOf("abracadabra"), AllByteValues(),
                                 RandomBytes(5000, 1, 3), RandomBytes(70000, 2, 200)};
    Bytes wide(300, 'a');
    wide.push_back('b');
    inputs.push_back(wide);
    inputs.push_back(Bytes(70000, 'x'));
    inputs.back().push_back('y');
    for (const Bytes& input : inputs) {
        for (std::int32_t chunkSize : {1, 7, 4096}) {
            const MemoryRun packed = CompressInMemory(input, chunkSize);
            ASSERT_TRUE(packed.completed) << packed.message;
            EXPECT_EQ(CheckWrittenFile(input, packed.bytes), "") << input.size() << " " << chunkSize;
            const MemoryRun restored = ExtractInMemory(packed.bytes, chunkSize);
            ASSERT_TRUE(restored.completed) << restored.message;
            EXPECT_EQ(restored.bytes, input) << input.size() << " " << chunkSize;
        }
    }
}

TEST(MemoryRunTest, RefusalsCarryTheProgramsMessage) {
    EXPECT_EQ(CompressInMemory(Bytes(10, 'a'), 7).message, "only one character OR no character.");
    EXPECT_EQ(CompressInMemory({}, 7).message, "only one character OR no character.");
    EXPECT_EQ(ExtractInMemory({0x43}, 7).message, "wrong compressed file.");
    const Bytes file = CompressInMemory(BytesOf("abracadabra"), 7).bytes;
    Bytes extended = file;
    extended.push_back(0xFF);
    const MemoryRun refused = ExtractInMemory(extended, 7);
    EXPECT_FALSE(refused.completed);
    EXPECT_EQ(refused.message, "wrong compressed file.");
    EXPECT_NE(CheckWrittenFile(BytesOf("abracadabrb"), file), "");
}

}  // namespace
