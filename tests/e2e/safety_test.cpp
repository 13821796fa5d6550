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
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <iostream>
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

long long ModifiedSeconds(const fs::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_mtim.tv_sec) : -1;
}

void SetModified(const fs::path& path, long long seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Where the process sleeps in the kernel ("anon_pipe_read", ...).
std::string WaitChannel(pid_t pid) { return ReadFile("/proc/" + std::to_string(pid) + "/wchan"); }

bool WaitsIn(pid_t pid, const std::string& where) {
    return WaitChannel(pid).find(where) != std::string::npos;
}

// Starts a run in the background, for the tests that act while it runs:
// standard input from /dev/null, standard output and error to `out`, no
// core dumps, every signal at its default action, the environment added,
// and with a file size limit when one is given (SIGXFSZ then ends the run).
pid_t StartInBackground(const Sandbox& box, const std::vector<std::string>& args, int out,
                        long fileSizeLimit = -1, const RunOptions& added = {}) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (const auto& [name, value] : added.environment) setenv(name.c_str(), value.c_str(), 1);
    int in = open("/dev/null", O_RDONLY);
    if (chdir(box.dir().c_str()) != 0 || in < 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    if (fileSizeLimit >= 0) {
        rlimit limit{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    for (int number = 1; number < NSIG; ++number) signal(number, SIG_DFL);
    ExecProgram(args);
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

bool TerminalEchoes(const TerminalRun& run) {
    termios settings{};
    return tcgetattr(run.terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
}

// A key wait switches line editing off.
bool TerminalIsRaw(const TerminalRun& run) {
    termios settings{};
    return tcgetattr(run.terminal, &settings) == 0 && (settings.c_lflag & ICANON) == 0;
}

bool TerminalEchoesLines(const TerminalRun& run) { return TerminalEchoes(run) && !TerminalIsRaw(run); }

void CloseTerminal(TerminalRun& run) {
    close(run.control);
    close(run.terminal);
}

// --- Temporaries planted by a neighbour -----------------------------------

TEST(PlantedTemporaries, LinksAtTheTemporariesAreNeverFollowed) {
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
    // Wine creates the file a dangling link names before the Windows program
    // can tell the link from a file; nothing is written into it.
    if (UnderWine())
        EXPECT_EQ(box.Read("home/new"), "");
    else
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

// --- Outputs planted by a neighbour -----------------------------------------

// Runs as real users: the victim is a second user (uid and gid 4242, also
// in the folders' group 4243), the neighbour "nobody". Both run a copy of
// the program in a folder every user can reach. On Linux as root a test
// that cannot switch users fails; otherwise it is skipped.
constexpr uid_t Victim = 4242;
constexpr gid_t SharedGroup = 4243;

#define NEED_REAL_USERS()                                                                         \
    if (UnderWine()) GTEST_SKIP() << "Windows files have no POSIX owners; Wine runs as one user"; \
    if (geteuid() != 0) GTEST_SKIP() << "switching users needs root";                             \
    ASSERT_TRUE(getpwnam("nobody") != nullptr && fs::exists("/usr/bin/setpriv") &&                \
                fs::exists("/usr/bin/timeout"))                                                   \
        << "as root this test must run as other users: it needs the user nobody, setpriv and timeout"

// A copy of the program in a 0755 folder, removed at the end.
class SharedProgram {
public:
    SharedProgram() {
        std::string pattern = (fs::temp_directory_path() / "corvane-bin-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        fs::copy_file(CorvaneBinary(), folder_ / "corvane");
        chmod(folder_.c_str(), 0755);
        chmod((folder_ / "corvane").c_str(), 0755);
    }
    ~SharedProgram() { fs::remove_all(folder_); }
    // Runs of the program as that user, bounded to 20 seconds: a run that
    // blocks is killed and shows as exit status 137.
    RunOptions As(uid_t uid, gid_t gid) const {
        RunOptions options;
        options.program = (folder_ / "corvane").string();
        options.prefix = {"/usr/bin/timeout",
                          "-s",
                          "KILL",
                          "20",
                          "/usr/bin/setpriv",
                          "--reuid=" + std::to_string(uid),
                          "--regid=" + std::to_string(gid),
                          "--groups=" + std::to_string(SharedGroup)};
        return options;
    }
    RunOptions AsVictim() const { return As(Victim, Victim); }

private:
    fs::path folder_;
};

void Own(const fs::path& path, uid_t uid, gid_t gid) { ASSERT_EQ(lchown(path.c_str(), uid, gid), 0) << path; }

// A folder of the box: sticky and world-writable (1777), or group-writable
// and not sticky (2770, group SharedGroup). The box itself, where the runs
// keep their temporaries, becomes the victim's.
fs::path SharedFolder(const Sandbox& box, const std::string& name, bool sticky) {
    chmod(box.dir().c_str(), 0755);
    Own(box.dir(), Victim, Victim);
    fs::create_directory(box.path(name));
    chown(box.path(name).c_str(), 0, SharedGroup);
    chmod(box.path(name).c_str(), sticky ? 01777 : 02770);
    return box.path(name);
}

// A FIFO of the neighbour's, with a reader this test holds open so that
// whatever is written into it can be read back; -1 for no reader.
int PlantFifo(const fs::path& path, bool withReader) {
    mkfifo(path.c_str(), 0666);
    GiveToNeighbour(path);
    return withReader ? open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
}

std::string Drained(int fd) {
    std::string got;
    char block[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, block, sizeof block)) > 0;)
        got.append(block, static_cast<std::size_t>(n));
    return got;
}

TEST(PlantedOutputs, AFifoAtADerivedNameIsRefusedWithoutBlocking) {
    NEED_REAL_USERS();
    SharedProgram program;
    for (bool sticky : {true, false}) {
        for (bool withReader : {true, false}) {
            Sandbox box;
            const fs::path folder = SharedFolder(box, "shared", sticky);
            const std::string context =
                std::string(sticky ? "sticky" : "group") + (withReader ? ", read" : "");
            box.Write("shared/secret.txt", Text(3000));
            box.Write("shared/report.lx", Compressed(Text(4000)));
            Own(folder / "secret.txt", Victim, Victim);
            Own(folder / "report.lx", Victim, Victim);
            const int compressed = PlantFifo(folder / "secret.txt.lx", withReader);
            const int extracted = PlantFifo(folder / "report", withReader);
            RunResult run = box.Run({"shared/secret.txt"}, "", program.AsVictim());
            EXPECT_EQ(run.exitCode, 1) << context;
            EXPECT_EQ(run.out, Banner + NoPlugin + "3open error.\n") << context;
            EXPECT_EQ(run.err, "shared/secret.txt.lx: not used as the output, it is a FIFO\n") << context;
            run = box.Run({"shared/report.lx"}, "", program.AsVictim());
            EXPECT_EQ(run.exitCode, 1) << context;
            EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n") << context;
            EXPECT_EQ(run.err, "shared/report: not used as the output, it is a FIFO\n") << context;
            EXPECT_EQ(Drained(compressed), "") << context;
            EXPECT_EQ(Drained(extracted), "") << context;
            if (compressed >= 0) close(compressed);
            if (extracted >= 0) close(extracted);
            EXPECT_TRUE(fs::is_fifo(folder / "secret.txt.lx")) << context;
            EXPECT_TRUE(fs::is_fifo(folder / "report")) << context;
            EXPECT_EQ(box.Files(), (Names{"shared", "tmptree1", "tmptree2"})) << context;
            size_t entries = 0;
            for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++entries;
            EXPECT_EQ(entries, 4u) << context << ": no temporary stays";
        }
    }
}

TEST(PlantedOutputs, LinksAreFollowedOnlyWhenTheyAreTheUsersOwnOrRoots) {
    NEED_REAL_USERS();
    SharedProgram program;
    Sandbox box;
    const fs::path group = SharedFolder(box, "group", false);
    fs::create_directory(box.path("home"));
    Own(box.path("home"), Victim, Victim);
    box.Write("home/victim", "precious");
    Own(box.path("home/victim"), Victim, Victim);
    box.Write("group/n.txt", Text(3000));
    box.Write("group/packed.lx", Compressed(Text(5000)));
    Own(group / "n.txt", Victim, Victim);
    Own(group / "packed.lx", Victim, Victim);
    // The neighbour's links, in a 2770 folder of a group both belong to.
    fs::create_symlink(box.path("home/victim"), group / "n.txt.lx");
    fs::create_symlink(box.path("home/victim"), group / "packed");
    GiveToNeighbour(group / "n.txt.lx");
    GiveToNeighbour(group / "packed");
    RunResult run = box.Run({"group/n.txt"}, "", program.AsVictim());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "3open error.\n");
    EXPECT_EQ(run.err, "group/n.txt.lx: not used as the output, it is a link of another user\n");
    run = box.Run({"group/packed.lx"}, "", program.AsVictim());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(run.err, "group/packed: not used as the output, it is a link of another user\n");
    EXPECT_EQ(box.Read("home/victim"), "precious");
    EXPECT_TRUE(fs::is_symlink(group / "n.txt.lx"));

    // The user's own links, and root's, are followed: the file they lead to
    // is replaced and the links stay.
    Own(group / "n.txt.lx", Victim, Victim);
    Own(group / "packed", 0, 0);
    run = box.Run({"group/n.txt"}, "", program.AsVictim());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(box.Read("home/victim"), Compressed(Text(3000)));
    EXPECT_EQ(box.Run({"group/packed.lx"}, "", program.AsVictim()).exitCode, 0);
    EXPECT_EQ(box.Read("home/victim"), Text(5000));
    EXPECT_EQ(OwnerOf(box.path("home/victim")), Victim);
    EXPECT_TRUE(fs::is_symlink(group / "n.txt.lx"));
    EXPECT_TRUE(fs::is_symlink(group / "packed"));
    EXPECT_EQ(box.Files(), (Names{"group", "home"}));
    EXPECT_EQ(fs::directory_iterator(box.path("home"))->path().filename(), "victim");
}

TEST(PlantedOutputs, TypedNamesMayBeDevicesAndTheUsersOwnFifos) {
    NEED_REAL_USERS();
    SharedProgram program;
    Sandbox box;
    const fs::path group = SharedFolder(box, "group", false);
    box.Write("group/packed.lx", Compressed(Text(5000)));
    Own(group / "packed.lx", Victim, Victim);
    RunResult run = box.Run({}, "2 group/packed.lx /dev/null\n", program.AsVictim());
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.err, "");
    // A FIFO of the user's own, read by someone, takes the text; the
    // neighbour's FIFO does not, nor the user's own without a reader.
    mkfifo((group / "mine").c_str(), 0600);
    Own(group / "mine", Victim, Victim);
    const int mine = open((group / "mine").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    std::string got;
    std::thread reader([&] {
        Eventually([&] {
            got += Drained(mine);
            return got.size() >= 5000;
        });
    });
    run = box.Run({}, "2 group/packed.lx group/mine\n", program.AsVictim());
    reader.join();
    close(mine);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(got, Text(5000));
    run = box.Run({}, "2 group/packed.lx group/mine\n", program.AsVictim());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "group/mine: not used as the output, it is a FIFO with no reader\n");
    const int theirs = PlantFifo(group / "theirs", true);
    run = box.Run({}, "2 group/packed.lx group/theirs\n", program.AsVictim());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Write error.\n"), std::string::npos);
    EXPECT_EQ(run.err, "group/theirs: not used as the output, it is a FIFO of another user\n");
    EXPECT_EQ(Drained(theirs), "");
    close(theirs);
}

// The neighbour flips the output name between a regular file of its own and
// a link of its own, to a FIFO it reads or to a file of a third user, while
// root compresses and extracts in a folder both may write to. Nothing is
// ever written through the link.
TEST(PlantedOutputs, ANameFlippedUnderTheRunIsNeverWrittenThrough) {
    NEED_REAL_USERS();
    for (bool toFifo : {true, false}) {
        Sandbox box;
        ShareFolder(box.dir(), false);
        const passwd* nobody = getpwnam("nobody");
        box.Write("data", Text(3000));
        box.Write("packed.lx", Compressed(Text(4000)));
        box.Write("third", "precious");
        chmod(box.path("third").c_str(), 0666);
        Own(box.path("third"), Victim, Victim);
        const int fifo = toFifo ? PlantFifo(box.path("fifo"), true) : -1;
        const fs::path target = toFifo ? box.path("fifo") : box.path("third");
        const pid_t flipper = fork();
        if (flipper == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(1);
            if (chdir(box.dir().c_str()) != 0) _exit(1);
            for (unsigned i = 0;; ++i) {
                const char* name = (i / 2) % 2 ? "packed" : "data.lx";
                if (i % 2 == 0) {
                    if (symlink(target.c_str(), ".link") == 0) rename(".link", name);
                } else {
                    const int fd = open(".plain", O_WRONLY | O_CREAT | O_TRUNC, 0644);
                    if (fd >= 0) close(fd);
                    rename(".plain", name);
                }
            }
        }
        RunOptions bounded;
        bounded.prefix = {"/usr/bin/timeout", "-s", "KILL", "20"};
        int refused = 0;
        for (int i = 0; i < 300; ++i) {
            RunResult run = box.Run({i % 2 ? "packed.lx" : "data"}, "", bounded);
            EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.out;
            if (run.exitCode != 0 && run.exitCode != 1) break;
            refused += run.exitCode;
        }
        kill(flipper, SIGKILL);
        waitpid(flipper, nullptr, 0);
        EXPECT_EQ(Drained(fifo), "");
        if (fifo >= 0) close(fifo);
        EXPECT_EQ(box.Read("third"), "precious");
        EXPECT_TRUE(OutputTemporaries(box).empty());
        std::cout << (toFifo ? "link to a FIFO: " : "link to a file: ") << refused
                  << " of 300 runs refused\n";
    }
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
#ifdef SEALER_PLUGIN_DIR
    // The sealer's passphrase prompt and its complaints.
    RunOptions sealer = WithPlugin(SEALER_PLUGIN_DIR);
    sealer.environment.push_back({"CORVANE_PASSPHRASE", "pass"});
    box.Write("n\033[2J.txt", "meet me at noon");
    ASSERT_EQ(box.Run({"n\033[2J.txt"}, "", sealer).exitCode, 0);
    box.Write("f\033[2J.proto", "not sealed");
    for (const char* name : {"n\033[2J.proto", "f\033[2J.proto"}) {
        TerminalRun asked;
        StartOnTerminal(asked, box, {name}, WithPlugin(SEALER_PLUGIN_DIR));
        EXPECT_TRUE(WaitUntilShown(asked, name[0] == 'n' ? "Passphrase to unseal n^[[2J.proto: "
                                                         : "sealer: f^[[2J.proto: not a sealed file\r\n"));
        kill(asked.pid, SIGINT);
        EndingSignal(asked.pid);
        EXPECT_EQ(asked.shown.find("\033[2J"), std::string::npos);
        CloseTerminal(asked);
    }
#endif
}

// --- Display mode ----------------------------------------------------------

std::string Shown(const std::string& text) {
    return Separator + text + "\n" + Separator + "Extract successfully.\n";
}

// "abab...": one code bit a byte, so 8000 bytes compress to 1009, a file
// still shown on the console.
std::string Alternating(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += "ab"[i % 2];
    return text;
}

TEST(DisplayWithPlugin, AShownTextIsKeptAndOnlyAnUnsealedCopyIsRemoved) {
    // The recorder plug-in "unseals" memo.proto by copying it to memo.proto.txt.lx.
    Sandbox box;
    const std::string text = "meet me at noon";
    box.Write("memo.txt.lx", Compressed(text));
    box.Write("memo.proto", Compressed(text));
    RunResult run = box.Run({"memo.txt.lx"}, "", WithPlugin(RECORDER_PLUGIN_DIR));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Shown(text));
    run = box.Run({"memo.proto"}, "", WithPlugin(RECORDER_PLUGIN_DIR));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "recorder: Decrypt memo.proto\n" + Shown(text));
    EXPECT_EQ(box.Files(), (Names{"memo.proto", "memo.txt.lx", "plugin-calls.log"}));
}

TEST(DisplayWithPlugin, AConsoleThatCannotTakeTheTextFailsTheRunAndRemovesOnlyTheUnsealedCopy) {
    // Standard output, a file here, may grow to 1100 bytes: the lines before
    // the text fit, the text does not.
    Sandbox box;
    const std::string compressed = Compressed(Alternating(8000));
    ASSERT_LT(compressed.size(), 1024u);
    box.Write("memo.txt.lx", compressed);
    box.Write("memo.proto", compressed);
    RunOptions limited = WithPlugin(RECORDER_PLUGIN_DIR);
    limited.fileSizeLimit = 1100;
    for (const char* name : {"memo.txt.lx", "memo.proto"}) {
        RunResult run = box.Run({name}, "", limited);
        EXPECT_EQ(run.signal, 0) << name;
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.out.find("Extract successfully."), std::string::npos) << name;
    }
    // Only the unsealed copy goes, as after any refusal of its extraction.
    EXPECT_EQ(box.Files(), (Names{"memo.proto", "memo.txt.lx", "plugin-calls.log"}));
    EXPECT_TRUE(box.Read("memo.txt.lx") == compressed);
}

