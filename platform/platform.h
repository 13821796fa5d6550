#pragma once
// The platform layer: the only place that talks to the operating system
// directly. Every function here has a POSIX definition
// (platform_posix.cpp) and a Windows one (platform_windows.cpp); the rest of
// the program is portable C++. It knows nothing of the program's files or
// format.
#include <cstddef>
#include <cstdint>
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

// An exclusive, non-blocking lock on a temporary file of this user's. The
// file is opened once, never through a symbolic link, and created readable
// and writable by its owner only when missing; it is never truncated here.
// An existing file is used only when it is a regular file with one link,
// owned by the user running the program and closed to everyone else (on
// POSIX; Windows checks the kind and the links); otherwise it is Refused
// and `refusal` says why, in words that follow "it" ("is a symbolic link").
// Held until ReleaseFileLock or the end of the process.
enum class LockResult { Locked, Busy, Failed, Refused };
struct FileLock {
    long long handle = -1;
    std::string refusal;
};
LockResult LockFileExclusive(const std::string& name, FileLock& lock);
bool TruncateLockedFile(const FileLock& lock);
// A stream on the locked file itself: for writing where the file stands, or
// for reading from its start. Closing the stream keeps the lock. Null on
// failure.
std::FILE* OpenLockedForWriting(const FileLock& lock);
std::FILE* OpenLockedForReading(const FileLock& lock);
// Removes the locked file under its name, only while that name still leads
// to it.
void RemoveLockedFile(const std::string& name, const FileLock& lock);
void ReleaseFileLock(FileLock& lock);

// Creates a file that must not exist yet, readable and writable by its
// owner only, and opens it for binary writing. Returns null when the file
// exists or cannot be created.
std::FILE* CreateNewFile(const std::string& name);

// Renames `from` onto `to`, replacing an existing `to` in one step.
bool ReplaceFileWith(const std::string& from, const std::string& to);

// What the program passes on from one file to the one made from it.
struct FileTime {
    long long seconds = 0;  // since 1970-01-01 UTC
    long nanoseconds = 0;
};
struct FileFacts {
    bool regular = false;  // a regular file, not a folder, device or pipe
    long long size = 0;
    unsigned permissions = 0;  // the 0777 bits; on Windows 0444 when read-only, else 0666
    FileTime accessed;
    FileTime modified;
};
// The facts of the file open on the stream; of the file a name leads to.
bool FactsOfOpenFile(std::FILE* stream, FileFacts& facts);
bool FactsOfNamedFile(const std::string& name, FileFacts& facts);
// Gives the file open on the stream these permission bits (0777 at most:
// never setuid, setgid or sticky) and the access and modification times of
// `times`. Best effort: a file system without them keeps its own.
void StampFile(std::FILE* stream, unsigned permissions, const FileFacts& times);
// Flushes the stream and makes its file's data durable; makes the folder
// that holds the name durable (a rename in it, say).
bool SyncToDisk(std::FILE* stream);
// Asks the file system to set aside `size` bytes for the file open on the
// stream, without changing its size, so that writing it later allocates
// nothing. Only a hint: where it is not supported or fails, nothing changes.
void ReserveSpace(std::FILE* stream, std::uint64_t size);
bool SyncFolderOf(const std::string& name);

