// The plug-in binding against the tests' own plug-ins, which log "load",
// "unload" and every call to the file named by CORVANE_PLUGIN_LOG.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>

#include "plugin/crypto_plugin.h"

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
// MinGW's C library has _putenv_s in place of setenv and unsetenv.
int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

const std::string RecorderLibrary = std::string(RECORDER_PLUGIN_DIR) + "/plugin.dll";
const std::string LackingLibrary = std::string(LACKING_PLUGIN_DIR) + "/plugin.dll";

class PluginBinding : public testing::Test {
protected:
    void SetUp() override {
        std::random_device seed;
        dir_ = fs::temp_directory_path() / ("corvane-plugin-" + std::to_string(seed()));
        fs::create_directories(dir_);
        setenv("CORVANE_PLUGIN_LOG", (dir_ / "calls.log").string().c_str(), 1);
    }
    void TearDown() override {
        ReleasePlugin();
        unsetenv("CORVANE_PLUGIN_LOG");
        fs::remove_all(dir_);
    }
    std::string Log() const {
        std::ifstream in(dir_ / "calls.log");
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    fs::path dir_;
};

std::string LoadCapturingOutput(const std::string& library, bool& loaded) {
    testing::internal::CaptureStdout();
    loaded = LoadPlugin(library);
    std::cout.flush();
    return testing::internal::GetCapturedStdout();
}

TEST_F(PluginBinding, MissingLibraryIsReportedAndNothingKept) {
    bool loaded = true;
    EXPECT_EQ(LoadCapturingOutput((dir_ / "plugin.dll").string(), loaded),
              "error: cannot find lockfern.dll\n");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(PluginLibrary.handle, nullptr);
}

TEST_F(PluginBinding, LibraryLackingAnEntryPointIsReleasedAgain) {
    bool loaded = true;
    EXPECT_EQ(LoadCapturingOutput(LackingLibrary, loaded), "error: function not found\n");
    EXPECT_FALSE(loaded);
    EXPECT_EQ(PluginLibrary.handle, nullptr);
    EXPECT_EQ(PluginLibrary.encrypt, nullptr);
    EXPECT_EQ(Log(), "load\nunload\n");
}

TEST_F(PluginBinding, DecryptGetsPathAndByteLengthThenLibraryIsReleased) {
    bool loaded = false;
    EXPECT_EQ(LoadCapturingOutput(RecorderLibrary, loaded), "");
    ASSERT_TRUE(loaded);
    EXPECT_NE(PluginLibrary.encrypt, nullptr);
    EXPECT_NE(PluginLibrary.decrypt, nullptr);

    // "é" is two bytes: the length passed is the byte count.
    const std::string path = (dir_ / "dé.proto").string();
    std::ofstream(path) << "sealed";
    testing::internal::CaptureStdout();
    EXPECT_TRUE(RunDecrypt(path));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "recorder: Decrypt " + path + "\n");
    EXPECT_EQ(PluginLibrary.handle, nullptr);
    EXPECT_EQ(PluginLibrary.decrypt, nullptr);
    EXPECT_EQ(Log(), "load\nDecrypt " + path + " " + std::to_string(path.size()) + " exists\nunload " + path +
                         ".txt.lx exists\n");
}

TEST_F(PluginBinding, EncryptGetsPathAndLengthAndReleaseIsIdempotent) {
    bool loaded = false;
    LoadCapturingOutput(RecorderLibrary, loaded);
    ASSERT_TRUE(loaded);
    const std::string path = (dir_ / "absent.txt.lx").string();
    testing::internal::CaptureStdout();
    RunEncrypt(path);
    testing::internal::GetCapturedStdout();
    ReleasePlugin();
    ReleasePlugin();
    RunEncrypt(path);  // nothing loaded: no call
    EXPECT_EQ(PluginLibrary.handle, nullptr);
    EXPECT_EQ(Log(), "load\nEncrypt " + path + " " + std::to_string(path.size()) + " missing\nunload " +
                         path + " missing\n");
}

}  // namespace
