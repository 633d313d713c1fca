#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "FileHandle.h"

// The file that receives what package programs write to their standard
// output and error: PackageConsole.log in the folder of the package output
// log, mode 0600. Each package's output is preceded by one header line with
// its release id and command line. A file that has grown past kRotateSize
// when a package starts becomes PackageConsole.log.1 (replacing an older
// one) and a new file begins. Of one package's output the first
// kOutputLimit bytes are kept; what follows is dropped, and a line says how
// much. Package output never reaches the caller's own
// streams: when the file cannot be opened the output goes to /dev/null. A
// pipe or device in its place raises VorkException 3079 (nothing starts).
class PackageConsoleLog {
public:
    static constexpr off_t kRotateSize = 16 * 1024 * 1024;
    // What one package's programs may write; more is dropped.
    static constexpr std::int64_t kOutputLimit = 64 * 1024 * 1024;
    static constexpr const char* kFileName = "PackageConsole.log";

    // Opens the log in directory for the package about to start.
    PackageConsoleLog(const std::string& directory, const std::string& releaseID, const std::string& commandLine);
    PackageConsoleLog(const PackageConsoleLog&) = delete;
    PackageConsoleLog& operator=(const PackageConsoleLog&) = delete;

    // The descriptor the package's standard output and error go to.
    int fd() const { return m_file.get(); }
    // Tells in one line that bytes of the package's output past
    // kOutputLimit were dropped.
    void noteDropped(std::int64_t bytes) const;

private:
    // The log with the package's header line written, else /dev/null.
    static VorkSupport::FileHandle open(const std::string& directory, const std::string& releaseID,
                                        const std::string& commandLine);

    VorkSupport::FileHandle m_file;
    std::string m_sReleaseID;
};
