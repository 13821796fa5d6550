// The round trip: bytes are compressed with the program's own writer into
// memory, the compressed file is checked against the format's rules by the
// independent checker, and extracted again, which must give the bytes back.
//
// An input starting with "RUN" stands for runs: each pair of bytes after it
// (value, n) is the value repeated 300 * (n + 1) times, so that counts above
// 255 and 65,535 (wider stored counts) are reached from short inputs.
#include <cstring>
#include <iterator>
#include <string>

#include "codec/encode_kernel.h"
#include "format_check.h"
#include "fuzz_support.h"
#include "memory_run.h"

namespace {

constexpr std::size_t RunUnit = 300;
constexpr std::size_t LargestExpansion = 150000;

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

int DistinctValues(const Bytes& input) {
    bool seen[256] = {};
    int distinct = 0;
    for (std::uint8_t byte : input) {
        if (!seen[byte]) ++distinct;
        seen[byte] = true;
    }
    return distinct;
}

// The encoder's group size drawn from the input's size: the one it chooses,
// or each size it offers, whatever the code lengths.
std::size_t InputSize = 0;
void SetGroupSize(CodecOptions& options) {
    constexpr std::size_t Sizes = std::size(GroupSizes);
    options.groupSize = InputSize % (Sizes + 1) == Sizes ? 0 : GroupSizes[InputSize % (Sizes + 1)];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input = InputFrom(data, size);
    InputSize = size;
    const MemoryRun packed =
        CompressInMemory(input, static_cast<std::int32_t>(1 + size % 29), false, SetGroupSize);
    const MemoryRun reference = CompressInMemory(input, static_cast<std::int32_t>(1 + size % 29), true);
    FUZZ_CHECK(reference.completed == packed.completed && reference.message == packed.message &&
                   reference.bytes == packed.bytes,
               "the fast encoder and the reference differ");
    if (DistinctValues(input) < 2) {
        FUZZ_CHECK(!packed.completed && packed.message == "only one character OR no character.",
                   "fewer than two byte values were not refused");
        return 0;
    }
    FUZZ_CHECK(packed.completed, "compression refused: " + packed.message);
    const std::string fault = CheckWrittenFile(input, packed.bytes);
    FUZZ_CHECK(fault.empty(), fault);
    const MemoryRun restored = ExtractInMemory(packed.bytes, static_cast<std::int32_t>(1 + (size / 7) % 31));
    FUZZ_CHECK(restored.completed, "a file of our own writer was refused: " + restored.message);
    FUZZ_CHECK(restored.bytes == input, "extraction did not give the input back");
    const MemoryRun walked =
        ExtractInMemory(packed.bytes, static_cast<std::int32_t>(1 + (size / 7) % 31), true);
    FUZZ_CHECK(walked.completed && walked.bytes == input,
               "the reference decoder did not give the input back");
    return 0;
}
