#include "io/shared_io.h"

#include <iostream>

#include "platform/platform.h"

std::FILE* SourceStream = nullptr;
std::FILE* DataSink = nullptr;
std::FILE* HeaderSink = nullptr;
std::string SourceName;
std::string OutputName;

void (*FatalCleanup)() = nullptr;
void (*FatalExit)(int status) = ExitNormally;

void (*ProgressHook)(std::size_t sourceBytes) = nullptr;
void (*BeforeOutputHook)() = nullptr;

void PrintLine(const std::string& text) {
    if (BeforeOutputHook != nullptr) BeforeOutputHook();
    std::cout << text << '\n' << std::flush;
}

void Fatal(const std::string& message) {
    PrintLine(message);
    if (FatalCleanup != nullptr) FatalCleanup();
    FatalExit(1);
    ExitNormally(1);
}

std::size_t ReadBytes(std::FILE* in, void* buffer, std::size_t size) {
    std::size_t delivered = std::fread(buffer, 1, size, in);
    if (delivered < size && std::ferror(in)) Fatal("Read error.");
    if (in == SourceStream && ProgressHook != nullptr) ProgressHook(delivered);
    return delivered;
}

void WriteBytes(std::FILE* out, const void* data, std::size_t size) {
    if (size > 0 && std::fwrite(data, 1, size, out) != size) Fatal("Write error.");
    if (ProgressHook != nullptr) ProgressHook(0);
}

bool AtEndOfFile(std::FILE* in) {
    if (std::feof(in)) return true;
    int next = std::fgetc(in);
    if (next == EOF) {
        if (std::ferror(in)) Fatal("Read error.");
        return true;
    }
    std::ungetc(next, in);
    return false;
}

namespace {

std::ptrdiff_t ReadStream(void* context, void* buffer, std::size_t size) {
    auto* in = static_cast<std::FILE*>(context);
    const std::size_t delivered = std::fread(buffer, 1, size, in);
    if (delivered < size && std::ferror(in)) return -1;
    if (in == SourceStream && ProgressHook != nullptr) ProgressHook(delivered);
    return static_cast<std::ptrdiff_t>(delivered);
}

int WriteStream(void* context, const void* data, std::size_t size) {
    auto* out = static_cast<std::FILE*>(context);
    if (size > 0 && std::fwrite(data, 1, size, out) != size) return -1;
    if (ProgressHook != nullptr) ProgressHook(0);
    return 0;
}

}  // namespace

corvane_reader StreamReader(std::FILE* in) { return {in, ReadStream, nullptr}; }

corvane_writer StreamWriter(std::FILE* out) { return {out, WriteStream}; }
