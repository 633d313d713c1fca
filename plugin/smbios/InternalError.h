#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// The table could not be built or an inner step failed unexpectedly.
class InternalError : public IException {
public:
    explicit InternalError(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
