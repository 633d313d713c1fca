// What an update answers when it cannot finish, and what reaches its caller:
// through the real Orvane and plug-in with stand-in packages.
#include <sys/stat.h>

#include <chrono>

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include "CycleSupport.h"
#include "TestEnvironment.h"

using namespace e2e;
using plimotest::fileExists;
using plimotest::readFile;
using plimotest::testDir;
using plimotest::writeFile;

namespace {

plimotest::RunResult update(const std::string& dir, const std::vector<std::string>& env = {}) {
    return orvane({"-update", "-path", dir + "/bundle.xml"}, env);
}

TEST(TruthTest, RunCutShortAnswersItsFailureAndRunsNothingAfter) {
    struct Case {
        const char* name;
        std::string (*makeFirst)(const std::string& dir);
        int status;
        int exitCode;
    };
    const Case cases[] = {
        {"no output log", [](const std::string& dir) { return writeFile(dir + "/first", "#!/bin/sh\n", true); }, 3079,
         3},
        {"not executable", [](const std::string& dir) { return writeFile(dir + "/first", "#!/bin/sh\n", false); }, 3075,
         2},
        {"a directory", [](const std::string& dir) { return writeFile(dir + "/first/inside", ""); }, 3075, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = testDir() + "/" + c.name;
        c.makeFirst(dir);
        writeQpk(dir, "after", {0});
        writeBundle(dir, {"first", "after.sh"});
        const auto r = update(dir);
        EXPECT_EQ(statusOf(r.out), c.status) << r.out;
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(qpkRuns(dir, "after"), 0);
        EXPECT_FALSE(fileExists(internalLog()));
    }
}

TEST(TruthTest, BlanksAndQuotesInPathsReachThePackageWhole) {
    const std::string windir = testDir() + "/state dir";
    ASSERT_EQ(::mkdir(windir.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((windir + "/TEMP").c_str(), 0700), 0);
    const std::string dir = testDir() + "/pk  g\"s";
    writeQpk(dir, "a", {0});
    writeBundle(dir, {"a.sh"});

    const auto r = update(dir, {"windir=" + windir});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(statusOf(r.out), 0);
    // The package found its log argument whole: its log text is in the entry
    // and nothing was written beside the state folder.
    EXPECT_EQ(countOf(r.out, "a run 0"), 1) << r.out;
    EXPECT_EQ(qpkRunLines(dir, "a"), std::vector<std::string>{"/s /l=" + windir + "/TEMP/QPK.log"});
    EXPECT_FALSE(fileExists(testDir() + "/state"));
}

TEST(TruthTest, PackageOutputGoesToTheConsoleLogAndCannotHoldTheCaller) {
    const std::string dir = testDir() + "/bundle";
    writeFile(dir + "/chatty",
              "#!/bin/sh\necho chatter on stdout\necho chatter on stderr >&2\nsleep 30 &\n"
              "for a in \"$@\"; do case \"$a\" in /l=*) echo logged > \"${a#/l=}\";; esac; done\n",
              true);
    writeBundle(dir, {"chatty"});

    const auto start = std::chrono::steady_clock::now();
    const auto r = update(dir);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // Standard output is the answer alone, a whole XML document.
    xmlDocPtr answer = xmlReadMemory(r.out.data(), static_cast<int>(r.out.size()), nullptr, nullptr,
                                     XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    EXPECT_NE(answer, nullptr) << r.out;
    xmlFreeDoc(answer);
    EXPECT_EQ(r.out.find("chatter"), std::string::npos);

    const std::string console = tempFolder() + "/PackageConsole.log";
    const std::string text = readFile(console);
    EXPECT_EQ(countOf(text, "chatter on stdout\n"), 1) << text;
    EXPECT_EQ(countOf(text, "chatter on stderr\n"), 1) << text;
    EXPECT_EQ(text.rfind("=== P1: " + dir + "/chatty /s /l=", 0), 0u) << text;
    struct stat st {};
    ASSERT_EQ(::stat(console.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(TruthTest, StateThatCannotBeCreatedIsAnError) {
    // Something in the lock file's place that no one can open for writing,
    // root included.
    ASSERT_EQ(::mkdir(lockFile().c_str(), 0700), 0);
    writeQpk(testDir() + "/bundle", "a", {0});
    writeBundle(testDir() + "/bundle", {"a.sh"});
    const auto r = update(testDir() + "/bundle");
    EXPECT_EQ(statusOf(r.out), 3079) << r.out;
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(qpkRuns(testDir() + "/bundle", "a"), 0);
}

} // namespace
