// "resume" through the real plug-in's exports, in this process: the worker
// thread runs here, beside the calling thread.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "PluginClient.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

class ResumeFunctionTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("PLIMO_MEMFILE", (testDir() + "/no-memory-image").c_str(), 1); }

    std::string send(const std::vector<std::string>& entries) {
        auto answer = plugin.send(entries);
        EXPECT_TRUE(answer.has_value()) << "no answer";
        return answer.value_or("");
    }
    std::string bundleDir() const { return testDir() + "/bundle"; }
    std::string updateWithReboot(const std::string& updateId) {
        return send({"zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml", "reboot=true",
                     "updateid=" + updateId, "zuausrinfo=tester"});
    }

    PluginClient plugin;
};

TEST_F(ResumeFunctionTest, ResumedRunInThisProcess) {
    writeQpk(bundleDir(), "a", {0});
    writeQpk(bundleDir(), "b", {4, 2, 0});
    writeBundle(bundleDir(), {"a.sh", "b.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("R1")), 3083);

    // Test mode: the run takes place, the service stays.
    ::setenv("PLIMO_CMDLINE_TEST", "1", 1);
    std::string answer = send({"zuacmd=resume", "updateid=R1"});
    EXPECT_EQ(statusOf(answer), 3082) << answer;
    EXPECT_TRUE(fileExists(unitFile()));
    EXPECT_EQ(attributeOf(readFile(internalLog()), "rebootCount", "rebootCount"), "2");
    ::unsetenv("PLIMO_CMDLINE_TEST");

    // The last restart: the package completes on its entry, the service goes.
    answer = send({"zuacmd=resume", "updateid=R1"});
    EXPECT_EQ(statusOf(answer), 0) << answer;
    EXPECT_FALSE(fileExists(unitFile()));
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 3);
    // One entry per package, whatever its runs asked for.
    EXPECT_EQ(countOf(answer, "<Package "), 2);
}

TEST_F(ResumeFunctionTest, AHugePackageLogIsCappedAndTheUpdateResumes) {
    // First run: 12 MiB of output and "resume after restart"; then success.
    writeFile(bundleDir() + "/big.sh",
              "#!/bin/sh\nlog=\nfor a; do case \"$a\" in /l=*) log=\"${a#/l=}\";; esac; done\n"
              "[ -f \"$0.ran\" ] && { echo done > \"$log\"; exit 0; }\n: > \"$0.ran\"\n"
              "yes 'a line of package output' | head -c 12582912 > \"$log\"\nexit 4\n",
              true);
    writeQpk(bundleDir(), "b", {0});
    writeBundle(bundleDir(), {"big.sh", "b.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("H1")), 3083);

    const std::string progress = send({"zuacmd=progress"});
    EXPECT_EQ(statusOf(progress), 3083);
    EXPECT_LT(progress.size(), 1200000u);
    EXPECT_EQ(countOf(progress, "bytes of the package log left out here; the whole log was |"), 1);
    // The first and the last 512 KiB, whole lines of 25 bytes each.
    EXPECT_EQ(countOf(progress, "a line of package output"), 2 * (524288 / 25));

    const std::string answer = send({"zuacmd=resume", "updateid=H1"});
    EXPECT_EQ(statusOf(answer), 0) << answer.substr(0, 300);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 1);
    EXPECT_TRUE(wholeStatusLog(finalLog("H1")));
}

TEST_F(ResumeFunctionTest, ResumeWhileTheLockIsHeldAnswers3077AndChangesNothing) {
    writeQpk(bundleDir(), "a", {2, 0});
    writeBundle(bundleDir(), {"a.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("R2")), 3082);
    const std::string waiting = readFile(internalLog());

    const int fd = ::open(lockFile().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(statusOf(send({"zuacmd=resume"})), 3077);
    ::close(fd);

    EXPECT_EQ(readFile(internalLog()), waiting);
    EXPECT_TRUE(fileExists(unitFile()));
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
}

TEST_F(ResumeFunctionTest, UnreadableInternalLogIsReportedAndKept) {
    writeFile(internalLog(), "<BundleLog><SMStatus result=\"3082\"");
    writeFile(unitFile(), "[Service]\n");
    const std::string answer = send({"zuacmd=resume"});
    EXPECT_EQ(statusOf(answer), 3089) << answer;
    // Moved aside, never over an earlier one; an update is not blocked by it.
    const auto aside = unreadableLogs();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readFile(aside[0]), "<BundleLog><SMStatus result=\"3082\"");
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_TRUE(fileExists(unitFile()));
    writeFile(internalLog(), "garbage");
    EXPECT_EQ(statusOf(send({"zuacmd=resume"})), 3089);
    EXPECT_EQ(unreadableLogs().size(), 2u);
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST_F(ResumeFunctionTest, ResumeWithoutInternalLogKeepsAnExistingFinalLog) {
    writeFile(finalLog("R3"), "<BundleLog update-id=\"R3\"><SMStatus result=\"3091\"/></BundleLog>\n");
    writeFile(unitFile(), "[Service]\n");
    EXPECT_EQ(statusOf(send({"zuacmd=resume", "updateid=R3"})), 3080);
    EXPECT_EQ(statusOf(readFile(finalLog("R3"))), 3091);
    EXPECT_FALSE(fileExists(internalLog()));
    // Nothing to resume leaves the service alone.
    EXPECT_TRUE(fileExists(unitFile()));

    // Without a final log of that id the answer is kept as one.
    EXPECT_EQ(statusOf(send({"zuacmd=resume", "updateid=R4"})), 3080);
    EXPECT_EQ(statusOf(readFile(finalLog("R4"))), 3080);
    EXPECT_FALSE(fileExists(internalLog()));
}

} // namespace
