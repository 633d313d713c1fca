#pragma once
#include <string>

#include "FileHandle.h"

namespace VorkSupport {

// A block inhibitor lock of the login manager against shutdown and sleep,
// held from construction until release() or destruction. While it is held,
// an operator's reboot or a suspend waits (or is refused) instead of cutting
// a running package short.
class VorkShutdownInhibitor {
public:
    // Holds nothing.
    VorkShutdownInhibitor() = default;
    // Asks for the lock "shutdown:sleep" in mode "block" for who and why.
    // held() tells whether it was given; failure() says why not.
    VorkShutdownInhibitor(const std::string& who, const std::string& why);
    ~VorkShutdownInhibitor();

    VorkShutdownInhibitor(VorkShutdownInhibitor&& other) noexcept = default;
    VorkShutdownInhibitor& operator=(VorkShutdownInhibitor&& other) noexcept = default;
    VorkShutdownInhibitor(const VorkShutdownInhibitor&) = delete;
    VorkShutdownInhibitor& operator=(const VorkShutdownInhibitor&) = delete;

    bool held() const { return m_inhibitor.isOpen(); }
    const std::string& failure() const { return m_sFailure; }
    // Gives the lock back; nothing happens when none is held.
    void release();

private:
    // The login manager holds the lock while this descriptor is open.
    FileHandle m_inhibitor;
    std::string m_sFailure;
};

} // namespace VorkSupport
