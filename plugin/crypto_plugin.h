#pragma once
// The optional sealing plug-in: a dynamic library named "plugin.dll", found
// by the platform layer's lookup (never in the working folder), with the C entry points Encrypt
// and Decrypt, each taking a zero-terminated path and its length, and the
// optional EncryptChecked, which also says whether it sealed. The variable
// CORVANE_PLUGIN=off makes a run behave as if no library were there. This is
// only the binding: loading, calling and releasing. What the library does
// to a file is its own affair (sealer/ holds the one this project ships).
#include <cstdint>
#include <string>

#include "platform/platform.h"

using PluginEntry = void (*)(const char* path, std::uint64_t length);
// 0 when the file was sealed, anything else when it was not.
using CheckedPluginEntry = int (*)(const char* path, std::uint64_t length);

struct LoadedPlugin {
    LibraryHandle handle = nullptr;
    PluginEntry encrypt = nullptr;
    PluginEntry decrypt = nullptr;
    CheckedPluginEntry encryptChecked = nullptr;  // optional
};

extern LoadedPlugin PluginLibrary;
// True only when the library was loaded and both entry points were found.
extern bool pluginActive;

// Loads the library; prints its own message and returns false on failure.
// With CORVANE_PLUGIN set to exactly "off" it loads nothing and prints the
// message of a missing library.
bool LoadPlugin(const std::string& fileName);
// Hands the path to Decrypt, then releases the library. Always true.
bool RunDecrypt(const std::string& path);
// Hands the path to EncryptChecked when the library has it, and gives
// whether it sealed; otherwise to Encrypt, and gives true.
bool RunEncrypt(const std::string& path);
// Releases the library if it is loaded.
void ReleasePlugin();
