#include "VorkException.h"

#include "VorkStringUtilities.h"

namespace VorkSupport {

VorkException::VorkException(const std::u16string& message, VorkFailureKind kind) : VorkException(message, kind, 0) {}

VorkException::VorkException(const std::string& message, VorkFailureKind kind) : VorkException(message, kind, 0) {}

VorkException::VorkException(const char* message, VorkFailureKind kind) : VorkException(message, kind, 0) {}

VorkException::VorkException(const std::u16string& message, VorkFailureKind kind, int code)
    : m_message(message), m_kind(kind), m_code(code) {}

VorkException::VorkException(const std::string& message, VorkFailureKind kind, int code)
    : m_message(VorkStringUtilities::widen(message)), m_kind(kind), m_code(code) {}

VorkException::VorkException(const char* message, VorkFailureKind kind, int code)
    : m_message(VorkStringUtilities::widen(message ? std::string(message) : std::string())), m_kind(kind),
      m_code(code) {}

VorkException::~VorkException() = default;

std::string VorkException::getMessageNarrow() const { return VorkStringUtilities::narrow(m_message); }

} // namespace VorkSupport
