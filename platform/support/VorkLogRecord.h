#pragma once
#include <sstream>
#include <string>

#include "VorkLogging.h"

namespace VorkSupport {

// Stream-style record builder: VorkLogRecord(4) << "Bundle::execute: x=" << 3;
// The record is written when the builder goes out of scope.
class VorkLogRecord {
public:
    explicit VorkLogRecord(int level) : m_level(level), m_enabled(VorkLogging::enabled(level)) {}
    ~VorkLogRecord() {
        if (m_enabled) VorkLogging::log(m_level, m_stream.str());
    }
    template <typename T>
    VorkLogRecord& operator<<(const T& value) {
        if (m_enabled) m_stream << value;
        return *this;
    }
    VorkLogRecord(const VorkLogRecord&) = delete;
    VorkLogRecord& operator=(const VorkLogRecord&) = delete;

private:
    int m_level;
    bool m_enabled;
    std::ostringstream m_stream;
};

} // namespace VorkSupport

// VORK_LOG(4, "Bundle::execute: package " << name);
#define VORK_LOG(level, expr)                                                                                          \
    do {                                                                                                               \
        if (::VorkSupport::VorkLogging::enabled(level)) {                                                              \
            ::VorkSupport::VorkLogRecord vorkLogRecord_(level);                                                        \
            vorkLogRecord_ << expr;                                                                                    \
        }                                                                                                              \
    } while (0)
