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

// True when the last thing written over the lines drawn is blanks as wide as
// the widest of them, between carriage returns.
bool LinesTakenDown(const std::string& shown) {
    std::vector<std::string> pieces;
    std::size_t widest = 0;
    for (std::size_t start = 0, end; start < shown.size(); start = end + 1) {
        end = shown.find('\r', start);
        if (end == std::string::npos) end = shown.size();
        if (end == start) continue;
        pieces.push_back(shown.substr(start, end - start));
        if (pieces.back().find_first_not_of(' ') != std::string::npos) widest = std::max(widest, end - start);
    }
    return !pieces.empty() && shown.back() == '\r' &&
           pieces.back().find_first_not_of(' ') == std::string::npos && pieces.back().size() >= widest;
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

TEST(Progress, ShownOnATerminalOnlyAndTakenDownAtTheEnd) {
    if (UnderWine()) GTEST_SKIP() << "a FIFO in the file system is POSIX only";
    const std::string text = Text(3 << 20);
    Sandbox box;
    RunOptions terminal;
    terminal.errorOnTerminal = true;
    RunResult shown = RunFedSlowly(box, "big", text, {"big"}, terminal);
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_EQ(shown.out, Banner + NoPlugin + "Compress successfully.");
    EXPECT_NE(shown.err.find("corvane: "), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find(" MB/s"), std::string::npos) << shown.err;
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
    // An output that is not a regular file is used only under a name typed
    // at the menu.
    mkfifo(back.path("big").c_str(), 0600);
    const int reading = open(back.path("big").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int writer = open(back.path("big").c_str(), O_WRONLY | O_CLOEXEC);
    fcntl(reading, F_SETFL, fcntl(reading, F_GETFL) & ~O_NONBLOCK);
    std::string drained;
    std::thread drainer(DrainSlowly, reading, std::ref(drained));
    RunResult extracted = back.Run({}, "2 big.lx big\n", terminal);
    close(writer);
    drainer.join();
    EXPECT_EQ(extracted.exitCode, 0);
    EXPECT_EQ(extracted.out,
              Banner + "0: exit, 1: compress, 2: extract :\nchoose file to extract:\nenter output file:\n" +
                  Separator + Separator + "Extract successfully.\n");
    EXPECT_NE(extracted.err.find(" MB/s"), std::string::npos) << extracted.err;
    EXPECT_TRUE(LinesTakenDown(extracted.err)) << extracted.err;
    EXPECT_EQ(drained, text);
}

}  // namespace
