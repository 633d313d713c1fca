#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// A structure that was asked for does not exist.
class ItemNotFound : public IException {
public:
    explicit ItemNotFound(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
