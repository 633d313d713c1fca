#pragma once
#include <string>

namespace VorkSupport {

// The failure type of the whole system. It carries a UTF-16 message and an
// integer code (a status code, or 0 for "no particular status"). It is
// deliberately not derived from std::exception: callers catch it by name.
class VorkException {
public:
    VorkException(const std::u16string& message, int code = 0);
    // Convenience: the 8-bit text is taken as UTF-8 and widened.
    VorkException(const std::string& message, int code = 0);
    VorkException(const char* message, int code = 0);
    virtual ~VorkException();

    const std::u16string& getMessage() const { return m_message; }
    // The message narrowed to UTF-8.
    std::string getMessageNarrow() const;
    int getCode() const { return m_code; }

private:
    std::u16string m_message;
    int m_code;
};

} // namespace VorkSupport
