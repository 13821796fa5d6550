// Failures must never destroy the user's data nor pass for success.
#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";
const std::string Menu = "0: exit, 1: compress, 2: extract :\n";

std::string Sample(std::size_t size) {
    std::string text;
    unsigned state = 12345;
    while (text.size() < size) {
        state = state * 1103515245 + 12345;
        text += "etaoin shrdlu\n"[(state >> 16) % 14];
    }
    return text;
}

TEST(SameFile, ExtractingOntoItsOwnInputIsRefused) {
    Sandbox box;
    box.Write("data", Sample(5000));
    ASSERT_EQ(box.Run({"data"}).exitCode, 0);
    std::string compressed = box.Read("data.lx");
    fs::create_symlink("data.lx", box.path("link.lx"));
    for (const char* output : {"data.lx", "./data.lx", "link.lx"}) {
        RunResult run = box.Run({}, std::string("2 data.lx ") + output + "\n");
        EXPECT_EQ(run.exitCode, 1) << output;
        EXPECT_EQ(run.out, Banner + Menu +
                               "choose file to extract:\nenter output file:\n"
                               "input and output are the same file.\n");
        EXPECT_EQ(box.Read("data.lx"), compressed);
    }
    // A command-line path whose output name links back to the input.
    fs::create_symlink("self.lx", box.path("self"));
    box.Write("self.lx", compressed);
    EXPECT_EQ(box.Run({"self.lx"}).out, Banner + NoPlugin + "input and output are the same file.\n");
    EXPECT_EQ(box.Read("self.lx"), compressed);
}

TEST(SameFile, CompressingATemporaryFileIsRefused) {
    Sandbox box;
    for (const char* name : {"tmptree1", "tmptree2", "./tmptree2"}) {
        box.Write("tmptree1", "precious one");
        box.Write("tmptree2", "precious two");
        RunResult run = box.Run({name});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.out, Banner + NoPlugin + "input and output are the same file.\n");
        EXPECT_EQ(box.Read("tmptree1"), "precious one");
        EXPECT_EQ(box.Read("tmptree2"), "precious two");
        EXPECT_FALSE(box.Exists(std::string(name) + ".lx"));
    }
}

TEST(WriteFailures, AFullDiskKeepsTheExistingOutput) {
    Sandbox box;
    std::string input = Sample(200000);
    box.Write("data", input);
    box.Write("data.lx", "old compressed");
    RunOptions small;
    small.fileSizeLimit = 50000;
    RunResult run = box.Run({"data"}, "", small);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(box.Read("data.lx"), "old compressed");
    EXPECT_EQ(box.Read("data"), input);

    // The temporaries fit, the joined output does not.
    fs::remove(box.path("tmptree1"));
    fs::remove(box.path("tmptree2"));
    ASSERT_EQ(box.Run({"data"}).exitCode, 0);
    std::string compressed = box.Read("data.lx");
    box.Write("data.lx", "old compressed");
    small.fileSizeLimit = static_cast<long>(compressed.size()) - 1;
    run = box.Run({"data"}, "", small);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_EQ(box.Read("data.lx"), "old compressed");
    fs::remove(box.path("tmptree1"));
    fs::remove(box.path("tmptree2"));
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"data", "data.lx"}));

    // Extraction: the old file of the output name stays as it was.
    box.Write("packed.lx", compressed);
    box.Write("packed", "old extracted");
    small.fileSizeLimit = 1000;
    run = box.Run({"packed.lx"}, "", small);
    EXPECT_EQ(run.out, Banner + NoPlugin + Separator + "Write error.\n");
    EXPECT_EQ(box.Read("packed"), "old extracted");
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"data", "data.lx", "packed", "packed.lx"}));
}

TEST(WriteFailures, DeviceOutputIsWrittenDirectlyAndNeverRemoved) {
    if (UnderWine())
        GTEST_SKIP() << "/dev/full and /dev/null are POSIX devices (NulIsTheDeviceOnlyOnWindows checks NUL)";
    Sandbox box;
    box.Write("data", Sample(20000));
    ASSERT_EQ(box.Run({"data"}).exitCode, 0);
    RunResult run = box.Run({}, "2 data.lx /dev/full\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Write error.\n"), std::string::npos);
    EXPECT_TRUE(fs::exists("/dev/full"));
    run = box.Run({}, "2 data.lx /dev/null\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST(WriteFailures, ReplacedFileKeepsItsPermissions) {
    if (UnderWine()) GTEST_SKIP() << "POSIX permission bits (AReadOnlyOutputStaysReadOnly checks Windows)";
    Sandbox box;
    box.Write("data", Sample(3000));
    box.Write("data.lx", "old");
    fs::permissions(box.path("data.lx"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(box.Run({"data"}).exitCode, 0);
    EXPECT_EQ(fs::status(box.path("data.lx")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(ReadFailures, ADirectoryIsNoFile) {
    if (UnderWine())
        GTEST_SKIP() << "Windows cannot open a folder as a file (FoldersAreRefusedAtTheOpen checks Windows)";
    Sandbox box;
    fs::create_directory(box.path("folder"));
    RunResult run = box.Run({"folder"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Read error.\n");
    EXPECT_FALSE(box.Exists("folder.lx"));

    fs::create_directory(box.path("packed.lx"));
    run = box.Run({"packed.lx"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "Read error.\n");
    EXPECT_EQ(box.Files(), (std::vector<std::string>{"folder", "packed.lx", "tmptree1", "tmptree2"}));

    // An output name that is a folder cannot be written.
    box.Write("folder.lx", std::string("\x43\x04\x61\x02\x62\x01\xC0", 7));
    run = box.Run({"folder.lx"});
    EXPECT_EQ(run.out, Banner + NoPlugin + "Write error.\n");
    EXPECT_TRUE(fs::is_directory(box.path("folder")));
}

TEST(ResourceLimits, ExhaustedMemoryEndsWithAMessage) {
    if (UnderWine())
        GTEST_SKIP() << "RLIMIT_AS would bound Wine itself, which reserves far more address space";
#ifdef CORVANE_SANITIZED
    GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
#endif
    // The least address space in which the program starts and answers -v:
    // too little for the buffers of a compression.
    Sandbox box;
    RunOptions tight;
    for (tight.addressSpaceLimit = 1L << 20; tight.addressSpaceLimit < (64L << 20);
         tight.addressSpaceLimit += 256L << 10) {
        if (box.Run({"-v"}, "", tight).exitCode == 0) break;
    }
    box.Write("data", Sample(1000));
    RunResult run = box.Run({"data"}, "", tight);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + NoPlugin + "out of memory.\n");
}

}  // namespace
