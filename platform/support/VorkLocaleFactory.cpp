#include "VorkLocaleFactory.h"

namespace VorkSupport {

const std::locale& VorkLocaleFactory::getDefaultLocale(bool /*flag*/) {
    // The system's 8-bit text is UTF-8 everywhere; the conversions do not
    // depend on the environment's locale settings.
    static const std::locale locale = std::locale::classic();
    return locale;
}

} // namespace VorkSupport
