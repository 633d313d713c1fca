#include "VorkFaultSeamModel.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace VorkSupport {

namespace {

constexpr std::size_t kSector = 512;

struct File {
    // The content at its last flush ("" for a file created since start()).
    std::string synced;
    // Named in some modelled directory now; otherwise last holds what it
    // held when it lost its name.
    bool named = true;
    std::string last;
    dev_t device = 0;
    ino_t inode = 0;
    std::string directory;
    std::string name;
};

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

struct Model {
    std::mutex mutex;
    std::vector<std::string> directories;
    std::vector<File> files;
    std::map<std::string, std::map<std::string, std::size_t>> current;
    std::map<std::string, std::map<std::string, std::size_t>> synced;
    std::map<int, std::size_t> descriptors;
};

std::atomic<bool> g_modelling{false};
std::atomic<VorkFaultSeamModel::StepHook> g_stepHook{nullptr};

Model& model() {
    static Model instance;
    return instance;
}

// Plain reads: nothing here may pass through the seam again.
bool readWhole(const std::string& path, std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes.clear();
    char block[65536];
    ssize_t count = 0;
    while ((count = ::read(fd, block, sizeof block)) > 0) bytes.append(block, static_cast<std::size_t>(count));
    ::close(fd);
    return count == 0;
}

std::string canonical(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    return resolved ? std::string(resolved.get()) : path;
}

std::string pathOfDescriptor(int fd) {
    char target[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// The directory and base name that name (relative to directory) stands for.
void locate(int directory, const std::string& name, std::string& folder, std::string& base) {
    std::string full = name;
    if (name.empty() || name[0] != '/') {
        std::string start;
        if (directory == AT_FDCWD) {
            char cwd[PATH_MAX];
            start = ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string(".");
        } else {
            start = pathOfDescriptor(directory);
        }
        full = start + "/" + name;
    }
    const std::string::size_type slash = full.find_last_of('/');
    folder = canonical(slash == 0 ? std::string("/") : full.substr(0, slash));
    base = full.substr(slash + 1);
}

bool modelled(const Model& m, const std::string& folder) {
    return std::find(m.directories.begin(), m.directories.end(), folder) != m.directories.end();
}

std::size_t addFile(Model& m, const std::string& folder, const std::string& base, std::string synced) {
    File file;
    file.synced = std::move(synced);
    file.directory = folder;
    file.name = base;
    struct stat status {};
    if (::stat((folder + "/" + base).c_str(), &status) == 0) {
        file.device = status.st_dev;
        file.inode = status.st_ino;
    }
    m.files.push_back(std::move(file));
    return m.files.size() - 1;
}

// The file an open descriptor stands for, or files.size() for none.
std::size_t fileOf(Model& m, int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return m.files.size();
    const auto known = m.descriptors.find(fd);
    if (known != m.descriptors.end() && m.files[known->second].inode == status.st_ino &&
        m.files[known->second].device == status.st_dev)
        return known->second;
    for (std::size_t i = m.files.size(); i-- > 0;)
        if (m.files[i].inode == status.st_ino && m.files[i].device == status.st_dev) return i;
    return m.files.size();
}

std::string currentContent(const File& file) {
    if (!file.named) return file.last;
    std::string bytes;
    return readWhole(file.directory + "/" + file.name, bytes) ? bytes : file.last;
}

// The unflushed part cut at the last sector boundary before its end.
std::string torn(const std::string& now, const std::string& flushed) {
    if (now.size() <= flushed.size()) return now;
    const std::size_t cut = std::max(flushed.size(), (now.size() - 1) / kSector * kSector);
    return now.substr(0, cut);
}

std::string zeroed(const std::string& now, const std::string& flushed) {
    std::string bytes = now;
    for (std::size_t i = flushed.size(); i < bytes.size(); ++i) bytes[i] = '\0';
    return bytes;
}

} // namespace

void VorkFaultSeamModel::start(const std::vector<std::string>& directories) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.directories.clear();
    m.files.clear();
    m.current.clear();
    m.synced.clear();
    m.descriptors.clear();
    for (const std::string& directory : directories) {
        const std::string folder = canonical(directory);
        m.directories.push_back(folder);
        std::unique_ptr<DIR, DirectoryCloser> listing(::opendir(folder.c_str()));
        while (listing) {
            const dirent* entry = ::readdir(listing.get());
            if (entry == nullptr) break;
            struct stat status {};
            const std::string path = folder + "/" + entry->d_name;
            if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
            std::string bytes;
            if (!readWhole(path, bytes)) continue;
            m.current[folder][entry->d_name] = addFile(m, folder, entry->d_name, bytes);
        }
        m.synced[folder] = m.current[folder];
    }
    g_modelling = true;
}

void VorkFaultSeamModel::stop() {
    g_modelling = false;
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    m.directories.clear();
    m.files.clear();
    m.current.clear();
    m.synced.clear();
    m.descriptors.clear();
}

bool VorkFaultSeamModel::modelling() { return g_modelling.load(std::memory_order_relaxed); }

void VorkFaultSeamModel::setStepHook(StepHook hook) { g_stepHook.store(hook); }

void VorkFaultSeamModel::step(const char* what, int fd) {
    if (const StepHook hook = g_stepHook.load()) hook(what, fd);
}

void VorkFaultSeamModel::created(int fd, int directory, const std::string& name, int flags) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    std::string folder;
    std::string base;
    locate(directory, name, folder, base);
    if (!modelled(m, folder)) return;
    auto& names = m.current[folder];
    const auto existing = names.find(base);
    std::size_t id = 0;
    if (existing != names.end() && (flags & O_EXCL) == 0) {
        id = existing->second;
    } else {
        id = addFile(m, folder, base, std::string());
        names[base] = id;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        m.files[id].device = status.st_dev;
        m.files[id].inode = status.st_ino;
    }
    m.descriptors[fd] = id;
}

