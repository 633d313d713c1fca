#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "VorkThread.h"

using namespace VorkSupport;

namespace {

// A thread and the state its work keeps; the work polls the thread it runs
// on for a stop request.
struct Worker {
    Worker() : thread([this] { work(); }) {}
    void work() {
        threadId = std::this_thread::get_id();
        if (selfWait) selfWaitResult = thread.wait() ? 1 : 0;
        if (untilStopped) {
            while (!thread.stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fail) throw 5;
        ++runs;
    }
    std::atomic<int> runs{0};
    bool selfWait = false;
    bool untilStopped = false;
    bool fail = false;
    int selfWaitResult = -1;
    std::thread::id threadId;
    VorkThread thread; // last: it waits for the work before the state goes
};

} // namespace

TEST(VorkThread, RunsItsWorkOnANewThreadAndCanRunAgain) {
    Worker worker;
    worker.thread.setWorkInfo("resume");
    ASSERT_TRUE(worker.thread.start());
    EXPECT_TRUE(worker.thread.wait());
    EXPECT_EQ(worker.runs, 1);
    EXPECT_NE(worker.threadId, std::this_thread::get_id());
    ASSERT_TRUE(worker.thread.start());
    worker.thread.wait();
    EXPECT_EQ(worker.runs, 2);
    EXPECT_FALSE(worker.thread.failed());
    EXPECT_EQ(worker.thread.workInfo(), "resume");
}

TEST(VorkThread, StopIsAskedNotForcedAndSecondStartIsRefused) {
    Worker worker;
    worker.untilStopped = true;
    ASSERT_TRUE(worker.thread.start());
    EXPECT_FALSE(worker.thread.start());
    worker.thread.stop();
    EXPECT_TRUE(worker.thread.wait());
    EXPECT_TRUE(worker.thread.stopRequested());
}

TEST(VorkThread, WaitFromTheThreadItselfAndAFailingOrEmptyWorkDoNotHang) {
    Worker self;
    self.selfWait = true;
    ASSERT_TRUE(self.thread.start());
    self.thread.wait();
    EXPECT_EQ(self.selfWaitResult, 0);

    Worker failing;
    failing.fail = true;
    ASSERT_TRUE(failing.thread.start());
    failing.thread.wait();
    EXPECT_TRUE(failing.thread.failed());
    failing.fail = false;
    ASSERT_TRUE(failing.thread.start());
    failing.thread.wait();
    EXPECT_FALSE(failing.thread.failed());

    VorkThread empty{std::function<void()>()};
    ASSERT_TRUE(empty.start());
    empty.wait();
    EXPECT_TRUE(empty.failed());
}
