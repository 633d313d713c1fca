// Runs on a live server: package time limits, the reboot-required flag, the
// shutdown inhibitor and the restart, through the real binaries. The bus
// tests use a private bus with a stand-in login manager.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include <gtest/gtest.h>

#include "CycleSupport.h"
#include "PrivateLogind.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

// bundle.xml in dir: the packages (file names) in order, each with its own
// extra attributes.
void writeBundleWith(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& packages) {
    std::string text = "<?xml version=\"1.0\"?>\n<SoftwareBundle><Contents>\n";
    for (std::size_t i = 0; i < packages.size(); ++i)
        text += "<Package releaseID=\"P" + std::to_string(i + 1) + "\" path=\"" + packages[i].first +
                "\" packageType=\"LWXP\" " + packages[i].second + "/>\n";
    plimotest::writeFile(dir + "/bundle.xml", text + "</Contents></SoftwareBundle>\n");
}

// A stand-in package: writes its /l= log, runs body, exits 0.
std::string writePackage(const std::string& dir, const std::string& name, const std::string& body) {
    return writeFile(dir + "/" + name,
                     "#!/bin/sh\nfor a in \"$@\"; do case \"$a\" in /l=*) echo " + name +
                         " > \"${a#/l=}\";; esac; done\n" + body + "\nexit 0\n",
                     true);
}

// Python code that lists every file of the state folder (name, size,
// modification time) into out, as it stands when the code runs.
std::string stateListingCode(const std::string& out) {
    // Plain statements: the stand-in runs the code with locals of its own,
    // which a comprehension would not see.
    return "import os\n"
           "with open('" +
           out +
           "', 'w') as f:\n"
           "    for r, d, fs in sorted(os.walk('" +
           testDir() +
           "/win')):\n"
           "        for n in sorted(fs):\n"
           "            s = os.lstat(os.path.join(r, n))\n"
           "            f.write('%s %d %d\\n' % (os.path.join(r, n), s.st_size, s.st_mtime_ns))\n";
}

// The listing of the state folder now.
std::string stateListing() {
    const std::string out = testDir() + "/state-now";
    plimotest::runProgram({"/usr/bin/python3", "-c", stateListingCode(out)});
    return readFile(out);
}

// The internal log with its recorded boot id replaced by bootId.
void recordBootId(const std::string& bootId) {
    std::string text = readFile(internalLog());
    const std::string key = "restartBootId=\"";
    const std::string::size_type at = text.find(key);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at + key.size(), text.find('"', at + key.size()) - at - key.size(), bootId);
    writeFile(internalLog(), text);
}

// A boot id of some other boot than this one.
const char* const kAnotherBoot = "00000000-0000-4000-8000-000000000000";

// The microseconds of the real-time clock now.
long long realTimeMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::chrono::steady_clock::duration timed(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::steady_clock::now() - start;
}

TEST(SafeRunTest, HangingPackageEndsAtItsLimitWhatOthersLeaveRunningIsLeftAlone) {
    const std::string dir = testDir() + "/bundle";
    writePackage(dir, "leaver", "sleep 30 & echo $! > '" + dir + "/leftover.pid'");
    writeQpk(dir, "hang", {0}, {60});
    writeQpk(dir, "after", {0});

    // Packages' own limits; the failure stops the run.
    writeBundleWith(dir, {{"leaver", "timeout=\"5\""}, {"hang.sh", "timeout=\"2\""}, {"after.sh", ""}});
    plimotest::RunResult r;
    EXPECT_LT(timed([&] { r = orvane({"-update", "-path", dir + "/bundle.xml"}); }), std::chrono::seconds(20));
    const pid_t leftover = std::stoi(readFile(dir + "/leftover.pid"));
    EXPECT_EQ(::kill(leftover, 0), 0) << "a package that ended in time keeps what it left running";
    ::kill(leftover, SIGKILL);
    EXPECT_EQ(statusOf(r.out), 3072) << r.out;
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(countOf(r.out, "Timed out after 2 seconds."), 1) << r.out;
    EXPECT_EQ(countOf(r.out, "code=\"-1\""), 2) << "Status and PkgLog of the timed-out package";
    EXPECT_EQ(qpkRuns(dir, "after"), 0);

    // The bundle-wide limit for a package without one; the run goes on.
    writeBundleWith(dir, {{"hang.sh", ""}, {"after.sh", ""}});
    EXPECT_LT(timed([&] {
                  r = orvane({"-update", "-path", dir + "/bundle.xml", "-timeout", "2", "-continueonfailure"});
              }),
              std::chrono::seconds(20));
    EXPECT_EQ(statusOf(r.out), 3085) << r.out;
    EXPECT_EQ(countOf(r.out, "Timed out after 2 seconds."), 1) << r.out;
    EXPECT_EQ(qpkRuns(dir, "after"), 1);
}

