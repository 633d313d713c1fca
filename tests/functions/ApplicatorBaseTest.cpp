#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "FunctionCall.h"
#include "TestEnvironment.h"
#include "UpdateFunctionBase.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"
#include "VorkFaultSeam.h"
#include "VorkLogging.h"
#include "VorkPropertyNotFound.h"
#include "ZipWriter.h"
#include "raiseRebootRequiredFlag.h"

namespace fs = std::filesystem;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;
using VorkSupport::VorkException;
using Properties = VorkSupport::VorkProperties<std::string>;

namespace {

std::string systemTemp() { return testDir() + "/win/TEMP"; }

Properties props(const std::vector<std::string>& entries) {
    Properties p;
    for (const auto& e : entries) p.addProperty(e, '=');
    return p;
}

// Runs fn in a forked child and answers its exit status.
template <typename Fn>
int inChild(Fn fn) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(fn());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> plimoDirectories() {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(testDir() + "/tmp"))
        if (e.path().filename().string().rfind("plimo", 0) == 0) found.push_back(e.path().string());
    return found;
}

// Runs its action when the scope ends, also when an assertion leaves early.
class AtExit {
public:
    explicit AtExit(std::function<void()> action) : m_action(std::move(action)) {}
    ~AtExit() { m_action(); }
    AtExit(const AtExit&) = delete;
    AtExit& operator=(const AtExit&) = delete;

private:
    std::function<void()> m_action;
};

} // namespace

TEST(BundleApplicatorBase, NamesTheSystemFilesAndTheServiceIdentity) {
    UpdateFunctionBase app;
    EXPECT_EQ(app.internalLogName(), systemTemp() + "/BAUpdate.xml");
    EXPECT_EQ(app.lockFileName(), systemTemp() + "/plimo.tmp");
    std::string logName;
    EXPECT_FALSE(app.updateLogExists("U1", logName));
    EXPECT_EQ(logName, systemTemp() + "/U1.xml");
    writeFile(logName, "<BundleLog/>");
    EXPECT_TRUE(app.updateLogExists("U1", logName));
    EXPECT_FALSE(app.defaultUpdateLogExists());
    writeFile(systemTemp() + "/BAUpdate.xml", "<BundleLog/>");
    EXPECT_TRUE(app.defaultUpdateLogExists());

    EXPECT_EQ(app.serviceName(), "plimo");
    EXPECT_EQ(app.secondName(), "plimo");
    EXPECT_EQ(app.displayName(), "Bundle Applicator");
    EXPECT_EQ(app.commandLine(), "plimo zuacmd=resume");
    EXPECT_FALSE(app.startIt());
    EXPECT_FALSE(app.pauseIt());

    BAXMLDoc log(app.internalLogName());
    app.setQpkLog(log);
    EXPECT_EQ(log.qpkLogName, systemTemp() + "/QPK.log");
}

