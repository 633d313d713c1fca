#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "zuadb64.h"

namespace fs = std::filesystem;
using plimotest::testDir;

namespace {

// The plug-in directory behind an empty and a missing one, so the search
// walks past them.
std::string pluginPath() {
    plimotest::writeFile(testDir() + "/emptyplugins/readme.txt", "");
    return testDir() + "/emptyplugins:" + testDir() + "/missing:" + PLIMO_TEST_PLUGIN_DIR;
}

} // namespace

TEST(HostPlugins, FindsTheFirstCompletePluginByPrefixAndPassesCommands) {
    ::setenv("ZUA_PLUGIN_PATH", pluginPath().c_str(), 1);
    const std::string freed = testDir() + "/freed";
    ::setenv("ZUATEST_FREED", freed.c_str(), 1);

    // libzuatest_0bad.so (not a library) and libzuatest_a_nofree.so (no
    // free export) come first in byte order and are passed over.
    const uint64_t handle = ZUDBPluginGetIDByPrefix("zuatest");
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(ZUDBPluginGetIDByPrefix("zuatest"), handle);
    EXPECT_EQ(ZUDBPluginGetIDByPrefix("zuatest_b"), handle); // the same library, loaded once
    EXPECT_EQ(ZUDBPluginGetIDByPrefix("zuatest_a"), 0u);
    EXPECT_EQ(ZUDBPluginGetIDByPrefix("nosuchplugin"), 0u);
    EXPECT_EQ(ZUDBPluginGetIDByPrefix(""), 0u);
    EXPECT_EQ(ZUDBPluginGetIDByPrefix(nullptr), 0u);
    EXPECT_STREQ(ZUDBPluginGetVersion(handle), "9.9-test");
    EXPECT_EQ(ZUDBPluginGetVersion(0), nullptr);
    EXPECT_EQ(ZUDBPluginGetVersion(handle + 1000), nullptr);

    std::vector<std::string> entries = {"zuacmd=progress", "updateid=U1"};
    std::vector<char*> argv;
    for (auto& e : entries) argv.push_back(e.data());
    char* answer = ZUDBPluginSendCmd(handle, static_cast<int>(argv.size()), argv.data());
    ASSERT_NE(answer, nullptr);
    EXPECT_STREQ(answer, "zuatest_b: argc=2 [zuacmd=progress] [updateid=U1]");
    ZUDBPluginFreeData(handle, answer);
    EXPECT_EQ(plimotest::readFile(freed), "freed\n");

    EXPECT_EQ(ZUDBPluginSendCmd(0, static_cast<int>(argv.size()), argv.data()), nullptr);
    EXPECT_EQ(ZUDBPluginSendCmd(handle + 1000, static_cast<int>(argv.size()), argv.data()), nullptr);
    ZUDBPluginFreeData(handle, nullptr);
    ZUDBPluginFreeData(0, nullptr);
    EXPECT_EQ(plimotest::readFile(freed), "freed\n");
    ::unsetenv("ZUATEST_FREED");
}

TEST(HostServiceHost, RunsThePluginCommandAndReportsByExitCode) {
    const std::string host = std::string(PLIMO_BIN_DIR) + "/zuasvchost";
    const std::string freed = testDir() + "/freed";
    const std::vector<std::string> env = {"ZUA_PLUGIN_PATH=" + pluginPath(), "ZUATEST_FREED=" + freed};

    auto ok = plimotest::runProgram({host, "zuatest", "zuacmd=resume", "updateid=U1"}, env);
    EXPECT_EQ(ok.exitCode, 0) << ok.err;
    EXPECT_EQ(ok.out, "zuatest_b: argc=2 [zuacmd=resume] [updateid=U1]\n");
    EXPECT_EQ(plimotest::readFile(freed), "freed\n");

    auto none = plimotest::runProgram({host, "zuatest", "answer=none", "zuacmd=x"}, env);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "zuasvchost: plug-in |zuatest| gave no answer to the command |answer=none zuacmd=x|\n");

    auto missing = plimotest::runProgram({host, "nosuchplugin", "zuacmd=resume"}, env);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("nosuchplugin"), std::string::npos);

    auto usage = plimotest::runProgram({host}, env);
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_FALSE(usage.err.empty());
    auto help = plimotest::runProgram({host, "--help"}, env);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind(usage.err, 0), 0u) << help.out;
    auto version = plimotest::runProgram({host, "--version", "zuacmd=resume"}, env);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "zuasvchost " PLIMO_VERSION "\n");
    EXPECT_EQ(plimotest::readFile(freed), "freed\n"); // neither reached the plug-in

    // Without ZUA_PLUGIN_PATH the host looks beside itself, and the data
    // manager in the zua directory beside its own library, wherever that is.
    auto beside = plimotest::runProgram({host, "zuatest"}, {"ZUA_PLUGIN_PATH"});
    EXPECT_EQ(beside.exitCode, 1);
    const fs::path moved = testDir() + "/moved/lib";
    fs::create_directories(moved / "zua");
    fs::copy_file(std::string(PLIMO_LIB_DIR) + "/libzuadb64.so", moved / "libzuadb64.so");
    fs::copy_file(std::string(PLIMO_TEST_PLUGIN_DIR) + "/libzuatest_b.so", moved / "zua/libzuatest_b.so");
    auto found =
        plimotest::runProgram({host, "zuatest", "zuacmd=x"}, {"ZUA_PLUGIN_PATH", "LD_LIBRARY_PATH=" + moved.string()});
    EXPECT_EQ(found.out, "zuatest_b: argc=1 [zuacmd=x]\n") << found.err;
}
