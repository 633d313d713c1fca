#include "VorkFaultSeam.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "VorkFaultSeamModel.h"

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

// What a call acts on, for the announcement: the file of fd, or name (in
// the directory fd when both are given).
std::string target(int fd, const std::string& name) {
    if (fd < 0) return name;
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof path - 1);
    if (length <= 0) return name;
    const std::string file(path, static_cast<std::size_t>(length));
    return name.empty() ? file : file + "/" + name;
}

void callFireHook(int fd, const std::string& name) {
    if (const VorkFaultSeam::FireHook hook = plan().fireHook.load()) hook(target(fd, name));
}

// Whether this call is the one the plan aims at; counts it when it is of the
// planned kind.
bool due(VorkFaultSeam::Call call, VorkFaultSeam::Action& action, int fd = -1, const std::string& name = "") {
    Plan& p = plan();
    if (!p.armed.load(std::memory_order_relaxed)) return false;
    if (p.call.load() != static_cast<int>(call)) return false;
    if (p.remaining.fetch_sub(1) != 1) return false;
    p.fired = true;
    action = static_cast<VorkFaultSeam::Action>(p.action.load());
    // The file it hit comes with the announcement.
    if (p.announce) std::fprintf(stderr, "VSUPT_FAULT fired: %s\n", target(fd, name).c_str());
    if (action == VorkFaultSeam::Action::Kill) ::kill(::getpid(), SIGKILL);
    callFireHook(fd, name);
    return true;
}

// Whether the seam fails this call now; errno then says why, as the failing
// system call would.
bool failsNow(VorkFaultSeam::Call call, int error, int fd, const std::string& name) {
    VorkFaultSeam::Action action = VorkFaultSeam::Action::Fail;
    if (!due(call, action, fd, name)) return false;
    errno = error;
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
        else if (std::strcmp(callName, "open") == 0) call = VorkFaultSeam::Call::Open;
        else if (std::strcmp(callName, "alloc") == 0) call = VorkFaultSeam::Call::Allocate;
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

bool VorkFaultSeam::fired() { return plan().fired.load(); }

void VorkFaultSeam::setFireHook(FireHook hook) { plan().fireHook.store(hook); }

ssize_t VorkFaultSeam::write(int fd, const void* data, std::size_t size) {
    const bool modelled = VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("write", fd);
    if (plan().failNextWrite.exchange(false)) {
        callFireHook(fd, std::string());
        errno = ENOSPC;
        return -1;
    }
    Action action = Action::Fail;
    if (due(Call::Write, action, fd)) {
        if (action == Action::Short && size > 1) {
            plan().failNextWrite = true;
            return ::write(fd, data, size / 2);
        }
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, data, size);
}

bool VorkFaultSeam::allocationFails() { return failsNow(Call::Allocate, ENOMEM, -1, "allocation"); }

int VorkFaultSeam::fsync(int fd) {
    const bool modelled = VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("fsync", fd);
    if (failsNow(Call::Fsync, EIO, fd, "")) return -1;
    const int result = ::fsync(fd);
    if (result == 0 && modelled) VorkFaultSeamModel::synced(fd);
    return result;
}

int VorkFaultSeam::fdatasync(int fd) {
    const bool modelled = VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("fdatasync", fd);
    if (failsNow(Call::Fsync, EIO, fd, "")) return -1;
    const int result = ::fdatasync(fd);
    if (result == 0 && modelled) VorkFaultSeamModel::synced(fd);
    return result;
}

int VorkFaultSeam::openAt(int directory, const std::string& name, int flags, mode_t mode) {
    const bool creates = (flags & O_CREAT) != 0;
    const bool modelled = creates && VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("open", -1);
    if (creates && failsNow(Call::Open, EIO, directory, name)) return -1;
    const int fd = ::openat(directory, name.c_str(), flags | O_CLOEXEC, mode);
    if (fd >= 0 && modelled) VorkFaultSeamModel::created(fd, directory, name, flags);
    return fd;
}

int VorkFaultSeam::renameAt(int fromDirectory, const std::string& from, int toDirectory, const std::string& to,
                            unsigned flags) {
    const bool modelled = VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("rename", -1);
    if (failsNow(Call::Rename, EXDEV, toDirectory, to)) return -1;
    VorkFaultSeamModel::Replaced replaced;
    if (modelled) replaced = VorkFaultSeamModel::beforeReplace(toDirectory, to);
    const int result = ::renameat2(fromDirectory, from.c_str(), toDirectory, to.c_str(), flags);
    if (result == 0 && modelled) VorkFaultSeamModel::renamed(fromDirectory, from, toDirectory, to, replaced);
    return result;
}

int VorkFaultSeam::rename(const std::string& from, const std::string& to) {
    return renameAt(AT_FDCWD, from, AT_FDCWD, to, 0);
}

int VorkFaultSeam::unlinkAt(int directory, const std::string& name) {
    const bool modelled = VorkFaultSeamModel::modelling();
    if (modelled) VorkFaultSeamModel::step("unlink", -1);
    VorkFaultSeamModel::Replaced removed;
    if (modelled) removed = VorkFaultSeamModel::beforeReplace(directory, name);
    const int result = ::unlinkat(directory, name.c_str(), 0);
    if (result == 0 && modelled) VorkFaultSeamModel::removed(directory, name, removed);
    return result;
}

int VorkFaultSeam::unlink(const std::string& name) { return unlinkAt(AT_FDCWD, name); }

} // namespace VorkSupport
