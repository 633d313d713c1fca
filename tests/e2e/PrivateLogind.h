#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

// A private message bus of one test with a stand-in login manager on it
// (python-dbusmock's logind template), so that the system's inhibitor and
// restart requests can be watched without going near the machine's own bus.
// Started by the constructor (which raises when it cannot), ended with the
// object.
class PrivateLogind {
public:
    // onScheduleShutdown: Python code the stand-in runs when it is asked to
    // schedule a shutdown (dbusmock's method code), to look at the machine at
    // the moment of the request.
    explicit PrivateLogind(const std::string& onScheduleShutdown = "");
    ~PrivateLogind();
    PrivateLogind(const PrivateLogind&) = delete;
    PrivateLogind& operator=(const PrivateLogind&) = delete;

    // The bus address, for DBUS_SYSTEM_BUS_ADDRESS.
    const std::string& address() const { return m_sAddress; }
    // The calls the login manager received, one line each
    // ("<time> Inhibit \"shutdown:sleep\" ...", "<time> ScheduleShutdown \"reboot\" <usec>").
    std::string calls() const;
    // The answer of ListInhibitors as dbus-send prints it.
    std::string inhibitors() const;

private:
    // Ends the stand-in and the bus, both by the ids they were started with.
    void stop();
    // dbus-send --print-reply on the bus to destination's object; its output.
    std::string send(const std::string& destination, const std::string& path, const std::string& method,
                     const std::vector<std::string>& arguments = {}) const;

    std::string m_sAddress;
    std::string m_sCallLog;
    pid_t m_nDaemon = -1;
    pid_t m_nMock = -1;
};
