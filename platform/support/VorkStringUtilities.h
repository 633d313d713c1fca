#pragma once
#include <locale>
#include <string>

namespace VorkSupport {

// Conversions between 8-bit text (UTF-8) and UTF-16.
//  - widen: invalid UTF-8 bytes become U+FFFD each; the rest is kept.
//  - narrow: an unpaired surrogate becomes U+FFFD; the rest is kept.
//  - tolower: ASCII letters folded through the locale's ctype facet; raises
//    VorkException when the locale has none.
class VorkStringUtilities {
public:
    static std::u16string widen(const std::string& text, const std::locale& locale);
    static std::u16string widen(const std::string& text);
    static std::string narrow(const std::u16string& text, const std::locale& locale);
    static std::string narrow(const std::u16string& text);
    static std::string tolower(const std::string& text, const std::locale& locale);
    // Whether the text holds a control character (below 0x20, or 0x7F): such
    // a text must not go into a line-oriented file or a command line.
    static bool hasControlCharacter(const std::string& text);

    // Widen a byte sequence that may end in the middle of a UTF-8 character:
    // the incomplete tail is left in 'carry' for the next call (carry is
    // prepended to text first). Complete invalid bytes become U+FFFD.
    static std::u16string widenPartial(const std::string& text, std::string& carry);
};

} // namespace VorkSupport
