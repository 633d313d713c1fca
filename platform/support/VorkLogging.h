#pragma once
#include <atomic>
#include <mutex>
#include <sstream>
#include <string>

#include "FileHandle.h"

namespace VorkSupport {

// The process-wide debug log.
//  - target bit 0 (1): append to the file; bit 1 (2): write to standard error.
//  - A record is one line: "YYYY-MM-DD HH:MM:SS.mmm [L] text" (UTC); newlines
//    inside the text are kept. Each record is written with a single write, so
//    records from two threads never interleave.
//  - A level-n record is written only when the log's level is n or more.
//  - setInstance(nullptr) is allowed and stops all logging: isAccessAllowed()
//    is then false and no record reaches a deleted log. setInstance does not
//    take ownership.
class VorkLogging {
public:
    VorkLogging(const std::string& fileName, int target, int level);
    ~VorkLogging();

    static VorkLogging* getInstance();
    static void setInstance(VorkLogging* instance);
    // True when there is an instance to write to.
    static bool isAccessAllowed();

    int getLogLevel() const { return m_level; }
    int getTarget() const { return m_target; }
    const std::string& getFileName() const { return m_fileName; }

    // Writes one whole record at the given level (if the level admits it).
    void write(int level, const std::string& text);

    // Convenience for callers: writes through the current instance, if any.
    static void log(int level, const std::string& text);
    // True when a level-n record would be written now (cheap pre-check).
    static bool enabled(int level);

    VorkLogging(const VorkLogging&) = delete;
    VorkLogging& operator=(const VorkLogging&) = delete;

private:
    std::string m_fileName;
    int m_target;
    int m_level;
    FileHandle m_file;
    std::mutex m_mutex;
};

} // namespace VorkSupport
