#pragma once
// Shared pieces of the fuzz targets: the process-wide state put back to its
// start-up values, byte streams in memory, and Fatal turned into an exception
// so that a refused input ends one iteration instead of the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Thrown in place of the exit that Fatal would make.
struct FatalStop {
    std::string message;
};

// Installs the throwing FatalExit and sends console output to a buffer.
void PrepareFuzzing();

// Frees the tree and code list, zeroes every table, queue and header field,
// closes the shared streams and clears the console buffer.
void ResetProgramState();

// The last line the program printed (the message of a Fatal), and all of it.
std::string LastConsoleLine();
std::string ConsoleText();
void ClearConsole();

// A read stream over a copy of the bytes (empty data gives an empty stream).
std::FILE* ReadStreamOver(const Bytes& data);

// A write stream whose bytes are collected in memory.
struct MemorySink {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = nullptr;
};
std::FILE* OpenSink(MemorySink& sink);
// Flushes and returns the bytes written so far.
Bytes SinkBytes(MemorySink& sink);
void FreeSink(MemorySink& sink);

// Stops the process loudly, so the fuzzer and the replay driver report it.
[[noreturn]] void Finding(const std::string& what);
#define FUZZ_CHECK(condition, what)      \
    do {                                 \
        if (!(condition)) Finding(what); \
    } while (false)
