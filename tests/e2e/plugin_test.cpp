// The sealing plug-in as a user meets it: with the shipped sealer, and with
// the tests' own plug-ins, which show when the program calls, removes and
// releases. The recorder "seals" by copying and logs "load", each call
// (entry point, path, length, whether the path existed) and "unload" (with
// whether the file it last handled still exists) to "plugin-calls.log".
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "e2e/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string NoPlugin = "error: cannot find lockfern.dll\n";
const std::string NoFunction = "error: function not found\n";
const std::string Menu = "0: exit, 1: compress, 2: extract :\n";
const std::string CallLog = "plugin-calls.log";
const std::string Done = "Compress successfully.";

using Names = std::vector<std::string>;

RunOptions WithPlugin(const std::string& folder, const std::string& passphrase = "") {
    RunOptions options;
    options.environment = {{"LD_LIBRARY_PATH", folder}, {"CORVANE_PASSPHRASE", passphrase}};
    return options;
}

RunOptions Recorder() { return WithPlugin(RECORDER_PLUGIN_DIR); }

// Text of made-up words; 8000 bytes compress to well over 1024, so an
// extraction writes a file rather than showing it.
std::string LongText() {
    const char* words[] = {"corvane", "seal", "the ", "of ", "passphrase", "archive", "\n", "tree"};
    std::mt19937 generator(11);
    std::string text;
    while (text.size() < 8000) text += std::string(words[generator() % 8]) + " ";
    return text;
}

[[maybe_unused]] std::string Extracted(const std::string& text) {
    return Separator + text + "\n" + Separator + "Extract successfully.\n";
}

std::string Written() { return Separator + Separator + "Extract successfully.\n"; }

// The compressed form of `text`, made by a run without a plug-in.
std::string Compressed(const std::string& text) {
    Sandbox box;
    box.Write("t", text);
    EXPECT_EQ(box.Run({"t"}, "", WithPlugin((box.dir() / "none").string())).exitCode, 0);
    return box.Read("t.lx");
}

#ifdef SEALER_PLUGIN_DIR

const std::string Passphrase = "correct horse battery staple";

RunOptions Sealer(const std::string& passphrase = Passphrase) {
    return WithPlugin(SEALER_PLUGIN_DIR, passphrase);
}

// Seals `text` as notes.proto through the program; notes.txt stays.
void SealNotes(const Sandbox& box, const std::string& text) {
    box.Write("notes.txt", text);
    RunResult run = box.Run({"notes.txt"}, "", Sealer());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Banner + "notes.txt.lx\n" + Done);
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(box.Files(), (Names{"notes.proto", "notes.txt"}));
    EXPECT_EQ(box.Read("notes.proto").substr(0, 5), "CVSL\x02");
}

TEST(Sealer, SealsAndUnsealsATextFile) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    const std::string text = LongText();
    SealNotes(box, text);
    EXPECT_EQ(box.Read("notes.proto").find("corvane"), std::string::npos);

    RunResult run = box.Run({"notes.proto"}, "", Sealer());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Banner + Written());
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.proto.txt", "notes.txt"}));
    EXPECT_TRUE(box.Read("notes.proto.txt") == text);
}

TEST(Sealer, SmallSealedTextIsShownOnTheConsole) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    SealNotes(box, "meet me at noon\n");
    RunResult run = box.Run({"notes.proto"}, "", Sealer());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, Banner + Extracted("meet me at noon\n"));
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.txt"}));
}

// A refused unsealing writes nothing, keeps the sealed file and every file of
// the user's, and the program's open then fails.
void ExpectRefused(const Sandbox& box, const std::string& sealedName, const RunOptions& options,
                   const std::string& reason) {
    box.Write(sealedName + ".txt", "mine");
    const std::string sealed = box.Read(sealedName);
    const Names before = box.Files();
    RunResult run = box.Run({sealedName}, "", options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + "1Open error.\n");
    EXPECT_EQ(run.err, "sealer: " + reason + "\n错误: 无法打开文件 " + sealedName + ".txt.lx\n");
    EXPECT_EQ(box.Files(), before);
    EXPECT_TRUE(box.Read(sealedName) == sealed);
    EXPECT_EQ(box.Read(sealedName + ".txt"), "mine");
}

TEST(Sealer, WrongPassphraseOrNoneWritesNothing) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    SealNotes(box, LongText());
    ExpectRefused(box, "notes.proto", Sealer("wrong horse"), "notes.proto: wrong passphrase or damaged file");
    ExpectRefused(box, "notes.proto", Sealer(""), "empty passphrase refused");
}

