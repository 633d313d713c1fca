#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// An operation or mode that this implementation does not offer.
class NotImplemented : public IException {
public:
    explicit NotImplemented(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
