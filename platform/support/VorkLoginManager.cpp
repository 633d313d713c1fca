#include "VorkLoginManager.h"

#include <fcntl.h>
#include <time.h>

#include <cerrno>
#include <cstring>

#include <systemd/sd-bus.h>

namespace VorkSupport {

namespace {

const char* const kDestination = "org.freedesktop.login1";
const char* const kPath = "/org/freedesktop/login1";
const char* const kInterface = "org.freedesktop.login1.Manager";
// A login manager that does not answer in this time is taken as refusing.
constexpr uint64_t kCallTimeoutMicroseconds = 10 * 1000 * 1000;

// Failures that mean nobody serves the login manager on the bus: the
// connection failed, or the bus has nobody by that name.
bool meansUnreachable(int result, const char* name) {
    switch (-result) {
        case ENOENT:
        case ECONNREFUSED:
        case ECONNRESET:
        case ENOTCONN:
        case EPIPE:
        case ENXIO: return true;
        default: break;
    }
    if (name == nullptr) return false;
    static const char* const names[] = {
        "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
        "org.freedesktop.DBus.Error.NoServer",       "org.freedesktop.DBus.Error.Disconnected",
        "org.freedesktop.DBus.Error.FileNotFound",
    };
    for (const char* known : names)
        if (std::strcmp(name, known) == 0) return true;
    return false;
}

// Owns the error and the reply of one call.
struct CallResult {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    CallResult() = default;
    CallResult(const CallResult&) = delete;
    CallResult& operator=(const CallResult&) = delete;
    ~CallResult() {
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    }
};

} // namespace

VorkLoginManager::VorkLoginManager() {
    const int result = sd_bus_open_system(&m_pBus);
    if (result < 0) {
        m_pBus = nullptr;
        fail("cannot connect to the system bus", result, nullptr, nullptr);
        // Whatever kept the connection from being made, there is nobody to ask.
        m_bUnreachable = true;
        return;
    }
    sd_bus_set_method_call_timeout(m_pBus, kCallTimeoutMicroseconds);
}

VorkLoginManager::~VorkLoginManager() {
    if (m_pBus != nullptr) sd_bus_flush_close_unref(m_pBus);
}

void VorkLoginManager::fail(const std::string& what, int result, const char* name, const char* message) {
    m_bUnreachable = meansUnreachable(result, name);
    m_sError = what + ": " + (message != nullptr ? message : std::strerror(-result));
}

int VorkLoginManager::inhibit(const std::string& what, const std::string& who, const std::string& why,
                              const std::string& mode) {
    if (m_pBus == nullptr) return -1;
    CallResult call;
    int result = sd_bus_call_method(m_pBus, kDestination, kPath, kInterface, "Inhibit", &call.error, &call.reply,
                                    "ssss", what.c_str(), who.c_str(), why.c_str(), mode.c_str());
    int fd = -1;
    if (result >= 0) result = sd_bus_message_read(call.reply, "h", &fd);
    if (result < 0) {
        fail("Inhibit", result, call.error.name, call.error.message);
        return -1;
    }
    // The reply owns its descriptor; the lock lives on in a copy of it.
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (held < 0) fail("Inhibit: cannot keep the lock", -errno, nullptr, nullptr);
    return held;
}

bool VorkLoginManager::reboot() {
    if (m_pBus == nullptr) return false;
    CallResult call;
    const int result =
        sd_bus_call_method(m_pBus, kDestination, kPath, kInterface, "Reboot", &call.error, &call.reply, "b", 0);
    if (result < 0) {
        fail("Reboot", result, call.error.name, call.error.message);
        return false;
    }
    return true;
}

bool VorkLoginManager::rebootIn(unsigned delaySeconds) {
    if (m_pBus == nullptr) return false;
    if (delaySeconds == 0) return reboot();
    // The login manager counts in microseconds of the real-time clock.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const uint64_t when =
        static_cast<uint64_t>(now.tv_sec + delaySeconds) * 1000000ULL + static_cast<uint64_t>(now.tv_nsec) / 1000ULL;
    CallResult call;
    const int result = sd_bus_call_method(m_pBus, kDestination, kPath, kInterface, "ScheduleShutdown", &call.error,
                                          &call.reply, "st", "reboot", when);
    if (result >= 0) return true;
    // A login manager too old to schedule restarts one at once.
    if (call.error.name != nullptr && std::strcmp(call.error.name, "org.freedesktop.DBus.Error.UnknownMethod") == 0)
        return reboot();
    fail("ScheduleShutdown", result, call.error.name, call.error.message);
    return false;
}

} // namespace VorkSupport
