// Updates carried across restarts: the update installs the resume unit, and
// the test plays the machine after its restart by running the unit's command
// line (zuasvchost plimo zuacmd=resume ...) with the unit's environment.
#include <signal.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;

namespace {

// The machine after its restart: the unit's command runs, answers, and exits
// 0; a sanitizer report of the service's process fails the test.
plimotest::RunResult resumeAfterRestart(const std::vector<std::string>& extraEnv = {}) {
    auto result = runUnit(extraEnv);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
    return result;
}

std::string bundleDir() { return testDir() + "/bundle"; }

// An update with "reboot" given, sent as the host would (Orvane has no
// option for it).
plimotest::RunResult updateWithReboot(const std::string& updateId, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> entries{"zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml",
                                     "reboot=true",   "updateid=" + updateId,      "zuausrinfo=tester"};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return svchost(entries);
}

TEST(ResumeCycleTest, RestartRequestedByTheSecondPackageIsResumedToTheEnd) {
    writeQpk(bundleDir(), "a", {0});
    writeQpk(bundleDir(), "b", {2, 0});
    writeQpk(bundleDir(), "c", {0});
    writeBundle(bundleDir(), {"a.sh", "b.sh", "c.sh"});

    auto update = updateWithReboot("U1");
    EXPECT_EQ(update.exitCode, 0) << update.err;
    EXPECT_EQ(statusOf(update.out), 3082) << update.out;

    // The unit resumes this update; the internal log waits with one reboot.
    const Unit unit = readUnit();
    ASSERT_EQ(unit.command.size(), 4u) << readFile(unitFile());
    EXPECT_EQ(unit.command[0], svchostPath());
    EXPECT_EQ(unit.command[1], "plimo");
    EXPECT_EQ(unit.command[2], "zuacmd=resume");
    EXPECT_EQ(unit.command[3], "updateid=U1");
    const std::string waiting = readFile(internalLog());
    EXPECT_EQ(attributeOf(waiting, "rebootCount", "rebootCount"), "1");
    EXPECT_EQ(attributeOf(waiting, "Bundle", "stable"), "<none>");
    EXPECT_EQ(statusOf(waiting), 3082);
    EXPECT_FALSE(fileExists(lockFile()));

    // While it waits, progress answers the waiting log, and a new update is
    // refused.
    auto progress = orvane({"-progress"});
    EXPECT_EQ(statusOf(progress.out), 3082);
    auto refused = orvane({"-update", "-path", bundleDir() + "/bundle.xml"});
    EXPECT_EQ(statusOf(refused.out), 3077);
    EXPECT_EQ(readFile(internalLog()), waiting);

    // The machine restarts and the unit runs.
    auto resume = resumeAfterRestart();
    EXPECT_EQ(resume.exitCode, 0) << resume.err;
    EXPECT_EQ(statusOf(resume.out), 0) << resume.out;

    // The package that asked for the restart ran again on its own entry; the
    // others ran once.
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "c"), 1);
    EXPECT_EQ(countOf(resume.out, "b.sh\""), 1) << resume.out;
    EXPECT_EQ(countOf(resume.out, "<Package "), 3);
    EXPECT_EQ(resume.out.find("<Progress"), std::string::npos);

    // The update is over: unit gone, final log of U1 in place.
    EXPECT_FALSE(fileExists(unitFile()));
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
    const std::string final = readFile(finalLog("U1"));
    EXPECT_EQ(statusOf(final), 0);
    EXPECT_EQ(attributeOf(final, "rebootCount", "rebootCount"), "1");

    // Progress of U1 answers from the final log; Orvane sends no update id,
    // so it finds no update under way.
    auto finished = svchost({"zuacmd=progress", "updateid=U1"});
    EXPECT_EQ(statusOf(finished.out), 0);
    EXPECT_EQ(attributeOf(finished.out, "BundleLog", "update-id"), "U1");
    EXPECT_EQ(countOf(finished.out, "<Package "), 3);
    auto orvaneProgress = orvane({"-progress"});
    EXPECT_EQ(orvaneProgress.exitCode, 1);
    EXPECT_EQ(statusOf(orvaneProgress.out), 3080);
    EXPECT_TRUE(fileExists(finalLog("U1")));
}

