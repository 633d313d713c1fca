#pragma once
#include <optional>
#include <string>

namespace VorkSupport {

// The identifier the kernel gives each boot of the machine
// (/proc/sys/kernel/random/boot_id): it changes with every restart and
// with nothing else, so it tells whether a restart has happened since it
// was read.
class VorkBootId {
public:
    // The boot id of this boot, lower case; none when it cannot be read or
    // is not one.
    static std::optional<std::string> current();
    // Whether text has the form of a boot id (8-4-4-4-12 hexadecimal digits).
    static bool wellFormed(const std::string& text);
};

} // namespace VorkSupport
