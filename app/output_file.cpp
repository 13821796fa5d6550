#include "app/output_file.h"

#include <filesystem>

#include "platform/platform.h"

OutputFile* PendingOutput = nullptr;

namespace {

// A symbolic link is followed, so that the file it names is replaced and
// the link itself stays.
std::string ResolvedName(const std::string& name) {
    std::error_code error;
    if (!std::filesystem::is_symlink(name, error)) return name;
    std::filesystem::path target = std::filesystem::canonical(name, error);
    return error ? name : target.string();
}

// Longest file name, without its folder, that file systems commonly allow.
constexpr std::size_t LongestFileName = 255;

// The final name plus the suffix; when that would make the file name too
// long, the file name is shortened, so an output whose own name just fits
// still gets a temporary beside it.
std::string NameWithSuffix(const std::string& name, const std::string& suffix) {
    const std::size_t leafLength = std::filesystem::path(name).filename().string().size();
    std::string shortened = name;
    if (leafLength + suffix.size() > LongestFileName)
        shortened.resize(name.size() - leafLength + (LongestFileName - suffix.size()));
    return shortened + suffix;
}

std::FILE* CreateTemporaryBeside(const std::string& name, std::string& tempName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = ".corvane-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        tempName = NameWithSuffix(name, suffix);
        if (std::FILE* file = CreateNewFile(tempName)) return file;
        std::error_code error;
        if (!std::filesystem::exists(tempName, error)) break;
    }
    tempName.clear();
    return nullptr;
}

// An existing file is only replaced when it could have been written.
bool Writable(const std::string& name) {
    std::FILE* probe = std::fopen(name.c_str(), "r+b");
    if (!probe) return false;
    std::fclose(probe);
    return true;
}

}  // namespace

bool OpenOutput(OutputFile& output, const std::string& name) {
    if (name.empty()) return false;
    output.finalName = ResolvedName(name);
    std::error_code error;
    auto status = std::filesystem::status(output.finalName, error);
    bool exists = std::filesystem::exists(status);
    if ((exists && !std::filesystem::is_regular_file(status)) || IsDevice(output.finalName)) {
        output.tempName.clear();
        output.stream = std::fopen(output.finalName.c_str(), "wb");
        return output.stream != nullptr;
    }
    if (exists && !Writable(output.finalName)) return false;
    output.stream = CreateTemporaryBeside(output.finalName, output.tempName);
    if (!output.stream) return false;
    if (exists) CopyPermissions(output.finalName, output.tempName);
    PendingOutput = &output;
    return true;
}

bool CommitOutput(OutputFile& output) {
    bool written = std::fflush(output.stream) == 0 && !std::ferror(output.stream);
    written = std::fclose(output.stream) == 0 && written;
    output.stream = nullptr;
    if (output.tempName.empty()) return written;
    if (written) written = ReplaceFileWith(output.tempName, output.finalName);
    if (!written) std::remove(output.tempName.c_str());
    output.tempName.clear();
    PendingOutput = nullptr;
    return written;
}

void AbandonPendingOutput() {
    if (PendingOutput != nullptr) AbandonOutput(*PendingOutput);
}

void AbandonOutput(OutputFile& output) {
    if (output.stream) std::fclose(output.stream);
    output.stream = nullptr;
    if (!output.tempName.empty()) std::remove(output.tempName.c_str());
    output.tempName.clear();
    if (PendingOutput == &output) PendingOutput = nullptr;
}