// The place an output is written: the folder that holds its final name,
// pinned once (POSIX: an O_DIRECTORY descriptor, so that no later step
// looks the folder up by name again; Windows: its path), and the final name
// within it. A symbolic link at the name is followed, link by link, only
// when it belongs to the user running the program or to root; the place is
// then the folder and name it leads to, so that the file there is replaced
// and the link stays. A link that leads nowhere is itself replaced.
struct OutputPlace {
    long long folder = -1;     // POSIX descriptor of the pinned folder
    std::string folderName;    // that folder as reached, "" for the working folder
    std::string leaf;          // the final name within the folder
    bool replacing = false;    // a regular file of that name exists and is replaced
    unsigned permissions = 0;  // its permission bits, which the output keeps
    std::string refusal;       // Refused: why, in words that follow "it" ("is a FIFO")
};
// Temporary: a regular file is written under a temporary name in the
// place's folder and renamed onto the leaf. Direct: `direct` is open on what
// stands at the name (only for a name the user typed: a device as its
// permissions allow, a FIFO or socket of the user's own). Refused: something
// else stands there (a FIFO, socket, device or folder at a derived name, a
// link of another user); nothing was opened for writing and nothing blocks:
// a FIFO is opened only without waiting, and one without a reader is
// refused too. Failed: the name cannot be used (missing folder, no write
// permission).
enum class PlaceResult { Temporary, Direct, Refused, Failed };
PlaceResult PlaceOutput(const std::string& name, bool typed, OutputPlace& place, std::FILE*& direct);
// A new file of that name in the place's folder, readable and writable by its
// owner only; null when it exists or cannot be created.
std::FILE* CreateFileIn(const OutputPlace& place, const std::string& leaf);
// Renames `leaf` onto the place's final name, both within the pinned folder,
// replacing what stands there in one step.
bool RenameOntoPlace(const OutputPlace& place, const std::string& leaf);
// Removes `leaf` from the place's folder, only while it is the file open on
// `file` (null: whatever stands there).
void RemoveFromPlace(const OutputPlace& place, const std::string& leaf, std::FILE* file);
// Closes the stream and removes the file of that name, itself and not what
// a link there leads to, only while it is the file the stream was open on.
void RemoveAndClose(const std::string& name, std::FILE*& file);
// Makes the place's folder durable (a rename in it).
bool SyncPlace(const OutputPlace& place);
void ReleasePlace(OutputPlace& place);

// True when the name opens a device or a pipe rather than a file or a
// folder: /dev/null or a FIFO on POSIX, NUL or CON on Windows.
bool IsDevice(const std::string& name);

// True when the stream is a terminal (on Windows a console).
bool IsTerminal(std::FILE* stream);

// How many columns the terminal on the stream has now, 0 when it is none or
// does not say.
int TerminalColumns(std::FILE* stream);

// Writes the bytes to standard error with one system call; safe in a signal
// handler.
void WriteToStandardError(const char* bytes, std::size_t length);

// The size of the regular file open on the stream, or -1 for anything else
// (a pipe, a device).
long long RegularFileSize(std::FILE* stream);
// The bytes the file system has given the regular file open on the stream,
// which a sparse file's holes do not take (on Windows, where nothing is
// reserved, its size); -1 for anything else.
long long AllocatedFileBytes(std::FILE* stream);

// The control characters a terminal acts on when the stream is one: none
// (not a terminal), C0 and DEL (a Windows console), or C0, DEL and C1 (a
// POSIX terminal).
enum class TerminalControls { None, C0, C0AndC1 };
TerminalControls ControlsActedOn(std::FILE* stream);

// Interrupts: Ctrl-C, a hang-up, a request to terminate or quit, a broken
// pipe or an exceeded file size limit (on Windows: a console control
// event). Once EndRunOnInterrupts has run, an interrupt removes every file
// named in a slot while the name still leads to the file it was given with,
// gives the terminal back its settings if a key wait had changed them, and
// then ends the process by the interrupt itself. A signal that was ignored
// when the program started stays ignored. Names longer than 4095 bytes are
// not kept.
inline constexpr int InterruptSlots = 4;
// Run first when an interrupt ends the run; only async-signal-safe work.
extern void (*InterruptHook)();
void EndRunOnInterrupts();
void RemoveOnInterrupt(int slot, const std::string& name, std::FILE* file);
void RemoveOnInterrupt(int slot, const std::string& name, const FileLock& lock);
// The same for a file in an output's pinned folder.
void RemoveOnInterrupt(int slot, const OutputPlace& place, const std::string& leaf, std::FILE* file);
void KeepOnInterrupt(int slot);

// Copies bytes from the input's position onwards to the output's position
// inside the kernel, without passing them through the program, until the
// input ends or the kernel cannot go on (another file system, an error).
// Both streams must have nothing buffered. Returns how many bytes were
// copied; the caller copies whatever is left the ordinary way, which also
// reports any error. Where the platform has no such copy, it copies nothing.
std::uint64_t CopyInKernel(std::FILE* in, std::FILE* out);

// Process id, for unique temporary names.
long ProcessId();
