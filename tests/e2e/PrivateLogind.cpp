#include "PrivateLogind.h"

#include <signal.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "CycleSupport.h"
#include "TestEnvironment.h"

namespace {

// Debian's python3-dbusmock is a module of the system's own interpreter.
const char* const kPython = "/usr/bin/python3";

} // namespace

PrivateLogind::PrivateLogind(const std::string& onScheduleShutdown)
    : m_sCallLog(plimotest::testDir() + "/logind-calls.log") {
    const plimotest::RunResult daemon = plimotest::runProgram(
        {"/usr/bin/dbus-daemon", "--session", "--address=unix:path=" + plimotest::testDir() + "/private-bus",
         "--print-address=1", "--print-pid=1", "--fork"});
    const std::vector<std::string> printed = plimotest::lines(daemon.out);
    if (daemon.exitCode != 0 || printed.size() < 2) throw std::runtime_error("no private bus: " + daemon.err);
    m_sAddress = printed[0];
    m_nDaemon = std::stoi(printed[1]);

    m_nMock = e2e::spawn({kPython, "-m", "dbusmock", "--template", "logind", "-l", m_sCallLog},
                         {"DBUS_SYSTEM_BUS_ADDRESS=" + m_sAddress});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (send("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                {"string:org.freedesktop.login1"})
               .find("boolean true") == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            stop();
            throw std::runtime_error("the stand-in login manager did not come up");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The template knows no scheduled shutdown; the real login manager does.
    send("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.DBus.Mock.AddMethod",
         {"string:org.freedesktop.login1.Manager", "string:ScheduleShutdown", "string:st",
          "string:", "string:" + onScheduleShutdown});
}

PrivateLogind::~PrivateLogind() { stop(); }

void PrivateLogind::stop() {
    if (m_nMock > 0) {
        ::kill(m_nMock, SIGTERM);
        e2e::waitChild(m_nMock);
        m_nMock = -1;
    }
    if (m_nDaemon > 0) ::kill(m_nDaemon, SIGTERM);
    m_nDaemon = -1;
}

std::string PrivateLogind::calls() const { return plimotest::readFile(m_sCallLog); }

std::string PrivateLogind::inhibitors() const {
    return send("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager.ListInhibitors");
}

std::string PrivateLogind::send(const std::string& destination, const std::string& path, const std::string& method,
                                const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {
        "/usr/bin/dbus-send", "--bus=" + m_sAddress, "--print-reply", "--dest=" + destination, path, method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return plimotest::runProgram(argv).out;
}
