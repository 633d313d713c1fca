#pragma once
#include <cstdint>

namespace smbios {

class ISmbiosItem;

// The walk over the structures of a table, by position in its buffer: what
// an iterator needs of the table it walks.
class SmbiosStructureWalk {
public:
    virtual ~SmbiosStructureWalk() = default;
    // The first structure and the one after a position (null: none).
    virtual const std::uint8_t* firstStructure() const = 0;
    virtual const std::uint8_t* nextStructure(const std::uint8_t* position) const = 0;
    // The item of a structure's position, made on first use and kept.
    virtual ISmbiosItem& itemAt(const std::uint8_t* position) const = 0;
};

} // namespace smbios
