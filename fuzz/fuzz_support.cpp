#include "fuzz_support.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "app/operation_driver.h"
#include "app/output_file.h"
#include "codec/bit_queue.h"
#include "codec/encoder.h"
#include "format/compressed_file.h"
#include "io/shared_io.h"
#include "model/code_tree.h"
#include "model/frequency_table.h"

namespace {

std::ostringstream Console;

void ThrowInsteadOfExit(int) { throw FatalStop{LastConsoleLine()}; }

void CloseShared(std::FILE*& stream) {
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
}

}  // namespace

void PrepareFuzzing() {
    FatalExit = ThrowInsteadOfExit;
    std::cout.rdbuf(Console.rdbuf());
}

void ResetProgramState() {
    FreeTree(TreeRoot);
    TreeRoot = nullptr;
    FreeCodeList(CodeList.next);
    CodeList.next = nullptr;
    for (int k = 0; k < 256; ++k) {
        FrequencyTable[k] = SymbolStat{};
        SavedFrequencies[k] = SymbolStat{};
    }
    InitSymbols();
    BitQueue.readPosition = 0;
    BitQueue.writePosition = 0;
    BitQueue.count = 0;
    OutputIndex = -1;
    finalBits = 0;
    widthCode = 0;
    reservedFlag = 0;
    tableMode = 0;
    storedTotal = 0;
    displayMode = false;
    CloseShared(SourceStream);
    CloseShared(DataSink);
    CloseShared(HeaderSink);
    PendingOutput = nullptr;
    ClearConsole();
}

std::string LastConsoleLine() {
    std::string text = Console.str();
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

std::string ConsoleText() { return Console.str(); }

void ClearConsole() {
    Console.str("");
    Console.clear();
}

std::FILE* ReadStreamOver(const Bytes& data) {
    static std::uint8_t none = 0;
    void* bytes = data.empty() ? &none : const_cast<std::uint8_t*>(data.data());
    return fmemopen(bytes, data.size(), "rb");
}

std::FILE* OpenSink(MemorySink& sink) {
    sink.stream = open_memstream(&sink.buffer, &sink.size);
    return sink.stream;
}

Bytes SinkBytes(MemorySink& sink) {
    std::fflush(sink.stream);
    return Bytes(sink.buffer, sink.buffer + sink.size);
}

void FreeSink(MemorySink& sink) {
    if (sink.stream != nullptr) std::fclose(sink.stream);
    std::free(sink.buffer);
    sink = MemorySink{};
}

void Finding(const std::string& what) {
    std::cerr.flush();
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what.c_str());
    std::abort();
}
