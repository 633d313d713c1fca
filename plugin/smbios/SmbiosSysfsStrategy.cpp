#include "SmbiosSysfsStrategy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <utility>

#include "SmbiosMemoryStrategy.h"

namespace smbios {

namespace {

constexpr std::size_t maxEntryPointFileSize = 4096;
constexpr std::size_t legacySize = 15;
// The fixed parts of the two record layouts: an "_SM_" record is 0x1F bytes
// (0x1E in early firmware), an "_SM3_" record 0x18.
constexpr std::size_t minimalRecord2 = 0x1E;
constexpr std::size_t minimalRecord3 = 0x18;

std::uint8_t byteSum(const std::uint8_t* data, std::size_t length) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    return sum;
}

// Whether a table holds whole structures only: every header and formatted
// area inside it, every string set closed by its pair of NULs, up to the end
// of the first end-of-table structure (type 127) or exactly to the end.
bool wholeStructures(const std::vector<std::uint8_t>& table) {
    constexpr std::size_t headerSize = 4;
    constexpr std::uint8_t endOfTableType = 127;
    const std::size_t length = table.size();
    std::size_t at = 0;
    while (at < length) {
        if (length - at < headerSize) return false;
        const std::size_t formattedLength = table[at + 1];
        if (formattedLength < headerSize || formattedLength > length - at) return false;
        std::size_t cur = at + formattedLength;
        while (cur + 1 < length && !(table[cur] == 0 && table[cur + 1] == 0)) ++cur;
        if (cur + 1 >= length) return false;
        if (table[at] == endOfTableType) return true;
        at = cur + 2;
    }
    return true;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : m_nFd(fd) {}
    ~Descriptor() {
        if (m_nFd >= 0) ::close(m_nFd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_nFd; }

private:
    int m_nFd;
};

// The whole content of a regular file of 1 to maxSize bytes; false for
// anything else. The file is opened without blocking, so a FIFO in its place
// cannot stall the caller, and then refused for not being a regular file.
// The size that stat gives is only a hint (sysfs files may not know theirs):
// the file is read to its end, never more than one byte past maxSize.
bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<std::uint8_t>& content) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return false;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0 ||
        static_cast<std::uint64_t>(status.st_size) > maxSize)
        return false;
    std::vector<std::uint8_t> data(
        std::min(maxSize + 1, std::max<std::size_t>(static_cast<std::size_t>(status.st_size) + 1, 4096)));
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > maxSize) return false;
            data.resize(std::min(maxSize + 1, data.size() * 2));
        }
        const ssize_t n = ::read(file.get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    if (got == 0 || got > maxSize) return false;
    data.resize(got);
    content = std::move(data);
    return true;
}

} // namespace

SmbiosSysfsStrategy::SmbiosSysfsStrategy(std::string directory) : m_sDirectory(std::move(directory)) {}

std::string SmbiosSysfsStrategy::defaultDirectory() {
    const char* directory = std::getenv("PLIMO_DMI_DIR");
    if (directory != nullptr && *directory != '\0') return directory;
    return "/sys/firmware/dmi/tables";
}

std::string SmbiosSysfsStrategy::sourceKind() const { return "file"; }

std::string SmbiosSysfsStrategy::sourcePath() const { return m_sDirectory; }

bool SmbiosSysfsStrategy::readEntryPoint(const std::uint8_t* data, std::size_t size,
                                         std::array<std::uint8_t, 32>& record) {
    std::size_t length = 0;
    if (size >= 8 && std::memcmp(data, "_SM3_", 5) == 0) {
        length = data[6];
        if (length < minimalRecord3 || data[7] != 3) return false;
    } else if (size >= 7 && std::memcmp(data, "_SM_", 4) == 0) {
        length = data[5];
        if (length < minimalRecord2 || (data[6] != 2 && data[6] != 3)) return false;
    } else if (size >= legacySize && std::memcmp(data, "_DMI_", 5) == 0) {
        // A legacy block: kept as the memory strategy keeps one, as
        // version 2.0 with the block at offset 16.
        if (!SmbiosMemoryStrategy::isValidLegacyEntryPoint(data)) return false;
        record.fill(0);
        std::memcpy(record.data(), data, legacySize);
        std::memcpy(record.data() + 16, data, legacySize);
        record[6] = 2;
        record[7] = 0;
        return true;
    } else {
        return false;
    }
    if (length > record.size() || length > size || byteSum(data, length) != 0) return false;
    record.fill(0);
    std::memcpy(record.data(), data, length);
    return true;
}

bool SmbiosSysfsStrategy::getSmbiosTable(std::array<std::uint8_t, 32>& entryPoint, std::vector<std::uint8_t>& table) {
    try {
        std::vector<std::uint8_t> recordBytes;
        std::array<std::uint8_t, 32> record{};
        std::vector<std::uint8_t> tableBytes;
        if (!readRegularFile(m_sDirectory + "/smbios_entry_point", maxEntryPointFileSize, recordBytes) ||
            !readEntryPoint(recordBytes.data(), recordBytes.size(), record) ||
            !readRegularFile(m_sDirectory + "/DMI", maxTableSize, tableBytes) || !wholeStructures(tableBytes))
            return false;
        entryPoint = record;
        table = std::move(tableBytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace smbios
