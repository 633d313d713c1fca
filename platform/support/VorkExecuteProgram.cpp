#include "VorkExecuteProgram.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "VorkChildDeadline.h"
#include "VorkLogRecord.h"
#include "VorkOutputCap.h"
#include "VorkScopeTrace.h"
#include "VorkStartChild.h"

namespace VorkSupport {

namespace {

std::mutex& runnerMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
VorkProgramRunner& runnerSlot() {
    static auto* runner = new VorkProgramRunner;
    return *runner;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The executable that a candidate program name names, or "" when none.
std::string resolveProgram(const std::string& candidate) {
    if (candidate.empty()) return std::string();
    if (candidate.find('/') != std::string::npos) {
        if (!isExecutableFile(candidate)) return std::string();
        if (candidate[0] == '/') return candidate;
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) return std::string();
        return std::string(cwd) + "/" + candidate;
    }
    const char* pathValue = std::getenv("PATH");
    const std::string path = pathValue ? pathValue : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string dir = path.substr(start, end - start);
        if (dir.empty()) dir = ".";
        std::string full = dir + "/" + candidate;
        if (isExecutableFile(full)) return resolveProgram(full);
        start = end + 1;
    }
    return std::string();
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The program that programText names and the words that follow it; false
// when no prefix names an executable.
bool resolveProgramText(const std::string& programText, std::string& program, std::vector<std::string>& words) {
    std::size_t begin = 0;
    while (begin < programText.size() && isBlank(programText[begin])) ++begin;
    const std::string text = programText.substr(begin);
    if (!text.empty() && text[0] == '"') {
        words = VorkSplitCommandLine(text);
        program = resolveProgram(words.front());
        words.erase(words.begin());
        return !program.empty();
    }
    // Prefixes of the text as given, so that runs of blanks and quotes in a
    // path survive.
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        if (cut < text.size() && !isBlank(text[cut])) continue;
        if (cut == 0) continue;
        program = resolveProgram(text.substr(0, cut));
        if (!program.empty()) {
            words = VorkSplitCommandLine(text.substr(cut));
            return true;
        }
    }
    return false;
}

// Waits for a child's end; false (with errno) when it cannot be learnt.
bool waitForChild(pid_t pid, int& exitCode) {
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}
    if (done < 0) return false;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

// Waits for a started program, within its time limit when it has one, and
// keeps its output within its limit.
void waitForProgram(const VorkProgramCall& call, VorkChildDeadline& child, VorkOutputCap& cap, pid_t pid,
                    VorkProgramResult& result) {
    if (call.timeoutSeconds <= 0 && !cap.active()) {
        if (!waitForChild(pid, result.exitCode)) {
            result.started = false;
            result.error = errno;
        }
        return;
    }
    child.watch(pid, &cap);
    const std::chrono::milliseconds limit = call.timeoutSeconds > 0
                                                ? std::chrono::milliseconds(std::chrono::seconds(call.timeoutSeconds))
                                                : std::chrono::milliseconds(-1);
    if (!child.waitFor(limit, &result.exitCode)) {
        VORK_LOG(1, "waitForProgram: time limit of " << call.timeoutSeconds << " seconds passed, ending |"
                                                     << call.displayText() << "|");
        child.end(std::chrono::seconds(call.killGraceSeconds));
        result.exitCode = -1;
        result.timedOut = true;
    }
    cap.check();
    result.droppedOutput = cap.dropped();
    if (cap.dropped() > 0)
        VORK_LOG(2, "waitForProgram: " << cap.dropped() << " bytes of output past " << call.outputLimit
                                       << " cut off for |" << call.displayText() << "|");
}

// The argument vector and program of a call; false when no program is found.
bool prepareChild(const VorkProgramCall& call, VorkChildSetup& setup) {
    if (!call.programPath.empty()) {
        // The program is named exactly; its text only serves the log.
        setup.program = call.programPath;
        setup.arguments.push_back(call.programPath);
    } else {
        std::vector<std::string> words;
        if (!resolveProgramText(call.programText, setup.program, words)) {
            VORK_LOG(1, "prepareChild: no program found in |" << call.displayText() << "|");
            return false;
        }
        setup.arguments.push_back(setup.program);
        setup.arguments.insert(setup.arguments.end(), words.begin(), words.end());
    }
    setup.arguments.insert(setup.arguments.end(), call.arguments.begin(), call.arguments.end());
    setup.outputFd = call.outputFd;
    setup.workingDirectory = call.workingDirectory;
    setup.ownProcessGroup = call.ownProcessGroup;
    return true;
}

VorkProgramResult realRunner(const VorkProgramCall& call, bool wait) {
    VorkProgramResult result;
    VorkChildSetup setup;
    if (!prepareChild(call, setup)) {
        result.error = ENOENT;
        return result;
    }
    // A program with a time limit is ended with all it started: what loses
    // its parent meanwhile comes to this process rather than to init.
    VorkChildDeadline child(call.ownProcessGroup, wait && call.timeoutSeconds > 0);
    // The limit counts from what the file holds before the child can write.
    VorkOutputCap cap(wait ? call.outputFd : -1, call.outputLimit);
    pid_t pid = -1;
    const int rc = VorkStartChild(setup, pid);
    if (rc != 0) {
        VORK_LOG(1, "realRunner: cannot start |" << setup.arguments.front() << "|: " << std::strerror(rc));
        result.error = rc;
        return result;
    }
    result.started = true;
    if (!wait) {
        result.pid = pid;
        return result;
    }
    waitForProgram(call, child, cap, pid, result);
    return result;
}

} // namespace

std::vector<std::string> VorkSplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < commandLine.size(); ++i) {
        const char c = commandLine[i];
        if (quoted) {
            if (c == '\\' && i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
                word.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                word.push_back(c);
            }
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

VorkProgramResult VorkExecuteProgram(const VorkProgramCall& call, bool wait) {
    VORK_TRACE("VorkExecuteProgram");
    VorkProgramRunner runner;
    {
        std::lock_guard<std::mutex> lock(runnerMutex());
        runner = runnerSlot();
    }
    VORK_LOG(4, "VorkExecuteProgram: |" << call.displayText() << "|");
    if (runner) return runner(call.displayText(), wait, call.workingDirectory);
    return realRunner(call, wait);
}

void VorkSetProgramRunner(VorkProgramRunner runner) {
    std::lock_guard<std::mutex> lock(runnerMutex());
    runnerSlot() = std::move(runner);
}

} // namespace VorkSupport
