#include "BAPackageLogText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "FileHandle.h"
#include "FixedLogTexts.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"
#include "zuacs64.h"

using VorkSupport::FileHandle;
using VorkSupport::VorkException;
using VorkSupport::VorkLocaleFactory;
using VorkSupport::VorkStringUtilities;

namespace {

const size_t kBlockSize = 512;
// Of a larger package output log, the first and the last this many bytes go
// into the status log, so that no entry outgrows what libxml2 reads back.
const off_t kLogPartBytes = 512 * 1024;

// The bytes of a package output log: all of them, or its first and last
// kLogPartBytes with the count of the bytes left out between them.
struct LogBytes {
    std::string head;
    std::string tail;
    off_t omitted = 0;
};

void readUpTo(FileHandle& file, std::string& bytes, off_t limit) {
    char block[kBlockSize];
    while (static_cast<off_t>(bytes.size()) < limit) {
        const size_t wanted = static_cast<size_t>(std::min<off_t>(sizeof block, limit - bytes.size()));
        const ssize_t count = file.read(block, wanted);
        if (count <= 0) break;
        bytes.append(block, static_cast<size_t>(count));
    }
}

// Where the kept tail of a file of size bytes begins: on a code unit of a
// UTF-16 file (after its two-byte mark), on a character of an 8-bit one.
off_t tailStart(FileHandle& file, off_t size, bool unicode) {
    off_t start = size - kLogPartBytes;
    if (unicode) return start % 2 == 0 ? start : start + 1;
    unsigned char byte = 0;
    for (int skipped = 0; skipped < 3 && ::pread(file.get(), &byte, 1, start) == 1 && (byte & 0xC0) == 0x80; ++skipped)
        ++start;
    return start;
}

// Drops the last character of an 8-bit text when the cut split it.
void dropSplitCharacter(std::string& bytes) {
    auto byteAt = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    size_t start = bytes.size();
    size_t continuation = 0;
    while (start > 0 && continuation < 3 && (byteAt(start - 1) & 0xC0) == 0x80) {
        --start;
        ++continuation;
    }
    if (start == 0) return;
    const unsigned char lead = byteAt(start - 1);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > 1 && continuation + 1 < length) bytes.resize(start - 1);
}

LogBytes readLogBytes(FileHandle& file, bool unicode) {
    LogBytes bytes;
    struct stat status;
    const off_t size = ::fstat(file.get(), &status) == 0 ? status.st_size : 0;
    if (size <= 2 * kLogPartBytes) {
        readUpTo(file, bytes.head, 2 * kLogPartBytes);
        return bytes;
    }
    readUpTo(file, bytes.head, kLogPartBytes);
    if (!unicode) dropSplitCharacter(bytes.head);
    const off_t start = tailStart(file, size, unicode);
    if (::lseek(file.get(), start, SEEK_SET) == start) readUpTo(file, bytes.tail, kLogPartBytes);
    bytes.omitted = start - static_cast<off_t>(bytes.head.size());
    return bytes;
}

// Little-endian UTF-16 code units; an odd last byte is dropped.
std::u16string decodeUtf16(const std::string& bytes, size_t from) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
}

// 8-bit (UTF-8) text; a carriage return followed by a newline reads as one
// newline.
std::u16string decodeEightBit(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        text.push_back(bytes[i]);
    }
    return VorkStringUtilities::widen(text, VorkLocaleFactory::getDefaultLocale(true));
}

// The text of a package output log, at most its first and last
// kLogPartBytes with a line between them that tells what was left out.
std::u16string readOutputLog(FileHandle& file, bool unicode, const std::string& name) {
    const LogBytes bytes = readLogBytes(file, unicode);
    std::u16string text = unicode ? decodeUtf16(bytes.head, 2) : decodeEightBit(bytes.head);
    if (bytes.omitted == 0) return text;
    const std::string note = "\n[... " + std::to_string(bytes.omitted) +
                             " bytes of the package log left out here; "
                             "the whole log was |" +
                             name + "| ...]\n";
    text += VorkStringUtilities::widen(note, VorkLocaleFactory::getDefaultLocale(true));
    text += unicode ? decodeUtf16(bytes.tail, 0) : decodeEightBit(bytes.tail);
    return text;
}

