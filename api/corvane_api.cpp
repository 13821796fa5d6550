// The public C API (include/corvane.h) over the context-passing core: every
// call owns its tables, tree, code list and header record, so calls on
// different threads share nothing. The header part is written first, in one
// pass with the payload: the final bit count is known from the counts and
// the code lengths before any code is written. No exception leaves a call:
// the allocator's and the bit queue's become results.
#include <cstring>
#include <new>

#include "api/corvane_internal.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "corvane.h"
#include "format/compressed_file.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

// Runs the call, turning whatever it throws into a result.
template <typename Call>
corvane_result Guarded(Call call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return CORVANE_OUT_OF_MEMORY;
    } catch (int) {
        return CORVANE_BIT_QUEUE_FAILURE;
    } catch (...) {
        return CORVANE_OUT_OF_MEMORY;
    }
}

// A buffer read from its start; rewinds to it.
struct MemorySource {
    const std::uint8_t* bytes;
    std::size_t size;
    std::size_t position = 0;
};

std::ptrdiff_t ReadMemory(void* context, void* buffer, std::size_t size) {
    auto& source = *static_cast<MemorySource*>(context);
    const std::size_t part = std::min(size, source.size - source.position);
    if (part > 0) std::memcpy(buffer, source.bytes + source.position, part);
    source.position += part;
    return static_cast<std::ptrdiff_t>(part);
}

int RewindMemory(void* context) {
    static_cast<MemorySource*>(context)->position = 0;
    return 0;
}

// A buffer of fixed capacity, filled from its start; a write that does not
// fit is refused and noted.
struct MemoryDestination {
    std::uint8_t* bytes;
    std::size_t capacity;
    std::size_t size = 0;
    bool overflowed = false;
};

int WriteMemory(void* context, const void* buffer, std::size_t size) {
    auto& destination = *static_cast<MemoryDestination*>(context);
    if (size > destination.capacity - destination.size) {
        destination.overflowed = true;
        return -1;
    }
    if (size > 0) std::memcpy(destination.bytes + destination.size, buffer, size);
    destination.size += size;
    return 0;
}

corvane_result CompressStream(const corvane_reader& in, const corvane_writer& out) {
    SymbolTable table;
    SymbolTable saved;
    InitSymbols(table);
    if (const corvane_result result = CountBytes(table, in)) return result;
    SnapshotCounts(table, saved);
    CodeTree tree;
    if (const corvane_result result = BuildTree(table, tree.root, &tree.codeList)) return result;
    EncodingTable codes;
    BuildEncodingTable(codes, tree.codeList);
    HeaderRecord header;
    const int finalBitCount = FinalBitsOf(saved, codes);
    if (const corvane_result result = WriteHeader(header, saved, finalBitCount, out)) return result;
    if (const corvane_result result = WriteTable(header, saved, out)) return result;
    if (in.rewind == nullptr || in.rewind(in.context) != 0) return CORVANE_READ_ERROR;
    int written = 0;
    return EncodePayload(tree.codeList, saved, in, out, CodecOptions{}, written);
}

corvane_result DecompressStream(const corvane_reader& in, const corvane_writer& out,
                                const CodecOptions& options = {}) {
    SymbolTable table;
    SymbolTable saved;
    InitSymbols(table);
    HeaderRecord header;
    CodeTree tree;
    if (const corvane_result result = ReadHeader(header, table, saved, tree.root, in)) return result;
    return DecodePayload(tree.root, header, saved, in, out, options);
}

// A write refused for want of room is the destination's fault, not a write
// error.
corvane_result IntoBuffer(corvane_result result, const MemoryDestination& destination) {
    return result == CORVANE_WRITE_ERROR && destination.overflowed ? CORVANE_DESTINATION_TOO_SMALL : result;
}

// Runs a streaming call from one buffer into another; *out_size is 0
// after a refusal.
template <typename Call>
corvane_result BufferToBuffer(Call call, const void* in, size_t in_size, void* out, size_t out_capacity,
                              size_t* out_size) {
    if (out_size != nullptr) *out_size = 0;
    if ((in == nullptr && in_size > 0) || (out == nullptr && out_capacity > 0) || out_size == nullptr)
        return CORVANE_READ_ERROR;
    MemorySource source{static_cast<const std::uint8_t*>(in), in_size};
    MemoryDestination destination{static_cast<std::uint8_t*>(out), out_capacity};
    const corvane_reader reader{&source, ReadMemory, RewindMemory};
    const corvane_writer writer{&destination, WriteMemory};
    const corvane_result result = IntoBuffer(Guarded([&] { return call(reader, writer); }), destination);
    if (result == CORVANE_OK) *out_size = destination.size;
    return result;
}

}  // namespace

