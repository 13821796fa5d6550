// The POSIX definitions of the platform layer.
#include <dlfcn.h>
#include <fcntl.h>
#include <glob.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <vector>

#include "platform/platform.h"

// The configured library folder (GNUInstallDirs) and multiarch name.
#ifndef CORVANE_INSTALL_LIBDIR
#define CORVANE_INSTALL_LIBDIR "lib"
#endif
#ifndef CORVANE_MULTIARCH
#define CORVANE_MULTIARCH ""
#endif

namespace {

// The terminal's settings while a key wait has changed them, so that an
// interrupt can give them back.
termios settingsBeforeKeyWait{};
volatile std::sig_atomic_t keyWaitChangedTerminal = 0;

}  // namespace

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
        settingsBeforeKeyWait = saved;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        keyWaitChangedTerminal = 1;
        tcsetattr(STDIN_FILENO, TCSANOW, &single);
    }
    char key = 0;
    [[maybe_unused]] ssize_t got = read(STDIN_FILENO, &key, 1);
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    keyWaitChangedTerminal = 0;
    std::cout << '\n' << std::flush;
}

namespace {

// The folder of the running program, empty when it cannot be told.
std::string ProgramFolder() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    const std::string program(path, static_cast<std::size_t>(length));
    const std::size_t end = program.find_last_of('/');
    return end == std::string::npos || end == 0 ? "" : program.substr(0, end);
}

bool IsAbsolute(const std::string& folder) { return !folder.empty() && folder[0] == '/'; }

// The absolute entries of a list separated by any of `separators`.
void AddAbsoluteEntries(const std::string& list, const char* separators, std::vector<std::string>& folders) {
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find_first_of(separators, start);
        if (end == std::string::npos) end = list.size();
        const std::string entry = list.substr(start, end - start);
        if (IsAbsolute(entry)) folders.push_back(entry);
        start = end + 1;
    }
}

// The folders of a file in the format of /etc/ld.so.conf: folder names
// separated by blanks, line ends, colons or commas, "#" comments, and
// "include PATTERN" lines (a relative pattern is taken from the file's own
// folder). "hwcap" lines are skipped. Includes go at most 8 deep.
void AddConfiguredFolders(const std::string& file, int depth, std::vector<std::string>& folders) {
    std::FILE* in = depth < 8 ? std::fopen(file.c_str(), "re") : nullptr;
    if (in == nullptr) return;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, in) != nullptr) {
        std::string line = buffer;
        line = line.substr(0, line.find('#'));
        const std::size_t first = line.find_first_not_of(" \t\r\n");
        if (first == std::string::npos) continue;
        line = line.substr(first);
        if (line.rfind("include", 0) == 0 && line.size() > 7 && (line[7] == ' ' || line[7] == '\t')) {
            const std::string own = file.substr(0, file.find_last_of('/') + 1);
            for (std::size_t start = 8; start < line.size();) {
                std::size_t end = line.find_first_of(" \t\r\n", start);
                if (end == std::string::npos) end = line.size();
                const std::string pattern = line.substr(start, end - start);
                start = end + 1;
                if (pattern.empty()) continue;
                glob_t found{};
                const std::string full = IsAbsolute(pattern) ? pattern : own + pattern;
                if (glob(full.c_str(), 0, nullptr, &found) == 0)
                    for (std::size_t k = 0; k < found.gl_pathc; ++k)
                        AddConfiguredFolders(found.gl_pathv[k], depth + 1, folders);
                globfree(&found);
            }
        } else if (line.rfind("hwcap", 0) != 0) {
            AddAbsoluteEntries(line, " \t\r\n:,", folders);
        }
    }
    std::fclose(in);
}

// The first of the folders that holds a regular file of the name; a folder
// already in `tried` is skipped, and each one looked in is added to it.
bool FindInFolders(const std::vector<std::string>& folders, const std::string& fileName,
                   std::vector<std::string>& tried, std::string& found) {
    for (const std::string& folder : folders) {
        if (std::find(tried.begin(), tried.end(), folder) != tried.end()) continue;
        tried.push_back(folder);
        const std::string candidate = folder + "/" + fileName;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            found = candidate;
            return true;
        }
    }
    return false;
}