// Characters that XML cannot hold (control characters other than tab,
// newline and carriage return, U+FFFE, U+FFFF) become U+FFFD, so that a
// package's log can never make the status log unreadable.
void replaceInvalidXmlCharacters(std::u16string& text) {
    for (char16_t& c : text) {
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF) c = 0xFFFD;
    }
}

std::string xmlSafeText(const std::string& text) {
    const std::locale& locale = VorkLocaleFactory::getDefaultLocale(true);
    std::u16string wide = VorkStringUtilities::widen(text, locale);
    replaceInvalidXmlCharacters(wide);
    return VorkStringUtilities::narrow(wide, locale);
}

void eraseMarkerLine(std::u16string& text, const std::u16string& marker) {
    const std::u16string::size_type start = text.find(marker);
    if (start == std::u16string::npos) return;
    const std::u16string::size_type newline = text.find(u'\n', start);
    if (newline == std::u16string::npos) return;
    text.erase(start, newline - start);
}

void trim(std::u16string& text) {
    const char16_t* blanks = u" \t\r\n";
    const std::u16string::size_type first = text.find_first_not_of(blanks);
    if (first == std::u16string::npos) {
        text.clear();
        return;
    }
    const std::u16string::size_type last = text.find_last_not_of(blanks);
    text = text.substr(first, last - first + 1);
}

// The text of a package output log: marker lines removed, trimmed, in UTF-8
// with every character XML cannot hold replaced; "" when there is none.
std::string outputLogText(const std::string& name, bool unicode) {
    FileHandle file(name, O_RDONLY);
    if (!file.isOpen()) return std::string();
    std::u16string log = readOutputLog(file, unicode, name);
    if (log.empty()) return std::string();
    VORK_LOG(9, FixedLogText::StatusLog::kDroppingLoggingStarted << log.size() << ")");
    eraseMarkerLine(log, u"=== Logging started: ");
    VORK_LOG(9, FixedLogText::StatusLog::kDroppingLoggingStopped << log.size() << ")");
    eraseMarkerLine(log, u"=== Logging stopped: ");
    VORK_LOG(9, FixedLogText::StatusLog::kTrimming << log.size() << ")");
    trim(log);
    if (log.empty()) return std::string();
    VORK_LOG(9, FixedLogText::StatusLog::kConvertingToUtf8 << log.size() << ")");
    replaceInvalidXmlCharacters(log);
    try {
        return BAPackageLogText::toUtf8(log);
    } catch (const VorkException& e) {
        return VorkStringUtilities::narrow(e.getMessage(), VorkLocaleFactory::getDefaultLocale(true));
    }
}

} // namespace

bool BAPackageLogText::isUnicode(const std::string& fileName, bool& opened) {
    FileHandle peek(fileName, O_RDONLY);
    opened = peek.isOpen();
    if (!opened) return false;
    unsigned char mark[2] = {0, 0};
    size_t got = 0;
    while (got < 2) {
        const ssize_t count = peek.read(reinterpret_cast<char*>(mark) + got, 2 - got);
        if (count <= 0) break;
        got += static_cast<size_t>(count);
    }
    return got == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
}

std::string BAPackageLogText::read(const std::string& fileName, bool unicode) {
    return outputLogText(fileName, unicode);
}

std::string BAPackageLogText::xmlSafe(const std::string& text) { return xmlSafeText(text); }

std::string BAPackageLogText::toUtf8(const std::u16string& text) {
    VORK_TRACE("BAPackageLogText::toUtf8");
    uint32_t size = 0;
    int result = ZCSUCS2StrToUTF8Str(nullptr, &size, text.c_str());
    if (result != 0) {
        VORK_LOG(1, FixedLogText::StatusLog::kUtf8SizeFailed << result);
        throw VorkException("BAXMLPackageNode::ConvertWideToUtf8: Error getting size of required buffer.");
    }
    std::vector<char> buffer(size > 0 ? size : 1, '\0');
    result = ZCSUCS2StrToUTF8Str(buffer.data(), &size, text.c_str());
    if (result != 0) {
        VORK_LOG(1, FixedLogText::StatusLog::kUtf8ConversionFailed << result);
        throw VorkException("BAXMLPackageNode::ConvertWideToUtf8: Error converting string.");
    }
    buffer.back() = '\0';
    return std::string(buffer.data());
}
