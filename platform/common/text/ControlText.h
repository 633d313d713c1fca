#pragma once
#include <string>
#include <string_view>

namespace VorkCommon {

// Texts that a bundle, a package or the firmware wrote (release ids, file
// names, package logs, messages) made safe for whoever shows them: on a
// terminal a control character could move the cursor, rewrite what is shown
// or send the terminal commands (CSI U+009B, OSC U+009D), and in JSON a
// consumer that prints a value would meet the same bytes.
class ControlText {
public:
    // The text with every C0 control, DEL and C1 control (U+0080 to U+009F)
    // shown as a visible escape ("\x1b", "\x9b"), and so is every byte that
    // is not part of a well-formed UTF-8 sequence; everything else stays as
    // it is. keepLines keeps line feeds and tabs, the structure of a text of
    // several lines.
    static std::string forTerminal(std::string_view text, bool keepLines = false) {
        std::string out;
        out.reserve(text.size());
        std::size_t i = 0;
        while (i < text.size()) {
            const unsigned char byte = static_cast<unsigned char>(text[i]);
            if (byte < 0x80) {
                if ((byte < 0x20 || byte == 0x7F) && !(keepLines && (byte == '\n' || byte == '\t'))) escape(out, byte);
                else out.push_back(static_cast<char>(byte));
                ++i;
                continue;
            }
            char32_t codePoint = 0;
            const std::size_t length = sequence(text, i, codePoint);
            if (length == 0) {
                escape(out, byte);
                ++i;
            } else if (codePoint <= 0x9F) {
                escape(out, codePoint);
                i += length;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
        }
        return out;
    }

    // A JSON text as a serialiser wrote it, with DEL and the C1 controls
    // escaped as \u007f and \u0080 to \u009f, and the short escapes of C0
    // controls (\n, \t, ...) written as \u00XX too, so that every control
    // character is one escape of the same form. Outside its strings a JSON
    // text holds none of these, and within them a backslash always begins
    // an escape, so the text stays the same JSON value.
    static std::string jsonEscaped(std::string_view json) {
        std::string out;
        out.reserve(json.size());
        for (std::size_t i = 0; i < json.size(); ++i) {
            const unsigned char byte = static_cast<unsigned char>(json[i]);
            if (byte == '\\' && i + 1 < json.size()) {
                const char code = shortEscapeCode(json[i + 1]);
                if (code != 0) unicodeEscape(out, static_cast<unsigned char>(code));
                else out.append(json.substr(i, 2));
                ++i;
            } else if (byte == 0x7F) {
                unicodeEscape(out, byte);
            } else if (byte == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) >= 0x80 &&
                       static_cast<unsigned char>(json[i + 1]) <= 0x9F) {
                unicodeEscape(out, static_cast<unsigned char>(json[i + 1]));
                ++i;
            } else {
                out.push_back(static_cast<char>(byte));
            }
        }
        return out;
    }

private:
    static constexpr const char* kHex = "0123456789abcdef";

    static void escape(std::string& out, char32_t value) {
        out += "\\x";
        out.push_back(kHex[(value >> 4) & 0xF]);
        out.push_back(kHex[value & 0xF]);
    }

    static void unicodeEscape(std::string& out, unsigned char value) {
        out += "\\u00";
        out.push_back(kHex[value >> 4]);
        out.push_back(kHex[value & 0xF]);
    }

    // The control character that a JSON short escape letter stands for, 0
    // for any other letter.
    static char shortEscapeCode(char letter) {
        switch (letter) {
            case 'b': return '\b';
            case 'f': return '\f';
            case 'n': return '\n';
            case 'r': return '\r';
            case 't': return '\t';
            default: return 0;
        }
    }

    // The length of the well-formed UTF-8 sequence at text[start] and its
    // code point; 0 when the bytes there form none (a stray continuation
    // byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF).
    static std::size_t sequence(std::string_view text, std::size_t start, char32_t& codePoint) {
        const unsigned char lead = static_cast<unsigned char>(text[start]);
        std::size_t length = 0;
        char32_t smallest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
            smallest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
            smallest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
            smallest = 0x10000;
        } else {
            return 0;
        }
        if (start + length > text.size()) return 0;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[start + k]);
            if ((next & 0xC0) != 0x80) return 0;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        if (codePoint < smallest || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
        return length;
    }
};

} // namespace VorkCommon
