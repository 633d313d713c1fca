#pragma once
#include <string>
#include <utility>

#include "IException.h"

namespace smbios {

// A caller's mistake: a null iterator dereferenced, an unknown parameter.
class ParameterException : public IException {
public:
    explicit ParameterException(std::string messageTemplate) : IException(std::move(messageTemplate)) {}
};

} // namespace smbios
