#include "VorkBootId.h"

#include <fcntl.h>

#include <cctype>

#include "FileHandle.h"

namespace VorkSupport {

std::optional<std::string> VorkBootId::current() {
    FileHandle file("/proc/sys/kernel/random/boot_id", O_RDONLY | O_NOFOLLOW);
    if (!file.isOpen()) return std::nullopt;
    char buffer[64];
    const ssize_t got = file.read(buffer, sizeof buffer);
    if (got <= 0) return std::nullopt;
    std::string text(buffer, static_cast<std::size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!wellFormed(text)) return std::nullopt;
    return text;
}

bool VorkBootId::wellFormed(const std::string& text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

} // namespace VorkSupport