TEST(BundleApplicatorBase, LockAdmitsOneHolderInThisProcessAndInOthers) {
    UpdateFunctionBase first;
    UpdateFunctionBase second;
    ASSERT_TRUE(first.startExclusiveUpdate());
    EXPECT_TRUE(fileExists(first.lockFileName()));
    EXPECT_FALSE(second.startExclusiveUpdate());
    EXPECT_FALSE(first.startExclusiveUpdate()) << "not even its holder takes it twice";
    EXPECT_EQ(inChild([] { return UpdateFunctionBase().startExclusiveUpdate() ? 1 : 0; }), 0);

    struct stat st {};
    ASSERT_EQ(::stat(first.lockFileName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Deleting the lock file (a package may do it) lets no second holder in:
    // the holder also locks the folder. A refused taker leaves no file.
    ASSERT_EQ(::unlink(first.lockFileName().c_str()), 0);
    EXPECT_FALSE(second.startExclusiveUpdate());
    EXPECT_EQ(inChild([] { return UpdateFunctionBase().startExclusiveUpdate() ? 1 : 0; }), 0);
    EXPECT_FALSE(fileExists(first.lockFileName()));

    first.endExclusiveUpdate();
    EXPECT_FALSE(fileExists(first.lockFileName()));
    first.endExclusiveUpdate(); // nothing held: nothing happens
    EXPECT_TRUE(second.startExclusiveUpdate());
    EXPECT_EQ(inChild([] { return UpdateFunctionBase().startExclusiveUpdate() ? 1 : 0; }), 0);
    {
        // The applicator of an update releases the lock when it goes.
        UpdateFunctionBase scoped;
        second.endExclusiveUpdate();
        ASSERT_TRUE(scoped.startExclusiveUpdate());
    }
    EXPECT_FALSE(fileExists(second.lockFileName()));
    EXPECT_EQ(inChild([] { return UpdateFunctionBase().startExclusiveUpdate() ? 1 : 0; }), 1);
}

TEST(FunctionCall, CaughtExceptionsBecomeStatusesAndTheLockEndsWithTheCall) {
    BundleApplicatorBase applicator;
    BAXMLDoc log;
    {
        FunctionCall call("Test::execute", applicator, log);
        ASSERT_TRUE(call.takeLock());
        auto statusAfter = [&](auto raise, const FunctionCall::Reporting& reporting) {
            EXPECT_FALSE(call.guard(reporting, raise));
            return log.SMStatus();
        };
        const auto plain = FunctionCall::Reporting::of("Test::execute");
        auto generic = FunctionCall::Reporting::withPrefix("Test::execute: any");
        generic.generic = true;
        EXPECT_EQ(statusAfter([] { throw VorkException("no code"); }, plain), 3079);
        EXPECT_EQ(statusAfter([] { throw VorkException("coded", StatusCode::MissingPackage); }, plain), 3075);
        EXPECT_EQ(statusAfter([] { throw std::runtime_error("std"); }, plain), 3079);
        EXPECT_EQ(statusAfter([] { throw VorkException("coded", StatusCode::MissingPackage); }, generic), 3079);
        EXPECT_EQ(statusAfter([] { throw 7; }, generic), 3079);
        EXPECT_THROW(call.guard(plain, [] { throw 7; }), int);
        {
            // An element the status log cannot allocate reports an unknown
            // exception, with what failed in the debug log.
            const std::string debugFile = testDir() + "/allocation.log";
            VorkSupport::VorkLogging debugLog(debugFile, 1, 1);
            VorkSupport::VorkLogging::setInstance(&debugLog);
            AtExit detach([] {
                VorkSupport::VorkFaultSeam::disarm();
                VorkSupport::VorkLogging::setInstance(nullptr);
            });
            using VorkSupport::VorkFaultSeam;
            VorkFaultSeam::arm(VorkFaultSeam::Call::Allocate, 1, VorkFaultSeam::Action::Fail);
            EXPECT_EQ(statusAfter([&] { log.addValidationNode(); }, plain), 3079);
            EXPECT_TRUE(VorkFaultSeam::fired());
            VorkSupport::VorkLogging::setInstance(nullptr);
            const std::string records = readFile(debugFile);
            const std::size_t failure = records.find("Validation node");
            ASSERT_NE(failure, std::string::npos) << records;
            EXPECT_EQ(records.find(". code=3079", failure), failure + std::string("Validation node").size());
            const std::string answer = log.dumpRoot();
            EXPECT_NE(answer.find(StatusCode::message(StatusCode::UnknownException)), std::string::npos) << answer;
            EXPECT_EQ(answer.find(StatusCode::kUnknownMessage), std::string::npos) << answer;
        }
        EXPECT_TRUE(call.guard([] {}));
        EXPECT_TRUE(applicator.holdsExclusiveUpdate());
    }
    EXPECT_FALSE(applicator.holdsExclusiveUpdate());
    EXPECT_FALSE(fileExists(applicator.lockFileName()));
}

TEST(BundleApplicatorBase, LockFileOfADeadProcessDoesNotBlock) {
    // The child takes the lock and dies without releasing it.
    EXPECT_EQ(inChild([] {
                  UpdateFunctionBase* leaked = new UpdateFunctionBase();
                  return leaked->startExclusiveUpdate() ? 1 : 0;
              }),
              1);
    UpdateFunctionBase app;
    ASSERT_TRUE(fileExists(app.lockFileName()));
    EXPECT_TRUE(app.startExclusiveUpdate());
    app.endExclusiveUpdate();
}

TEST(BundleApplicatorBase, ChildProgramsNeverInheritTheLock) {
    std::string script = writeFile(testDir() + "/list-fds.sh",
                                   "#!/bin/sh\nfor f in /proc/$$/fd/*; do readlink \"$f\" || :; done\n", true);
    UpdateFunctionBase app;
    ASSERT_TRUE(app.startExclusiveUpdate());
    // A plain spawn (not the system's program runner) shows what exec keeps.
    plimotest::RunResult r = plimotest::runProgram({script});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("plimo.tmp"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("/win/TEMP\n"), std::string::npos) << r.out;
}

TEST(BundleApplicatorBase, DebugLogFollowsTheKeysAndGoesWithItsApplicator) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(testDir().c_str()), 0);
    AtExit restore([&] {
        ::unsetenv("PLIMO_LOGLEVEL");
        ::unsetenv("PLIMO_LOGTARGET");
        if (::chdir(cwd) != 0) ADD_FAILURE() << "cannot return to " << cwd;
    });
    VorkSupport::VorkLogging::setInstance(nullptr);
    {
        BundleApplicatorBase app;
        BAXMLDoc log(app.internalLogName());
        app.processBaseParameters(props({"dbgtarget=16"}), log);
        EXPECT_EQ(VorkSupport::VorkLogging::getInstance(), nullptr);
        app.processBaseParameters(props({}), log);
        EXPECT_EQ(VorkSupport::VorkLogging::getInstance(), nullptr);
        app.processBaseParameters(props({"dbglevel=5", "updateid=U7"}), log);
        VorkSupport::VorkLogging* debugLog = VorkSupport::VorkLogging::getInstance();
        ASSERT_NE(debugLog, nullptr);
        EXPECT_EQ(debugLog->getLogLevel(), 5);
        EXPECT_EQ(debugLog->getTarget(), 1);
        EXPECT_EQ(debugLog->getFileName(), "./plimo.log");
        EXPECT_EQ(log.updateId(), "U7");
        // A second call replaces the log without leaking the first.
        ::setenv("PLIMO_LOGLEVEL", "9", 1);
        ::setenv("PLIMO_LOGTARGET", "1", 1);
        app.processBaseParameters(props({}), log);
        ASSERT_NE(VorkSupport::VorkLogging::getInstance(), nullptr);
        EXPECT_EQ(VorkSupport::VorkLogging::getInstance()->getLogLevel(), 9);
    }
    // No record may reach the deleted log.
    EXPECT_EQ(VorkSupport::VorkLogging::getInstance(), nullptr);
    EXPECT_TRUE(fileExists(testDir() + "/plimo.log"));
}