TEST(Sealer, DamagedOrForeignSealedFilesWriteNothing) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    SealNotes(box, LongText());
    std::string sealed = box.Read("notes.proto");
    std::string flipped = sealed;
    flipped[flipped.size() / 2] ^= 0x40;
    box.Write("flipped.proto", flipped);
    ExpectRefused(box, "flipped.proto", Sealer(), "flipped.proto: wrong passphrase or damaged file");
    box.Write("short.proto", sealed.substr(0, sealed.size() - 1));
    ExpectRefused(box, "short.proto", Sealer(), "short.proto: wrong passphrase or damaged file");
    box.Write("foreign.proto", LongText());
    ExpectRefused(box, "foreign.proto", Sealer(), "foreign.proto: not a sealed file");
}

TEST(Sealer, LeftoverOfAnEarlierRunIsNotExtractedAfterARefusal) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    SealNotes(box, LongText());
    box.Write("notes.proto.txt.lx", Compressed("unsealed by an earlier run"));
    RunResult run = box.Run({"notes.proto"}, "", Sealer("wrong horse"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + "1Open error.\n");
    EXPECT_FALSE(box.Exists("notes.proto.txt.lx"));
    EXPECT_FALSE(box.Exists("notes.proto.txt"));
}

// Sealing reports its result (EncryptChecked): a failed one keeps the
// compressed file, says so and ends with status 1, so that
// "corvane notes.txt && rm notes.txt" keeps the text.
TEST(Sealer, FailedSealingKeepsTheCompressedFileAndFailsTheRun) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    box.Write("notes.txt", LongText());
    RunResult run = box.Run({"notes.txt"}, "", Sealer(""));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + "notes.txt.lx\n" + Done);
    EXPECT_EQ(run.err,
              "sealer: empty passphrase refused\nnotes.txt.lx: not sealed, the compressed file is kept\n");
    EXPECT_EQ(box.Files(), (Names{"notes.txt", "notes.txt.lx"}));
    EXPECT_TRUE(box.Read("notes.txt.lx") == Compressed(LongText()));
}

TEST(Sealer, NonTextCompressionKeepsTheCompressedFile) {
    if (UnderWine())
        GTEST_SKIP() << "the sealer is a Linux plug-in (OpenSSL); corvane.exe has no build of it";
    Sandbox box;
    box.Write("data.bin", LongText());
    RunResult run = box.Run({"data.bin"}, "", Sealer());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "data.bin.lx\n" + Done);
    EXPECT_EQ(box.Files(), (Names{"data.bin", "data.bin.lx"}));
    EXPECT_TRUE(box.Read("data.bin.lx") == Compressed(LongText()));
}

#endif  // SEALER_PLUGIN_DIR

TEST(Plugin, ProtoPathWithoutPluginIsCompressed) {
    Sandbox box;
    box.Write("notes.proto", "not sealed at all");
    RunResult run = box.Run({"notes.proto"}, "", WithPlugin((box.dir() / "none").string()));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + NoPlugin + Done);
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.proto.lx"}));
}

