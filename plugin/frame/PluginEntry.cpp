// The plug-in's only visible symbols: the two entry points that the host's
// data manager finds by name. The library's version travels in a note of
// its file, where the data manager reads it.
#include "PluginDispatch.h"
#include "ZuaPluginVersionNote.h"

ZUA_PLUGIN_VERSION_NOTE(PLIMO_VERSION);

extern "C" {

__attribute__((visibility("default"))) char* plimo64_sendCmd(int argc, char** argv) {
    return PluginDispatch::sendCmd(argc, argv);
}

__attribute__((visibility("default"))) void plimo64_freeData(void* data) { PluginDispatch::freeData(data); }
}
