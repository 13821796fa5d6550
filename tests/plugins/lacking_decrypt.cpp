// A test plug-in that exports Encrypt but no Decrypt; it logs "load" and
// "unload" so that a test can see it released again.
#include <cstdint>

#include "plugin_log.h"

namespace {

__attribute__((constructor)) void OnLoad() { LogPluginEvent("load"); }
__attribute__((destructor)) void OnUnload() { LogPluginEvent("unload"); }

}  // namespace

TEST_PLUGIN_EXPORT void Encrypt(const char* path, std::uint64_t length) {
    (void)length;
    LogPluginEvent(path);
}
