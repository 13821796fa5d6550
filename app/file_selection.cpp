#include "app/file_selection.h"

#include <filesystem>
#include <iostream>

#include "app/command_line.h"
#include "app/operation_driver.h"
#include "app/run_files.h"
#include "io/console_text.h"
#include "io/shared_io.h"
#include "platform/platform.h"

namespace {

constexpr long long DisplayLimit = 1024;

// Reads one white-space-delimited word; false when input ends first.
bool ReadWord(std::string& word) { return static_cast<bool>(std::cin >> word); }

// Opens the file to read, once: every later decision about it is taken from
// what this open found. A path from the command line that cannot be opened
// is named on standard error.
void OpenSource(const std::string& name, bool fromCommandLine) {
    SourceStream = std::fopen(name.c_str(), "rb");
    if (!SourceStream) {
        if (fromCommandLine)
            std::cerr << "错误: 无法打开文件 " << TextForStream(stderr, name) << '\n' << std::flush;
        Fatal("1Open error.");
    }
    SourceName = name;
    RunFiles[SourceFile].name = name;
    RunFiles[SourceFile].fate = Fate::Kept;
    SourceFacts = FileFacts{};
    FactsOfOpenFile(SourceStream, SourceFacts);
}

// A small compressed text, judged by the file actually open: a regular file
// under the limit.
bool ShowsOnConsole(const std::string& path) {
    return EndsWith(path, ".txt.lx") && SourceFacts.regular && SourceFacts.size < DisplayLimit;
}

bool SameFile(const std::string& first, const std::string& second) {
    std::error_code error;
    return std::filesystem::equivalent(first, second, error) && !error;
}

void RefuseSameFile(const std::string& first, const std::string& second) {
    if (SameFile(first, second)) Fatal("input and output are the same file.");
}

std::FILE* OpenTruncated(const FileLock& lock) {
    if (!TruncateLockedFile(lock)) return nullptr;
    return OpenLockedForWriting(lock);
}

void SelectCompressOutputs(const std::string& name) {
    OutputName = name + ".lx";
    for (const char* temporary : {PayloadTempName, HeaderTempName}) {
        RefuseSameFile(name, temporary);
        RefuseSameFile(OutputName, temporary);
    }
    RefuseSameFile(name, OutputName);
    // Both are locked before either is truncated.
    LockTemporary(PayloadFile, "Write error.");
    LockTemporary(HeaderFile, "open tree file error.");
    DataSink = OpenTruncated(RunFiles[PayloadFile].lock);
    if (!DataSink) Fatal("Write error.");
    HeaderSink = OpenTruncated(RunFiles[HeaderFile].lock);
    if (!HeaderSink) Fatal("open tree file error.");
}

void SelectExtractOutput(const std::string& name, const std::string& path) {
    if (path.empty()) {
        PrintLine("enter output file:");
        if (!ReadWord(OutputName)) Fatal("Write error.");
    } else {
        OutputName = path.substr(0, path.size() - 3);
        displayMode = ShowsOnConsole(path);
    }
    if (displayMode) return;
    RefuseSameFile(name, OutputName);
    if (!OpenOutput(OutputName, path.empty())) Fatal("Write error.");
    DataSink = RunFiles[OutputFile].stream;
}

}  // namespace

void SelectFiles(int flow, const std::string& path) {
    std::string name = path;
    if (path.empty()) {
        PrintLine(flow == 1 ? "choose file to compress:" : "choose file to extract:");
        ReadWord(name);
    }
    OpenSource(name, !path.empty());
    if (flow == 2)
        SelectExtractOutput(name, path);
    else
        SelectCompressOutputs(name);
}
