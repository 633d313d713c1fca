#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// Firmware data that cannot be interpreted: no entry point, a string past its structure.
class ParseException : public IException {
public:
    explicit ParseException(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
