#pragma once
// Test support shared by the unit tests, the fuzz targets and the end-to-end
// tests: byte streams that live only as long as a test needs them, and Fatal
// turned into an exception for drivers that must go on after a refusal.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A new, empty read-write stream on a file of this process's own, gone once
// the stream is closed; null when none can be made.
std::FILE* TempStream();

// A read stream over the bytes, positioned at the first; the bytes must
// outlive it. Kept in memory where the platform allows.
std::FILE* ReadStreamOver(const Bytes& data);

// A write stream whose bytes can be taken back, kept in memory where the
// platform allows.
struct MemorySink {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = nullptr;
};
std::FILE* OpenSink(MemorySink& sink);
// Flushes and returns the bytes written so far.
Bytes SinkBytes(MemorySink& sink);
void FreeSink(MemorySink& sink);

// Everything from the start of the stream to its end; leaves it at the end.
Bytes ContentsOf(std::FILE* stream);

// Thrown in place of the exit that Fatal would make, with Fatal's message.
struct FatalStop {
    std::string message;
};

// Runs the call with Fatal throwing FatalStop and with standard output
// collected rather than shown; returns what was printed.
std::string WithFatalThrowing(void (*call)(void*), void* context);
