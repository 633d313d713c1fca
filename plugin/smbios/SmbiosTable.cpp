#include "SmbiosTable.h"

#include <exception>
#include <utility>

#include "InternalError.h"
#include "ParameterException.h"

namespace smbios {

namespace {
constexpr std::size_t headerSize = 4;
constexpr std::uint8_t endOfTableType = 127;
} // namespace

SmbiosTable::SmbiosTable(std::vector<std::unique_ptr<SmbiosStrategy>> strategies, bool strictValidation)
    : m_strategies(std::move(strategies)), m_bStrictValidation(strictValidation) {
    bool loaded = false;
    for (auto& strategy : m_strategies) {
        try {
            if (strategy && strategy->getSmbiosTable(m_entryPoint, m_table)) {
                m_sSourceKind = strategy->sourceKind();
                m_sSourcePath = strategy->sourcePath();
                loaded = true;
                break;
            }
        } catch (const std::exception&) {
            // this way failed; the next one may do better
        }
    }
    if (!loaded) {
        m_strategies.clear();
        throw InternalError("Could not instantiate SMBIOS table.");
    }
}

SmbiosTable::~SmbiosTable() = default;

const ISmbiosTable::EntryPoint& SmbiosTable::getEntryPoint() const { return m_entryPoint; }

const std::string& SmbiosTable::getSourceKind() const { return m_sSourceKind; }

const std::string& SmbiosTable::getSourcePath() const { return m_sSourcePath; }

const std::uint8_t* SmbiosTable::getTableData() const { return m_table.data(); }

std::size_t SmbiosTable::getTableLength() const { return m_table.size(); }

const std::uint8_t* SmbiosTable::structureAt(std::size_t offset) const {
    const std::size_t length = m_table.size();
    if (length < headerSize || offset > length - headerSize) return nullptr;
    const std::uint8_t formattedLength = m_table[offset + 1];
    if (formattedLength < headerSize || formattedLength > length - offset) return nullptr;
    return m_table.data() + offset;
}

const std::uint8_t* SmbiosTable::firstStructure() const { return structureAt(0); }

const std::uint8_t* SmbiosTable::nextStructure(const std::uint8_t* position) const {
    if (position == nullptr || m_table.empty() || position < m_table.data() ||
        position >= m_table.data() + m_table.size())
        return nullptr;
    if (position[0] == endOfTableType) return nullptr;
    const std::size_t length = m_table.size();
    const std::size_t start = static_cast<std::size_t>(position - m_table.data());
    if (length < headerSize) return nullptr;
    // Find the string set's closing pair of NULs; stop where no structure
    // header could follow any more.
    std::size_t cur = start + position[1];
    while (cur < length - 3 && !(m_table[cur] == 0 && m_table[cur + 1] == 0)) ++cur;
    const std::size_t next = cur + 2;
    if (next > length - headerSize) return nullptr;
    return structureAt(next);
}

ISmbiosItem& SmbiosTable::itemAt(const std::uint8_t* position) const {
    if (position == nullptr || position < m_table.data() || position >= m_table.data() + m_table.size())
        throw ParameterException("Programmer error: attempt to dereference a Null iterator.");
    const std::size_t start = static_cast<std::size_t>(position - m_table.data());
    std::lock_guard<std::mutex> lock(m_cacheMutex);
    auto found = m_itemCache.find(start);
    if (found != m_itemCache.end()) return *found->second;
    // From the header through the first pair of NULs at or after the end of
    // the formatted area, both included, never past the end of the buffer.
    const std::size_t length = m_table.size();
    std::size_t end = length;
    for (std::size_t cur = start + position[1]; cur + 1 < length; ++cur) {
        if (m_table[cur] == 0 && m_table[cur + 1] == 0) {
            end = cur + 2;
            break;
        }
    }
    auto item = std::make_unique<SmbiosItem>(position, end - start, start);
    ISmbiosItem& result = *item;
    m_itemCache.emplace(start, std::move(item));
    return result;
}

} // namespace smbios
