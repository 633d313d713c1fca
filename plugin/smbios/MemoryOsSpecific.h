#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "IMemory.h"

namespace memory {

// Physical memory read from a memory file with pread at offset = physical
// address: /dev/mem on a real machine, or a memory image (an ordinary,
// usually sparse, file whose byte N is the byte at physical address N).
// The file is opened read-only; nothing is ever mapped or written.
class MemoryOsSpecific : public IMemory {
public:
    explicit MemoryOsSpecific(std::string memFile);
    ~MemoryOsSpecific() override;
    MemoryOsSpecific(const MemoryOsSpecific&) = delete;
    MemoryOsSpecific& operator=(const MemoryOsSpecific&) = delete;

    std::uint8_t readByte(std::uint64_t address) const override;
    void writeByte(std::uint64_t address, std::uint8_t value) override;
    void readBytes(std::uint8_t* buffer, std::uint64_t address, std::size_t length) const override;
    void incHintCount() override;
    void decHintCount() override;

    const std::string& memFile() const { return m_sMemFile; }
    int hintCount() const { return m_nHintCount; }

private:
    std::string m_sMemFile;
    int m_nFd = -1;
    int m_nOpenError = 0; // errno of the failed open, 0 when open
    int m_nHintCount = 0;
};

} // namespace memory