// Where the plug-in is looked for: absolute LD_LIBRARY_PATH entries, the
// program's folder, <program folder>/../LIBDIR/corvane, the system's folders;
// never the working folder, through an empty or relative entry or otherwise.
// The program has no run path.
TEST(Plugin, LookedUpBesideTheProgramAndInstalledNeverInTheWorkingFolder) {
    if (UnderWine()) GTEST_SKIP() << "the Windows lookup is checked by the Windows tests";
    Sandbox box;
    const fs::path plugin = fs::path(RECORDER_PLUGIN_DIR) / "plugin.dll";
    fs::copy_file(plugin, box.path("plugin.dll"));
    box.Write("notes.md", "abracadabra");
    for (const char* searched : {"", ":", ".", "::.:lib", "tests/../"}) {
        RunOptions options;
        options.environment = {{"LD_LIBRARY_PATH", searched}};
        RunResult run = box.Run({"notes.md"}, "", options);
        EXPECT_EQ(run.out, Banner + NoPlugin + Done) << "'" << searched << "'";
    }
    EXPECT_FALSE(box.Exists(CallLog));
    fs::remove(box.path("plugin.dll"));
    // The program copied beside a plug-in, and into an installed tree.
    const std::string installed = std::string("tree/") + CORVANE_INSTALL_LIBDIR + "/corvane";
    for (const std::string& folder : {std::string("beside"), installed}) {
        fs::create_directories(box.path(folder));
        fs::copy_file(plugin, box.path(folder) / "plugin.dll");
    }
    fs::create_directories(box.path("tree/bin"));
    fs::copy_file(CorvaneBinary(), box.path("beside/corvane"));
    fs::copy_file(CorvaneBinary(), box.path("tree/bin/corvane"));
    for (const std::string& program :
         {box.path("beside/corvane").string(), box.path("tree/bin/corvane").string()}) {
        RunOptions options;
        options.program = program;
        options.environment = {{"LD_LIBRARY_PATH", ""}};
        RunResult run = box.Run({"notes.md"}, "", options);
        EXPECT_EQ(run.out, Banner + "notes.md.lx\n" + Done) << program;
    }
    EXPECT_EQ(box.Read(CallLog), "load\nunload\nload\nunload\n");
    std::FILE* readelf = popen(("readelf -d '" + CorvaneBinary() + "' 2>&1").c_str(), "r");
    ASSERT_NE(readelf, nullptr);
    std::string section;
    char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, readelf)) > 0;)
        section.append(block, got);
    pclose(readelf);
    EXPECT_NE(section.find("NEEDED"), std::string::npos) << section;
    EXPECT_EQ(section.find("RPATH"), std::string::npos) << section;
    EXPECT_EQ(section.find("RUNPATH"), std::string::npos) << section;
}

TEST(Plugin, LibraryLackingAnEntryPointIsReleasedAndIgnored) {
    Sandbox box;
    box.Write("a.txt", "abracadabra");
    box.Write("b.proto", "abracadabra");
    for (const char* name : {"a.txt", "b.proto"}) {
        RunResult run = box.Run({name}, "", WithPlugin(LACKING_PLUGIN_DIR));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, Banner + NoFunction + Done);
    }
    EXPECT_EQ(box.Files(), (Names{"a.txt", "a.txt.lx", "b.proto", "b.proto.lx", CallLog}));
    EXPECT_EQ(box.Read(CallLog), "load\nunload\nload\nunload\n");
}

TEST(Recorder, TextCompressionIsSealedThenRemovedThenReleased) {
    Sandbox box;
    box.Write("notes.txt", LongText());
    RunResult run = box.Run({"notes.txt"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "notes.txt.lx\nrecorder: Encrypt notes.txt.lx\n" + Done);
    EXPECT_EQ(box.Read(CallLog), "load\nEncrypt notes.txt.lx 12 exists\nunload notes.txt.lx missing\n");
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.txt", CallLog}));
    // Encrypt saw the compressed file complete.
    EXPECT_TRUE(box.Read("notes.proto") == Compressed(LongText()));
}

// CORVANE_PLUGIN=off, and only that value, runs as if no plug-in were there.
TEST(Recorder, SwitchedOffItIsNotLoadedAndNothingIsSealedOrRemoved) {
    Sandbox box;
    box.Write("notes.txt", LongText());
    box.Write("notes.proto", "not sealed at all");
    const std::string compressed = Compressed(LongText());
    box.Write("data.lx", compressed);
    RunOptions off = Recorder();
    off.environment.push_back({"CORVANE_PLUGIN", "off"});
    for (const char* name : {"notes.txt", "notes.proto"}) {
        RunResult run = box.Run({name}, "", off);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, Banner + NoPlugin + Done) << name;
    }
    RunResult run = box.Run({"data.lx"}, "", off);
    EXPECT_EQ(run.out, Banner + NoPlugin + Written());
    EXPECT_EQ(box.Files(),
              (Names{"data", "data.lx", "notes.proto", "notes.proto.lx", "notes.txt", "notes.txt.lx"}));
    for (const char* other : {"OFF", "off ", "0", ""}) {
        RunOptions on = Recorder();
        on.environment.push_back({"CORVANE_PLUGIN", other});
        box.Write("data.lx", compressed);
        run = box.Run({"data.lx"}, "", on);
        EXPECT_EQ(run.out, Banner + Written()) << other;
        EXPECT_FALSE(box.Exists("data.lx")) << other;
    }
    // Loaded each time, no call made; Windows detaches a library loaded to the end.
    const std::string loaded = UnderWine() ? "load\nunload\n" : "load\n";
    EXPECT_EQ(box.Read(CallLog), loaded + loaded + loaded + loaded);
}

