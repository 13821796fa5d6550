// The POSIX definitions of the platform layer.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "platform/platform.h"

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

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void WriteToStandardError(const char* bytes, std::size_t length) {
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, bytes, length);
}

long long RegularFileSize(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

long ProcessId() { return static_cast<long>(getpid()); }
