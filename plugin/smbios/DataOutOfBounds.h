#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// A read outside the formatted area of a structure.
class DataOutOfBounds : public IException {
public:
    explicit DataOutOfBounds(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
