#include "KernelTables.h"

#include <cstdlib>
#include <filesystem>

#include "SmbiosFactory.h"
#include "TestEnvironment.h"

namespace smbiostest {

KernelTables::KernelTables(std::string directory) : m_directory(std::move(directory)) {
    std::filesystem::create_directories(m_directory);
}

void KernelTables::put(const Bytes& entryPoint, const Bytes& table) const {
    for (const auto& [name, bytes] : {std::pair{"/smbios_entry_point", &entryPoint}, std::pair{"/DMI", &table}}) {
        std::filesystem::remove(m_directory + name);
        plimotest::writeFile(m_directory + name, std::string(bytes->begin(), bytes->end()));
    }
}

void KernelTables::activate() const {
    ::setenv("PLIMO_DMI_DIR", m_directory.c_str(), 1);
    smbios::SmbiosFactory::resetForTesting();
}

Bytes KernelTables::entryPoint3(std::uint32_t tableMaximum, std::uint8_t major, std::uint8_t minor, bool goodChecksum) {
    Bytes ep{'_', 'S', 'M', '3', '_', 0, 0x18, major, minor, 0, 1, 0};
    for (int shift = 0; shift < 32; shift += 8) ep.push_back(static_cast<std::uint8_t>(tableMaximum >> shift));
    ep.resize(0x18, 0); // the table address, never used
    std::uint8_t sum = 0;
    for (std::uint8_t b : ep) sum = static_cast<std::uint8_t>(sum + b);
    ep[5] = static_cast<std::uint8_t>(-sum + (goodChecksum ? 0 : 1));
    return ep;
}

} // namespace smbiostest
