#pragma once
#include <string>

#include "ISmbiosTable.h"

namespace smbios {

// Gives the one process-wide SMBIOS table, built on first use and kept until
// the process ends (or resetForTesting()). A build that fails is not kept:
// the next getTable() tries again.
//
// Parameters (integers): "strictValidation" and "offset", both 0 at first.
// Modes 0 and 1 build the table from the first of two sources that delivers
// one: the copy the kernel publishes (SmbiosSysfsStrategy, in the directory
// that PLIMO_DMI_DIR named when the factory was created, else
// /sys/firmware/dmi/tables), then physical memory (SmbiosMemoryStrategy).
// No other mode exists.
class SmbiosFactory {
public:
    virtual ~SmbiosFactory() = default;

    // The process-wide factory.
    static SmbiosFactory* getFactory();

    // Raises smbios::InternalError when the table cannot be built and
    // smbios::NotImplemented for an unknown mode.
    virtual ISmbiosTable* getTable() = 0;

    // Raise smbios::ParameterException for an unknown name.
    virtual void setParameter(const std::string& name, long value) = 0;
    virtual long getParameter(const std::string& name) const = 0;
    virtual void setMode(int mode) = 0;
    virtual int getMode() const = 0;

    // For tests only: forgets the process-wide table and factory, and the
    // memory reader with its factory (memory::MemoryFactory::resetForTesting),
    // so that the next call reads the memory file named by PLIMO_MEMFILE and
    // the directory named by PLIMO_DMI_DIR afresh. Every table, iterator and item obtained before becomes invalid.
    static void resetForTesting();

private:
    // Forgets the process-wide table and factory only; the memory factory
    // calls it when it forgets its reader.
    static void forgetTable();
};

} // namespace smbios
