#pragma once
#include "VorkException.h"

namespace VorkSupport {

// Raised when a property that must be present is absent; the message names
// the key, the kind is NotFound.
class VorkPropertyNotFound : public VorkException {
public:
    explicit VorkPropertyNotFound(const std::string& key);
    const std::string& key() const { return m_key; }

private:
    std::string m_key;
};

} // namespace VorkSupport
