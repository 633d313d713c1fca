#include "VorkShutdownInhibitor.h"

#include "VorkLoginManager.h"

namespace VorkSupport {

VorkShutdownInhibitor::VorkShutdownInhibitor(const std::string& who, const std::string& why) {
    VorkLoginManager logind;
    m_inhibitor.reset(logind.inhibit("shutdown:sleep", who, why, "block"));
    if (!m_inhibitor.isOpen()) m_sFailure = logind.error();
}

VorkShutdownInhibitor::~VorkShutdownInhibitor() = default;

void VorkShutdownInhibitor::release() { m_inhibitor.reset(); }

} // namespace VorkSupport
