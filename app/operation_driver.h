#pragma once
// The application shell: one compression or one extraction per process.
#include <cstddef>
#include <cstdio>
#include <string>

#include "app/output_file.h"
#include "platform/platform.h"

// The three shared file streams. SelectFiles opens them, RunOperation closes
// them. SourceStream reads the source (compressing) or the compressed file
// (extracting); DataSink receives "tmptree2" (compressing) or the extracted
// output; HeaderSink receives "tmptree1" (compressing only).
extern std::FILE* SourceStream;
extern std::FILE* DataSink;
extern std::FILE* HeaderSink;

// Names chosen by SelectFiles.
extern std::string SourceName;
extern std::string OutputName;

// The two halves of a compressed file while it is being made: the payload
// and the header part. A compression holds a lock on each until it has
// removed them.
inline constexpr const char* PayloadTempName = "tmptree2";
inline constexpr const char* HeaderTempName = "tmptree1";
extern FileLock TempLocks[2];

// The extracted file, written under a temporary name until complete.
extern OutputFile ExtractOutput;

// True when a small compressed text file is shown on the console instead of
// being written to a file.
extern bool displayMode;

// Mode: 0 asks the user, 1 compresses, 2 extracts.
void RunOperation(int mode, const std::string& path);

// Prints the message and a line end on standard output, removes a
// half-written output file, and ends the process with status 1.
[[noreturn]] void Fatal(const std::string& message);

// How Fatal ends the process, after its message and clean-up: ExitNormally.
// Only test harnesses replace it (a fuzz target throws instead); a
// replacement must not return.
extern void (*FatalExit)(int status);

// Writes the text and a line end to standard output, then flushes.
void PrintLine(const std::string& text);

// Reads up to `size` bytes; a read error (not end of file) is fatal with
// "Read error.". Returns the number of bytes delivered.
std::size_t ReadBytes(std::FILE* in, void* buffer, std::size_t size);

// Writes all `size` bytes or stops the program with "Write error.".
void WriteBytes(std::FILE* out, const void* data, std::size_t size);

// True when the stream has no more bytes; peeks one byte when needed, so it
// also answers right after a read that exactly filled its buffer.
bool AtEndOfFile(std::FILE* in);