TEST(BundleApplicatorBase, UpdateIdAndLogTarget) {
    BundleApplicatorBase app;
    BAXMLDoc log(app.internalLogName());
    EXPECT_FALSE(app.getUpdateId(props({}), log));
    EXPECT_TRUE(app.getUpdateId(props({"updateid=U1"}), log));
    EXPECT_EQ(log.updateId(), "U1");
    // An id names a file beside the internal log and goes into a unit file.
    for (const char* bad : {"updateid=../../x", "updateid=a/b", "updateid=a\\b", "updateid=U1\nExecStart=/bin/x"}) {
        try {
            app.getUpdateId(props({bad}), log);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const VorkException& e) {
            EXPECT_EQ(e.getCode(), 0);
        }
    }
    EXPECT_EQ(log.updateId(), "U1");

    std::string target;
    EXPECT_FALSE(app.getLogTarget(props({}), target));
    EXPECT_EQ(target, "");
    EXPECT_TRUE(app.getLogTarget(props({"logtarget=" + testDir() + "/user.xml"}), log));
    EXPECT_EQ(log.logTarget(), testDir() + "/user.xml");
    EXPECT_THROW(app.getLogTarget(props({"logtarget=" + testDir() + "/nodir/user.xml"}), target), VorkException);
}

TEST(BundleApplicatorBase, BundleDirectoryParameters) {
    std::string dir = testDir() + "/bundle";
    writeFile(dir + "/bundle.xml", "<SoftwareBundle/>");
    BundleApplicatorBase app;
    {
        BAXMLDoc log(app.internalLogName());
        app.processBundleParameters(props({"bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me"}), log);
        EXPECT_EQ(log.bundlePath(), dir + "/");
        EXPECT_EQ(log.bundleName(), "bundle.xml");
        EXPECT_EQ(log.relocationFile(), "") << "no relocation file in the bundle";
        EXPECT_EQ(log.UserInfo(), "me");
        EXPECT_EQ(log.bundlePackage(), "");
    }
    writeFile(dir + "/relocation.xml", "<Relocation/>");
    writeFile(dir + "/other.xml", "<Relocation/>");
    {
        BAXMLDoc log(app.internalLogName());
        app.processBundleParameters(props({"bundlepath=" + dir, "bundle=bundle.xml", "zuausrinfo=me"}), log);
        EXPECT_EQ(log.relocationFile(), dir + "/relocation.xml");
        BAXMLDoc named(app.internalLogName());
        app.processBundleParameters(
            props({"bundlepath=" + dir, "bundle=bundle.xml", "relocation=other.xml", "zuausrinfo=me"}), named);
        EXPECT_EQ(named.relocationFile(), dir + "/other.xml");
        BAXMLDoc none(app.internalLogName());
        app.processBundleParameters(
            props({"bundlepath=" + dir, "bundle=bundle.xml", "relocation=nothing.xml", "zuausrinfo=me"}), none);
        EXPECT_EQ(none.relocationFile(), "");
    }
    BAXMLDoc log(app.internalLogName());
    EXPECT_THROW(app.processBundleParameters(props({"bundlepath=" + dir, "zuausrinfo=me"}), log),
                 VorkSupport::VorkPropertyNotFound);
    EXPECT_THROW(app.processBundleParameters(props({"bundlepath=" + dir, "bundle=bundle.xml"}), log),
                 VorkSupport::VorkPropertyNotFound);
    EXPECT_THROW(app.processBundleParameters(props({"bundlepath=", "zuausrinfo=me"}), log),
                 VorkSupport::VorkPropertyNotFound);
    try {
        app.processBundleParameters(props({"bundlepath=" + dir, "bundle=missing.xml", "zuausrinfo=me"}), log);
        ADD_FAILURE() << "missing definition accepted";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3081);
        EXPECT_EQ(e.getMessageNarrow(), "BundleApplicatorBase::processBaseParameters: no bundle.xml exception\n");
    }
    try {
        app.processBundleParameters(props({"bundlepath=" + dir + "/nowhere", "bundle=b.xml", "zuausrinfo=me"}), log);
        ADD_FAILURE() << "missing directory accepted";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 0);
    }
}

