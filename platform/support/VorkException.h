#pragma once
#include <string>
#include <type_traits>

#include "VorkFailureKind.h"

namespace VorkSupport {

// The failure type of the whole system. It carries a UTF-16 message and a
// kind; a failure of kind Status also carries the code of the status it
// names, taken from the caller's own enumeration of status codes (a bare
// number is refused, so that no code can mean something else by accident).
// It is deliberately not derived from std::exception: callers catch it by
// name.
class VorkException {
public:
    VorkException(const std::u16string& message, VorkFailureKind kind = VorkFailureKind::Unspecified);
    // Convenience: the 8-bit text is taken as UTF-8 and widened.
    VorkException(const std::string& message, VorkFailureKind kind = VorkFailureKind::Unspecified);
    VorkException(const char* message, VorkFailureKind kind = VorkFailureKind::Unspecified);

    template <typename Status>
    requires(std::is_enum_v<Status> && !std::is_same_v<Status, VorkFailureKind>)
        VorkException(const std::u16string& message, Status status)
        : VorkException(message, VorkFailureKind::Status, static_cast<int>(status)) {}
    template <typename Status>
    requires(std::is_enum_v<Status> && !std::is_same_v<Status, VorkFailureKind>)
        VorkException(const std::string& message, Status status)
        : VorkException(message, VorkFailureKind::Status, static_cast<int>(status)) {}
    template <typename Status>
    requires(std::is_enum_v<Status> && !std::is_same_v<Status, VorkFailureKind>)
        VorkException(const char* message, Status status)
        : VorkException(message, VorkFailureKind::Status, static_cast<int>(status)) {}

    virtual ~VorkException();

    const std::u16string& getMessage() const { return m_message; }
    // The message narrowed to UTF-8.
    std::string getMessageNarrow() const;
    VorkFailureKind kind() const { return m_kind; }
    // The status code a failure of kind Status names; 0 for every other kind.
    int getCode() const { return m_code; }

private:
    VorkException(const std::u16string& message, VorkFailureKind kind, int code);
    VorkException(const std::string& message, VorkFailureKind kind, int code);
    VorkException(const char* message, VorkFailureKind kind, int code);

    std::u16string m_message;
    VorkFailureKind m_kind;
    int m_code;
};

} // namespace VorkSupport
