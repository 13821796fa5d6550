#include "passphrase.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "ending_signals.h"
#include "io/console_text.h"
#include "sealer_crypto.h"

namespace {

constexpr const char* PassphraseVariable = "CORVANE_PASSPHRASE";
constexpr std::size_t MaxPassphraseLength = 4096;

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

// Reads one line with echo switched off; false when the terminal ends first.
bool ReadHiddenLine(int terminal, const std::string& prompt, std::string& line) {
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

bool AskOnTerminal(const std::string& prompt, bool confirm, std::string& passphrase, std::string& reason) {
    const int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) {
        reason = "no passphrase: set CORVANE_PASSPHRASE or run on a terminal";
        return false;
    }
    std::string repeated;
    bool ok = ReadHiddenLine(terminal, prompt, passphrase);
    if (ok && confirm && !passphrase.empty()) {
        ok = ReadHiddenLine(terminal, "Repeat passphrase: ", repeated);
        if (ok && repeated != passphrase) {
            reason = "the passphrases do not match";
            WipeText(passphrase);
            ok = false;
        }
        WipeText(repeated);
    } else if (!ok) {
        reason = "no passphrase: the terminal gave none";
    }
    close(terminal);
    return ok;
}

}  // namespace

void WipeText(std::string& text) {
    WipeSecret(text.data(), text.size());
    text.clear();
}

bool ObtainPassphrase(const std::string& prompt, bool confirm, std::string& passphrase, std::string& reason) {
    if (const char* fromEnvironment = std::getenv(PassphraseVariable)) {
        passphrase = fromEnvironment;
    } else if (!AskOnTerminal(prompt, confirm, passphrase, reason)) {
        return false;
    }
    if (passphrase.empty()) {
        reason = "empty passphrase refused";
        return false;
    }
    return true;
}
