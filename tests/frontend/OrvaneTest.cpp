// The console front end, run as a child process against a recording
// stand-in plug-in (or the real one) through the real data manager.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StatusCode.h"
#include "TestEnvironment.h"

namespace {

using plimotest::RunResult;

const std::string orvane = PLIMO_BIN_DIR "/Orvane";
const std::string recordingPlugins = PLIMO_TEST_HELPER_DIR "/recplugin";

const std::string helpText = "\nhelp:\n"
                             "\t-? | -help\n"
                             "update:\n"
                             "\t-update -path <bundle file name> [-logc <log file name>]\n"
                             "\t[-force][-ignore][-continueonfailure][-preinstenv] \n"
                             "progress:\n"
                             "\t-progress [-logc <log file name>]\n";

std::string recordFile() { return plimotest::testDir() + "/record"; }
std::string tempLog() { return plimotest::testDir() + "/tmp/Orvane.log"; }

std::string statusAnswer(const std::string& status) {
    return "<BundleLog>\n  <SMStatus result=\"" + status + "\">message</SMStatus>\n</BundleLog>\n";
}

// Runs Orvane in the test's directory with the recording plug-in first on
// the plug-in path; answer "<null>" makes the plug-in answer null.
RunResult runOrvane(const std::vector<std::string>& arguments, const std::string& answer = "<null>",
                    std::vector<std::string> env = {}) {
    std::vector<std::string> argv = {orvane};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    env.push_back("ZUA_PLUGIN_PATH=" + recordingPlugins + ":" + PLIMO_PLUGIN_DIR);
    env.push_back("PLIMOREC_RECORD=" + recordFile());
    env.push_back(answer == "<null>" ? "PLIMOREC_ANSWER" : "PLIMOREC_ANSWER=" + answer);
    env.push_back("MNF_BYPASS_PLUGIN_INSTALL_CHECK");
    return plimotest::runProgram(argv, env, plimotest::testDir());
}

// The lines the plug-in recorded: count, entries, "bypass=...", "freed".
std::vector<std::string> recorded() {
    std::vector<std::string> lines;
    std::istringstream stream(plimotest::readFile(recordFile()));
    std::string line;
    while (std::getline(stream, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> sent(const std::vector<std::string>& entries, bool freed = true) {
    std::vector<std::string> lines = {std::to_string(entries.size())};
    lines.insert(lines.end(), entries.begin(), entries.end());
    lines.push_back("bypass=TRUE");
    if (freed) lines.push_back("freed");
    return lines;
}

TEST(Orvane, HelpAndItsExitCodes) {
    RunResult r = runOrvane({});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, helpText);
    EXPECT_EQ(r.err, "");

    for (const char* help : {"-?", "-help"}) {
        r = runOrvane({help, "-update", "nonsense"});
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.out, helpText) << help;
        EXPECT_EQ(r.err, "") << help;
    }
    EXPECT_FALSE(plimotest::fileExists(recordFile()));
}

TEST(Orvane, InvalidCommandsEndWithHelp) {
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"-update", "-help"}, "\ninvalid command, -help\n"},
        {{"-progress", "-version"}, "\ninvalid command, -version\n"},
        {{"-progress", "progress"}, "\ninvalid command, progress\n"},
        {{"-update", "-force=true"}, "\ninvalid command, -force=true\n"},
        {{"-dbglevel", "3", "4", "-progress"}, "\ninvalid command, 4\n"},
        // A missing value is no invalid command, but the build fails.
        {{"-update", "-path"}, ""},
        {{"-progress", "-dbgtarget"}, ""},
        {{"-force", "-ignore"}, "command option must be entered\n"},
        {{"-logc", "x.log"}, "command option must be entered\n"},
    };
    for (const Case& c : cases) {
        const RunResult r = runOrvane(c.arguments, statusAnswer("0"));
        EXPECT_EQ(r.exitCode, 255) << c.arguments[0];
        EXPECT_EQ(r.out, helpText) << c.arguments[0];
        EXPECT_EQ(r.err, c.err) << c.arguments[0];
    }
    EXPECT_FALSE(plimotest::fileExists(recordFile()));

    // "-debug" alone echoes the arguments first and is then refused.
    const RunResult r = runOrvane({"-progress", "-debug"}, statusAnswer("0"));
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, "arg[0]:" + orvane + "\narg[1]:-progress\narg[2]:-debug\n" + helpText);
    EXPECT_EQ(r.err, "\ninvalid command, -debug\n");
}