extern "C" {

const char* corvane_result_text(corvane_result result) {
    switch (result) {
        case CORVANE_OK: return "ok.";
        case CORVANE_ONE_OR_NO_CHARACTER: return "only one character OR no character.";
        case CORVANE_WRONG_FILE: return "wrong compressed file.";
        case CORVANE_WRONG_TREE: return "wrong tree.";
        case CORVANE_WRONG_CODE_LIST: return "wrong tree find list.";
        case CORVANE_INPUT_TOO_LARGE: return "input too large.";
        case CORVANE_READ_ERROR: return "Read error.";
        case CORVANE_WRITE_ERROR: return "Write error.";
        case CORVANE_OUT_OF_MEMORY: return "out of memory.";
        case CORVANE_SOURCE_CHANGED: return "the input changed between the two passes.";
        case CORVANE_DESTINATION_TOO_SMALL: return "destination too small.";
        case CORVANE_BIT_QUEUE_FAILURE: return "bit queue overflow or underflow.";
    }
    return "unknown result.";
}

const char* corvane_version(void) { return CORVANE_VERSION_TEXT; }

size_t corvane_compress_bound(size_t size) {
    // A Huffman code is never longer in all than the fixed code of 8 bits a
    // value, so the payload has at most `size` bytes; the header part at
    // most LongestHeaderPart.
    if (size > SIZE_MAX - LongestHeaderPart) return 0;
    return size + LongestHeaderPart;
}

corvane_result corvane_compress(const void* in, size_t in_size, void* out, size_t out_capacity,
                                size_t* out_size) {
    return BufferToBuffer(CompressStream, in, in_size, out, out_capacity, out_size);
}

corvane_result corvane_decompressed_size(const void* in, size_t in_size, uint64_t* size) {
    if (size != nullptr) *size = 0;
    if ((in == nullptr && in_size > 0) || size == nullptr) return CORVANE_READ_ERROR;
    return Guarded([&] {
        MemorySource source{static_cast<const std::uint8_t*>(in), in_size};
        SymbolTable table;
        SymbolTable saved;
        InitSymbols(table);
        HeaderRecord header;
        const corvane_result result =
            ReadHeaderAndTable(header, table, saved, corvane_reader{&source, ReadMemory, RewindMemory});
        if (result == CORVANE_OK) *size = header.storedTotal;
        return result;
    });
}

corvane_result corvane_decompress(const void* in, size_t in_size, void* out, size_t out_capacity,
                                  size_t* out_size) {
    return BufferToBuffer([](const corvane_reader& reader,
                             const corvane_writer& writer) { return DecompressStream(reader, writer); },
                          in, in_size, out, out_capacity, out_size);
}

corvane_result corvane_compress_stream(const corvane_reader* in, const corvane_writer* out) {
    if (in == nullptr || in->read == nullptr) return CORVANE_READ_ERROR;
    if (out == nullptr || out->write == nullptr) return CORVANE_WRITE_ERROR;
    return Guarded([&] { return CompressStream(*in, *out); });
}

corvane_result corvane_decompress_stream(const corvane_reader* in, const corvane_writer* out) {
    if (in == nullptr || in->read == nullptr) return CORVANE_READ_ERROR;
    if (out == nullptr || out->write == nullptr) return CORVANE_WRITE_ERROR;
    return Guarded([&] { return DecompressStream(*in, *out); });
}

}  // extern "C"

corvane_result DecompressWithOptions(const void* in, std::size_t in_size, void* out, std::size_t out_capacity,
                                     std::size_t* out_size, const CodecOptions& options) {
    return BufferToBuffer(
        [&](const corvane_reader& reader, const corvane_writer& writer) {
            return DecompressStream(reader, writer, options);
        },
        in, in_size, out, out_capacity, out_size);
}
