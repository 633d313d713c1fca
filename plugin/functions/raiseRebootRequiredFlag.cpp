#include "raiseRebootRequiredFlag.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FileHandle.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkWriteAll.h"

using VorkSupport::FileHandle;

namespace {

const char* const kDefaultFlagFile = "/run/reboot-required";
const char* const kPackageLine = "plimo";

// Opens a file for appending; a file it creates gets mode 0644 whatever the
// umask. A symbolic link is not followed. -1 when it cannot be opened.
int openForAppend(const std::string& name) {
    const int created = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (created >= 0) {
        ::fchmod(created, 0644);
        return created;
    }
    if (errno != EEXIST) return -1;
    return ::open(name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
}

// The whole text of a file; "" when it cannot be read.
std::string readText(const std::string& name) {
    FileHandle file(name, O_RDONLY | O_NOFOLLOW);
    std::string text;
    char buffer[4096];
    ssize_t count;
    while (file.isOpen() && (count = file.read(buffer, sizeof buffer)) > 0) text.append(buffer, count);
    return text;
}

bool holdsLine(const std::string& text, const std::string& line) {
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, end - start, line) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Writes the flag and the package line; "" when both are there, else the
// name of the file that cannot be written (errno tells why).
std::string writeFlag(const std::string& flagFile, const std::string& packagesFile) {
    if (!FileHandle(openForAppend(flagFile)).isOpen()) return flagFile;
    const std::string listed = readText(packagesFile);
    if (holdsLine(listed, kPackageLine)) return std::string();
    FileHandle packages(openForAppend(packagesFile));
    // A list whose last line lacks its end keeps that line whole.
    const std::string line = (listed.empty() || listed.back() == '\n' ? "" : "\n") + std::string(kPackageLine) + "\n";
    if (!packages.isOpen() || !VorkSupport::VorkWriteAll(packages.get(), line.data(), line.size()) ||
        !packages.close()) {
        return packagesFile;
    }
    return std::string();
}

} // namespace

bool raiseRebootRequiredFlag() {
    VORK_TRACE("raiseRebootRequiredFlag");
    const char* named = std::getenv("PLIMO_REBOOT_REQUIRED_FILE");
    const std::string flagFile = named != nullptr && *named != '\0' ? named : kDefaultFlagFile;
    const std::string packagesFile = flagFile + ".pkgs";
    VORK_LOG(3, "raiseRebootRequiredFlag: a restart is required: |" << flagFile << "|");

    const std::string failed = writeFlag(flagFile, packagesFile);
    if (failed.empty()) return true;
    VORK_LOG(1, "raiseRebootRequiredFlag: cannot write |" << failed << "|: " << std::strerror(errno));
    return false;
}