TEST(DisplayDecision, TakenFromTheFileActuallyRead) {
    if (UnderWine()) GTEST_SKIP() << "the swap is timed with a Linux file lease";
    // The test holds a lease on the small file, so that opening it waits;
    // meanwhile a large file takes its name. Whatever the program opened is
    // what it must judge: here the small file, which is shown.
    Sandbox box;
    const std::string small = "the small text";
    box.Write("note.txt.lx", Compressed(small));
    box.Write("large", Compressed(Text(20000)));
    ASSERT_GT(box.Read("large").size(), 1024u);
    int leased = open(box.path("note.txt.lx").c_str(), O_WRONLY);
    ASSERT_GE(leased, 0);
    sighandler_t previous = signal(SIGIO, SIG_IGN);
    ASSERT_EQ(fcntl(leased, F_SETLEASE, F_WRLCK), 0);
    const fs::path log = box.dir().string() + ".log";
    int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = StartInBackground(box, {"note.txt.lx"}, out);
    close(out);
    EXPECT_TRUE(Eventually([&] { return WaitsIn(pid, "break_lease"); }));
    fs::rename(box.path("large"), box.path("note.txt.lx"));
    fcntl(leased, F_SETLEASE, F_UNLCK);
    close(leased);
    signal(SIGIO, previous);
    EXPECT_EQ(EndingSignal(pid), 0);
    EXPECT_EQ(ReadFile(log), Banner + NoPlugin + Shown(small));
    EXPECT_EQ(box.Files(), Names{"note.txt.lx"});
    fs::remove(log);
}

