#include "passphrase.h"

#include <cstdlib>

#include "sealer_crypto.h"
#include "sealer_system.h"

namespace {

constexpr const char* PassphraseVariable = "CORVANE_PASSPHRASE";

bool AskOnTerminal(const std::string& prompt, bool confirm, std::string& passphrase, std::string& reason) {
    const TerminalHandle terminal = OpenTerminal();
    if (terminal == NoTerminal) {
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
    CloseTerminal(terminal);
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
