#pragma once
#include <string>

// The text that a package's output log gives its entry in the status log:
// read with sharing, as UTF-16 when it begins with the mark FF FE and as
// 8-bit text otherwise (a carriage return and newline read as a newline), at
// most its first and last half mebibyte with a line between them that tells
// what was left out, the first "=== Logging started: " and "=== Logging
// stopped: " lines emptied, trimmed, converted to UTF-8 through the host, and
// with every character that XML cannot hold replaced by U+FFFD.
class BAPackageLogText {
public:
    // Whether the file begins with the UTF-16 mark FF FE; false, with opened
    // false, when it cannot be opened.
    static bool isUnicode(const std::string& fileName, bool& opened);
    // The text of the file; "" when it cannot be opened or holds nothing but
    // blanks. A failed conversion gives the converter's message instead.
    static std::string read(const std::string& fileName, bool unicode);
    // A text with every character that XML cannot hold replaced.
    static std::string xmlSafe(const std::string& text);
    // UTF-16 to UTF-8 through the host's converter; raises VorkException
    // when the host cannot convert it.
    static std::string toUtf8(const std::u16string& text);
};
