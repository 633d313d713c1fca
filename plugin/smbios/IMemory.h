#pragma once
#include <cstddef>
#include <cstdint>

namespace memory {

// Reader of the machine's physical memory.
class IMemory {
public:
    virtual ~IMemory() = default;

    // One byte at a physical address; raises memory::AccessError on failure.
    virtual std::uint8_t readByte(std::uint64_t address) const = 0;
    // Writing physical memory is not offered: raises smbios::NotImplemented.
    virtual void writeByte(std::uint64_t address, std::uint8_t value) = 0;
    // Copies length bytes from a physical address into buffer; raises
    // memory::AccessError when not all of them can be read.
    virtual void readBytes(std::uint8_t* buffer, std::uint64_t address, std::size_t length) const = 0;

    // A hint counter with which a long scan brackets itself; it changes
    // nothing in the reading.
    virtual void incHintCount() = 0;
    virtual void decHintCount() = 0;
};

} // namespace memory
