// Where the Windows program (corvane.exe under Wine) and the Linux program
// differ, each case with the value each platform gives.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";
const std::string Done = "Compress successfully.";
const std::string Aab = "aab";
const std::string AabCompressed = std::string("\x43\x04\x61\x02\x62\x01\xC0", 7);

// The bytes a console shows for this text: Windows ends lines in "\r\n".
std::string OnConsole(const std::string& text) {
    if (!UnderWine()) return text;
    std::string shown;
    for (char c : text) shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return shown;
}

std::string Shown(const std::string& text) {
    return Separator + text + "\n" + Separator + "Extract successfully.\n";
}

std::string Written() { return Separator + Separator + "Extract successfully.\n"; }

RunOptions WithPlugin(const std::string& folder, const Sandbox& box) {
    RunOptions options;
    options.environment = {{"LD_LIBRARY_PATH", folder},
                           {"CORVANE_PLUGIN_LOG", (box.dir() / "calls.log").string()}};
    return options;
}

std::string Text(std::size_t size) {
    std::string text;
    for (unsigned state = 7; text.size() < size; state = state * 1103515245 + 12345)
        text += "etaoin shrdlu\n"[(state >> 16) % 14];
    return text;
}

// The compressed form of `text`, made by a run without a plug-in.
std::string Compressed(const std::string& text) {
    Sandbox box;
    box.Write("t", text);
    EXPECT_EQ(box.Run({"t"}, "", WithPlugin((box.dir() / "none").string(), box)).exitCode, 0);
    return box.Read("t.lx");
}

TEST(Windows, ConsoleLinesEndInCarriageReturnAndLineFeed) {
    Sandbox box;
    RunResult run = box.Run({"-v"});
    EXPECT_EQ(run.rawOut, OnConsole(Banner + "Corvane version 3.0 Build 251109\n"));

    box.Write("aab", Aab);
    run = box.Run({"aab"});
    EXPECT_EQ(run.rawOut, OnConsole(Banner + NoPlugin) + Done);

    // Shown text is translated as well, a "\r\n" of its own included.
    box.Write("two.txt", "one\ntwo\r\n");
    ASSERT_EQ(box.Run({"two.txt"}).exitCode, 0);
    run = box.Run({"two.txt.lx"});
    EXPECT_EQ(run.rawOut, OnConsole(Banner + NoPlugin + Shown("one\ntwo\r\n")));
    EXPECT_EQ(run.out, Banner + NoPlugin + Shown("one\ntwo\r\n"));

    run = box.Run({"missing"});
    EXPECT_EQ(run.rawErr, OnConsole("错误: 无法打开文件 missing\n"));
}

TEST(Windows, TitleAndPauseOnlyOnAConsole) {
    Sandbox box;
    box.Write("note.txt.lx", AabCompressed);
    // Redirected: no title, no prompt and no wait.
    RunResult run = box.Run({"note.txt.lx"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + Shown("aab"));

    // On a terminal, which Wine makes the console: the command interpreter's
    // title and pause commands (Wine's pause words its prompt its own way).
    RunOptions terminal;
    terminal.onTerminal = true;
    terminal.typeKeyAfter = "Press any key";
    run = box.Run({"note.txt.lx"}, "", terminal);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.keyTyped) << "no wait for a key";
    EXPECT_NE(run.out.find("\033]0;Corvane\007"), std::string::npos) << run.out;
    const std::string shown = TerminalText(run.out);
    const std::string prompt =
        UnderWine() ? "Press any key to continue..." : "Press any key to continue . . .";
    EXPECT_NE(shown.find(prompt), std::string::npos) << shown;
    EXPECT_LT(shown.find("Extract successfully."), shown.find(prompt)) << shown;
    EXPECT_EQ(box.Files(), std::vector<std::string>{"note.txt.lx"});
}

TEST(Windows, PluginBesideTheProgramButNeverFromTheWorkingFolder) {
#ifdef CORVANE_SANITIZED
    if (!UnderWine())
        GTEST_SKIP() << "AddressSanitizer's dlopen searches from its own library, not beside the program";
#endif
    Sandbox box;
    fs::create_directory(box.path("bin"));
    RunOptions beside;
    beside.program = box.path(UnderWine() ? "bin/corvane.exe" : "bin/corvane").string();
    beside.environment = {{"CORVANE_PLUGIN_LOG", box.path("calls.log").string()}};
    fs::copy_file(CorvaneBinary(), beside.program);
    fs::copy_file(FolderUnderTest(RECORDER_PLUGIN_DIR) + "/plugin.dll", box.path("bin/plugin.dll"));
    fs::copy_file(FolderUnderTest(LACKING_PLUGIN_DIR) + "/plugin.dll", box.path("plugin.dll"));
    box.Write("notes.md", "abracadabra");

    RunResult run = box.Run({"notes.md"}, "", beside);
    EXPECT_EQ(run.out, Banner + "notes.md.lx\n" + Done);

    // A library planted in the working folder is never loaded, not even
    // for its start-up code: Windows leaves that folder out of its search
    // here, Linux never looks there.
    fs::remove(box.path("bin/plugin.dll"));
    fs::remove(box.path("calls.log"));
    run = box.Run({"notes.md"}, "", beside);
    EXPECT_EQ(run.out, Banner + NoPlugin + Done);
    EXPECT_FALSE(box.Exists("calls.log"));
}

