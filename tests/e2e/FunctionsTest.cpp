// "progress", "clean" and "validate" through the real plug-in's exports.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

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

// Holds the exclusive-update lock as a running update's process would.
class LockHolder {
public:
    LockHolder() : m_fd(::open(lockFile().c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)) {
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) ADD_FAILURE() << "cannot take the lock";
    }
    ~LockHolder() {
        if (m_fd >= 0) ::close(m_fd);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    int m_fd;
};

// A status log as an update leaves it on disk.
std::string statusLogText(const std::string& updateId, int status, bool stable, const std::string& extra = "",
                          const std::string& bundlePath = "/nowhere/") {
    std::string text = "<?xml version=\"1.0\"?>\n<BundleLog dateTime=\"2026-01-01T00:00:00Z\"";
    if (!updateId.empty()) text += " update-id=\"" + updateId + "\"";
    text += "><SMStatus result=\"" + std::to_string(status) + "\" state=\"2\" status=\"2\"/>";
    text += "<BundleSettings bundle-path=\"" + bundlePath + "\" log-target=\"/secret/target.xml\" reboot=\"true\">";
    text += extra;
    text += "<Bundle bundle=\"bundle.xml\" userinfo=\"u\"";
    if (!stable) text += " stable=\"false\"";
    text += "/><UserInfo/></BundleSettings><Validation system-supported=\"true\" os-supported=\"true\"/>";
    if (!stable) text += "<Progress value=\"50\"/>";
    text += "</BundleLog>\n";
    return text;
}

class FunctionsTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("PLIMO_MEMFILE", (testDir() + "/no-memory-image").c_str(), 1); }
    std::string send(const std::vector<std::string>& entries) {
        auto answer = plugin.send(entries);
        EXPECT_TRUE(answer.has_value()) << "no answer";
        return answer.value_or("");
    }
    PluginClient plugin;
};

TEST_F(FunctionsTest, ProgressWithoutUpdateAnswers3080AndLeavesNothing) {
    const std::string answer = send({"zuacmd=progress"});
    EXPECT_EQ(statusOf(answer), 3080);
    EXPECT_NE(answer.find("No system update is in progress."), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(tempFolder()));

    // An update id without a final log changes nothing either.
    EXPECT_EQ(statusOf(send({"zuacmd=progress", "updateid=U7"})), 3080);
    EXPECT_TRUE(std::filesystem::is_empty(tempFolder()));
}

TEST_F(FunctionsTest, ProgressAnswersFinalLogOfItsIdElseTheInternalLog) {
    writeFile(finalLog("U1"), statusLogText("U1", 3085, true));
    writeFile(internalLog(), statusLogText("U2", 3082, true));

    std::string answer = send({"zuacmd=progress", "updateid=U1"});
    EXPECT_EQ(statusOf(answer), 3085);
    EXPECT_EQ(attributeOf(answer, "BundleLog", "update-id"), "U1");

    answer = send({"zuacmd=progress", "updateid=U9"});
    EXPECT_EQ(statusOf(answer), 3082);
    EXPECT_EQ(attributeOf(answer, "BundleLog", "update-id"), "U2");
    // The answer never shows the internal attributes.
    EXPECT_EQ(answer.find("log-target"), std::string::npos);

    answer = send({"zuacmd=progress"});
    EXPECT_EQ(attributeOf(answer, "BundleLog", "update-id"), "U2");

    // Reading never changes the stored logs, and leaves no lock behind.
    EXPECT_EQ(readFile(finalLog("U1")), statusLogText("U1", 3085, true));
    EXPECT_EQ(readFile(internalLog()), statusLogText("U2", 3082, true));
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST_F(FunctionsTest, ProgressDuringARunningUpdateAnswersItsLastSavedStateAndTouchesNothing) {
    const std::string stored = statusLogText("U1", 0, false);
    writeFile(internalLog(), stored);
    writeFile(unitFile(), "[Service]\n");
    LockHolder runningUpdate;

    const std::string answer = send({"zuacmd=progress"});
    EXPECT_EQ(statusOf(answer), 0);
    EXPECT_EQ(attributeOf(answer, "Progress", "value"), "50");
    EXPECT_EQ(answer.find("stable"), std::string::npos);
    EXPECT_EQ(readFile(internalLog()), stored);
    EXPECT_TRUE(fileExists(unitFile()));
    EXPECT_TRUE(fileExists(lockFile()));
}

TEST_F(FunctionsTest, ProgressNeverDeletesTheRecordOfAnInterruptedUpdate) {
    const std::string extracted = testDir() + "/tmp/extracted-bundle";
    writeFile(extracted + "/bundle.xml", "<SoftwareBundle/>");
    const std::string entries =
        "<Package releaseID=\"A\" path=\"/a\"><Status state=\"complete\" code=\"0\" status=\"2\"/><ExeCmd>/a</ExeCmd>"
        "<PkgLog code=\"0\">firmware flashed</PkgLog></Package>"
        "<Package releaseID=\"B\" path=\"/b\"><Status state=\"in-progress\"/><ExeCmd>/b</ExeCmd></Package>";
    std::string cutOff = statusLogText("U1", 0, false, "<BundlePackage bundle-package=\"/x/b.zip\"/>", extracted + "/");
    cutOff.insert(cutOff.rfind("</BundleLog>"), entries);

    // Its resume service is installed: the update waits for its resume,
    // whatever its stable flag, and progress answers it as it stands.
    writeFile(internalLog(), cutOff);
    writeFile(unitFile(), "[Service]\n");
    EXPECT_EQ(statusOf(send({"zuacmd=progress"})), 0);
    EXPECT_EQ(readFile(internalLog()), cutOff);
    EXPECT_TRUE(fileExists(unitFile()));

    // Without a service and a live holder, it is finished as interrupted and
    // kept as the final log of its update id; that is the answer.
    ::unlink(unitFile().c_str());
    const std::string answer = send({"zuacmd=progress"});
    EXPECT_EQ(statusOf(answer), 3079);
    EXPECT_EQ(countOf(answer, "in-progress"), 0) << answer;
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(extracted));
    EXPECT_FALSE(fileExists(lockFile()));
    const std::string kept = readFile(finalLog("U1"));
    EXPECT_EQ(statusOf(kept), 3079);
    EXPECT_NE(kept.find("firmware flashed"), std::string::npos);
    EXPECT_NE(kept.find("<Status state=\"complete\" code=\"-1\" status=\"5\"/>"), std::string::npos) << kept;
    EXPECT_EQ(countOf(kept, "<PkgLog "), 2);
    // The record stays; what follows answers from it or starts afresh.
    EXPECT_EQ(statusOf(send({"zuacmd=progress", "updateid=U1"})), 3079);
    EXPECT_EQ(statusOf(send({"zuacmd=resume", "updateid=U1"})), 3080);
    EXPECT_EQ(statusOf(readFile(finalLog("U1"))), 3079);
}

