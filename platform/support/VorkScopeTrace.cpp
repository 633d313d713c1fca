#include "VorkScopeTrace.h"

#include "VorkLogRecord.h"

namespace VorkSupport {

VorkScopeTrace::VorkScopeTrace(const char* name) : m_name(name ? name : "") {
    VORK_LOG(9, "Entering: " << m_name);
}

VorkScopeTrace::~VorkScopeTrace() {
    VORK_LOG(9, "Exiting: " << m_name);
}

} // namespace VorkSupport
