#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

// The live view of an update that this process runs: a second process,
// forked before the update starts, asks the plug-in for progress through
// the data manager (ProgressWatch) and renders what it learns on standard
// error; when the update has answered, the answer goes to it through a
// socket, it renders the last lines and the summary, and ends. A second
// process rather than a thread: the plug-in keeps process-wide state (the
// debug log, the current directory during a call) that a concurrent call in
// the same process would change under the running update.
class UpdateFollower {
public:
    // total: packages in the bundle (0 unknown).
    UpdateFollower(uint64_t plugin, double intervalSeconds, int total);
    // Waits for the second process if it is still there.
    ~UpdateFollower();
    UpdateFollower(const UpdateFollower&) = delete;
    UpdateFollower& operator=(const UpdateFollower&) = delete;

    // Starts the second process; false (and no view) when it cannot start.
    bool start();
    // Hands the update's answer over and waits until the view has ended.
    void finish(const std::string& answer);

private:
    [[noreturn]] void follow(int socket) const;

    uint64_t m_nPlugin;
    double m_dInterval;
    int m_nTotal;
    pid_t m_nChild = -1;
    int m_nSocket = -1;
};
