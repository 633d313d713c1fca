#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ISmbiosTable.h"
#include "SmbiosItem.h"
#include "SmbiosStrategy.h"

namespace smbios {

// The table as loaded by the first of its strategies that succeeds.
//
// The buffer comes from firmware (or a file) and is untrusted: the walk
// never reads outside it, whatever the lengths in it say, and always moves
// forward, so it ends. A structure whose formatted length is smaller than
// its 4-byte header or runs past the end of the table ends the walk.
class SmbiosTable : public ISmbiosTable {
public:
    // Raises smbios::InternalError with "Could not instantiate SMBIOS table."
    // when no strategy succeeds (the strategies are then destroyed).
    SmbiosTable(std::vector<std::unique_ptr<SmbiosStrategy>> strategies, bool strictValidation);
    ~SmbiosTable() override;
    SmbiosTable(const SmbiosTable&) = delete;
    SmbiosTable& operator=(const SmbiosTable&) = delete;

    const EntryPoint& getEntryPoint() const override;
    const std::string& getSourceKind() const override;
    const std::string& getSourcePath() const override;
    const std::uint8_t* getTableData() const override;
    std::size_t getTableLength() const override;
    const std::uint8_t* firstStructure() const override;
    const std::uint8_t* nextStructure(const std::uint8_t* position) const override;
    ISmbiosItem& itemAt(const std::uint8_t* position) const override;

    bool isStrict() const { return m_bStrictValidation; }

private:
    // The structure at an offset, when its header and formatted area fit in
    // the buffer; null otherwise.
    const std::uint8_t* structureAt(std::size_t offset) const;

    std::vector<std::unique_ptr<SmbiosStrategy>> m_strategies;
    EntryPoint m_entryPoint{};
    std::string m_sSourceKind;
    std::string m_sSourcePath;
    std::vector<std::uint8_t> m_table;
    bool m_bStrictValidation;
    mutable std::mutex m_cacheMutex;
    mutable std::map<std::size_t, std::unique_ptr<SmbiosItem>> m_itemCache;
};

} // namespace smbios
