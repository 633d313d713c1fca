#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SmbiosStrategy.h"

namespace smbios {

// Loads the copy of the SMBIOS table that the Linux kernel publishes in
// /sys/firmware/dmi/tables (or the directory named by PLIMO_DMI_DIR): the
// entry point record the kernel found, in smbios_entry_point, and the whole
// structure table, in DMI. Root can read them whatever the kernel's lockdown
// state, also on UEFI machines whose legacy memory area holds no entry point.
//
// Both files are untrusted. Each must be a regular file; a FIFO or device in
// their place is never read from, so nothing blocks. The entry point must be
// a valid "_SM_" record (major version 2 or 3), "_SM3_" record (version 3)
// or "_DMI_" block; the table is the whole DMI file, 1 byte to 16 MiB, and
// must hold whole structures only, up to an end-of-table structure or to its
// end (a cut copy is no copy). The table address and length inside the
// record are never used.
class SmbiosSysfsStrategy : public SmbiosStrategy {
public:
    static constexpr std::size_t maxTableSize = 16 * 1024 * 1024;

    explicit SmbiosSysfsStrategy(std::string directory = defaultDirectory());

    // Any failure makes it answer false.
    bool getSmbiosTable(std::array<std::uint8_t, 32>& entryPoint, std::vector<std::uint8_t>& table) override;
    std::string sourceKind() const override;
    std::string sourcePath() const override;

    // The entry point record as the table keeps it, from the bytes of an
    // smbios_entry_point file; false when they hold no valid record.
    static bool readEntryPoint(const std::uint8_t* data, std::size_t size, std::array<std::uint8_t, 32>& record);

    // PLIMO_DMI_DIR when it is set and not empty, else /sys/firmware/dmi/tables.
    static std::string defaultDirectory();

private:
    std::string m_sDirectory;
};

} // namespace smbios
