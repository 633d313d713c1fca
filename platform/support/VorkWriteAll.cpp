#include "VorkWriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace VorkSupport {

bool VorkWriteAll(int fd, const void* data, std::size_t size) { return VorkWriteAll(fd, data, size, ::write); }

bool VorkWriteAll(int fd, const void* data, std::size_t size, ssize_t (*writeCall)(int, const void*, std::size_t)) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = writeCall(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace VorkSupport
