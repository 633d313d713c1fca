#pragma once
#include <sys/types.h>

#include <chrono>
#include <unordered_set>
#include <vector>

#include "FileHandle.h"

namespace VorkSupport {

class VorkOutputCap;

// Waits for a started child, within a time limit when it has one, and ends
// it when the limit has passed. It keeps a process descriptor of the child
// while it can, so a wait wakes the moment the child ends; without one it
// looks in short steps. While it waits it keeps the child's output within
// its cap, when it has one.
//
// With adoptOrphans, this process is a child subreaper from construction to
// destruction: a process the child starts that loses its parent (a daemon
// that forked twice, one that called setsid) becomes this process's child
// instead of init's, so that ending the child ends every process that
// descends from it, also one that left its process group. No thread or
// process is left behind: the subreaper setting goes back to what it was,
// and descendants that have ended are collected.
class VorkChildDeadline {
public:
    // Made before the child starts. group: the child will lead a process
    // group of its own, and ending it ends every process of that group.
    VorkChildDeadline(bool group, bool adoptOrphans);
    ~VorkChildDeadline();

    VorkChildDeadline(const VorkChildDeadline&) = delete;
    VorkChildDeadline& operator=(const VorkChildDeadline&) = delete;

    // The child that has started; cap, when not null, is checked while it
    // is waited for.
    void watch(pid_t pid, VorkOutputCap* cap);
    // Waits until the child ends or the time has passed (a negative time
    // waits for ever). True when it ended: it is collected and *exitCode
    // (when not null) holds its exit status, or -1 when a signal ended it or
    // its status cannot be had.
    bool waitFor(std::chrono::milliseconds time, int* exitCode);
    // Sends SIGTERM to the child, its group and every process descending
    // from it; when any of them is still there after grace, SIGKILL. Collects
    // the child and the descendants it adopted.
    void end(std::chrono::milliseconds grace);

private:
    // Collects the child when it has ended (options as for waitpid).
    bool collect(int options, int* exitCode);
    // The live processes that descend from the child, or that this process
    // adopted since the child started.
    std::vector<pid_t> descendants() const;
    // Collects the adopted descendants that have ended.
    void collectAdopted() const;
    // Whether nothing of the child is left to end.
    bool gone() const;
    void signal(int signalNumber) const;
    // Sleeps up to limit, waking early when the child ends or its output
    // grows; checks the output cap.
    void pause(std::chrono::milliseconds limit) const;

    pid_t m_pid = -1;
    bool m_bGroup;
    bool m_bAdopting = false;
    int m_nFormerSubreaper = 0;
    // The child's start, in clock ticks since boot: what this process
    // adopted later is the child's.
    unsigned long long m_nStartTime = 0;
    // Children this process had when the child started (what earlier
    // packages left running and this process adopted): never the child's.
    std::unordered_set<pid_t> m_formerChildren;
    FileHandle m_pidFd;
    VorkOutputCap* m_pCap = nullptr;
    bool m_bCollected = false;
};

} // namespace VorkSupport
