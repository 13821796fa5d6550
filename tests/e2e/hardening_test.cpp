// Faults injected from outside: full disks at every stage, unreadable
// inputs, sources that change under the program, a rival compression,
// damaged and foreign compressed files, odd names and hostile counts. A run
// ends with status 0 only with the right output, otherwise with status 1 and
// one of the program's own messages, never by a signal, and leaves no
// half-written file behind.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "e2e/harness.h"
#include "format_check.h"

namespace {

namespace fs = std::filesystem;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";
const std::string Menu = "0: exit, 1: compress, 2: extract :\n";

const std::set<std::string> OwnMessages = {"Write error.",
                                           "Read error.",
                                           "wrong compressed file.",
                                           "only one character OR no character.",
                                           "1Open error.",
                                           "1open error.",
                                           "2open error.",
                                           "3open error.",
                                           "open tree file error.",
                                           "temporary files in use.",
                                           "input and output are the same file.",
                                           "out of memory.",
                                           "input too large.",
                                           "wrong tree.",
                                           "wrong tree find list.",
                                           "wrong command."};

std::string Sample(std::size_t size, unsigned seed = 12345) {
    std::string text;
    unsigned state = seed;
    while (text.size() < size) {
        state = state * 1103515245 + 12345;
        text += "etaoin shrdlu\n"[(state >> 16) % 14];
    }
    return text;
}

std::string AllByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes += static_cast<char>(value);
    return bytes;
}

std::string LastLine(const std::string& out) {
    std::string text = out;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    std::size_t start = text.rfind('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

// Status 1 with one of the program's own messages as its last line.
void ExpectOwnRefusal(const RunResult& run, const std::string& context) {
    EXPECT_EQ(run.signal, 0) << context;
    EXPECT_EQ(run.exitCode, 1) << context << "\n" << run.out;
    EXPECT_TRUE(OwnMessages.count(LastLine(run.out))) << context << ": " << run.out;
}

// Output temporaries ("NAME.corvane-PID-N") still lying about.
std::vector<std::string> HalfWritten(const Sandbox& box) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(box.dir())) {
        if (entry.path().filename().string().find(".corvane-") != std::string::npos)
            found.push_back(entry.path().string());
    }
    return found;
}

