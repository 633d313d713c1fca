#include "VorkShutdownInhibitor.h"

#include <unistd.h>

#include <utility>

#include "VorkLoginManager.h"

namespace VorkSupport {

VorkShutdownInhibitor::VorkShutdownInhibitor(const std::string& who, const std::string& why) {
    VorkLoginManager logind;
    m_nFd = logind.inhibit("shutdown:sleep", who, why, "block");
    if (m_nFd < 0) m_sFailure = logind.error();
}

VorkShutdownInhibitor::~VorkShutdownInhibitor() { release(); }

VorkShutdownInhibitor::VorkShutdownInhibitor(VorkShutdownInhibitor&& other) noexcept
    : m_nFd(std::exchange(other.m_nFd, -1)), m_sFailure(std::move(other.m_sFailure)) {}

VorkShutdownInhibitor& VorkShutdownInhibitor::operator=(VorkShutdownInhibitor&& other) noexcept {
    if (this != &other) {
        release();
        m_nFd = std::exchange(other.m_nFd, -1);
        m_sFailure = std::move(other.m_sFailure);
    }
    return *this;
}

void VorkShutdownInhibitor::release() {
    if (m_nFd >= 0) ::close(std::exchange(m_nFd, -1));
}

} // namespace VorkSupport