// --- Permissions and times ---------------------------------------------------

TEST(Metadata, NewOutputsTakeTheBitsAndTimeOfWhatTheyAreMadeFrom) {
    const bool posix = !UnderWine();  // Windows keeps only a read-only attribute
    Sandbox box;
    box.Write("private", Text(3000));
    chmod(box.path("private").c_str(), 0600);
    SetModified(box.path("private"), 1000000000);
    ASSERT_EQ(box.Run({"private"}).exitCode, 0);
    if (posix) {
        EXPECT_EQ(ModeOf(box.path("private.lx")), 0600u);
    }
    EXPECT_EQ(ModifiedSeconds(box.path("private.lx")), 1000000000);

    // A setuid compressed file passes on its permission bits, not that one.
    if (posix) chmod(box.path("private.lx").c_str(), 04750);
    SetModified(box.path("private.lx"), 1100000000);
    fs::remove(box.path("private"));
    ASSERT_EQ(box.Run({"private.lx"}).exitCode, 0);
    if (posix) {
        EXPECT_EQ(ModeOf(box.path("private")), 0750u);
    }
    EXPECT_EQ(ModifiedSeconds(box.path("private")), 1100000000);

    // A replaced file keeps its own bits and gets the time.
    box.Write("private", "old");
    if (posix) chmod(box.path("private").c_str(), 0604);
    ASSERT_EQ(box.Run({"private.lx"}).exitCode, 0);
    if (posix) {
        EXPECT_EQ(ModeOf(box.path("private")), 0604u);
    }
    EXPECT_EQ(ModifiedSeconds(box.path("private")), 1100000000);
    EXPECT_TRUE(box.Read("private") == Text(3000));

    // From a sealed file, the output takes the sealed file's.
    box.Write("memo.proto", Compressed(Text(8000)));
    if (posix) chmod(box.path("memo.proto").c_str(), 0640);
    SetModified(box.path("memo.proto"), 1200000000);
    ASSERT_EQ(box.Run({"memo.proto"}, "", WithPlugin(RECORDER_PLUGIN_DIR)).exitCode, 0);
    if (posix) {
        EXPECT_EQ(ModeOf(box.path("memo.proto.txt")), 0640u);
    }
    EXPECT_EQ(ModifiedSeconds(box.path("memo.proto.txt")), 1200000000);

    // The temporaries, left after an error, are their owner's only.
    box.Write("one", "xxxx");
    EXPECT_EQ(box.Run({"one"}).exitCode, 1);
    if (posix) {
        EXPECT_EQ(ModeOf(box.path("tmptree1")), 0600u);
        EXPECT_EQ(ModeOf(box.path("tmptree2")), 0600u);
    }
}

