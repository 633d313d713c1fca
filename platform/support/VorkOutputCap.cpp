#include "VorkOutputCap.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace VorkSupport {

namespace {

// One inotify instance serves every cap of the process: closing an instance
// waits for the kernel to retire its watches, which took longer than a short
// package runs, while removing a watch does not.
int sharedNotifier() {
    static const FileHandle notifier(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    return notifier.get();
}

} // namespace

VorkOutputCap::VorkOutputCap(int fd, std::int64_t limit) : m_fd(fd) {
    struct stat status {};
    if (fd < 0 || limit <= 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return;
    m_nLimitEnd = status.st_size + static_cast<off_t>(limit);
    m_nNotifier = sharedNotifier();
    // The watch names the open file itself, whatever its path is now.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (m_nNotifier >= 0) m_nWatch = ::inotify_add_watch(m_nNotifier, self.c_str(), IN_MODIFY);
    if (m_nWatch < 0) m_nNotifier = -1;
}

VorkOutputCap::~VorkOutputCap() {
    if (m_nWatch >= 0) ::inotify_rm_watch(m_nNotifier, m_nWatch);
}

void VorkOutputCap::check() {
    if (!active()) return;
    char events[4096];
    while (m_nNotifier >= 0 && ::read(m_nNotifier, events, sizeof events) > 0) {}
    struct stat status {};
    if (::fstat(m_fd, &status) != 0 || status.st_size <= m_nLimitEnd) return;
    if (::ftruncate(m_fd, m_nLimitEnd) == 0) m_nDropped += status.st_size - m_nLimitEnd;
}

} // namespace VorkSupport
