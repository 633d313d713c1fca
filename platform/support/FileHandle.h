#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace VorkSupport {

// An open file descriptor, closed exactly once: by close() or on destruction.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : m_fd(fd) {}
    // Opens name with the given flags (O_CLOEXEC is always added) and mode.
    FileHandle(const std::string& name, int flags, mode_t mode = 0);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    // Bytes read, 0 at the end, -1 on an error; interrupted reads resume.
    ssize_t read(char* buffer, std::size_t size);
    // False when closing reports an error (data may not have reached the file).
    bool close();

private:
    int m_fd;
};

} // namespace VorkSupport