TEST(BundleApplicatorBase, BundlePackageIsExtractedIntoANewPrivateDirectory) {
    std::string zip = testDir() + "/bundle.zip";
    ASSERT_TRUE(ZipWriter().file("bundle.xml", "<SoftwareBundle/>").file("relocation.xml", "<R/>").write(zip));
    BundleApplicatorBase app;
    BAXMLDoc log(app.internalLogName());
    app.processBundleParameters(
        props({"bundlepackage=" + zip, "installparams=-q", "zuausrinfo=me", "clearpackage=TRUE"}), log);
    EXPECT_TRUE(fileExists(zip)) << "only the exact text true clears the package";
    EXPECT_EQ(log.bundlePackage(), zip);
    EXPECT_EQ(log.installParams(), "-q");
    std::string dir = log.bundlePath();
    ASSERT_EQ(plimoDirectories(), std::vector<std::string>{dir});
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(readFile(dir + "/bundle.xml"), "<SoftwareBundle/>");
    std::string start, definition, relocation;
    log.getStartParameters(start, definition, relocation);
    EXPECT_EQ(definition, "bundle.xml");

    // A second extraction never reuses the first directory.
    BAXMLDoc again(app.internalLogName());
    app.processBundleParameters(props({"bundlepackage=" + zip, "zuausrinfo=me", "clearpackage=true"}), again);
    EXPECT_NE(again.bundlePath(), dir);
    EXPECT_FALSE(fileExists(zip));
    EXPECT_EQ(plimoDirectories().size(), 2u);
}