TEST(Orvane, CommandVectorThatReachesThePlugin) {
    const std::string dir = plimotest::testDir();
    plimotest::writeFile(dir + "/b/bundle.xml", "<Bundle/>");
    plimotest::writeFile(dir + "/bundle.xml", "<Bundle/>");
    plimotest::writeFile(dir + "/x-update/bundle.xml", "<Bundle/>");
    const std::string answer = statusAnswer("0");

    RunResult r = runOrvane({"-update", "-path", dir + "/b/bundle.xml"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, answer);
    EXPECT_EQ(recorded(), sent({"zuacmd=update", "bundle=bundle.xml", "bundlepath=" + dir + "/b", "zuausrmask=7",
                                "zuausrinfo=OrvaneUsr"}));

    ::unlink(recordFile().c_str());
    r = runOrvane({"-path", "bundle.xml", "-update"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(recorded(),
              sent({"bundle=bundle.xml", "bundlepath=.", "zuacmd=update", "zuausrmask=7", "zuausrinfo=OrvaneUsr"}));

    // The base directory prefixes relative names, wherever "-bdir=" stands,
    // and an option's name inside it is no option.
    ::unlink(recordFile().c_str());
    r = runOrvane({"-path", "bundle.xml", "-update", "-bdir=" + dir + "/x-update"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(recorded(), sent({"bundle=bundle.xml", "bundlepath=" + dir + "/x-update", "zuacmd=update", "zuausrmask=7",
                                "zuausrinfo=OrvaneUsr"}));

    // An empty base directory is the current one.
    ::unlink(recordFile().c_str());
    r = runOrvane({"-bdir=", "-update", "-path", "bundle.xml"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(recorded(),
              sent({"zuacmd=update", "bundle=bundle.xml", "bundlepath=.", "zuausrmask=7", "zuausrinfo=OrvaneUsr"}));

    // Every other option, a repeated one, and values that look like options.
    ::unlink(recordFile().c_str());
    r = runOrvane({"-update", "-force", "-ignore", "-continueonfailure", "-preinstenv", "-force", "-dbglevel", "-1",
                   "-dbgtarget", "-update", "-progress", "-verify", "signed"},
                  answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(recorded(), sent({"zuacmd=update", "force=true", "ignore=true", "continueonfailure=true",
                                "preinstenv=true", "force=true", "dbglevel=-1", "dbgtarget=-update", "zuacmd=progress",
                                "verify=signed", "zuausrmask=7", "zuausrinfo=OrvaneUsr"}));
}

TEST(Orvane, BundleFileMustOpen) {
    const std::string dir = plimotest::testDir();
    ::mkdir((dir + "/adir").c_str(), 0700);
    for (const std::string& path : {std::string("missing.xml"), std::string("adir"), dir + "/missing.xml",
                                    "/" + std::string(5000, 'a') + "/bundle.xml"}) {
        const RunResult r = runOrvane({"-update", "-path", path}, statusAnswer("0"));
        const std::string shown = path[0] == '/' ? path : "./" + path;
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.out, "\nInvalid path [" + shown + "]\n" + helpText);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(plimotest::fileExists(recordFile()));
}

TEST(Orvane, DebugEchoShowsArgumentsAndVector) {
    const RunResult r = runOrvane({"-progress", "-dbgtarget", "x-debug"}, statusAnswer("3080"));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "arg[0]:" + orvane + "\narg[1]:-progress\narg[2]:-dbgtarget\narg[3]:x-debug\n" +
                         "Just before sending to the PLIMO libraryarg 0, zuacmd=progress\n"
                         "Just before sending to the PLIMO libraryarg 1, dbgtarget=x-debug\n"
                         "Just before sending to the PLIMO libraryarg 2, zuausrmask=7\n"
                         "Just before sending to the PLIMO libraryarg 3, zuausrinfo=OrvaneUsr\n" +
                         statusAnswer("3080"));
}

TEST(Orvane, ResultLogLocation) {
    const std::string dir = plimotest::testDir();
    const std::string answer = statusAnswer("3077");

    // Default: TEMP, then TMP, then TMPDIR.
    RunResult r = runOrvane({"-progress"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(tempLog()), answer);
    ::mkdir((dir + "/t2").c_str(), 0700);
    ::mkdir((dir + "/t3").c_str(), 0700);
    r = runOrvane({"-progress"}, answer, {"TEMP", "TMP=" + dir + "/t2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(dir + "/t2/Orvane.log"), answer);
    r = runOrvane({"-progress"}, answer, {"TEMP", "TMP", "TMPDIR=" + dir + "/t3"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(dir + "/t3/Orvane.log"), answer);

    // "-logc" last: the TEMP location, truncated afresh.
    plimotest::writeFile(tempLog(), std::string(1000, 'x'));
    r = runOrvane({"-progress", "-logc"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(tempLog()), answer);

    // "-logc" with a value: relative to the base directory, or absolute.
    r = runOrvane({"-logc", "out.xml", "-progress"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(dir + "/out.xml"), answer);
    r = runOrvane({"-progress", "-logc", "out2.xml", "-bdir=" + dir + "/t2"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(dir + "/t2/out2.xml"), answer);
    r = runOrvane({"-progress", "-logc", dir + "/t3/abs.xml", "-bdir=" + dir + "/t2"}, answer);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(dir + "/t3/abs.xml"), answer);
    EXPECT_EQ(r.out, answer);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(recorded().back(), "freed");
}

TEST(Orvane, ResultLogThatCannotBeWritten) {
    const std::string dir = plimotest::testDir();
    const std::string answer = statusAnswer("0");
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> env;
        std::string err;
    };
    const std::string longDir = dir + "/" + std::string(5000, 'd');
    const std::vector<Case> cases = {
        {{"-progress"}, {"TEMP=" + dir + "/nowhere"}, "\nInvalid path1 [" + dir + "/nowhere]\n"},
        {{"-progress"}, {"TEMP=" + dir + "/record"}, "\nInvalid path1 [" + dir + "/record]\n"},
        {{"-progress"}, {"TEMP=" + longDir}, "\nInvalid path1 [" + longDir + "]\n"},
        {{"-progress", "-logc", "nowhere/x.log"}, {}, "\nInvalid path2 [./nowhere/x.log]\n"},
        {{"-progress", "-logc", dir}, {}, "\nInvalid path2 [" + dir + "]\n"},
    };
    for (const Case& c : cases) {
        ::unlink(recordFile().c_str());
        const RunResult r = runOrvane(c.arguments, answer, c.env);
        EXPECT_EQ(r.exitCode, 255);
        EXPECT_EQ(r.out, answer);
        EXPECT_EQ(r.err, c.err + "\nError! writing log file");
        // The answer still went back to the plug-in.
        EXPECT_EQ(recorded(), sent({"zuacmd=progress", "zuausrmask=7", "zuausrinfo=OrvaneUsr"}));
    }
}

TEST(Orvane, ResultLogNeverFollowsAPlantedLinkNorReplacesAnotherUsersFile) {
    const std::string dir = plimotest::testDir();
    const std::string answer = statusAnswer("0");
    const std::string victim = plimotest::writeFile(dir + "/victim", "precious");
    auto refused = [&](const std::string& log) {
        const RunResult r = runOrvane({"-progress", "-logc", log}, answer);
        EXPECT_EQ(r.exitCode, 255) << log;
        EXPECT_EQ(r.out, answer);
        EXPECT_EQ(r.err, "\nInvalid path2 [" + log + "]\n\nError! writing log file") << log;
    };
    // A link at the log's name is refused, whoever planted it; the file it
    // names is never written.
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/link.xml").c_str()), 0);
    refused(dir + "/link.xml");
    EXPECT_EQ(plimotest::readFile(victim), "precious");
    // The caller's own file is replaced whole.
    plimotest::writeFile(dir + "/own.xml", std::string(5000, 'x'));
    EXPECT_EQ(runOrvane({"-progress", "-logc", dir + "/own.xml"}, answer).exitCode, 0);
    EXPECT_EQ(plimotest::readFile(dir + "/own.xml"), answer);

    // The attack: another user plants a link and a file of their own in a
    // shared folder where root writes its result log.
    if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs root and setpriv";
    ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
    const std::string shared = dir + "/shared";
    ASSERT_EQ(::mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    auto asNobody = [](const std::vector<std::string>& command) {
        std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
        argv.insert(argv.end(), command.begin(), command.end());
        return plimotest::runProgram(argv).exitCode;
    };
    ASSERT_EQ(asNobody({"ln", "-s", victim, shared + "/Orvane.log"}), 0);
    ASSERT_EQ(asNobody({"touch", shared + "/theirs.xml"}), 0);
    refused(shared + "/Orvane.log");
    // The default log goes to the state folder instead, and Orvane ends as
    // the answer says.
    const RunResult r = runOrvane({"-progress"}, answer, {"TEMP=" + shared});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(plimotest::readFile(std::string(std::getenv("windir")) + "/TEMP/Orvane.log"), answer);
    EXPECT_EQ(plimotest::readFile(victim), "precious");
    refused(shared + "/theirs.xml");
    EXPECT_EQ(plimotest::readFile(shared + "/theirs.xml"), "");
    struct stat status {};
    ASSERT_EQ(::lstat((shared + "/Orvane.log").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
}

TEST(Orvane, ExitCodesOfBothCommands) {
    struct Row {
        std::string status;
        int update;
        int progress;
    };
    // The program's exit status: a byte, -1 read as 255.
    auto exitStatus = [](int code) { return code & 0xff; };
    std::vector<Row> rows = {
        {"1", 255, 255}, {"  +3085", 7, 7}, {"", 0, 0}, {"4294967296", 255, 255}, {"-3072", 255, 255},
    };
    for (const StatusCode::Info& row : StatusCode::kTable)
        rows.push_back({std::to_string(row.code), exitStatus(row.updateExitCode), exitStatus(row.progressExitCode)});
    for (const Row& row : rows) {
        const std::string answer = statusAnswer(row.status);
        RunResult r = runOrvane({"-update", "-force"}, answer);
        EXPECT_EQ(r.exitCode, row.update) << "update " << row.status;
        EXPECT_EQ(r.out, answer);
        r = runOrvane({"-progress"}, answer);
        EXPECT_EQ(r.exitCode, row.progress) << "progress " << row.status;
    }
    // The first command of the vector decides the table.
    EXPECT_EQ(runOrvane({"-progress", "-update"}, statusAnswer("3080")).exitCode, 1);
}

TEST(Orvane, AnswerWithoutStatusIsPrintedAndLogged) {
    for (const std::string& answer : {std::string("<BundleLog/>\n"), std::string("<SMStatus result=3072/>")}) {
        const RunResult r = runOrvane({"-update", "-ignore"}, answer);
        EXPECT_EQ(r.exitCode, 255);
        // Standard output ends with a newline; the result log holds the
        // answer as it came.
        EXPECT_EQ(r.out, answer.back() == '\n' ? answer : answer + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(plimotest::readFile(tempLog()), answer);
    }
}

TEST(Orvane, NullAnswerAndMissingPlugin) {
    RunResult r = runOrvane({"-progress"});
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error! plugin: plimo returned NULL\n");
    EXPECT_FALSE(plimotest::fileExists(tempLog()));
    EXPECT_EQ(recorded(), sent({"zuacmd=progress", "zuausrmask=7", "zuausrinfo=OrvaneUsr"}, false));

    const std::string empty = plimotest::testDir() + "/noplugins";
    ::mkdir(empty.c_str(), 0700);
    r = plimotest::runProgram({orvane, "-progress"}, {"ZUA_PLUGIN_PATH=" + empty}, plimotest::testDir());
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error! plugin \"plimo\" not found\n");
}

TEST(Orvane, VersionOfProgramAndPlugin) {
    // The real plug-in names the project's version; the stand-in names none.
    RunResult r = plimotest::runProgram({orvane, "-version", "-update"}, {"ZUA_PLUGIN_PATH"}, plimotest::testDir());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Orvane " PLIMO_VERSION "\nplug-in plimo " PLIMO_VERSION "\n");
    r = runOrvane({"-version"}, statusAnswer("0"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "Orvane " PLIMO_VERSION "\nplug-in plimo (no version)\n");
    EXPECT_FALSE(plimotest::fileExists(recordFile())); // no command was sent

    r = plimotest::runProgram({orvane, "-version"}, {"ZUA_PLUGIN_PATH=" + plimotest::testDir()}, plimotest::testDir());
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.err, "Error! plugin \"plimo\" not found\n");
}

TEST(Orvane, ReachesTheRealPlugin) {
    // Without a plug-in path the data manager finds the built plug-in beside
    // the program. Whether "progress" answers yet is not the front end's
    // business; how the front end reports either outcome is.
    const RunResult r = plimotest::runProgram({orvane, "-progress"}, {"ZUA_PLUGIN_PATH"}, plimotest::testDir());
    EXPECT_EQ(r.err.find("not found"), std::string::npos) << r.err;
    if (r.exitCode == 255 && r.out.empty()) {
        EXPECT_EQ(r.err, "Error! plugin: plimo returned NULL\n");
    } else {
        EXPECT_NE(r.out.find("<SMStatus result=\""), std::string::npos) << r.out;
        EXPECT_EQ(plimotest::readFile(tempLog()) + "\n", r.out);
    }
}

} // namespace