TEST(SafeRunTest, LimitsHoldAfterARestart) {
    // Each package asks for a restart, and hangs when it runs again.
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "own", {2, 0}, {0, 60});
    writeQpk(dir, "wide", {2, 0}, {0, 60});
    writeBundleWith(dir, {{"own.sh", "timeout=\"2\""}, {"wide.sh", ""}});
    auto r = svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me", "reboot=true",
                      "continueonfailure=true", "packagetimeout=3"});
    EXPECT_EQ(statusOf(r.out), 3082) << r.out;
    EXPECT_LT(timed([&] { r = runUnit(); }), std::chrono::seconds(25));
    EXPECT_EQ(statusOf(r.out), 3085) << r.out;
    EXPECT_EQ(countOf(r.out, "Timed out after 2 seconds."), 1) << r.out;
    EXPECT_EQ(countOf(r.out, "Timed out after 3 seconds."), 1) << r.out;
}

TEST(SafeRunTest, MalformedLimitsRunNothingAndOnlyAnUndoneRestartIsFlagged) {
    const std::string dir = testDir() + "/bundle";
    const std::string flag = testDir() + "/reboot-required";
    writeQpk(dir, "a", {0, 2});
    writeBundleWith(dir, {{"a.sh", "timeout=\"10s\""}});
    EXPECT_EQ(statusOf(orvane({"-update", "-path", dir + "/bundle.xml"}).out), 3081);
    writeBundleWith(dir, {{"a.sh", ""}});
    EXPECT_EQ(statusOf(orvane({"-update", "-path", dir + "/bundle.xml", "-timeout", "0"}).out), 3079);
    EXPECT_EQ(qpkRuns(dir, "a"), 0);

    EXPECT_EQ(statusOf(orvane({"-update", "-path", dir + "/bundle.xml"}).out), 0);
    EXPECT_FALSE(fileExists(flag) || fileExists(flag + ".pkgs"));
    EXPECT_EQ(statusOf(orvane({"-update", "-path", dir + "/bundle.xml"}).out), 3073);
    EXPECT_EQ(readFile(flag), "");
    EXPECT_EQ(readFile(flag + ".pkgs"), "plimo\n");
}

// The login manager's part: environment entries that put the system on the
// private bus with the inhibitor on.
std::vector<std::string> onBus(const PrivateLogind& bus) {
    return {"DBUS_SYSTEM_BUS_ADDRESS=" + bus.address(), "PLIMO_SKIP_INHIBIT"};
}

TEST(SafeRunTest, PackagesRunUnderAShutdownInhibitorWhenTheBusHasOne) {
    const std::string dir = testDir() + "/bundle";
    for (const char* name : {"first", "last"})
        writePackage(dir, name,
                     std::string("dbus-send --system --print-reply --dest=org.freedesktop.login1 ") +
                         "/org/freedesktop/login1 org.freedesktop.login1.Manager.ListInhibitors > '" + dir + "/" +
                         name + ".seen'");
    writeBundle(dir, {"first", "last"});
    const std::vector<std::string> update = {"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me",
                                             "updateid=U7"};

    PrivateLogind bus;
    EXPECT_EQ(statusOf(svchost(update, onBus(bus)).out), 0);
    EXPECT_EQ(countOf(bus.calls(), "Inhibit \"shutdown:sleep\" \"plimo\" \"Applying update bundle U7\" \"block\""), 1)
        << bus.calls();
    for (const char* name : {"first", "last"})
        EXPECT_EQ(countOf(readFile(dir + "/" + name + ".seen"), "\"Applying update bundle U7\""), 1) << name;
    EXPECT_EQ(countOf(bus.inhibitors(), "plimo"), 0) << bus.inhibitors();

    // No bus at all: the update runs all the same.
    EXPECT_EQ(statusOf(svchost(update, {"PLIMO_SKIP_INHIBIT"}).out), 0);
    EXPECT_EQ(countOf(readFile(dir + "/last.seen"), "plimo"), 0);
}

