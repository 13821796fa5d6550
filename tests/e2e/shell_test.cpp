// The shell as a user meets it: options, the menu, prompts, naming, display
// mode, messages and exit statuses.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

const std::string NoPlugin = "error: cannot find lockfern.dll\n";
const std::string Menu = "0: exit, 1: compress, 2: extract :\n";
const std::string Help =
    "Usage: Corvane [option]\n"
    "Options:\n"
    "  -h, --help      Show this help message and exit\n"
    "  -v, --version   Show version information and exit\n";
const std::string Aab = "aab";
const std::string AabCompressed = std::string("\x43\x04\x61\x02\x62\x01\xC0", 7);

std::string Extracted(const std::string& text) {
    return Separator + text + "\n" + Separator + "Extract successfully.\n";
}

TEST(Options, HelpAndVersionAnswerAndTouchNothing) {
    Sandbox box;
    for (const char* option : {"-h", "--help"}) {
        RunResult run = box.Run({option});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, Banner + Help) << option;
        EXPECT_EQ(run.err, "");
    }
    for (const char* option : {"-v", "--version"}) {
        RunResult run = box.Run({option});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, Banner + "Corvane version 3.0 Build 251109\n") << option;
    }
    EXPECT_TRUE(box.Files().empty());
}

TEST(Options, LookalikesArePaths) {
    Sandbox box;
    for (const char* argument : {"-H", "-help", "--HELP", "-v ", "-x"}) {
        RunResult run = box.Run({argument});
        EXPECT_EQ(run.exitCode, 1) << argument;
        EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n") << argument;
        EXPECT_EQ(run.err, std::string("错误: 无法打开文件 ") + argument + "\n");
    }
    EXPECT_TRUE(box.Files().empty());
}

TEST(Options, TwoArgumentsMeanTheMenu) {
    Sandbox box;
    box.Write("a.txt", Aab);
    RunResult run = box.Run({"a.txt", "b.txt"}, "0\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Menu);
    EXPECT_EQ(box.Files(), std::vector<std::string>{"a.txt"});
}

TEST(Menu, ExitChoicesEndWithStatusZero) {
    Sandbox box;
    for (const char* reply : {"0\n", "abc\n", "", "   \n\n"}) {
        RunResult run = box.Run({}, reply);
        EXPECT_EQ(run.exitCode, 0) << reply;
        EXPECT_EQ(run.out, Banner + Menu) << reply;
    }
    EXPECT_TRUE(box.Files().empty());
}

TEST(Menu, OtherNumbersAreWrongCommands) {
    Sandbox box;
    for (const char* reply : {"3\n", "-1\n", "99999999999\n"}) {
        RunResult run = box.Run({}, reply);
        EXPECT_EQ(run.exitCode, 1) << reply;
        EXPECT_EQ(run.out, Banner + Menu + "wrong command.\n") << reply;
    }
    EXPECT_TRUE(box.Files().empty());
}

TEST(Menu, CompressTakesTheNameFromTheSameLineUpToTheFirstBlank) {
    Sandbox box;
    box.Write("aab", Aab);
    RunResult run = box.Run({}, "1 aab and the rest\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to compress:\nCompress successfully.");
    EXPECT_EQ(box.Read("aab.lx"), AabCompressed);
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"aab", "aab.lx"}));
}

TEST(Menu, ExtractAsksForBothNamesAndNeverDisplays) {
    Sandbox box;
    box.Write("small.txt.lx", AabCompressed);
    RunResult run = box.Run({}, "2\nsmall.txt.lx\nout.txt\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to extract:\nenter output file:\n" + Separator +
                           Separator + "Extract successfully.\n");
    EXPECT_EQ(box.Read("out.txt"), Aab);
    EXPECT_EQ(box.Read("small.txt.lx"), AabCompressed);
}

