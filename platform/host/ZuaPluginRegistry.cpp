#include "ZuaPluginRegistry.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "ZuaPluginVersionNote.h"

namespace {

// The directory of a file, without resolving it further.
std::string directoryOf(const std::string& file) {
    const std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    return file.substr(0, slash == 0 ? 1 : slash);
}

// <libdir>/zua, found from the place of this library in <libdir>.
std::string installedPluginDirectory() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&ZuaPluginRegistry::instance), &info) == 0 || !info.dli_fname) return {};
    char resolved[PATH_MAX];
    if (!::realpath(info.dli_fname, resolved)) return {};
    const std::filesystem::path directory = directoryOf(resolved);
    return (directory / ZUA_PLUGIN_DIR_FROM_LIBDIR).lexically_normal().string();
}

std::size_t padded(std::size_t size, std::size_t alignment) { return (size + alignment - 1) / alignment * alignment; }

// The version note among the notes of one segment, or "".
std::string versionIn(const char* notes, std::size_t size, std::size_t alignment) {
    std::size_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) header;
        std::memcpy(&header, notes + offset, sizeof header);
        const std::size_t owner = offset + sizeof header;
        const std::size_t descriptor = owner + padded(header.n_namesz, alignment);
        const std::size_t next = descriptor + padded(header.n_descsz, alignment);
        if (next > size) break;
        if (header.n_type == zua::versionNoteType && header.n_namesz == sizeof zua::versionNoteOwner &&
            std::memcmp(notes + owner, zua::versionNoteOwner, sizeof zua::versionNoteOwner) == 0) {
            return std::string(notes + descriptor, ::strnlen(notes + descriptor, header.n_descsz));
        }
        offset = next;
    }
    return {};
}

struct NoteSearch {
    const struct link_map* library;
    std::string version;
};

int searchNotes(struct dl_phdr_info* info, std::size_t, void* data) {
    auto* search = static_cast<NoteSearch*>(data);
    if (info->dlpi_addr != search->library->l_addr || !info->dlpi_name ||
        std::strcmp(info->dlpi_name, search->library->l_name) != 0)
        return 0;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum && search->version.empty(); ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE) continue;
        const char* notes = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
        search->version = versionIn(notes, segment.p_memsz, segment.p_align == 8 ? 8 : 4);
    }
    return 1;
}

// The version that a loaded library's note names, or "".
std::string versionOf(void* library) {
    struct link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map) return {};
    NoteSearch search{map, {}};
    ::dl_iterate_phdr(searchNotes, &search);
    return search.version;
}

} // namespace

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
    if (n > 0) dirs.push_back(directoryOf(std::string(exe, static_cast<std::size_t>(n))));
    if (std::string installed = installedPluginDirectory(); !installed.empty()) dirs.push_back(installed);
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
    m_plugins.push_back(Plugin{key, library, sendCmd, freeData, versionOf(library)});
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

const char* ZuaPluginRegistry::version(uint64_t handle) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (handle == 0 || handle > m_plugins.size()) return nullptr;
    const std::string& text = m_plugins[handle - 1].version;
    return text.empty() ? nullptr : text.c_str();
}
