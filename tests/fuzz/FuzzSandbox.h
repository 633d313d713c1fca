#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The private folder of one fuzzing process, made (mkdtemp under TMPDIR) on
// first use and removed when the process ends normally. Every directory and
// file the system would use on the machine is pointed into it, the way the
// test harness does for a test:
//   windir            <dir>/win (with <dir>/win/TEMP, mode 0700)
//   TEMP, TMP, TMPDIR <dir>/tmp
//   VSUPT_SERVICE_DIR, ZUA_CMDLOG, HOME, XDG_STATE_HOME, ZUA_PLUGIN_PATH
//   PLIMO_MEMFILE, PLIMO_DMI_DIR, PLIMO_TRUST_DIR (absent unless a target
//   makes them), PLIMO_REBOOT_REQUIRED_FILE, PLIMO_METRICS_DIR, and a system
//   bus address that leads nowhere
// PLIMO_SKIP_REBOOT, PLIMO_SKIP_INHIBIT and PLIMO_SKIP_NOTIFICATION are set;
// the log level variables are removed, so nothing is logged.
class FuzzSandbox {
public:
    // The one sandbox of this process.
    static FuzzSandbox& instance();

    // The folder (absolute, no trailing '/').
    const std::string& dir() const { return m_sDir; }
    // dir() + "/" + relative.
    std::string path(const std::string& relative) const;

    // Writes a whole file (its directory must exist); aborts when it cannot,
    // since a target that cannot set up its input tests nothing.
    void write(const std::string& file, const std::uint8_t* data, std::size_t size) const;
    void write(const std::string& file, const std::string& text) const;
    // Copies a file into the sandbox; aborts when the source cannot be read
    // or is empty.
    void copy(const std::string& source, const std::string& target) const;
    // Makes a directory (and its parents) with the given mode.
    void makeDirectory(const std::string& directory, unsigned mode = 0700) const;
    // Empties a directory of the sandbox (it stays, or is made); links in it
    // are removed, never followed.
    void empty(const std::string& directory) const;
    // The whole content of a file of the sandbox, or "" when it cannot be
    // read.
    static std::string read(const std::string& file);

    ~FuzzSandbox();
    FuzzSandbox(const FuzzSandbox&) = delete;
    FuzzSandbox& operator=(const FuzzSandbox&) = delete;

private:
    FuzzSandbox();

    std::string m_sDir;
};