std::size_t SizeOf(const Sandbox& box, const std::string& name) {
    std::error_code error;
    auto size = fs::file_size(box.path(name), error);
    return error ? 0 : static_cast<std::size_t>(size);
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A file the program accepted must have decoded faithfully to its table.
void ExpectFaithfulDecoding(const std::string& file, const std::string& output, const std::string& context) {
    EXPECT_EQ(CheckFaithfulDecoding(AsBytes(file), AsBytes(output)), "") << context;
}

// Length of the header part of a written file: header byte, table length
// and table.
std::size_t HeaderPartLength(const std::string& compressed) {
    return ParseStoredTable(AsBytes(compressed)).value().headerLength;
}

std::string Compressed(const std::string& input) {
    Sandbox box;
    box.Write("in", input);
    EXPECT_EQ(box.Run({"in"}).exitCode, 0);
    return box.Read("in.lx");
}

// The limit applies to standard output too, which is a file here, so limits
// stay above the longest console output of a run.
constexpr std::size_t SmallestLimit = 200;

std::vector<std::size_t> Limits(std::initializer_list<std::size_t> candidates) {
    std::set<std::size_t> kept;
    for (std::size_t limit : candidates) {
        if (limit >= SmallestLimit) kept.insert(limit);
    }
    return {kept.begin(), kept.end()};
}

TEST(StageWriteFailures, EveryLimitFailsCleanlyOrWritesTheWholeFile) {
    // A text, whose payload is larger than its header part, and all byte
    // values once, whose header part (258 bytes) is larger than its payload.
    for (const std::string& input : {Sample(30000), AllByteValues()}) {
        const std::string compressed = Compressed(input);
        const std::size_t header = HeaderPartLength(compressed);
        const std::size_t payload = compressed.size() - header;
        Sandbox box;
        box.Write("data", input);
        for (std::size_t limit : Limits({SmallestLimit, header - 1, header, payload - 1, payload,
                                         compressed.size() - 1, compressed.size()})) {
            const std::string context =
                "limit " + std::to_string(limit) + " of " + std::to_string(compressed.size());
            box.Write("data.lx", "old compressed");
            std::error_code error;
            fs::remove(box.path("tmptree1"), error);
            fs::remove(box.path("tmptree2"), error);
            RunOptions options;
            options.fileSizeLimit = static_cast<long>(limit);
            RunResult run = box.Run({"data"}, "", options);
            EXPECT_EQ(box.Read("data"), input) << context;
            EXPECT_TRUE(HalfWritten(box).empty()) << context;
            if (limit >= compressed.size()) {
                EXPECT_EQ(run.exitCode, 0) << context;
                EXPECT_EQ(box.Read("data.lx"), compressed) << context;
                continue;
            }
            EXPECT_EQ(run.exitCode, 1) << context;
            EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n") << context;
            EXPECT_EQ(box.Read("data.lx"), "old compressed") << context;
            // The stage that failed: the payload is written first, then the
            // header part, then both are joined.
            if (limit < payload) {
                EXPECT_EQ(SizeOf(box, "tmptree2"), limit) << context;
            } else if (limit < header) {
                EXPECT_EQ(SizeOf(box, "tmptree2"), payload) << context;
                EXPECT_EQ(SizeOf(box, "tmptree1"), limit) << context;
            } else {
                EXPECT_EQ(SizeOf(box, "tmptree2"), payload) << context;
                EXPECT_EQ(SizeOf(box, "tmptree1"), header) << context;
            }
        }
        // Extraction: every limit below the original size keeps the old file.
        box.Write("packed.lx", compressed);
        for (std::size_t limit : Limits({SmallestLimit, input.size() / 2, input.size() - 1, input.size()})) {
            const std::string context = "extract, limit " + std::to_string(limit);
            box.Write("packed", "old extracted");
            RunOptions options;
            options.fileSizeLimit = static_cast<long>(limit);
            RunResult run = box.Run({"packed.lx"}, "", options);
            EXPECT_TRUE(HalfWritten(box).empty()) << context;
            EXPECT_EQ(box.Read("packed.lx"), compressed) << context;
            if (limit >= input.size()) {
                EXPECT_EQ(run.exitCode, 0) << context;
                EXPECT_EQ(box.Read("packed"), input) << context;
            } else {
                EXPECT_EQ(run.out, Banner + NoPlugin + Separator + "Write error.\n") << context;
                EXPECT_EQ(box.Read("packed"), "old extracted") << context;
            }
        }
    }
}

// A derived output name is only ever a regular file: the user's own link to
// a device there is refused before anything is written, and the link stays.
// A name typed at the menu may be the device itself.
TEST(StageWriteFailures, LinksToADeviceAtADerivedNameAreRefusedAndKept) {
    Sandbox box;
    const std::string input = Sample(5000);
    box.Write("data", input);
    fs::create_symlink("/dev/full", box.path("data.lx"));
    RunResult run = box.Run({"data"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "3open error.\n");
    if (!UnderWine()) {
        EXPECT_EQ(run.err, "data.lx: not used as the output, it is a device\n");
    }
    EXPECT_TRUE(fs::is_symlink(box.path("data.lx")));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));

    box.Write("packed.lx", Compressed(input));
    fs::create_symlink("/dev/full", box.path("packed"));
    run = box.Run({"packed.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    if (!UnderWine()) {
        EXPECT_EQ(run.err, "packed: not used as the output, it is a device\n");
    }
    EXPECT_TRUE(fs::is_symlink(box.path("packed")));
    run = box.Run({}, "2 packed.lx /dev/full\n");
    EXPECT_EQ(LastLine(run.out), "Write error.");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(box.Read("data"), input);
    EXPECT_TRUE(HalfWritten(box).empty());
}

TEST(ReadFailures, FoldersTypedAtThePrompts) {
    if (UnderWine())
        GTEST_SKIP() << "Windows cannot open a folder as a file (FoldersAreRefusedAtTheOpen checks Windows)";
    Sandbox box;
    fs::create_directory(box.path("folder"));
    RunResult run = box.Run({}, "1 folder\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to compress:\nRead error.\n");
    EXPECT_FALSE(box.Exists("folder.lx"));

    run = box.Run({}, "2 folder out\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to extract:\nenter output file:\nRead error.\n");
    EXPECT_FALSE(box.Exists("out"));
    EXPECT_TRUE(fs::is_directory(box.path("folder")));
    EXPECT_TRUE(HalfWritten(box).empty());
}

// Opens the named pipe for writing once per content, each time the program
// opens it for reading, and pauses after each so the reader sees its end.
void FeedPipe(const fs::path& pipe, std::vector<std::string> contents, const std::atomic<bool>& stop) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    for (const std::string& content : contents) {
        int fd = -1;
        while (!stop && (fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK)) < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (fd < 0) return;
        fcntl(fd, F_SETFL, 0);
        for (std::size_t done = 0; done < content.size();) {
            ssize_t wrote = write(fd, content.data() + done, content.size() - done);
            if (wrote <= 0) break;
            done += static_cast<std::size_t>(wrote);
        }
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

TEST(ChangingSource, APipeThatYieldsOtherBytesTheSecondTime) {
    if (UnderWine()) GTEST_SKIP() << "a FIFO in the file system is POSIX only";
    const std::string first = Sample(3000);
    std::string otherValue = first;
    otherValue[100] = 'Z';
    struct Case {
        std::string name, second;
    };
    for (const Case& change :
         {Case{"shrinks", first.substr(0, 1500)}, Case{"grows", first + "more"}, Case{"ends at once", ""},
          Case{"has a new byte value", otherValue}, Case{"stays the same", first}}) {
        Sandbox box;
        ASSERT_EQ(mkfifo(box.path("pipe").c_str(), 0600), 0);
        std::atomic<bool> stop{false};
        std::thread feeder(FeedPipe, box.path("pipe"), std::vector<std::string>{first, change.second},
                           std::cref(stop));
        RunResult run = box.Run({}, "1 pipe\n");
        stop = true;
        feeder.join();
        EXPECT_TRUE(HalfWritten(box).empty()) << change.name;
        if (change.second == first) {
            EXPECT_EQ(run.exitCode, 0) << change.name;
            fs::remove(box.path("pipe"));
            EXPECT_EQ(box.Run({"pipe.lx"}).exitCode, 0);
            EXPECT_EQ(box.Read("pipe"), first);
            continue;
        }
        ExpectOwnRefusal(run, change.name);
        if (change.second.size() != first.size()) {
            EXPECT_EQ(LastLine(run.out), "Read error.") << change.name;
        }
        EXPECT_FALSE(box.Exists("pipe.lx")) << change.name;
    }
}

// A regular file changed while it is compressed: as soon as the run has
// made its temporaries, another thread appends to it or cuts it short. The
// run either read one version in both passes and wrote it (the change may
// also come after the second pass), or stops.
TEST(ChangingSource, ARegularFileChangedDuringTheRun) {
    const std::string original = Sample(2 << 20);
    for (bool grow : {true, false}) {
        Sandbox box;
        box.Write("big", original);
        std::atomic<bool> stop{false};
        std::thread changer([&] {
            while (!stop && !box.Exists("tmptree2"))
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (stop) return;
            if (grow) {
                int fd = open(box.path("big").c_str(), O_WRONLY | O_APPEND);
                const std::string more = Sample(512 << 10, 99);
                [[maybe_unused]] ssize_t wrote = write(fd, more.data(), more.size());
                close(fd);
            } else {
                [[maybe_unused]] int cut = truncate(box.path("big").c_str(), 512 << 10);
            }
        });
        RunResult run = box.Run({"big"});
        stop = true;
        changer.join();
        const std::string context = grow ? "grows" : "shrinks";
        EXPECT_TRUE(HalfWritten(box).empty()) << context;
        if (run.exitCode != 0) {
            EXPECT_EQ(run.out, Banner + NoPlugin + "Read error.\n") << context;
            EXPECT_FALSE(box.Exists("big.lx")) << context;
            continue;
        }
        const std::string changed = box.Read("big");
        fs::remove(box.path("big"));
        ASSERT_EQ(box.Run({"big.lx"}).exitCode, 0) << context;
        const std::string output = box.Read("big");
        EXPECT_TRUE(output == original || output == changed)
            << context << ": the output is no version of the file";
    }
}

// Starts the program without waiting for it; standard output goes to `out`.
pid_t Launch(const Sandbox& box, const std::string& argument, const fs::path& out) {
    pid_t child = fork();
    if (child != 0) return child;
    int devnull = open("/dev/null", O_RDONLY);
    int sink = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(box.dir().c_str()) != 0 || devnull < 0 || sink < 0) _exit(127);
    dup2(devnull, STDIN_FILENO);
    dup2(sink, STDOUT_FILENO);
    dup2(sink, STDERR_FILENO);
    std::string binary = CorvaneBinary(), copy = argument;
    char* argv[] = {binary.data(), copy.data(), nullptr};
    execv(binary.c_str(), argv);
    _exit(127);
}

int ExitStatusOf(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Concurrency, TwoCompressionsStartedAtOnceInOneFolder) {
    if (UnderWine())
        GTEST_SKIP() << "the test starts the program with execv itself, not through the Wine runner";
    const fs::path logs = fs::temp_directory_path() / ("corvane-rivals-" + std::to_string(getpid()));
    fs::create_directories(logs);
    for (int round = 0; round < 3; ++round) {
        Sandbox box;
        const std::string inputs[2] = {Sample(512 << 10, 1 + round),
                                       AllByteValues() + Sample(400000, 50 + round)};
        box.Write("a", inputs[0]);
        box.Write("b", inputs[1]);
        const pid_t first = Launch(box, "a", logs / "a");
        const pid_t second = Launch(box, "b", logs / "b");
        const int statuses[2] = {ExitStatusOf(first), ExitStatusOf(second)};
        int succeeded = 0;
        for (int i = 0; i < 2; ++i) {
            const std::string name(1, static_cast<char>('a' + i));
            const std::string out = ReadFile(logs / name);
            if (statuses[i] == 0) {
                ++succeeded;
                EXPECT_EQ(out, Banner + NoPlugin + "Compress successfully.") << name;
                continue;
            }
            EXPECT_EQ(statuses[i], 1) << name;
            EXPECT_EQ(out, Banner + NoPlugin + "temporary files in use.\n") << name;
            EXPECT_FALSE(box.Exists(name + ".lx")) << name;
        }
        EXPECT_GE(succeeded, 1) << "round " << round;
        EXPECT_FALSE(box.Exists("tmptree1"));
        EXPECT_FALSE(box.Exists("tmptree2"));
        // Each output is the compression of its own source, untouched by the other.
        for (int i = 0; i < 2; ++i) {
            const std::string name(1, static_cast<char>('a' + i));
            if (!box.Exists(name + ".lx")) continue;
            EXPECT_EQ(box.Read(name + ".lx"), Compressed(inputs[i])) << name;
        }
    }
    fs::remove_all(logs);
}

// Another run of the same user removes "tmptree2" just as this one opens it
// (here a thread that makes and removes the name as fast as it can): the
// run opens the name again, and should that keep failing it says so in its
// own words, never that the file "has other links".
TEST(Concurrency, ATemporaryRemovedWhileBeingOpenedIsOpenedAgain) {
    if (UnderWine()) GTEST_SKIP() << "Wine opens and removes files with other timing";
    Sandbox box;
    const std::string input = Sample(2000);
    box.Write("a", input);
    std::atomic<bool> stop = false;
    std::thread other([&] {
        const std::string name = box.path("tmptree2").string();
        while (!stop) {
            const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (fd >= 0) close(fd);
            unlink(name.c_str());
        }
    });
    int succeeded = 0;
    for (int run = 0; run < 400; ++run) {
        RunResult result = box.Run({"a"});
        succeeded += result.exitCode == 0;
        EXPECT_TRUE(result.err.empty() ||
                    result.err ==
                        "tmptree2: not used as a temporary file, it was removed while it was being opened\n")
            << "run " << run << ": " << result.err;
        if (result.exitCode == 0) {
            EXPECT_EQ(box.Read("a.lx"), Compressed(input)) << "run " << run;
        }
    }
    stop = true;
    other.join();
    EXPECT_GE(succeeded, 300);
}

TEST(DamagedFiles, EveryTruncationIsRefusedAndShowsNothing) {
    const std::string compressed = Compressed(Sample(140));
    ASSERT_GT(compressed.size(), 80u);
    ASSERT_LT(compressed.size(), 120u);
    Sandbox box;
    for (std::size_t length = 0; length < compressed.size(); ++length) {
        const std::string cut = compressed.substr(0, length);
        const std::string context = "length " + std::to_string(length);
        const std::string refused = Banner + NoPlugin + "wrong compressed file.\n";
        const std::string refusedInPayload = Banner + NoPlugin + Separator + "wrong compressed file.\n";
        box.Write("cut.lx", cut);
        box.Write("cut", "keep me");
        RunResult run = box.Run({"cut.lx"});
        EXPECT_EQ(run.exitCode, 1) << context;
        EXPECT_TRUE(run.out == refused || run.out == refusedInPayload) << context << ": " << run.out;
        EXPECT_EQ(box.Read("cut"), "keep me") << context;
        // The same under a name that shows the text on the console.
        box.Write("cut.txt.lx", cut);
        run = box.Run({"cut.txt.lx"});
        EXPECT_EQ(run.exitCode, 1) << context;
        EXPECT_TRUE(run.out == refused || run.out == refusedInPayload) << context << ": " << run.out;
        EXPECT_EQ(box.Files(), (std::vector<std::string>{"cut", "cut.lx", "cut.txt.lx"})) << context;
    }
}

TEST(DamagedFiles, SingleBitFlipsAreRefusedOrDecodedFaithfully) {
    const std::string compressed = Compressed(Sample(30, 7));
    ASSERT_GT(compressed.size(), 30u);
    ASSERT_LT(compressed.size(), 50u);
    Sandbox box;
    int refused = 0;
    for (std::size_t bit = 0; bit < compressed.size() * 8; ++bit) {
        std::string flipped = compressed;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (0x80 >> (bit % 8)));
        const std::string context = "bit " + std::to_string(bit);
        box.Write("flip.lx", flipped);
        RunResult run = box.Run({"flip.lx"});
        EXPECT_TRUE(HalfWritten(box).empty()) << context;
        if (run.exitCode == 0) {
            ExpectFaithfulDecoding(flipped, box.Read("flip"), context);
            std::filesystem::remove(box.path("flip"));
        } else {
            ++refused;
            ExpectOwnRefusal(run, context);
            EXPECT_FALSE(box.Exists("flip")) << context;
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(DamagedFiles, RandomGarbageWithAndWithoutADisplayName) {
    std::mt19937 random(2024);
    Sandbox box;
    for (int trial = 0; trial < 120; ++trial) {
        std::string garbage(std::uniform_int_distribution<std::size_t>(0, 1023)(random), '\0');
        for (char& c : garbage) c = static_cast<char>(random());
        // Half the files get a header byte that names a short table, so that
        // more of them reach the payload.
        if (trial % 2 == 0 && garbage.size() > 2) garbage[0] = static_cast<char>(garbage[0] & 0x4F);
        const bool shown = trial % 3 == 0;
        const std::string name = shown ? "g.txt.lx" : "g.lx", output = shown ? "g.txt" : "g";
        const std::string context = "trial " + std::to_string(trial);
        box.Write(name, garbage);
        RunResult run = box.Run({name});
        EXPECT_TRUE(HalfWritten(box).empty()) << context;
        if (run.exitCode != 0) {
            ExpectOwnRefusal(run, context);
            EXPECT_FALSE(box.Exists(output)) << context;
            const std::string message = LastLine(run.out) + "\n";
            EXPECT_TRUE(run.out == Banner + NoPlugin + message ||
                        run.out == Banner + NoPlugin + Separator + message)
                << context << ": text shown before the refusal";
        } else if (shown) {
            EXPECT_FALSE(box.Exists(output)) << context;
            EXPECT_EQ(run.out.substr(run.out.size() - Separator.size() - 22),
                      Separator + "Extract successfully.\n");
        } else {
            ExpectFaithfulDecoding(garbage, box.Read(output), context);
        }
        std::error_code error;
        fs::remove(box.path(name), error);
        fs::remove(box.path(output), error);
    }
}

// Compresses and extracts under the given name, from the command line. The
// compressed file is too large to be shown, also for a ".txt" name.
void ExpectRoundTripUnder(const std::string& name) {
    Sandbox box;
    const std::string input = Sample(5000);
    fs::create_directories(box.path(name).parent_path());
    box.Write(name, input);
    RunResult run = box.Run({name});
    ASSERT_EQ(run.exitCode, 0) << name << ": " << run.out;
    fs::remove(box.path(name));
    run = box.Run({name + ".lx"});
    ASSERT_EQ(run.exitCode, 0) << name << ": " << run.out;
    EXPECT_EQ(box.Read(name), input) << name;
    EXPECT_TRUE(HalfWritten(box).empty()) << name;
    if (name.find('/') == std::string::npos) {
        EXPECT_EQ(box.Files(), (std::vector<std::string>{name, name + ".lx"})) << name;
    }
}

TEST(OddNames, BlanksDashesAndForeignBytesWork) {
    if (UnderWine())
        GTEST_SKIP() << "Windows file-name rules differ (NamesWindowsCannotHoldAreNotOpened checks them)";
    for (const std::string name : {"my notes.txt", " lead", "trail ", "-", "-x", "--data", "-h.txt",
                                   "\xff\xfe\x80", "名前.txt", "tab\there", "line\nbreak", "*?[]"})
        ExpectRoundTripUnder(name);
}

TEST(OddNames, LongNamesUpToTheLimitWork) {
    if (UnderWine())
        GTEST_SKIP() << "Windows file-name rules differ (NamesWindowsCannotHoldAreNotOpened checks them)";
    ExpectRoundTripUnder(std::string(252, 'n'));  // the compressed name has 255 bytes
    ExpectRoundTripUnder(std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(150, 'f'));

    Sandbox box;
    // One byte more and the compressed name cannot exist.
    const std::string tooLong(253, 'n');
    box.Write(tooLong, "some text");
    RunResult run = box.Run({tooLong});
    ExpectOwnRefusal(run, "253 bytes");
    EXPECT_EQ(box.Read(tooLong), "some text");
    // A name longer than any file name cannot even be opened.
    const std::string impossible(300, 'n');
    run = box.Run({impossible});
    EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n");
    EXPECT_EQ(run.err, "错误: 无法打开文件 " + impossible + "\n");
    EXPECT_TRUE(HalfWritten(box).empty());
}

TEST(OddNames, FoldersAndMissingFolders) {
    Sandbox box;
    const std::string compressed = Compressed(Sample(3000));
    box.Write("data.lx", compressed);
    fs::create_directory(box.path("folder"));

    RunResult run = box.Run({}, "2 data.lx folder\n");
    EXPECT_EQ(LastLine(run.out), "Write error.");
    EXPECT_TRUE(fs::is_directory(box.path("folder")));
    run = box.Run({}, "2 data.lx nowhere/out\n");
    EXPECT_EQ(LastLine(run.out), "Write error.");
    EXPECT_FALSE(box.Exists("nowhere"));

    box.Write("folder/.lx", compressed);  // output name "folder/", a folder
    run = box.Run({"folder/.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_TRUE(fs::is_directory(box.path("folder")));

    for (const char* missing : {"nowhere/x", "nowhere/x.lx"}) {
        run = box.Run({missing});
        EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n") << missing;
        EXPECT_EQ(run.err, std::string("错误: 无法打开文件 ") + missing + "\n") << missing;
    }
    EXPECT_EQ(box.Read("data.lx"), compressed);
    EXPECT_TRUE(HalfWritten(box).empty());
    EXPECT_FALSE(box.Exists("nowhere"));
}

TEST(ResourceBounds, NoMoreThanTheStoredTotalIsWritten) {
    // Counts of one "a" and one "b", but a payload that spells thousands.
    const std::string hostile = std::string("\x43\x04\x61\x01\x62\x01", 6) + std::string(500, '\xFF');
    Sandbox box;
    box.Write("x.lx", hostile);
    box.Write("x", "kept");
    RunResult run = box.Run({"x.lx"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + "wrong compressed file.\n");
    EXPECT_EQ(box.Read("x"), "kept");

    box.Write("x.txt.lx", hostile);
    run = box.Run({"x.txt.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + "wrong compressed file.\n");
    EXPECT_FALSE(box.Exists("x.txt"));

    // Counts of four thousand million bytes each, and a payload of one byte.
    box.Write("y.lx", std::string("\x70\x0A\x00\x61\xFF\xFF\xFF\xFF\x62\xFF\xFF\xFF\xFF\x40", 14));
    run = box.Run({"y.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + "wrong compressed file.\n");
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"x", "x.lx", "x.txt.lx", "y.lx"}));
}

TEST(ResourceBounds, ARunFitsInAFewMebibytesWhateverTheInput) {
    if (UnderWine())
        GTEST_SKIP() << "RLIMIT_AS would bound Wine itself, which reserves far more address space";
#ifdef CORVANE_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
    // Buffers of a few hundred KiB, the program and its libraries: far
    // below this limit, whatever the size of the input.
    Sandbox box;
    const std::string input = Sample(3 << 20) + AllByteValues();
    box.Write("in", input);
    RunOptions bounded;
    bounded.addressSpaceLimit = 48L << 20;
    ASSERT_EQ(box.Run({"in"}, "", bounded).exitCode, 0);
    fs::remove(box.path("in"));
    ASSERT_EQ(box.Run({"in.lx"}, "", bounded).exitCode, 0);
    EXPECT_TRUE(box.Read("in") == input);
}

}  // namespace
