#include "zuacs64.h"

#include <cstring>
#include <string>

#include "ZuaCommandLog.h"

namespace {

constexpr int kInvalidParameter = 87;
constexpr int kInsufficientBuffer = 122;

std::string toUtf8(const char16_t* text) {
    std::string out;
    for (std::size_t i = 0; text[i] != 0; ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

} // namespace

extern "C" {

int ZCSSetProcessEnvironment(void) { return 0; }

int ZCSAppendToCmdLog(uint32_t commandId, const char* userInfo, const char* source, const char* description,
                      uint16_t type) {
    return ZuaCommandLog::append(ZuaCommandLog::formatRecord(commandId, userInfo, source, description, type));
}

int ZCSUCS2StrToUTF8Str(char* buffer, uint32_t* size, const char16_t* text) {
    if (!size || !text) return kInvalidParameter;
    const std::string utf8 = toUtf8(text);
    const std::size_t needed = utf8.size() + 1;
    if (needed > UINT32_MAX) return kInvalidParameter;
    if (!buffer) {
        *size = static_cast<uint32_t>(needed);
        return 0;
    }
    if (*size < needed) {
        if (*size > 0) buffer[0] = '\0';
        *size = static_cast<uint32_t>(needed);
        return kInsufficientBuffer;
    }
    std::memcpy(buffer, utf8.c_str(), needed);
    return 0;
}
}
