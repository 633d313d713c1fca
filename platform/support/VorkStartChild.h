#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace VorkSupport {

// Everything one child start needs.
struct VorkChildSetup {
    // The executable started when programFd is -1.
    std::string program;
    // An open program file that is started itself, whatever its path names
    // by now; -1 when program names the executable.
    int programFd = -1;
    // The whole argument vector, argv[0] included.
    std::vector<std::string> arguments;
    // Receives the child's standard output and error; -1 leaves them the
    // caller's.
    int outputFd = -1;
    // The child's current directory when not empty.
    std::string workingDirectory;
    // The child leads a process group of its own.
    bool ownProcessGroup = false;
};

// Starts a child without a shell. Its standard input is /dev/null and no
// descriptor but 0, 1 and 2 reaches it, except that a program started from
// programFd keeps that file open as descriptor 3, where the interpreter of a
// "#!" script reads it (through /proc/self/fd/3). Answers 0 with the child's
// pid in pid, or the errno that kept the program from starting.
[[nodiscard]] int VorkStartChild(const VorkChildSetup& setup, pid_t& pid);

} // namespace VorkSupport
