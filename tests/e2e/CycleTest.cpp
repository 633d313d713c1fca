// Whole update cycles through the real Orvane, zuasvchost and plug-in: a
// crash in the middle of an update, two updates at once, and validation.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;

namespace {

// Orvane's exit codes as a shell sees them.
constexpr int kExitSuccess = 0;
constexpr int kExitInProgress = 6; // update: 3077
constexpr int kExitFailure = 255;  // -1

std::string bundleDir() { return testDir() + "/bundle"; }
std::string bundleFile() { return bundleDir() + "/bundle.xml"; }

std::vector<std::string> orvaneUpdate() { return {orvanePath(), "-update", "-path", bundleFile()}; }

// Whether nobody holds the lock file or its folder: a program that the update
// was starting at the moment of the kill holds a copy of both until its
// start is through.
bool lockIsFree() {
    for (const std::string& path : {lockFile(), tempFolder()}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        if (!free) return false;
    }
    return true;
}

// Kills a spawned update and everything it started (its process group), and
// waits until nothing of it holds the lock.
int crash(int pid) {
    ::kill(pid, SIGKILL);
    const int status = waitChild(pid);
    ::kill(-pid, SIGKILL);
    for (int i = 0; i < 200 && !lockIsFree(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return status;
}

TEST(CycleTest, CrashedUpdateIsFinishedByProgressAndTheNextUpdateStartsCleanly) {
    writeQpk(bundleDir(), "a", {0});
    writeQpk(bundleDir(), "b", {0}, {30, 0});
    writeQpk(bundleDir(), "c", {0});
    writeBundle(bundleDir(), {"a.sh", "b.sh", "c.sh"});

    const int pid = spawn(orvaneUpdate());
    ASSERT_TRUE(waitForFile(bundleDir() + "/b.started", 30));
    EXPECT_EQ(crash(pid), -SIGKILL);

    // The cut-off run's internal log is on disk, whole, and not stable.
    ASSERT_TRUE(wholeStatusLog(internalLog()));
    EXPECT_EQ(attributeOf(rebuiltLog(internalLog()), "Bundle", "stable"), "false");

    // Progress finishes it as interrupted and answers that; without an
    // update id its record is kept beside the internal log.
    auto progress = orvane({"-progress"});
    EXPECT_EQ(statusOf(progress.out), 3079) << progress.out << progress.err;
    EXPECT_EQ(countOf(progress.out, "in-progress"), 0) << progress.out;
    EXPECT_FALSE(fileExists(internalLog()));
    ASSERT_EQ(interruptedLogs().size(), 1u);
    EXPECT_EQ(statusOf(readFile(interruptedLogs()[0])), 3079);

    auto update = plimotest::runProgram(orvaneUpdate(), childEnvironment(), testDir());
    EXPECT_EQ(update.exitCode, kExitSuccess) << update.out << update.err;
    EXPECT_EQ(statusOf(update.out), 0);
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 2);
    EXPECT_EQ(qpkRuns(bundleDir(), "c"), 1);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST(CycleTest, InternalLogIsWholeOrAbsentWhereverTheUpdateIsKilled) {
    std::vector<std::string> packages;
    for (int i = 0; i < 8; ++i) {
        const std::string name = "p" + std::to_string(i);
        writeQpk(bundleDir(), name, {0});
        packages.push_back(name + ".sh");
    }
    writeBundle(bundleDir(), packages);

    const auto start = std::chrono::steady_clock::now();
    auto full = plimotest::runProgram(orvaneUpdate(), childEnvironment(), testDir());
    ASSERT_EQ(full.exitCode, kExitSuccess) << full.out << full.err;
    const auto duration = std::chrono::steady_clock::now() - start;

    constexpr int kPoints = 12;
    int cutOff = 0;
    for (int k = 1; k < kPoints; ++k) {
        const int pid = spawn(orvaneUpdate());
        std::this_thread::sleep_for(duration * k / kPoints);
        crash(pid);
        if (!fileExists(internalLog())) continue;
        const std::string left = rebuiltLog(internalLog());
        EXPECT_TRUE(wholeStatusLog(internalLog())) << "kill point " << k << ":\n" << left;
        auto progress = orvane({"-progress"});
        if (attributeOf(left, "Bundle", "stable") == "false") {
            // Killed during the run: progress finishes it as interrupted.
            ++cutOff;
            EXPECT_EQ(statusOf(progress.out), 3079) << "kill point " << k << ": " << progress.out;
            EXPECT_EQ(countOf(progress.out, "in-progress"), 0) << "kill point " << k;
            EXPECT_FALSE(fileExists(internalLog())) << "kill point " << k;
        } else {
            // Killed after the run had ended, before the log was finished:
            // progress finishes it and answers its status.
            EXPECT_EQ(statusOf(progress.out), statusOf(left)) << "kill point " << k;
            EXPECT_FALSE(fileExists(internalLog())) << "kill point " << k;
        }
    }
    // Some kill points land inside the run.
    EXPECT_GT(cutOff, 0);
}

TEST(CycleTest, OfTwoUpdatesStartedAtOnceExactlyOneRuns) {
    writeQpk(bundleDir(), "a", {0}, {1.5});
    writeBundle(bundleDir(), {"a.sh"});

    const int first = spawn(orvaneUpdate());
    const int second = spawn(orvaneUpdate());
    const int results[] = {waitChild(first), waitChild(second)};
    EXPECT_EQ(std::count(std::begin(results), std::end(results), kExitSuccess), 1);
    EXPECT_EQ(std::count(std::begin(results), std::end(results), kExitInProgress), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_FALSE(fileExists(internalLog()));
    EXPECT_FALSE(fileExists(lockFile()));
}

TEST(CycleTest, CleanAndProgressDuringAnUpdateChangeNothing) {
    writeQpk(bundleDir(), "a", {0}, {3});
    writeQpk(bundleDir(), "b", {0});
    writeBundle(bundleDir(), {"a.sh", "b.sh"});

    const int pid = spawn(orvaneUpdate());
    ASSERT_TRUE(waitForFile(bundleDir() + "/a.started", 30));
    const std::string during = readFile(internalLog());

    auto clean = svchost({"zuacmd=clean"});
    EXPECT_EQ(statusOf(clean.out), 3077) << clean.out << clean.err;
    EXPECT_NE(clean.out.find("System update is in progress."), std::string::npos);

    auto progress = orvane({"-progress"});
    EXPECT_EQ(progress.exitCode, kExitSuccess) << progress.out << progress.err;
    EXPECT_NE(progress.out.find("<Progress value=\""), std::string::npos);

    EXPECT_EQ(readFile(internalLog()), during);
    EXPECT_TRUE(fileExists(lockFile()));

    // The update runs to its end undisturbed.
    EXPECT_EQ(waitChild(pid), kExitSuccess);
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 1);
    EXPECT_EQ(qpkRuns(bundleDir(), "b"), 1);
    EXPECT_FALSE(fileExists(internalLog()));
}

std::vector<std::string> validateEntries(const std::vector<std::string>& extra) {
    std::vector<std::string> entries{"zuacmd=validate", "zuausrinfo=tester"};
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

TEST(CycleTest, ValidateOfABundleForAnotherSystem) {
    writeQpk(bundleDir(), "a", {0});
    writeBundle(bundleDir(), {"a.sh"}, "<TargetSystems><Brand><Model systemID=\"FFFF\"/></Brand></TargetSystems>\n");
    auto result = svchost(validateEntries({"bundlepath=" + bundleDir(), "bundle=bundle.xml"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(statusOf(result.out), 3076) << result.out;
    EXPECT_EQ(attributeOf(result.out, "Validation", "system-supported"), "false");
    EXPECT_EQ(attributeOf(result.out, "Validation", "os-supported"), "true");
    EXPECT_EQ(qpkRuns(bundleDir(), "a"), 0);
}

TEST(CycleTest, ValidateOfAZippedBundleLeavesNoExtractedDirectory) {
    const std::string source = testDir() + "/zipsource";
    writeQpk(source, "a", {0});
    writeBundle(source, {"a.sh"});
    const std::string zip = testDir() + "/bundle.zip";
    writeZip(zip, source);

    auto result = svchost(validateEntries({"bundlepackage=" + zip}));
    EXPECT_EQ(statusOf(result.out), 0) << result.out << result.err;
    EXPECT_NE(result.out.find("bundle-package=\"" + zip + "\""), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(testDir() + "/tmp"));
    EXPECT_TRUE(fileExists(zip));

    // The same for a package whose validation fails.
    plimotest::writeFile(source + "/bundle.xml", "<SoftwareBundle><Contents><Package releaseID=\"X\" path=\"gone.sh\"/>"
                                                 "</Contents></SoftwareBundle>");
    std::filesystem::remove(zip);
    writeZip(zip, source);
    result = svchost(validateEntries({"bundlepackage=" + zip}));
    EXPECT_EQ(statusOf(result.out), 3075) << result.out;
    EXPECT_TRUE(std::filesystem::is_empty(testDir() + "/tmp"));
}

TEST(CycleTest, ValidateWithAMissingPackageListsIt) {
    writeQpk(bundleDir(), "a", {0});
    writeBundle(bundleDir(), {"a.sh", "b.sh"});
    auto result = svchost(validateEntries({"bundlepath=" + bundleDir(), "bundle=bundle.xml"}));
    EXPECT_EQ(statusOf(result.out), 3075) << result.out;
    EXPECT_EQ(attributeOf(result.out, "Package", "releaseID"), "P2");
    EXPECT_EQ(attributeOf(result.out, "Status", "state"), "missing");
    EXPECT_NE(result.out.find(bundleDir() + "/b.sh"), std::string::npos);
    EXPECT_EQ(result.out.find(bundleDir() + "/a.sh"), std::string::npos);
}

TEST(CycleTest, ValidateWithALogTargetInAMissingDirectoryAnswers3079) {
    writeQpk(bundleDir(), "a", {0});
    writeBundle(bundleDir(), {"a.sh"});
    auto result = svchost(validateEntries(
        {"bundlepath=" + bundleDir(), "bundle=bundle.xml", "logtarget=" + testDir() + "/missing/validate.xml"}));
    EXPECT_EQ(statusOf(result.out), 3079) << result.out;
    EXPECT_FALSE(fileExists(testDir() + "/missing"));

    // With a directory that exists the user log is written.
    const std::string target = testDir() + "/validate.xml";
    result = svchost(validateEntries({"bundlepath=" + bundleDir(), "bundle=bundle.xml", "logtarget=" + target}));
    EXPECT_EQ(statusOf(result.out), 0);
    EXPECT_EQ(statusOf(readFile(target)), 0);
}

} // namespace
