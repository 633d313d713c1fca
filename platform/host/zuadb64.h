#pragma once
#include <cstdint>

// The host's data manager: finds plug-ins and passes command vectors to them.
//
// A plug-in is a library lib<name>.so whose name begins with the prefix asked
// for and that exports <name>_sendCmd and <name>_freeData. Directories
// searched, in order: each entry of $ZUA_PLUGIN_PATH (colon-separated) when
// set; otherwise the running program's own directory, then the plug-in
// directory <libdir>/zua of the installed layout, found from where this
// library lies (so a moved or unpacked tree still finds its plug-ins).
// Within a directory, names are tried in ascending byte order. A library
// that cannot be loaded or lacks either export is passed over. Loaded
// plug-ins stay loaded until the process exits.
extern "C" {

// A non-zero handle of the first plug-in found for that prefix, or 0.
__attribute__((visibility("default"))) uint64_t ZUDBPluginGetIDByPrefix(const char* prefix);

// Passes the command vector to the plug-in; its answer (or null).
__attribute__((visibility("default"))) char* ZUDBPluginSendCmd(uint64_t plugin, int argc, char** argv);

// Hands an answer back to the plug-in that made it.
__attribute__((visibility("default"))) void ZUDBPluginFreeData(uint64_t plugin, void* data);

// The version that the plug-in's library names (ZuaPluginVersionNote.h), or
// null when it names none or the handle is unknown. The text stays valid
// until the process exits.
__attribute__((visibility("default"))) const char* ZUDBPluginGetVersion(uint64_t plugin);
}
