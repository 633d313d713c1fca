#include "MemoryImage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "SmbiosFactory.h"

namespace smbiostest {

namespace {

void fixChecksum(Bytes& bytes, std::size_t span, std::size_t checksumAt, bool good) {
    bytes[checksumAt] = 0;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < span; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
    bytes[checksumAt] = static_cast<std::uint8_t>(-sum + (good ? 0 : 1));
}

} // namespace

MemoryImage::MemoryImage(std::string path, std::uint64_t size) : m_path(std::move(path)) {
    int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot create " + m_path);
    int rc = ::ftruncate(fd, static_cast<off_t>(size));
    ::close(fd);
    if (rc != 0) throw std::runtime_error("cannot size " + m_path);
}

void MemoryImage::put(std::uint64_t address, const Bytes& bytes) const {
    int fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + m_path);
    ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(address));
    ::close(fd);
    if (written != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("cannot write " + m_path);
}

void MemoryImage::put(std::uint64_t address, const std::string& text) const {
    put(address, Bytes(text.begin(), text.end()));
}

void MemoryImage::activate() const {
    ::setenv("PLIMO_MEMFILE", m_path.c_str(), 1);
    smbios::SmbiosFactory::resetForTesting();
}

Bytes MemoryImage::structure(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                             const std::vector<std::string>& strings) {
    Bytes out{type, static_cast<std::uint8_t>(4 + formatted.size()), static_cast<std::uint8_t>(handle & 0xFF),
              static_cast<std::uint8_t>(handle >> 8)};
    out.insert(out.end(), formatted.begin(), formatted.end());
    for (const std::string& s : strings) {
        out.insert(out.end(), s.begin(), s.end());
        out.push_back(0);
    }
    if (strings.empty()) out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes MemoryImage::entryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, std::uint8_t length,
                              std::uint8_t major, bool goodChecksum, bool goodIntermediate) {
    Bytes ep(32, 0);
    ep[0] = '_', ep[1] = 'S', ep[2] = 'M', ep[3] = '_';
    ep[5] = length;
    ep[6] = major;
    ep[7] = 4;
    Bytes legacy = legacyEntryPoint(tableAddress, tableLength, goodIntermediate);
    std::copy(legacy.begin(), legacy.end(), ep.begin() + 16);
    fixChecksum(ep, length < 32 ? length : 32, 4, goodChecksum);
    return ep;
}

Bytes MemoryImage::legacyEntryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, bool goodChecksum) {
    Bytes block{'_', 'D', 'M', 'I', '_', 0};
    block.push_back(static_cast<std::uint8_t>(tableLength & 0xFF));
    block.push_back(static_cast<std::uint8_t>(tableLength >> 8));
    for (int shift = 0; shift < 32; shift += 8) block.push_back(static_cast<std::uint8_t>(tableAddress >> shift));
    block.push_back(4); // number of structures
    block.push_back(0);
    block.push_back(0x24); // BCD revision
    fixChecksum(block, 15, 5, goodChecksum);
    return block;
}

Bytes MemoryImage::concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

void MemoryImage::putTable(const Bytes& table, std::uint32_t tableAddress) const {
    put(tableAddress, table);
    put(0xF0000, entryPoint(tableAddress, static_cast<std::uint16_t>(table.size())));
}

} // namespace smbiostest
