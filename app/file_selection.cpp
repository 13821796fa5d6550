#include "app/file_selection.h"

#include <filesystem>
#include <iostream>

#include "app/command_line.h"
#include "app/operation_driver.h"
#include "app/output_file.h"
#include "io/shared_io.h"
#include "platform/platform.h"

namespace {

constexpr long DisplayLimit = 1024;

// Reads one white-space-delimited word; false when input ends first.
bool ReadWord(std::string& word) { return static_cast<bool>(std::cin >> word); }

// Length of the file, or -1 when it has none (a directory, say).
long LengthOf(std::FILE* file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    return std::ftell(file);
}

bool ShowsOnConsole(const std::string& path) {
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (!probe) {
        std::cerr << "错误: 无法打开文件 " << path << '\n' << std::flush;
        return false;
    }
    long length = LengthOf(probe);
    std::fclose(probe);
    return length >= 0 && length < DisplayLimit && EndsWith(path, ".txt.lx");
}

bool SameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

void RefuseSameFile(const std::string& first, const std::string& second) {
    if (SameFile(first, second)) Fatal("input and output are the same file.");
}

// Locks both temporary files before either is truncated, so that a second
// compression in the same folder stops without touching them.
void LockTemporary(const std::string& name, FileLock& lock, const std::string& failure) {
    switch (LockFileExclusive(name, lock)) {
        case LockResult::Locked: return;
        case LockResult::Busy: Fatal("temporary files in use.");
        case LockResult::Failed: Fatal(failure);
    }
}

std::FILE* OpenTruncated(const std::string& name, const FileLock& lock) {
    if (!TruncateLockedFile(lock)) return nullptr;
    return std::fopen(name.c_str(), "wb");
}

void SelectCompressOutputs(const std::string& name) {
    OutputName = name + ".lx";
    for (const char* temporary : {PayloadTempName, HeaderTempName}) {
        RefuseSameFile(name, temporary);
        RefuseSameFile(OutputName, temporary);
    }
    RefuseSameFile(name, OutputName);
    LockTemporary(PayloadTempName, TempLocks[0], "Write error.");
    LockTemporary(HeaderTempName, TempLocks[1], "open tree file error.");
    DataSink = OpenTruncated(PayloadTempName, TempLocks[0]);
    if (!DataSink) Fatal("Write error.");
    HeaderSink = OpenTruncated(HeaderTempName, TempLocks[1]);
    if (!HeaderSink) Fatal("open tree file error.");
}

void SelectExtractOutput(const std::string& name, const std::string& path) {
    if (path.empty()) {
        PrintLine("enter output file:");
        if (!ReadWord(OutputName)) Fatal("Write error.");
    } else {
        OutputName = path.substr(0, path.size() - 3);
    }
    if (displayMode) return;
    RefuseSameFile(name, OutputName);
    if (!OpenOutput(ExtractOutput, OutputName)) Fatal("Write error.");
    DataSink = ExtractOutput.stream;
}

}  // namespace

void SelectFiles(int flow, const std::string& path) {
    std::string name = path;
    if (!path.empty()) {
        displayMode = ShowsOnConsole(path);
    } else {
        PrintLine(flow == 1 ? "choose file to compress:" : "choose file to extract:");
        ReadWord(name);
    }
    SourceStream = std::fopen(name.c_str(), "rb");
    if (!SourceStream) Fatal("1Open error.");
    SourceName = name;
    if (flow == 2)
        SelectExtractOutput(name, path);
    else
        SelectCompressOutputs(name);
}
