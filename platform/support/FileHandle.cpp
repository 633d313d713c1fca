#include "FileHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace VorkSupport {

FileHandle::FileHandle(const std::string& name, int flags, mode_t mode)
    : m_fd(::open(name.c_str(), flags | O_CLOEXEC, mode))
{
}

FileHandle::~FileHandle()
{
    close();
}

ssize_t FileHandle::read(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t count = ::read(m_fd, buffer, size);
        if (count >= 0 || errno != EINTR) return count;
    }
}

bool FileHandle::close()
{
    if (m_fd < 0) return true;
    const int result = ::close(m_fd);
    m_fd = -1;
    return result == 0;
}

} // namespace VorkSupport
