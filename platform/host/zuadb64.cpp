#include "zuadb64.h"

#include "ZuaPluginRegistry.h"

extern "C" {

uint64_t ZUDBPluginGetIDByPrefix(const char* prefix) {
    if (!prefix) return 0;
    return ZuaPluginRegistry::instance().find(prefix);
}

char* ZUDBPluginSendCmd(uint64_t plugin, int argc, char** argv) {
    ZuaPluginRegistry::SendCmd sendCmd = nullptr;
    ZuaPluginRegistry::FreeData freeData = nullptr;
    if (argc < 0 || (argc > 0 && !argv)) return nullptr;
    if (!ZuaPluginRegistry::instance().exports(plugin, sendCmd, freeData)) return nullptr;
    return sendCmd(argc, argv);
}

void ZUDBPluginFreeData(uint64_t plugin, void* data) {
    if (!data) return;
    ZuaPluginRegistry::SendCmd sendCmd = nullptr;
    ZuaPluginRegistry::FreeData freeData = nullptr;
    if (!ZuaPluginRegistry::instance().exports(plugin, sendCmd, freeData)) return;
    freeData(data);
}

const char* ZUDBPluginGetVersion(uint64_t plugin) { return ZuaPluginRegistry::instance().version(plugin); }
}
