#pragma once
#include <cstddef>
#include <cstdint>

namespace smbios {

// One structure of the SMBIOS table: header (type, formatted length,
// handle), formatted area and string set.
class ISmbiosItem {
public:
    virtual ~ISmbiosItem() = default;

    virtual std::uint8_t getType() const = 0;
    // The formatted length, header included.
    virtual std::uint8_t getLength() const = 0;
    virtual std::uint16_t getHandle() const = 0;

    // String number n (1 for the first) of the string set, NUL-terminated.
    // n = 0 and a string past the last raise smbios::StringUnavailable;
    // a string set that runs past the structure raises smbios::ParseException.
    virtual const char* stringByNumber(std::uint8_t n) const = 0;

    // Copies size bytes of the formatted area from offset (counted from the
    // start of the header); raises smbios::DataOutOfBounds unless the whole
    // range lies inside the formatted area.
    virtual void readData(std::size_t offset, void* buffer, std::size_t size) const = 0;

    // The structure's bytes, header through the string set's closing NUL.
    virtual const std::uint8_t* getBuffer() const = 0;
    virtual std::size_t getBufferSize() const = 0;
};

} // namespace smbios
