#pragma once
#include <cstdint>
#include <string>

#include "MemoryImage.h"

namespace smbiostest {

// The copy of the SMBIOS table that the kernel publishes: a directory that
// holds smbios_entry_point and DMI.
class KernelTables {
public:
    explicit KernelTables(std::string directory);

    const std::string& directory() const { return m_directory; }
    // Writes both files, replacing what was there (a FIFO too).
    void put(const Bytes& entryPoint, const Bytes& table) const;

    // Points PLIMO_DMI_DIR at the directory and forgets the process-wide
    // reader and table, so that the next use reads these files.
    void activate() const;

    // A 24-byte "_SM3_" entry point with its checksum made right (or wrong).
    static Bytes entryPoint3(std::uint32_t tableMaximum, std::uint8_t major = 3, std::uint8_t minor = 2,
                             bool goodChecksum = true);

private:
    std::string m_directory;
};

} // namespace smbiostest
