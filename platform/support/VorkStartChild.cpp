#include "VorkStartChild.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>

#include "FileHandle.h"

extern char** environ;

namespace VorkSupport {

namespace {

// posix_spawn shares the caller's memory until the exec (vfork semantics):
// starting a child costs the same whatever the size of the caller, where a
// fork copies its page tables for every package.

// Owns one of posix_spawn's argument objects (file actions, attributes).
template <typename T, int (*Init)(T*), int (*Destroy)(T*)>
class SpawnObject {
public:
    SpawnObject() { m_ok = Init(&m_object) == 0; }
    ~SpawnObject() {
        if (m_ok) Destroy(&m_object);
    }
    SpawnObject(const SpawnObject&) = delete;
    SpawnObject& operator=(const SpawnObject&) = delete;
    bool ok() const { return m_ok; }
    T* get() { return &m_object; }

private:
    T m_object{};
    bool m_ok = false;
};
using SpawnActions =
    SpawnObject<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init, ::posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

// The descriptors the child fills are 0 to 2; a descriptor of the caller
// that already has one of those numbers (a caller started with a standard
// stream closed) is copied above them first, so that filling one never
// overwrites another still to be copied.
constexpr int kFirstFreeDescriptor = 10;

int liftedCopy(int fd, FileHandle& copy) {
    if (fd < 0 || fd >= kFirstFreeDescriptor) return fd;
    copy = FileHandle(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFreeDescriptor));
    return copy.get();
}

// Adds a signal that sigaddset refuses: the C library keeps the two below
// SIGRTMIN for itself, and its posix_spawn leaves them ignored in the child
// unless they are asked to be reset (the child blocks every signal until the
// exec, so nothing reaches it meanwhile). The bit is where the library's own
// sigset_t keeps it.
void addReservedSignal(sigset_t& set, int signalNumber) {
    constexpr int kBitsPerWord = static_cast<int>(8 * sizeof(unsigned long));
    reinterpret_cast<unsigned long*>(&set)[(signalNumber - 1) / kBitsPerWord] |= 1UL
                                                                                 << ((signalNumber - 1) % kBitsPerWord);
}

// A program inherits the signal mask and the ignored signals of whoever
// starts it: a host thread that blocks or ignores SIGTERM would hand that on
// to a package, which then could not be ended. Every child starts clean.
int cleanSignals(posix_spawnattr_t* attributes, short& flags) {
    sigset_t set;
    ::sigemptyset(&set);
    int rc = ::posix_spawnattr_setsigmask(attributes, &set);
    ::sigfillset(&set);
    for (int signalNumber = 1; signalNumber < SIGRTMIN; ++signalNumber) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP && ::sigismember(&set, signalNumber) != 1)
            addReservedSignal(set, signalNumber);
    }
    if (rc == 0) rc = ::posix_spawnattr_setsigdefault(attributes, &set);
    flags |= POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    return rc;
}

} // namespace

int VorkStartChild(const VorkChildSetup& setup, pid_t& pid) {
    std::vector<std::string> arguments = setup.arguments;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    FileHandle outputCopy;
    const int output = liftedCopy(setup.outputFd, outputCopy);
    if (setup.outputFd >= 0 && output < 0) return errno;

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok()) return ENOMEM;
    int rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && output >= 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), output, 1);
    if (rc == 0 && output >= 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), output, 2);
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);
    if (rc == 0 && !setup.workingDirectory.empty())
        rc = ::posix_spawn_file_actions_addchdir_np(actions.get(), setup.workingDirectory.c_str());
    short flags = 0;
    if (rc == 0) rc = cleanSignals(attributes.get(), flags);
    if (rc == 0 && setup.ownProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        rc = ::posix_spawnattr_setpgroup(attributes.get(), 0);
    }
    if (rc == 0) rc = ::posix_spawnattr_setflags(attributes.get(), flags);
    if (rc != 0) return rc;
    return ::posix_spawn(&pid, setup.program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
}

} // namespace VorkSupport
