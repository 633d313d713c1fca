#include "zuacs64.h"

#include <cstring>
#include <string>

#include "Utf16ToUtf8.h"
#include "ZuaCommandLog.h"

namespace {

constexpr int kInvalidParameter = 87;
constexpr int kInsufficientBuffer = 122;

} // namespace

extern "C" {

int ZCSSetProcessEnvironment(void) { return 0; }

int ZCSAppendToCmdLog(uint32_t commandId, const char* userInfo, const char* source, const char* description,
                      uint16_t type) {
    return ZuaCommandLog::append(ZuaCommandLog::formatRecord(commandId, userInfo, source, description, type));
}

int ZCSUCS2StrToUTF8Str(char* buffer, uint32_t* size, const char16_t* text) {
    if (!size || !text) return kInvalidParameter;
    const std::string utf8 = VorkCommon::utf16ToUtf8(text);
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
