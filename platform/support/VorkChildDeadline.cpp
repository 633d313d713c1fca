#include "VorkChildDeadline.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unordered_map>

#include "VorkOutputCap.h"

namespace VorkSupport {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Sleeps without a descriptor to wake on are this short (shorter while an
// output cap must be looked at), and no single sleep is longer than an hour
// (poll takes an int of milliseconds).
constexpr milliseconds kStep(100);
constexpr milliseconds kCapStep(20);
constexpr milliseconds kLongestPause(3600 * 1000);
// How often SIGKILL goes out again to descendants that appear meanwhile.
constexpr int kKillRounds = 20;

// A process descriptor of the child, or -1 (an old kernel). Always
// close-on-exec.
int openProcessDescriptor(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }

milliseconds timeLeft(steady_clock::time_point deadline) {
    if (deadline == steady_clock::time_point::max()) return kLongestPause;
    return std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
}

// One line of the process table.
struct Process {
    pid_t pid = 0;
    pid_t parent = 0;
    pid_t group = 0;
    char state = 'Z';
    unsigned long long startTime = 0;
    bool live() const { return state != 'Z' && state != 'X'; }
};

bool readProcess(const char* name, Process& process) {
    std::ifstream stat(std::string("/proc/") + name + "/stat");
    std::string text;
    std::getline(stat, text);
    // After the name in parentheses: state, parent, group, and the start
    // time as field 22.
    const std::string::size_type end = text.rfind(')');
    if (end == std::string::npos) return false;
    std::istringstream fields(text.substr(end + 1));
    long parent = 0;
    long group = 0;
    fields >> process.state >> parent >> group;
    std::string skipped;
    for (int field = 6; field < 22 && fields; ++field) fields >> skipped;
    fields >> process.startTime;
    process.pid = static_cast<pid_t>(std::atol(name));
    process.parent = static_cast<pid_t>(parent);
    process.group = static_cast<pid_t>(group);
    return static_cast<bool>(fields);
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

std::vector<Process> processTable() {
    std::vector<Process> table;
    const std::unique_ptr<DIR, DirectoryCloser> processes(::opendir("/proc"));
    if (!processes) return table;
    while (const dirent* entry = ::readdir(processes.get())) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        Process process;
        if (readProcess(entry->d_name, process)) table.push_back(process);
    }
    return table;
}

// Whether a process of the group runs. Members that have ended but wait for
// whoever adopted them to collect them (slow in some containers) do not
// count.
bool hasLiveMember(pid_t group) {
    const std::vector<Process> table = processTable();
    return std::any_of(table.begin(), table.end(), [group](const Process& p) { return p.group == group && p.live(); });
}

// Whether a process is one this process adopted since the child started.
// Start times count in clock ticks, so what an earlier package left running
// may share the child's; those processes are known from before.
bool adopted(const Process& process, pid_t child, unsigned long long since,
             const std::unordered_set<pid_t>& formerChildren) {
    return process.parent == ::getpid() && process.pid != child && process.startTime >= since &&
           formerChildren.count(process.pid) == 0;
}

} // namespace

VorkChildDeadline::VorkChildDeadline(bool group, bool adoptOrphans) : m_bGroup(group) {
    if (!adoptOrphans) return;
    if (::prctl(PR_GET_CHILD_SUBREAPER, &m_nFormerSubreaper) != 0) m_nFormerSubreaper = 0;
    m_bAdopting = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    // Before the child starts: whatever is this process's child now is not
    // the child's.
    if (!m_bAdopting) return;
    for (const Process& other : processTable())
        if (other.parent == ::getpid()) m_formerChildren.insert(other.pid);
}

VorkChildDeadline::~VorkChildDeadline() {
    if (!m_bAdopting) return;
    collectAdopted();
    // What is still running stays this process's child until it ends; what
    // loses its parent from now on goes to init, as before.
    ::prctl(PR_SET_CHILD_SUBREAPER, m_nFormerSubreaper);
}

void VorkChildDeadline::watch(pid_t pid, VorkOutputCap* cap) {
    m_pid = pid;
    m_pCap = cap;
    m_pidFd = FileHandle(openProcessDescriptor(pid));
    Process process;
    if (readProcess(std::to_string(pid).c_str(), process)) m_nStartTime = process.startTime;
}

bool VorkChildDeadline::collect(int options, int* exitCode) {
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(m_pid, &status, options)) < 0 && errno == EINTR) {}
    if (done == 0) return false;
    // A child that someone else collected has ended all the same.
    m_bCollected = true;
    if (exitCode) *exitCode = done == m_pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

std::vector<pid_t> VorkChildDeadline::descendants() const {
    const std::vector<Process> table = processTable();
    std::unordered_multimap<pid_t, const Process*> children;
    std::vector<const Process*> pending;
    for (const Process& process : table) {
        children.emplace(process.parent, &process);
        if (process.pid == m_pid || (m_bAdopting && adopted(process, m_pid, m_nStartTime, m_formerChildren)))
            pending.push_back(&process);
    }
    std::vector<pid_t> found;
    while (!pending.empty()) {
        const Process* process = pending.back();
        pending.pop_back();
        if (process->live()) found.push_back(process->pid);
        const auto range = children.equal_range(process->pid);
        for (auto it = range.first; it != range.second; ++it) pending.push_back(it->second);
    }
    return found;
}

void VorkChildDeadline::collectAdopted() const {
    if (!m_bAdopting) return;
    for (const Process& process : processTable()) {
        if (!process.live() && adopted(process, m_pid, m_nStartTime, m_formerChildren))
            ::waitpid(process.pid, nullptr, WNOHANG);
    }
}

bool VorkChildDeadline::gone() const {
    if (!m_bCollected) return false;
    if (!descendants().empty()) return false;
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
    for (const pid_t descendant : descendants()) {
        if (descendant != m_pid) ::kill(descendant, signalNumber);
    }
}

void VorkChildDeadline::pause(milliseconds limit) const {
    limit = std::clamp(limit, milliseconds(0), kLongestPause);
    pollfd wake[2] = {{-1, POLLIN, 0}, {-1, POLLIN, 0}};
    milliseconds step = kStep;
    if (m_pidFd.isOpen() && !m_bCollected) {
        wake[0].fd = m_pidFd.get();
        step = kLongestPause;
    }
    if (m_pCap != nullptr && m_pCap->active()) {
        wake[1].fd = m_pCap->wakeFd();
        if (wake[1].fd < 0) step = std::min(step, kCapStep);
    }
    ::poll(wake, 2, static_cast<int>(std::min(limit, step).count()));
    if (m_pCap != nullptr) m_pCap->check();
}

bool VorkChildDeadline::waitFor(milliseconds time, int* exitCode) {
    const steady_clock::time_point deadline =
        time < milliseconds(0) ? steady_clock::time_point::max() : steady_clock::now() + time;
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
        collectAdopted();
        if (gone()) return;
        const milliseconds left = timeLeft(deadline);
        if (left <= milliseconds(0)) break;
        pause(std::min(left, kStep));
    }
    // Descendants may start or be adopted while the others die: the kill
    // goes out again until none is left.
    for (int round = 0; round < kKillRounds; ++round) {
        signal(SIGKILL);
        if (!m_bCollected) collect(round + 1 == kKillRounds ? 0 : WNOHANG, nullptr);
        collectAdopted();
        if (gone()) break;
        ::poll(nullptr, 0, 10);
    }
    if (!m_bCollected) collect(0, nullptr);
    collectAdopted();
}

} // namespace VorkSupport
