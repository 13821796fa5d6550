#include "plugin/crypto_plugin.h"

#include <iostream>

LoadedPlugin PluginLibrary;
bool pluginActive = false;

namespace {

PluginEntry FindPluginEntry(LibraryHandle library, const char* name) {
    return reinterpret_cast<PluginEntry>(FindEntryPoint(library, name));
}

}  // namespace

bool LoadPlugin(const std::string& fileName) {
    LibraryHandle library = OpenLibrary(fileName);
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
    PluginLibrary = LoadedPlugin{library, encrypt, decrypt};
    return true;
}

bool RunDecrypt(const std::string& path) {
    if (PluginLibrary.decrypt != nullptr) PluginLibrary.decrypt(path.c_str(), path.size());
    ReleasePlugin();
    return true;
}

void RunEncrypt(const std::string& path) {
    if (PluginLibrary.encrypt != nullptr) PluginLibrary.encrypt(path.c_str(), path.size());
}

void ReleasePlugin() {
    if (PluginLibrary.handle != nullptr) CloseLibrary(PluginLibrary.handle);
    PluginLibrary = LoadedPlugin{};
}
