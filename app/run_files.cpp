#include "app/run_files.h"

#include <iostream>

#include "io/console_text.h"
#include "io/shared_io.h"

RunFile RunFiles[RunFileCount];

namespace {

// Longest file name, without its folder, that file systems commonly allow.
constexpr std::size_t LongestFileName = 255;

// The final name plus the suffix; when that would make the name too long,
// it is shortened, so an output whose own name just fits still gets a
// temporary beside it.
std::string LeafWithSuffix(const std::string& leaf, const std::string& suffix) {
    if (leaf.size() + suffix.size() <= LongestFileName) return leaf + suffix;
    return leaf.substr(0, LongestFileName - suffix.size()) + suffix;
}

bool CreateTemporary(RunFile& output) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string suffix = ".corvane-" + std::to_string(ProcessId()) + "-" + std::to_string(attempt);
        output.tempLeaf = LeafWithSuffix(output.place.leaf, suffix);
        output.stream = CreateFileIn(output.place, output.tempLeaf);
        if (output.stream) return true;
    }
    output.tempLeaf.clear();
    return false;
}

void Refuse(const std::string& name, const char* use, const std::string& reason) {
    std::cerr << TextForStream(stderr, name) << ": not used as " << use << ", it " << reason << '\n'
              << std::flush;
}

// A file's end: no longer removed by an interrupt, its fate recorded.
void Settle(RunFileRole role, Fate fate) {
    KeepOnInterrupt(role);
    RunFiles[role].fate = fate;
}

void AbandonOutput() {
    RunFile& output = RunFiles[OutputFile];
    if (output.fate != Fate::Open) return;
    if (!output.tempLeaf.empty()) RemoveFromPlace(output.place, output.tempLeaf, output.stream);
    if (output.stream) std::fclose(output.stream);
    output.stream = nullptr;
    Settle(OutputFile, output.tempLeaf.empty() ? Fate::Kept : Fate::Removed);
    output.tempLeaf.clear();
    ReleasePlace(output.place);
}

}  // namespace

void LockTemporary(RunFileRole role, const std::string& failure) {
    RunFile& file = RunFiles[role];
    file.name = role == PayloadFile ? PayloadTempName : HeaderTempName;
    switch (LockFileExclusive(file.name, file.lock)) {
        case LockResult::Locked:
            RemoveOnInterrupt(role, file.name, file.lock);
            file.fate = Fate::Open;
            return;
        case LockResult::Busy: Fatal("temporary files in use.");
        case LockResult::Refused: Refuse(file.name, "a temporary file", file.lock.refusal); Fatal(failure);
        case LockResult::Failed: Fatal(failure);
    }
}

void RemoveTemporaries() {
    for (RunFileRole role : {HeaderFile, PayloadFile}) {
        RunFile& file = RunFiles[role];
        RemoveLockedFile(file.name, file.lock);
        Settle(role, Fate::Removed);
    }
    ReleaseFileLock(RunFiles[HeaderFile].lock);
    ReleaseFileLock(RunFiles[PayloadFile].lock);
}

bool OpenOutput(const std::string& name, bool typed) {
    RunFile& output = RunFiles[OutputFile];
    output = RunFile{};
    output.name = name;
    std::FILE* direct = nullptr;
    switch (PlaceOutput(name, typed, output.place, direct)) {
        case PlaceResult::Direct:
            output.stream = direct;
            output.fate = Fate::Open;
            return true;
        case PlaceResult::Refused: Refuse(name, "the output", output.place.refusal); [[fallthrough]];
        case PlaceResult::Failed: ReleasePlace(output.place); return false;
        case PlaceResult::Temporary: break;
    }
    if (!CreateTemporary(output)) {
        ReleasePlace(output.place);
        return false;
    }
    RemoveOnInterrupt(OutputFile, output.place, output.tempLeaf, output.stream);
    output.fate = Fate::Open;
    return true;
}

bool CommitOutput(const FileFacts& madeFrom, bool syncToDisk) {
    RunFile& output = RunFiles[OutputFile];
    bool written = std::fflush(output.stream) == 0 && !std::ferror(output.stream);
    if (written && !output.tempLeaf.empty()) {
        StampFile(output.stream, output.place.replacing ? output.place.permissions : madeFrom.permissions,
                  madeFrom);
        written = !syncToDisk || SyncToDisk(output.stream);
    }
    written = std::fclose(output.stream) == 0 && written;
    output.stream = nullptr;
    if (output.tempLeaf.empty()) {
        Settle(OutputFile, Fate::Kept);
        return written;
    }
    if (written) written = RenameOntoPlace(output.place, output.tempLeaf);
    if (written && syncToDisk) written = SyncPlace(output.place);
    if (!written) RemoveFromPlace(output.place, output.tempLeaf, nullptr);
    Settle(OutputFile, written ? Fate::Committed : Fate::Removed);
    output.tempLeaf.clear();
    ReleasePlace(output.place);
    return written;
}

void AdoptUnsealedCopy(const std::string& name) {
    RunFile& copy = RunFiles[UnsealedFile];
    copy.name = name;
    copy.stream = std::fopen(name.c_str(), "rb");
    if (!copy.stream) return;
    RemoveOnInterrupt(UnsealedFile, name, copy.stream);
    copy.fate = Fate::Open;
}

void RemoveUnsealedCopy() {
    RunFile& copy = RunFiles[UnsealedFile];
    if (copy.fate != Fate::Open) return;
    RemoveAndClose(copy.name, copy.stream);
    Settle(UnsealedFile, Fate::Removed);
}

void AbandonRun() {
    AbandonOutput();
    RemoveUnsealedCopy();
}