// Where a bare library name is looked for, in this order: the absolute
// entries of LD_LIBRARY_PATH, the program's own folder, the installed
// plug-in folder beside it (<program folder>/../LIBDIR/corvane), then the
// system's library folders (those of /etc/ld.so.conf, then /usr/local/lib,
// /usr/lib/<multiarch>, /lib/<multiarch>, /usr/lib, /lib), read only when
// the others lack it. Never a relative or empty entry, never the working
// folder. Empty when it is nowhere.
std::string FindLibrary(const std::string& fileName) {
    std::string found;
    std::vector<std::string> folders;
    std::vector<std::string> tried;
    if (const char* searched = std::getenv("LD_LIBRARY_PATH")) AddAbsoluteEntries(searched, ":;", folders);
    const std::string program = ProgramFolder();
    if (!program.empty()) {
        folders.push_back(program);
        const std::string installed = CORVANE_INSTALL_LIBDIR;
        folders.push_back(IsAbsolute(installed) ? installed + "/corvane"
                                                : program + "/../" + installed + "/corvane");
    }
    if (FindInFolders(folders, fileName, tried, found)) return found;
    folders.clear();
    AddConfiguredFolders("/etc/ld.so.conf", 0, folders);
    const std::string multiarch = CORVANE_MULTIARCH;
    folders.push_back("/usr/local/lib");
    if (!multiarch.empty()) {
        folders.push_back("/usr/lib/" + multiarch);
        folders.push_back("/lib/" + multiarch);
    }
    folders.push_back("/usr/lib");
    folders.push_back("/lib");
    FindInFolders(folders, fileName, tried, found);
    return found;
}

}  // namespace

// A bare name is looked up by FindLibrary, a path is taken as it is. What the
// library needs is found the loader's usual way.
LibraryHandle OpenLibrary(const std::string& fileName) {
    const std::string path = fileName.find('/') != std::string::npos ? fileName : FindLibrary(fileName);
    return path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(LibraryHandle library, const char* name) { return dlsym(library, name); }

void CloseLibrary(LibraryHandle library) { dlclose(library); }

void ExitImmediately(int status) { _exit(status); }

namespace {

bool SameFile(const struct stat& first, const struct stat& second) {
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// True when the name, itself and not what a link at it leads to, is still
// the file open on the descriptor: a holder may remove the file between our
// open and our lock.
bool StillNamed(int fd, const std::string& name) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(name.c_str(), &named) == 0 && SameFile(opened, named);
}

const std::string RemovedWhileOpened = "was removed while it was being opened";

// Why an open file may not serve as this user's temporary; empty when it may.
std::string TemporaryRefusal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return "cannot be examined";
    if (!S_ISREG(info.st_mode)) return "is not a regular file";
    if (info.st_uid != geteuid()) return "belongs to another user";
    if (info.st_nlink == 0) return RemovedWhileOpened;
    if (info.st_nlink != 1) return "has other links";
    if ((info.st_mode & 077) == 0) return "";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    return std::string("may be used by others (mode ") + mode + ")";
}

LockResult OpenTemporary(const std::string& name, int& fd, std::string& refusal) {
    fd = open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ELOOP) refusal = "is a symbolic link";
    if (fd < 0) return errno == ELOOP ? LockResult::Refused : LockResult::Failed;
    refusal = TemporaryRefusal(fd);
    if (refusal.empty()) return LockResult::Locked;
    close(fd);
    return LockResult::Refused;
}

}  // namespace

// A file another run removed between our open and our look at it is not
// refused at once: the name is opened again, as when a holder removed it
// between our open and our lock.
LockResult LockFileExclusive(const std::string& name, FileLock& lock) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = -1;
        LockResult opened = OpenTemporary(name, fd, lock.refusal);
        if (opened == LockResult::Refused && lock.refusal == RemovedWhileOpened && attempt < 9) continue;
        if (opened != LockResult::Locked) return opened;
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

// An empty file is left alone: on ext4 a truncation to zero marks the file to
// be written out when it is closed, which costs a temporary milliseconds.
bool TruncateLockedFile(const FileLock& lock) {
    const int fd = static_cast<int>(lock.handle);
    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_size == 0) return true;
    return ftruncate(fd, 0) == 0;
}

