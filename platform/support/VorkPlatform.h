#pragma once
#include <string>

namespace VorkSupport {

// The few facts about the running platform that the system's paths use.
class VorkPlatform {
public:
    // The one native separator every built path uses.
    static constexpr char separator = '/';
    static constexpr const char* separatorText = "/";

    // A path is absolute when it begins with the separator.
    static bool isAbsolutePath(const std::string& path);
    // Whether the path names anything (a file, a directory, a device);
    // a link counts by what it names. False for the empty path.
    static bool fileExists(const std::string& path);

    // The "Windows directory": $windir as it stands when set. Otherwise the
    // state directory (/var/lib/plimo for root, $XDG_STATE_HOME/plimo or
    // ~/.local/state/plimo for others); it and its TEMP folder are created on
    // first use with mode 0700.
    static std::string windowsDirectory();

    // $TEMP, else $TMP, else $TMPDIR, else "/tmp".
    static std::string tempDirectory();

    // The user's state directory (without creating it): /var/lib/plimo for
    // root, else $XDG_STATE_HOME/plimo or ~/.local/state/plimo.
    static std::string stateDirectory();
};

} // namespace VorkSupport
