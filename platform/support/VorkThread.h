#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace VorkSupport {

// A thread whose work is the callable it is given.
//  - start() runs the work on a new thread. start() answers false when the
//    thread cannot be created or is already running.
//  - wait() joins the thread (a no-op when it is not running or is the
//    calling thread itself).
//  - stop() asks the work to end: it sets a flag that the work may poll
//    with stopRequested(); it does not kill the thread.
//  - failed() tells whether the last run ended with an exception.
//  - The destructor waits for the thread, so a VorkThread never outlives
//    the work it runs; whatever the work uses must outlive the VorkThread.
class VorkThread {
public:
    explicit VorkThread(std::function<void()> work);
    ~VorkThread();

    [[nodiscard]] bool start();
    void stop();
    bool wait();
    // A descriptive text, used in log records.
    void setWorkInfo(const std::string& info);

    bool stopRequested() const { return m_stop; }
    const std::string& workInfo() const { return m_workInfo; }
    bool failed() const { return m_failed; }

    VorkThread(const VorkThread&) = delete;
    VorkThread& operator=(const VorkThread&) = delete;

private:
    std::function<void()> m_work;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<std::thread::id> m_workerId{};
    std::string m_workInfo;
    std::atomic<bool> m_failed{false};
};

} // namespace VorkSupport