TEST(Recorder, OtherCompressionIsNotSealedButReleases) {
    Sandbox box;
    box.Write("notes.md", "abracadabra");
    RunResult run = box.Run({"notes.md"}, "", Recorder());
    EXPECT_EQ(run.out, Banner + "notes.md.lx\n" + Done);
    EXPECT_EQ(box.Read(CallLog), "load\nunload\n");
    EXPECT_EQ(box.Files(), (Names{"notes.md", "notes.md.lx", CallLog}));
}

TEST(Recorder, SealedFileIsUnsealedReleasedExtractedThenRemoved) {
    if (UnderWine())
        GTEST_SKIP()
            << "the name is in the ANSI code page on Windows (NarrowNamesAreInTheAnsiCodePage checks it)";
    Sandbox box;
    const std::string text = LongText();
    box.Write("dé.proto", Compressed(text));
    RunResult run = box.Run({"dé.proto"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + "recorder: Decrypt dé.proto\n" + Written());
    // The library is released before the extraction starts.
    EXPECT_EQ(box.Read(CallLog), "load\nDecrypt dé.proto 9 exists\nunload dé.proto.txt.lx exists\n");
    EXPECT_EQ(box.Files(), (Names{"dé.proto", "dé.proto.txt", CallLog}));
    EXPECT_TRUE(box.Read("dé.proto.txt") == text);
}

TEST(Recorder, ExtractedFileIsRemovedOnlyAfterSuccess) {
    if (UnderWine())
        GTEST_SKIP() << "Windows keeps a library loaded to the end "
                        "(ALibraryLoadedToTheEndIsDetachedOnlyOnWindows checks it)";
    Sandbox box;
    const std::string compressed = Compressed(LongText());
    box.Write("a.lx", compressed);
    RunResult run = box.Run({"a.lx"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, Banner + Written());
    // No call, and the library stays loaded until the process ends.
    EXPECT_EQ(box.Read(CallLog), "load\n");
    EXPECT_EQ(box.Files(), (Names{"a", CallLog}));

    box.Write("cut.lx", compressed.substr(0, compressed.size() / 2));
    run = box.Run({"cut.lx"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(box.Exists("cut.lx"));
    EXPECT_FALSE(box.Exists("cut"));

    box.Write("cut.proto", compressed.substr(0, compressed.size() / 2));
    run = box.Run({"cut.proto"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 1);
    // The unsealed copy goes after a refusal too; the sealed file stays.
    EXPECT_FALSE(box.Exists("cut.proto.txt.lx"));
    EXPECT_TRUE(box.Exists("cut.proto"));
    EXPECT_FALSE(box.Exists("cut.proto.txt"));
}

TEST(Recorder, MissingUnsealedFileFailsTheOpen) {
    Sandbox box;
    RunResult run = box.Run({"gone.proto"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, Banner + "recorder: Decrypt gone.proto\n1Open error.\n");
    EXPECT_EQ(run.err, "错误: 无法打开文件 gone.proto.txt.lx\n");
    EXPECT_EQ(box.Read(CallLog), "load\nDecrypt gone.proto 10 missing\nunload gone.proto.txt.lx missing\n");
}

TEST(Recorder, LoadedForAnyPathButNotForMenuOptionsOrTwoArguments) {
    Sandbox box;
    box.Write("notes.txt", "abracadabra");
    RunResult run = box.Run({""}, "notes.txt\n", Recorder());
    EXPECT_EQ(run.out,
              Banner + "choose file to compress:\nnotes.txt.lx\nrecorder: Encrypt notes.txt.lx\n" + Done);
    EXPECT_EQ(box.Read(CallLog), "load\nEncrypt notes.txt.lx 12 exists\nunload notes.txt.lx missing\n");
    fs::remove(box.path(CallLog));

    run = box.Run({}, "1\nnotes.txt\n", Recorder());
    EXPECT_EQ(run.out, Banner + Menu + "choose file to compress:\n" + Done);
    run = box.Run({"notes.txt", "notes.txt"}, "0\n", Recorder());
    EXPECT_EQ(run.out, Banner + Menu);
    run = box.Run({"-v"}, "", Recorder());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(box.Exists(CallLog));
    EXPECT_EQ(box.Files(), (Names{"notes.proto", "notes.txt", "notes.txt.lx"}));
}

}  // namespace
