#include "ZuaCommandLog.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "StateHome.h"

namespace {

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void makeParentDirectories(const std::string& file) {
    std::size_t pos = 0;
    while ((pos = file.find('/', pos + 1)) != std::string::npos) {
        std::string partial = file.substr(0, pos);
        ::mkdir(partial.c_str(), 0700);
    }
}

} // namespace

std::string ZuaCommandLog::fileName() {
    std::string explicitName = envValue("ZUA_CMDLOG");
    if (!explicitName.empty()) return explicitName;
    if (::geteuid() == 0) return "/var/log/zua/cmdlog";
    return VorkCommon::stateHome() + "/zua/cmdlog";
}

std::string ZuaCommandLog::escape(const char* text) {
    std::string out;
    if (!text) return out;
    for (const char* p = text; *p; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string ZuaCommandLog::formatRecord(uint32_t commandId, const char* userInfo, const char* source,
                                        const char* description, uint16_t type) {
    std::time_t now = std::time(nullptr);
    struct tm tmv {};
    gmtime_r(&now, &tmv);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tmv);
    std::string record = stamp;
    record += "\t" + std::to_string(commandId);
    record += "\t" + std::to_string(type);
    record += "\t" + escape(source);
    record += "\t" + escape(description);
    record += "\t" + escape(userInfo);
    record += "\n";
    return record;
}

int ZuaCommandLog::append(const std::string& record) {
    const std::string file = fileName();
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ENOENT) {
        makeParentDirectories(file);
        fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    }
    if (fd < 0) return errno ? errno : EIO;
    int result = 0;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            result = errno;
            break;
        }
    }
    if (result == 0) {
        // One write of the whole record; the lock keeps a short write from
        // being interleaved with another writer's record.
        const char* p = record.data();
        std::size_t left = record.size();
        while (left > 0) {
            ssize_t n = ::write(fd, p, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                result = errno;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        if (result == 0 && ::fsync(fd) != 0) result = errno;
        ::flock(fd, LOCK_UN);
    }
    if (::close(fd) != 0 && result == 0) result = errno;
    return result;
}
