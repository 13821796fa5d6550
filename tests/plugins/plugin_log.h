#pragma once
// Shared by the test plug-ins: one line per event, appended to the file named
// by CORVANE_PLUGIN_LOG, or to "plugin-calls.log" in the working directory.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#define TEST_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define TEST_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

inline void LogPluginEvent(const char* text) {
    const char* logName = std::getenv("CORVANE_PLUGIN_LOG");
    std::FILE* log = std::fopen(logName != nullptr ? logName : "plugin-calls.log", "ab");
    if (log != nullptr) {
        std::fprintf(log, "%s\n", text);
        std::fclose(log);
    }
}

inline bool FileExists(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file != nullptr) std::fclose(file);
    return file != nullptr;
}
