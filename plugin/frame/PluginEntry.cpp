// The plug-in's only visible symbols: the two entry points that the host's
// data manager finds by name.
#include "PluginDispatch.h"

extern "C" {

__attribute__((visibility("default"))) char* plimo64_sendCmd(int argc, char** argv) {
    return PluginDispatch::sendCmd(argc, argv);
}

__attribute__((visibility("default"))) void plimo64_freeData(void* data) { PluginDispatch::freeData(data); }
}