TEST(SafeRunTest, RestartGoesThroughTheLoginManagerNeverWithSkipReboot) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {2});
    writeBundle(dir, {"a.sh"});
    // Should anything miss the stand-in login manager, it meets a systemctl
    // that refuses.
    const std::string bin = testDir() + "/bin";
    writeFile(bin + "/systemctl", "#!/bin/sh\necho \"$@\" >> '" + testDir() + "/systemctl.args'\nexit 1\n", true);
    const char* path = std::getenv("PATH");
    const std::string pathEntry = "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin");
    const std::vector<std::string> update = {"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me",
                                             "reboot=true"};
    const std::string flag = testDir() + "/reboot-required";

    const std::string atRequest = testDir() + "/state-at-request";
    PrivateLogind bus(stateListingCode(atRequest));
    std::vector<std::string> env = onBus(bus);
    env.push_back(pathEntry);
    EXPECT_EQ(statusOf(svchost(update, env).out), 3082);
    EXPECT_EQ(countOf(bus.calls(), "Reboot"), 0) << bus.calls();
    EXPECT_EQ(countOf(bus.calls(), "ScheduleShutdown"), 0) << bus.calls();
    EXPECT_TRUE(fileExists(flag)) << "a restart skipped is a restart left undone";
    ::unlink(flag.c_str());
    EXPECT_EQ(svchost({"zuacmd=clean"}, env).exitCode, 0);

    env.push_back("PLIMO_SKIP_REBOOT");
    const long long before = realTimeMicroseconds();
    EXPECT_EQ(statusOf(svchost(update, env).out), 3082);
    const long long after = realTimeMicroseconds();
    const std::string calls = bus.calls();
    if (::geteuid() == 0) {
        // A restart a few seconds out, so that the caller has the answer
        // first, asked for once everything was saved: nothing changed after.
        EXPECT_EQ(countOf(calls, "Reboot"), 0) << calls;
        const std::string request = "ScheduleShutdown \"reboot\" ";
        const std::string::size_type at = calls.find(request);
        ASSERT_NE(at, std::string::npos) << calls;
        const long long when = std::stoll(calls.substr(at + request.size()));
        EXPECT_GE(when, before + 5000000);
        EXPECT_LE(when, after + 5000000);
        EXPECT_LT(calls.find("Inhibit"), at) << calls;
        EXPECT_FALSE(fileExists(flag));
        EXPECT_NE(readFile(atRequest), "");
        EXPECT_EQ(readFile(atRequest), stateListing());
        EXPECT_TRUE(wholeStatusLog(internalLog())) << "the journal is folded before the request";
        EXPECT_FALSE(fileExists(internalLog() + ".journal"));
    } else {
        EXPECT_EQ(countOf(calls, "ScheduleShutdown"), 0) << "without the right to restart nothing is asked";
    }
    EXPECT_EQ(svchost({"zuacmd=clean"}, env).exitCode, 0);

    // Allowed to restart, the update still leaves every restart to a caller
    // that owns them, the resume's own included; the flag tells the caller.
    const std::string callerDir = testDir() + "/caller";
    writeQpk(callerDir, "b", {2, 2, 0});
    writeBundle(callerDir, {"b.sh"});
    EXPECT_EQ(statusOf(svchost({"zuacmd=update", "bundlepath=" + callerDir, "bundle=bundle.xml", "zuausrinfo=me",
                                "callerreboot=true", "updateid=C1"},
                               env)
                           .out),
              3082);
    EXPECT_TRUE(fileExists(flag));
    ::unlink(flag.c_str());
    // Each resume after the caller's restart (another boot).
    recordBootId(kAnotherBoot);
    EXPECT_EQ(statusOf(runUnit(env).out), 3082);
    EXPECT_TRUE(fileExists(flag));
    recordBootId(kAnotherBoot);
    EXPECT_EQ(statusOf(runUnit(env).out), 0);
    EXPECT_EQ(qpkRuns(callerDir, "b"), 3);
    EXPECT_EQ(countOf(bus.calls(), "ScheduleShutdown"), countOf(calls, "ScheduleShutdown")) << bus.calls();

    EXPECT_FALSE(fileExists(testDir() + "/systemctl.args"));
    EXPECT_EQ(countOf(bus.inhibitors(), "plimo"), 0);
}

} // namespace

