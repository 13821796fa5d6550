#pragma once
// The optional sealing plug-in: a dynamic library named "plugin.dll", found
// by the platform's usual library search, with the C entry points Encrypt
// and Decrypt, each taking a zero-terminated path and its length. This is
// only the binding: loading, calling and releasing. What the library does
// to a file is its own affair (sealer/ holds the one this project ships).
#include <cstdint>
#include <string>

#include "platform/platform.h"

using PluginEntry = void (*)(const char* path, std::uint64_t length);

struct LoadedPlugin {
    LibraryHandle handle = nullptr;
    PluginEntry encrypt = nullptr;
    PluginEntry decrypt = nullptr;
};

extern LoadedPlugin PluginLibrary;
// True only when the library was loaded and both entry points were found.
extern bool pluginActive;

// Loads the library; prints its own message and returns false on failure.
bool LoadPlugin(const std::string& fileName);
// Hands the path to Decrypt, then releases the library. Always true.
bool RunDecrypt(const std::string& path);
// Hands the path to Encrypt.
void RunEncrypt(const std::string& path);
// Releases the library if it is loaded.
void ReleasePlugin();
