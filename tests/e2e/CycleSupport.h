#pragma once
#include <string>
#include <vector>

#include "TestEnvironment.h"

// Building blocks of the whole-cycle tests: stand-in QPK programs, bundles,
// the system's files in the sandbox, and the real binaries run as children.
namespace e2e {

// A stand-in QPK program <dir>/<name>.sh. Each run appends its arguments as
// one line to <dir>/<name>.runs, writes its "/l=" log, sleeps for the run's
// entry of sleeps (seconds, the last entry repeating; none: no sleep) after
// creating <dir>/<name>.started, and exits with the run's entry of codes (the
// last entry repeating).
std::string writeQpk(const std::string& dir, const std::string& name, const std::vector<int>& codes,
                     const std::vector<double>& sleeps = {});
// How often the stand-in ran, and the argument lines of its runs.
int qpkRuns(const std::string& dir, const std::string& name);
std::vector<std::string> qpkRunLines(const std::string& dir, const std::string& name);

// <dir>/bundle.xml listing the packages (file names in dir, release ids
// P<n>) in order; targetSystems is inserted as it stands before Contents.
void writeBundle(const std::string& dir, const std::vector<std::string>& packageFiles,
                 const std::string& targetSystems = "");

// A zip archive holding every regular file of dir under its relative name.
void writeZip(const std::string& zipFile, const std::string& dir);

// The system's files in the sandbox.
std::string tempFolder();  // <windir>/TEMP
std::string internalLog(); // BAUpdate.xml
std::string finalLog(const std::string& updateId);
std::string lockFile(); // plimo.tmp
std::string unitFile(); // plimo.service in VSUPT_SERVICE_DIR
// The internal logs that could not be read, as moved aside (sorted).
std::vector<std::string> unreadableLogs();
// The logs of interrupted updates without an update id, as kept (sorted).
std::vector<std::string> interruptedLogs();

// The status code of an answer or log text ("<SMStatus result=\"N\""), or
// -1000 when there is none.
int statusOf(const std::string& text);
// The value of attribute name on the first element elementName, or "<none>".
std::string attributeOf(const std::string& text, const std::string& elementName, const std::string& name);
// Number of occurrences of needle in text.
int countOf(const std::string& text, const std::string& needle);
// Whether the file parses as a whole XML document whose root is BundleLog.
bool wholeStatusLog(const std::string& file);
// The status log that a load rebuilds from file and its journal, as text; ""
// when there is none.
std::string rebuiltLog(const std::string& file);

// The real binaries.
std::string orvanePath();
std::string svchostPath();
// Every child gets PLIMO_MEMFILE pointing at a missing file in the sandbox,
// so nothing ever reads the machine's physical memory.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra = {});
plimotest::RunResult orvane(const std::vector<std::string>& arguments, const std::vector<std::string>& env = {});
// zuasvchost plimo <entries...>
plimotest::RunResult svchost(const std::vector<std::string>& entries, const std::vector<std::string>& env = {});

// The resume unit as installed: its ExecStart words and Environment entries.
struct Unit {
    std::vector<std::string> command;
    std::vector<std::string> environment;
};
Unit readUnit();
// Plays the machine after its restart: runs the unit's command with the
// unit's environment, without a shell.
plimotest::RunResult runUnit(const std::vector<std::string>& extraEnv = {});

// Starts a program in its own process group without waiting for it; answers
// its pid. Its output goes to /dev/null.
int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
// Waits for a spawned child; answers its exit status, or -signal when killed.
int waitChild(int pid);
// Waits up to timeoutSeconds for a file to exist.
bool waitForFile(const std::string& path, double timeoutSeconds);

} // namespace e2e
