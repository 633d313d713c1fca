#include "VorkFaultSeam.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace VorkSupport {

namespace {

struct Plan {
    std::atomic<bool> armed{false};
    std::atomic<int> call{0};
    std::atomic<int> action{0};
    std::atomic<long> remaining{0};
    std::atomic<bool> fired{false};
    // A write cut short makes the next write fail, as a full disk does.
    std::atomic<bool> failNextWrite{false};
    // Armed from VSUPT_FAULT: a fault that fires says so on standard error,
    // so that a driver outside the process can count it.
    std::atomic<bool> announce{false};
    std::atomic<VorkFaultSeam::FireHook> fireHook{nullptr};
};

Plan& plan() {
    static Plan instance;
    return instance;
}

void callFireHook() {
    if (const VorkFaultSeam::FireHook hook = plan().fireHook.load()) hook();
}

// Whether this call is the one the plan aims at; counts it when it is of the
// planned kind.
bool due(VorkFaultSeam::Call call, VorkFaultSeam::Action& action) {
    Plan& p = plan();
    if (!p.armed.load(std::memory_order_relaxed)) return false;
    if (p.call.load() != static_cast<int>(call)) return false;
    if (p.remaining.fetch_sub(1) != 1) return false;
    p.fired = true;
    action = static_cast<VorkFaultSeam::Action>(p.action.load());
    if (p.announce) std::fprintf(stderr, "VSUPT_FAULT fired\n");
    if (action == VorkFaultSeam::Action::Kill) ::kill(::getpid(), SIGKILL);
    callFireHook();
    return true;
}

#ifdef VSUPT_FAULT_SEAM
// VSUPT_FAULT=<call>:<n>[:<action>], read once when the library loads.
struct EnvironmentPlan {
    EnvironmentPlan() {
        const char* text = std::getenv("VSUPT_FAULT");
        if (text == nullptr) return;
        char callName[16] = {};
        char actionName[16] = "fail";
        long n = 0;
        if (std::sscanf(text, "%15[a-z]:%ld:%15[a-z]", callName, &n, actionName) < 2 || n <= 0) return;
        VorkFaultSeam::Call call = VorkFaultSeam::Call::Write;
        if (std::strcmp(callName, "fsync") == 0) call = VorkFaultSeam::Call::Fsync;
        else if (std::strcmp(callName, "rename") == 0) call = VorkFaultSeam::Call::Rename;
        else if (std::strcmp(callName, "write") != 0) return;
        VorkFaultSeam::Action action = VorkFaultSeam::Action::Fail;
        if (std::strcmp(actionName, "short") == 0) action = VorkFaultSeam::Action::Short;
        else if (std::strcmp(actionName, "kill") == 0) action = VorkFaultSeam::Action::Kill;
        VorkFaultSeam::arm(call, n, action);
        plan().announce = true;
    }
};
const EnvironmentPlan g_environmentPlan;
#endif

} // namespace

void VorkFaultSeam::arm(Call call, long n, Action action) {
    Plan& p = plan();
    p.armed = false;
    p.call = static_cast<int>(call);
    p.action = static_cast<int>(action);
    p.remaining = n;
    p.fired = false;
    p.failNextWrite = false;
    p.armed = true;
}

void VorkFaultSeam::disarm() {
    plan().armed = false;
    plan().failNextWrite = false;
}

bool VorkFaultSeam::fired() {
    return plan().fired.load();
}

void VorkFaultSeam::setFireHook(FireHook hook) {
    plan().fireHook.store(hook);
}

ssize_t VorkFaultSeam::write(int fd, const void* data, std::size_t size) {
    if (plan().failNextWrite.exchange(false)) {
        callFireHook();
        errno = ENOSPC;
        return -1;
    }
    Action action = Action::Fail;
    if (due(Call::Write, action)) {
        if (action == Action::Short && size > 1) {
            plan().failNextWrite = true;
            return ::write(fd, data, size / 2);
        }
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, data, size);
}

namespace {

// Whether the seam fails this call now; errno then says why, as the failing
// system call would.
bool failsNow(VorkFaultSeam::Call call, int error) {
    VorkFaultSeam::Action action = VorkFaultSeam::Action::Fail;
    if (!due(call, action)) return false;
    errno = error;
    return true;
}

} // namespace

int VorkFaultSeam::fsync(int fd) {
    return failsNow(Call::Fsync, EIO) ? -1 : ::fsync(fd);
}

int VorkFaultSeam::fdatasync(int fd) {
    return failsNow(Call::Fsync, EIO) ? -1 : ::fdatasync(fd);
}

int VorkFaultSeam::rename(const std::string& from, const std::string& to) {
    return failsNow(Call::Rename, EXDEV) ? -1 : std::rename(from.c_str(), to.c_str());
}

} // namespace VorkSupport
