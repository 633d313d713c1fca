#pragma once
#include <cstdint>

namespace smbios {

class SmbiosStructureWalk;
class ISmbiosItem;

// Forward iteration over the structures of a table, all of them (type -1)
// or those of one type. A null position is the end.
class SmbiosTableIteratorBase {
public:
    SmbiosTableIteratorBase() = default;
    SmbiosTableIteratorBase(const SmbiosStructureWalk* table, int type, const std::uint8_t* position);

    bool operator==(const SmbiosTableIteratorBase& other) const { return m_pCurrent == other.m_pCurrent; }
    bool operator!=(const SmbiosTableIteratorBase& other) const { return m_pCurrent != other.m_pCurrent; }

    const SmbiosStructureWalk* table() const { return m_pTable; }
    int type() const { return m_nType; }
    const std::uint8_t* position() const { return m_pCurrent; }

protected:
    // Moves to the next structure of the iterator's type (or the end).
    void increment();
    // The item of the current structure; raises smbios::ParameterException
    // at the end.
    ISmbiosItem& dereference() const;

private:
    const SmbiosStructureWalk* m_pTable = nullptr;
    int m_nType = -1;
    const std::uint8_t* m_pCurrent = nullptr;
};

} // namespace smbios
