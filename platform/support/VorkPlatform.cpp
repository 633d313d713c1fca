#include "VorkPlatform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "StateHome.h"

namespace VorkSupport {

namespace {

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Creates the directory and any missing parents with the given mode.
void makeDirectories(const std::string& path, mode_t mode) {
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return;
    }
}

} // namespace

bool VorkPlatform::isAbsolutePath(const std::string& path) { return !path.empty() && path[0] == separator; }

bool VorkPlatform::fileExists(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0;
}

std::string VorkPlatform::stateDirectory() {
    if (::geteuid() == 0) return "/var/lib/plimo";
    std::string base = VorkCommon::stateHome();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + "/plimo";
}

std::string VorkPlatform::windowsDirectory() {
    const char* windir = std::getenv("windir");
    if (windir) return windir;
    const std::string state = stateDirectory();
    makeDirectories(state, 0700);
    ::mkdir((state + separatorText + "TEMP").c_str(), 0700);
    return state;
}

std::string VorkPlatform::tempDirectory() {
    for (const char* name : {"TEMP", "TMP", "TMPDIR"}) {
        std::string value = envValue(name);
        if (!value.empty()) return value;
    }
    return "/tmp";
}

} // namespace VorkSupport
