#pragma once
#include <sys/types.h>

#include <chrono>

#include "FileHandle.h"

namespace VorkSupport {

// Waits for a started child with a time limit, and ends it when the limit
// has passed. It keeps a process descriptor of the child while it can, so a
// wait wakes the moment the child ends; without one it looks in short steps.
class VorkChildDeadline {
public:
    // group: the child leads a process group of its own, and ending it ends
    // every process of that group.
    VorkChildDeadline(pid_t pid, bool group);
    ~VorkChildDeadline();

    VorkChildDeadline(const VorkChildDeadline&) = delete;
    VorkChildDeadline& operator=(const VorkChildDeadline&) = delete;

    // Waits until the child ends or the time has passed. True when it ended:
    // it is collected and *exitCode (when not null) holds its exit status,
    // or -1 when a signal ended it or its status cannot be had.
    bool waitFor(std::chrono::milliseconds time, int* exitCode);
    // Sends SIGTERM; when the child, or any process of its group, is still
    // there after grace, sends SIGKILL. Collects the child.
    void end(std::chrono::milliseconds grace);

private:
    // Collects the child when it has ended (options as for waitpid).
    bool collect(int options, int* exitCode);
    // Whether nothing of the child is left to end.
    bool gone() const;
    void signal(int signalNumber) const;
    // Sleeps up to limit, waking early when the child ends.
    void pause(std::chrono::milliseconds limit) const;

    pid_t m_pid;
    bool m_bGroup;
    FileHandle m_pidFd;
    bool m_bCollected = false;
};

} // namespace VorkSupport
