#include "memory_run.h"

#include <cstring>

#include "app/program_state.h"
#include "codec/bit_queue.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

// The records of one run, as the program keeps them in its globals.
struct RunState {
    SymbolTable frequencyTable = {};
    SymbolTable savedFrequencies = {};
    CodeTree tree;
    HeaderRecord header;
    std::uint8_t queueStorage[50] = {};
    BitQueueRecord queue{queueStorage};
    CodecOptions options{.queue = &queue};
    RunState() { InitSymbols(frequencyTable); }
};

struct Source {
    const Bytes& bytes;
    std::size_t position = 0;
};

std::ptrdiff_t ReadSource(void* context, void* buffer, std::size_t size) {
    auto& source = *static_cast<Source*>(context);
    const std::size_t part = std::min(size, source.bytes.size() - source.position);
    if (part > 0) std::memcpy(buffer, source.bytes.data() + source.position, part);
    source.position += part;
    return static_cast<std::ptrdiff_t>(part);
}

int AppendBytes(void* context, const void* bytes, std::size_t length) {
    auto& kept = *static_cast<Bytes*>(context);
    kept.insert(kept.end(), static_cast<const std::uint8_t*>(bytes),
                static_cast<const std::uint8_t*>(bytes) + length);
    return 0;
}

// The program's compress steps (CompressStreams), the source started again
// from its first byte between the passes.
corvane_result Compress(RunState& run, Source& source, Bytes& headerPart, Bytes& payload) {
    const corvane_reader reader{&source, ReadSource, nullptr};
    if (const corvane_result result = CountBytes(run.frequencyTable, reader)) return result;
    SnapshotCounts(run.frequencyTable, run.savedFrequencies);
    source.position = 0;
    if (const corvane_result result = BuildTree(run.frequencyTable, run.tree.root, &run.tree.codeList))
        return result;
    int finalBitCount = 0;
    const corvane_result encoded =
        EncodePayload(run.tree.codeList, run.savedFrequencies, reader, corvane_writer{&payload, AppendBytes},
                      run.options, finalBitCount);
    if (encoded != CORVANE_OK) return encoded;
    const corvane_writer header{&headerPart, AppendBytes};
    if (const corvane_result result = WriteHeader(run.header, run.savedFrequencies, finalBitCount, header))
        return result;
    return WriteTable(run.header, run.savedFrequencies, header);
}

corvane_result Extract(RunState& run, Source& source, Bytes& decoded) {
    const corvane_reader reader{&source, ReadSource, nullptr};
    const corvane_result read =
        ReadHeader(run.header, run.frequencyTable, run.savedFrequencies, run.tree.root, reader);
    if (read != CORVANE_OK) return read;
    return DecodePayload(run.tree.root, run.header, run.savedFrequencies, reader,
                         corvane_writer{&decoded, AppendBytes}, run.options);
}

void Note(corvane_result result, MemoryRun& run) {
    run.completed = result == CORVANE_OK;
    if (!run.completed) run.message = MessageOf(result);
}

void SetOptions(CodecOptions& options, std::int32_t chunkSize, bool reference,
                void (*setKnobs)(CodecOptions&)) {
    options.chunkSize = chunkSize;
    options.reference = reference;
    if (setKnobs != nullptr) setKnobs(options);
}

}  // namespace

MemoryRun CompressInMemory(const Bytes& input, std::int32_t chunkSize, bool reference,
                           void (*setKnobs)(CodecOptions&)) {
    RunState state;
    SetOptions(state.options, chunkSize, reference, setKnobs);
    Source source{input};
    Bytes payload;
    MemoryRun run;
    Note(Compress(state, source, run.bytes, payload), run);
    run.bytes.insert(run.bytes.end(), payload.begin(), payload.end());
    return run;
}

MemoryRun ExtractInMemory(const Bytes& file, std::int32_t chunkSize, bool reference,
                          void (*setKnobs)(CodecOptions&)) {
    RunState state;
    SetOptions(state.options, chunkSize, reference, setKnobs);
    Source source{file};
    MemoryRun run;
    Note(Extract(state, source, run.bytes), run);
    return run;
}
