// A test plug-in that records every call and "seals" by plain copying:
// Encrypt("NAME.txt.lx") copies it to "NAME.proto", Decrypt("NAME.proto")
// copies it to "NAME.proto.txt.lx". Each call logs its entry point, path,
// length argument and whether the path existed; "load" and "unload" are
// logged when the library is mapped and released, the latter with whether
// the file last handed over (Encrypt) or produced (Decrypt) still exists.
// Each call also prints one line on standard output.
#include <cstdint>
#include <cstring>

#include "plugin_log.h"

namespace {

char watchedFile[4096] = "";

void CopyFile(const char* from, const char* to) {
    std::FILE* in = std::fopen(from, "rb");
    if (in == nullptr) return;
    std::FILE* out = std::fopen(to, "wb");
    if (out != nullptr) {
        char block[4096];
        std::size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, in)) > 0) {
            std::fwrite(block, 1, got, out);
        }
        std::fclose(out);
    }
    std::fclose(in);
}

void Record(const char* entry, const char* path, std::uint64_t length) {
    char line[sizeof watchedFile + 64];
    std::snprintf(line, sizeof line, "%s %s %llu %s", entry, path, static_cast<unsigned long long>(length),
                  FileExists(path) ? "exists" : "missing");
    LogPluginEvent(line);
    std::printf("recorder: %s %s\n", entry, path);
    std::fflush(stdout);
}

bool ReplaceSuffix(const char* path, const char* suffix, const char* replacement, char* out,
                   std::size_t outSize) {
    const std::size_t pathLength = std::strlen(path);
    const std::size_t suffixLength = std::strlen(suffix);
    if (pathLength < suffixLength || std::strcmp(path + pathLength - suffixLength, suffix) != 0) return false;
    const int written =
        std::snprintf(out, outSize, "%.*s%s", static_cast<int>(pathLength - suffixLength), path, replacement);
    return written >= 0 && static_cast<std::size_t>(written) < outSize;
}

__attribute__((constructor)) void OnLoad() { LogPluginEvent("load"); }

__attribute__((destructor)) void OnUnload() {
    char line[sizeof watchedFile + 32] = "unload";
    if (watchedFile[0] != '\0') {
        std::snprintf(line, sizeof line, "unload %s %s", watchedFile,
                      FileExists(watchedFile) ? "exists" : "missing");
    }
    LogPluginEvent(line);
}

}  // namespace

TEST_PLUGIN_EXPORT void Encrypt(const char* path, std::uint64_t length) {
    Record("Encrypt", path, length);
    std::snprintf(watchedFile, sizeof watchedFile, "%s", path);
    char sealedName[sizeof watchedFile];
    if (ReplaceSuffix(path, ".txt.lx", ".proto", sealedName, sizeof sealedName)) CopyFile(path, sealedName);
}

TEST_PLUGIN_EXPORT void Decrypt(const char* path, std::uint64_t length) {
    Record("Decrypt", path, length);
    std::snprintf(watchedFile, sizeof watchedFile, "%s.txt.lx", path);
    if (FileExists(path)) CopyFile(path, watchedFile);
}
