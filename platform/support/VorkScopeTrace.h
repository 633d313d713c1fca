#pragma once

namespace VorkSupport {

// Scope tracer: writes "Entering: <name>" on construction and
// "Exiting: <name>" on destruction (exceptions included), both at level 9.
class VorkScopeTrace {
public:
    explicit VorkScopeTrace(const char* name);
    ~VorkScopeTrace();
    VorkScopeTrace(const VorkScopeTrace&) = delete;
    VorkScopeTrace& operator=(const VorkScopeTrace&) = delete;

private:
    const char* m_name;
};

} // namespace VorkSupport

#define VORK_TRACE_CAT2(a, b) a##b
#define VORK_TRACE_CAT(a, b) VORK_TRACE_CAT2(a, b)
// VORK_TRACE("Bundle::execute");
#define VORK_TRACE(name) ::VorkSupport::VorkScopeTrace VORK_TRACE_CAT(vorkTrace_, __LINE__)(name)
