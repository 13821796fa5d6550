#pragma once
// Runs the real corvane binary in a fresh temporary directory.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Console text has "\n" line ends here on every platform: a Windows program
// writes "\r\n", which the harness turns back into "\n" (rawOut and rawErr
// keep the bytes as they arrived).
struct RunResult {
    int exitCode = -1;  // -1 when ended by a signal
    int signal = 0;     // the signal that ended it, or 0
    std::string out;    // standard output
    std::string err;    // standard error
    std::string rawOut;
    std::string rawErr;
    bool keyTyped = false;  // onTerminal: the program waited at the prompt and got a key
};

struct RunOptions {
    std::vector<std::pair<std::string, std::string>> environment;  // added or replaced
    long fileSizeLimit = -1;      // RLIMIT_FSIZE in bytes for the child, SIGXFSZ ignored
    long addressSpaceLimit = -1;  // RLIMIT_AS in bytes for the child
    std::string program;          // another copy of the program to run, empty for CorvaneBinary()
    // Words that start the program: "/usr/bin/setpriv --reuid=..." to run it
    // as another user, "/usr/bin/timeout" to bound a run that may hang.
    std::vector<std::string> prefix;
    // Standard input and output on a terminal of their own instead of files;
    // out is what the terminal showed. Once it shows typeKeyAfter, and the
    // program still runs a moment later, one key is typed.
    bool onTerminal = false;
    std::string typeKeyAfter;
    // Only standard error on a terminal of its own; err is what it showed,
    // and standard input and output are files as usual.
    bool errorOnTerminal = false;
    // The terminal's width, and the width it is given once it has shown
    // something (0: left as it is).
    unsigned short columns = 80;
    unsigned short resizedColumns = 0;
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

// The program under test: CORVANE_UNDER_TEST when set (corvane.exe of the
// Windows build), else this build's corvane. CORVANE_RUNNER, when set, runs
// it (tools/wine-run), with the program as its first argument.
std::string CorvaneBinary();
// True when the program runs under Wine. There a library folder of this build
// named in LD_LIBRARY_PATH stands for the same folder of the Windows build
// and is searched through WINEPATH.
bool UnderWine();
// The folder of the build under test for a folder of this build: under Wine
// CORVANE_HOST_BUILD/x becomes CORVANE_TARGET_BUILD/x (the test plug-ins).
std::string FolderUnderTest(const std::string& folder);
// The words that start the program under test with these arguments: the
// runner when there is one, the program, the arguments.
std::vector<std::string> ProgramCommand(const std::vector<std::string>& args);
// What a terminal shows as text: control sequences "ESC [ ..." are dropped,
// except that moving the cursor forward by n leaves n blanks.
std::string TerminalText(const std::string& shown);
std::string CorpusDir();  // empty when the corpus is not beside the project
std::string ReadFile(const std::filesystem::path& path);

inline const std::string Banner = "-------Corvane version 3.0 Build 251109-------\n";
inline const std::string Separator = "======================================\n";
