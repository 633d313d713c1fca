#pragma once
#include "VorkException.h"

namespace VorkSupport {

// Raised when a property that must be present is absent; the message names
// the key, the code is 0.
class VorkPropertyNotFound : public VorkException {
public:
    explicit VorkPropertyNotFound(const std::string& key);
    const std::string& key() const { return m_key; }

private:
    std::string m_key;
};

} // namespace VorkSupport
