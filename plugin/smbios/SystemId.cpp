#include "SystemId.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "IMemory.h"
#include "ISmbiosTable.h"
#include "MemoryFactory.h"
#include "SmbiosFactory.h"

namespace {

constexpr char signature[] = "Vork System";
constexpr std::size_t signatureLength = sizeof signature - 1;
constexpr int oemStringsType = 11;
constexpr int vendorType = 0xD0;

bool signatureAt(memory::IMemory& memory, std::uint64_t address) {
    std::uint8_t bytes[signatureLength];
    memory.readBytes(bytes, address, signatureLength);
    return std::memcmp(bytes, signature, signatureLength) == 0;
}

// Standard base-16 conversion of what follows the first two characters;
// a string shorter than three characters reads as 0.
int oemIdentifier(const char* text) {
    if (std::strlen(text) < 3) return 0;
    unsigned long value = std::strtoul(text + 2, nullptr, 16);
    return static_cast<int>(value & 0xFFFF);
}

} // namespace

const char* getLibraryVersion() { return "2.2.27"; }

int systemIdFromSignatureBlock() {
    memory::IMemory& memory = *memory::MemoryFactory::getFactory()->getMemory();
    if (!signatureAt(memory, 0xFE076)) return 0;
    std::uint8_t block[13];
    memory.readBytes(block, 0xFE840, sizeof block);
    if (block[5] == 0xFE) return block[0] | (block[1] << 8);
    return block[5];
}

int systemIdFromOemStrings() {
    smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
    bool marked = false;
    for (auto it = table.begin(oemStringsType); it != table.end() && !marked; ++it)
        marked = std::strncmp(it->stringByNumber(1), signature, signatureLength) == 0;
    if (!marked) return 0;
    int id = 0;
    for (auto it = table.begin(oemStringsType); it != table.end(); ++it) id = oemIdentifier(it->stringByNumber(2));
    return id;
}

int systemIdFromLegacyBlocks() {
    memory::IMemory& memory = *memory::MemoryFactory::getFactory()->getMemory();
    static constexpr std::uint64_t places[][2] = {{0xD8044, 0xD8040}, {0xDC044, 0xDC040}};
    for (const auto& place : places) {
        if (signatureAt(memory, place[0]) && memory.readByte(place[1]) == 0x8C) return 0x8C;
    }
    return 0;
}

int systemIdFromType208() {
    smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
    int id = 0;
    for (auto it = table.begin(vendorType); it != table.end(); ++it) {
        std::uint8_t value = 0;
        it->readData(6, &value, 1);
        if (value == 0xFE) {
            std::uint8_t word[2] = {0, 0};
            it->readData(8, word, sizeof word);
            id = word[0] | (word[1] << 8);
        } else {
            id = value;
        }
    }
    return id;
}

namespace {

struct Method {
    int (*find)();
    const char* name;
};
constexpr Method methods[] = {{systemIdFromSignatureBlock, "signature-block"},
                              {systemIdFromOemStrings, "oem-strings"},
                              {systemIdFromLegacyBlocks, "legacy-blocks"},
                              {systemIdFromType208, "type-208"}};

// The first method's identifier that is not 0, and that method; null when
// every method gives 0.
const Method* firstIdentifier(int& id) {
    for (const Method& method : methods) {
        try {
            id = method.find();
            if (id != 0) return &method;
        } catch (...) {
            // this method found nothing usable; the next one may
        }
    }
    id = 0;
    return nullptr;
}

} // namespace

int getSystemId() {
    int id = 0;
    firstIdentifier(id);
    return id;
}

SystemIdReport identifySystem() {
    SystemIdReport report;
    try {
        const Method* method = firstIdentifier(report.id);
        if (method != nullptr) report.method = method->name;
        const smbios::ISmbiosTable& table = *smbios::SmbiosFactory::getFactory()->getTable();
        report.source = table.getSourceKind();
        report.location = table.getSourcePath();
        report.majorVersion = table.getMajorVersion();
        report.minorVersion = table.getMinorVersion();
        report.tableSize = table.getTableLength();
    } catch (...) {
        // no table: the report says "none" for it
    }
    return report;
}