// --- Interrupts --------------------------------------------------------------

const int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ};

// A run whose output passes the file size limit ends by SIGXFSZ and leaves
// only the file it was given.
void ExpectTheFileSizeLimitToEndTheRun(const std::string& name, const std::string& content) {
    Sandbox box;
    box.Write(name, content);
    int out = open("/dev/null", O_WRONLY);
    const pid_t pid = StartInBackground(box, {name}, out, 50000);
    close(out);
    EXPECT_EQ(EndingSignal(pid), SIGXFSZ) << name;
    EXPECT_EQ(box.Files(), Names{name});
}

TEST(Interrupts, ACompressionEndsByTheSignalAndRemovesItsTemporaries) {
    if (UnderWine()) GTEST_SKIP() << "POSIX signals; Windows has console control events";
    // The source is a pipe that stays open: the run waits in the middle of
    // reading it, with its temporaries locked.
    for (int number : EndingSignals) {
        Sandbox box;
        ASSERT_EQ(mkfifo(box.path("source").c_str(), 0600), 0);
        box.Write("source.lx", "old output");
        int feed = open(box.path("source").c_str(), O_RDWR);
        ASSERT_GE(feed, 0);
        ASSERT_EQ(write(feed, "some text", 9), 9);
        int out = open("/dev/null", O_WRONLY);
        const pid_t pid = StartInBackground(box, {"source"}, out);
        close(out);
        EXPECT_TRUE(Eventually([&] { return box.Exists("tmptree1") && WaitsIn(pid, "pipe_read"); }));
        EXPECT_EQ(ModeOf(box.path("tmptree2")), 0600u);
        kill(pid, number);
        EXPECT_EQ(EndingSignal(pid), number) << strsignal(number);
        close(feed);
        EXPECT_EQ(box.Files(), (Names{"source", "source.lx"})) << strsignal(number);
        EXPECT_EQ(box.Read("source.lx"), "old output");
    }
    ExpectTheFileSizeLimitToEndTheRun("data", Text(300000));
}