TEST(Menu, InputEndingBeforeANameFails) {
    Sandbox box;
    box.Write("in.lx", AabCompressed);
    RunResult run = box.Run({}, "2\nin.lx\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to extract:\nenter output file:\nWrite error.\n");
    EXPECT_EQ(box.Read("in.lx"), AabCompressed);
    EXPECT_EQ(box.Files(), std::vector<std::string>{"in.lx"});

    run = box.Run({}, "1\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + Menu + "choose file to compress:\n1Open error.\n");
}

TEST(CommandLine, SuffixChoosesTheJob) {
    Sandbox box;
    box.Write("aab", Aab);
    RunResult run = box.Run({"aab"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Compress successfully.");
    EXPECT_EQ(box.Read("aab.lx"), AabCompressed);

    box.Write("upper.LX", Aab);
    EXPECT_EQ(box.Run({"upper.LX"}).exitCode, 0);
    EXPECT_EQ(box.Read("upper.LX.lx"), AabCompressed);

    box.Write("copy.lx", AabCompressed);
    run = box.Run({"copy.lx"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + Separator + "Extract successfully.\n");
    EXPECT_EQ(box.Read("copy"), Aab);

    box.Write("notes.proto", Aab);
    EXPECT_EQ(box.Run({"notes.proto"}).exitCode, 0);
    EXPECT_EQ(box.Read("notes.proto.lx"), AabCompressed);
}

TEST(CommandLine, MissingPathWarnsThenFails) {
    Sandbox box;
    RunResult run = box.Run({"missing.txt"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "1Open error.\n");
    EXPECT_EQ(run.err, "错误: 无法打开文件 missing.txt\n");
    EXPECT_TRUE(box.Files().empty());
}

TEST(CommandLine, EmptyArgumentAsksForTheFileToCompress) {
    Sandbox box;
    box.Write("aab", Aab);
    RunResult run = box.Run({""}, "aab\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + "choose file to compress:\nCompress successfully.");
    EXPECT_EQ(box.Read("aab.lx"), AabCompressed);
}

TEST(DisplayMode, SmallTextFilesAreShownNotWritten) {
    Sandbox box;
    box.Write("note.txt.lx", AabCompressed);
    box.Write("note.txt", "keep me");
    RunResult run = box.Run({"note.txt.lx"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + Extracted("aab"));
    EXPECT_EQ(box.Read("note.txt"), "keep me");

    box.Write("plain.lx", AabCompressed);
    run = box.Run({"plain.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + Separator + "Extract successfully.\n");
    EXPECT_EQ(box.Read("plain"), Aab);
}

TEST(DisplayMode, TextStopsAtTheFirstZeroByte) {
    Sandbox box;
    box.Write("z", std::string("ab\0cd", 5));
    ASSERT_EQ(box.Run({"z"}).exitCode, 0);
    box.Write("z.txt.lx", box.Read("z.lx"));
    EXPECT_EQ(box.Run({"z.txt.lx"}).out, Banner + NoPlugin + Extracted("ab"));
}

TEST(DisplayMode, SizeLimitIsBelow1024Bytes) {
    // "abab...": one bit a byte after a 9-byte header part, so n input bytes
    // give a compressed file of 9 + n / 8 bytes.
    auto alternating = [](std::size_t n) {
        std::string text;
        for (std::size_t i = 0; i < n; ++i) text += "ab"[i % 2];
        return text;
    };
    Sandbox box;
    for (std::size_t compressedSize : {1023u, 1024u}) {
        std::string text = alternating((compressedSize - 9) * 8);
        box.Write("t", text);
        ASSERT_EQ(box.Run({"t"}).exitCode, 0);
        ASSERT_EQ(box.Read("t.lx").size(), compressedSize);
        box.Write("t.txt.lx", box.Read("t.lx"));
        RunResult run = box.Run({"t.txt.lx"});
        EXPECT_EQ(run.exitCode, 0);
        if (compressedSize == 1023) {
            EXPECT_EQ(run.out, Banner + NoPlugin + Extracted(text));
            EXPECT_FALSE(box.Exists("t.txt"));
        } else {
            EXPECT_EQ(run.out, Banner + NoPlugin + Separator + Separator + "Extract successfully.\n");
            EXPECT_EQ(box.Read("t.txt"), text);
        }
    }
}

TEST(DisplayMode, DotLxAloneHasNoOutputName) {
    Sandbox box;
    box.Write(".lx", AabCompressed);
    RunResult run = box.Run({".lx"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(box.Files(), std::vector<std::string>{".lx"});
}

TEST(Errors, FewerThanTwoByteValuesLeaveTheTemporaries) {
    Sandbox box;
    for (const std::string& input : {std::string(), std::string(5000, 'x')}) {
        box.Write("in", input);
        RunResult run = box.Run({"in"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, Banner + NoPlugin + "only one character OR no character.\n");
        EXPECT_EQ(box.Files(), (std::vector<std::string>{"in", "tmptree1", "tmptree2"}));
        EXPECT_EQ(box.Read("tmptree1"), "");
        EXPECT_EQ(box.Read("tmptree2"), "");
    }
}

}  // namespace