TEST_F(FunctionsTest, AnEndedUpdateIsFinishedAndAnUnreadableLogMovedAside) {
    // Ended, but killed before its log was finished: progress finishes it and
    // answers its status; without an update id the answer is all that stays.
    writeFile(internalLog(), statusLogText("U1", 3072, true));
    EXPECT_EQ(statusOf(send({"zuacmd=progress"})), 3072);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_EQ(statusOf(readFile(finalLog("U1"))), 3072);
    writeFile(internalLog(), statusLogText("", 3085, true));
    EXPECT_EQ(statusOf(send({"zuacmd=progress"})), 3085);
    EXPECT_FALSE(fileExists(internalLog()));
    // The resume finishes it the same way.
    writeFile(internalLog(), statusLogText("U3", 0, true));
    EXPECT_EQ(statusOf(send({"zuacmd=resume"})), 0);
    EXPECT_TRUE(fileExists(finalLog("U3")));
    // With its resume service still installed it waits for the restart.
    writeFile(internalLog(), statusLogText("U2", 3079, true));
    writeFile(unitFile(), "[Service]\n");
    EXPECT_EQ(statusOf(send({"zuacmd=progress"})), 3079);
    EXPECT_EQ(readFile(internalLog()), statusLogText("U2", 3079, true));

    // A log that cannot be read is moved aside and reported as no update.
    writeFile(internalLog(), "<BundleLog><SMStatus");
    EXPECT_EQ(statusOf(send({"zuacmd=progress"})), 3080);
    EXPECT_FALSE(fileExists(internalLog()));
    ASSERT_EQ(unreadableLogs().size(), 1u);
    EXPECT_EQ(readFile(unreadableLogs()[0]), "<BundleLog><SMStatus");
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST_F(FunctionsTest, ProgressWritesTheUserLogOrReports3079ForABadTarget) {
    writeFile(internalLog(), statusLogText("U1", 3082, true));
    const std::string target = testDir() + "/user.xml";
    std::string answer = send({"zuacmd=progress", "logtarget=" + target});
    EXPECT_EQ(statusOf(answer), 3082);
    const std::string userLog = readFile(target);
    EXPECT_EQ(statusOf(userLog), 3082);
    EXPECT_EQ(userLog.find("log-target"), std::string::npos);

    answer = send({"zuacmd=progress", "logtarget=" + testDir() + "/missing/user.xml"});
    EXPECT_EQ(statusOf(answer), 3079);
    EXPECT_FALSE(fileExists(testDir() + "/missing"));
    EXPECT_TRUE(fileExists(internalLog()));
}

TEST_F(FunctionsTest, CleanDuringAnUpdateAnswers3077AndDeletesNothing) {
    writeFile(internalLog(), statusLogText("U1", 0, false));
    writeFile(finalLog("U1"), statusLogText("U1", 0, true));
    writeFile(unitFile(), "[Service]\n");
    {
        LockHolder runningUpdate;
        const std::string answer = send({"zuacmd=clean", "updateid=U1"});
        EXPECT_EQ(statusOf(answer), 3077);
        EXPECT_NE(answer.find("System update is in progress."), std::string::npos);
        EXPECT_TRUE(fileExists(internalLog()));
        EXPECT_TRUE(fileExists(finalLog("U1")));
        EXPECT_TRUE(fileExists(unitFile()));
    }

    // A holder of a moment (a progress call looking at a dead update: it
    // holds the probe beside the lock from before it locks until after it
    // has let go) is waited out: the clean goes ahead.
    const int probe = ::open((lockFile() + ".probe").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
    auto momentary = std::make_unique<LockHolder>();
    std::thread release([&momentary, probe] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        momentary.reset();
        ::close(probe);
    });
    const std::string answer = send({"zuacmd=clean", "updateid=U1"});
    release.join();
    EXPECT_EQ(statusOf(answer), 0) << answer;
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(finalLog("U1")));
}

