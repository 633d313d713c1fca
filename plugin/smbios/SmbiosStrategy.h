#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace smbios {

// A way of finding and loading the SMBIOS entry point and structure table.
class SmbiosStrategy {
public:
    virtual ~SmbiosStrategy() = default;

    // Loads the 32-byte entry point record and the structure table. Answers
    // false when this way cannot deliver them; entryPoint and table are then
    // left as they were.
    virtual bool getSmbiosTable(std::array<std::uint8_t, 32>& entryPoint, std::vector<std::uint8_t>& table) = 0;

    // Where this way reads from, for reports: its kind ("file" for the
    // kernel's copy of the table, "memory" for physical memory) and the
    // directory or memory file.
    virtual std::string sourceKind() const = 0;
    virtual std::string sourcePath() const = 0;
};

} // namespace smbios
