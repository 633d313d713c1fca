#include "VorkStartChild.h"

#include <fcntl.h>
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
using SpawnActions = SpawnObject<posix_spawn_file_actions_t, ::posix_spawn_file_actions_init,
                                 ::posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, ::posix_spawnattr_init, ::posix_spawnattr_destroy>;

// The descriptors the child fills are 0 to 3; a descriptor of the caller
// that already has one of those numbers (a caller started with a standard
// stream closed) is copied above them first, so that filling one never
// overwrites another still to be copied.
constexpr int kFirstFreeDescriptor = 10;

int liftedCopy(int fd, FileHandle& copy) {
    if (fd < 0 || fd >= kFirstFreeDescriptor) return fd;
    copy = FileHandle(::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFreeDescriptor));
    return copy.get();
}

// The program started from its descriptor: the kernel opens the file that
// descriptor 3 of the child holds, and a "#!" script's interpreter opens the
// same name, which in its process is the same open file.
constexpr const char* kProgramByDescriptor = "/proc/self/fd/3";

} // namespace

int VorkStartChild(const VorkChildSetup& setup, pid_t& pid) {
    std::vector<std::string> arguments = setup.arguments;
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    FileHandle outputCopy;
    FileHandle programCopy;
    const int output = liftedCopy(setup.outputFd, outputCopy);
    const int program = liftedCopy(setup.programFd, programCopy);
    if ((setup.outputFd >= 0 && output < 0) || (setup.programFd >= 0 && program < 0)) return errno;

    SpawnActions actions;
    SpawnAttributes attributes;
    if (!actions.ok() || !attributes.ok()) return ENOMEM;
    int rc = ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0 && output >= 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), output, 1);
    if (rc == 0 && output >= 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), output, 2);
    // dup2 clears close-on-exec: the script interpreter can read descriptor 3.
    if (rc == 0 && program >= 0) rc = ::posix_spawn_file_actions_adddup2(actions.get(), program, 3);
    if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(actions.get(), program >= 0 ? 4 : 3);
    if (rc == 0 && !setup.workingDirectory.empty())
        rc = ::posix_spawn_file_actions_addchdir_np(actions.get(), setup.workingDirectory.c_str());
    if (rc == 0 && setup.ownProcessGroup) {
        rc = ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETPGROUP);
        if (rc == 0) rc = ::posix_spawnattr_setpgroup(attributes.get(), 0);
    }
    if (rc != 0) return rc;
    // The caller's signal handlers never run in the child: posix_spawn sets
    // every caught signal back to its default before the exec.
    const char* path = program >= 0 ? kProgramByDescriptor : setup.program.c_str();
    return ::posix_spawn(&pid, path, actions.get(), attributes.get(), argv.data(), environ);
}

} // namespace VorkSupport
