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
// Time left is a guess until a pass has run this long and done this share.
constexpr double FirstEstimateSeconds = 1.0;
constexpr double FirstEstimateShare = 0.05;
constexpr std::size_t LongestLine = 255;
constexpr int ColumnsWhenUnknown = 80;

struct ProgressState {
    const char* pass = "";
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    Clock::time_point started;
    Clock::time_point passStarted;
    Clock::time_point drawn;
};

ProgressState Progress;

// Blanks as wide as the line shown, between two carriage returns; what the
// signal handler writes. Its length is 0 while no line is shown.
char Eraser[LongestLine + 2];
volatile std::sig_atomic_t EraserLength = 0;

// The widest line that fits the terminal as it is now without wrapping: the
// cursor never reaches the last column.
std::size_t WidestLine() {
    const int columns = TerminalColumns(stderr);
    const int usable = (columns > 0 ? columns : ColumnsWhenUnknown) - 1;
    return std::min(static_cast<std::size_t>(std::max(usable, 1)), LongestLine);
}

std::string Mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1 << 20));
    return text;
}

// ", 1:05 left", once the pass has run long enough for a fair guess.
std::string TimeLeft(double seconds, double rate) {
    const double share = static_cast<double>(Progress.done) / static_cast<double>(Progress.total);
    if (seconds < FirstEstimateSeconds || share < FirstEstimateShare || rate <= 0) return "";
    const double left = static_cast<double>(Progress.total - std::min(Progress.done, Progress.total)) / rate;
    long whole = static_cast<long>(left);
    if (static_cast<double>(whole) < left) ++whole;  // "0:00 left" only at the very end
    char text[48];
    std::snprintf(text, sizeof text, ", %ld:%02ld left", whole / 60, whole % 60);
    return text;
}

std::string ProgressText(double seconds) {
    const double rate = seconds > 0 ? static_cast<double>(Progress.done) / seconds : 0;
    std::string text = std::string("corvane: ") + Progress.pass + " " + Mebibytes(Progress.done);
    char speed[48];
    std::snprintf(speed, sizeof speed, ", %.0f MB/s", rate / 1e6);
    if (Progress.total == 0) return text + " MiB" + speed;
    const auto percent =
        static_cast<int>(100.0 * static_cast<double>(std::min(Progress.done, Progress.total)) /
                         static_cast<double>(Progress.total));
    text += " of " + Mebibytes(Progress.total) + " MiB (" + std::to_string(percent) + "%)";
    return text + speed + TimeLeft(seconds, rate);
}

void Draw(const std::string& text) {
    const std::size_t length = std::min(text.size(), WidestLine());
    EraseProgress();
    std::string line(1, '\r');
    line.append(text, 0, length);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    Eraser[0] = '\r';
    std::fill(Eraser + 1, Eraser + length + 1, ' ');
    Eraser[length + 1] = '\r';
    EraserLength = static_cast<std::sig_atomic_t>(length + 2);
}

void NoteSourceRead(std::size_t bytes) {
    Progress.done += bytes;
    const Clock::time_point now = Clock::now();
    if (now - Progress.started < FirstShown || now - Progress.drawn < Redrawn) return;
    Progress.drawn = now;
    Draw(ProgressText(std::chrono::duration<double>(now - Progress.passStarted).count()));
}

void EraseBeforeOutput() { EraseProgress(); }

}  // namespace

void StartProgress(const char* pass, std::uint64_t passBytes) {
    if (!IsTerminal(stderr)) return;
    const Clock::time_point now = Clock::now();
    Progress = ProgressState{pass, passBytes, 0, now, now, {}};
    ProgressHook = NoteSourceRead;
    BeforeOutputHook = EraseBeforeOutput;
    InterruptHook = EraseProgressFromSignal;
}

void NextProgressPass(const char* pass) {
    Progress.pass = pass;
    Progress.done = 0;
    Progress.passStarted = Clock::now();
}

void EndProgress() {
    EraseProgress();
    ProgressHook = nullptr;
    BeforeOutputHook = nullptr;
    InterruptHook = nullptr;
}

// Blanks over the line, no wider than the terminal is now, so that a
// terminal made narrower since the line was drawn gets no line of blanks
// wrapped onto the next.
void EraseProgress() {
    if (EraserLength == 0) return;
    const std::size_t blanks = std::min(static_cast<std::size_t>(EraserLength) - 2, WidestLine());
    std::string eraser(blanks + 2, ' ');
    eraser.front() = eraser.back() = '\r';
    std::fwrite(eraser.data(), 1, eraser.size(), stderr);
    std::fflush(stderr);
    EraserLength = 0;
}

void EraseProgressFromSignal() {
    if (EraserLength != 0) WriteToStandardError(Eraser, static_cast<std::size_t>(EraserLength));
}