TEST(Windows, ALibraryLoadedToTheEndIsDetachedOnlyOnWindows) {
    // The immediate end skips all clean-up on Linux; Windows still tells
    // every loaded library that the process detaches.
    Sandbox box;
    box.Write("a.lx", Compressed(Text(8000)));
    RunResult run = box.Run({"a.lx"}, "", WithPlugin(RECORDER_PLUGIN_DIR, box));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Written());
    EXPECT_EQ(box.Read("calls.log"), UnderWine() ? "load\nunload\n" : "load\n");
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"a", "calls.log"}));
}

TEST(Windows, NarrowNamesAreUtf8) {
    // corvane.exe's manifest makes UTF-8 its ANSI code page: its narrow
    // strings (the argument, the messages, the plug-in's path) carry a name
    // in UTF-8, as on Linux, whatever the system's code page.
    Sandbox box;
    const std::string name = "dé 日本.proto";
    const std::string text = Text(8000);
    box.Write(name, Compressed(text));
    RunResult run = box.Run({name}, "", WithPlugin(RECORDER_PLUGIN_DIR, box));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "recorder: Decrypt " + name + "\n" + Written());
    EXPECT_EQ(box.Read("calls.log"), "load\nDecrypt " + name + " " + std::to_string(name.size()) +
                                         " exists\nunload " + name + ".txt.lx exists\n");
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"calls.log", name, name + ".txt"}));
    EXPECT_TRUE(box.Read(name + ".txt") == text);

    run = box.Run({"missing é"});
    EXPECT_EQ(run.err, "错误: 无法打开文件 missing é\n");
}

TEST(Windows, NamesInAnyScriptRoundTrip) {
    Sandbox box;
    const std::string text = Text(5000);
    const std::string compressed = Compressed(text);
    fs::create_directory(box.path("dossier é 日本"));
    fs::create_directory(box.path("é日本"));
    // Given as the argument, blanks and all.
    for (const std::string name : {"résumé-日本.txt", "dossier é 日本/r é 日本"}) {
        box.Write(name, text);
        RunResult run = box.Run({name});
        EXPECT_EQ(run.out, Banner + NoPlugin + Done) << name;
        EXPECT_TRUE(box.Read(name + ".lx") == compressed) << name;
        fs::remove(box.path(name));
        run = box.Run({name + ".lx"});
        EXPECT_EQ(run.out, Banner + NoPlugin + Written()) << name;
        EXPECT_TRUE(box.Exists(name) && box.Read(name) == text) << name;
    }
    // Typed at the menu's prompts (standard input redirected): one word each.
    const std::string typed = "é日本/ré日本.txt";
    box.Write(typed, text);
    RunResult run = box.Run({}, "1\n" + typed + "\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(box.Read(typed + ".lx") == compressed);
    run = box.Run({}, "2\n" + typed + ".lx é日本/日本\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(box.Exists("é日本/日本") && box.Read("é日本/日本") == text);
}

TEST(Windows, NamesTypedOnAConsoleArriveAsUtf8) {
    // Typed on a terminal (under Wine a console, read as wide characters).
    Sandbox box;
    const std::string text = Text(5000);
    box.Write("日本é.txt", text);
    RunOptions terminal;
    terminal.onTerminal = true;
    terminal.typeKeyAfter = "2: extract :";
    terminal.keysTyped = "1 日本é.txt\r";
    RunResult run = box.Run({}, "", terminal);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.keyTyped);
    EXPECT_TRUE(box.Exists("日本é.txt.lx") && box.Read("日本é.txt.lx") == Compressed(text)) << run.out;
}

TEST(Windows, NamesWindowsCannotHoldAreNotOpened) {
    // Windows drops trailing blanks and refuses control characters and
    // wildcards.
    Sandbox box;
    for (const std::string name : {"trail ", "tab\there", "line\nbreak", "*?[]"}) {
        box.Write(name, "abracadabra");
        RunResult run = box.Run({name});
        if (UnderWine()) {
            EXPECT_EQ(run.exitCode, 1) << name;
            EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n") << name;
            EXPECT_FALSE(box.Exists(name + ".lx")) << name;
        } else {
            EXPECT_EQ(run.exitCode, 0) << name;
            EXPECT_TRUE(box.Exists(name + ".lx")) << name;
        }
        fs::remove(box.path(name));
        fs::remove(box.path(name + ".lx"));
    }
    EXPECT_TRUE(box.Files().empty());
}

TEST(Windows, TemporaryFilesLockedByAnotherCompressionAreLeftAlone) {
    // Linux locks the whole file (flock); Windows locks one byte far beyond
    // any data, which Wine keeps as a POSIX record lock.
    Sandbox box;
    box.Write("data", Text(3000));
    for (const char* locked : {"tmptree1", "tmptree2"}) {
        box.Write("tmptree1", "theirs 1");
        box.Write("tmptree2", "theirs 2");
        for (const char* name : {"tmptree1", "tmptree2"})
            fs::permissions(box.path(name), fs::perms::owner_read | fs::perms::owner_write);
        int fd = open(box.path(locked).c_str(), O_RDWR);
        if (UnderWine()) {
            struct flock byte {};
            byte.l_type = F_WRLCK;
            byte.l_whence = SEEK_SET;
            byte.l_start = 0x7FFFFFFF00000000;
            byte.l_len = 1;
            ASSERT_EQ(fcntl(fd, F_SETLK, &byte), 0);
        } else {
            ASSERT_EQ(flock(fd, LOCK_EX), 0);
        }
        RunResult run = box.Run({"data"});
        close(fd);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Banner + NoPlugin + "temporary files in use.\n");
        EXPECT_EQ(box.Read("tmptree1"), "theirs 1");
        EXPECT_EQ(box.Read("tmptree2"), "theirs 2");
        EXPECT_FALSE(box.Exists("data.lx"));
    }
    // Once free they are reused and removed.
    EXPECT_EQ(box.Run({"data"}).exitCode, 0);
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"data", "data.lx"}));
}

