// What the sealer asks of Windows. Names are narrow strings in the ANSI
// code page, which the program's manifest makes UTF-8.
#include <windows.h>

#include <io.h>
#include <cerrno>

#include "io/console_text.h"
#include "sealer_system.h"

namespace {

constexpr std::size_t MaxLineLength = 4096;

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

void SetErrnoFromLastError() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
        case ERROR_ACCESS_DENIED: errno = EACCES; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
        default: errno = EIO;
    }
}

// The temporary a console control event removes: through its own handle
// while it is open, by its name in the moment between closing and renaming.
volatile HANDLE watchedHandle = INVALID_HANDLE_VALUE;
char watchedName[MAX_PATH * 4];
volatile LONG watching = 0;
// The console input's mode while echo is off, given back by an event.
volatile HANDLE hiddenConsole = INVALID_HANDLE_VALUE;
DWORD echoingMode = 0;

void MarkForRemoval(HANDLE file) {
    FILE_DISPOSITION_INFO removal{};
    removal.DeleteFile = TRUE;
    SetFileInformationByHandle(file, FileDispositionInfo, &removal, sizeof removal);
}

// Runs before the program's own handler, which then ends the run.
BOOL WINAPI UndoOnConsoleEvent(DWORD) {
    if (hiddenConsole != INVALID_HANDLE_VALUE) SetConsoleMode(hiddenConsole, echoingMode);
    if (InterlockedExchange(&watching, 0) != 0) {
        if (watchedHandle != INVALID_HANDLE_VALUE)
            MarkForRemoval(watchedHandle);
        else
            DeleteFileA(watchedName);
    }
    return FALSE;
}

void Watch(const std::string& name, HANDLE file) {
    if (name.size() >= sizeof watchedName) return;
    CopyMemory(watchedName, name.c_str(), name.size() + 1);
    watchedHandle = file;
    InterlockedExchange(&watching, 1);
    SetConsoleCtrlHandler(UndoOnConsoleEvent, TRUE);
}

void StopWatching() {
    InterlockedExchange(&watching, 0);
    watchedHandle = INVALID_HANDLE_VALUE;
    SetConsoleCtrlHandler(UndoOnConsoleEvent, FALSE);
}

HANDLE HandleOf(const Temporary& temporary) { return reinterpret_cast<HANDLE>(temporary.handle); }

}  // namespace

bool ErrorsOnTerminal() { return IsConsole(GetStdHandle(STD_ERROR_HANDLE)); }

unsigned PermissionsOfOpenFile(std::FILE*) { return 0600; }

bool CreateTemporaryBeside(const std::string& finalName, Temporary& temporary) {
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        temporary.name =
            finalName + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
        HANDLE file = CreateFileA(temporary.name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            temporary.handle = reinterpret_cast<long long>(file);
            Watch(temporary.name, file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    SetErrnoFromLastError();
    return false;
}

bool WriteToTemporary(Temporary& temporary, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const DWORD step = size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30);
        DWORD written = 0;
        if (!WriteFile(HandleOf(temporary), bytes, step, &written, nullptr) || written == 0) {
            SetErrnoFromLastError();
            return false;
        }
        bytes += written;
        size -= written;
    }
    return true;
}

bool CommitTemporary(Temporary& temporary, unsigned, const std::string& finalName) {
    const bool durable = FlushFileBuffers(HandleOf(temporary)) != 0;
    watchedHandle = INVALID_HANDLE_VALUE;
    CloseHandle(HandleOf(temporary));
    temporary.handle = -1;
    if (!durable || !MoveFileExA(temporary.name.c_str(), finalName.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        SetErrnoFromLastError();
        return false;
    }
    StopWatching();
    return true;
}

void DiscardTemporary(Temporary& temporary) {
    if (temporary.handle != -1) {
        MarkForRemoval(HandleOf(temporary));
        CloseHandle(HandleOf(temporary));
        temporary.handle = -1;
    } else {
        DeleteFileA(temporary.name.c_str());
    }
    StopWatching();
}

TerminalHandle OpenTerminal() {
    HANDLE console = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (!IsConsole(console)) {
        if (console != INVALID_HANDLE_VALUE) CloseHandle(console);
        return NoTerminal;
    }
    return reinterpret_cast<TerminalHandle>(console);
}

void CloseTerminal(TerminalHandle terminal) {
    if (terminal != NoTerminal) CloseHandle(reinterpret_cast<HANDLE>(terminal));
}

namespace {

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                         static_cast<int>(wide.size()));
    wide.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
    return wide;
}

void ShowOnConsole(const std::string& text) {
    HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return;
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    CloseHandle(out);
}

// One line of the console's wide input, up to its line end, as UTF-8.
bool ReadConsoleLine(HANDLE console, std::string& line) {
    std::wstring typed;
    bool lineEnded = false;
    wchar_t buffer[256];
    DWORD count = 0;
    while (!lineEnded && ReadConsoleW(console, buffer, 256, &count, nullptr) && count > 0) {
        for (DWORD k = 0; k < count && !lineEnded; ++k) {
            if (buffer[k] == L'\n' || buffer[k] == L'\r')
                lineEnded = true;
            else if (typed.size() < MaxLineLength)
                typed += buffer[k];
        }
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), nullptr, 0,
                                         nullptr, nullptr);
    line.assign(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, typed.data(), static_cast<int>(typed.size()), line.data(), size,
                            nullptr, nullptr);
    SecureZeroMemory(typed.data(), typed.size() * sizeof(wchar_t));
    SecureZeroMemory(buffer, sizeof buffer);
    return lineEnded || !line.empty();
}

}  // namespace

bool ReadHiddenLine(TerminalHandle terminal, const std::string& prompt, std::string& line) {
    HANDLE console = reinterpret_cast<HANDLE>(terminal);
    ShowOnConsole(InertText(prompt, true));
    DWORD mode = 0;
    const bool hideEcho = GetConsoleMode(console, &mode) != 0;
    if (hideEcho) {
        echoingMode = mode;
        hiddenConsole = console;
        SetConsoleCtrlHandler(UndoOnConsoleEvent, TRUE);
        SetConsoleMode(console, (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT |
                                    ENABLE_PROCESSED_INPUT);
    }
    const bool read = ReadConsoleLine(console, line);
    if (hideEcho) {
        SetConsoleMode(console, mode);
        hiddenConsole = INVALID_HANDLE_VALUE;
        if (!watching) SetConsoleCtrlHandler(UndoOnConsoleEvent, FALSE);
    }
    ShowOnConsole("\r\n");
    return read;
}
