// The extract path over arbitrary bytes: header, table, tree and payload.
// Every input either decodes faithfully to its stored table or is refused
// with one of the program's own messages, whatever the chunk size, and a
// refused input never gets more than its stored total handed on. The fast
// decoder and the bit-by-bit reference agree on every byte and message, and
// so does the fast decoder with its payload cut into lanes as small as they
// go.
#include <string>

#include "codec/decoder.h"
#include "format_check.h"
#include "fuzz_support.h"
#include "memory_run.h"

namespace {

bool OwnRefusal(const std::string& message) {
    return message == "wrong compressed file." || message == "only one character OR no character.";
}

void CheckOne(const Bytes& file, const MemoryRun& run) {
    if (run.completed) {
        const std::string fault = CheckFaithfulDecoding(file, run.bytes);
        FUZZ_CHECK(fault.empty(), fault);
        return;
    }
    FUZZ_CHECK(OwnRefusal(run.message), "unexpected refusal: " + run.message);
    const auto table = ParseStoredTable(file);
    FUZZ_CHECK(!table || run.bytes.size() <= table->total, "more than the stored total was handed on");
}

// Lane knobs drawn from the input's size, so that short payloads take every
// lane path.
std::size_t InputSize = 0;
void SetTinyLanes(CodecOptions& options) {
    options.laneCount = 2 + static_cast<unsigned>(InputSize % 7);
    options.laneWindowBits = 1 + InputSize % 97;
    options.laneStretchBytes = 24 + InputSize % 61;
    options.leastLaneStretchBytes = 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file(data, data + size);
    const MemoryRun small = ExtractInMemory(file, static_cast<std::int32_t>(1 + size % 13));
    const MemoryRun large = ExtractInMemory(file, 1 << 16);
    CheckOne(file, small);
    CheckOne(file, large);
    const MemoryRun reference = ExtractInMemory(file, static_cast<std::int32_t>(1 + size % 13), true);
    // A refused file leaves nothing behind, so only the verdict and the
    // message must agree then, not how much was handed on before it.
    FUZZ_CHECK(reference.completed == small.completed && reference.message == small.message &&
                   (!small.completed || reference.bytes == small.bytes),
               "the fast decoder and the reference differ");
    InputSize = size;
    const MemoryRun lanes = ExtractInMemory(file, 1 << 16, false, SetTinyLanes);
    FUZZ_CHECK(lanes.completed == large.completed && lanes.message == large.message &&
                   (!large.completed || lanes.bytes == large.bytes),
               "decoding in lanes changed the outcome");
    FUZZ_CHECK(small.completed == large.completed, "the chunk size changed the outcome");
    FUZZ_CHECK(small.message == large.message, "the chunk size changed the message");
    if (large.completed) FUZZ_CHECK(small.bytes == large.bytes, "the chunk size changed the output");
    return 0;
}
