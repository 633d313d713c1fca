#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// A structure has no string of the number asked for.
class StringUnavailable : public IException {
public:
    explicit StringUnavailable(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
