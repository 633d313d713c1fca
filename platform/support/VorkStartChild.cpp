#include "VorkStartChild.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "FileHandle.h"

extern char** environ;

namespace VorkSupport {

namespace {

// The first descriptor number a moved descriptor may take: above 0..4,
// which the child fills.
constexpr int kFirstFreeDescriptor = 10;

// The child's way out when it cannot run the program: the errno goes back
// to the parent through the report pipe.
[[noreturn]] void failChild(int reportFd) {
    const int error = errno;
    [[maybe_unused]] const ssize_t written = ::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

// A copy of fd above the descriptors the child fills, so that filling them
// never overwrites a descriptor still to be copied; -1 stays -1.
int lifted(int fd, int reportFd) {
    if (fd < 0) return -1;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
    if (copy < 0) failChild(reportFd);
    return copy;
}

void closeFrom(int first, int limit) {
    if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
    for (int fd = first; fd < limit; ++fd) ::close(fd);
}

// The caller's signal handlers must not run in the child: they go back to
// the default before the caller's signal mask returns.
void resetSignals(const sigset_t& callerMask) {
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0) continue;
        if (action.sa_handler == SIG_DFL || action.sa_handler == SIG_IGN) continue;
        action.sa_handler = SIG_DFL;
        action.sa_flags = 0;
        ::sigaction(signal, &action, nullptr);
    }
    ::pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);
}

// Runs in the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void runChild(const VorkChildSetup& setup, char* const* argv, int nullFd, int reportPipe, int fdLimit,
                           const sigset_t& callerMask) {
    resetSignals(callerMask);
    if (setup.ownProcessGroup && ::setpgid(0, 0) != 0) failChild(reportPipe);
    const int report = lifted(reportPipe, reportPipe);
    const int input = lifted(nullFd, report);
    const int output = lifted(setup.outputFd, report);
    const int program = lifted(setup.programFd, report);

    if (::dup2(input, 0) < 0) failChild(report);
    if (output >= 0 && (::dup2(output, 1) < 0 || ::dup2(output, 2) < 0)) failChild(report);
    // dup2 clears close-on-exec: the script interpreter can open the
    // program as /dev/fd/3.
    if (program >= 0 && ::dup2(program, 3) < 0) failChild(report);
    const int reportSlot = program >= 0 ? 4 : 3;
    if (::dup3(report, reportSlot, O_CLOEXEC) < 0) failChild(report);
    closeFrom(reportSlot + 1, fdLimit);

    if (!setup.workingDirectory.empty() && ::chdir(setup.workingDirectory.c_str()) != 0) failChild(reportSlot);
    if (program >= 0) {
        ::fexecve(3, argv, environ);
    } else {
        ::execve(setup.program.c_str(), argv, environ);
    }
    failChild(reportSlot);
}

// The highest descriptor number to close when close_range is not there.
int descriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 65536)
        return 65536;
    return static_cast<int>(limit.rlim_cur);
}

} // namespace

int VorkStartChild(const VorkChildSetup& setup, pid_t& pid) {
    std::vector<std::string> arguments = setup.arguments;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    const FileHandle nullFd("/dev/null", O_RDONLY);
    if (nullFd.get() < 0) return errno;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return errno;
    const FileHandle readEnd(pipeFds[0]);
    FileHandle writeEnd(pipeFds[1]);
    const int fdLimit = descriptorLimit();

    // No signal reaches the child before its handlers are reset.
    sigset_t all;
    sigset_t callerMask;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &callerMask);
    const pid_t child = ::fork();
    if (child == 0) runChild(setup, argv.data(), nullFd.get(), writeEnd.get(), fdLimit, callerMask);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &callerMask, nullptr);
    if (child < 0) return forkError;

    // The pipe closes at the child's exec: an empty read means it started.
    writeEnd.reset();
    int error = 0;
    ssize_t got;
    while ((got = ::read(readEnd.get(), &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (got != static_cast<ssize_t>(sizeof error)) {
        pid = child;
        return 0;
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return error != 0 ? error : ECHILD;
}

} // namespace VorkSupport