TEST(ResumeCycleTest, ResumeRequestedThreeTimesEndsWithAFailureAfterTheThirdRestart) {
    // The same whether the update restarts the machine itself or leaves each
    // restart to its caller, who learns of every restart owed from the flag.
    const std::string flag = testDir() + "/reboot-required";
    for (const std::string key : {"reboot=true", "callerreboot=true"}) {
        SCOPED_TRACE(key);
        std::filesystem::remove_all(bundleDir());
        writeQpk(bundleDir(), "a", {4});
        writeBundle(bundleDir(), {"a.sh"});
        const std::string id = key == "reboot=true" ? "U2" : "C2";
        const bool caller = key != "reboot=true";

        auto update = svchost({"zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml", key, "updateid=" + id,
                               "zuausrinfo=tester"});
        EXPECT_EQ(statusOf(update.out), 3083) << update.out;
        EXPECT_EQ(attributeOf(readFile(internalLog()), "BundleSettings", "callerReboot"), caller ? "true" : "<none>");

        for (int restart = 1; restart <= 2; ++restart) {
            if (caller) {
                EXPECT_TRUE(fileExists(flag)) << "restart " << restart;
            }
            std::filesystem::remove(flag); // the restart empties /run
            auto resume = resumeAfterRestart();
            EXPECT_EQ(statusOf(resume.out), 3083) << "restart " << restart << ": " << resume.out;
            EXPECT_TRUE(fileExists(unitFile()));
            const std::string waiting = readFile(internalLog());
            EXPECT_EQ(attributeOf(waiting, "rebootCount", "rebootCount"), std::to_string(restart + 1));
            EXPECT_EQ(attributeOf(waiting, "BundleSettings", "callerReboot"), caller ? "true" : "<none>");
        }
        std::filesystem::remove(flag);
        auto last = resumeAfterRestart();
        EXPECT_EQ(statusOf(last.out), 3072) << last.out;
        EXPECT_EQ(last.out.find("<Progress"), std::string::npos);
        EXPECT_FALSE(fileExists(unitFile()));
        EXPECT_FALSE(fileExists(internalLog()));
        EXPECT_EQ(statusOf(readFile(finalLog(id))), 3072);
        // Every run of a package that must run again is recorded in its one
        // entry.
        EXPECT_EQ(qpkRuns(bundleDir(), "a"), 4);
        EXPECT_EQ(countOf(last.out, "<Package "), 1);
        EXPECT_EQ(countOf(last.out, "<PkgLog "), 4);
        std::filesystem::remove(flag);
    }
}

// Deletes the bundle while the machine "restarts" and resumes.
int resumeWithoutBundle(const std::string& updateId) {
    std::filesystem::remove_all(bundleDir());
    auto resume = resumeAfterRestart();
    EXPECT_EQ(resume.exitCode, 0) << resume.err;
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_EQ(statusOf(readFile(finalLog(updateId))), statusOf(resume.out));
    return statusOf(resume.out);
}

