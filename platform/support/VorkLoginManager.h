#pragma once
#include <string>

struct sd_bus;

namespace VorkSupport {

// A client of the login manager (logind) on the system bus: the bus that
// DBUS_SYSTEM_BUS_ADDRESS names when it is set, else the standard one. Each
// object holds its own connection, made by the constructor.
class VorkLoginManager {
public:
    VorkLoginManager();
    ~VorkLoginManager();

    VorkLoginManager(const VorkLoginManager&) = delete;
    VorkLoginManager& operator=(const VorkLoginManager&) = delete;

    // Takes an inhibitor lock (what "shutdown:sleep", mode "block", ...).
    // Answers its descriptor, close-on-exec and owned by the caller: the lock
    // lasts until it is closed. -1 when the lock was not given.
    [[nodiscard]] int inhibit(const std::string& what, const std::string& who, const std::string& why,
                              const std::string& mode);
    // Asks for a restart of the machine without asking anyone. False when
    // the request was not taken.
    [[nodiscard]] bool reboot();
    // Asks for a restart of the machine in delaySeconds (ScheduleShutdown),
    // so that whoever waits for this process's answer gets it first; at once
    // (reboot()) for 0, or when the login manager knows no scheduled
    // shutdown. False when the request was not taken.
    [[nodiscard]] bool rebootIn(unsigned delaySeconds);

    // Whether the last failure was that no login manager can be reached (no
    // bus, or nobody serving logind on it) rather than a refusal.
    bool unreachable() const { return m_bUnreachable; }
    // The text of the last failure.
    const std::string& error() const { return m_sError; }

private:
    // Records a failure of an sd-bus call; name is the D-Bus error's name
    // when the bus answered with one.
    void fail(const std::string& what, int result, const char* name, const char* message);

    sd_bus* m_pBus = nullptr;
    bool m_bUnreachable = false;
    std::string m_sError;
};

} // namespace VorkSupport
