// The Windows definitions of the platform layer.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/platform.h"

namespace {

// True when the stream is a console, not a file, a pipe or the NUL device.
bool IsConsole(std::FILE* stream) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// A locked file that its last user removed is "delete pending": it can be
// neither opened again nor rewritten, so a lock on it guards nothing.
bool DeletePending(HANDLE file) {
    FILE_STANDARD_INFO info{};
    return GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) && info.DeletePending;
}

}  // namespace

// The command interpreter's title and pause commands act on the console, so
// a run whose output or input is redirected skips them, as on POSIX.
void SetConsoleTitleText() {
    if (IsConsole(stdout)) std::system("title Corvane");
}

void WaitForKeyPress() {
    if (IsConsole(stdin)) std::system("pause");
}

// A library that cannot be loaded is reported by the caller, never by a
// system dialog box.
LibraryHandle OpenLibrary(const std::string& fileName) {
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE library = LoadLibraryA(fileName.c_str());
    SetThreadErrorMode(previousMode, nullptr);
    return reinterpret_cast<LibraryHandle>(library);
}

void* FindEntryPoint(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library) { FreeLibrary(static_cast<HMODULE>(library)); }

void ExitImmediately(int status) { _exit(status); }

// Windows byte-range locks are mandatory, so the lock covers one byte far
// beyond any data: it excludes other lockers without blocking reads and writes.
static constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;

LockResult LockFileExclusive(const std::string& name, FileLock& lock) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return LockResult::Failed;
        OVERLAPPED where{};
        where.OffsetHigh = LockOffsetHigh;
        if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where)) {
            CloseHandle(file);
            return LockResult::Busy;
        }
        if (!DeletePending(file)) {
            lock.handle = reinterpret_cast<long long>(file);
            return LockResult::Locked;
        }
        CloseHandle(file);
    }
    return LockResult::Failed;
}

bool TruncateLockedFile(const FileLock& lock) {
    HANDLE file = reinterpret_cast<HANDLE>(lock.handle);
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

void ReleaseFileLock(FileLock& lock) {
    if (lock.handle == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
    lock.handle = -1;
}

std::FILE* CreateNewFile(const std::string& name) {
    int fd = -1;
    if (_sopen_s(&fd, name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYNO,
                 _S_IREAD | _S_IWRITE) != 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
    return file;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// The read-only attribute is the one permission a Windows file carries
// itself; access rights come from the folder.
void CopyPermissions(const std::string& from, const std::string& to) {
    DWORD source = GetFileAttributesA(from.c_str());
    DWORD target = GetFileAttributesA(to.c_str());
    if (source == INVALID_FILE_ATTRIBUTES || target == INVALID_FILE_ATTRIBUTES) return;
    DWORD others = target & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL);
    DWORD readOnly = source & FILE_ATTRIBUTE_READONLY;
    SetFileAttributesA(to.c_str(), (others | readOnly) != 0 ? others | readOnly : FILE_ATTRIBUTE_NORMAL);
}

// Device names such as NUL are no files the C library can examine; only
// the handle they open tells.
bool IsDevice(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD type = GetFileType(file);
    CloseHandle(file);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

bool IsTerminal(std::FILE* stream) { return IsConsole(stream); }

void WriteToStandardError(const char* bytes, std::size_t length) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes, static_cast<DWORD>(length), &written, nullptr);
}

long long RegularFileSize(std::FILE* stream) {
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) return -1;
    return static_cast<long long>(size.QuadPart);
}

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }
