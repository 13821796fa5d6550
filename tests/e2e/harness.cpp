#include "e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

std::string CorvaneBinary() {
    std::string chosen = Environment("CORVANE_UNDER_TEST");
    return chosen.empty() ? CORVANE_BINARY : chosen;
}

bool UnderWine() { return !Environment("CORVANE_RUNNER").empty(); }

std::string FolderUnderTest(const std::string& folder) {
    std::string host = Environment("CORVANE_HOST_BUILD");
    bool inHostBuild = !host.empty() && folder.compare(0, host.size(), host) == 0 &&
                       (folder.size() == host.size() || folder[host.size()] == '/');
    return inHostBuild ? Environment("CORVANE_TARGET_BUILD") + folder.substr(host.size()) : folder;
}

std::vector<std::string> ProgramCommand(const std::vector<std::string>& args) {
    std::vector<std::string> words;
    if (UnderWine()) words.push_back(Environment("CORVANE_RUNNER"));
    words.push_back(CorvaneBinary());
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

std::string TerminalText(const std::string& shown) {
    std::string text;
    std::size_t i = 0;
    while (i < shown.size()) {
        if (shown.compare(i, 2, "\033[") != 0) {
            text += shown[i++];
            continue;
        }
        std::size_t end = i + 2;
        while (end < shown.size() && (shown[end] < 0x40 || shown[end] > 0x7E)) ++end;
        if (end < shown.size() && shown[end] == 'C')
            text.append(static_cast<std::size_t>(std::max(1, std::atoi(shown.c_str() + i + 2))), ' ');
        i = end + 1;
    }
    return text;
}

std::string CorpusDir() {
    std::error_code error;
    return fs::is_directory(CORPUS_DIR, error) ? CORPUS_DIR : "";
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Sandbox::Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "corvane-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
}

Sandbox::~Sandbox() {
    std::error_code error;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, error);
    fs::remove_all(dir_, error);
}

void Sandbox::Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Sandbox::Read(const std::string& name) const { return ReadFile(path(name)); }

bool Sandbox::Exists(const std::string& name) const {
    std::error_code error;
    return fs::exists(fs::symlink_status(path(name), error));
}

std::vector<std::string> Sandbox::Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void RedirectOrDie(const fs::path& file, int target, int flags) {
    int fd = open(file.c_str(), flags, 0600);
    if (fd < 0 || dup2(fd, target) < 0) _exit(127);
    close(fd);
}

// "\r\n" back to "\n", which exactly undoes the line-end translation of a
// Windows program's console output.
std::string FromWindowsLineEnds(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') plain += text[i];
    return plain;
}

