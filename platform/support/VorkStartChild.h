#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace VorkSupport {

// Everything one child start needs.
struct VorkChildSetup {
    // The executable, by its path.
    std::string program;
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

// Starts a child without a shell. Its standard input is /dev/null, no
// descriptor but 0, 1 and 2 reaches it, and it starts with an empty signal
// mask and every signal at its default disposition, whatever the caller
// blocks, ignores or catches. Answers 0 with the child's pid in pid, or the
// errno that kept the program from starting.
[[nodiscard]] int VorkStartChild(const VorkChildSetup& setup, pid_t& pid);

} // namespace VorkSupport
