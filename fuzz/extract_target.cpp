// The extract path over arbitrary bytes: header, table, tree and payload.
// Every input either decodes to exactly its stored total or is refused with
// one of the program's own messages, whatever the chunk size, and a refused
// input never gets more than its stored total written, nor any text shown.
#include <string>

#include "app/operation_driver.h"
#include "codec/bit_queue.h"
#include "codec/decoder.h"
#include "format/compressed_file.h"
#include "fuzz_support.h"

namespace {

struct Extraction {
    bool completed = false;
    std::string message;
    Bytes output;
    std::uint64_t total = 0;
    std::string console;
};

// Decodes the payload once more from its first byte, as a fresh run would;
// the header and the tree, read once, serve every decoding.
Extraction Decode(long payloadStart, std::int32_t chunkSize, bool onConsole) {
    std::fseek(SourceStream, payloadStart, SEEK_SET);
    BitQueue.readPosition = BitQueue.writePosition = BitQueue.count = 0;
    OutputIndex = -1;
    ClearConsole();
    MemorySink sink;
    displayMode = onConsole;
    if (!onConsole) DataSink = OpenSink(sink);
    Extraction result;
    try {
        DecodePayload(chunkSize);
        result.completed = true;
    } catch (const FatalStop& stop) {
        result.message = stop.message;
    }
    result.total = storedTotal;
    if (!onConsole) result.output = SinkBytes(sink);
    DataSink = nullptr;
    FreeSink(sink);
    result.console = ConsoleText();
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
        FUZZ_CHECK(run.output.size() <= run.total, "more than the stored total was written");
    }
}

// In display mode a refused file shows nothing but the separator and the
// message; a decoded one shows its text up to the first zero byte.
void CheckConsole(const Extraction& shown, const Extraction& written) {
    const std::string separator(38, '=');
    if (!shown.completed) {
        FUZZ_CHECK(shown.console == separator + "\n" + shown.message + "\n",
                   "a refused file showed text on the console");
        return;
    }
    std::string text;
    for (std::uint8_t byte : written.output) {
        if (byte == 0) break;
        text.push_back(static_cast<char>(byte));
    }
    FUZZ_CHECK(shown.console == separator + "\n" + text + "\n", "displayed text differs from the file");
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
    const Extraction small = Decode(payloadStart, static_cast<std::int32_t>(1 + size % 13), false);
    const Extraction large = Decode(payloadStart, 1 << 16, false);
    CheckOne(small);
    CheckOne(large);
    FUZZ_CHECK(small.completed == large.completed, "the chunk size changed the outcome");
    FUZZ_CHECK(small.message == large.message, "the chunk size changed the message");
    if (large.completed) FUZZ_CHECK(small.output == large.output, "the chunk size changed the output");
    // Only files under the display-mode limit are ever shown on the console,
    // so one chunk always holds all they decode to.
    if (size < 1024) CheckConsole(Decode(payloadStart, 8192, true), large);
    ResetProgramState();
    return 0;
}
