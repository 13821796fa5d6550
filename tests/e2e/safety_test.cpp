// Attacks and careless use on a machine with several users and shared
// folders: files planted by a neighbour, hostile text for the terminal,
// files swapped while the program runs, interrupts, permissions, and input
// that never ends. The cross-user cases plant the neighbour's files as the
// user "nobody" and need root; they run in a folder that everyone may
// write to but that is not sticky, so that the kernel's own protection of
// links in sticky folders plays no part.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";

std::string Text(std::size_t size, unsigned seed = 7) {
    std::string text;
    for (unsigned state = seed; text.size() < size; state = state * 1103515245 + 12345)
        text += "etaoin shrdlu\n"[(state >> 16) % 14];
    return text;
}

std::string Compressed(const std::string& text) {
    Sandbox box;
    box.Write("t", text);
    EXPECT_EQ(box.Run({"t"}).exitCode, 0);
    return box.Read("t.lx");
}

RunOptions WithPlugin(const std::string& folder) {
    RunOptions options;
    options.environment = {{"LD_LIBRARY_PATH", folder}};
    return options;
}

// The neighbour: the user "nobody", when the tests run as root.
bool CanPlantAsNeighbour() { return geteuid() == 0 && getpwnam("nobody") != nullptr; }

void GiveToNeighbour(const fs::path& path) {
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(lchown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0) << path;
}

// Makes the folder one everyone may write to, sticky or not.
void ShareFolder(const fs::path& folder, bool sticky) {
    ASSERT_EQ(chmod(folder.c_str(), sticky ? 01777 : 0777), 0);
}