void VorkFaultSeamModel::synced(int fd) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    struct stat status {};
    if (::fstat(fd, &status) != 0) return;
    if (S_ISDIR(status.st_mode)) {
        const std::string folder = canonical(pathOfDescriptor(fd));
        if (modelled(m, folder)) m.synced[folder] = m.current[folder];
        return;
    }
    const std::size_t id = fileOf(m, fd);
    if (id == m.files.size()) return;
    std::string bytes;
    if (readWhole("/proc/self/fd/" + std::to_string(fd), bytes)) m.files[id].synced = std::move(bytes);
}

VorkFaultSeamModel::Replaced VorkFaultSeamModel::beforeReplace(int directory, const std::string& name) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    Replaced replaced;
    std::string folder;
    std::string base;
    locate(directory, name, folder, base);
    if (!modelled(m, folder) || m.current[folder].count(base) == 0) return replaced;
    replaced.present = readWhole(folder + "/" + base, replaced.content);
    return replaced;
}

void VorkFaultSeamModel::renamed(int fromDirectory, const std::string& from, int toDirectory, const std::string& to,
                                 const Replaced& replaced) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    std::string fromFolder;
    std::string fromBase;
    std::string toFolder;
    std::string toBase;
    locate(fromDirectory, from, fromFolder, fromBase);
    locate(toDirectory, to, toFolder, toBase);
    const bool fromModelled = modelled(m, fromFolder);
    const bool toModelled = modelled(m, toFolder);
    if (!fromModelled && !toModelled) return;
    std::size_t id = m.files.size();
    if (fromModelled) {
        auto& names = m.current[fromFolder];
        const auto known = names.find(fromBase);
        if (known != names.end()) {
            id = known->second;
            names.erase(known);
        }
    }
    if (id == m.files.size()) id = addFile(m, toFolder, toBase, std::string());
    if (!toModelled) {
        File& file = m.files[id];
        readWhole(toFolder + "/" + toBase, file.last);
        file.named = false;
        return;
    }
    auto& names = m.current[toFolder];
    const auto old = names.find(toBase);
    if (old != names.end() && old->second != id) {
        File& gone = m.files[old->second];
        gone.named = false;
        gone.last = replaced.content;
    }
    names[toBase] = id;
    File& file = m.files[id];
    file.directory = toFolder;
    file.name = toBase;
    file.named = true;
}

void VorkFaultSeamModel::removed(int directory, const std::string& name, const Replaced& content) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    std::string folder;
    std::string base;
    locate(directory, name, folder, base);
    if (!modelled(m, folder)) return;
    auto& names = m.current[folder];
    const auto known = names.find(base);
    if (known == names.end()) return;
    File& file = m.files[known->second];
    file.named = false;
    file.last = content.content;
    names.erase(known);
}

VorkFaultSeamModel::State VorkFaultSeamModel::cut(Names names, Data data) {
    Model& m = model();
    std::lock_guard<std::mutex> lock(m.mutex);
    State state;
    const auto& namespaces = names == Names::Current ? m.current : m.synced;
    for (const std::string& folder : m.directories) {
        auto& files = state[folder];
        const auto listing = namespaces.find(folder);
        if (listing == namespaces.end()) continue;
        for (const auto& [base, id] : listing->second) {
            const File& file = m.files[id];
            switch (data) {
                case Data::Current: files[base] = currentContent(file); break;
                case Data::Synced: files[base] = file.synced; break;
                case Data::Torn: files[base] = torn(currentContent(file), file.synced); break;
                case Data::Zeroed: files[base] = zeroed(currentContent(file), file.synced); break;
            }
        }
    }
    return state;
}

} // namespace VorkSupport
