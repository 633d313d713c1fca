#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "VorkThread.h"

using namespace VorkSupport;

namespace {

class Worker : public VorkThread {
public:
    ~Worker() override { wait(); }
    int work() override {
        m_threadId = std::this_thread::get_id();
        if (m_selfWait) m_selfWaitResult = wait() ? 1 : 0;
        if (m_untilStopped) {
            while (!stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (m_throw) throw 5;
        return ++m_runs;
    }
    std::atomic<int> m_runs{0};
    bool m_selfWait = false;
    bool m_untilStopped = false;
    bool m_throw = false;
    int m_selfWaitResult = -1;
    std::thread::id m_threadId;
};

} // namespace

TEST(VorkThread, RunsWorkOnANewThreadAndCanRunAgain) {
    Worker worker;
    worker.setWorkInfo("resume");
    worker.setPriority(2);
    ASSERT_TRUE(worker.start());
    EXPECT_TRUE(worker.wait());
    EXPECT_EQ(worker.result(), 1);
    EXPECT_NE(worker.m_threadId, std::this_thread::get_id());
    ASSERT_TRUE(worker.start());
    worker.wait();
    EXPECT_EQ(worker.result(), 2);
    EXPECT_EQ(worker.run(), 3); // run() on the calling thread
    EXPECT_EQ(worker.m_threadId, std::this_thread::get_id());
    EXPECT_EQ(worker.workInfo(), "resume");
    EXPECT_EQ(worker.priority(), 2);
}

TEST(VorkThread, StopIsAskedNotForcedAndSecondStartIsRefused) {
    Worker worker;
    worker.m_untilStopped = true;
    ASSERT_TRUE(worker.start());
    EXPECT_FALSE(worker.start());
    worker.stop();
    EXPECT_TRUE(worker.wait());
    EXPECT_TRUE(worker.stopRequested());
}

TEST(VorkThread, WaitFromTheThreadItselfAndAFailingWorkDoNotHang) {
    Worker self;
    self.m_selfWait = true;
    ASSERT_TRUE(self.start());
    self.wait();
    EXPECT_EQ(self.m_selfWaitResult, 0);

    Worker failing;
    failing.m_throw = true;
    ASSERT_TRUE(failing.start());
    failing.wait();
    EXPECT_EQ(failing.result(), -1);
}
