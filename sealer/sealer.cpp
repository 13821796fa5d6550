// The sealing plug-in: Encrypt("NAME.txt.lx") writes the sealed "NAME.proto"
// beside it; Decrypt("NAME.proto") writes the compressed "NAME.proto.txt.lx".
// Neither ever leaves a half-written file, and each says why on standard
// error, in one line, when it writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "io/console_text.h"
#include "passphrase.h"
#include "sealed_format.h"

#define SEALER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const std::string CompressedTextSuffix = ".txt.lx";
const std::string SealedSuffix = ".proto";
constexpr std::size_t ReadStep = 1u << 20;

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

bool ReadWholeFile(const std::string& name, Bytes& content, std::string& reason) {
    std::FILE* in = std::fopen(name.c_str(), "rb");
    if (in == nullptr) {
        reason = SystemReason("cannot open", name);
        return false;
    }
    content.clear();
    std::size_t got = 0;
    do {
        const std::size_t used = content.size();
        content.resize(used + ReadStep);
        got = std::fread(content.data() + used, 1, ReadStep, in);
        content.resize(used + got);
    } while (got == ReadStep);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) reason = "cannot read " + name;
    return !failed;
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

// Writes the file under a temporary name in the same folder, readable by
// its owner only while `fill` writes its content, and renames it into place
// only once every byte is on disk. `fill` may give its own reason.
bool WriteFileInPlace(const std::string& name, const std::function<bool(int)>& fill, mode_t mode,
                      std::string& reason) {
    std::string tempName = name + ".XXXXXX";
    const int descriptor = mkstemp(tempName.data());
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
    return ok;
}

mode_t PermissionsOf(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) != 0) return 0600;
    return status.st_mode & 0777;
}

bool Seal(const std::string& compressedName, std::string& reason) {
    if (!EndsWith(compressedName, CompressedTextSuffix)) {
        reason = compressedName + " does not end with " + CompressedTextSuffix;
        return false;
    }
    const std::string sealedName =
        compressedName.substr(0, compressedName.size() - CompressedTextSuffix.size()) + SealedSuffix;
    Bytes plain;
    if (!ReadWholeFile(compressedName, plain, reason)) return false;
    std::string passphrase;
    if (!ObtainPassphrase("Passphrase to seal " + sealedName + ": ", true, passphrase, reason)) return false;
    Bytes sealed;
    const bool sealedOk = SealBytes(plain, passphrase, KdfParams{}, sealed, reason);
    WipeText(passphrase);
    return sealedOk && WriteFileInPlace(
                           sealedName, [&](int out) { return WriteAll(out, sealed.data(), sealed.size()); },
                           PermissionsOf(compressedName), reason);
}

// A sealed file opened for unsealing: its header, checked before anything
// else is read, and the size of its ciphertext.
struct SealedInput {
    std::FILE* file = nullptr;
    unsigned char header[SealHeaderSize] = {};
    std::uint64_t bodySize = 0;
};

bool OpenSealed(const std::string& name, SealedInput& input, std::string& reason) {
    input.file = std::fopen(name.c_str(), "rb");
    struct stat status {};
    if (input.file == nullptr || fstat(fileno(input.file), &status) != 0) {
        reason = SystemReason("cannot open", name);
        return false;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const bool complete = std::fread(input.header, 1, SealHeaderSize, input.file) == SealHeaderSize;
    if (!CheckSealedHeader(input.header, complete ? size : 0, reason)) {
        reason = name + ": " + reason;
        return false;
    }
    input.bodySize = size - SealHeaderSize - SealTagSize;
    return true;
}

bool ReadExactly(std::FILE* in, unsigned char* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, in) == size;
}

// Unseals the ciphertext block by block and checks the tag, writing the
// plain text to `out` as it goes; the caller keeps it only when this
// succeeds. A file that ends early is damaged; a failed write gives no
// reason of its own.
bool UnsealInto(SealedInput& input, Unsealing& unsealing, int out, std::string& reason) {
    Bytes block(ReadStep);
    bool readable = true;
    bool written = true;
    for (std::uint64_t left = input.bodySize; readable && written && left > 0;) {
        const auto step = static_cast<std::size_t>(std::min<std::uint64_t>(left, ReadStep));
        readable = ReadExactly(input.file, block.data(), step) &&
                   UnsealBlock(unsealing, block.data(), block.data(), step);
        written = readable && WriteAll(out, block.data(), step);
        left -= step;
    }
    unsigned char tag[SealTagSize];
    if (readable && written && ReadExactly(input.file, tag, SealTagSize))
        return FinishUnsealing(unsealing, tag, reason);
    AbandonUnsealing(unsealing);
    if (!written) return false;
    reason = "wrong passphrase or damaged file";
    return false;
}

bool UnsealOpened(const std::string& sealedName, SealedInput& input, std::string& reason) {
    std::string passphrase;
    if (!ObtainPassphrase("Passphrase to unseal " + sealedName + ": ", false, passphrase, reason))
        return false;
    Unsealing unsealing;
    const bool started = StartUnsealing(unsealing, input.header, passphrase, reason);
    WipeText(passphrase);
    if (!started) return false;
    const bool unsealed = WriteFileInPlace(
        sealedName + CompressedTextSuffix, [&](int out) { return UnsealInto(input, unsealing, out, reason); },
        0600, reason);
    if (!unsealed && reason == "wrong passphrase or damaged file") reason = sealedName + ": " + reason;
    return unsealed;
}

bool Unseal(const std::string& sealedName, std::string& reason) {
    SealedInput input;
    const bool unsealed = OpenSealed(sealedName, input, reason) && UnsealOpened(sealedName, input, reason);
    if (input.file != nullptr) std::fclose(input.file);
    return unsealed;
}

}  // namespace

SEALER_EXPORT void Encrypt(const char* path, std::uint64_t length) {
    std::string name;
    std::string reason;
    if (TakePath(path, length, name) && !Seal(name, reason)) Complain(reason);
}

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