TEST(Interrupts, AnExtractionEndsByTheSignalAndRemovesItsPartialOutput) {
    if (UnderWine()) GTEST_SKIP() << "POSIX signals; Windows has console control events";
    // Standard output is a pipe of one page that nobody reads, filled but for
    // the lines before the separator: the run waits to write the separator,
    // once its output is open.
    const std::string before = Banner + NoPlugin;
    for (int number : EndingSignals) {
        Sandbox box;
        box.Write("data.lx", Compressed(Text(5000)));
        box.Write("data", "old output");
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const int capacity = fcntl(ends[1], F_SETPIPE_SZ, 4096);
        ASSERT_GT(capacity, static_cast<int>(before.size()));
        const std::string filler(static_cast<std::size_t>(capacity) - before.size(), '.');
        ASSERT_EQ(write(ends[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
        const pid_t pid = StartInBackground(box, {"data.lx"}, ends[1]);
        close(ends[1]);
        EXPECT_TRUE(
            Eventually([&] { return OutputTemporaries(box).size() == 1 && WaitsIn(pid, "pipe_write"); }));
        for (const std::string& name : OutputTemporaries(box)) EXPECT_EQ(ModeOf(box.path(name)), 0600u);
        if (number == SIGPIPE)
            close(ends[0]);
        else
            kill(pid, number);
        EXPECT_EQ(EndingSignal(pid), number) << strsignal(number);
        if (number != SIGPIPE) close(ends[0]);
        EXPECT_EQ(box.Files(), (Names{"data", "data.lx"})) << strsignal(number);
        EXPECT_EQ(box.Read("data"), "old output");
    }
    ExpectTheFileSizeLimitToEndTheRun("data.lx", Compressed(Text(300000)));
}

TEST(Interrupts, AnInterruptedKeyWaitGivesTheTerminalBack) {
    if (UnderWine()) GTEST_SKIP() << "Windows waits for a key with the command interpreter's pause";
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        Sandbox box;
        box.Write("note.txt.lx", Compressed("aab"));
        TerminalRun run;
        StartOnTerminal(run, box, {"note.txt.lx"}, {});
        EXPECT_TRUE(WaitUntilShown(run, "Press any key"));
        EXPECT_TRUE(Eventually([&] { return TerminalIsRaw(run); }));
        kill(run.pid, number);
        EXPECT_EQ(EndingSignal(run.pid), number) << strsignal(number);
        EXPECT_TRUE(TerminalEchoesLines(run)) << strsignal(number);
        CloseTerminal(run);
    }
}

#ifdef SEALER_PLUGIN_DIR
TEST(Interrupts, ThePassphrasePromptKeepsTheProgramsOwnHandling) {
    if (UnderWine()) GTEST_SKIP() << "the sealer is a Linux plug-in";
    Sandbox box;
    box.Write("notes.txt", "meet me at noon");
    RunOptions sealer = WithPlugin(SEALER_PLUGIN_DIR);
    sealer.environment.push_back({"CORVANE_PASSPHRASE", "pass"});
    ASSERT_EQ(box.Run({"notes.txt"}, "", sealer).exitCode, 0);
    // At the prompt, an interrupt gives the echo back and ends the run.
    TerminalRun asked;
    StartOnTerminal(asked, box, {"notes.proto"}, WithPlugin(SEALER_PLUGIN_DIR));
    EXPECT_TRUE(WaitUntilShown(asked, "Passphrase to unseal"));
    EXPECT_TRUE(Eventually([&] { return !TerminalEchoes(asked); }));
    kill(asked.pid, SIGINT);
    EXPECT_EQ(EndingSignal(asked.pid), SIGINT);
    EXPECT_TRUE(TerminalEchoesLines(asked));
    CloseTerminal(asked);
    // After it, the program's own handling is back for the key wait.
    TerminalRun run;
    StartOnTerminal(run, box, {"notes.proto"}, WithPlugin(SEALER_PLUGIN_DIR));
    EXPECT_TRUE(WaitUntilShown(run, "Passphrase to unseal"));
    EXPECT_TRUE(Eventually([&] { return !TerminalEchoes(run); }));
    ASSERT_EQ(write(run.control, "pass\n", 5), 5);
    EXPECT_TRUE(WaitUntilShown(run, "Press any key"));
    EXPECT_NE(run.shown.find("meet me at noon"), std::string::npos);
    EXPECT_TRUE(Eventually([&] { return TerminalIsRaw(run); }));
    kill(run.pid, SIGTERM);
    EXPECT_EQ(EndingSignal(run.pid), SIGTERM);
    EXPECT_TRUE(TerminalEchoesLines(run));
    CloseTerminal(run);
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.txt"}));
}
#endif

// --- Input without end -------------------------------------------------------

TEST(EndlessInput, ASourceThatNeverEndsStopsOnceACountOverflows) {
#ifdef CORVANE_SANITIZED
    GTEST_SKIP() << "counting 4 GiB takes minutes under the sanitizers";
#endif
    if (UnderWine()) GTEST_SKIP() << "/dev/zero is a device of the Linux file system";
    Sandbox box;
    fs::create_symlink("/dev/zero", box.path("zeros"));
    RunResult run = box.Run({"zeros"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "input too large.\n");
    EXPECT_EQ(box.Files(), (Names{"tmptree1", "tmptree2", "zeros"}));
}

// --- Sealed files --------------------------------------------------------

#ifdef SEALER_PLUGIN_DIR

RunOptions Sealer() {
    RunOptions options = WithPlugin(SEALER_PLUGIN_DIR);
    options.environment.push_back({"CORVANE_PASSPHRASE", "correct horse"});
    return options;
}

// An unsealing refused before anything is written.
void ExpectUnsealingRefused(const Sandbox& box, const std::string& name, const std::string& reason,
                            const RunOptions& options) {
    RunResult run = box.Run({name}, "", options);
    EXPECT_EQ(run.exitCode, 1) << name;
    EXPECT_EQ(run.out, Banner + "1Open error.\n") << name;
    EXPECT_EQ(run.err, "sealer: " + name + ": " + reason + "\n错误: 无法打开文件 " + name + ".txt.lx\n");
    EXPECT_FALSE(box.Exists(name + ".txt.lx"));
}

TEST(SealedFiles, CostlyKeyDerivationAndFilesNotSealedAreRefusedAtOnce) {
    if (UnderWine()) GTEST_SKIP() << "the sealer is a Linux plug-in";
    Sandbox box;
    // 152 bytes asking for scrypt with N = 2^20, r = 2, p = 16: within the
    // memory bound, but 256 times the work of the parameters written now.
    std::string costly = std::string("CVSL\x01\x14\x02\x10", 8) + std::string(144, '\x5a');
    box.Write("costly.proto", costly);
    ExpectUnsealingRefused(box, "costly.proto", "unsupported key-derivation parameters", Sealer());
    // A gigabyte that is no sealed file, with far less memory than that.
    std::filesystem::resize_file(box.path("costly.proto"), 0);
    box.Write("large.proto", "");
    std::filesystem::resize_file(box.path("large.proto"), 1ull << 30);
    RunOptions bounded = Sealer();
#ifndef CORVANE_SANITIZED
    bounded.addressSpaceLimit = 256L << 20;
#endif
    ExpectUnsealingRefused(box, "large.proto", "not a sealed file", bounded);
}

TEST(SealedFiles, LargeFilesAreUnsealedBlockByBlock) {
    if (UnderWine()) GTEST_SKIP() << "the sealer is a Linux plug-in";
    Sandbox box;
    const std::string text = Text(5 << 20, 3);
    box.Write("big.txt", text);
    ASSERT_EQ(box.Run({"big.txt"}, "", Sealer()).exitCode, 0);
    const std::string sealed = box.Read("big.proto");
    ASSERT_GT(sealed.size(), 2u << 20);
    fs::remove(box.path("big.txt"));
    RunResult run = box.Run({"big.proto"}, "", Sealer());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(box.Read("big.proto.txt") == text);
    EXPECT_EQ(box.Files(), (Names{"big.proto", "big.proto.txt"}));
    // A flipped bit in the last block, or a missing tag byte, writes nothing.
    fs::remove(box.path("big.proto.txt"));
    std::string damaged = sealed;
    damaged[damaged.size() - 100] ^= 0x01;
    box.Write("flipped.proto", damaged);
    box.Write("short.proto", sealed.substr(0, sealed.size() - 1));
    for (const char* name : {"flipped.proto", "short.proto"})
        ExpectUnsealingRefused(box, name, "wrong passphrase or damaged file", Sealer());
    EXPECT_EQ(box.Files(), (Names{"big.proto", "flipped.proto", "short.proto"}));
}

// Sealing streams: a text far larger than the address space the run may
// take is sealed and unsealed all the same.
TEST(SealedFiles, LargeTextsAreSealedInBoundedMemory) {
    if (UnderWine()) GTEST_SKIP() << "the sealer is a Linux plug-in";
    Sandbox box;
    const std::string text = Text(40 << 20, 5);
    box.Write("big.txt", text);
    RunOptions bounded = Sealer();
#ifndef CORVANE_SANITIZED
    bounded.addressSpaceLimit = 64L << 20;
#endif
    RunResult run = box.Run({"big.txt"}, "", bounded);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(box.Files(), (Names{"big.proto", "big.txt"}));
    fs::remove(box.path("big.txt"));
    run = box.Run({"big.proto"}, "", bounded);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(box.Read("big.proto.txt") == text);
}

// A real version-1 header followed by holes: its tag is checked before a
// byte is written, so no file size limit is reached, and an ending signal
// during that check leaves nothing behind.
TEST(SealedFiles, ASparseVersion1FileWritesNothingAndSignalsLeaveNothing) {
    if (UnderWine()) GTEST_SKIP() << "the sealer is a Linux plug-in";
    Sandbox box;
    box.Write("holes.proto", std::string("CVSL\x01\x0e\x08\x01", 8) + std::string(28, '\x5a'));
    fs::resize_file(box.path("holes.proto"), 3ull << 29);
    RunOptions limited = Sealer();
    limited.fileSizeLimit = 1 << 20;
    ExpectUnsealingRefused(box, "holes.proto", "wrong passphrase or damaged file", limited);
    EXPECT_EQ(box.Files(), Names{"holes.proto"});
    fs::resize_file(box.path("holes.proto"), 1ull << 34);
    for (int number : EndingSignals) {
        int out = open("/dev/null", O_WRONLY);
        const pid_t pid = StartInBackground(box, {"holes.proto"}, out, -1, Sealer());
        close(out);
        EXPECT_TRUE(Eventually([&] { return box.Files().size() > 1; }));
        kill(pid, number);
        EXPECT_EQ(EndingSignal(pid), number) << strsignal(number);
        EXPECT_EQ(box.Files(), Names{"holes.proto"}) << strsignal(number);
    }
}

#endif  // SEALER_PLUGIN_DIR

// --- Space reservation -------------------------------------------------------

// A compressed file whose payload is 4 KiB of data and then holes, up to the
// 64 MiB its counts (2^28 "a" and 2^28 "b", codes of one bit) need: the
// extraction sets aside no more than 8 times the bytes it has on disk.
TEST(Reservation, ASparseCompressedFileReservesOnlyWhatItsBytesOnDiskAllow) {
    if (UnderWine()) GTEST_SKIP() << "sparse files and st_blocks are the Linux file system's";
    Sandbox box;
    box.Write("holes.lx", std::string("\x70\x0A\x00\x61\x00\x00\x00\x10\x62\x00\x00\x00\x10", 13) +
                              std::string(4096, '\0'));
    fs::resize_file(box.path("holes.lx"), 13 + (64ull << 20));
    int out = open("/dev/null", O_WRONLY);
    const pid_t pid = StartInBackground(box, {"holes.lx"}, out);
    close(out);
    // Watches the output until 64 MiB of it are written or the run ends.
    long long reservedBeyond = 0;
    bool enough = false;
    int status = 0;
    while (!enough && waitpid(pid, &status, WNOHANG) == 0) {
        for (const std::string& name : OutputTemporaries(box)) {
            struct stat info {};
            if (stat(box.path(name).c_str(), &info) != 0) continue;
            reservedBeyond = std::max<long long>(reservedBeyond, info.st_blocks * 512LL - info.st_size);
            enough = info.st_size > (64 << 20);
        }
    }
    if (enough) {
        kill(pid, SIGTERM);
        EXPECT_EQ(EndingSignal(pid), SIGTERM);
    }
    EXPECT_LT(reservedBeyond, 16 << 20);
    EXPECT_EQ(box.Files(), Names{"holes.lx"});
}

}  // namespace
