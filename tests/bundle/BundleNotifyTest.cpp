#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleTestSupport.h"
#include "TestEnvironment.h"

using bundletest::BundleTest;

namespace {

using plimotest::lines;

class BundleNotifyTest : public BundleTest {
protected:
    // Runs one update (begin notification, run, completion notification) of
    // a one-package bundle whose package exits with exitCode.
    void runUpdate(bool notify, int exitCode = 0, bool continueOnFailure = true) {
        writeBundle({{"P1", "p1.exe", exitCode}});
        auto log = makeStatusLog(continueOnFailure, false, notify);
        Bundle bundle(log.get(), false);
        bundle.notifyConsumers(false);
        log->SMStatus(bundle.execute(false));
        bundle.notifyConsumers(true);
    }

    // Runs the named disabled case below in a child process that finds the
    // library in libraryDir; answers the lines the stand-in recorded.
    std::vector<std::string> runChild(const std::string& testCase, const std::string& libraryDir,
                                      const std::vector<std::string>& extraEnv = {}) {
        const std::string record = plimotest::testDir() + "/record.txt";
        std::vector<std::string> env = {"LD_LIBRARY_PATH=" + libraryDir, "ZUINTF_STANDIN_RECORD=" + record,
                                        "BUNDLE_NOTIFY_CMDLOG=" + plimotest::testDir() + "/cmdlog",
                                        "BUNDLE_NOTIFY_DEBUGLOG=" + plimotest::testDir() + "/child-debug.log"};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        const auto result = plimotest::runProgram(
            {self, "--gtest_also_run_disabled_tests", "--gtest_filter=BundleNotifyChild.DISABLED_" + testCase}, env);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
        return lines(plimotest::readFile(record));
    }
    std::string cmdlog() const { return plimotest::readFile(plimotest::testDir() + "/cmdlog"); }
};

// Cases run only in a child process started by the tests above.
class BundleNotifyChild : public BundleNotifyTest {
protected:
    void SetUp() override {
        BundleNotifyTest::SetUp();
        if (const char* path = std::getenv("BUNDLE_NOTIFY_CMDLOG")) ::setenv("ZUA_CMDLOG", path, 1);
        if (const char* skip = std::getenv("BUNDLE_NOTIFY_SKIP")) ::setenv("PLIMO_SKIP_NOTIFICATION", skip, 1);
        else ::unsetenv("PLIMO_SKIP_NOTIFICATION");
        if (const char* debugLog = std::getenv("BUNDLE_NOTIFY_DEBUGLOG")) {
            m_logging = std::make_unique<VorkSupport::VorkLogging>(debugLog, 1, 9);
            VorkSupport::VorkLogging::setInstance(m_logging.get());
        }
    }
};
TEST_F(BundleNotifyChild, DISABLED_Notify) { runUpdate(true); }
TEST_F(BundleNotifyChild, DISABLED_Quiet) { runUpdate(false); }
TEST_F(BundleNotifyChild, DISABLED_Failed) { runUpdate(true, 1); }

TEST_F(BundleNotifyTest, WithNotifySendsTheLogAfterCompletion) {
    const auto record = runChild("Notify", PLIMO_TEST_HELPER_DIR "/notify");
    ASSERT_EQ(record.size(), 3u) << plimotest::readFile(plimotest::testDir() + "/record.txt");
    EXPECT_EQ(record[0], "cm.bundle.beginUpdate|notify=true");
    EXPECT_EQ(record[1], "cm.bundle.completeUpdate|notify=true");
    EXPECT_EQ(record[2].rfind("cm.bundle.update|<BundleLog ", 0), 0u) << record[2];
    EXPECT_NE(record[2].find("<SMStatus result=\"0\""), std::string::npos);
    // The answer text leaves out the internal attributes.
    EXPECT_EQ(record[2].find("stable="), std::string::npos);
    EXPECT_NE(cmdlog().find("\t6101\t0\tPLIMO\tBundle Update\ttester\n"), std::string::npos) << cmdlog();
}

TEST_F(BundleNotifyTest, WithoutNotifyOnlyBeginAndComplete) {
    const auto record = runChild("Quiet", PLIMO_TEST_HELPER_DIR "/notify");
    EXPECT_EQ(record, (std::vector<std::string>{"cm.bundle.beginUpdate|notify=false",
                                                "cm.bundle.completeUpdate|notify=false"}));
    EXPECT_NE(cmdlog().find("\t6101\t0\tPLIMO\tBundle Update\ttester\n"), std::string::npos) << cmdlog();
}

TEST_F(BundleNotifyTest, FailedUpdateIsLoggedAsFailure) {
    const auto record = runChild("Failed", PLIMO_TEST_HELPER_DIR "/notify");
    ASSERT_EQ(record.size(), 3u);
    EXPECT_NE(record[2].find("<SMStatus result=\"3085\""), std::string::npos);
    EXPECT_NE(cmdlog().find("\t3072\t1\tPLIMO\tBundle Update\ttester\n"), std::string::npos) << cmdlog();
}

TEST_F(BundleNotifyTest, SkipNotificationStillCallsTheLibraryButQuietly) {
    const auto record = runChild("Notify", PLIMO_TEST_HELPER_DIR "/notify", {"BUNDLE_NOTIFY_SKIP=1"});
    EXPECT_EQ(record, (std::vector<std::string>{"cm.bundle.beginUpdate|notify=false",
                                                "cm.bundle.completeUpdate|notify=false"}));
    EXPECT_FALSE(plimotest::fileExists(plimotest::testDir() + "/cmdlog"));
}

TEST_F(BundleNotifyTest, LibraryWithoutEntryPointIsOnlyLogged) {
    const auto record = runChild("Notify", PLIMO_TEST_HELPER_DIR "/notify-noentry");
    EXPECT_TRUE(record.empty());
    const std::string debug = plimotest::readFile(plimotest::testDir() + "/child-debug.log");
    EXPECT_NE(debug.find("Bundle::notifyConsumers: loaded zuintf library, but failed to find function VorkNNNotify()"),
              std::string::npos);
    EXPECT_NE(cmdlog().find("\t6101\t0\t"), std::string::npos);
}

TEST_F(BundleNotifyTest, WithoutTheLibraryTheRunCarriesOn) {
    // This process does not find the library: it logs and goes on.
    ::unsetenv("PLIMO_SKIP_NOTIFICATION");
    captureLog();
    runUpdate(true);
    const std::string debug = logText();
    EXPECT_NE(debug.find("Bundle::notifyConsumers: completed = 0, skipNotification = 0"), std::string::npos);
    EXPECT_NE(debug.find("Bundle::notifyConsumers: failed to load the zuintf library.  "), std::string::npos) << debug;
    EXPECT_NE(debug.find(".  Not sending notification."), std::string::npos);
    EXPECT_NE(debug.find("calling ZCSAppendToCmdLog(): cmdId = 6101, pUserInfo = \"tester\", type = 0"),
              std::string::npos);
    EXPECT_EQ(runs(), (std::vector<std::string>{"P1"}));
    EXPECT_NE(cmdlog().find("\t6101\t0\tPLIMO\tBundle Update\ttester\n"), std::string::npos);
}

TEST_F(BundleNotifyTest, StatusLogWithoutStatusCodeCannotFailTheNotification) {
    ::unsetenv("PLIMO_SKIP_NOTIFICATION");
    writeBundle({{"P1", "p1.exe", 0}});
    auto log = makeStatusLog();
    Bundle bundle(log.get(), false);
    xmlNodePtr status = log->getFirstNode("/BundleLog/SMStatus");
    xmlUnlinkNode(status);
    xmlFreeNode(status);
    EXPECT_NO_THROW(bundle.notifyConsumers(true));
    EXPECT_FALSE(plimotest::fileExists(plimotest::testDir() + "/cmdlog"));
}

} // namespace
