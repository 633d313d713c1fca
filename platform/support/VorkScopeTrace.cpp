#include "VorkScopeTrace.h"

#include "VorkLogRecord.h"

namespace VorkSupport {

namespace {

// The tracer's own words, kept as they stand: tools that follow a run match
// them, and they name no function of their own.
constexpr const char* kEntering = "Entering: ";
constexpr const char* kExiting = "Exiting: ";

} // namespace

VorkScopeTrace::VorkScopeTrace(const char* name) : m_name(name ? name : "") { VORK_LOG(9, kEntering << m_name); }

VorkScopeTrace::~VorkScopeTrace() { VORK_LOG(9, kExiting << m_name); }

} // namespace VorkSupport
