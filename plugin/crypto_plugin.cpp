#include "plugin/crypto_plugin.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

LoadedPlugin PluginLibrary;
bool pluginActive = false;

namespace {

PluginEntry FindPluginEntry(LibraryHandle library, const char* name) {
    return reinterpret_cast<PluginEntry>(FindEntryPoint(library, name));
}

// The one switch of the environment: exactly "off", nothing else.
bool PluginSwitchedOff() {
    const char* setting = std::getenv("CORVANE_PLUGIN");
    return setting != nullptr && std::strcmp(setting, "off") == 0;
}

}  // namespace

bool LoadPlugin(const std::string& fileName) {
    LibraryHandle library = PluginSwitchedOff() ? nullptr : OpenLibrary(fileName);
    if (library == nullptr) {
        std::cout << "error: cannot find lockfern.dll\n";
        return false;
    }
    PluginEntry encrypt = FindPluginEntry(library, "Encrypt");
    PluginEntry decrypt = FindPluginEntry(library, "Decrypt");
    if (encrypt == nullptr || decrypt == nullptr) {
        std::cout << "error: function not found\n";
        CloseLibrary(library);
        return false;
    }
    auto encryptChecked = reinterpret_cast<CheckedPluginEntry>(FindEntryPoint(library, "EncryptChecked"));
    PluginLibrary = LoadedPlugin{library, encrypt, decrypt, encryptChecked};
    return true;
}

bool RunDecrypt(const std::string& path) {
    if (PluginLibrary.decrypt != nullptr) PluginLibrary.decrypt(path.c_str(), path.size());
    ReleasePlugin();
    return true;
}

bool RunEncrypt(const std::string& path) {
    if (PluginLibrary.encryptChecked != nullptr)
        return PluginLibrary.encryptChecked(path.c_str(), path.size()) == 0;
    if (PluginLibrary.encrypt != nullptr) PluginLibrary.encrypt(path.c_str(), path.size());
    return true;
}

void ReleasePlugin() {
    if (PluginLibrary.handle != nullptr) CloseLibrary(PluginLibrary.handle);
    PluginLibrary = LoadedPlugin{};
}
