#include "platform/platform.h"

#include <cstdlib>
#include <iostream>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#ifdef _WIN32

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

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

#else

void SetConsoleTitleText() {
    if (isatty(STDOUT_FILENO)) std::cout << "\033]0;Corvane\007" << std::flush;
}

void WaitForKeyPress() {
    if (!isatty(STDIN_FILENO)) return;
    std::cout << "Press any key to continue . . ." << std::flush;
    termios saved{};
    bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        termios single = saved;
        single.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        single.c_cc[VMIN] = 1;
        single.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &single);
    }
    char key = 0;
    [[maybe_unused]] ssize_t got = read(STDIN_FILENO, &key, 1);
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cout << '\n' << std::flush;
}

LibraryHandle OpenLibrary(const std::string& fileName) {
    return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(LibraryHandle library, const char* name) { return dlsym(library, name); }

void CloseLibrary(LibraryHandle library) { dlclose(library); }

void ExitImmediately(int status) { _exit(status); }

// True when the name still refers to the file open on the descriptor: a
// holder may remove the file between our open and our lock.
static bool StillNamed(int fd, const std::string& name) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && stat(name.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

LockResult LockFileExclusive(const std::string& name, FileLock& lock) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return LockResult::Failed;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return LockResult::Busy;
        }
        if (StillNamed(fd, name)) {
            lock.handle = fd;
            return LockResult::Locked;
        }
        close(fd);
    }
    return LockResult::Failed;
}

bool TruncateLockedFile(const FileLock& lock) { return ftruncate(static_cast<int>(lock.handle), 0) == 0; }

void ReleaseFileLock(FileLock& lock) {
    if (lock.handle == -1) return;
    close(static_cast<int>(lock.handle));
    lock.handle = -1;
}

std::FILE* CreateNewFile(const std::string& name) {
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
    return file;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void CopyPermissions(const std::string& from, const std::string& to) {
    struct stat info {};
    if (stat(from.c_str(), &info) == 0) chmod(to.c_str(), info.st_mode & 07777);
}

bool IsDevice(const std::string& name) {
    struct stat info {};
    return stat(name.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ||
                                              S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

long ProcessId() { return static_cast<long>(getpid()); }

#endif

void ExitNormally(int status) { std::exit(status); }
