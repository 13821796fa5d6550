#include "app/output_file.h"

#include <filesystem>

#include "platform/platform.h"

OutputFile* PendingOutput = nullptr;

namespace {

// A symbolic link is followed, link by link, so that the file it names is
// replaced and the link itself stays; a link that leads nowhere is replaced
// itself. A link the system would not let a plain open follow makes the
// name unusable (empty).
std::string ResolvedName(const std::string& name) {
    std::string current = name;
    std::error_code error;
    for (int hop = 0; hop < 40 && std::filesystem::is_symlink(current, error); ++hop) {
        if (!LinkMayBeFollowed(current)) return "";
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) return name;
        current = (std::filesystem::path(current).parent_path() / target).string();
    }
    return std::filesystem::exists(current, error) ? current : name;
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
    output.finalName = name.empty() ? "" : ResolvedName(name);
    if (output.finalName.empty()) return false;
    std::error_code error;
    auto status = std::filesystem::status(output.finalName, error);
    bool exists = std::filesystem::exists(status);
    if ((exists && !std::filesystem::is_regular_file(status)) || IsDevice(output.finalName)) {
        output.tempName.clear();
        output.stream = std::fopen(output.finalName.c_str(), "wb");
        return output.stream != nullptr;
    }
    if (exists && !Writable(output.finalName)) return false;
    FileFacts existing;
    output.replacing = exists && FactsOfNamedFile(output.finalName, existing);
    output.keptPermissions = existing.permissions;
    output.stream = CreateTemporaryBeside(output.finalName, output.tempName);
    if (!output.stream) return false;
    RemoveOnInterrupt(OutputInterruptSlot, output.tempName, output.stream);
    PendingOutput = &output;
    return true;
}

namespace {

// The temporary's last touches before it is closed: time, permission bits,
// and its data on disk when asked.
bool FinishTemporary(OutputFile& output, const FileFacts& madeFrom, bool syncToDisk) {
    StampFile(output.stream, output.replacing ? output.keptPermissions : madeFrom.permissions, madeFrom);
    return !syncToDisk || SyncToDisk(output.stream);
}

}  // namespace

bool CommitOutput(OutputFile& output, const FileFacts& madeFrom, bool syncToDisk) {
    bool written = std::fflush(output.stream) == 0 && !std::ferror(output.stream);
    if (written && !output.tempName.empty()) written = FinishTemporary(output, madeFrom, syncToDisk);
    written = std::fclose(output.stream) == 0 && written;
    output.stream = nullptr;
    if (output.tempName.empty()) return written;
    if (written) written = ReplaceFileWith(output.tempName, output.finalName);
    if (written && syncToDisk) written = SyncFolderOf(output.finalName);
    if (!written) std::remove(output.tempName.c_str());
    KeepOnInterrupt(OutputInterruptSlot);
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
    KeepOnInterrupt(OutputInterruptSlot);
    output.tempName.clear();
    if (PendingOutput == &output) PendingOutput = nullptr;
}
