#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace memory {

// Failures of the physical-memory reader.
class MemoryException : public smbios::IException {
public:
    explicit MemoryException(std::string messageTemplate) : smbios::IException(std::move(messageTemplate)) {}
};

} // namespace memory
