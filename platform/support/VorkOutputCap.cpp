#include "VorkOutputCap.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace VorkSupport {

VorkOutputCap::VorkOutputCap(int fd, std::int64_t limit) : m_fd(fd) {
    struct stat status {};
    if (fd < 0 || limit <= 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    m_nLimitEnd = status.st_size + static_cast<off_t>(limit);
    m_notify = FileHandle(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    // The watch names the open file itself, whatever its path is now.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (m_notify.isOpen() && ::inotify_add_watch(m_notify.get(), self.c_str(), IN_MODIFY) < 0) m_notify.reset();
}

void VorkOutputCap::check() {
    if (!active()) return;
    char events[4096];
    while (m_notify.isOpen() && ::read(m_notify.get(), events, sizeof events) > 0) {
    }
    struct stat status {};
    if (::fstat(m_fd, &status) != 0 || status.st_size <= m_nLimitEnd) return;
    if (::ftruncate(m_fd, m_nLimitEnd) == 0) m_nDropped += status.st_size - m_nLimitEnd;
}

} // namespace VorkSupport
