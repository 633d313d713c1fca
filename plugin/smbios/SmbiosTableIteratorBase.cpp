#include "SmbiosTableIteratorBase.h"

#include "SmbiosStructureWalk.h"
#include "ParameterException.h"

namespace smbios {

SmbiosTableIteratorBase::SmbiosTableIteratorBase(const SmbiosStructureWalk* table, int type,
                                                 const std::uint8_t* position)
    : m_pTable(table), m_nType(type), m_pCurrent(position) {}

void SmbiosTableIteratorBase::increment() {
    if (m_pCurrent == nullptr || m_pTable == nullptr) return;
    do {
        m_pCurrent = m_pTable->nextStructure(m_pCurrent);
    } while (m_pCurrent != nullptr && m_nType != -1 && m_pCurrent[0] != m_nType);
}

ISmbiosItem& SmbiosTableIteratorBase::dereference() const {
    if (m_pCurrent == nullptr || m_pTable == nullptr)
        throw ParameterException("Programmer error: attempt to dereference a Null iterator.");
    return m_pTable->itemAt(m_pCurrent);
}

} // namespace smbios
