#include "FileHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace VorkSupport {

FileHandle::FileHandle(const std::string& name, int flags, mode_t mode)
    : m_fd(::open(name.c_str(), flags | O_CLOEXEC, mode)) {}

FileHandle::~FileHandle() { reset(); }

FileHandle::FileHandle(FileHandle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.m_fd, -1));
    return *this;
}

ssize_t FileHandle::read(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t count = ::read(m_fd, buffer, size);
        if (count >= 0 || errno != EINTR) return count;
    }
}

bool FileHandle::close() {
    if (m_fd < 0) return true;
    const int result = ::close(std::exchange(m_fd, -1));
    return result == 0;
}

void FileHandle::reset(int fd) {
    // Whoever needed to know that the data reached the file called close().
    (void)close();
    m_fd = fd;
}

} // namespace VorkSupport
