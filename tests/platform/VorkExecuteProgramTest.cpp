#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "VorkExecuteProgram.h"

using namespace VorkSupport;
using plimotest::testDir;

namespace {

std::string script(const std::string& path, const std::string& body) {
    return plimotest::writeFile(path, "#!/bin/sh\n" + body + "\n", true);
}

VorkProgramResult start(const std::string& programText, const std::string& dir = "", bool wait = true) {
    VorkProgramCall call;
    call.programText = programText;
    call.workingDirectory = dir;
    return VorkExecuteProgram(call, wait);
}

int run(const std::string& commandLine, bool* started = nullptr, const std::string& dir = "") {
    const VorkProgramResult result = start(commandLine, dir);
    if (started) *started = result.started;
    return result.started ? result.exitCode : 12345;
}

// Whether a process runs (a zombie has ended), waiting up to two seconds
// for it to end.
bool stillRuns(pid_t pid) {
    for (int i = 0; i < 40; ++i) {
        const std::string stat = plimotest::readFile("/proc/" + std::to_string(pid) + "/stat");
        const auto name = stat.rfind(')');
        if (name == std::string::npos || name + 2 >= stat.size() || stat[name + 2] == 'Z') return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

} // namespace

TEST(VorkExecuteProgram, ReportsExitStatusAndSignal) {
    const std::string prog = script(testDir() + "/bin/code", "exit \"$1\"");
    EXPECT_EQ(run(prog + " 0"), 0);
    EXPECT_EQ(run(prog + " 1"), 1);
    EXPECT_EQ(run(prog + " 255"), 255);
    const std::string killer = script(testDir() + "/bin/killer", "kill -KILL $$");
    bool started = false;
    EXPECT_EQ(run(killer, &started), -1);
    EXPECT_TRUE(started);
}

TEST(VorkExecuteProgram, MissingProgramIsNotStartedAndSaysWhy) {
    plimotest::writeFile(testDir() + "/plain", "#!/bin/sh\nexit 0\n", false);
    // A directory or a file without execute permission is not a program.
    for (const std::string& text : {testDir() + "/nothing/here --x", std::string("plimo-no-such-program-anywhere"),
                                    std::string(), testDir() + "/plain", testDir()}) {
        const VorkProgramResult result = start(text);
        EXPECT_FALSE(result.started) << text;
        EXPECT_EQ(result.error, ENOENT) << text;
        EXPECT_EQ(result.pid, -1) << text;
        EXPECT_FALSE(result.timedOut) << text;
    }
}

TEST(VorkExecuteProgram, UnquotedPathWithBlanksAndArguments) {
    // "<dir>/my progs" is a directory: the shortest prefix that is an
    // executable file is "<dir>/my progs/run me".
    const std::string out = testDir() + "/args.txt";
    script(testDir() + "/my progs/run me", "for a in \"$@\"; do echo \"<$a>\"; done > '" + out + "'");
    EXPECT_EQ(run(testDir() + "/my progs/run me first \"second word\" \"say \\\"hi\\\"\""), 0);
    EXPECT_EQ(plimotest::readFile(out), "<first>\n<second word>\n<say \"hi\">\n");
    // The quoted form starts the same program.
    EXPECT_EQ(run("\"" + testDir() + "/my progs/run me\" only"), 0);
    EXPECT_EQ(plimotest::readFile(out), "<only>\n");
}

TEST(VorkExecuteProgram, BareNameIsLookedUpOnPath) {
    const std::string out = testDir() + "/ran.txt";
    script(testDir() + "/pathdir/plimo-stand-in.exe", "echo ran \"$1\" > '" + out + "'\nexit 7");
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (testDir() + "/pathdir:" + oldPath).c_str(), 1);
    const int code = run("plimo-stand-in.exe /i x.msi");
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(code, 7);
    EXPECT_EQ(plimotest::readFile(out), "ran /i\n");
}

TEST(VorkExecuteProgram, ChildGetsDevNullStdinNoLeakedDescriptorsAndItsOwnDirectory) {
    int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
    ASSERT_GT(leaked, 2);
    const std::string out = testDir() + "/child.txt";
    const std::string work = testDir() + "/work";
    plimotest::writeFile(work + "/marker", "");
    script(testDir() + "/bin/probe", "{ readlink /proc/$$/fd/0; if [ -e /proc/$$/fd/" + std::to_string(leaked) +
                                         " ]; then echo leaked; else echo closed; fi; pwd; } > '" + out + "'");
    char before[PATH_MAX];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    EXPECT_EQ(run(testDir() + "/bin/probe", nullptr, work), 0);
    ::close(leaked);
    char after[PATH_MAX];
    ASSERT_NE(::getcwd(after, sizeof after), nullptr);
    EXPECT_STREQ(before, after);
    EXPECT_EQ(plimotest::readFile(out), "/dev/null\nclosed\n" + work + "\n");
    // A working directory that does not exist: nothing starts, and the
    // reason is the child's own.
    const VorkProgramResult absent = start(testDir() + "/bin/probe", testDir() + "/absent");
    EXPECT_FALSE(absent.started);
    EXPECT_EQ(absent.error, ENOENT);
}

TEST(VorkExecuteProgram, NoWaitHandsOverThePidAndOnlyTheCallerReapsIt) {
    const std::string prog = script(testDir() + "/bin/code", "exit 3");
    const VorkProgramResult result = start(prog, "", false);
    ASSERT_TRUE(result.started);
    const pid_t pid = result.pid;
    ASSERT_GT(pid, 0);
    // Ended but not collected by anything in this process: the caller's
    // waitpid below still finds it.
    EXPECT_FALSE(stillRuns(pid));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST(VorkExecuteProgram, ReplaceableRunnerSeesTheDisplayTextAndAnswersAnyCode) {
    std::string seenLine, seenDir;
    VorkSetProgramRunner([&](const std::string& line, bool, const std::string& dir) {
        seenLine = line;
        seenDir = dir;
        VorkProgramResult result;
        result.started = true;
        result.exitCode = 3010;
        return result;
    });
    const VorkProgramResult answered = start("msiexec.exe /i a.msi");
    EXPECT_TRUE(answered.started);
    EXPECT_EQ(answered.exitCode, 3010);
    EXPECT_EQ(seenLine, "msiexec.exe /i a.msi");
    VorkProgramCall call;
    call.commandLine = "shown";
    call.programText = "x";
    call.arguments = {"y"};
    call.workingDirectory = "/some/dir";
    EXPECT_TRUE(VorkExecuteProgram(call).started);
    EXPECT_EQ(seenLine, "shown");
    EXPECT_EQ(seenDir, "/some/dir");
    VorkSetProgramRunner(nullptr);
    EXPECT_FALSE(start("plimo-no-such-program-anywhere").started);
}

TEST(VorkExecuteProgram, SplitsWindowsStyle) {
    using V = std::vector<std::string>;
    EXPECT_EQ(VorkSplitCommandLine("  a  b\tc "), (V{"a", "b", "c"}));
    EXPECT_EQ(VorkSplitCommandLine("\"a b\" c\"d e\"f \"\""), (V{"a b", "cd ef", ""}));
    EXPECT_EQ(VorkSplitCommandLine("\"x \\\"y\\\"\" C:\\dir\\f"), (V{"x \"y\"", "C:\\dir\\f"}));
    EXPECT_EQ(VorkSplitCommandLine("\"unterminated word"), (V{"unterminated word"}));
    EXPECT_TRUE(VorkSplitCommandLine("   ").empty());
}

TEST(VorkExecuteProgram, ProgramPathStartsAsItStandsWithCleanSignals) {
    // A path with blanks and a quote: neither looked up nor split, and it is
    // what the program finds as its own name.
    const std::string out = testDir() + "/child.txt";
    const std::string prog =
        script(testDir() + "/my \"bin\"/run me",
               "echo \"$0|$1\" > '" + out + "'\nexec grep -E '^Sig(Blk|Ign):' /proc/self/status >> '" + out + "'");
    // Whatever the caller blocks or ignores, the program starts clean (and
    // so does what it execs; a shell's own mask changes around its forks).
    sigset_t blocked, saved;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &saved), 0);
    struct sigaction ignore {
    }, savedInt{}, savedHup{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGINT, &ignore, &savedInt);
    ::sigaction(SIGHUP, &ignore, &savedHup);
    VorkProgramCall call;
    call.programText = "not looked up";
    call.programPath = prog;
    call.arguments = {"with blanks"};
    const VorkProgramResult result = VorkExecuteProgram(call);
    ::sigaction(SIGINT, &savedInt, nullptr);
    ::sigaction(SIGHUP, &savedHup, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    EXPECT_TRUE(result.started);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(plimotest::readFile(out), prog + "|with blanks\nSigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(VorkExecuteProgram, TimeLimitEndsTheProgramAndItsWholeGroup) {
    using namespace std::chrono_literals;
    const std::string pids = testDir() + "/pids";
    VorkProgramCall call;
    call.ownProcessGroup = true;
    call.timeoutSeconds = 1;
    call.killGraceSeconds = 1;
    int code = 0;
    bool timedOut = true;
    auto timedRun = [&] {
        const auto begin = std::chrono::steady_clock::now();
        const VorkProgramResult result = VorkExecuteProgram(call);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.pid, -1);
        code = result.exitCode;
        timedOut = result.timedOut;
        return std::chrono::steady_clock::now() - begin;
    };

    // Ended in time: its own exit status.
    call.programText = script(testDir() + "/bin/quick", "exit 3");
    timedRun();
    EXPECT_EQ(code, 3);
    EXPECT_FALSE(timedOut);

    // Deaf to SIGTERM, and so is what it started: the whole group is killed
    // once the grace has passed.
    call.programText =
        script(testDir() + "/bin/deaf", "trap '' TERM\nsleep 30 & echo $! > '" + pids + "'\nwhile :; do sleep 1; done");
    auto took = timedRun();
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(timedOut);
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 10s);
    EXPECT_FALSE(stillRuns(std::stoi(plimotest::readFile(pids))));

    // Gone at SIGTERM: the grace is not waited out.
    call.killGraceSeconds = 30;
    call.programText = script(testDir() + "/bin/hang", "sleep 30");
    took = timedRun();
    EXPECT_TRUE(timedOut);
    EXPECT_LT(took, 10s);
}
