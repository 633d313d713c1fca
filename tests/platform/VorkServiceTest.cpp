#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "TestEnvironment.h"
#include "VorkAtomicFile.h"
#include "VorkService.h"

using namespace VorkSupport;
using plimotest::testDir;

namespace {

class ResumeService : public VorkService {
public:
    ResumeService() : VorkService(true, "") {
        setServiceName("plimo");
        setSecondName("plimo");
        setDisplayName("Bundle Applicator");
        setCommandLine("plimo zuacmd=resume updateid=U1");
    }
    ~ResumeService() override {
        if (m_worker.joinable()) m_worker.join();
    }
    bool startIt() override {
        ++m_started;
        if (!m_answer) return false;
        // The work ends on another thread, possibly before start() waits.
        m_worker = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
            stop();
        });
        return true;
    }
    bool m_answer = true;
    int m_delayMs = 0;
    std::atomic<int> m_started{0};
    std::thread m_worker;
};

} // namespace

TEST(VorkService, InstallWritesUnitOnceAndRemoveDeletesIt) {
    ::setenv("PLIMO_LOGLEVEL", "9", 1);
    ResumeService service;
    const std::string unit = testDir() + "/units/plimo.service";
    EXPECT_EQ(service.unitFileName(), unit);
    ASSERT_TRUE(service.install());
    const std::string text = plimotest::readFile(unit);
    EXPECT_NE(text.find("Description=Bundle Applicator\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Type=oneshot\n"), std::string::npos);
    EXPECT_NE(text.find("ExecStart=" + VorkService::serviceHostPath() + " plimo zuacmd=resume updateid=U1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Environment=\"windir=" + testDir() + "/win\"\n"), std::string::npos);
    EXPECT_NE(text.find("Environment=\"TEMP=" + testDir() + "/tmp\"\n"), std::string::npos);
    EXPECT_NE(text.find("Environment=\"PLIMO_LOGLEVEL=9\"\n"), std::string::npos);
    EXPECT_NE(text.find("Environment=\"PLIMO_SKIP_REBOOT=1\"\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(unit.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    // The service host of the tree this library lies in.
    EXPECT_EQ(VorkService::serviceHostPath(), std::filesystem::weakly_canonical(PLIMO_BIN_DIR "/zuasvchost").string());

    // A second install keeps the command line the first one wrote.
    service.setCommandLine("plimo zuacmd=resume updateid=OTHER");
    EXPECT_FALSE(service.install());
    EXPECT_EQ(plimotest::readFile(unit), text);
    // The routine below never replaces a unit and leaves nothing beside it.
    EXPECT_FALSE(VorkAtomicFile::create(unit, "other", 0644));
    EXPECT_EQ(plimotest::readFile(unit), text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(testDir() + "/units"), {}), 1);

    EXPECT_TRUE(service.remove());
    EXPECT_FALSE(plimotest::fileExists(unit));
    EXPECT_FALSE(service.remove());

    // An install cut off between its temporary file and the rename leaves
    // nothing for good: the next install or removal takes it away.
    const std::string leftover = unit + ".tmp0badcafe";
    plimotest::writeFile(leftover, "[Unit]\n");
    EXPECT_FALSE(service.remove());
    EXPECT_FALSE(plimotest::fileExists(leftover));
    plimotest::writeFile(leftover, "[Unit]\n");
    EXPECT_TRUE(service.install());
    EXPECT_FALSE(plimotest::fileExists(leftover));
    EXPECT_TRUE(service.remove());
    ::unsetenv("PLIMO_LOGLEVEL");
}

TEST(VorkService, ControlCharactersAreRefusedAndNothingIsWritten) {
    const std::string unit = testDir() + "/units/plimo.service";
    {
        ResumeService service;
        service.setCommandLine("plimo zuacmd=resume\nExecStartPre=/bin/evil");
        EXPECT_FALSE(service.install());
    }
    {
        ResumeService service;
        ::setenv("PLIMO_EVIL", "x\ny", 1);
        EXPECT_FALSE(service.install());
        ::unsetenv("PLIMO_EVIL");
    }
    {
        ResumeService service;
        service.setServiceName("../escape");
        EXPECT_FALSE(service.install());
    }
    EXPECT_FALSE(plimotest::fileExists(unit));
    // Only the refused attempts happened: no temporary files are left either.
    EXPECT_TRUE(std::filesystem::is_empty(testDir() + "/units"));
    {
        // Specifiers and quotes in values are escaped, not expanded.
        ResumeService service;
        service.setDisplayName("100% \"done\"");
        service.setCommandLine("plimo zuacmd=resume bundle=\"C:\\my dir\" x=100%");
        ::setenv("PLIMO_CMDLINE_TEST", "a \"b\" %h $HOME", 1);
        EXPECT_TRUE(service.install());
        ::unsetenv("PLIMO_CMDLINE_TEST");
        const std::string text = plimotest::readFile(unit);
        EXPECT_NE(text.find("Description=100%% \"done\"\n"), std::string::npos) << text;
        EXPECT_NE(text.find(" plimo zuacmd=resume \"bundle=C:\\\\my dir\" \"x=100%%\"\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Environment=\"PLIMO_CMDLINE_TEST=a \\\"b\\\" %%h $HOME\"\n"), std::string::npos) << text;
    }
}

TEST(VorkService, StartReturnsOnceStoppedFromAnotherThread) {
    for (int delay : {0, 0, 30}) {
        ResumeService service;
        service.m_delayMs = delay;
        EXPECT_TRUE(service.start({}, false));
        EXPECT_EQ(service.m_started, 1);
    }
    ResumeService refusing;
    refusing.m_answer = false;
    EXPECT_FALSE(refusing.start({}, false));
}

TEST(VorkService, ToldServiceManagerThroughNotifySocket) {
    const std::string path = testDir() + "/notify";
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::setenv("NOTIFY_SOCKET", path.c_str(), 1);
    ResumeService service;
    EXPECT_TRUE(service.start({}, true));
    ::unsetenv("NOTIFY_SOCKET");
    char buffer[64];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "READY=1");
    n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "STOPPING=1");
    ::close(fd);
}
