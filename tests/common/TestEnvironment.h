#pragma once
#include <string>
#include <vector>

// The per-test sandbox. Before every test the harness creates a fresh
// directory and points the system's directories into it:
//   windir            <dir>/win        (with <dir>/win/TEMP created, mode 0700)
//   TEMP, TMP, TMPDIR <dir>/tmp
//   VSUPT_SERVICE_DIR <dir>/units
//   ZUA_CMDLOG        <dir>/cmdlog
//   HOME, XDG_STATE_HOME inside <dir>
//   PLIMO_MEMFILE     <dir>/no-memory-image (absent: no firmware data)
//   PLIMO_DMI_DIR     <dir>/no-dmi-tables (absent: no kernel copy of the table)
//   PLIMO_TRUST_DIR   <dir>/trust.d (absent: no signature required)
//   DBUS_SYSTEM_BUS_ADDRESS a socket <dir>/no-system-bus that does not exist
//   PLIMO_REBOOT_REQUIRED_FILE <dir>/reboot-required
//   PLIMO_METRICS_DIR <dir>/metrics (absent: no metrics written)
// PLIMO_SKIP_REBOOT and PLIMO_SKIP_INHIBIT are set for the whole process. The
// directory is removed after the test (kept when the test failed and
// PLIMO_KEEP_TEST_DIRS is set).
namespace plimotest {

// The current test's own directory (absolute, no trailing '/').
const std::string& testDir();

// Writes a file (creating parent directories); returns its path.
std::string writeFile(const std::string& path, const std::string& content, bool executable = false);
// The whole content of a file, or "" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);

struct RunResult {
    int exitCode = -1; // exit status, or -1 when killed by a signal
    std::string out;   // standard output
    std::string err;   // standard error
};
// The lines of a text, without their line ends.
std::vector<std::string> lines(const std::string& text);

// A null-terminated array of pointers into strings (for exec and spawn);
// valid while strings is alive and unchanged.
std::vector<char*> cStringArray(std::vector<std::string>& strings);

// This process's environment with the entries "K=V" put in (an entry "K"
// alone removes K).
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra);

// Runs a program (argv[0] is the path) without a shell, with extra
// environment entries "K=V" (an entry "K" alone unsets K), and captures its
// output. Standard input is /dev/null.
RunResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     const std::string& workingDirectory = "");

} // namespace plimotest
