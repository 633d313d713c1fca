#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ISmbiosItem.h"

namespace smbios {

// An own copy of one structure. The copy carries two NUL bytes beyond its
// length, so that no string read from it can run off its end even when the
// table's string set was cut short.
class SmbiosItem : public ISmbiosItem {
public:
    // data: the structure's bytes, size: their number (at least the 4-byte
    // header); position: the structure's offset in the table, for messages.
    SmbiosItem(const std::uint8_t* data, std::size_t size, std::size_t position);

    std::uint8_t getType() const override;
    std::uint8_t getLength() const override;
    std::uint16_t getHandle() const override;
    const char* stringByNumber(std::uint8_t n) const override;
    void readData(std::size_t offset, void* buffer, std::size_t size) const override;
    const std::uint8_t* getBuffer() const override;
    std::size_t getBufferSize() const override;

private:
    std::vector<std::uint8_t> m_data; // m_nSize bytes and two NULs
    std::size_t m_nSize;
    std::size_t m_nPosition;
};

} // namespace smbios