unsigned ModeOf(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

uid_t OwnerOf(const fs::path& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_uid : 0;
}

std::vector<std::string> OutputTemporaries(const Sandbox& box) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(box.dir()))
        if (entry.path().filename().string().find(".corvane-") != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

// Polls until the condition holds; false only when the program under test
// hangs (after a minute), so that a broken run fails instead of blocking.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Starts the program under test in place of this process.
[[noreturn]] void ExecProgram(const std::vector<std::string>& args) {
    std::vector<std::string> words = ProgramCommand(args);
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

// The signal that ended the process, or 0 when it exited.
int EndingSignal(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// The program on a terminal of its own for standard input, output and error
// (its controlling terminal, where the sealer asks for a passphrase). The
// test keeps the terminal's other side open to see its settings.
struct TerminalRun {
    pid_t pid = -1;
    int control = -1;
    int terminal = -1;
    std::string shown;
};

void StartOnTerminal(TerminalRun& run, const Sandbox& box, const std::vector<std::string>& args,
                     const RunOptions& options) {
    run.control = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(run.control, 0);
    ASSERT_EQ(grantpt(run.control), 0);
    ASSERT_EQ(unlockpt(run.control), 0);
    const std::string side = ptsname(run.control);
    run.terminal = open(side.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(run.terminal, 0);
    run.pid = fork();
    if (run.pid != 0) return;
    setsid();
    int fd = open(side.c_str(), O_RDWR);
    if (fd < 0 || chdir(box.dir().c_str()) != 0) _exit(127);
    for (int target : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) dup2(fd, target);
    unsetenv("CORVANE_PASSPHRASE");
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    for (int number = 1; number < NSIG; ++number) signal(number, SIG_DFL);
    ExecProgram(args);
}

// Reads what the terminal has shown until `text` appears.
bool WaitUntilShown(TerminalRun& run, const std::string& text) {
    fcntl(run.control, F_SETFL, fcntl(run.control, F_GETFL) | O_NONBLOCK);
    return Eventually([&] {
        char block[4096];
        ssize_t got = read(run.control, block, sizeof block);
        if (got > 0) run.shown.append(block, static_cast<std::size_t>(got));
        return run.shown.find(text) != std::string::npos;
    });
}

void CloseTerminal(TerminalRun& run) {
    close(run.control);
    close(run.terminal);
}

// --- Temporaries planted by a neighbour -----------------------------------

TEST(PlantedTemporaries, LinksAtTheTemporariesAreNeverFollowed) {
    if (UnderWine()) GTEST_SKIP() << "Wine follows the links of the Unix file system it presents";
    Sandbox box;
    ShareFolder(box.dir(), false);
    fs::create_directory(box.path("home"));
    box.Write("home/.bashrc", "the victim's settings\n");
    box.Write("data", Text(3000));
    struct Case {
        const char* temporary;
        fs::path target;
        std::string message;
    };
    for (const Case& planted : {Case{"tmptree1", box.path("home/.bashrc"), "open tree file error.\n"},
                                Case{"tmptree2", box.path("home/new"), "Write error.\n"}}) {
        const fs::path link = box.path(planted.temporary);
        fs::create_symlink(planted.target, link);
        if (CanPlantAsNeighbour()) GiveToNeighbour(link);
        RunResult run = box.Run({"data"});
        EXPECT_EQ(run.exitCode, 1) << planted.temporary;
        EXPECT_EQ(run.out, Banner + NoPlugin + planted.message);
        EXPECT_EQ(run.err,
                  std::string(planted.temporary) + ": not used as a temporary file, it is a symbolic link\n");
        EXPECT_TRUE(fs::is_symlink(link));
        fs::remove(link);
        fs::remove(box.path("tmptree2"));
    }
    EXPECT_EQ(box.Read("home/.bashrc"), "the victim's settings\n");
    EXPECT_FALSE(box.Exists("home/new"));
    EXPECT_EQ(box.Files(), (Names{"data", "home"}));
}

TEST(PlantedTemporaries, TemporariesOfAnotherUserAreRefused) {
    if (UnderWine()) GTEST_SKIP() << "Windows files have no POSIX owner and mode";
    if (!CanPlantAsNeighbour()) GTEST_SKIP() << "planting files as another user needs root";
    Sandbox box;
    ShareFolder(box.dir(), false);
    box.Write("data", Text(3000));
    for (const char* name : {"tmptree1", "tmptree2"}) {
        box.Write(name, "");
        chmod(box.path(name).c_str(), 0666);
        GiveToNeighbour(box.path(name));
    }
    // tmptree2 is taken first; once it is gone, tmptree1 is refused.
    for (const char* planted : {"tmptree2", "tmptree1"}) {
        RunResult run = box.Run({"data"});
        EXPECT_EQ(run.exitCode, 1) << planted;
        EXPECT_EQ(run.out,
                  Banner + NoPlugin +
                      (planted == std::string("tmptree2") ? "Write error.\n" : "open tree file error.\n"));
        EXPECT_EQ(run.err,
                  std::string(planted) + ": not used as a temporary file, it belongs to another user\n");
        EXPECT_EQ(ModeOf(box.path(planted)), 0666u);
        EXPECT_NE(OwnerOf(box.path(planted)), geteuid());
        EXPECT_EQ(box.Read(planted), "");
        fs::remove(box.path(planted));
    }
    EXPECT_EQ(box.Files(), (Names{"data", "tmptree2"}));
    EXPECT_EQ(ModeOf(box.path("tmptree2")), 0600u);
}

TEST(PlantedTemporaries, LeftoversOpenToOthersOrLinkedElsewhereAreExplained) {
    Sandbox box;
    box.Write("data", Text(3000));
    fs::create_directory(box.path("elsewhere"));
    box.Write("elsewhere/notes", "");
    chmod(box.path("elsewhere/notes").c_str(), 0600);
    fs::create_hard_link(box.path("elsewhere/notes"), box.path("tmptree2"));
    RunResult run = box.Run({"data"});
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(run.err, "tmptree2: not used as a temporary file, it has other links\n");
    EXPECT_EQ(box.Read("elsewhere/notes"), "");
    fs::remove(box.path("tmptree2"));
    if (!UnderWine()) {
        // A leftover of an earlier version, readable by everyone.
        box.Write("tmptree1", "old header");
        chmod(box.path("tmptree1").c_str(), 0644);
        run = box.Run({"data"});
        EXPECT_EQ(run.out, Banner + NoPlugin + "open tree file error.\n");
        EXPECT_EQ(run.err, "tmptree1: not used as a temporary file, it may be used by others (mode 0644)\n");
        EXPECT_EQ(box.Read("tmptree1"), "old header");
        fs::remove(box.path("tmptree1"));
    }
    // Once they are gone the run makes its own and removes them.
    run = box.Run({"data"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(box.Files(), (Names{"data", "data.lx", "elsewhere"}));
}

// --- Output links planted by a neighbour ----------------------------------

TEST(PlantedOutputs, ALinkInAStickySharedFolderIsFollowedOnlyWhenTheSystemWould) {
    if (UnderWine()) GTEST_SKIP() << "Windows has no sticky folders";
    if (!CanPlantAsNeighbour()) GTEST_SKIP() << "planting a link as another user needs root";
    Sandbox box;
    fs::create_directory(box.path("home"));
    fs::create_directory(box.path("sticky"));
    ShareFolder(box.path("sticky"), true);
    box.Write("home/victim", "precious");
    box.Write("sticky/data", Text(3000));
    box.Write("sticky/packed.lx", Compressed(Text(5000)));
    fs::create_symlink(box.path("home/victim"), box.path("sticky/data.lx"));
    fs::create_symlink(box.path("home/victim"), box.path("sticky/packed"));
    GiveToNeighbour(box.path("sticky/data.lx"));
    GiveToNeighbour(box.path("sticky/packed"));
    RunResult run = box.Run({"sticky/data"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "3open error.\n");
    run = box.Run({"sticky/packed.lx"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(box.Read("home/victim"), "precious");
    EXPECT_TRUE(fs::is_symlink(box.path("sticky/data.lx")));
    EXPECT_TRUE(OutputTemporaries(box).empty());

    // The user's own link there, and a neighbour's link in a folder that is
    // not sticky, are followed as before: the file they lead to is replaced.
    fs::remove(box.path("sticky/data.lx"));
    fs::create_symlink(box.path("home/victim"), box.path("sticky/data.lx"));
    EXPECT_EQ(box.Run({"sticky/data"}).exitCode, 0);
    EXPECT_EQ(box.Read("home/victim"), Compressed(Text(3000)));
    ShareFolder(box.path("sticky"), false);
    EXPECT_EQ(box.Run({"sticky/packed.lx"}).exitCode, 0);
    EXPECT_EQ(box.Read("home/victim"), Text(5000));
    EXPECT_TRUE(fs::is_symlink(box.path("sticky/packed")));
}

// --- Text for the terminal -------------------------------------------------

// Lines a hostile text file shows, and what a terminal must show instead:
// the title, the clipboard (OSC 52), clearing, hidden text, a line written
// over and DEL. Each line is short enough not to wrap.
const std::vector<std::pair<std::string, std::string>> HostileLines = {
    {"title\033]0;pwned\007", "title^[]0;pwned^G"},
    {"clip\033]52;c;cm0gLXJm\007", "clip^[]52;c;cm0gLXJm^G"},
    {"clear\033[2J hide\033[8m", "clear^[[2J hide^[[8m"},
    {"secret\rshown del\x7f", "secret^Mshown del^?"}};

TEST(TerminalOutput, ShownTextCannotActOnTheTerminal) {
    std::string text;
    for (const auto& [line, shown] : HostileLines) text += line + "\n";
    // C1 as UTF-8 and as a bare byte, beside Chinese text with a line end.
    text +=
        "c1\xc2\x9b"
        "31m raw\x9b"
        "31m \xe4\xb8\xad\xe6\x96\x87 ok\r\nlast";
    Sandbox box;
    box.Write("readme.txt", text);
    ASSERT_EQ(box.Run({"readme.txt"}).exitCode, 0);
    ASSERT_LT(box.Read("readme.txt.lx").size(), 1024u);
    RunOptions terminal;
    terminal.onTerminal = true;
    terminal.typeKeyAfter = "Press any key";
    RunResult run = box.Run({"readme.txt.lx"}, "", terminal);
    EXPECT_EQ(run.exitCode, 0);
    const std::string shown = TerminalText(run.out);
    for (const auto& [line, inert] : HostileLines) EXPECT_NE(shown.find(inert), std::string::npos) << inert;
    for (const char* raw : {"\033]0;pwned", "\033]52", "\033[2J", "\033[8m", "\x7f"})
        EXPECT_EQ(run.out.find(raw), std::string::npos) << run.out;
    if (!UnderWine()) {
        // The terminal turns each line feed into a carriage return and one.
        EXPECT_NE(run.out.find("c1M-^[31m rawM-^[31m \xe4\xb8\xad\xe6\x96\x87 ok\r\r\nlast\r\n"),
                  std::string::npos)
            << run.out;
        EXPECT_EQ(run.out.find('\x9b'), std::string::npos);
    }
    // Not on a terminal, the bytes pass as they are.
    run = box.Run({"readme.txt.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + text + "\n" + Separator + "Extract successfully.\n");
    EXPECT_EQ(box.Files(), (Names{"readme.txt", "readme.txt.lx"}));
}

TEST(TerminalOutput, NamesEchoedToATerminalCannotActOnIt) {
    if (UnderWine()) GTEST_SKIP() << "Windows names cannot hold control characters";
    Sandbox box;
    // The plug-in's output-name line on standard output.
    const std::string name = "x\033]0;pwned\007y";
    box.Write(name, "abracadabra");
    RunOptions terminal = WithPlugin(RECORDER_PLUGIN_DIR);
    terminal.onTerminal = true;
    RunResult run = box.Run({name}, "", terminal);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("x^[]0;pwned^Gy.lx\r\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\033]0;pwned"), std::string::npos);
    // The warning about a missing file on standard error, a terminal too.
    TerminalRun missing;
    StartOnTerminal(missing, box, {"gone\033[2J\x9b"}, {});
    EXPECT_TRUE(WaitUntilShown(missing, "1Open error."));
    EXPECT_EQ(EndingSignal(missing.pid), 0);
    EXPECT_NE(missing.shown.find("错误: 无法打开文件 gone^[[2JM-^[\r\n"), std::string::npos) << missing.shown;
    CloseTerminal(missing);
    // Redirected, the name is written as it is.
    run = box.Run({"gone\033[2J"});
    EXPECT_EQ(run.err, "错误: 无法打开文件 gone\033[2J\n");
}

}  // namespace
