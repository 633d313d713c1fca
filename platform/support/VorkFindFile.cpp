#include "VorkFindFile.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace VorkSupport {

VorkFindFile::VorkFindFile(const std::string& pattern) {
    if (pattern.empty()) return;
    const std::size_t slash = pattern.rfind('/');
    const std::string last = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (last.find_first_of("*?") == std::string::npos) {
        struct stat st {};
        if (::stat(pattern.c_str(), &st) == 0) m_matches.push_back(pattern);
        return;
    }
    const std::string dir = slash == std::string::npos ? std::string(".") : pattern.substr(0, slash == 0 ? 1 : slash);
    const std::string prefix = slash == std::string::npos ? std::string() : pattern.substr(0, slash + 1);
    // Only '*' and '?' are wildcards: brackets and backslashes in a file name
    // stand for themselves.
    std::string glob;
    for (char c : last) {
        if (c == '[' || c == ']' || c == '\\') glob.push_back('\\');
        glob.push_back(c);
    }
    std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), ::closedir);
    if (!handle) return;
    while (struct dirent* entry = ::readdir(handle.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (::fnmatch(glob.c_str(), name.c_str(), FNM_PERIOD) == 0) m_matches.push_back(prefix + name);
    }
    std::sort(m_matches.begin(), m_matches.end());
}

std::string VorkFindFile::next() {
    if (m_next >= m_matches.size()) return std::string();
    return m_matches[m_next++];
}

} // namespace VorkSupport