// A folder as the Windows program names it.
std::string WindowsPath(const std::string& folder) {
    std::string path = "Z:" + folder;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

void SetEnvironment(const RunOptions& options) {
    for (const auto& [name, value] : options.environment) {
        if (UnderWine() && name == "LD_LIBRARY_PATH")
            setenv("WINEPATH", WindowsPath(FolderUnderTest(value)).c_str(), 1);
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
}

void SetLimits(const RunOptions& options) {
    if (options.fileSizeLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit >= 0) {
        rlimit limit{static_cast<rlim_t>(options.addressSpaceLimit),
                     static_cast<rlim_t>(options.addressSpaceLimit)};
        setrlimit(RLIMIT_AS, &limit);
    }
}

std::vector<std::string> CommandWords(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> words = ProgramCommand(args);
    if (!options.program.empty()) words[UnderWine() ? 1 : 0] = options.program;
    words.insert(words.begin(), options.prefix.begin(), options.prefix.end());
    return words;
}

[[noreturn]] void Exec(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

[[noreturn]] void StartChild(const fs::path& dir, const std::vector<std::string>& args,
                             const RunOptions& options, const fs::path& in, const fs::path& out,
                             const fs::path& err) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    RedirectOrDie(in, STDIN_FILENO, O_RDONLY);
    RedirectOrDie(out, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    RedirectOrDie(err, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    SetEnvironment(options);
    SetLimits(options);
    Exec(CommandWords(args, options));
}

void Decode(int status, RunResult& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

// Standard input and output on a new pseudo-terminal, standard error to
// `io/err`; or, with errorOnTerminal, only standard error on it and the
// others in `io`. Reads what the terminal shows until the program has ended,
// typing one key at the prompt; a program still running after a minute is
// killed. What the terminal showed goes to `shown`.
void RunOnTerminal(const fs::path& dir, const std::vector<std::string>& args, const RunOptions& options,
                   const fs::path& io, RunResult& result, std::string& shown) {
    using namespace std::chrono;
    int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0)
        throw std::runtime_error("no pseudo-terminal");
    winsize size{24, options.columns, 0, 0};
    ioctl(terminal, TIOCSWINSZ, &size);
    std::string side = ptsname(terminal);
    pid_t child = fork();
    if (child == 0) {
        setsid();
        int fd = open(side.c_str(), O_RDWR);
        if (fd < 0) _exit(127);
        if (options.errorOnTerminal) {
            if (dup2(fd, STDERR_FILENO) < 0) _exit(127);
            RedirectOrDie(io / "in", STDIN_FILENO, O_RDONLY);
            RedirectOrDie(io / "out", STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
        } else {
            if (dup2(fd, STDIN_FILENO) < 0 || dup2(fd, STDOUT_FILENO) < 0) _exit(127);
            RedirectOrDie(io / "err", STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
        }
        close(fd);
        close(terminal);
        if (chdir(dir.c_str()) != 0) _exit(127);
        SetEnvironment(options);
        Exec(CommandWords(args, options));
    }
    const auto deadline = steady_clock::now() + minutes(1);
    steady_clock::time_point promptSeen{}, ended{};
    bool exited = false;
    int status = 0;
    while (steady_clock::now() < deadline) {
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 20) > 0) {
            char block[4096];
            ssize_t got = read(terminal, block, sizeof block);
            if (got <= 0) break;  // every holder of the terminal has closed it
            shown.append(block, static_cast<std::size_t>(got));
            if (options.resizedColumns != 0 && size.ws_col != options.resizedColumns) {
                size.ws_col = options.resizedColumns;
                ioctl(terminal, TIOCSWINSZ, &size);
            }
        }
        const auto now = steady_clock::now();
        if (!exited && waitpid(child, &status, WNOHANG) == child) {
            exited = true;
            ended = now;
        }
        if (exited && now - ended > milliseconds(500)) break;
        if (options.typeKeyAfter.empty() || result.keyTyped) continue;
        if (promptSeen == steady_clock::time_point{}) {
            if (TerminalText(shown).find(options.typeKeyAfter) != std::string::npos) promptSeen = now;
        } else if (!exited && now - promptSeen > milliseconds(300)) {
            result.keyTyped = write(terminal, "k", 1) == 1;
        }
    }
    if (!exited) {
        if (steady_clock::now() >= deadline) kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    close(terminal);
    Decode(status, result);
}

}  // namespace

RunResult Sandbox::Run(const std::vector<std::string>& args, const std::string& stdinText,
                       const RunOptions& options) const {
    // The child's console files live outside the sandbox, so they never show
    // up among the files a run leaves behind.
    static std::mt19937_64 names{std::random_device{}()};
    fs::path io = fs::temp_directory_path() / ("corvane-io-" + std::to_string(names()));
    fs::create_directory(io);
    RunResult result;
    std::ofstream(io / "in", std::ios::binary) << stdinText;
    if (options.onTerminal) {
        RunOnTerminal(dir_, args, options, io, result, result.out);
        result.rawOut = result.out;
    } else if (options.errorOnTerminal) {
        std::string shown;
        RunOnTerminal(dir_, args, options, io, result, shown);
        result.rawOut = result.out = ReadFile(io / "out");
        result.rawErr = result.err = shown;
        fs::remove_all(io);
        return result;
    } else {
        // The program prints its banner before it touches any file, so a run
        // with no output at all never started: under a busy Wine a program
        // now and then fails to start. Such a run is tried again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            pid_t child = fork();
            if (child == 0) StartChild(dir_, args, options, io / "in", io / "out", io / "err");
            int status = 0;
            waitpid(child, &status, 0);
            result = RunResult{};
            Decode(status, result);
            result.rawOut = ReadFile(io / "out");
            if (!UnderWine() || !result.rawOut.empty()) break;
        }
        result.out = UnderWine() ? FromWindowsLineEnds(result.rawOut) : result.rawOut;
    }
    result.rawErr = ReadFile(io / "err");
    result.err = UnderWine() ? FromWindowsLineEnds(result.rawErr) : result.rawErr;
    fs::remove_all(io);
    return result;
}