TEST(Windows, FoldersAreRefusedAtTheOpen) {
    // Linux opens a folder and fails at the first read; Windows cannot open it.
    Sandbox box;
    fs::create_directory(box.path("folder"));
    RunResult run = box.Run({"folder"});
    EXPECT_EQ(run.exitCode, 1);
    if (UnderWine()) {
        EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n");
        EXPECT_EQ(run.err, "错误: 无法打开文件 folder\n");
        EXPECT_EQ(box.Files(), std::vector<std::string>{"folder"});
    } else {
        EXPECT_EQ(run.out, Banner + NoPlugin + "Read error.\n");
        EXPECT_EQ(box.Files(), (std::vector<std::string>{"folder", "tmptree1", "tmptree2"}));
    }
}

TEST(Windows, NulIsTheDeviceOnlyOnWindows) {
    Sandbox box;
    const std::string text = Text(5000);
    box.Write("data", text);
    ASSERT_EQ(box.Run({"data"}).exitCode, 0);
    for (const char* device : {"NUL", "nul"}) {
        RunResult run = box.Run({}, std::string("2 data.lx ") + device + "\n");
        EXPECT_EQ(run.exitCode, 0) << device << ": " << run.out;
        if (UnderWine()) {
            EXPECT_EQ(box.Files(), (std::vector<std::string>{"data", "data.lx"})) << device;
        } else {
            EXPECT_TRUE(box.Read(device) == text) << device;
            fs::remove(box.path(device));
        }
    }
}

TEST(Windows, AReadOnlyOutputStaysReadOnly) {
    // Only the superuser may replace it. Linux then keeps the permission
    // bits; Windows keeps the read-only attribute, which Wine shows as
    // r--r--r--.
    Sandbox box;
    box.Write("data", Text(3000));
    box.Write("data.lx", "old");
    fs::permissions(box.path("data.lx"), fs::perms::owner_read);
    RunResult run = box.Run({"data"});
    if (geteuid() != 0) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Banner + NoPlugin + "3open error.\n");
        EXPECT_EQ(box.Read("data.lx"), "old");
        return;
    }
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(box.Read("data.lx"), Compressed(Text(3000)));
    const fs::perms readOnly = UnderWine()
                                   ? fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read
                                   : fs::perms::owner_read;
    EXPECT_EQ(fs::status(box.path("data.lx")).permissions() & fs::perms::all, readOnly);
}

}  // namespace
