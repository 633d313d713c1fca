#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "VorkLogRecord.h"
#include "VorkLogging.h"
#include "VorkScopeTrace.h"

using namespace VorkSupport;

namespace {

using plimotest::lines;

// "YYYY-MM-DD HH:MM:SS.mmm " at the start of a record.
bool hasTimestamp(const std::string& record) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd ";
    if (record.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool digit = record[i] >= '0' && record[i] <= '9';
        if (shape[i] == 'd' ? !digit : record[i] != shape[i]) return false;
    }
    return true;
}

void traced() {
    VORK_TRACE("Tracer::operation");
    throw 1;
}

} // namespace

TEST(VorkLogging, WritesLevelledRecordsAndTraceAndStopsWithoutInstance) {
    const std::string file = plimotest::testDir() + "/plimo.log";
    {
        VorkLogging log(file, 1, 4);
        EXPECT_FALSE(VorkLogging::isAccessAllowed());
        VORK_LOG(1, "Test::before: not written");
        VorkLogging::setInstance(&log);
        EXPECT_TRUE(VorkLogging::isAccessAllowed());
        EXPECT_EQ(VorkLogging::getInstance(), &log);
        VORK_LOG(4, "Test::run: value=|" << 42 << "|");
        VORK_LOG(5, "Test::run: too detailed");
        VORK_LOG(1, "Test::run: two\nlines");
        VorkLogging::setInstance(nullptr);
        EXPECT_FALSE(VorkLogging::isAccessAllowed());
        VORK_LOG(1, "Test::after: not written");
    }
    const auto records = lines(plimotest::readFile(file));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_TRUE(hasTimestamp(records[0])) << records[0];
    EXPECT_EQ(records[0].substr(24), "[4] Test::run: value=|42|");
    EXPECT_NE(records[1].find("[1] Test::run: two"), std::string::npos);
    EXPECT_EQ(records[2], "lines");

    // Trace records at level 9, the exit record also when an exception leaves.
    {
        VorkLogging log(file + "9", 1, 9);
        VorkLogging::setInstance(&log);
        EXPECT_THROW(traced(), int);
        // Deleting the current log stops logging instead of leaving a dangling instance.
    }
    EXPECT_FALSE(VorkLogging::isAccessAllowed());
    const auto trace = lines(plimotest::readFile(file + "9"));
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_NE(trace[0].find("[9] Entering: Tracer::operation"), std::string::npos);
    EXPECT_NE(trace[1].find("[9] Exiting: Tracer::operation"), std::string::npos);
}

TEST(VorkLogging, ConcurrentRecordsStayWholeWhileTheLogIsWithdrawn) {
    const std::string file = plimotest::testDir() + "/threads.log";
    auto* log = new VorkLogging(file, 1, 9);
    VorkLogging::setInstance(log);
    std::atomic<bool> go{true};
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            int n = 0;
            while (go && n < 3000)
                VORK_LOG(3, "Writer::run: thread " << t << " record " << n++ << " " << std::string(200, 'x'));
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    VorkLogging::setInstance(nullptr);
    delete log; // no record may still be on its way into the deleted log
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    go = false;
    for (auto& w : writers) w.join();
    const auto records = lines(plimotest::readFile(file));
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
        ASSERT_TRUE(hasTimestamp(r)) << r;
        ASSERT_EQ(r.substr(24, 24), "[3] Writer::run: thread ") << r;
        ASSERT_TRUE(r.ends_with(" " + std::string(200, 'x'))) << r;
        ASSERT_EQ(r.find('x'), r.size() - 200) << r;
    }
}
