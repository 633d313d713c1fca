#include "VorkRemoveDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace VorkSupport {

namespace {

// Empties the directory open as dirFd (which this function closes). Entries
// are examined without following links: a link is removed as a link, and a
// subdirectory is opened with O_NOFOLLOW so a link swapped in meanwhile is
// never entered. Returns false when something stayed.
bool emptyDirectory(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    bool ok = true;
    while (true) {
        errno = 0;
        struct dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) ok = false;
            break;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        struct stat st {};
        if (::fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int child = ::openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0 || !emptyDirectory(child)) ok = false;
            if (::unlinkat(dirfd(dir), name, AT_REMOVEDIR) != 0 && errno != ENOENT) ok = false;
        } else if (::unlinkat(dirfd(dir), name, 0) != 0 && errno != ENOENT) {
            ok = false;
        }
    }
    ::closedir(dir);
    return ok;
}

} // namespace

void VorkRemoveDirectory(const std::string& givenPath, bool recursive) {
    VORK_TRACE("VorkRemoveDirectory");
    // "dir/" would make the system resolve a link named dir: work on the name itself.
    std::string path = givenPath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "/") throw VorkException("VorkRemoveDirectory: |/| is never removed");
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        throw VorkException("VorkRemoveDirectory: |" + path + "| does not exist");
    }
    if (!S_ISDIR(st.st_mode)) {
        // A link to a directory is not the directory: never reach through it.
        throw VorkException("VorkRemoveDirectory: |" + path + "| is not a directory");
    }
    bool ok = true;
    if (recursive) {
        int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = fd >= 0 && emptyDirectory(fd);
    }
    if (::rmdir(path.c_str()) != 0) ok = false;
    if (!ok) {
        VORK_LOG(1, "VorkRemoveDirectory: |" << path << "| could not be removed completely");
        throw VorkException("VorkRemoveDirectory: |" + path + "| could not be removed completely");
    }
}

} // namespace VorkSupport
