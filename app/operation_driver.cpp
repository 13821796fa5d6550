#include "app/operation_driver.h"

#include <algorithm>
#include <iostream>

#include "app/command_line.h"
#include "app/file_selection.h"
#include "app/program_state.h"
#include "app/progress.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/console_text.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"
#include "platform/platform.h"
#include "plugin/crypto_plugin.h"

FileFacts SourceFacts;
std::string SealedName;
bool displayMode = false;

namespace {

constexpr std::size_t BlockSize = 1 << 18;

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

// Copies in the kernel as far as it goes, then the rest (or all of it, and
// any error) through a buffer.
void CopyAll(std::FILE* in, std::FILE* out) {
    if (std::fflush(out) != 0) Fatal("Write error.");
    CopyInKernel(in, out);
    static unsigned char block[BlockSize];
    while (!std::feof(in)) {
        std::size_t delivered = ReadBytes(in, block, BlockSize);
        WriteBytes(out, block, delivered);
    }
}

// The size of the file open on the stream, 0 when it has none.
std::uint64_t KnownSize(std::FILE* stream) {
    const long long size = RegularFileSize(stream);
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

// Writes the header part and then the payload into the output file, each
// read back through its lock's descriptor.
void JoinTemporaries() {
    std::FILE* payload = OpenLockedForReading(RunFiles[PayloadFile].lock);
    std::FILE* header = OpenLockedForReading(RunFiles[HeaderFile].lock);
    bool created = OpenOutput(OutputName, false);
    if (!payload) Fatal("1open error.");
    if (!header) Fatal("2open error.");
    if (!created) Fatal("3open error.");
    std::FILE* joined = RunFiles[OutputFile].stream;
    ReserveSpace(joined, KnownSize(header) + KnownSize(payload));
    CopyAll(header, joined);
    CopyAll(payload, joined);
    CloseRead(payload);
    CloseRead(header);
    if (!CommitOutput(SourceFacts, false)) Fatal("Write error.");
}

// What the output of an extraction can take: the stored total, unless the
// compressed file is too short to hold it (every code takes a bit at least),
// and never more than 8 times what the compressed file has on disk, which a
// sparse file's holes do not count.
std::uint64_t PlausibleOutputSize() {
    const std::uint64_t mostSymbols = KnownSize(SourceStream) * 8;
    const long long allocated = AllocatedFileBytes(SourceStream);
    const std::uint64_t onDisk = allocated > 0 ? static_cast<std::uint64_t>(allocated) * 8 : 0;
    return Header.storedTotal <= mostSymbols ? std::min(Header.storedTotal, onDisk) : 0;
}

// False when the plug-in said it did not seal: the compressed file is kept.
bool SealOutput() {
    std::cout << TextForStream(stdout, OutputName) << '\n';
    bool sealed = true;
    if (EndsWith(OutputName, ".txt.lx")) {
        sealed = RunEncrypt(OutputName);
        if (sealed)
            std::remove(OutputName.c_str());
        else
            std::cerr << TextForStream(stderr, OutputName) << ": not sealed, the compressed file is kept\n";
    }
    ReleasePlugin();
    return sealed;
}

void Compress(const std::string& path) {
    SelectFiles(1, path);
    StartProgress("counting", KnownSize(SourceStream));
    CompressStreams([] {
        ReopenSource();
        NextProgressPass("coding");
    });
    EndProgress();
    CloseRead(SourceStream);
    CloseWritten(DataSink);
    CloseWritten(HeaderSink);
    JoinTemporaries();
    RemoveTemporaries();
    const bool sealed = !pluginActive || SealOutput();
    std::cout << "Compress successfully." << std::flush;
    // The one status-1 run without a message of Fatal's.
    if (!sealed) ExitImmediately(1);
}

// The decoded text of display mode, shown once the whole payload decoded.
// A file under the display limit holds fewer than 8 * 1024 code bits, so
// more text than that means the file changed while it was read.
std::string DisplayedText;
constexpr std::size_t LongestDisplayedText = 8 * 1024;

int KeepForDisplay(void*, const void* bytes, std::size_t length) {
    if (DisplayedText.size() + length > LongestDisplayedText) Fatal("Read error.");
    DisplayedText.append(static_cast<const char*>(bytes), length);
    return 0;
}

// A console line of display mode, where the console is the only output: a
// line that cannot be written fails the run.
void PrintShownLine(const std::string& text) {
    if (!displayMode) return PrintLine(text);
    std::cout << text << '\n' << std::flush;
    if (std::cout) return;
    std::cout.clear();
    Fatal("Write error.");
}

// Text is shown up to its first zero byte, its control characters made
// inert on a terminal.
void ShowDecodedText() {
    PrintShownLine(TextForStream(stdout, DisplayedText.substr(0, DisplayedText.find('\0'))));
}

// A written file is moved into place; with the plug-in active, it is made
// durable first, since the compressed file is then removed.
void CommitExtracted() {
    DataSink = nullptr;
    FileFacts madeFrom = SourceFacts;
    if (!SealedName.empty()) FactsOfNamedFile(SealedName, madeFrom);
    if (!CommitOutput(madeFrom, pluginActive)) Fatal("Write error.");
}

// With the plug-in active the compressed file goes once the extraction has
// succeeded; a shown text removes only the unsealed copy of a sealed file.
void RemoveExtractedSource(const std::string& path) {
    if (!SealedName.empty())
        RemoveUnsealedCopy();
    else if (pluginActive && !displayMode)
        std::remove(path.c_str());
}

void Extract(const std::string& path) {
    SelectFiles(2, path);
    StartProgress("decoding", KnownSize(SourceStream));
    ExtractStream();
    EndProgress();
    CloseRead(SourceStream);
    if (displayMode)
        ShowDecodedText();
    else
        CommitExtracted();
    PrintShownLine("======================================");
    PrintShownLine("Extract successfully.");
    RemoveExtractedSource(path);
    if (displayMode) WaitForKeyPress();
}

}  // namespace

void CompressStreams(void (*restartSource)()) {
    CheckResult(CountBytes(FrequencyTable, StreamReader(SourceStream)));
    SnapshotCounts(FrequencyTable, SavedFrequencies);
    restartSource();
    CheckResult(BuildTree(FrequencyTable, TreeRoot, &CodeList));
    int finalBitCount = 0;
    CheckResult(EncodePayload(CodeList, SavedFrequencies, StreamReader(SourceStream), StreamWriter(DataSink),
                              ProgramOptions, finalBitCount));
    const corvane_writer header = StreamWriter(HeaderSink);
    CheckResult(WriteHeader(Header, SavedFrequencies, finalBitCount, header));
    CheckResult(WriteTable(Header, SavedFrequencies, header));
}

// The header and the table are read from the file's first byte.
void ExtractStream() {
    if (std::fseek(SourceStream, 0, SEEK_SET) != 0) Fatal("wrong compressed file.");
    CheckResult(ReadHeader(Header, FrequencyTable, SavedFrequencies, TreeRoot, StreamReader(SourceStream)));
    PrintShownLine(std::string(38, '='));
    const corvane_writer sink =
        displayMode ? corvane_writer{nullptr, KeepForDisplay} : StreamWriter(DataSink);
    if (!displayMode) ReserveSpace(DataSink, PlausibleOutputSize());
    CheckResult(
        DecodePayload(TreeRoot, Header, SavedFrequencies, StreamReader(SourceStream), sink, ProgramOptions));
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
