#include "memory_run.h"

#include "app/operation_driver.h"
#include "codec/encoder.h"
#include "io/shared_io.h"

namespace {

void RewindSource() { std::rewind(SourceStream); }

void Compress(void*) { CompressStreams(RewindSource); }

Bytes Decoded;
void KeepDecoded(const std::uint8_t* bytes, std::size_t length) {
    Decoded.insert(Decoded.end(), bytes, bytes + length);
}

void Extract(void*) { ExtractStream(KeepDecoded); }

// Runs one coding call on fresh process state, noting a refusal.
void RunRefusable(void (*call)(void*), std::int32_t chunkSize, bool reference, MemoryRun& run) {
    BulkSize = chunkSize;
    UseReferenceCodec = reference;
    try {
        WithFatalThrowing(call, nullptr);
        run.completed = true;
    } catch (const FatalStop& stop) {
        run.message = stop.message;
    }
}

}  // namespace

MemoryRun CompressInMemory(const Bytes& input, std::int32_t chunkSize, bool reference, void (*setKnobs)()) {
    ResetProgramState();
    if (setKnobs != nullptr) setKnobs();
    MemorySink payload, header;
    SourceStream = ReadStreamOver(input);
    DataSink = OpenSink(payload);
    HeaderSink = OpenSink(header);
    MemoryRun run;
    RunRefusable(Compress, chunkSize, reference, run);
    run.bytes = SinkBytes(header);
    const Bytes packed = SinkBytes(payload);
    run.bytes.insert(run.bytes.end(), packed.begin(), packed.end());
    DataSink = HeaderSink = nullptr;
    FreeSink(header);
    FreeSink(payload);
    ResetProgramState();
    return run;
}

MemoryRun ExtractInMemory(const Bytes& file, std::int32_t chunkSize, bool reference, void (*setKnobs)()) {
    ResetProgramState();
    if (setKnobs != nullptr) setKnobs();
    SourceStream = ReadStreamOver(file);
    Decoded.clear();
    MemoryRun run;
    RunRefusable(Extract, chunkSize, reference, run);
    run.bytes.swap(Decoded);
    ResetProgramState();
    return run;
}
