// The platform layer on the system it was built for: the POSIX side on
// Linux, the Windows side when cross-built and run under Wine.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
const char* const NullDevice = "NUL";
#else
const char* const NullDevice = "/dev/null";
#endif

class PlatformTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        dir_ = fs::temp_directory_path() / ("corvane-platform-" + std::to_string(ProcessId()) + "-" + test);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        for (const auto& entry : fs::directory_iterator(dir_))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        fs::remove_all(dir_);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(Path(name), std::ios::binary) << bytes;
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(Path(name), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    fs::path dir_;
};

// Temporaries are used only when closed to everyone but their owner.
void MakeOwnerOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
}

bool Writable(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

// Runs `action` with standard input read from `file`, then restores it.
template <class Action>
void WithInputFrom(const std::string& file, Action action) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    ASSERT_NE(in, nullptr);
#ifdef _WIN32
    int saved = _dup(0);
    _dup2(_fileno(in), 0);
    action();
    _dup2(saved, 0);
    _close(saved);
#else
    int saved = dup(0);
    dup2(fileno(in), 0);
    action();
    dup2(saved, 0);
    close(saved);
#endif
    std::fclose(in);
}

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

TEST_F(PlatformTest, LockIsExclusiveUntilReleasedAndLeavesTheContents) {
    Write("held", "their data");
    MakeOwnerOnly(Path("held"));
    FileLock first, second;
    ASSERT_EQ(LockFileExclusive(Path("held"), first), LockResult::Locked);
    EXPECT_EQ(LockFileExclusive(Path("held"), second), LockResult::Busy);
    EXPECT_EQ(second.handle, -1);
    EXPECT_EQ(Read("held"), "their data");
    ReleaseFileLock(first);
    EXPECT_EQ(first.handle, -1);
    EXPECT_EQ(LockFileExclusive(Path("held"), second), LockResult::Locked);
    ReleaseFileLock(second);
    ReleaseFileLock(second);

    // A missing file is created; one in a missing folder cannot be.
    FileLock created;
    ASSERT_EQ(LockFileExclusive(Path("new"), created), LockResult::Locked);
    EXPECT_TRUE(fs::exists(Path("new")));
    ReleaseFileLock(created);
    EXPECT_EQ(LockFileExclusive(Path("no folder/new"), created), LockResult::Failed);
}

TEST_F(PlatformTest, TruncatingKeepsTheLockAndAllowsWriting) {
    Write("temp", "left over from an old run");
    MakeOwnerOnly(Path("temp"));
    FileLock lock, other;
    ASSERT_EQ(LockFileExclusive(Path("temp"), lock), LockResult::Locked);
    EXPECT_TRUE(TruncateLockedFile(lock));
    EXPECT_EQ(fs::file_size(Path("temp")), 0u);
    EXPECT_EQ(LockFileExclusive(Path("temp"), other), LockResult::Busy);
    // The lock lies beyond the data: others read and write the file freely.
    std::FILE* out = std::fopen(Path("temp").c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::fwrite("new", 1, 3, out), 3u);
    EXPECT_EQ(std::fclose(out), 0);
    EXPECT_EQ(Read("temp"), "new");
    ReleaseFileLock(lock);
}

TEST_F(PlatformTest, ALockedFileCanBeRemoved) {
    FileLock holder, next;
    ASSERT_EQ(LockFileExclusive(Path("temp"), holder), LockResult::Locked);
    EXPECT_EQ(std::remove(Path("temp").c_str()), 0);
#ifdef _WIN32
    // Windows keeps the name until the last handle on the file is closed
    // (Wine reports the lock as busy, Windows refuses the open).
    EXPECT_NE(LockFileExclusive(Path("temp"), next), LockResult::Locked);
#else
    // POSIX frees the name at once: this is a new file.
    EXPECT_EQ(LockFileExclusive(Path("temp"), next), LockResult::Locked);
    ReleaseFileLock(next);
    std::remove(Path("temp").c_str());
#endif
    ReleaseFileLock(holder);
    EXPECT_FALSE(fs::exists(Path("temp")));
    EXPECT_EQ(LockFileExclusive(Path("temp"), next), LockResult::Locked);
    ReleaseFileLock(next);
}

