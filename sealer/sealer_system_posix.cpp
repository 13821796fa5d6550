// What the sealer asks of a POSIX system.
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "ending_signals.h"
#include "io/console_text.h"
#include "sealer_system.h"

namespace {

constexpr std::size_t MaxPassphraseLength = 4096;

// The temporary being written, removed by an ending signal (while its name
// still leads to it) before the program's own handler takes the signal.
char watchedName[4096];
dev_t watchedDevice = 0;
ino_t watchedInode = 0;
volatile std::sig_atomic_t watching = 0;

void RemoveTemporaryAndPassOn(int number) {
    struct stat named {};
    if (watching && lstat(watchedName, &named) == 0 && named.st_dev == watchedDevice &&
        named.st_ino == watchedInode)
        unlink(watchedName);
    watching = 0;
    PassEndingSignalOn(number);
}

void WatchTemporary(const std::string& name, int descriptor) {
    struct stat opened {};
    if (name.size() >= sizeof watchedName || fstat(descriptor, &opened) != 0) return;
    std::memcpy(watchedName, name.c_str(), name.size() + 1);
    watchedDevice = opened.st_dev;
    watchedInode = opened.st_ino;
    watching = 1;
    CatchEndingSignals(RemoveTemporaryAndPassOn);
}

void StopWatching() {
    if (!watching) return;
    watching = 0;
    PutBackEndingSignals();
}

bool WriteAll(int descriptor, const unsigned char* content, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = write(descriptor, content + done, size - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

bool ErrorsOnTerminal() { return isatty(STDERR_FILENO); }

unsigned PermissionsOfOpenFile(std::FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 ? status.st_mode & 0777 : 0600;
}

bool CreateTemporaryBeside(const std::string& finalName, Temporary& temporary) {
    temporary.name = finalName + ".XXXXXX";
    HoldEndingSignals();
    const int descriptor = mkstemp(temporary.name.data());
    if (descriptor >= 0) WatchTemporary(temporary.name, descriptor);
    ReleaseEndingSignals();
    if (descriptor < 0) return false;
    temporary.handle = descriptor;
    return true;
}

bool WriteToTemporary(Temporary& temporary, const unsigned char* bytes, std::size_t size) {
    return WriteAll(static_cast<int>(temporary.handle), bytes, size);
}

bool CommitTemporary(Temporary& temporary, unsigned permissions, const std::string& finalName) {
    const int descriptor = static_cast<int>(temporary.handle);
    bool ok = fchmod(descriptor, permissions) == 0 && fsync(descriptor) == 0;
    ok = close(descriptor) == 0 && ok;
    temporary.handle = -1;
    ok = ok && std::rename(temporary.name.c_str(), finalName.c_str()) == 0;
    if (ok) StopWatching();
    return ok;
}

void DiscardTemporary(Temporary& temporary) {
    if (temporary.handle != -1) close(static_cast<int>(temporary.handle));
    temporary.handle = -1;
    std::remove(temporary.name.c_str());
    StopWatching();
}

namespace {

void WriteToTerminal(int terminal, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(terminal, text.data() + done, text.size() - done);
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

// The terminal's settings while echo is off, so that an interrupt at the
// prompt gives the user back a terminal that echoes.
int hiddenTerminal = -1;
termios echoingSettings{};

void RestoreEchoAndPassOn(int signalNumber) {
    tcsetattr(hiddenTerminal, TCSANOW, &echoingSettings);
    PassEndingSignalOn(signalNumber);
}

}  // namespace

TerminalHandle OpenTerminal() {
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    return terminal < 0 ? NoTerminal : terminal;
}

void CloseTerminal(TerminalHandle terminal) {
    if (terminal != NoTerminal) close(static_cast<int>(terminal));
}

bool ReadHiddenLine(TerminalHandle handle, const std::string& prompt, std::string& line) {
    const int terminal = static_cast<int>(handle);
    WriteToTerminal(terminal, InertText(prompt, true));
    termios saved{};
    const bool hideEcho = tcgetattr(terminal, &saved) == 0;
    if (hideEcho) {
        hiddenTerminal = terminal;
        echoingSettings = saved;
        CatchEndingSignals(RestoreEchoAndPassOn);
        termios hidden = saved;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(terminal, TCSAFLUSH, &hidden);
    }
    line.clear();
    bool lineEnded = false;
    char c = 0;
    while (!lineEnded && read(terminal, &c, 1) == 1) {
        if (c == '\n') {
            lineEnded = true;
        } else if (line.size() < MaxPassphraseLength) {
            line.push_back(c);
        }
    }
    if (hideEcho) {
        tcsetattr(terminal, TCSANOW, &saved);
        PutBackEndingSignals();
    }
    WriteToTerminal(terminal, "\n");
    return lineEnded || !line.empty();
}
