#include "ZuaPluginRegistry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

ZuaPluginRegistry& ZuaPluginRegistry::instance() {
    // Never destroyed: a plug-in answer may be freed during static destruction.
    static auto* registry = new ZuaPluginRegistry;
    return *registry;
}

std::vector<std::string> ZuaPluginRegistry::searchDirectories() {
    std::vector<std::string> dirs;
    if (const char* path = std::getenv("ZUA_PLUGIN_PATH")) {
        std::string list = path;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        return dirs;
    }
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string program(exe, static_cast<std::size_t>(n));
        std::size_t slash = program.rfind('/');
        std::string dir = slash == std::string::npos ? std::string(".") : program.substr(0, slash == 0 ? 1 : slash);
        dirs.push_back(dir);
        dirs.push_back(dir + "/../lib/zua");
    }
    return dirs;
}

uint64_t ZuaPluginRegistry::load(const std::string& directory, const std::string& name) {
    const std::string path = directory + "/lib" + name + ".so";
    char resolved[PATH_MAX];
    const std::string key = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    if (auto it = m_byPath.find(key); it != m_byPath.end()) return it->second;

    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return 0;
    auto sendCmd = reinterpret_cast<SendCmd>(::dlsym(library, (name + "_sendCmd").c_str()));
    auto freeData = reinterpret_cast<FreeData>(::dlsym(library, (name + "_freeData").c_str()));
    if (!sendCmd || !freeData) {
        ::dlclose(library);
        return 0;
    }
    m_plugins.push_back(Plugin{key, library, sendCmd, freeData});
    const uint64_t handle = m_plugins.size();
    m_byPath[key] = handle;
    return handle;
}

uint64_t ZuaPluginRegistry::find(const std::string& prefix) {
    if (prefix.empty()) return 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (auto it = m_byPrefix.find(prefix); it != m_byPrefix.end()) return it->second;
    for (const std::string& directory : searchDirectories()) {
        std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.c_str()), ::closedir);
        if (!dir) continue;
        std::vector<std::string> names;
        while (struct dirent* entry = ::readdir(dir.get())) {
            std::string file = entry->d_name;
            if (file.size() <= 6 || file.compare(0, 3, "lib") != 0 || file.compare(file.size() - 3, 3, ".so") != 0)
                continue;
            std::string name = file.substr(3, file.size() - 6);
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (uint64_t handle = load(directory, name); handle != 0) {
                m_byPrefix[prefix] = handle;
                return handle;
            }
        }
    }
    return 0;
}

bool ZuaPluginRegistry::exports(uint64_t handle, SendCmd& sendCmd, FreeData& freeData) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handle == 0 || handle > m_plugins.size()) return false;
    const Plugin& plugin = m_plugins[handle - 1];
    sendCmd = plugin.sendCmd;
    freeData = plugin.freeData;
    return true;
}
