#pragma once
// Shared input and output: what every layer of the program reads, writes and
// reports through. It owns the three process-wide file streams and the names
// they were opened under, the one error routine and the checked read and
// write helpers. It opens, names and removes no file itself: the shell
// chooses the files (app/) and the coding layers (model/, codec/, format/)
// only read and write the streams they are handed here. Every failure it
// detects is fatal: a message on standard output, then exit status 1.
#include <cstddef>
#include <cstdio>
#include <string>

#include "corvane.h"

// SourceStream reads the source (compressing) or the compressed file
// (extracting); DataSink receives "tmptree2" (compressing) or the extracted
// output; HeaderSink receives "tmptree1" (compressing only). The shell opens
// and closes them.
extern std::FILE* SourceStream;
extern std::FILE* DataSink;
extern std::FILE* HeaderSink;

// The names SourceStream was opened under and the output is written under.
extern std::string SourceName;
extern std::string OutputName;

// Prints the message and a line end on standard output, runs the clean-up
// the shell installed, and ends the process with status 1.
[[noreturn]] void Fatal(const std::string& message);

// What Fatal undoes before the process ends (a half-written output, say);
// set by the shell, null when there is nothing to undo.
extern void (*FatalCleanup)();

// How Fatal ends the process: ExitNormally. Only test harnesses replace it
// (a fuzz target throws instead); a replacement must not return.
extern void (*FatalExit)(int status);

// Hooks of the shell's progress line, null when none is shown: told the size
// of every read of SourceStream (0 for every write, a moment to redraw), and
// called before anything is printed.
extern void (*ProgressHook)(std::size_t sourceBytes);
extern void (*BeforeOutputHook)();

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

// The stream as a reader for the coding layers: a read error gives -1 (the
// layers then give CORVANE_READ_ERROR); reads of SourceStream tell the
// progress hook. No rewind: the shell starts a source again itself.
corvane_reader StreamReader(std::FILE* in);

// The stream as a writer for the coding layers: a short write gives -1
// (CORVANE_WRITE_ERROR); every write is a moment to redraw the progress line.
corvane_writer StreamWriter(std::FILE* out);
