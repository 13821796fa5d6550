// The Windows definitions of the platform layer.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

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

namespace {

bool IsAbsoluteFolder(const std::string& folder) {
    const bool drive = folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
    return drive || folder.rfind("\\\\", 0) == 0;
}

std::string FolderOf(const char* path, DWORD length) {
    const std::string full(path, length);
    const std::size_t end = full.find_last_of("\\/");
    return end == std::string::npos ? "" : full.substr(0, end);
}

// The folders a library is looked for in, in the system's order but without
// the working folder: the program's folder, the system folders, then the
// absolute folders of PATH.
std::vector<std::string> LibraryFolders() {
    std::vector<std::string> folders;
    char buffer[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.push_back(FolderOf(buffer, length));
    length = GetSystemDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.emplace_back(buffer, length);
    length = GetWindowsDirectoryA(buffer, MAX_PATH);
    if (length > 0 && length < MAX_PATH) folders.emplace_back(buffer, length);
    const char* path = std::getenv("PATH");
    std::string entries = path != nullptr ? path : "";
    for (std::size_t start = 0, end = 0; start <= entries.size(); start = end + 1) {
        end = std::min(entries.find(';', start), entries.size());
        const std::string folder = entries.substr(start, end - start);
        if (IsAbsoluteFolder(folder)) folders.push_back(folder);
    }
    return folders;
}

// A bare file name is looked for in LibraryFolders(), a path is taken as it
// is. The library's own dependencies are searched from its folder on.
HMODULE LoadOutsideTheWorkingFolder(const std::string& fileName) {
    if (fileName.find_first_of("\\/") != std::string::npos) return LoadLibraryA(fileName.c_str());
    for (const std::string& folder : LibraryFolders()) {
        const std::string candidate = folder + "\\" + fileName;
        if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES)
            return LoadLibraryExA(candidate.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return nullptr;
}

}  // namespace

// A library that cannot be loaded is reported by the caller, never by a
// system dialog box. A library planted in the working folder is never
// loaded: that folder is searched neither for it nor for what it needs.
LibraryHandle OpenLibrary(const std::string& fileName) {
    SetDllDirectoryA("");
    DWORD previousMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE library = LoadOutsideTheWorkingFolder(fileName);
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

namespace {

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string LeafOf(const std::string& path) {
    const std::size_t end = path.find_last_of("\\/");
    return end == std::string::npos ? path : path.substr(end + 1);
}

// True when the file open is the one the name itself stands for. Wine shows
// a Unix symbolic link as the file it leads to, except in the final path.
bool OpenedUnderItsName(HANDLE file, const std::string& name) {
    char opened[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(file, opened, sizeof opened, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof opened) return false;
    return _stricmp(LeafOf(std::string(opened, length)).c_str(), LeafOf(name).c_str()) == 0;
}

// Why an open file may not serve as a temporary; empty when it may. Access
// comes from the folder on Windows, so only the kind and the links count.
std::string TemporaryRefusal(HANDLE file, const std::string& name) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info))
        return "is not a regular file";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !OpenedUnderItsName(file, name))
        return "is a symbolic link";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "is not a regular file";
    if (info.nNumberOfLinks != 1) return "has other links";
    return "";
}

LockResult OpenTemporary(const std::string& name, HANDLE& file, std::string& refusal) {
    file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, ShareAll, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LockResult::Failed;
    refusal = TemporaryRefusal(file, name);
    if (refusal.empty()) return LockResult::Locked;
    CloseHandle(file);
    return LockResult::Refused;
}

// Which file a handle is open on, as the volume and file index tell.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
};

bool IdentityOf(HANDLE file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return false;
    identity = FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// Removes the file of that name, itself and not what a link there leads to,
// only while it is the file of that identity. Its name goes once the last
// handle on it is closed.
void RemoveIfStillNamed(const char* name, const FileIdentity& expected) {
    HANDLE file = CreateFileA(name, DELETE | FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FileIdentity found;
    if (IdentityOf(file, found) && found.volume == expected.volume && found.indexHigh == expected.indexHigh &&
        found.indexLow == expected.indexLow) {
        FILE_DISPOSITION_INFO removal{};
        removal.DeleteFile = TRUE;
        SetFileInformationByHandle(file, FileDispositionInfo, &removal, sizeof removal);
    }
    CloseHandle(file);
}

}  // namespace

LockResult LockFileExclusive(const std::string& name, FileLock& lock) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        HANDLE file = INVALID_HANDLE_VALUE;
        LockResult opened = OpenTemporary(name, file, lock.refusal);
        if (opened != LockResult::Locked) return opened;
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

namespace {

// A C stream on a handle of its own; closing the stream closes only that
// handle.
std::FILE* StreamOnHandle(HANDLE file, int flags, const char* mode) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, mode);
    if (!stream) _close(fd);
    return stream;
}

std::FILE* StreamOnCopy(const FileLock& lock, int flags, const char* mode) {
    HANDLE copy = nullptr;
    HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, reinterpret_cast<HANDLE>(lock.handle), process, &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return StreamOnHandle(copy, flags, mode);
}

}  // namespace

