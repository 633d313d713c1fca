#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace smbiostest {

using Bytes = std::vector<std::uint8_t>;

// A memory image for the memory reader: a sparse file whose byte N is the
// byte at physical address N. It covers the first megabyte (so the whole
// legacy area reads as zeros) and grows where bytes are put beyond it.
class MemoryImage {
public:
    explicit MemoryImage(std::string path, std::uint64_t size = 0x100000);

    const std::string& path() const { return m_path; }
    void put(std::uint64_t address, const Bytes& bytes) const;
    void put(std::uint64_t address, const std::string& text) const;

    // Points PLIMO_MEMFILE at this image and forgets the process-wide
    // reader and table, so that the next use reads this image.
    void activate() const;

    // One structure: header, the formatted bytes after the header, strings.
    static Bytes structure(std::uint8_t type, std::uint16_t handle, const Bytes& formatted,
                           const std::vector<std::string>& strings = {});
    // A 32-byte "_SM_" entry point with its checksum made right (or wrong).
    // Its intermediate "_DMI_" block, 16 bytes further, is itself a valid
    // legacy entry point unless goodIntermediate is false.
    static Bytes entryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, std::uint8_t length = 0x1F,
                            std::uint8_t major = 2, bool goodChecksum = true, bool goodIntermediate = true);
    // A 15-byte "_DMI_" legacy entry point.
    static Bytes legacyEntryPoint(std::uint32_t tableAddress, std::uint16_t tableLength, bool goodChecksum = true);
    static Bytes concat(const std::vector<Bytes>& parts);

    // Puts a table at tableAddress and a valid entry point for it at 0xF0000.
    void putTable(const Bytes& table, std::uint32_t tableAddress = 0x80000) const;

private:
    std::string m_path;
};

} // namespace smbiostest
