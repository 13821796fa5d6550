// Attacks and careless use on a machine with several users and shared
// folders: files planted by a neighbour, hostile text for the terminal,
// files swapped while the program runs, interrupts, permissions, and input
// that never ends. The cross-user cases plant the neighbour's files as the
// user "nobody" and need root; they run in a folder that everyone may
// write to but that is not sticky, so that the kernel's own protection of
// links in sticky folders plays no part.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

}  // namespace
