#include "app/progress.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "io/shared_io.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto FirstShown = std::chrono::milliseconds(1000);
constexpr auto Redrawn = std::chrono::milliseconds(250);
constexpr std::size_t LongestLine = 100;

struct ProgressState {
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    Clock::time_point started;
    Clock::time_point drawn;
};

ProgressState Progress;

// Blanks as wide as the line shown, between two carriage returns; what the
// signal handler writes. Its length is 0 while no line is shown.
char Eraser[LongestLine + 2];
volatile std::sig_atomic_t EraserLength = 0;

std::string Mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

std::string ProgressText(double seconds) {
    const double rate = static_cast<double>(Progress.done) / seconds;
    std::string text = "corvane: " + Mebibytes(Progress.done);
    char tail[64];
    if (Progress.total > 0) {
        const double left =
            static_cast<double>(Progress.total - std::min(Progress.done, Progress.total)) / rate;
        std::snprintf(tail, sizeof tail, " of %s (%d%%)", Mebibytes(Progress.total).c_str(),
                      static_cast<int>(100.0 * static_cast<double>(Progress.done) /
                                       static_cast<double>(Progress.total)));
        text += tail;
        std::snprintf(tail, sizeof tail, ", %.0f MB/s, %d:%02d left", rate / 1e6, static_cast<int>(left) / 60,
                      static_cast<int>(left) % 60);
    } else {
        std::snprintf(tail, sizeof tail, ", %.0f MB/s", rate / 1e6);
    }
    return text + tail;
}

void Draw(const std::string& text) {
    const std::size_t length = std::min(text.size(), LongestLine);
    EraseProgress();
    std::string line(1, '\r');
    line.append(text, 0, length);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    Eraser[0] = '\r';
    for (std::size_t k = 1; k <= length; ++k) Eraser[k] = ' ';
    Eraser[length + 1] = '\r';
    EraserLength = static_cast<std::sig_atomic_t>(length + 2);
}

void NoteSourceRead(std::size_t bytes) {
    Progress.done += bytes;
    const Clock::time_point now = Clock::now();
    if (now - Progress.started < FirstShown || now - Progress.drawn < Redrawn) return;
    Progress.drawn = now;
    Draw(ProgressText(std::chrono::duration<double>(now - Progress.started).count()));
}

void EraseBeforeOutput() { EraseProgress(); }

}  // namespace

void StartProgress(std::uint64_t totalBytes) {
    if (!IsTerminal(stderr)) return;
    Progress = ProgressState{totalBytes, 0, Clock::now(), {}};
    ProgressHook = NoteSourceRead;
    BeforeOutputHook = EraseBeforeOutput;
    InterruptHook = EraseProgressFromSignal;
}

void EndProgress() {
    EraseProgress();
    ProgressHook = nullptr;
    BeforeOutputHook = nullptr;
    InterruptHook = nullptr;
}

void EraseProgress() {
    if (EraserLength == 0) return;
    std::fwrite(Eraser, 1, static_cast<std::size_t>(EraserLength), stderr);
    std::fflush(stderr);
    EraserLength = 0;
}

void EraseProgressFromSignal() {
    if (EraserLength != 0) WriteToStandardError(Eraser, static_cast<std::size_t>(EraserLength));
}