namespace {

std::FILE* StreamOnCopy(const FileLock& lock, const char* mode) {
    int copy = fcntl(static_cast<int>(lock.handle), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    std::FILE* stream = fdopen(copy, mode);
    if (!stream) close(copy);
    return stream;
}

}  // namespace

std::FILE* OpenLockedForWriting(const FileLock& lock) { return StreamOnCopy(lock, "wb"); }

std::FILE* OpenLockedForReading(const FileLock& lock) {
    if (lseek(static_cast<int>(lock.handle), 0, SEEK_SET) != 0) return nullptr;
    return StreamOnCopy(lock, "rb");
}

void RemoveLockedFile(const std::string& name, const FileLock& lock) {
    if (lock.handle != -1 && StillNamed(static_cast<int>(lock.handle), name)) unlink(name.c_str());
}

void ReleaseFileLock(FileLock& lock) {
    if (lock.handle == -1) return;
    close(static_cast<int>(lock.handle));
    lock.handle = -1;
}

std::FILE* CreateNewFile(const std::string& name) {
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
    return file;
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

namespace {

FileTime TimeOf(const timespec& time) { return FileTime{time.tv_sec, time.tv_nsec}; }

timespec TimespecOf(const FileTime& time) {
    timespec converted{};
    converted.tv_sec = static_cast<time_t>(time.seconds);
    converted.tv_nsec = time.nanoseconds;
    return converted;
}

FileFacts FactsOf(const struct stat& info) {
    FileFacts facts;
    facts.regular = S_ISREG(info.st_mode);
    facts.size = static_cast<long long>(info.st_size);
    facts.permissions = static_cast<unsigned>(info.st_mode & 0777);
    facts.accessed = TimeOf(info.st_atim);
    facts.modified = TimeOf(info.st_mtim);
    return facts;
}

}  // namespace

bool FactsOfOpenFile(std::FILE* stream, FileFacts& facts) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0) return false;
    facts = FactsOf(info);
    return true;
}

bool FactsOfNamedFile(const std::string& name, FileFacts& facts) {
    struct stat info {};
    if (stat(name.c_str(), &info) != 0) return false;
    facts = FactsOf(info);
    return true;
}

void StampFile(std::FILE* stream, unsigned permissions, const FileFacts& times) {
    const timespec both[2] = {TimespecOf(times.accessed), TimespecOf(times.modified)};
    std::fflush(stream);
    [[maybe_unused]] int changed = fchmod(fileno(stream), static_cast<mode_t>(permissions & 0777));
    [[maybe_unused]] int stamped = futimens(fileno(stream), both);
}

bool SyncToDisk(std::FILE* stream) { return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0; }

// Below this a reservation costs more than it saves.
constexpr std::uint64_t SmallestReservation = std::uint64_t{1} << 20;