TEST(ResumeCycleTest, BundleGoneDuringTheRestart) {
    // All packages ran, one asked for a restart (3082): they may have applied.
    writeQpk(bundleDir(), "a", {2});
    writeBundle(bundleDir(), {"a.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("G1").out), 3082);
    EXPECT_EQ(resumeWithoutBundle("G1"), 3091);
    std::filesystem::remove(unitFile());

    // A package had to run again (3083): some may not have applied.
    writeQpk(bundleDir(), "a", {4});
    writeBundle(bundleDir(), {"a.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("G2").out), 3083);
    EXPECT_EQ(resumeWithoutBundle("G2"), 3090);
    std::filesystem::remove(unitFile());

    // A restart after a failure (3084 becomes 3085 with continueonfailure).
    writeQpk(bundleDir(), "a", {2});
    writeQpk(bundleDir(), "b", {1});
    writeBundle(bundleDir(), {"a.sh", "b.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("G3", {"continueonfailure=true"}).out), 3085);
    EXPECT_EQ(resumeWithoutBundle("G3"), 3081);
}

TEST(ResumeCycleTest, ResumeRefusalsChangeNothing) {
    // Nothing to resume.
    auto nothing = svchost({"zuacmd=resume"});
    EXPECT_EQ(nothing.exitCode, 0);
    EXPECT_EQ(statusOf(nothing.out), 3080);
    EXPECT_FALSE(fileExists(internalLog()));

    writeQpk(bundleDir(), "a", {2, 0});
    writeBundle(bundleDir(), {"a.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("U1").out), 3082);
    const std::string waiting = readFile(internalLog());
    const std::string unit = readFile(unitFile());

    // Another update id: refused, and the waiting update stays as it was.
    auto other = svchost({"zuacmd=resume", "updateid=U9"});
    EXPECT_EQ(statusOf(other.out), 3077) << other.out;
    EXPECT_EQ(readFile(internalLog()), waiting);
    EXPECT_FALSE(fileExists(finalLog("U1")));
    EXPECT_FALSE(fileExists(finalLog("U9")));

    // A log target in a directory that does not exist: no answer at all.
    auto badTarget = svchost({"zuacmd=resume", "updateid=U1", "logtarget=" + testDir() + "/missing/user.xml"});
    EXPECT_EQ(badTarget.exitCode, 1);
    EXPECT_EQ(statusOf(badTarget.out), -1000);
    EXPECT_EQ(readFile(internalLog()), waiting);
    EXPECT_EQ(readFile(unitFile()), unit);
    EXPECT_FALSE(fileExists(lockFile()));
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);

    // The right resume still carries the update to its end.
    auto resume = resumeAfterRestart();
    EXPECT_EQ(statusOf(resume.out), 0) << resume.out;
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 2);

    // A stray resume after the end keeps the finished update's record.
    const std::string final = readFile(finalLog("U1"));
    auto stray = svchost({"zuacmd=resume", "updateid=U1"});
    EXPECT_EQ(statusOf(stray.out), 3080);
    EXPECT_EQ(readFile(finalLog("U1")), final);
}

TEST(ResumeCycleTest, CommandLineTestModeResumesWithoutRemovingTheService) {
    writeQpk(bundleDir(), "a", {2, 0});
    writeBundle(bundleDir(), {"a.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("T1").out), 3082);

    auto resume = resumeAfterRestart({"PLIMO_CMDLINE_TEST=1"});
    EXPECT_EQ(statusOf(resume.out), 0) << resume.out;
    EXPECT_TRUE(fileExists(unitFile()));
    EXPECT_EQ(statusOf(readFile(finalLog("T1"))), 0);
    EXPECT_FALSE(fileExists(internalLog()));
}

TEST(ResumeCycleTest, UserLogFollowsTheResumedUpdate) {
    writeQpk(bundleDir(), "a", {2, 0});
    writeBundle(bundleDir(), {"a.sh"});
    const std::string target = testDir() + "/user.xml";
    EXPECT_EQ(statusOf(updateWithReboot("L1", {"logtarget=" + target}).out), 3082);
    EXPECT_EQ(statusOf(readFile(target)), 3082);

    auto resume = resumeAfterRestart();
    EXPECT_EQ(statusOf(resume.out), 0);
    const std::string userLog = readFile(target);
    EXPECT_EQ(statusOf(userLog), 0);
    EXPECT_EQ(userLog.find("log-target"), std::string::npos);
    EXPECT_EQ(userLog.find("stable"), std::string::npos);
}

TEST(ResumeCycleTest, ResumeFinishesTheBundleAndRunsNothingTwice) {
    // An update killed part-way: the resume also runs the package that never
    // got an entry.
    writeQpk(bundleDir(), "a", {0});
    writeQpk(bundleDir(), "b", {0}, {30, 0});
    writeQpk(bundleDir(), "c", {0});
    writeBundle(bundleDir(), {"a.sh", "b.sh", "c.sh"});
    const int pid = spawn({svchostPath(), "plimo", "zuacmd=update", "bundlepath=" + bundleDir(), "bundle=bundle.xml",
                           "updateid=K1", "zuausrinfo=tester"});
    ASSERT_TRUE(waitForFile(bundleDir() + "/b.started", 30));
    ::kill(pid, SIGKILL);
    waitChild(pid);
    ::kill(-pid, SIGKILL);
    auto resumed = svchost({"zuacmd=resume", "updateid=K1"});
    EXPECT_EQ(statusOf(resumed.out), 0) << resumed.out;
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "c"), 1);

    // A package that kills the applicator once: its interrupted run is run
    // again on its own entry, and never again after the restart that a later
    // package asks for.
    std::filesystem::remove_all(bundleDir());
    writeQpk(bundleDir(), "a", {0});
    plimotest::writeFile(bundleDir() + "/b.sh",
                         "#!/bin/sh\n"
                         "echo \"$*\" >> '" +
                             bundleDir() +
                             "/b.runs'\n"
                             "for a in \"$@\"; do case \"$a\" in /l=*) echo b > \"${a#/l=}\";; esac; done\n"
                             "if [ ! -f '" +
                             bundleDir() + "/b.killed' ]; then : > '" + bundleDir() +
                             "/b.killed'; kill -9 $PPID; fi\n"
                             "exit 0\n",
                         true);
    writeQpk(bundleDir(), "c", {4, 0});
    writeBundle(bundleDir(), {"a.sh", "b.sh", "c.sh"});
    auto killed = updateWithReboot("K2");
    EXPECT_NE(killed.exitCode, 0);
    EXPECT_EQ(statusOf(svchost({"zuacmd=resume", "updateid=K2"}).out), 3083);
    const auto done = resumeAfterRestart();
    EXPECT_EQ(statusOf(done.out), 0) << done.out;
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "c"), 2);
    const std::string final = readFile(finalLog("K2"));
    EXPECT_EQ(countOf(final, "<Package "), 3) << final;
    EXPECT_EQ(countOf(final, "in-progress"), 0) << final;

    // A package whose run after its restart succeeded is not run again by a
    // later resume that another package asked for.
    std::filesystem::remove_all(bundleDir());
    writeQpk(bundleDir(), "a", {2, 0});
    writeQpk(bundleDir(), "b", {4, 4, 0});
    writeBundle(bundleDir(), {"a.sh", "b.sh"});
    EXPECT_EQ(statusOf(updateWithReboot("R1").out), 3083);
    EXPECT_EQ(statusOf(resumeAfterRestart().out), 3083);
    EXPECT_EQ(statusOf(resumeAfterRestart().out), 0);
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 3);
}

} // namespace
