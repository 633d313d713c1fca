#pragma once
#include <functional>
#include <string>
#include <vector>

namespace VorkSupport {

// Starts a program without a shell.
//  - The command line is split Windows-style: blanks separate words, double
//    quotes group (the quotes are removed; \" inside quotes is a quote).
//  - The program is the shortest run of leading words, joined by single
//    blanks, that names an existing executable file; a first word without
//    '/' is looked up on PATH. The other words are the arguments.
//  - Standard input is /dev/null, the environment is inherited, and no
//    descriptor besides 0, 1 and 2 reaches the child.
//  - Returns false when no program could be started. With wait true, waits
//    for the end and stores the exit status (0..255) in *exitCode, or -1 when
//    the child was ended by a signal. handle, when not null, receives the pid
//    (with wait false the caller then owns the child).
//  - workingDirectory, when not empty, is the child's current directory; the
//    caller's own current directory never changes.
bool VorkExecuteProgram(const std::string& commandLine, bool wait, void* handle, int* exitCode);
bool VorkExecuteProgram(const std::string& commandLine, bool wait, void* handle, int* exitCode,
                        const std::string& workingDirectory);

// Test seam: replaces the program runner for the whole process (nullptr puts
// the real one back). For unit tests only: it lets a test answer exit codes a
// real child cannot give (above 255).
using VorkProgramRunner = std::function<bool(const std::string& commandLine, bool wait, void* handle,
                                             int* exitCode, const std::string& workingDirectory)>;
void VorkSetProgramRunner(VorkProgramRunner runner);

// Splits a command line Windows-style (exposed for tests and callers that log).
std::vector<std::string> VorkSplitCommandLine(const std::string& commandLine);

} // namespace VorkSupport
