#pragma once
#include <atomic>
#include <string>
#include <thread>

namespace VorkSupport {

// A thread whose work is the subclass's work() operation.
//  - start() runs run() on a new thread; run() calls work(). start() answers
//    false when the thread cannot be created or is already running.
//  - wait() joins the thread (a no-op when it is not running or is the
//    calling thread itself).
//  - stop() asks the work to end: it sets a flag that work() may poll with
//    stopRequested(); it does not kill the thread.
//  - The destructor waits for the thread, so a VorkThread never outlives
//    the work it runs. Subclasses whose work uses their own members must
//    call wait() in their own destructor.
class VorkThread {
public:
    VorkThread();
    virtual ~VorkThread();

    [[nodiscard]] virtual bool start();
    virtual void stop();
    virtual bool wait();
    // Recorded only; the platform scheduler is not changed.
    virtual void setPriority(int priority);
    // A descriptive text, used in log records.
    virtual void setWorkInfo(const std::string& info);
    // Runs work() on the calling thread and returns its result.
    virtual int run();
    // The thread's work.
    virtual int work() = 0;

    bool stopRequested() const { return m_stop; }
    int priority() const { return m_priority; }
    const std::string& workInfo() const { return m_workInfo; }
    int result() const { return m_result; }

    VorkThread(const VorkThread&) = delete;
    VorkThread& operator=(const VorkThread&) = delete;

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    std::atomic<std::thread::id> m_workerId{};
    int m_priority = 0;
    std::string m_workInfo;
    int m_result = 0;
};

} // namespace VorkSupport
