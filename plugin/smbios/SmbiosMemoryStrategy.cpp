#include "SmbiosMemoryStrategy.h"

#include <cstring>
#include <exception>
#include <utility>

#include "MemoryFactory.h"
#include "ParseException.h"

namespace smbios {

namespace {

constexpr std::uint64_t searchStart = 0xE0000;
constexpr std::uint64_t searchLimit = 0xFFFFF; // the 32 bytes read must end below it
constexpr std::size_t recordSize = 32;
constexpr std::size_t legacySize = 15;

std::uint8_t byteSum(const std::uint8_t* data, std::size_t length) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    return sum;
}

// Turns the 32 bytes read at a "_DMI_" block into an entry point record.
void makeRecordFromLegacy(std::uint8_t* record) {
    std::uint8_t block[legacySize];
    std::memcpy(block, record, legacySize);
    std::memcpy(record + 16, block, legacySize);
    record[6] = 2;
    record[7] = 0;
}

// Brackets a scan with the reader's hint count, also when the scan raises.
class HintScope {
public:
    explicit HintScope(memory::IMemory& memory) : m_memory(memory) { m_memory.decHintCount(); }
    ~HintScope() { m_memory.incHintCount(); }
    HintScope(const HintScope&) = delete;
    HintScope& operator=(const HintScope&) = delete;

private:
    memory::IMemory& m_memory;
};

} // namespace

SmbiosMemoryStrategy::SmbiosMemoryStrategy(std::uint64_t offset) : m_nOffset(offset) {}

std::string SmbiosMemoryStrategy::sourceKind() const { return "memory"; }

std::string SmbiosMemoryStrategy::sourcePath() const {
    return memory::MemoryFactory::getFactory()->getParameter("memFile");
}

bool SmbiosMemoryStrategy::isValidEntryPoint(const std::uint8_t* record) {
    if (std::memcmp(record, "_SM_", 4) != 0) return false;
    const std::size_t length = record[5];
    const std::size_t span = length < recordSize ? length : recordSize;
    return byteSum(record, span) == 0 && record[6] == 2 && length >= 0x0F;
}

bool SmbiosMemoryStrategy::isValidLegacyEntryPoint(const std::uint8_t* block) {
    return std::memcmp(block, "_DMI_", 5) == 0 && byteSum(block, legacySize) == 0;
}

std::array<std::uint8_t, 32> SmbiosMemoryStrategy::getSmbiosEntryPoint(memory::IMemory& memory) const {
    std::array<std::uint8_t, 32> record{};
    if (m_nOffset != 0) {
        // A known place: take the record there if it is a valid one.
        memory.readBytes(record.data(), m_nOffset, recordSize);
        if (std::memcmp(record.data(), "_DMI_", 5) == 0 && isValidLegacyEntryPoint(record.data())) {
            makeRecordFromLegacy(record.data());
            return record;
        }
        if (isValidEntryPoint(record.data())) return record;
        throw ParseException("SMBIOS Header not found in search.");
    }

    // The whole area is read at once and scanned in steps of 16 bytes; the
    // last address tried is the last one whose 32 bytes end below 0xFFFFF.
    HintScope hint(memory);
    const std::uint64_t lastAddress = ((searchLimit - recordSize) / 16) * 16; // 0xFFFD0
    const std::size_t areaSize = static_cast<std::size_t>(lastAddress + recordSize - searchStart);
    std::vector<std::uint8_t> area(areaSize);
    memory.readBytes(area.data(), searchStart, areaSize);
    for (std::size_t at = 0; at + recordSize <= areaSize; at += 16) {
        const std::uint8_t* candidate = area.data() + at;
        if (candidate[0] != '_') continue; // both anchors begin so
        if (std::memcmp(candidate, "_DMI_", 5) == 0) {
            if (isValidLegacyEntryPoint(candidate)) {
                std::memcpy(record.data(), candidate, recordSize);
                makeRecordFromLegacy(record.data());
                return record;
            }
        } else if (isValidEntryPoint(candidate)) {
            std::memcpy(record.data(), candidate, recordSize);
            return record;
        }
    }
    throw ParseException("SMBIOS Header not found in search.");
}

bool SmbiosMemoryStrategy::getSmbiosTable(std::array<std::uint8_t, 32>& entryPoint, std::vector<std::uint8_t>& table) {
    try {
        memory::IMemory* memory = memory::MemoryFactory::getFactory()->getMemory();
        std::array<std::uint8_t, 32> record = getSmbiosEntryPoint(*memory);
        const std::size_t tableLength = static_cast<std::size_t>(record[22] | (record[23] << 8));
        const std::uint64_t tableAddress =
            static_cast<std::uint64_t>(record[24]) | (static_cast<std::uint64_t>(record[25]) << 8) |
            (static_cast<std::uint64_t>(record[26]) << 16) | (static_cast<std::uint64_t>(record[27]) << 24);
        std::vector<std::uint8_t> buffer(tableLength);
        memory->readBytes(buffer.data(), tableAddress, tableLength);
        entryPoint = record;
        table = std::move(buffer);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace smbios
