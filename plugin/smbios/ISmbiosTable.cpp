#include "ISmbiosTable.h"

namespace smbios {

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
