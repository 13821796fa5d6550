#include "app/operation_driver.h"

#include <iostream>

#include "app/command_line.h"
#include "app/file_selection.h"
#include "app/progress.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"
#include "platform/platform.h"
#include "plugin/crypto_plugin.h"

FileLock TempLocks[2];
OutputFile ExtractOutput;
bool displayMode = false;

namespace {

constexpr std::size_t BlockSize = 4096;

int AskMode() {
    PrintLine("0: exit, 1: compress, 2: extract :");
    int mode = 0;
    std::cin >> mode;
    return mode;
}

void CloseWritten(std::FILE*& stream) {
    bool written = std::fflush(stream) == 0 && !std::ferror(stream);
    if (std::fclose(stream) != 0 || !written) {
        stream = nullptr;
        Fatal("Write error.");
    }
    stream = nullptr;
}

void CloseRead(std::FILE*& stream) {
    if (stream) std::fclose(stream);
    stream = nullptr;
}

void ReopenSource() {
    CloseRead(SourceStream);
    SourceStream = std::fopen(SourceName.c_str(), "rb");
    if (!SourceStream) Fatal("Read error.");
}

void CopyAll(std::FILE* in, std::FILE* out) {
    unsigned char block[BlockSize];
    while (!std::feof(in)) {
        std::size_t delivered = ReadBytes(in, block, BlockSize);
        WriteBytes(out, block, delivered);
    }
}

// Writes the header part and then the payload into the output file.
void JoinTemporaries() {
    std::FILE* payload = std::fopen(PayloadTempName, "rb");
    std::FILE* header = std::fopen(HeaderTempName, "rb");
    static OutputFile joined;
    bool created = OpenOutput(joined, OutputName);
    if (!payload) Fatal("1open error.");
    if (!header) Fatal("2open error.");
    if (!created) Fatal("3open error.");
    CopyAll(header, joined.stream);
    CopyAll(payload, joined.stream);
    CloseRead(payload);
    CloseRead(header);
    if (!CommitOutput(joined)) Fatal("Write error.");
}

void RemoveTemporaries() {
    std::remove(HeaderTempName);
    std::remove(PayloadTempName);
    ReleaseFileLock(TempLocks[1]);
    ReleaseFileLock(TempLocks[0]);
}

// The size of the file open on the stream, 0 when it has none.
std::uint64_t KnownSize(std::FILE* stream) {
    const long long size = RegularFileSize(stream);
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

void SealOutput() {
    std::cout << OutputName << '\n';
    if (EndsWith(OutputName, ".txt.lx")) {
        RunEncrypt(OutputName);
        std::remove(OutputName.c_str());
    }
    ReleasePlugin();
}

void Compress(const std::string& path) {
    SelectFiles(1, path);
    StartProgress(2 * KnownSize(SourceStream));
    CompressStreams(ReopenSource);
    EndProgress();
    CloseRead(SourceStream);
    CloseWritten(DataSink);
    CloseWritten(HeaderSink);
    JoinTemporaries();
    RemoveTemporaries();
    if (pluginActive) SealOutput();
    std::cout << "Compress successfully." << std::flush;
}

// The decoded text of display mode, shown once the whole payload decoded.
std::string DisplayedText;

void WriteToDataSink(const std::uint8_t* bytes, std::size_t length) { WriteBytes(DataSink, bytes, length); }

void KeepForDisplay(const std::uint8_t* bytes, std::size_t length) {
    DisplayedText.append(reinterpret_cast<const char*>(bytes), length);
}

// Text is shown up to its first zero byte.
void ShowDecodedText() { PrintLine(DisplayedText.substr(0, DisplayedText.find('\0'))); }

void Extract(const std::string& path) {
    SelectFiles(2, path);
    StartProgress(KnownSize(SourceStream));
    ExtractStream(displayMode ? KeepForDisplay : WriteToDataSink);
    EndProgress();
    CloseRead(SourceStream);
    if (displayMode) ShowDecodedText();
    if (!displayMode) {
        DataSink = nullptr;
        if (!CommitOutput(ExtractOutput)) Fatal("Write error.");
    }
    PrintLine("======================================");
    PrintLine("Extract successfully.");
    if (pluginActive) std::remove(path.c_str());
    if (displayMode) WaitForKeyPress();
}

}  // namespace

void CompressStreams(void (*restartSource)()) {
    CountBytes();
    SnapshotCounts();
    restartSource();
    BuildTree(true);
    WriteHeader(EncodePayload());
    WriteTable();
}

void ExtractStream(ByteSink sink) {
    ReadHeader();
    PrintLine(std::string(38, '='));
    DecodePayload(sink);
}

void RunOperation(int mode, const std::string& path) {
    if (mode == 0) mode = AskMode();
    if (mode == 0) ExitNormally(0);
    if (mode == 1)
        Compress(path);
    else if (mode == 2)
        Extract(path);
    else
        Fatal("wrong command.");
}