std::FILE* OpenLockedForWriting(const FileLock& lock) { return StreamOnCopy(lock, 0, "wb"); }

std::FILE* OpenLockedForReading(const FileLock& lock) {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(lock.handle), zero, nullptr, FILE_BEGIN)) return nullptr;
    return StreamOnCopy(lock, _O_RDONLY, "rb");
}

void RemoveLockedFile(const std::string& name, const FileLock& lock) {
    FileIdentity identity;
    if (lock.handle != -1 && IdentityOf(reinterpret_cast<HANDLE>(lock.handle), identity))
        RemoveIfStillNamed(name.c_str(), identity);
}

void ReleaseFileLock(FileLock& lock) {
    if (lock.handle == -1) return;
    CloseHandle(reinterpret_cast<HANDLE>(lock.handle));
    lock.handle = -1;
}

// Shared for removal, so that an interrupt can remove it while it is open.
std::FILE* CreateNewFile(const std::string& name) {
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, ShareAll, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return StreamOnHandle(file, 0, "wb");
}

bool ReplaceFileWith(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

namespace {

// FILETIME counts 100-nanosecond steps from 1601-01-01.
constexpr long long TicksPerSecond = 10000000;
constexpr long long SecondsFrom1601To1970 = 11644473600LL;

FileTime TimeOf(const LARGE_INTEGER& ticks) {
    const long long sinceEpoch = ticks.QuadPart - SecondsFrom1601To1970 * TicksPerSecond;
    long long seconds = sinceEpoch / TicksPerSecond;
    long long rest = sinceEpoch % TicksPerSecond;
    if (rest < 0) {
        rest += TicksPerSecond;
        --seconds;
    }
    return FileTime{seconds, static_cast<long>(rest * 100)};
}

LARGE_INTEGER TicksOf(const FileTime& time) {
    LARGE_INTEGER ticks{};
    ticks.QuadPart = (time.seconds + SecondsFrom1601To1970) * TicksPerSecond + time.nanoseconds / 100;
    return ticks;
}

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

bool FactsOfHandle(HANDLE file, FileFacts& facts) {
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return false;
    const bool disk = GetFileType(file) == FILE_TYPE_DISK;
    if (disk && !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return false;
    facts.regular = disk && !standard.Directory;
    facts.size = standard.EndOfFile.QuadPart;
    facts.permissions = (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    facts.accessed = TimeOf(basic.LastAccessTime);
    facts.modified = TimeOf(basic.LastWriteTime);
    return true;
}

}  // namespace

bool FactsOfOpenFile(std::FILE* stream, FileFacts& facts) {
    HANDLE file = HandleOf(stream);
    return file != INVALID_HANDLE_VALUE && FactsOfHandle(file, facts);
}

bool FactsOfNamedFile(const std::string& name, FileFacts& facts) {
    HANDLE file = CreateFileA(name.c_str(), FILE_READ_ATTRIBUTES, ShareAll, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool found = FactsOfHandle(file, facts);
    CloseHandle(file);
    return found;
}

// The read-only attribute is the one permission a Windows file carries
// itself; access rights come from the folder.
void StampFile(std::FILE* stream, unsigned permissions, const FileFacts& times) {
    std::fflush(stream);
    HANDLE file = HandleOf(stream);
    FILE_BASIC_INFO basic{};
    if (file == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return;
    DWORD others =
        basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL);
    DWORD readOnly = (permissions & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : 0;
    basic.FileAttributes = (others | readOnly) != 0 ? others | readOnly : FILE_ATTRIBUTE_NORMAL;
    basic.CreationTime.QuadPart = 0;
    basic.ChangeTime.QuadPart = 0;
    basic.LastAccessTime = TicksOf(times.accessed);
    basic.LastWriteTime = TicksOf(times.modified);
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

bool SyncToDisk(std::FILE* stream) { return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0; }

void ReserveSpace(std::FILE*, std::uint64_t) {}

// Windows offers no way to flush a folder; a rename is recorded by the file
// system's own journal.
bool SyncFolderOf(const std::string&) { return true; }

namespace {

std::string InPlace(const OutputPlace& place, const std::string& leaf) {
    return place.folderName.empty() ? leaf : place.folderName + "\\" + leaf;
}

// Links are followed, link by link, as the system allows (Windows files
// have no POSIX owner to judge a link by); a link that leads nowhere is
// replaced itself.
std::string ResolvedName(const std::string& name) {
    std::string current = name;
    std::error_code error;
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(current, error); ++hop) {
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) return name;
        current = (std::filesystem::path(current).parent_path() / target).string();
    }
    return std::filesystem::exists(current, error) ? current : name;
}

}  // namespace

// Windows has no descriptor of a folder to work in, so the place is the
// folder's path; the nearest equivalent of POSIX's checks: a device (NUL,
// CON, a pipe) is written directly only under a name the user typed, and a
// folder is refused.
PlaceResult PlaceOutput(const std::string& name, bool typed, OutputPlace& place, std::FILE*& direct) {
    direct = nullptr;
    const std::string resolved = ResolvedName(name);
    const std::size_t slash = resolved.find_last_of("\\/");
    place.folder = -1;
    place.folderName = slash == std::string::npos ? "" : resolved.substr(0, slash == 0 ? 1 : slash);
    place.leaf = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    if (place.leaf.empty()) return PlaceResult::Failed;
    if (IsDevice(resolved)) {
        place.refusal = "is a device";
        if (!typed) return PlaceResult::Refused;
        direct = std::fopen(resolved.c_str(), "wb");
        return direct ? PlaceResult::Direct : PlaceResult::Failed;
    }
    const DWORD attributes = GetFileAttributesA(resolved.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? PlaceResult::Temporary : PlaceResult::Failed;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        place.refusal = "is a folder";
        return PlaceResult::Refused;
    }
    // Only a file that could have been written is replaced.
    std::FILE* probe = std::fopen(resolved.c_str(), "r+b");
    if (!probe) return PlaceResult::Failed;
    std::fclose(probe);
    FileFacts existing;
    place.replacing = FactsOfNamedFile(resolved, existing);
    place.permissions = existing.permissions;
    return PlaceResult::Temporary;
}

std::FILE* CreateFileIn(const OutputPlace& place, const std::string& leaf) {
    return CreateNewFile(InPlace(place, leaf));
}

bool RenameOntoPlace(const OutputPlace& place, const std::string& leaf) {
    return ReplaceFileWith(InPlace(place, leaf), InPlace(place, place.leaf));
}

void RemoveFromPlace(const OutputPlace& place, const std::string& leaf, std::FILE* file) {
    FileIdentity identity;
    if (file == nullptr)
        DeleteFileA(InPlace(place, leaf).c_str());
    else if (IdentityOf(HandleOf(file), identity))
        RemoveIfStillNamed(InPlace(place, leaf).c_str(), identity);
}

// The C library opens a file without sharing its removal, so the stream is
// closed first.
void RemoveAndClose(const std::string& name, std::FILE*& file) {
    if (file == nullptr) return;
    FileIdentity identity;
    const bool known = IdentityOf(HandleOf(file), identity);
    std::fclose(file);
    file = nullptr;
    if (known) RemoveIfStillNamed(name.c_str(), identity);
}

// Windows offers no way to flush a folder; a rename is recorded by the file
// system's own journal.
bool SyncPlace(const OutputPlace&) { return true; }

void ReleasePlace(OutputPlace& place) { place.folder = -1; }

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

int TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

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

long long AllocatedFileBytes(std::FILE* stream) { return RegularFileSize(stream); }

// A Windows console acts on C0 controls (with virtual terminal processing,
// on escape sequences) but shows C1 bytes as characters of its code page.
TerminalControls ControlsActedOn(std::FILE* stream) {
    return IsTerminal(stream) ? TerminalControls::C0 : TerminalControls::None;
}

namespace {

// A file a console control event removes, with the identity it had when it
// was given.
struct InterruptEntry {
    volatile LONG active = 0;
    FileIdentity identity;
    char name[4096] = {};
};
InterruptEntry interruptEntries[InterruptSlots];

}  // namespace

void (*InterruptHook)() = nullptr;

namespace {

// Runs on a thread of its own; the process ends when it returns false, and
// files marked for removal go when their last handle closes.
BOOL WINAPI EndOnConsoleEvent(DWORD) {
    if (InterruptHook != nullptr) InterruptHook();
    for (const InterruptEntry& entry : interruptEntries)
        if (entry.active) RemoveIfStillNamed(entry.name, entry.identity);
    return FALSE;
}

void Watch(int slot, const std::string& name, HANDLE file) {
    FileIdentity identity;
    if (slot < 0 || slot >= InterruptSlots || name.size() >= sizeof interruptEntries[slot].name) return;
    if (!IdentityOf(file, identity)) return;
    InterruptEntry& entry = interruptEntries[slot];
    InterlockedExchange(&entry.active, 0);
    std::memcpy(entry.name, name.c_str(), name.size() + 1);
    entry.identity = identity;
    InterlockedExchange(&entry.active, 1);
}

}  // namespace

void EndRunOnInterrupts() { SetConsoleCtrlHandler(EndOnConsoleEvent, TRUE); }

void RemoveOnInterrupt(int slot, const std::string& name, std::FILE* file) {
    Watch(slot, name, HandleOf(file));
}

void RemoveOnInterrupt(int slot, const std::string& name, const FileLock& lock) {
    Watch(slot, name, reinterpret_cast<HANDLE>(lock.handle));
}

void RemoveOnInterrupt(int slot, const OutputPlace& place, const std::string& leaf, std::FILE* file) {
    Watch(slot, InPlace(place, leaf), HandleOf(file));
}

void KeepOnInterrupt(int slot) {
    if (slot >= 0 && slot < InterruptSlots) InterlockedExchange(&interruptEntries[slot].active, 0);
}

std::uint64_t CopyInKernel(std::FILE*, std::FILE*) { return 0; }

long ProcessId() { return static_cast<long>(GetCurrentProcessId()); }
