// The progress line: shown on standard error when it is a terminal and a job
// runs for more than a second, taken down at the end, never on standard
// output and never in a file. A slow pipe makes the job long without a large
// file.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";

std::string Text(std::size_t size) {
    std::string text;
    for (unsigned state = 7; text.size() < size;) {
        state = state * 1103515245 + 12345;
        text += "etaoin shrdlu\n"[(state >> 16) % 14];
    }
    return text;
}

// Writes the content into the pipe once for every reader that opens it, in
// pieces spread over about a second and a half, until told to stop. After
// each content it waits a while, so that the reader sees the end of it.
void FeedSlowly(const fs::path& pipe, const std::string& content, const std::atomic<bool>& stop) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    const std::size_t piece = content.size() / 60 + 1;
    while (!stop) {
        int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        fcntl(fd, F_SETFL, 0);
        for (std::size_t done = 0; done < content.size() && !stop; done += piece) {
            if (write(fd, content.data() + done, std::min(piece, content.size() - done)) <= 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

// True when every line drawn is taken down again, before the next one and
// at the end, by blanks as wide as the line, or as the terminal when it has
// been made narrower than the line (`narrowest` columns).
bool LinesTakenDown(const std::string& shown, std::size_t narrowest = 1000) {
    std::vector<std::string> pieces;
    for (std::size_t start = 0, end; start < shown.size(); start = end + 1) {
        end = std::min(shown.find('\r', start), shown.size());
        if (end > start) pieces.push_back(shown.substr(start, end - start));
    }
    if (pieces.empty() || shown.back() != '\r') return false;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        if (pieces[k].find_first_not_of(' ') == std::string::npos) continue;
        if (k + 1 == pieces.size()) return false;
        const std::string& eraser = pieces[k + 1];
        if (eraser.find_first_not_of(' ') != std::string::npos ||
            eraser.size() < std::min(pieces[k].size(), narrowest - 1))
            return false;
    }
    return true;
}

// The lines drawn, in order: the text between carriage returns, blanks only
// left out.
std::vector<std::string> LinesDrawn(const std::string& shown) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < shown.size(); start = end + 1) {
        end = std::min(shown.find('\r', start), shown.size());
        std::string piece = shown.substr(start, end - start);
        if (piece.find_first_not_of(' ') != std::string::npos) lines.push_back(piece);
    }
    return lines;
}

// The percent a line shows, -1 when it shows none.
int PercentShown(const std::string& line) {
    const std::size_t open = line.find(" MiB (");
    return open == std::string::npos ? -1 : std::stoi(line.substr(open + 6));
}

// Reads the pipe to its end in small pieces with pauses, keeping the bytes.
// The pipe is open for reading before the program starts (a FIFO is used as
// an output only when it has a reader); a writer of the test's own keeps it
// from ending before the program opens it, until `writer` is closed.
void DrainSlowly(int fd, std::string& drained) {
    char block[16384];
    for (ssize_t got; (got = read(fd, block, sizeof block)) > 0;) {
        drained.append(block, static_cast<std::size_t>(got));
        std::this_thread::sleep_for(std::chrono::milliseconds(8));
    }
    close(fd);
}

RunResult RunFedSlowly(const Sandbox& box, const std::string& pipe, const std::string& content,
                       const std::vector<std::string>& args, const RunOptions& options) {
    mkfifo(box.path(pipe).c_str(), 0600);
    std::atomic<bool> stop = false;
    std::thread feeder(FeedSlowly, box.path(pipe), std::cref(content), std::cref(stop));
    RunResult run = box.Run(args, "", options);
    stop = true;
    feeder.join();
    fs::remove(box.path(pipe));
    return run;
}