TEST_F(FunctionsTest, CleanDeletesEverythingAnUpdateLeft) {
    const std::string extracted = testDir() + "/tmp/extracted-bundle";
    writeFile(extracted + "/p.sh", "#!/bin/sh\n");
    writeFile(internalLog(),
              statusLogText("U2", 3082, true, "<BundlePackage bundle-package=\"/x/b.zip\"/>", extracted + "/"));
    writeFile(finalLog("U1"), statusLogText("U1", 0, true));
    writeFile(finalLog("U3"), statusLogText("U3", 0, true));
    writeFile(unitFile(), "[Service]\n");
    const std::string target = testDir() + "/clean.xml";

    const std::string answer = send({"zuacmd=clean", "updateid=U1", "logtarget=" + target});
    EXPECT_EQ(statusOf(answer), 0);
    EXPECT_EQ(statusOf(readFile(target)), 0);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(extracted));
    EXPECT_FALSE(fileExists(finalLog("U1")));
    EXPECT_TRUE(fileExists(finalLog("U3"))); // another update's record stays
    EXPECT_FALSE(fileExists(unitFile()));
    EXPECT_FALSE(fileExists(lockFile()));

    // Nothing left to clean is no error.
    EXPECT_EQ(statusOf(send({"zuacmd=clean"})), 0);
}

TEST_F(FunctionsTest, CleanWithABadLogTargetAnswers3079AndDeletesNothing) {
    writeFile(internalLog(), statusLogText("U1", 0, false));
    const std::string answer = send({"zuacmd=clean", "logtarget=" + testDir() + "/missing/clean.xml"});
    EXPECT_EQ(statusOf(answer), 3079);
    EXPECT_TRUE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST_F(FunctionsTest, ValidateReportsBadParametersAsStatuses) {
    const std::string bundle = testDir() + "/bundle";
    std::filesystem::create_directories(bundle);

    // No definition file in the bundle directory.
    std::string answer = send({"zuacmd=validate", "bundlepath=" + bundle, "bundle=bundle.xml", "zuausrinfo=u"});
    EXPECT_EQ(statusOf(answer), 3081);

    writeQpk(bundle, "a", {0});
    writeBundle(bundle, {"a.sh"});
    // The user information is required.
    answer = send({"zuacmd=validate", "bundlepath=" + bundle, "bundle=bundle.xml"});
    EXPECT_EQ(statusOf(answer), 3079);

    answer = send({"zuacmd=validate", "bundlepath=" + bundle, "bundle=bundle.xml", "zuausrinfo=u"});
    EXPECT_EQ(statusOf(answer), 0);
    EXPECT_EQ(attributeOf(answer, "Validation", "os-supported"), "true");
    EXPECT_EQ(answer.find("<Progress"), std::string::npos);
    // Validation runs nothing and writes no state.
    EXPECT_EQ(qpkRuns(bundle, "a"), 0);
    EXPECT_TRUE(std::filesystem::is_empty(tempFolder()));
}

TEST_F(FunctionsTest, ValidateRunsBesideAnUpdate) {
    const std::string bundle = testDir() + "/bundle";
    writeQpk(bundle, "a", {0});
    writeBundle(bundle, {"a.sh"});
    LockHolder runningUpdate;
    const std::string answer = send({"zuacmd=validate", "bundlepath=" + bundle, "bundle=bundle.xml", "zuausrinfo=u"});
    EXPECT_EQ(statusOf(answer), 0);
}

} // namespace
