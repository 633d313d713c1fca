#pragma once
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace VorkSupport {

// The one owner of an open file descriptor: closed exactly once, by close(),
// reset() or on destruction. It moves; it never copies.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : m_fd(fd) {}
    // Opens name with the given flags (O_CLOEXEC is always added) and mode.
    FileHandle(const std::string& name, int flags, mode_t mode = 0);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;

    bool isOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    // Bytes read, 0 at the end, -1 on an error; interrupted reads resume.
    [[nodiscard]] ssize_t read(char* buffer, std::size_t size);
    // False when closing reports an error (data may not have reached the file).
    [[nodiscard]] bool close();
    // Closes what is held (an error there matters to nobody) and holds fd.
    void reset(int fd = -1);

private:
    int m_fd;
};

} // namespace VorkSupport