TEST_F(PlatformTest, CreateNewFileRefusesAnExistingFileAndWritesBinary) {
    std::FILE* file = CreateNewFile(Path("fresh"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::fwrite("a\nb\r\n", 1, 5, file), 5u);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(Read("fresh"), "a\nb\r\n");
    EXPECT_EQ(CreateNewFile(Path("fresh")), nullptr);
    EXPECT_EQ(Read("fresh"), "a\nb\r\n");
    EXPECT_EQ(CreateNewFile(Path("no folder/fresh")), nullptr);
}

TEST_F(PlatformTest, ReplaceFileWithReplacesInOneStep) {
    Write("new", "new contents");
    Write("old", "old contents");
    EXPECT_TRUE(ReplaceFileWith(Path("new"), Path("old")));
    EXPECT_EQ(Read("old"), "new contents");
    EXPECT_FALSE(fs::exists(Path("new")));
    EXPECT_TRUE(ReplaceFileWith(Path("old"), Path("absent")));
    EXPECT_EQ(Read("absent"), "new contents");
    EXPECT_FALSE(ReplaceFileWith(Path("missing"), Path("absent")));
    EXPECT_EQ(Read("absent"), "new contents");
}

TEST_F(PlatformTest, LockRefusesFilesThatAreNotSafelyTheUsersOwn) {
    Write("linked", "x");
    MakeOwnerOnly(Path("linked"));
    fs::create_hard_link(Path("linked"), Path("second name"));
    FileLock lock;
    EXPECT_EQ(LockFileExclusive(Path("linked"), lock), LockResult::Refused);
    EXPECT_EQ(lock.refusal, "has other links");
#ifndef _WIN32
    Write("open", "x");
    fs::permissions(Path("open"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                      fs::perms::others_read);
    EXPECT_EQ(LockFileExclusive(Path("open"), lock), LockResult::Refused);
    EXPECT_EQ(lock.refusal, "may be used by others (mode 0644)");
    // A link is never followed, not even to a file that does not exist.
    fs::create_symlink("linked", Path("link"));
    fs::create_symlink("nowhere", Path("dangling"));
    for (const char* name : {"link", "dangling"}) {
        EXPECT_EQ(LockFileExclusive(Path(name), lock), LockResult::Refused) << name;
        EXPECT_EQ(lock.refusal, "is a symbolic link") << name;
    }
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    fs::remove(Path("link"));
    fs::remove(Path("dangling"));
    // A new one is its owner's only.
    ASSERT_EQ(LockFileExclusive(Path("new"), lock), LockResult::Locked);
    EXPECT_EQ(fs::status(Path("new")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    ReleaseFileLock(lock);
#endif
    EXPECT_EQ(lock.handle, -1);
    EXPECT_EQ(Read("linked"), "x");
}

TEST_F(PlatformTest, TheLockedFileIsWrittenReadAndRemovedThroughItsLock) {
    FileLock lock;
    ASSERT_EQ(LockFileExclusive(Path("temp"), lock), LockResult::Locked);
    std::FILE* out = OpenLockedForWriting(lock);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::fwrite("payload", 1, 7, out), 7u);
    EXPECT_EQ(std::fclose(out), 0);
    // Another file put under its name changes nothing the lock reads.
    fs::rename(Path("temp"), Path("moved"));
    Write("temp", "planted");
    std::FILE* in = OpenLockedForReading(lock);
    ASSERT_NE(in, nullptr);
    char back[16] = {};
    EXPECT_EQ(std::fread(back, 1, sizeof back, in), 7u);
    EXPECT_EQ(std::string(back), "payload");
    std::fclose(in);
    RemoveLockedFile(Path("temp"), lock);
    RemoveLockedFile(Path("moved"), lock);
    ReleaseFileLock(lock);
    EXPECT_EQ(Read("temp"), "planted");
    EXPECT_FALSE(fs::exists(Path("moved")));
}

TEST_F(PlatformTest, StampingGivesPermissionBitsAndTimes) {
    Write("from", "source");
    fs::permissions(Path("from"), fs::perms::owner_read);
    FileFacts from;
    ASSERT_TRUE(FactsOfNamedFile(Path("from"), from));
    EXPECT_TRUE(from.regular);
    EXPECT_EQ(from.size, 6);
    from.modified = FileTime{1000000000, 0};
    std::FILE* made = CreateNewFile(Path("made"));
    ASSERT_NE(made, nullptr);
    StampFile(made, from.permissions, from);
    FileFacts facts;
    ASSERT_TRUE(FactsOfOpenFile(made, facts));
    EXPECT_EQ(std::fclose(made), 0);
    EXPECT_EQ(facts.modified.seconds, 1000000000);
    EXPECT_FALSE(Writable(Path("made")));
    EXPECT_FALSE(FactsOfNamedFile(Path("missing"), facts));
#ifndef _WIN32
    // Created for its owner only; never setuid, setgid or sticky.
    made = CreateNewFile(Path("plain"));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(fs::status(Path("plain")).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    StampFile(made, 07755, from);
    std::fclose(made);
    EXPECT_EQ(fs::status(Path("plain")).permissions(), static_cast<fs::perms>(0755));
#endif
}

TEST_F(PlatformTest, ReservingSpaceChangesNeitherSizeNorContents) {
    std::FILE* made = CreateNewFile(Path("reserved"));
    ASSERT_NE(made, nullptr);
    ASSERT_EQ(std::fwrite("abc", 1, 3, made), 3u);
    ASSERT_EQ(std::fflush(made), 0);
    ReserveSpace(made, 3u << 20);
    EXPECT_EQ(fs::file_size(Path("reserved")), 3u);
    ASSERT_EQ(std::fwrite("def", 1, 3, made), 3u);
    EXPECT_EQ(std::fclose(made), 0);
    EXPECT_EQ(Read("reserved"), "abcdef");
    // A device takes no reservation, and refusing it is harmless.
    std::FILE* device = std::fopen(NullDevice, "wb");
    ASSERT_NE(device, nullptr);
    ReserveSpace(device, 3u << 20);
    EXPECT_EQ(std::fclose(device), 0);
}

TEST_F(PlatformTest, DevicesAreToldFromFilesAndFolders) {
    Write("file", "x");
    EXPECT_TRUE(IsDevice(NullDevice));
    EXPECT_FALSE(IsDevice(Path("file")));
    EXPECT_FALSE(IsDevice(dir_.string()));
    EXPECT_FALSE(IsDevice(Path("missing")));
}

TEST_F(PlatformTest, LibrariesMissingOrBrokenAreNotOpened) {
    EXPECT_EQ(OpenLibrary(Path("missing.dll")), nullptr);
    Write("broken.dll", "not a library at all");
    EXPECT_EQ(OpenLibrary(Path("broken.dll")), nullptr);
}

TEST_F(PlatformTest, EntryPointsOfATestPlugin) {
    SetEnvironment("CORVANE_PLUGIN_LOG", Path("calls.log"));
    LibraryHandle library = OpenLibrary(std::string(RECORDER_PLUGIN_DIR) + "/plugin.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(FindEntryPoint(library, "Encrypt"), nullptr);
    EXPECT_NE(FindEntryPoint(library, "Decrypt"), nullptr);
    EXPECT_EQ(FindEntryPoint(library, "encrypt"), nullptr);
    EXPECT_EQ(FindEntryPoint(library, "Missing"), nullptr);
    CloseLibrary(library);
    EXPECT_EQ(Read("calls.log"), "load\nunload\n");
}

TEST_F(PlatformTest, ConsoleCommandsDoNothingWithoutAConsole) {
    // Standard output captured into a file: no title text.
    testing::internal::CaptureStdout();
    SetConsoleTitleText();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // Standard input from a file with a key in it: no prompt, no wait, and
    // the key stays unread.
    Write("key", "k");
    WithInputFrom(Path("key"), [] {
        testing::internal::CaptureStdout();
        WaitForKeyPress();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(std::getchar(), 'k');
    });
}

// On Windows the C runtime library flushes its streams itself when the
// process leaves it, so even the immediate exit loses no buffered output.
TEST(PlatformExit, ImmediateExitSkipsTheCleanUpNormalExitRuns) {
    // A fixed name: on Windows the child that exits is a new run of this test.
    const std::string path = (fs::temp_directory_path() / "corvane-platform-exit-test").string();
    auto exitWithPendingOutput = [&path](void (*end)(int), int status) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fputs("pending", file);
        end(status);
    };
    EXPECT_EXIT(exitWithPendingOutput(ExitImmediately, 3), testing::ExitedWithCode(3), "");
#ifdef _WIN32
    EXPECT_EQ(fs::file_size(path), 7u);
#else
    EXPECT_EQ(fs::file_size(path), 0u);
#endif
    EXPECT_EXIT(exitWithPendingOutput(ExitNormally, 4), testing::ExitedWithCode(4), "");
    EXPECT_EQ(fs::file_size(path), 7u);
    fs::remove(path);
}

#ifdef _WIN32
TEST(PlatformConsole, TypedWideInputArrivesAsUtf8) {
    bool ended = false;
    std::wstring typed = L"r\u00E9sum\u00E9 \u65E5\u672C.txt\r\n";
    EXPECT_EQ(Utf8FromConsoleInput(typed, ended), "résumé 日本.txt\n");
    EXPECT_TRUE(typed.empty());

    // A pair split between two reads is joined; a lone half becomes U+FFFD.
    typed = L"a\xD83D";
    EXPECT_EQ(Utf8FromConsoleInput(typed, ended), "a");
    EXPECT_EQ(typed, L"\xD83D");
    typed += L"\xDE00\xDC00\r";
    EXPECT_EQ(Utf8FromConsoleInput(typed, ended), "\xF0\x9F\x98\x80\xEF\xBF\xBD\r");
    EXPECT_FALSE(ended);

    // Ctrl-Z ends the input: nothing after it is taken.
    typed = L"2 x\x1A\r\nmore";
    EXPECT_EQ(Utf8FromConsoleInput(typed, ended), "2 x");
    EXPECT_TRUE(ended);
    EXPECT_TRUE(typed.empty());
}

// The code page belongs to the console, which a death test's child shares:
// each way out of the child must give the parent its code page back.
TEST(PlatformConsole, TheConsoleGetsItsCodePageBackOnEveryWayOut) {
    // Wine makes a console only for a program started on a terminal; the
    // Windows tests run this one there once more, where it must not skip.
    const UINT own = GetConsoleOutputCP();
    if (own == 0 && std::getenv("CORVANE_CONSOLE_REQUIRED") != nullptr) FAIL() << "no console";
    if (own == 0) GTEST_SKIP() << "no console";
    ASSERT_TRUE(SetConsoleOutputCP(850));
    SwitchConsoleOutputToUtf8();
    EXPECT_EQ(GetConsoleOutputCP(), static_cast<UINT>(CP_UTF8));
    GiveBackConsoleCodePage();
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
    auto switchThenEnd = [](void (*end)(int)) {
        SwitchConsoleOutputToUtf8();
        if (GetConsoleOutputCP() == CP_UTF8) end(5);
    };
    EXPECT_EXIT(switchThenEnd(ExitNormally), testing::ExitedWithCode(5), "");
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
    EXPECT_EXIT(switchThenEnd(ExitImmediately), testing::ExitedWithCode(5), "");
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
    SetConsoleOutputCP(own);
}
#endif

}  // namespace
