#pragma once
// The platform layer: the only place that talks to the operating system
// directly. Every function here has a POSIX definition
// (platform_posix.cpp) and a Windows one (platform_windows.cpp); the rest of
// the program is portable C++. It knows nothing of the program's files or
// format.
#include <cstddef>
#include <cstdio>
#include <string>

// Sets the console window title to "Corvane". On POSIX the terminal title is
// set only when standard output is a terminal; otherwise nothing is written.
void SetConsoleTitleText();

// Waits for one key press after a file was shown on the console. Returns at
// once when standard input is not a terminal or has ended.
void WaitForKeyPress();

// Dynamic libraries, looked up by file name the platform's usual way.
using LibraryHandle = void*;
LibraryHandle OpenLibrary(const std::string& fileName);         // null on failure
void* FindEntryPoint(LibraryHandle library, const char* name);  // null when missing
void CloseLibrary(LibraryHandle library);

// Process end: ExitNormally runs exit-time clean-up (flushes C streams),
// ExitImmediately skips it.
[[noreturn]] void ExitNormally(int status);
[[noreturn]] void ExitImmediately(int status);

// An exclusive, non-blocking lock on a file that is created when missing and
// never truncated here. Held until ReleaseFileLock or the end of the process.
enum class LockResult { Locked, Busy, Failed };
struct FileLock {
    long long handle = -1;
};
LockResult LockFileExclusive(const std::string& name, FileLock& lock);
bool TruncateLockedFile(const FileLock& lock);
void ReleaseFileLock(FileLock& lock);

// Creates a file that must not exist yet and opens it for binary writing.
// Returns null when the file exists or cannot be created.
std::FILE* CreateNewFile(const std::string& name);

// Renames `from` onto `to`, replacing an existing `to` in one step.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// Gives `to` the access permissions of the existing file `from`.
void CopyPermissions(const std::string& from, const std::string& to);

// True when the name opens a device or a pipe rather than a file or a
// folder: /dev/null or a FIFO on POSIX, NUL or CON on Windows.
bool IsDevice(const std::string& name);

// True when the stream is a terminal (on Windows a console).
bool IsTerminal(std::FILE* stream);

// Writes the bytes to standard error with one system call; safe in a signal
// handler.
void WriteToStandardError(const char* bytes, std::size_t length);

// The size of the regular file open on the stream, or -1 for anything else
// (a pipe, a device).
long long RegularFileSize(std::FILE* stream);

// Process id, for unique temporary names.
long ProcessId();
