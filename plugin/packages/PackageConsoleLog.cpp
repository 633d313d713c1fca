#include "PackageConsoleLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "VorkLogRecord.h"
#include "VorkWriteAll.h"

namespace {

// The descriptor of the console log with the package's header line written,
// else of /dev/null.
int openConsoleLog(const std::string& directory, const std::string& releaseID, const std::string& commandLine) {
    const std::string name = directory + "/" + PackageConsoleLog::kFileName;
    struct stat status {};
    if (::lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        status.st_size > PackageConsoleLog::kRotateSize) {
        if (std::rename(name.c_str(), (name + ".1").c_str()) != 0)
            VORK_LOG(2, "PackageConsoleLog::PackageConsoleLog: cannot rotate |" << name << "|");
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        VORK_LOG(1, "PackageConsoleLog::PackageConsoleLog: cannot open |" << name << "|; package output is discarded");
        return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    const std::string header = "=== " + releaseID + ": " + commandLine + "\n";
    (void)VorkSupport::VorkWriteAll(fd, header.data(), header.size());
    return fd;
}

} // namespace

PackageConsoleLog::PackageConsoleLog(const std::string& directory, const std::string& releaseID,
                                     const std::string& commandLine)
    : m_file(openConsoleLog(directory, releaseID, commandLine)) {}
