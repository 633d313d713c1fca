#include "ISmbiosTable.h"

#include <cstring>

namespace smbios {

namespace {
bool smbios3(const ISmbiosTable::EntryPoint& record) { return std::memcmp(record.data(), "_SM3_", 5) == 0; }
} // namespace

int ISmbiosTable::getMajorVersion() const {
    const EntryPoint& record = getEntryPoint();
    return smbios3(record) ? record[7] : record[6];
}

int ISmbiosTable::getMinorVersion() const {
    const EntryPoint& record = getEntryPoint();
    return smbios3(record) ? record[8] : record[7];
}

const std::uint8_t* ISmbiosTable::firstOfType(int type) const {
    const std::uint8_t* position = firstStructure();
    while (position != nullptr && type != -1 && position[0] != type) position = nextStructure(position);
    return position;
}

ConstSmbiosTableIterator ISmbiosTable::begin(int type) const {
    return ConstSmbiosTableIterator(this, type, firstOfType(type));
}

ConstSmbiosTableIterator ISmbiosTable::end() const { return ConstSmbiosTableIterator(this, -1, nullptr); }

SmbiosTableIterator ISmbiosTable::begin(int type) { return SmbiosTableIterator(this, type, firstOfType(type)); }

SmbiosTableIterator ISmbiosTable::end() { return SmbiosTableIterator(this, -1, nullptr); }

} // namespace smbios
