#include "PackageConsoleLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkWriteAll.h"

using VorkSupport::FileHandle;

FileHandle PackageConsoleLog::open(const std::string& directory, const std::string& releaseID,
                                   const std::string& commandLine) {
    const std::string name = directory + "/" + kFileName;
    struct stat status {};
    if (::lstat(name.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > kRotateSize) {
        if (std::rename(name.c_str(), (name + ".1").c_str()) != 0)
            VORK_LOG(2, "PackageConsoleLog::open: cannot rotate |" << name << "|");
    }
    // O_NONBLOCK: a pipe in the log's place must not hang the start; it is
    // bad input, as is a device.
    FileHandle file(name, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if ((file.isOpen() && (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))) ||
        (!file.isOpen() && errno == ENXIO)) {
        VORK_LOG(1, "PackageConsoleLog::open: |" << name << "| is not a regular file");
        throw VorkSupport::VorkException("PackageConsoleLog::open: " + name + " is not a regular file",
                                         StatusCode::UnknownException);
    }
    if (!file.isOpen()) {
        VORK_LOG(1, "PackageConsoleLog::open: cannot open |" << name << "|; package output is discarded");
        return FileHandle("/dev/null", O_WRONLY);
    }
    // A header that cannot be written costs the log one line, never the run.
    const std::string header = "=== " + releaseID + ": " + commandLine + "\n";
    (void)VorkSupport::VorkWriteAll(file.get(), header.data(), header.size());
    return file;
}

PackageConsoleLog::PackageConsoleLog(const std::string& directory, const std::string& releaseID,
                                     const std::string& commandLine)
    : m_file(open(directory, releaseID, commandLine)), m_sReleaseID(releaseID) {}

void PackageConsoleLog::noteDropped(std::int64_t bytes) const {
    if (bytes <= 0) return;
    const std::string line = "\n=== " + m_sReleaseID + ": at least " + std::to_string(bytes) +
                             " bytes of output past the first " + std::to_string(kOutputLimit) +
                             " bytes were dropped\n";
    // A line that cannot be written costs the log that line, never the run.
    (void)VorkSupport::VorkWriteAll(m_file.get(), line.data(), line.size());
}
