#pragma once
#include <locale>

namespace VorkSupport {

// The default locale of the system's texts: 8-bit text is UTF-8. The flag is
// accepted for compatibility and changes nothing.
class VorkLocaleFactory {
public:
    static const std::locale& getDefaultLocale(bool flag = true);
};

} // namespace VorkSupport
