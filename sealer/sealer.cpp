// The sealing plug-in: EncryptChecked("NAME.txt.lx") writes the sealed
// "NAME.proto" beside it and says whether it did (Encrypt does the same for
// a program that does not look for EncryptChecked); Decrypt("NAME.proto") writes the compressed
// "NAME.proto.txt.lx". Neither ever leaves a half-written file, and each says why on standard error, in one
// line, when it writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "ending_signals.h"
#include "io/console_text.h"
#include "passphrase.h"
#include "sealed_format.h"

#define SEALER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const std::string CompressedTextSuffix = ".txt.lx";
const std::string SealedSuffix = ".proto";

// One line on standard error; names in it are made inert on a terminal.
void Complain(const std::string& message) {
    const std::string shown = isatty(STDERR_FILENO) ? InertText(message, true) : message;
    std::fprintf(stderr, "sealer: %s\n", shown.c_str());
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The path as the program handed it over: a zero-terminated string whose
// length must agree with the length given alongside.
bool TakePath(const char* path, std::uint64_t length, std::string& name) {
    if (path == nullptr || std::strlen(path) != length || length == 0) {
        Complain("called with an unusable path");
        return false;
    }
    name.assign(path, static_cast<std::size_t>(length));
    return true;
}

std::string SystemReason(const std::string& what, const std::string& name) {
    return what + " " + name + ": " + std::strerror(errno);
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

// Writes the file under a temporary name in the same folder, readable by
// its owner only while `fill` writes its content, and renames it into place
// only once every byte is on disk. The temporary is removed after a failure
// and by an ending signal. `fill` may give its own reason.
bool WriteFileInPlace(const std::string& name, const std::function<bool(int)>& fill, mode_t mode,
                      std::string& reason) {
    std::string tempName = name + ".XXXXXX";
    HoldEndingSignals();
    const int descriptor = mkstemp(tempName.data());
    if (descriptor >= 0) WatchTemporary(tempName, descriptor);
    ReleaseEndingSignals();
    if (descriptor < 0) {
        reason = SystemReason("cannot create a file beside", name);
        return false;
    }
    bool ok = fill(descriptor) && fchmod(descriptor, mode) == 0 && fsync(descriptor) == 0;
    ok = close(descriptor) == 0 && ok;
    ok = ok && std::rename(tempName.c_str(), name.c_str()) == 0;
    if (!ok) {
        if (reason.empty()) reason = SystemReason("cannot write", name);
        std::remove(tempName.c_str());
    }
    StopWatching();
    return ok;
}

ByteWriter WriterTo(int descriptor) {
    return [descriptor](const unsigned char* bytes, std::size_t size) {
        return WriteAll(descriptor, bytes, size);
    };
}

// The compressed file is read as it is sealed, a chunk at a time.
bool Seal(const std::string& compressedName, std::string& reason) {
    if (!EndsWith(compressedName, CompressedTextSuffix)) {
        reason = compressedName + " does not end with " + CompressedTextSuffix;
        return false;
    }
    const std::string sealedName =
        compressedName.substr(0, compressedName.size() - CompressedTextSuffix.size()) + SealedSuffix;
    std::FILE* in = std::fopen(compressedName.c_str(), "rb");
    struct stat status {};
    if (in == nullptr || fstat(fileno(in), &status) != 0) {
        reason = SystemReason("cannot open", compressedName);
        if (in != nullptr) std::fclose(in);
        return false;
    }
    std::string passphrase;
    bool sealed = ObtainPassphrase("Passphrase to seal " + sealedName + ": ", true, passphrase, reason) &&
                  WriteFileInPlace(
                      sealedName,
                      [&](int out) { return SealStream(in, passphrase, KdfParams{}, WriterTo(out), reason); },
                      status.st_mode & 0777, reason);
    WipeText(passphrase);
    std::fclose(in);
    return sealed;
}

bool Unseal(const std::string& sealedName, std::string& reason) {
    std::FILE* in = std::fopen(sealedName.c_str(), "rb");
    if (in == nullptr) {
        reason = SystemReason("cannot open", sealedName);
        return false;
    }
    unsigned char header[SealHeaderSize];
    std::string passphrase;
    bool unsealed = ReadSealedHeader(in, header, reason);
    if (!unsealed) reason = sealedName + ": " + reason;
    unsealed = unsealed &&
               ObtainPassphrase("Passphrase to unseal " + sealedName + ": ", false, passphrase, reason) &&
               WriteFileInPlace(
                   sealedName + CompressedTextSuffix,
                   [&](int out) { return UnsealStream(in, header, passphrase, WriterTo(out), reason); }, 0600,
                   reason);
    if (!unsealed && reason == "wrong passphrase or damaged file") reason = sealedName + ": " + reason;
    WipeText(passphrase);
    std::fclose(in);
    return unsealed;
}

}  // namespace

// 0 when NAME.proto was written, 1 when nothing was sealed.
SEALER_EXPORT int EncryptChecked(const char* path, std::uint64_t length) {
    std::string name;
    std::string reason;
    if (!TakePath(path, length, name)) return 1;
    if (Seal(name, reason)) return 0;
    Complain(reason);
    return 1;
}

// For a program that does not look for EncryptChecked.
SEALER_EXPORT void Encrypt(const char* path, std::uint64_t length) { (void)EncryptChecked(path, length); }

SEALER_EXPORT void Decrypt(const char* path, std::uint64_t length) {
    std::string name;
    std::string reason;
    if (TakePath(path, length, name) && !Unseal(name, reason)) {
        Complain(reason);
        // A file of the unsealed name left by an earlier, failed run must not
        // pass for what this call refused to unseal.
        std::remove((name + CompressedTextSuffix).c_str());
    }
}
