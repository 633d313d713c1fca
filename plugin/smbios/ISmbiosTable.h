#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "ConstSmbiosTableIterator.h"
#include "ISmbiosItem.h"
#include "SmbiosStructureWalk.h"
#include "SmbiosTableIterator.h"

namespace smbios {

// The SMBIOS structure table of the machine, walked by its iterators.
class ISmbiosTable : public SmbiosStructureWalk {
public:
    using EntryPoint = std::array<std::uint8_t, 32>;

    ~ISmbiosTable() override = default;

    // An iterator on the first structure of a type (-1: the first structure).
    ConstSmbiosTableIterator begin(int type = -1) const;
    ConstSmbiosTableIterator end() const;
    SmbiosTableIterator begin(int type = -1);
    SmbiosTableIterator end();

    // The entry point record: the 32 bytes of an SMBIOS 2.x entry point, or
    // an SMBIOS 3 ("_SM3_") entry point followed by zeros.
    virtual const EntryPoint& getEntryPoint() const = 0;
    // The SMBIOS version that the entry point record names.
    int getMajorVersion() const;
    int getMinorVersion() const;
    // Where the table came from: "file" (the kernel's copy; the path is its
    // directory) or "memory" (the path is the memory file).
    virtual const std::string& getSourceKind() const = 0;
    virtual const std::string& getSourcePath() const = 0;
    // The table buffer, as long as its source gives it.
    virtual const std::uint8_t* getTableData() const = 0;
    virtual std::size_t getTableLength() const = 0;

private:
    const std::uint8_t* firstOfType(int type) const;
};

} // namespace smbios
