#include "MemoryOsSpecific.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "AccessError.h"
#include "NotImplemented.h"

namespace memory {

namespace {

std::string hexAddress(std::uint64_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(address));
    return text;
}

} // namespace

MemoryOsSpecific::MemoryOsSpecific(std::string memFile) : m_sMemFile(std::move(memFile)) {
    m_nFd = ::open(m_sMemFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_nFd < 0) m_nOpenError = errno;
}

MemoryOsSpecific::~MemoryOsSpecific() {
    if (m_nFd >= 0) ::close(m_nFd);
}

std::uint8_t MemoryOsSpecific::readByte(std::uint64_t address) const {
    std::uint8_t value = 0;
    readBytes(&value, address, 1);
    return value;
}

void MemoryOsSpecific::writeByte(std::uint64_t, std::uint8_t) {
    throw smbios::NotImplemented("writing to physical memory is not implemented on Windows yet.");
}

void MemoryOsSpecific::readBytes(std::uint8_t* buffer, std::uint64_t address, std::size_t length) const {
    if (m_nFd < 0) {
        AccessError error("Could not open the memory file %(file)s to read address %(address)s: %(error)s");
        error.setParameter("file", m_sMemFile)
            .setParameter("address", hexAddress(address))
            .setParameter("error", std::strerror(m_nOpenError));
        throw error;
    }
    if (length == 0) return;
    if (buffer == nullptr) {
        AccessError error("Error accessing buffer.");
        throw error;
    }
    // The whole range must be addressable as a file offset: no wrap-around
    // of address + length, nothing beyond the largest offset.
    constexpr std::uint64_t maxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (address > maxOffset || length > maxOffset - address) {
        AccessError error(
            "Physical memory range outside the memory file %(file)s: address %(address)s, length %(length)i");
        error.setParameter("file", m_sMemFile)
            .setParameter("address", hexAddress(address))
            .setParameter("length", static_cast<std::int64_t>(length));
        throw error;
    }
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(m_nFd, buffer + done, length - done, static_cast<off_t>(address + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            int err = got < 0 ? errno : 0;
            AccessError error(
                "Could not read %(length)i bytes of physical memory at address %(address)s from %(file)s: %(error)s");
            error.setParameter("file", m_sMemFile)
                .setParameter("address", hexAddress(address))
                .setParameter("length", static_cast<std::int64_t>(length))
                .setParameter("error", err ? std::strerror(err) : "end of file");
            throw error;
        }
        done += static_cast<std::size_t>(got);
    }
}

void MemoryOsSpecific::incHintCount() { ++m_nHintCount; }

void MemoryOsSpecific::decHintCount() { --m_nHintCount; }

} // namespace memory
