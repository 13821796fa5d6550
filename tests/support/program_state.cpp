#include "program_state.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "io/shared_io.h"
#include "platform/platform.h"

namespace {

std::ostringstream* Console = nullptr;

std::string LastLineOf(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

void ThrowInsteadOfExit(int) { throw FatalStop{LastLineOf(Console->str())}; }

}  // namespace

// Not std::tmpfile: the Windows C runtime names its temporaries in a fixed
// sequence that every process starts afresh, so test processes run side by
// side open each other's files, and one of them gets no stream at all.
std::FILE* TempStream() {
    static unsigned serial = 0;
    const std::string leaf = "corvane-test-" + std::to_string(ProcessId()) + "-" + std::to_string(++serial);
    const std::string name = (std::filesystem::temp_directory_path() / leaf).string();
#ifdef _WIN32
    return std::fopen(name.c_str(), "w+bD");  // D: removed when closed
#else
    std::FILE* stream = std::fopen(name.c_str(), "w+b");
    if (stream != nullptr) std::remove(name.c_str());
    return stream;
#endif
}

#ifndef _WIN32
std::FILE* ReadStreamOver(const Bytes& data) {
    static std::uint8_t none = 0;
    void* bytes = data.empty() ? &none : const_cast<std::uint8_t*>(data.data());
    return fmemopen(bytes, data.size(), "rb");
}

std::FILE* OpenSink(MemorySink& sink) {
    sink.stream = open_memstream(&sink.buffer, &sink.size);
    return sink.stream;
}

Bytes SinkBytes(MemorySink& sink) {
    std::fflush(sink.stream);
    return Bytes(sink.buffer, sink.buffer + sink.size);
}

void FreeSink(MemorySink& sink) {
    if (sink.stream != nullptr) std::fclose(sink.stream);
    std::free(sink.buffer);
    sink = MemorySink{};
}
#else
// Windows has no streams in memory; files of the process's own serve.
std::FILE* ReadStreamOver(const Bytes& data) {
    std::FILE* stream = TempStream();
    if (stream == nullptr) return nullptr;
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), stream);
    std::rewind(stream);
    return stream;
}

std::FILE* OpenSink(MemorySink& sink) {
    sink.stream = TempStream();
    return sink.stream;
}

Bytes SinkBytes(MemorySink& sink) {
    Bytes bytes = ContentsOf(sink.stream);
    std::fseek(sink.stream, 0, SEEK_END);
    return bytes;
}

void FreeSink(MemorySink& sink) {
    if (sink.stream != nullptr) std::fclose(sink.stream);
    sink = MemorySink{};
}
#endif

Bytes ContentsOf(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    Bytes data;
    std::uint8_t block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, stream)) > 0;)
        data.insert(data.end(), block, block + got);
    return data;
}

std::string WithFatalThrowing(void (*call)(void*), void* context) {
    std::ostringstream console;
    Console = &console;
    std::streambuf* shown = std::cout.rdbuf(console.rdbuf());
    void (*previousExit)(int) = FatalExit;
    FatalExit = ThrowInsteadOfExit;
    try {
        call(context);
    } catch (...) {
        FatalExit = previousExit;
        std::cout.rdbuf(shown);
        Console = nullptr;
        throw;
    }
    FatalExit = previousExit;
    std::cout.rdbuf(shown);
    Console = nullptr;
    return console.str();
}
