#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace VorkSupport {

// One program start, described in two ways: the command line as the caller
// records and logs it, and what the program receives.
//  - programText holds the program, possibly followed by leading arguments.
//    A text that begins with a double quote names the program by its first
//    (quoted) word. Otherwise the program is the shortest prefix of the text,
//    cut before a blank or at its end, that names an existing executable
//    file, so an unquoted path with blanks, with two blanks in a row or with a
//    quote in it still starts; a prefix without '/' is looked up on PATH.
//    What follows the program in programText is split Windows-style (blanks
//    separate words, double quotes group, \" inside quotes is a quote).
//  - arguments follow those words, each passed as one argument whatever it
//    holds (a log path with blanks, a package path with a quote).
//  - commandLine is the text that is logged and that a replaced runner (the
//    test seam below) receives; empty means programText.
struct VorkProgramCall {
    std::string commandLine;
    std::string programText;
    std::vector<std::string> arguments;
    // The child's current directory when not empty; the caller's own current
    // directory never changes.
    std::string workingDirectory;
    // Descriptor that receives the child's standard output and error; -1
    // leaves them the caller's.
    int outputFd = -1;
    // The child leads a process group of its own, so that it and whatever it
    // starts can be signalled together.
    bool ownProcessGroup = false;
    // The executable itself, started as it stands (and given as argv[0]):
    // not looked up on PATH and never split at a blank. programText then
    // only serves the log.
    std::string programPath;
    // Seconds the program may run when it is waited for; 0 means no limit.
    // When they have passed the program is ended with every process that
    // descends from it, also one that left its process group or lost its
    // parent meanwhile (SIGTERM, then SIGKILL killGraceSeconds later if
    // anything of it is still there), and counts as ended by a signal (-1).
    int timeoutSeconds = 0;
    int killGraceSeconds = 30;
    // Bytes the program (with what it starts) may add to outputFd, a regular
    // file, while it is waited for; past them its output is cut off as it
    // lands and counted. 0 means no limit.
    std::int64_t outputLimit = 0;

    const std::string& displayText() const { return commandLine.empty() ? programText : commandLine; }
    // programText and the arguments joined by single blanks, as a log shows
    // them.
    std::string joined() const {
        std::string text = programText;
        for (const std::string& argument : arguments) text += " " + argument;
        return text;
    }
};

// What became of one program start.
//  - started: false when no program could be started (error then holds the
//    errno value, ENOENT when no program was found) or when the end of a
//    waited-for program could not be learnt.
//  - pid: the child when it was not waited for. The caller then owns it and
//    must wait for it (waitpid), or it stays a zombie until this process ends.
//  - exitCode: the exit status (0..255) of a waited-for program, -1 when it
//    was ended by a signal; a replaced runner may answer any number.
//  - timedOut: the program was ended for running past its time limit.
//  - droppedOutput: bytes of output past outputLimit that were cut off (at
//    least).
struct VorkProgramResult {
    bool started = false;
    int error = 0;
    pid_t pid = -1;
    int exitCode = -1;
    bool timedOut = false;
    std::int64_t droppedOutput = 0;
};

// Starts a program without a shell. Standard input is /dev/null, the
// environment is inherited, and no descriptor besides 0, 1 and 2 reaches the
// child. With wait true, waits for its end.
[[nodiscard]] VorkProgramResult VorkExecuteProgram(const VorkProgramCall& call, bool wait = true);

// Test seam: replaces the program runner for the whole process (nullptr puts
// the real one back). For unit tests only: it lets a test answer exit codes a
// real child cannot give (above 255). It receives the call's display text.
using VorkProgramRunner =
    std::function<VorkProgramResult(const std::string& commandLine, bool wait, const std::string& workingDirectory)>;
void VorkSetProgramRunner(VorkProgramRunner runner);

// Splits a command line Windows-style (exposed for tests and callers that log).
std::vector<std::string> VorkSplitCommandLine(const std::string& commandLine);

} // namespace VorkSupport