// Extracts big.lx into the pipe "big", read slowly. An output that is not a
// regular file is used only under a name typed at the menu.
RunResult ExtractIntoSlowPipe(const Sandbox& box, const RunOptions& options, std::string& drained) {
    mkfifo(box.path("big").c_str(), 0600);
    const int reading = open(box.path("big").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int writer = open(box.path("big").c_str(), O_WRONLY | O_CLOEXEC);
    fcntl(reading, F_SETFL, fcntl(reading, F_GETFL) & ~O_NONBLOCK);
    std::thread drainer(DrainSlowly, reading, std::ref(drained));
    RunResult run = box.Run({}, "2 big.lx big\n", options);
    close(writer);
    drainer.join();
    return run;
}

TEST(Progress, ShownOnATerminalOnlyAndTakenDownAtTheEnd) {
    if (UnderWine()) GTEST_SKIP() << "a FIFO in the file system is POSIX only";
    const std::string text = Text(3 << 20);
    Sandbox box;
    RunOptions terminal;
    terminal.errorOnTerminal = true;
    RunResult shown = RunFedSlowly(box, "big", text, {"big"}, terminal);
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.out, Banner + NoPlugin + "Compress successfully.");
    // Each pass reads the pipe once more and is named; a pipe has no size.
    EXPECT_NE(shown.err.find("corvane: counting "), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("corvane: coding "), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find(" MB/s"), std::string::npos) << shown.err;
    EXPECT_EQ(shown.err.find(" of "), std::string::npos) << shown.err;
    EXPECT_TRUE(LinesTakenDown(shown.err)) << shown.err;
    const std::string compressed = box.Read("big.lx");

    Sandbox quiet;
    RunResult redirected = RunFedSlowly(quiet, "big", text, {"big"}, {});
    EXPECT_EQ(redirected.out, shown.out);
    EXPECT_EQ(redirected.err, "");
    EXPECT_EQ(quiet.Read("big.lx"), compressed);

    // An extraction into a pipe that is read slowly.
    Sandbox back;
    back.Write("big.lx", compressed);
    std::string drained;
    RunResult extracted = ExtractIntoSlowPipe(back, terminal, drained);
    EXPECT_EQ(extracted.exitCode, 0);
    EXPECT_EQ(extracted.out,
              Banner + "0: exit, 1: compress, 2: extract :\nchoose file to extract:\nenter output file:\n" +
                  Separator + Separator + "Extract successfully.\n");
    EXPECT_NE(extracted.err.find(" MB/s"), std::string::npos) << extracted.err;
    EXPECT_TRUE(LinesTakenDown(extracted.err)) << extracted.err;
    EXPECT_EQ(drained, text);
}

// An extraction into a pipe read slowly, with standard error on a terminal
// of these many columns, resized to `resized` once the line shows.
RunResult ExtractSlowly(const std::string& compressed, unsigned short columns, unsigned short resized) {
    Sandbox box;
    box.Write("big.lx", compressed);
    RunOptions terminal;
    terminal.errorOnTerminal = true;
    terminal.columns = columns;
    terminal.resizedColumns = resized;
    std::string drained;
    RunResult run = ExtractIntoSlowPipe(box, terminal, drained);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(drained.size(), 3u << 20);
    EXPECT_TRUE(LinesTakenDown(run.err, resized != 0 ? resized : columns)) << run.err;
    EXPECT_EQ(run.err.find('\n'), std::string::npos) << run.err;
    return run;
}

TEST(Progress, OneLineCutToTheTerminalsWidthAtEveryRedraw) {
    if (UnderWine()) GTEST_SKIP() << "a FIFO in the file system is POSIX only";
    Sandbox box;
    box.Write("big", Text(3 << 20));
    ASSERT_EQ(box.Run({"big"}).exitCode, 0);
    const std::string compressed = box.Read("big.lx");
    char size[32];
    std::snprintf(size, sizeof size, " of %.1f MiB (", static_cast<double>(compressed.size()) / (1 << 20));

    // Wide: the whole line, the file's own size, time left only from 5% on.
    std::vector<std::string> wide = LinesDrawn(ExtractSlowly(compressed, 200, 0).err);
    ASSERT_FALSE(wide.empty());
    bool timeLeftShown = false;
    for (const std::string& line : wide) {
        EXPECT_EQ(line.rfind("corvane: decoding ", 0), 0u) << line;
        EXPECT_NE(line.find(size), std::string::npos) << line;
        if (line.find(" left") == std::string::npos) continue;
        timeLeftShown = true;
        EXPECT_GE(PercentShown(line), 5) << line;
    }
    EXPECT_TRUE(timeLeftShown);

    // Narrow: never as wide as the terminal, so it never wraps.
    for (const std::string& line : LinesDrawn(ExtractSlowly(compressed, 40, 0).err))
        EXPECT_LE(line.size(), 39u) << line;

    // Made narrow while it shows: the lines after follow.
    std::vector<std::string> resized = LinesDrawn(ExtractSlowly(compressed, 200, 40).err);
    ASSERT_GE(resized.size(), 2u);
    EXPECT_GT(resized.front().size(), 39u) << resized.front();
    EXPECT_LE(resized.back().size(), 39u) << resized.back();
}

}  // namespace
