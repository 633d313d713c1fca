#include "VorkChildDeadline.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>

namespace VorkSupport {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Sleeps without a descriptor to wake on are this short, and no single sleep
// is longer than an hour (poll takes an int of milliseconds).
constexpr milliseconds kStep(100);
constexpr milliseconds kLongestPause(3600 * 1000);

// A process descriptor of the child, or -1 (an old kernel). Always
// close-on-exec.
int openProcessDescriptor(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

milliseconds timeLeft(steady_clock::time_point deadline) {
    return std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
}

// Whether a process of the group runs. Members that have ended but wait for
// whoever adopted them to collect them (slow in some containers) do not
// count.
bool hasLiveMember(pid_t group) {
    DIR* processes = ::opendir("/proc");
    if (processes == nullptr) return true;
    bool live = false;
    while (const dirent* entry = ::readdir(processes)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string text;
        std::getline(stat, text);
        // After the name in parentheses: state, parent, group.
        const std::string::size_type name = text.rfind(')');
        if (name == std::string::npos) continue;
        std::istringstream fields(text.substr(name + 1));
        char state = 'Z';
        long parent = 0;
        long memberOf = 0;
        fields >> state >> parent >> memberOf;
        if (fields && memberOf == group && state != 'Z' && state != 'X') {
            live = true;
            break;
        }
    }
    ::closedir(processes);
    return live;
}

} // namespace

VorkChildDeadline::VorkChildDeadline(pid_t pid, bool group)
    : m_pid(pid), m_bGroup(group), m_pidFd(openProcessDescriptor(pid)) {}

VorkChildDeadline::~VorkChildDeadline() = default;

bool VorkChildDeadline::collect(int options, int* exitCode) {
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(m_pid, &status, options)) < 0 && errno == EINTR) {
    }
    if (done == 0) return false;
    // A child that someone else collected has ended all the same.
    m_bCollected = true;
    if (exitCode) *exitCode = done == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

bool VorkChildDeadline::gone() const {
    if (!m_bCollected) return false;
    // Until its leader is collected the group's id cannot be taken by
    // another process; afterwards only the members left keep it.
    if (!m_bGroup || (::kill(-m_pid, 0) != 0 && errno == ESRCH)) return true;
    return !hasLiveMember(m_pid);
}

void VorkChildDeadline::signal(int signalNumber) const {
    if (m_bGroup) {
        ::kill(-m_pid, signalNumber);
    } else if (!m_bCollected) {
        ::kill(m_pid, signalNumber);
    }
}

void VorkChildDeadline::pause(milliseconds limit) const {
    limit = std::clamp(limit, milliseconds(0), kLongestPause);
    if (m_pidFd.isOpen() && !m_bCollected) {
        pollfd child{m_pidFd.get(), POLLIN, 0};
        ::poll(&child, 1, static_cast<int>(limit.count()));
    } else {
        ::poll(nullptr, 0, static_cast<int>(std::min(limit, kStep).count()));
    }
}

bool VorkChildDeadline::waitFor(milliseconds time, int* exitCode) {
    const steady_clock::time_point deadline = steady_clock::now() + time;
    for (;;) {
        if (collect(WNOHANG, exitCode)) return true;
        const milliseconds left = timeLeft(deadline);
        if (left <= milliseconds(0)) return false;
        pause(left);
    }
}

void VorkChildDeadline::end(milliseconds grace) {
    signal(SIGTERM);
    const steady_clock::time_point deadline = steady_clock::now() + grace;
    for (;;) {
        if (!m_bCollected) collect(WNOHANG, nullptr);
        if (gone()) return;
        const milliseconds left = timeLeft(deadline);
        if (left <= milliseconds(0)) break;
        pause(left);
    }
    signal(SIGKILL);
    if (!m_bCollected) collect(0, nullptr);
}

} // namespace VorkSupport
