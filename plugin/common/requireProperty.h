#pragma once
#include <string>

#include "VorkProperties.h"
#include "VorkPropertyNotFound.h"

// The value of a key that must be present; raises VorkPropertyNotFound when
// it is absent. Shared by the dispatch ("zuacmd") and the plug-in functions.
inline std::string requireProperty(const VorkSupport::VorkProperties<std::string>& properties, const std::string& key) {
    std::string value;
    if (!properties.getPropertyValue(key, value)) throw VorkSupport::VorkPropertyNotFound(key);
    return value;
}
