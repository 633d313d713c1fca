#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// The data manager's plug-ins, found by name prefix and loaded once per
// process. A handle is the plug-in's position in the load order plus one, so
// it is never 0 and stays valid until the process exits (plug-ins are never
// unloaded).
class ZuaPluginRegistry {
public:
    using SendCmd = char* (*)(int, char**);
    using FreeData = void (*)(void*);

    static ZuaPluginRegistry& instance();

    // The handle of the first plug-in for that prefix, or 0.
    uint64_t find(const std::string& prefix);
    // The exports of a handle; false for 0 or an unknown handle.
    bool exports(uint64_t handle, SendCmd& sendCmd, FreeData& freeData) const;
    // The version note of a handle's library; null when it has none or the
    // handle is unknown. The text lives as long as the registry.
    const char* version(uint64_t handle) const;

    // The directories searched, in order.
    static std::vector<std::string> searchDirectories();

private:
    struct Plugin {
        std::string path;
        void* library = nullptr;
        SendCmd sendCmd = nullptr;
        FreeData freeData = nullptr;
        std::string version;
    };

    ZuaPluginRegistry() = default;
    uint64_t load(const std::string& directory, const std::string& name);

    mutable std::mutex m_mutex;
    std::deque<Plugin> m_plugins; // a deque keeps every version text in place
    std::map<std::string, uint64_t> m_byPrefix;
    std::map<std::string, uint64_t> m_byPath;
};
