#include "VorkPropertyNotFound.h"

namespace VorkSupport {

VorkPropertyNotFound::VorkPropertyNotFound(const std::string& key)
    : VorkException("Property not found: " + key, VorkFailureKind::NotFound), m_key(key) {}

} // namespace VorkSupport
