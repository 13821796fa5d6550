// The sealing plug-in: EncryptChecked("NAME.txt.lx") writes the sealed
// "NAME.proto" beside it and says whether it did (Encrypt does the same for
// a program that does not look for EncryptChecked); Decrypt("NAME.proto") writes the compressed
// "NAME.proto.txt.lx". Neither ever leaves a half-written file, and each says why on standard error, in one
// line, when it writes nothing.
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
#include "sealer_system.h"

#ifdef _WIN32
#define SEALER_EXPORT extern "C" __declspec(dllexport)
#else
#define SEALER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

const std::string CompressedTextSuffix = ".txt.lx";
const std::string SealedSuffix = ".proto";

// One line on standard error; names in it are made inert on a terminal.
void Complain(const std::string& message) {
    const std::string shown = ErrorsOnTerminal() ? InertText(message, true) : message;
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

// Writes the file under a temporary name in the same folder, readable by
// its owner only while `fill` writes its content, and renames it into place
// only once every byte is on disk. The temporary is removed after a failure
// and by an ending signal. `fill` may give its own reason.
bool WriteFileInPlace(const std::string& name, const std::function<bool(const ByteWriter&)>& fill,
                      unsigned permissions, std::string& reason) {
    Temporary temporary;
    if (!CreateTemporaryBeside(name, temporary)) {
        reason = SystemReason("cannot create a file beside", name);
        return false;
    }
    const ByteWriter writer = [&temporary](const unsigned char* bytes, std::size_t size) {
        return WriteToTemporary(temporary, bytes, size);
    };
    const bool ok = fill(writer) && CommitTemporary(temporary, permissions, name);
    if (!ok) {
        if (reason.empty()) reason = SystemReason("cannot write", name);
        DiscardTemporary(temporary);
    }
    return ok;
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
    if (in == nullptr) {
        reason = SystemReason("cannot open", compressedName);
        return false;
    }
    std::string passphrase;
    bool sealed =
        ObtainPassphrase("Passphrase to seal " + sealedName + ": ", true, passphrase, reason) &&
        WriteFileInPlace(
            sealedName,
            [&](const ByteWriter& out) { return SealStream(in, passphrase, KdfParams{}, out, reason); },
            PermissionsOfOpenFile(in), reason);
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
                   [&](const ByteWriter& out) { return UnsealStream(in, header, passphrase, out, reason); },
                   0600, reason);
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
