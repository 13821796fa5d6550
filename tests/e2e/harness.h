#pragma once
// Runs the real corvane binary in a fresh temporary directory.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

struct RunResult {
    int exitCode = -1;    // -1 when ended by a signal
    int signal = 0;       // the signal that ended it, or 0
    std::string out;      // standard output
    std::string err;      // standard error
};

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
    long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes for the child, SIGXFSZ ignored
    long addressSpaceLimit = -1;  // RLIMIT_AS in bytes for the child
};

// A fresh directory, removed with everything in it at the end of the test.
class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }
    void Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // Names of all entries in the directory, sorted.
    std::vector<std::string> Files() const;

    // Runs corvane with these arguments in this directory, feeding stdinText.
    RunResult Run(const std::vector<std::string>& args, const std::string& stdinText = "",
                  const RunOptions& options = {}) const;

private:
    std::filesystem::path dir_;
};

std::string CorvaneBinary();
std::string CorpusDir();  // empty when the corpus is not beside the project
std::string ReadFile(const std::filesystem::path& path);

inline const std::string Banner = "-------Corvane version 3.0 Build 251109-------\n";
inline const std::string Separator = "======================================\n";
