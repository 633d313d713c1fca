#include "VorkService.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "FileHandle.h"
#include "VorkAtomicFile.h"
#include "VorkExecuteProgram.h"
#include "VorkFaultSeam.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

extern char** environ;

namespace VorkSupport {

namespace {

// systemd expands '%' specifiers in every value and '$' in command lines.
std::string escapeSpecifiers(const std::string& text, bool dollar) {
    std::string out;
    for (char c : text) {
        if (c == '%') out += "%%";
        else if (dollar && c == '$') out += "$$";
        else out.push_back(c);
    }
    return out;
}

// A double-quoted word of a unit file.
std::string quoteWord(const std::string& text, bool dollar) {
    std::string out = "\"";
    for (char c : escapeSpecifiers(text, dollar)) {
        if (c == '"' || c == '\\') out.push_back('\\');
        out.push_back(c);
    }
    return out + "\"";
}

// One word of ExecStart: plain when nothing in it is special to systemd,
// quoted and escaped otherwise.
std::string execWord(const std::string& word) {
    if (!word.empty() && word != ";" && word.find_first_of(" \"'\\%$;") == std::string::npos) return word;
    return quoteWord(word, true);
}

// systemd accepts unit names of letters, digits and ":-_.\\@" only.
bool validServiceName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name[0] == '.') return false;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!plain && (c == '\0' || std::strchr(":-_.\\@", c) == nullptr)) return false;
    }
    return true;
}

bool systemdManaged() {
    if (std::getenv("VSUPT_SERVICE_DIR")) return false;
    struct stat st {};
    return ::stat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs systemctl (found on PATH) with the given arguments, each passed as
// one word; true when it ended with 0.
bool systemctl(std::vector<std::string> arguments) {
    VorkProgramCall call;
    call.programText = "systemctl";
    call.arguments = std::move(arguments);
    call.commandLine = call.joined();
    const VorkProgramResult result = VorkExecuteProgram(call);
    return result.started && result.exitCode == 0;
}

void makeDirectories(const std::string& path) {
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string partial = path.substr(0, pos);
        if (!partial.empty()) ::mkdir(partial.c_str(), 0755);
    }
}

// What the resumed run must see as the installing process saw it: windir,
// TEMP, TMP and every PLIMO_* variable.
std::vector<std::string> passedEnvironment() {
    std::vector<std::string> variables;
    for (const char* name : {"windir", "TEMP", "TMP"}) {
        if (const char* value = std::getenv(name)) variables.push_back(std::string(name) + "=" + value);
    }
    for (char** entry = environ; entry && *entry; ++entry) {
        if (std::strncmp(*entry, "PLIMO_", 6) == 0 && std::strchr(*entry, '=')) variables.emplace_back(*entry);
    }
    return variables;
}

// Tells the service manager about a state change (a datagram to NOTIFY_SOCKET).
void notifyServiceManager(const char* state) {
    const char* socketPath = std::getenv("NOTIFY_SOCKET");
    if (!socketPath || (socketPath[0] != '/' && socketPath[0] != '@')) return;
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(socketPath);
    if (length >= sizeof address.sun_path) return;
    std::memcpy(address.sun_path, socketPath, length);
    if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
    const FileHandle socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.isOpen()) return;
    const auto size = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + length);
    if (::sendto(socket.get(), state, std::strlen(state), MSG_NOSIGNAL, reinterpret_cast<struct sockaddr*>(&address),
                 size) < 0) {
        VORK_LOG(3, "notifyServiceManager: service manager notification failed: " << std::strerror(errno));
    }
}

} // namespace

VorkService::VorkService(bool flag, const std::string& name) : m_flag(flag), m_serviceName(name), m_secondName(name) {}

VorkService::~VorkService() = default;

std::string VorkService::unitDirectory() {
    const char* dir = std::getenv("VSUPT_SERVICE_DIR");
    if (dir && *dir) return dir;
    return "/etc/systemd/system";
}

std::string VorkService::unitFileName() const { return unitDirectory() + "/" + m_serviceName + ".service"; }

std::string VorkService::serviceHostPath() {
    // The service host lies in <bindir>; this library in <libdir>. Seen from
    // the library's real place, so that a moved or unpacked tree names its
    // own service host.
    Dl_info info{};
    char resolved[PATH_MAX];
    if (::dladdr(reinterpret_cast<void*>(&VorkService::unitDirectory), &info) == 0 || !info.dli_fname ||
        !::realpath(info.dli_fname, resolved)) {
        return std::string(VSUPT_FULL_BINDIR) + "/zuasvchost";
    }
    const std::filesystem::path libraryDirectory = std::filesystem::path(resolved).parent_path();
    return (libraryDirectory / VSUPT_BINDIR_FROM_LIBDIR / "zuasvchost").lexically_normal().string();
}

