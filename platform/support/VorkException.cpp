#include "VorkException.h"

#include "VorkStringUtilities.h"

namespace VorkSupport {

VorkException::VorkException(const std::u16string& message, int code) : m_message(message), m_code(code) {}

VorkException::VorkException(const std::string& message, int code)
    : m_message(VorkStringUtilities::widen(message)), m_code(code) {}

VorkException::VorkException(const char* message, int code)
    : m_message(VorkStringUtilities::widen(message ? std::string(message) : std::string())), m_code(code) {}

VorkException::~VorkException() = default;

std::string VorkException::getMessageNarrow() const { return VorkStringUtilities::narrow(m_message); }

} // namespace VorkSupport
