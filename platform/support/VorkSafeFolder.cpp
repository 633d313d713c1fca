#include "VorkSafeFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace VorkSupport {

namespace {

std::string problemOf(const std::string& folder, bool stickyFolder, bool resolved) {
    if (folder.empty() || folder[0] != '/') return "|" + folder + "| is not an absolute path";
    const uid_t caller = ::geteuid();
    // The root folder, then each element of the way, the folder last.
    std::vector<std::string> elements{"/"};
    for (std::string::size_type end = 1; end <= folder.size(); ++end) {
        if (end < folder.size() && folder[end] != '/') continue;
        if (folder[end - 1] != '/') elements.push_back(folder.substr(0, end));
    }
    bool linked = false;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        const std::string& element = elements[i];
        const bool last = i + 1 == elements.size();
        struct stat status {};
        if (::lstat(element.c_str(), &status) != 0)
            return "|" + element + "| cannot be examined: " + std::strerror(errno);
        if (status.st_uid != 0 && status.st_uid != caller)
            return "|" + element + "| belongs to uid " + std::to_string(status.st_uid);
        if (S_ISLNK(status.st_mode)) {
            linked = true;
        } else if (!S_ISDIR(status.st_mode)) {
            return "|" + element + "| is not a folder";
        } else if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
                   ((status.st_mode & S_ISVTX) == 0 || (last && !stickyFolder))) {
            return "|" + element + "| may be written by other users";
        }
    }
    if (!linked) return std::string();
    // Where the links lead is checked as well, once: a resolved path holds
    // no link unless one was put there meanwhile.
    const std::unique_ptr<char, decltype(&std::free)> target(::realpath(folder.c_str(), nullptr), &std::free);
    if (!target) return "|" + folder + "| cannot be resolved: " + std::strerror(errno);
    if (resolved) return "|" + folder + "| changed while it was examined";
    return problemOf(target.get(), stickyFolder, true);
}

} // namespace

std::string VorkSafeFolder::problem(const std::string& folder, bool stickyFolder) {
    return problemOf(folder, stickyFolder, false);
}

} // namespace VorkSupport
