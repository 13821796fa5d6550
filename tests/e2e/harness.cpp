#include "e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

std::string CorvaneBinary() { return CORVANE_BINARY; }

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

[[noreturn]] void StartChild(const fs::path& dir, const std::vector<std::string>& args,
                             const RunOptions& options, const fs::path& in, const fs::path& out,
                             const fs::path& err) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    RedirectOrDie(in, STDIN_FILENO, O_RDONLY);
    RedirectOrDie(out, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    RedirectOrDie(err, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    for (const auto& [name, value] : options.environment) setenv(name.c_str(), value.c_str(), 1);
    if (options.fileSizeLimit >= 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.addressSpaceLimit >= 0) {
        rlimit limit{static_cast<rlim_t>(options.addressSpaceLimit), static_cast<rlim_t>(options.addressSpaceLimit)};
        setrlimit(RLIMIT_AS, &limit);
    }
    std::string binary = CorvaneBinary();
    std::vector<char*> argv{binary.data()};
    std::vector<std::string> copies = args;
    for (auto& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
}

}  // namespace

RunResult Sandbox::Run(const std::vector<std::string>& args, const std::string& stdinText,
                       const RunOptions& options) const {
    // The child's console files live outside the sandbox, so they never show
    // up among the files a run leaves behind.
    static std::mt19937_64 names{std::random_device{}()};
    fs::path io = fs::temp_directory_path() / ("corvane-io-" + std::to_string(names()));
    fs::create_directory(io);
    std::ofstream(io / "in", std::ios::binary) << stdinText;
    pid_t child = fork();
    if (child == 0) StartChild(dir_, args, options, io / "in", io / "out", io / "err");
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = ReadFile(io / "out");
    result.err = ReadFile(io / "err");
    fs::remove_all(io);
    return result;
}
