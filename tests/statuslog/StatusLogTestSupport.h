#pragma once
#include <string>

#include "VorkLogging.h"

namespace statuslogtest {

// Routes the process's debug log at level 9 into a file of the test's own
// directory for the lifetime of the object.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() const;
    bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

private:
    std::string m_fileName;
    VorkSupport::VorkLogging m_log;
};

// The text with every dateTime="..." value replaced by dateTime="D".
std::string maskDate(const std::string& text);

} // namespace statuslogtest
