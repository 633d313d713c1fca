#include "TestEnvironment.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace fs = std::filesystem;

namespace plimotest {
namespace {

std::string g_testDir;
// Where test directories are made; fixed once before the first test, since
// each test points TMPDIR into its own (later removed) directory.
std::string g_testRoot;

void setEnv(const char* key, const std::string& value) { ::setenv(key, value.c_str(), 1); }

// No test reaches the machine's system bus, its /run or its metrics: the
// system bus is a socket that does not exist, the shutdown inhibitor is
// skipped and the reboot-required flag and the metrics land in dir. The bus tests start their own bus and
// override these.
void keepOffTheSystemBus(const std::string& dir) {
    setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir + "/no-system-bus");
    setEnv("PLIMO_SKIP_INHIBIT", "1");
    setEnv("PLIMO_REBOOT_REQUIRED_FILE", dir + "/reboot-required");
    // Metrics go to a directory of the test's own, which it creates when it
    // wants them.
    setEnv("PLIMO_METRICS_DIR", dir + "/metrics");
}

class SandboxListener : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override {
        std::string pattern = g_testRoot + "/plimo-test-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
        g_testDir = buf.data();
        fs::create_directories(g_testDir + "/win/TEMP");
        // Root's state folder is open to nobody else, or no update runs.
        fs::permissions(g_testDir + "/win/TEMP", fs::perms::owner_all);
        fs::create_directories(g_testDir + "/tmp");
        fs::create_directories(g_testDir + "/units");
        fs::create_directories(g_testDir + "/home");
        setEnv("windir", g_testDir + "/win");
        setEnv("TEMP", g_testDir + "/tmp");
        setEnv("TMP", g_testDir + "/tmp");
        setEnv("TMPDIR", g_testDir + "/tmp");
        setEnv("VSUPT_SERVICE_DIR", g_testDir + "/units");
        setEnv("ZUA_CMDLOG", g_testDir + "/cmdlog");
        setEnv("HOME", g_testDir + "/home");
        setEnv("XDG_STATE_HOME", g_testDir + "/home/state");
        setEnv("PLIMO_SKIP_REBOOT", "1");
        setEnv("PLIMO_SKIP_NOTIFICATION", "1");
        keepOffTheSystemBus(g_testDir);
        // Tests never read physical memory: without an image of their own
        // the firmware reader finds nothing and the system identifier is 0.
        setEnv("PLIMO_MEMFILE", g_testDir + "/no-memory-image");
        // Nor the kernel's copy of the firmware table.
        setEnv("PLIMO_DMI_DIR", g_testDir + "/no-dmi-tables");
        // Nor the machine's trust store: an absent one checks no signature.
        setEnv("PLIMO_TRUST_DIR", g_testDir + "/trust.d");
        ::unsetenv("PLIMO_LOGLEVEL");
        ::unsetenv("PLIMO_LOGTARGET");
        ::unsetenv("PLIMO_CMDLINE_TEST");
        ::unsetenv("NOTIFY_SOCKET");
    }
    void OnTestEnd(const ::testing::TestInfo& info) override {
        bool keep = info.result()->Failed() && std::getenv("PLIMO_KEEP_TEST_DIRS");
        if (!keep && !g_testDir.empty()) {
            std::error_code ec;
            fs::remove_all(g_testDir, ec);
        }
        g_testDir.clear();
    }
};

} // namespace

const std::string& testDir() { return g_testDir; }

std::string writeFile(const std::string& path, const std::string& content, bool executable) {
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
    }
    if (executable) ::chmod(path.c_str(), 0755);
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<char*> cStringArray(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) result.emplace_back(*e);
    for (const auto& entry : extra) {
        const auto eq = entry.find('=');
        const std::string key = entry.substr(0, eq) + "=";
        std::erase_if(result, [&](const std::string& s) { return s.compare(0, key.size(), key) == 0; });
        if (eq != std::string::npos) result.push_back(entry);
    }
    return result;
}

RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& workingDirectory) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    std::vector<std::string> envStrings = mergedEnvironment(env);
    std::vector<char*> envp = cStringArray(envStrings);
    std::vector<std::string> args = argv;
    std::vector<char*> argp = cStringArray(args);

    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(outPipe[1], 1);
        ::dup2(errPipe[1], 2);
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
        ::execve(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buf[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void installSandbox() {
    if (const char* root = std::getenv("PLIMO_TEST_ROOT")) {
        g_testRoot = root;
    } else {
        std::error_code ec;
        g_testRoot = fs::temp_directory_path(ec).string();
        if (ec || g_testRoot.empty()) g_testRoot = "/tmp";
    }
    ::setenv("PLIMO_SKIP_REBOOT", "1", 1);
    // Before and between tests: a directory that does not exist.
    keepOffTheSystemBus(g_testRoot + "/plimo-outside-tests");
    ::testing::UnitTest::GetInstance()->listeners().Append(new SandboxListener);
}

} // namespace plimotest
