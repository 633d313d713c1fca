#pragma once
#include <functional>
#include <string>

#include "IMemory.h"

namespace memory {

// Gives the one process-wide physical-memory reader, created on first use
// and kept until the process ends (or resetForTesting()).
//
// Parameters: "memFile" (text), the memory file read by MemoryOsSpecific:
// the value of PLIMO_MEMFILE when that is set and not empty, else /dev/mem.
// Mode 0 selects MemoryOsSpecific; no other mode exists.
class MemoryFactory {
public:
    virtual ~MemoryFactory() = default;

    // The process-wide factory.
    static MemoryFactory* getFactory();

    // The process-wide reader; raises smbios::NotImplemented for an unknown
    // mode and memory::AccessError when the reader cannot be created.
    virtual IMemory* getMemory() = 0;

    // Raise smbios::ParameterException for a name other than "memFile".
    virtual void setParameter(const std::string& name, const std::string& value) = 0;
    virtual std::string getParameter(const std::string& name) const = 0;
    virtual void setMode(int mode) = 0;
    virtual int getMode() const = 0;

    // For tests only: forgets the process-wide factory with its parameters
    // and its reader, after telling everything registered with
    // onReset() (the SMBIOS factory forgets the table read through it), so
    // that the next use starts afresh and reads PLIMO_MEMFILE again. Every
    // reader, table, iterator and item obtained before becomes invalid.
    static void resetForTesting();
    // Registers what must be forgotten with the reader, once per key: a
    // second registration under the same key replaces the first.
    static void onReset(const void* key, std::function<void()> forget);
};

} // namespace memory
