#include "VorkStringUtilities.h"

#include "Utf16ToUtf8.h"
#include "VorkLocaleFactory.h"

namespace VorkSupport {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the UTF-8 sequence that the lead byte announces, or 0 when the
// byte cannot begin one.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Whether byte b may follow at position 1 of a sequence with that lead byte
// (rules out overlong forms, surrogates and code points above U+10FFFF).
bool validSecond(unsigned char lead, unsigned char b) {
    if (lead == 0xE0) return b >= 0xA0 && b <= 0xBF;
    if (lead == 0xED) return b >= 0x80 && b <= 0x9F;
    if (lead == 0xF0) return b >= 0x90 && b <= 0xBF;
    if (lead == 0xF4) return b >= 0x80 && b <= 0x8F;
    return b >= 0x80 && b <= 0xBF;
}

void appendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// Decodes text into out. With keepTail, an incomplete but so far valid
// sequence at the very end is not decoded: its start index is returned.
// Otherwise the result is text.size().
std::size_t decode(const std::string& text, std::u16string& out, bool keepTail) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    out.reserve(out.size() + n);
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t len = sequenceLength(lead);
        if (len == 1) {
            out.push_back(static_cast<char16_t>(lead));
            ++i;
            continue;
        }
        if (len == 0) {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        // Count the valid continuation bytes that follow.
        std::size_t got = 1;
        while (got < len && i + got < n) {
            const auto b = static_cast<unsigned char>(text[i + got]);
            const bool ok = (got == 1) ? validSecond(lead, b) : (b >= 0x80 && b <= 0xBF);
            if (!ok) break;
            ++got;
        }
        if (got == len) {
            char32_t cp = lead & (0xFF >> (len + 1));
            for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
            appendCodePoint(out, cp);
            i += len;
        } else if (i + got == n && keepTail) {
            return i; // cut in the middle of a character: the next block completes it
        } else {
            // A truncated or broken sequence counts as one invalid unit.
            out.push_back(kReplacement);
            i += got;
        }
    }
    return n;
}

} // namespace

std::u16string VorkStringUtilities::widen(const std::string& text, const std::locale& /*locale*/) {
    std::u16string out;
    decode(text, out, false);
    return out;
}

std::u16string VorkStringUtilities::widen(const std::string& text) {
    return widen(text, VorkLocaleFactory::getDefaultLocale());
}

std::string VorkStringUtilities::narrow(const std::u16string& text, const std::locale& /*locale*/) {
    return VorkCommon::utf16ToUtf8(text);
}

std::string VorkStringUtilities::narrow(const std::u16string& text) {
    return narrow(text, VorkLocaleFactory::getDefaultLocale());
}

std::string VorkStringUtilities::tolower(const std::string& text, const std::locale& locale) {
    // Every locale holds the ctype<char> facet.
    const auto& facet = std::use_facet<std::ctype<char>>(locale);
    std::string out = text;
    for (char& c : out) {
        // Only ASCII letters fold; bytes of multi-byte characters stay.
        if (c >= 'A' && c <= 'Z') c = facet.tolower(c);
    }
    return out;
}

bool VorkStringUtilities::hasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) return true;
    }
    return false;
}

std::u16string VorkStringUtilities::widenPartial(const std::string& text, std::string& carry) {
    std::string input = carry + text;
    std::u16string out;
    const std::size_t used = decode(input, out, true);
    carry = input.substr(used);
    return out;
}

} // namespace VorkSupport
