#pragma once
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace VorkCommon {

// The user's home directory: HOME, else the password database's entry for
// the effective user, else /tmp.
inline std::string homeDirectory() {
    const char* value = std::getenv("HOME");
    std::string home = value ? value : "";
    if (home.empty()) {
        struct passwd* pw = ::getpwuid(::geteuid());
        if (pw && pw->pw_dir) home = pw->pw_dir;
    }
    if (home.empty()) home = "/tmp";
    return home;
}

// Where a user's programs keep state: XDG_STATE_HOME when it is an absolute
// path, else ~/.local/state.
inline std::string stateHome() {
    const char* value = std::getenv("XDG_STATE_HOME");
    const std::string base = value ? value : "";
    if (!base.empty() && base[0] == '/') return base;
    return homeDirectory() + "/.local/state";
}

} // namespace VorkCommon
