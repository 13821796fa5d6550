// The extract path over arbitrary bytes: header, table, tree and payload.
// Every input either decodes to exactly its stored total or is refused with
// one of the program's own messages, whatever the chunk size, and a refused
// input never gets more than its stored total handed on.
#include <string>

#include "codec/bit_queue.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "fuzz_support.h"
#include "io/shared_io.h"

namespace {

struct Extraction {
    bool completed = false;
    std::string message;
    Bytes output;
    std::uint64_t total = 0;
};

Bytes Decoded;
void KeepDecoded(const std::uint8_t* bytes, std::size_t length) {
    Decoded.insert(Decoded.end(), bytes, bytes + length);
}

// Decodes the payload once more from its first byte, as a fresh run would;
// the header and the tree, read once, serve every decoding.
Extraction Decode(long payloadStart, std::int32_t chunkSize) {
    std::fseek(SourceStream, payloadStart, SEEK_SET);
    BitQueue.readPosition = BitQueue.writePosition = BitQueue.count = 0;
    OutputIndex = -1;
    Decoded.clear();
    Extraction result;
    try {
        DecodePayload(KeepDecoded, chunkSize);
        result.completed = true;
    } catch (const FatalStop& stop) {
        result.message = stop.message;
    }
    result.total = storedTotal;
    result.output = Decoded;
    return result;
}

bool OwnRefusal(const std::string& message) {
    return message == "wrong compressed file." || message == "only one character OR no character.";
}

void CheckOne(const Extraction& run) {
    if (run.completed) {
        FUZZ_CHECK(run.output.size() == run.total, "decoded length differs from the stored total");
    } else {
        FUZZ_CHECK(OwnRefusal(run.message), "unexpected refusal: " + run.message);
        FUZZ_CHECK(run.output.size() <= run.total, "more than the stored total was handed on");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes file(data, data + size);
    ResetProgramState();
    SourceStream = ReadStreamOver(file);
    try {
        ReadHeader();
    } catch (const FatalStop& stop) {
        FUZZ_CHECK(OwnRefusal(stop.message), "unexpected refusal of a header: " + stop.message);
        ResetProgramState();
        return 0;
    }
    const long payloadStart = std::ftell(SourceStream);
    const Extraction small = Decode(payloadStart, static_cast<std::int32_t>(1 + size % 13));
    const Extraction large = Decode(payloadStart, 1 << 16);
    CheckOne(small);
    CheckOne(large);
    FUZZ_CHECK(small.completed == large.completed, "the chunk size changed the outcome");
    FUZZ_CHECK(small.message == large.message, "the chunk size changed the message");
    if (large.completed) FUZZ_CHECK(small.output == large.output, "the chunk size changed the output");
    ResetProgramState();
    return 0;
}
