#include "FuzzSandbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

void setEnv(const char* key, const std::string& value) { ::setenv(key, value.c_str(), 1); }

[[noreturn]] void giveUp(const std::string& what) {
    std::fprintf(stderr, "FuzzSandbox: %s\n", what.c_str());
    std::abort();
}

} // namespace

FuzzSandbox& FuzzSandbox::instance() {
    static FuzzSandbox sandbox;
    return sandbox;
}

FuzzSandbox::FuzzSandbox() {
    // Never the machine's restart, nor its login manager, whatever a target
    // drives.
    setEnv("PLIMO_SKIP_REBOOT", "1");
    setEnv("PLIMO_SKIP_INHIBIT", "1");
    setEnv("PLIMO_SKIP_NOTIFICATION", "1");
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/plimo-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) giveUp("cannot make a folder in " + pattern);
    m_sDir = pattern;
    makeDirectory(path("win/TEMP"));
    makeDirectory(path("tmp"));
    makeDirectory(path("units"));
    makeDirectory(path("home"));
    setEnv("windir", path("win"));
    setEnv("TEMP", path("tmp"));
    setEnv("TMP", path("tmp"));
    setEnv("TMPDIR", path("tmp"));
    setEnv("VSUPT_SERVICE_DIR", path("units"));
    setEnv("ZUA_CMDLOG", path("cmdlog"));
    setEnv("ZUA_PLUGIN_PATH", path("plugins"));
    setEnv("HOME", path("home"));
    setEnv("XDG_STATE_HOME", path("home/state"));
    setEnv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path("no-system-bus"));
    setEnv("PLIMO_REBOOT_REQUIRED_FILE", path("reboot-required"));
    setEnv("PLIMO_METRICS_DIR", path("metrics"));
    setEnv("PLIMO_MEMFILE", path("no-memory-image"));
    setEnv("PLIMO_DMI_DIR", path("no-dmi-tables"));
    setEnv("PLIMO_TRUST_DIR", path("trust.d"));
    for (const char* name : {"PLIMO_LOGLEVEL", "PLIMO_LOGTARGET", "PLIMO_CMDLINE_TEST", "NOTIFY_SOCKET", "VSUPT_FAULT"})
        ::unsetenv(name);
}

FuzzSandbox::~FuzzSandbox() {
    std::error_code error;
    fs::remove_all(m_sDir, error);
}

std::string FuzzSandbox::path(const std::string& relative) const { return m_sDir + "/" + relative; }

void FuzzSandbox::write(const std::string& file, const std::uint8_t* data, std::size_t size) const {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) giveUp("cannot write " + file);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::write(fd, data + done, size - done);
        if (count <= 0) giveUp("cannot write " + file);
        done += static_cast<std::size_t>(count);
    }
    ::close(fd);
}

void FuzzSandbox::write(const std::string& file, const std::string& text) const {
    write(file, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void FuzzSandbox::copy(const std::string& source, const std::string& target) const {
    const std::string content = read(source);
    if (content.empty()) giveUp("cannot read " + source);
    write(target, content);
}

void FuzzSandbox::makeDirectory(const std::string& directory, unsigned mode) const {
    std::error_code error;
    fs::create_directories(directory, error);
    if (error || ::chmod(directory.c_str(), mode) != 0) giveUp("cannot make " + directory);
}

void FuzzSandbox::empty(const std::string& directory) const {
    if (directory.compare(0, m_sDir.size() + 1, m_sDir + "/") != 0) giveUp("not in the sandbox: " + directory);
    std::error_code error;
    fs::remove_all(directory, error);
    makeDirectory(directory);
}

std::string FuzzSandbox::read(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
