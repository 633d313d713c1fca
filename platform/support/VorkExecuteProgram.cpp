#include "VorkExecuteProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

extern char** environ;

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

// Owns the file actions of one spawn.
class SpawnActions {
public:
    SpawnActions() { m_ok = ::posix_spawn_file_actions_init(&m_actions) == 0; }
    ~SpawnActions() {
        if (m_ok) ::posix_spawn_file_actions_destroy(&m_actions);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return m_ok; }
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
    bool m_ok = false;
};

bool realRunner(const std::string& commandLine, bool wait, void* handle, int* exitCode,
                const std::string& workingDirectory) {
    const std::vector<std::string> words = VorkSplitCommandLine(commandLine);
    std::string program;
    std::size_t used = 0;
    std::string candidate;
    for (std::size_t i = 0; i < words.size(); ++i) {
        candidate = i == 0 ? words[0] : candidate + " " + words[i];
        program = resolveProgram(candidate);
        if (!program.empty()) {
            used = i + 1;
            break;
        }
    }
    if (program.empty()) {
        VORK_LOG(1, "VorkExecuteProgram: no program found in |" << commandLine << "|");
        return false;
    }

    std::vector<std::string> args;
    args.push_back(program);
    args.insert(args.end(), words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    SpawnActions actions;
    if (!actions.ok()) return false;
    if (::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0) return false;
    if (::posix_spawn_file_actions_addclosefrom_np(actions.get(), 3) != 0) return false;
    if (!workingDirectory.empty() &&
        ::posix_spawn_file_actions_addchdir_np(actions.get(), workingDirectory.c_str()) != 0) {
        return false;
    }

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
    if (rc != 0) {
        VORK_LOG(1, "VorkExecuteProgram: cannot start |" << program << "|: " << std::strerror(rc));
        return false;
    }
    if (handle) *static_cast<pid_t*>(handle) = pid;
    if (!wait) {
        if (!handle) {
            // Nobody else will collect this child: reap it in the background.
            std::thread([pid] {
                int status = 0;
                while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
                }
            }).detach();
        }
        return true;
    }
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    if (done < 0) return false;
    if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
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

bool VorkExecuteProgram(const std::string& commandLine, bool wait, void* handle, int* exitCode) {
    return VorkExecuteProgram(commandLine, wait, handle, exitCode, std::string());
}

bool VorkExecuteProgram(const std::string& commandLine, bool wait, void* handle, int* exitCode,
                        const std::string& workingDirectory) {
    VORK_TRACE("VorkExecuteProgram");
    VorkProgramRunner runner;
    {
        std::lock_guard<std::mutex> lock(runnerMutex());
        runner = runnerSlot();
    }
    VORK_LOG(4, "VorkExecuteProgram: |" << commandLine << "|");
    if (runner) return runner(commandLine, wait, handle, exitCode, workingDirectory);
    return realRunner(commandLine, wait, handle, exitCode, workingDirectory);
}

void VorkSetProgramRunner(VorkProgramRunner runner) {
    std::lock_guard<std::mutex> lock(runnerMutex());
    runnerSlot() = std::move(runner);
}

} // namespace VorkSupport
