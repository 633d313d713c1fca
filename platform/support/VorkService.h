#pragma once
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace VorkSupport {

// The identity and control of a system service that runs the service host
// (zuasvchost) with a command line.
//  - install() writes a systemd unit "<serviceName>.service" into the unit
//    directory: /etc/systemd/system, or $VSUPT_SERVICE_DIR when set (then
//    systemctl is never called). Description = display name, Type=oneshot,
//    ExecStart = absolute path of zuasvchost followed by the command line,
//    Environment= lines for windir, TEMP, TMP and every PLIMO_* variable.
//    A value or command line holding a control character is refused (false).
//    A unit that already exists is left as it is (false).
//    The temporary file of an install that was cut off goes first.
//  - remove() disables (under systemd) and deletes the unit, and flushes the
//    unit directory so that the unit cannot come back after a power cut;
//    false when there was none, or its removal could not be made durable.
//  - start(arguments, serviceManager) calls startIt() and returns once stop()
//    has been called (at once when startIt() answers false). With a service
//    manager it also tells systemd READY/STOPPING through NOTIFY_SOCKET when
//    that is set.
//    A stop() that comes before start() waits (even before startIt()
//    returns) is kept, so start() then returns without waiting.
//  - ExecStart holds the command line split into words as
//    VorkSplitCommandLine splits it, each written so that systemd passes it
//    on unchanged ('%' '$' '\\' '"' escaped, words with blanks quoted).
//  - stop() releases a waiting start(); it may be called from any thread.
class VorkService {
public:
    VorkService(bool flag, const std::string& name);
    virtual ~VorkService();

    [[nodiscard]] virtual bool install();
    virtual bool remove();
    [[nodiscard]] virtual bool start(const std::vector<std::string>& arguments, bool serviceManager);
    virtual bool stop();

    // The hook that start() calls; the work must end by calling stop().
    virtual bool startIt();
    // Second hook (called when the service manager asks to pause); unused here.
    virtual bool pauseIt();

    void setServiceName(const std::string& name) { m_serviceName = name; }
    void setSecondName(const std::string& name) { m_secondName = name; }
    void setDisplayName(const std::string& name) { m_displayName = name; }
    void setCommandLine(const std::string& commandLine) { m_commandLine = commandLine; }
    const std::string& serviceName() const { return m_serviceName; }
    const std::string& secondName() const { return m_secondName; }
    const std::string& displayName() const { return m_displayName; }
    const std::string& commandLine() const { return m_commandLine; }

    // The unit file path this service installs to (for tests and messages).
    std::string unitFileName() const;
    // The unit directory in force ($VSUPT_SERVICE_DIR or /etc/systemd/system).
    static std::string unitDirectory();
    // The absolute path of the service host program: <bindir>/zuasvchost of
    // the tree this library lies in.
    static std::string serviceHostPath();

private:
    bool unitText(std::string& unit) const;

    bool m_flag;
    std::string m_serviceName;
    std::string m_secondName;
    std::string m_displayName;
    std::string m_commandLine;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_running = false;
    bool m_stopRequested = false;
};

} // namespace VorkSupport