void ReserveSpace(std::FILE* stream, std::uint64_t size) {
#if defined(__linux__)
    if (size >= SmallestReservation && size <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        (void)fallocate(fileno(stream), FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
#else
    (void)stream;
    (void)size;
#endif
}

bool SyncFolderOf(const std::string& name) {
    std::string folder = std::filesystem::path(name).parent_path().string();
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

namespace {

// The folder part and the final name of a path: "a/b" gives "a" and "b",
// "b" gives "" and "b", "/b" gives "/" and "b"; a path ending in a slash has
// no final name.
void SplitPath(const std::string& path, std::string& folder, std::string& leaf) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        folder.clear();
        leaf = path;
        return;
    }
    folder = path.substr(0, slash == 0 ? 1 : slash);
    leaf = path.substr(slash + 1);
}

int OpenFolder(int at, const std::string& folder) {
    return openat(at, folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string KindOf(mode_t mode) {
    if (S_ISFIFO(mode)) return "is a FIFO";
    if (S_ISSOCK(mode)) return "is a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
    if (S_ISDIR(mode)) return "is a folder";
    return "is not a regular file";
}

// The folder a link's target lies in, as reached from the link's own folder.
std::string JoinedFolder(const std::string& from, const std::string& to) {
    if (!to.empty() && to[0] == '/') return to;
    if (from.empty()) return to;
    if (to.empty()) return from;
    return from == "/" ? "/" + to : from + "/" + to;
}

// Opens what stands at the name for writing, without waiting, only while it
// is the file `expected` describes; the stream then blocks as usual.
std::FILE* OpenStandingFile(int folder, const std::string& leaf, int follow, const struct stat& expected,
                            int& error) {
    int fd = openat(folder, leaf.c_str(), O_WRONLY | follow | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    error = errno;
    if (fd < 0) return nullptr;
    struct stat opened {};
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &opened) != 0 || !SameFile(opened, expected) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        error = EAGAIN;
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, "wb");
    if (!stream) close(fd);
    return stream;
}

// What stands at the name is neither a regular file nor a link to follow: a
// name the user typed may be a device, or a FIFO or socket of their own,
// written directly; anything else is refused.
PlaceResult PlaceStandingFile(int folder, const std::string& leaf, int follow, const struct stat& info,
                              bool typed, OutputPlace& place, std::FILE*& direct) {
    const bool device = S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode);
    const bool channel = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    place.refusal = KindOf(info.st_mode);
    if (!typed || !(device || channel)) return PlaceResult::Refused;
    if (channel && info.st_uid != geteuid()) {
        place.refusal += " of another user";
        return PlaceResult::Refused;
    }
    int error = 0;
    direct = OpenStandingFile(folder, leaf, follow, info, error);
    if (direct) return PlaceResult::Direct;
    if (S_ISFIFO(info.st_mode) && error == ENXIO) {
        place.refusal += " with no reader";
        return PlaceResult::Refused;
    }
    return PlaceResult::Failed;
}

// A link whose target the walk does not find: replaced itself when it
// truly leads nowhere; a link the system resolves otherwise (/dev/stdout
// through /proc) is judged by what it leads to.
PlaceResult PlaceDanglingLink(const OutputPlace& original, bool typed, OutputPlace& place,
                              std::FILE*& direct) {
    const int folder = static_cast<int>(original.folder);
    struct stat info {};
    if (fstatat(folder, original.leaf.c_str(), &info, 0) != 0) return PlaceResult::Temporary;
    if (S_ISREG(info.st_mode)) return PlaceResult::Failed;
    return PlaceStandingFile(folder, original.leaf, 0, info, typed, place, direct);
}

}  // namespace

// Each step looks at the name within a pinned folder: the name itself
// through an O_PATH descriptor that never follows it, its owner and kind
// from that descriptor, a link's target through readlinkat on it, and the
// folder a link leads into is pinned before the name within it is looked at.
PlaceResult PlaceOutput(const std::string& name, bool typed, OutputPlace& place, std::FILE*& direct) {
    direct = nullptr;
    std::string folderName;
    std::string leaf;
    SplitPath(name, folderName, leaf);
    if (leaf.empty()) return PlaceResult::Failed;
    const int first = OpenFolder(AT_FDCWD, folderName);
    if (first < 0) return PlaceResult::Failed;
    place.folder = first;
    place.folderName = folderName;
    place.leaf = leaf;
    int folder = first;
    auto settle = [&](PlaceResult result, bool atTarget) {
        if (atTarget && folder != first) {
            close(first);
            place.folder = folder;
            place.folderName = folderName;
            place.leaf = leaf;
        } else if (folder != first) {
            close(folder);
        }
        return result;
    };
    for (int hop = 0; hop < 40; ++hop) {
        const int at = openat(folder, leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (at < 0 && errno == ENOENT && hop == 0) return settle(PlaceResult::Temporary, true);
        if (at < 0 && errno == ENOENT) return settle(PlaceDanglingLink(place, typed, place, direct), false);
        if (at < 0) return settle(PlaceResult::Failed, false);
        struct stat info {};
        const bool examined = fstat(at, &info) == 0;
        if (examined && S_ISLNK(info.st_mode) && info.st_uid != geteuid() && info.st_uid != 0) {
            close(at);
            place.refusal = "is a link of another user";
            return settle(PlaceResult::Refused, false);
        }
        char target[4096];
        const ssize_t length =
            examined && S_ISLNK(info.st_mode) ? readlinkat(at, "", target, sizeof target - 1) : 0;
        close(at);
        if (!examined || length < 0) return settle(PlaceResult::Failed, false);
        if (S_ISREG(info.st_mode)) {
            // Only a file that could have been written is replaced.
            if (faccessat(folder, leaf.c_str(), W_OK, AT_EACCESS) != 0)
                return settle(PlaceResult::Failed, false);
            place.replacing = true;
            place.permissions = static_cast<unsigned>(info.st_mode & 0777);
            return settle(PlaceResult::Temporary, true);
        }
        if (!S_ISLNK(info.st_mode))
            return settle(PlaceStandingFile(folder, leaf, O_NOFOLLOW, info, typed, place, direct), false);
        std::string targetFolder;
        std::string targetLeaf;
        SplitPath(std::string(target, static_cast<std::size_t>(length)), targetFolder, targetLeaf);
        if (targetLeaf.empty()) return settle(PlaceResult::Failed, false);
        const int next = OpenFolder(folder, targetFolder);
        if (next < 0 && errno == ENOENT) return settle(PlaceDanglingLink(place, typed, place, direct), false);
        if (next < 0) return settle(PlaceResult::Failed, false);
        if (folder != first) close(folder);
        folder = next;
        folderName = JoinedFolder(folderName, targetFolder);
        leaf = targetLeaf;
    }
    return settle(PlaceResult::Failed, false);
}

std::FILE* CreateFileIn(const OutputPlace& place, const std::string& leaf) {
    int fd = openat(static_cast<int>(place.folder), leaf.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
    return file;
}

bool RenameOntoPlace(const OutputPlace& place, const std::string& leaf) {
    const int folder = static_cast<int>(place.folder);
    return renameat(folder, leaf.c_str(), folder, place.leaf.c_str()) == 0;
}

void RemoveFromPlace(const OutputPlace& place, const std::string& leaf, std::FILE* file) {
    struct stat named {};
    struct stat opened {};
    const int folder = static_cast<int>(place.folder);
    if (file != nullptr && fstat(fileno(file), &opened) == 0 &&
        (fstatat(folder, leaf.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !SameFile(opened, named)))
        return;
    unlinkat(folder, leaf.c_str(), 0);
}

void RemoveAndClose(const std::string& name, std::FILE*& file) {
    if (file == nullptr) return;
    if (StillNamed(fileno(file), name)) unlink(name.c_str());
    std::fclose(file);
    file = nullptr;
}

bool SyncPlace(const OutputPlace& place) { return fsync(static_cast<int>(place.folder)) == 0; }

void ReleasePlace(OutputPlace& place) {
    if (place.folder >= 0) close(static_cast<int>(place.folder));
    place.folder = -1;
}

bool IsDevice(const std::string& name) {
    struct stat info {};
    return stat(name.c_str(), &info) == 0 && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ||
                                              S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
    winsize size{};
    return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void WriteToStandardError(const char* bytes, std::size_t length) {
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, bytes, length);
}

long long RegularFileSize(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

long long AllocatedFileBytes(std::FILE* stream) {
    struct stat info {};
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_blocks) * 512;
}

TerminalControls ControlsActedOn(std::FILE* stream) {
    return IsTerminal(stream) ? TerminalControls::C0AndC1 : TerminalControls::None;
}

namespace {

// A file an interrupt removes: its name, kept beforehand in a fixed buffer,
// and what it was when it was given, so that the handler does only
// async-signal-safe work and never removes another file of the same name.
struct InterruptEntry {
    volatile std::sig_atomic_t active = 0;
    int folder = AT_FDCWD;
    dev_t device = 0;
    ino_t inode = 0;
    char name[4096] = {};
};
InterruptEntry interruptEntries[InterruptSlots];

}  // namespace

void (*InterruptHook)() = nullptr;

namespace {

constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

void RemoveIfStillThere(const InterruptEntry& entry) {
    struct stat named {};
    if (entry.active && fstatat(entry.folder, entry.name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == entry.device && named.st_ino == entry.inode)
        unlinkat(entry.folder, entry.name, 0);
}

void EndBySignal(int number) {
    if (InterruptHook != nullptr) InterruptHook();
    for (const InterruptEntry& entry : interruptEntries) RemoveIfStillThere(entry);
    if (keyWaitChangedTerminal) tcsetattr(STDIN_FILENO, TCSANOW, &settingsBeforeKeyWait);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(number, &byDefault, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    _exit(128 + number);
}

void Watch(int slot, const std::string& name, int fd, int folder = AT_FDCWD) {
    struct stat info {};
    if (slot < 0 || slot >= InterruptSlots || name.size() >= sizeof interruptEntries[slot].name) return;
    if (fstat(fd, &info) != 0) return;
    InterruptEntry& entry = interruptEntries[slot];
    entry.active = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.folder = folder;
    entry.device = info.st_dev;
    entry.inode = info.st_ino;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    entry.active = 1;
}

}  // namespace

void EndRunOnInterrupts() {
    for (int number : EndingSignals) {
        struct sigaction found {};
        if (sigaction(number, nullptr, &found) != 0 || found.sa_handler == SIG_IGN) continue;
        struct sigaction ending {};
        ending.sa_handler = EndBySignal;
        sigfillset(&ending.sa_mask);
        sigaction(number, &ending, nullptr);
    }
}

void RemoveOnInterrupt(int slot, const std::string& name, std::FILE* file) {
    Watch(slot, name, fileno(file));
}

void RemoveOnInterrupt(int slot, const std::string& name, const FileLock& lock) {
    Watch(slot, name, static_cast<int>(lock.handle));
}

void RemoveOnInterrupt(int slot, const OutputPlace& place, const std::string& leaf, std::FILE* file) {
    Watch(slot, leaf, fileno(file), static_cast<int>(place.folder));
}

void KeepOnInterrupt(int slot) {
    if (slot >= 0 && slot < InterruptSlots) interruptEntries[slot].active = 0;
}

std::uint64_t CopyInKernel(std::FILE* in, std::FILE* out) {
    std::uint64_t copied = 0;
    constexpr std::size_t Step = 1 << 30;
    for (ssize_t moved; (moved = copy_file_range(fileno(in), nullptr, fileno(out), nullptr, Step, 0)) > 0;)
        copied += static_cast<std::uint64_t>(moved);
    return copied;
}

long ProcessId() { return static_cast<long>(getpid()); }
