#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "IMemory.h"
#include "SmbiosStrategy.h"

namespace smbios {

// Finds the entry point in the legacy memory area (0xE0000 to 0xFFFFF) and
// reads the structure table from physical memory.
class SmbiosMemoryStrategy : public SmbiosStrategy {
public:
    // offset 0: search for the entry point; otherwise the entry point is
    // taken from that physical address (and must be valid).
    explicit SmbiosMemoryStrategy(std::uint64_t offset = 0);

    // Any failure (std::exception) makes it answer false.
    bool getSmbiosTable(std::array<std::uint8_t, 32>& entryPoint, std::vector<std::uint8_t>& table) override;
    std::string sourceKind() const override;
    // The memory factory's memory file.
    std::string sourcePath() const override;

    // The entry point record; raises smbios::ParseException with
    // "SMBIOS Header not found in search." when there is none, and the
    // reader's exceptions when memory cannot be read.
    std::array<std::uint8_t, 32> getSmbiosEntryPoint(memory::IMemory& memory) const;

    // Validity of a 32-byte "_SM_" record and of a 15-byte "_DMI_" block.
    static bool isValidEntryPoint(const std::uint8_t* record);
    static bool isValidLegacyEntryPoint(const std::uint8_t* block);

private:
    std::uint64_t m_nOffset;
};

} // namespace smbios