TEST(BundleApplicatorBase, FailedBundlePackageLeavesNoDirectoryBehind) {
    BundleApplicatorBase app;
    std::string zip = testDir() + "/broken.zip";
    writeFile(zip, "not a zip");
    BAXMLDoc log(app.internalLogName());
    try {
        app.processBundleParameters(props({"bundlepackage=" + zip, "zuausrinfo=me", "clearpackage=true"}), log);
        ADD_FAILURE() << "broken package accepted";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 0);
        EXPECT_EQ(e.getMessageNarrow(), "BundleApplicatorBase::processBaseParameters: extraction failed: " + zip);
    }
    EXPECT_TRUE(fileExists(zip)) << "clearpackage removes nothing when the extraction failed";
    EXPECT_TRUE(plimoDirectories().empty());

    // An archive without bundle.xml: 3081, and the extracted files go too.
    ASSERT_TRUE(ZipWriter().file("readme.txt", "x").write(zip));
    try {
        app.processBundleParameters(props({"bundlepackage=" + zip, "zuausrinfo=me"}), log);
        ADD_FAILURE() << "package without definition accepted";
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 3081);
    }
    EXPECT_TRUE(plimoDirectories().empty());
    EXPECT_TRUE(fileExists(zip));
}

TEST(UpdateFunctionBase, RebootIsSkippedWhenAskedAndNeverReachesTheSystemInTests) {
    std::vector<std::string> calls;
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    AtExit restore([&] {
        ::setenv("PLIMO_SKIP_REBOOT", "1", 1);
        ::setenv("PATH", path.c_str(), 1);
        VorkSupport::VorkSetProgramRunner(nullptr);
    });
    VorkSupport::VorkSetProgramRunner([&](const std::string& commandLine, bool, const std::string&) {
        calls.push_back(commandLine);
        VorkSupport::VorkProgramResult result;
        result.started = true;
        result.exitCode = 1;
        return result;
    });
    UpdateFunctionBase app;
    ASSERT_NE(std::getenv("PLIMO_SKIP_REBOOT"), nullptr);
    EXPECT_NO_THROW(app.reboot());
    EXPECT_TRUE(calls.empty());

    // Without the switch: the program runner is replaced and a refusing
    // systemctl stands first on PATH, so nothing can reach the real one.
    std::string bin = testDir() + "/bin";
    writeFile(bin + "/systemctl", "#!/bin/sh\necho \"$@\" > \"" + testDir() + "/systemctl.args\"\nexit 1\n", true);
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);
    // Nor can it reach a login manager: the bus it would ask is not there.
    const std::string bus = std::getenv("DBUS_SYSTEM_BUS_ADDRESS") ? std::getenv("DBUS_SYSTEM_BUS_ADDRESS") : "";
    AtExit restoreBus([&] {
        if (bus.empty()) ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.c_str(), 1);
    });
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + testDir() + "/no-bus").c_str(), 1);
    ::unsetenv("PLIMO_SKIP_REBOOT");
    bool privileged = ::geteuid() == 0;
    try {
        app.reboot();
        // Without the right to restart the request is dropped quietly.
        EXPECT_TRUE(calls.empty());
    } catch (const VorkException& e) {
        EXPECT_EQ(e.getCode(), 0);
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_NE(calls[0].find("systemctl"), std::string::npos);
        EXPECT_NE(calls[0].find("reboot"), std::string::npos);
    }
    if (privileged) {
        EXPECT_EQ(calls.size(), 1u);
    }
}

TEST(RebootRequiredFlag, RaisedOnceAndNeverSpoilsWhatAnotherProgramWrote) {
    const std::string flag = testDir() + "/run/reboot-required";
    ::setenv("PLIMO_REBOOT_REQUIRED_FILE", flag.c_str(), 1);
    EXPECT_FALSE(raiseRebootRequiredFlag()) << "its directory does not exist";

    ASSERT_EQ(::mkdir((testDir() + "/run").c_str(), 0755), 0);
    const mode_t mask = ::umask(077);
    EXPECT_TRUE(raiseRebootRequiredFlag());
    EXPECT_TRUE(raiseRebootRequiredFlag());
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(flag.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(readFile(flag + ".pkgs"), "plimo\n");

    writeFile(flag, "*** System restart required ***\n");
    writeFile(flag + ".pkgs", "linux-image");
    EXPECT_TRUE(raiseRebootRequiredFlag());
    EXPECT_EQ(readFile(flag), "*** System restart required ***\n");
    EXPECT_EQ(readFile(flag + ".pkgs"), "linux-image\nplimo\n");
}