namespace {

TEST(SafeRunTest, AResumeCountsOnlyARestartThatHappenedAndTheRestartsSigtermEndsItInOrder) {
    const std::string dir = testDir() + "/bundle";
    writeQpk(dir, "a", {2, 2, 2, 2, 2, 0});
    writeBundle(dir, {"a.sh"});
    const std::string bin = testDir() + "/bin";
    // The system manager of a machine without a login manager restarts it at
    // once: the shutdown's SIGTERM reaches the update's process before it has
    // answered.
    writeFile(bin + "/systemctl",
              "#!/bin/sh\necho \"$@\" >> '" + testDir() + "/systemctl.args'\n[ -e '" + testDir() +
                  "/refuse' ] && exit 1\nkill -TERM $PPID\n",
              true);
    const char* path = std::getenv("PATH");
    const std::vector<std::string> noBus = {"DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + testDir() + "/no-bus",
                                            "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin"),
                                            "PLIMO_SKIP_INHIBIT"};
    std::vector<std::string> restarting = noBus;
    restarting.push_back("PLIMO_SKIP_REBOOT");

    // The caller restarts the machine: this boot is recorded, and a resume
    // started before the restart runs nothing and answers the wait again.
    EXPECT_EQ(statusOf(svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me",
                                "callerreboot=true", "updateid=B1"},
                               restarting)
                           .out),
              3082);
    const std::string bootId = readFile("/proc/sys/kernel/random/boot_id");
    EXPECT_EQ(attributeOf(readFile(internalLog()), "BundleSettings", "restartBootId") + "\n", bootId);
    const std::string waiting = readFile(internalLog());
    for (int i = 0; i < 2; ++i) {
        auto early = runUnit(restarting);
        EXPECT_EQ(statusOf(early.out), 3082) << early.out;
        EXPECT_EQ(attributeOf(early.out, "BundleSettings", "restartBootId"), "<none>") << "internal";
    }
    EXPECT_EQ(qpkRuns(dir, "a"), 1);
    EXPECT_EQ(readFile(internalLog()), waiting);
    // A malformed id tells nothing: the resume goes on.
    recordBootId("not-a-boot-id");
    EXPECT_EQ(statusOf(runUnit(restarting).out), 3082);
    EXPECT_EQ(qpkRuns(dir, "a"), 2);
    // After a restart (another boot id) it runs, and when it asks for another
    // restart itself, the shutdown's SIGTERM ends it in order: its answer
    // whole, exit code 0.
    ASSERT_EQ(svchost({"zuacmd=clean"}, restarting).exitCode, 0);
    EXPECT_EQ(statusOf(svchost({"zuacmd=update", "bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me",
                                "reboot=true", "updateid=B2"},
                               noBus)
                           .out),
              3082);
    EXPECT_EQ(attributeOf(readFile(internalLog()), "BundleSettings", "restartBootId"), "<none>")
        << "a restart skipped on purpose is waited for by no boot";
    if (::geteuid() != 0) GTEST_SKIP() << "only root may restart the machine";
    auto resumed = runUnit(restarting);
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_EQ(statusOf(resumed.out), 3082) << resumed.out;
    EXPECT_NE(resumed.out.find("</BundleLog>"), std::string::npos);
    EXPECT_EQ(countOf(readFile(testDir() + "/systemctl.args"), "--no-wall reboot"), 1);
    EXPECT_EQ(qpkRuns(dir, "a"), 4);
    const std::string left = readFile(internalLog());
    EXPECT_EQ(attributeOf(left, "rebootCount", "rebootCount"), "2");
    EXPECT_EQ(attributeOf(left, "BundleSettings", "restartBootId") + "\n", bootId);

    // A refused restart: the machine stays up, the record says so under the
    // lock again, the unit stays and the flag is up for the next boot.
    writeFile(testDir() + "/refuse", "");
    recordBootId(kAnotherBoot);
    EXPECT_EQ(statusOf(runUnit(restarting).out), 3079);
    EXPECT_EQ(statusOf(readFile(internalLog())), 3079);
    EXPECT_TRUE(fileExists(unitFile()));
    EXPECT_TRUE(fileExists(testDir() + "/reboot-required"));
    EXPECT_FALSE(fileExists(lockFile()));
    EXPECT_EQ(qpkRuns(dir, "a"), 5);
}

} // namespace