// The unit file of the service; false (logged) when anything that would go
// into it holds a control character, which could break out of its line.
bool VorkService::unitText(std::string& unit) const {
    const std::string host = serviceHostPath();
    if (VorkStringUtilities::hasControlCharacter(m_displayName) ||
        VorkStringUtilities::hasControlCharacter(m_commandLine) || VorkStringUtilities::hasControlCharacter(host)) {
        VORK_LOG(1, "VorkService::unitText: control character in the service definition, refused");
        return false;
    }
    unit = "[Unit]\n";
    unit += "Description=" + escapeSpecifiers(m_displayName.empty() ? m_serviceName : m_displayName, false) + "\n";
    unit += "\n[Service]\nType=oneshot\n";
    // The command line is split the way the system splits every command
    // line, and each word is written so that systemd hands it over unchanged.
    unit += "ExecStart=" + execWord(host);
    for (const std::string& word : VorkSplitCommandLine(m_commandLine)) unit += " " + execWord(word);
    unit += "\n";
    for (const auto& variable : passedEnvironment()) {
        if (VorkStringUtilities::hasControlCharacter(variable)) {
            VORK_LOG(1, "VorkService::unitText: control character in the environment, refused");
            return false;
        }
        unit += "Environment=" + quoteWord(variable, false) + "\n";
    }
    unit += "\n[Install]\nWantedBy=multi-user.target\n";
    return true;
}

bool VorkService::install() {
    VORK_TRACE("VorkService::install");
    if (!validServiceName(m_serviceName)) {
        VORK_LOG(1, "VorkService::install: invalid service name |" << m_serviceName << "|");
        return false;
    }
    std::string unit;
    if (!unitText(unit)) return false;

    const std::string target = unitFileName();
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        VORK_LOG(3, "VorkService::install: |" << target << "| exists already, left as it is");
        return false;
    }
    makeDirectories(unitDirectory());
    // What an install cut off before its rename left behind goes; a unit is
    // never replaced, not even one that appeared meanwhile.
    VorkAtomicFile::removeStaleTemporaries(target);
    if (!VorkAtomicFile::create(target, unit, 0644)) {
        VORK_LOG(1, "VorkService::install: |" << target << "| not written");
        return false;
    }
    VORK_LOG(4, "VorkService::install: |" << target << "| written");
    if (systemdManaged()) {
        // A failed reload shows in the enable that follows.
        (void)systemctl({"daemon-reload"});
        if (!systemctl({"enable", m_serviceName + ".service"})) {
            VORK_LOG(1, "VorkService::install: systemctl enable failed for |" << m_serviceName << "|");
            return false;
        }
    }
    return true;
}

bool VorkService::remove() {
    VORK_TRACE("VorkService::remove");
    if (!validServiceName(m_serviceName)) return false;
    const std::string target = unitFileName();
    VorkAtomicFile::removeStaleTemporaries(target);
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) return false;
    const bool managed = systemdManaged();
    if (managed) systemctl({"disable", m_serviceName + ".service"});
    // The unit must be gone for good before the update's record is
    // finished: a unit that comes back after a power cut would resume a
    // record that is no longer there.
    if (VorkFaultSeam::unlink(target) != 0) {
        VORK_LOG(1, "VorkService::remove: cannot delete |" << target << "|: " << std::strerror(errno));
        return false;
    }
    if (!VorkAtomicFile::syncDirectory(target)) {
        VORK_LOG(1, "VorkService::remove: |"
                        << target << "| deleted, but its directory could not be flushed: " << std::strerror(errno));
        if (managed) systemctl({"daemon-reload"});
        return false;
    }
    if (managed) systemctl({"daemon-reload"});
    VORK_LOG(4, "VorkService::remove: |" << target << "| deleted");
    return true;
}

bool VorkService::start(const std::vector<std::string>& /*arguments*/, bool serviceManager) {
    VORK_TRACE("VorkService::start");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    if (!startIt()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_stopRequested = false;
        return false;
    }
    if (serviceManager) notifyServiceManager("READY=1");
    {
        // stop() may already have been called, from the work itself or from
        // another thread: the flag keeps it until it is consumed here.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopped.wait(lock, [this] { return m_stopRequested; });
        m_stopRequested = false;
        m_running = false;
    }
    if (serviceManager) notifyServiceManager("STOPPING=1");
    return true;
}

bool VorkService::stop() {
    VORK_TRACE("VorkService::stop");
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopRequested = true;
    }
    m_stopped.notify_all();
    return true;
}

bool VorkService::startIt() { return false; }

bool VorkService::pauseIt() { return false; }

} // namespace VorkSupport
