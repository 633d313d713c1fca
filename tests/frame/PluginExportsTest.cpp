// The built plug-in, loaded with dlopen and driven through its two exports
// as the host's data manager drives it.
#include <dlfcn.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ExpectedTexts.h"

#include "TestEnvironment.h"

namespace {

const char* const pluginFile = PLIMO_PLUGIN_DIR "/libplimo64.so";

using SendCmd = char* (*)(int, char**);
using FreeData = void (*)(void*);

using frametest::capabilitiesText;
using frametest::functionsText;

class LoadedPlugin {
public:
    LoadedPlugin() : m_handle(::dlopen(pluginFile, RTLD_NOW | RTLD_LOCAL)) {
        if (m_handle == nullptr) return;
        m_send = reinterpret_cast<SendCmd>(::dlsym(m_handle, "plimo64_sendCmd"));
        m_free = reinterpret_cast<FreeData>(::dlsym(m_handle, "plimo64_freeData"));
    }
    ~LoadedPlugin() {
        if (m_handle != nullptr) ::dlclose(m_handle);
    }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    bool ready() const { return m_send != nullptr && m_free != nullptr; }

    // The answer, or "<null>" for a null pointer.
    std::string call(const std::vector<std::string>& entries) const {
        std::vector<std::string> copies(entries);
        std::vector<char*> argv;
        for (std::string& entry : copies) argv.push_back(entry.data());
        argv.push_back(nullptr);
        char* answer = m_send(static_cast<int>(copies.size()), argv.data());
        if (answer == nullptr) return "<null>";
        std::string text = answer;
        m_free(answer);
        return text;
    }
    SendCmd send() const { return m_send; }
    FreeData release() const { return m_free; }

private:
    void* m_handle;
    SendCmd m_send = nullptr;
    FreeData m_free = nullptr;
};

TEST(PluginExports, FixedTextsByteForByte) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.ready()) << ::dlerror();
    EXPECT_EQ(plugin.call({"zuacmd=capabilities"}), capabilitiesText);
    EXPECT_EQ(plugin.call({"zuacmd=list-da-functions"}), functionsText);
    // Further well-formed entries, and malformed ones, change nothing.
    EXPECT_EQ(plugin.call({"zuausrmask=7", "zuacmd=capabilities", "zuausrinfo=OrvaneUsr", "noequals", "force=true"}),
              capabilitiesText);
    EXPECT_EQ(plugin.call({"zuacmd=list-da-functions", "zuausrmask=7", "zuacmd=update", "=x"}), functionsText);
}

TEST(PluginExports, DispatchFailuresGiveNullAnswers) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.ready()) << ::dlerror();
    EXPECT_EQ(plugin.call({}), "<null>");
    EXPECT_EQ(plugin.send()(0, nullptr), nullptr);
    EXPECT_EQ(plugin.call({"zuausrmask=7", "zuausrinfo=OrvaneUsr"}), "<null>");
    EXPECT_EQ(plugin.call({"zuacmd="}), "<null>");
    EXPECT_EQ(plugin.call({"zuacmd"}), "<null>");
    EXPECT_EQ(plugin.call({"zuacmd=nosuch"}), "<null>");
    EXPECT_EQ(plugin.call({"zuacmd=capabilities "}), "<null>");
    EXPECT_EQ(plugin.call({"cmd=capabilities"}), "<null>");
    plugin.release()(nullptr);
}

TEST(PluginExports, TwoCallsGiveTwoBuffers) {
    LoadedPlugin plugin;
    ASSERT_TRUE(plugin.ready()) << ::dlerror();
    std::string entry = "zuacmd=capabilities";
    char* argv[] = {entry.data(), nullptr};
    char* first = plugin.send()(1, argv);
    char* second = plugin.send()(1, argv);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::string(first), capabilitiesText);
    plugin.release()(first);
    // The second buffer is untouched by freeing the first.
    EXPECT_EQ(std::string(second), capabilitiesText);
    plugin.release()(second);
}

TEST(PluginExports, LoadsAgainAfterUnload) {
    // Unloading removes the registrations and deletes the factory; a fresh
    // load registers everything again.
    for (int round = 0; round < 2; ++round) {
        LoadedPlugin plugin;
        ASSERT_TRUE(plugin.ready()) << ::dlerror();
        EXPECT_EQ(plugin.call({"zuacmd=list-da-functions"}), functionsText) << round;
    }
}

TEST(PluginExports, OnlyTheTwoEntryPointsAreVisible) {
    const std::string nm = "/usr/bin/nm";
    if (::access(nm.c_str(), X_OK) != 0) GTEST_SKIP() << "no nm on this machine";
    const plimotest::RunResult result = plimotest::runProgram({nm, "-D", "--defined-only", pluginFile});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::set<std::string> names;
    std::istringstream lines(result.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string address, type, name;
        if (!(words >> address >> type >> name)) continue;
        // Version definitions and the sections' bounds are the linker's own.
        if (type == "A") continue;
        if (name == "_init" || name == "_fini" || name == "_edata" || name == "_end" || name == "__bss_start") continue;
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"plimo64_freeData", "plimo64_sendCmd"})) << result.out;
}

} // namespace
