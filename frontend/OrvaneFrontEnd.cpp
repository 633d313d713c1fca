#include "OrvaneFrontEnd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "AnswerDocument.h"
#include "AnswerJson.h"
#include "BundlePlan.h"
#include "ControlText.h"
#include "HistoryRecord.h"
#include "ProgressView.h"
#include "ProgressWatch.h"
#include "StatusCode.h"
#include "UpdateFollower.h"
#include "UpdateHistory.h"
#include "VorkAtomicFile.h"
#include "VorkPlatform.h"
#include "VorkSafeFolder.h"
#include "zuacs64.h"
#include "zuadb64.h"

namespace {

const char separator = '/';
const char* const pluginPrefix = "plimo";
const char* const updateCommand = "zuacmd=update";
const char* const progressCommand = "zuacmd=progress";
const char* const validateCommand = "zuacmd=validate";
// How often the live view of an update this program runs asks for progress.
constexpr double kLiveInterval = 0.5;
// The default and the longest interval of -watch, in seconds.
constexpr double kWatchInterval = 1.0;
constexpr double kLongestInterval = 3600.0;
const char* const statusMarker = "<SMStatus result=\"";

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// A file that opens for reading and is not a directory (or a device that
// could block the open).
bool isReadableFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    const bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    return ok;
}

bool isDirectory(const std::string& path) {
    struct stat status {};
    return !path.empty() && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

// In the order that the lookups rely on; the empty record ends the table.
const OrvaneFrontEnd::Option OrvaneFrontEnd::s_options[] = {
    {"-update", "zuacmd=update", ""},
    {"-progress", "zuacmd=progress", ""},
    {"-logc", "local_cmd", "getnext"},
    {"-bdir=", "local_cmd", ""},
    {"-force", "force=true", ""},
    {"-ignore", "ignore=true", ""},
    {"-continueonfailure", "continueonfailure=true", ""},
    {"-preinstenv", "preinstenv=true", ""},
    {"-path", "bundle=", "getnext"},
    {"-dbglevel", "dbglevel=", "getnext"},
    {"-dbgtarget", "dbgtarget=", "getnext"},
    {"-verify", "verify=", "getnext"},
    {"-allowolder", "allowolder=true", ""},
    {"-timeout", "packagetimeout=", "getnext"},
    {"-validate", "zuacmd=validate", ""},
    {"-updateid", "updateid=", "getnext"},
    {"-json", "local_cmd", ""},
    {"-history", "local_cmd", ""},
    {"-watch", "local_cmd", ""},
    {"-interval", "local_cmd", "getnext"},
    {"", "", ""},
};

OrvaneFrontEnd::OrvaneFrontEnd(int argc, char** argv) : m_sBaseDirectory("."), m_bDebugEcho(false) {
    for (int i = 0; i < argc; ++i) m_arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    for (const std::string& argument : m_arguments) {
        if (contains(argument, "-debug")) m_bDebugEcho = true;
    }
    m_bJson = hasOption("-json");
}

bool OrvaneFrontEnd::hasOption(const char* option) const {
    for (std::size_t i = 1; i < m_arguments.size(); ++i) {
        if (m_arguments[i] == option) return true;
        const Option* record = findExact(m_arguments[i]);
        // A value is no option, whatever it reads.
        if (record != nullptr && takesValue(*record)) ++i;
    }
    return false;
}

std::string OrvaneFrontEnd::optionValue(const char* option) const {
    for (std::size_t i = 1; i + 1 < m_arguments.size(); ++i) {
        if (m_arguments[i] == option) return m_arguments[i + 1];
        const Option* record = findExact(m_arguments[i]);
        if (record != nullptr && takesValue(*record)) ++i;
    }
    return std::string();
}

void OrvaneFrontEnd::report(std::FILE* stream, const std::string& message) {
    if (!m_bJson) {
        std::fputs(message.c_str(), stream);
        return;
    }
    // JSON carries the first message, without the line ends around it.
    if (!m_sError.empty()) return;
    const std::size_t first = message.find_first_not_of('\n');
    const std::size_t last = message.find_last_not_of('\n');
    m_sError = first == std::string::npos ? message : message.substr(first, last - first + 1);
}

int OrvaneFrontEnd::fail(bool withHelp) {
    if (m_bJson) {
        std::printf("%s\n", AnswerJson::error(m_sError.empty() ? "invalid command line" : m_sError, -1).c_str());
        std::fflush(stdout);
    } else if (withHelp) {
        printHelp();
    }
    return -1;
}

void OrvaneFrontEnd::printHelp() {
    std::fputs("\nhelp:\n", stdout);
    std::fputs("\t-? | -help\n", stdout);
    std::fputs("update:\n", stdout);
    std::fputs("\t-update -path <bundle file name> [-logc <log file name>]\n", stdout);
    std::fputs("\t[-force][-ignore][-continueonfailure][-preinstenv] \n", stdout);
    std::fputs("progress:\n", stdout);
    std::fputs("\t-progress [-logc <log file name>]\n", stdout);
}

// The program's version and the version the plug-in's library names.
int OrvaneFrontEnd::printVersion() {
    std::printf("Orvane %s\n", PLIMO_VERSION);
    const uint64_t plugin = findPlugin();
    if (plugin == 0) return -1;
    const char* version = ZUDBPluginGetVersion(plugin);
    std::printf("plug-in %s %s\n", pluginPrefix, version != nullptr ? version : "(no version)");
    return 0;
}

// The plug-in's handle from the data manager; 0 (reported) when there is none.
uint64_t OrvaneFrontEnd::findPlugin() {
    ZCSSetProcessEnvironment();
    ::setenv("MNF_BYPASS_PLUGIN_INSTALL_CHECK", "TRUE", 1);
    const uint64_t plugin = ZUDBPluginGetIDByPrefix(pluginPrefix);
    if (plugin == 0) report(stderr, std::string("Error! plugin \"") + pluginPrefix + "\" not found\n");
    return plugin;
}

const OrvaneFrontEnd::Option* OrvaneFrontEnd::findExact(const std::string& argument) {
    for (const Option* option = s_options; *option->option != '\0'; ++option) {
        if (argument == option->option) return option;
    }
    return nullptr;
}

const OrvaneFrontEnd::Option* OrvaneFrontEnd::findContained(const std::string& argument) {
    for (const Option* option = s_options; *option->option != '\0'; ++option) {
        if (contains(argument, option->option)) return option;
    }
    return nullptr;
}

bool OrvaneFrontEnd::takesValue(const Option& option) { return std::strcmp(option.marker, "getnext") == 0; }

bool OrvaneFrontEnd::isLocal(const Option& option) { return std::strcmp(option.vectorText, "local_cmd") == 0; }

bool OrvaneFrontEnd::isAbsolute(const std::string& path) { return !path.empty() && path[0] == separator; }

// Longer paths than the system takes are refused rather than cut.
bool OrvaneFrontEnd::tooLong(const std::string& path) { return path.size() >= PATH_MAX; }

std::string OrvaneFrontEnd::withBase(const std::string& path) const { return m_sBaseDirectory + separator + path; }

void OrvaneFrontEnd::fixBaseDirectory() {
    for (const std::string& argument : m_arguments) {
        if (!contains(argument, "-bdir=")) continue;
        m_sBaseDirectory = argument.substr(argument.find('=') + 1);
        // An empty base directory means the current one, never the root.
        if (m_sBaseDirectory.empty()) m_sBaseDirectory = ".";
        return;
    }
}

bool OrvaneFrontEnd::checkArguments() {
    for (std::size_t i = 1; i < m_arguments.size(); ++i) {
        const std::string& argument = m_arguments[i];
        if (contains(argument, "-bdir=")) continue;
        const Option* option = findExact(argument);
        if (option == nullptr) {
            report(stderr, "\ninvalid command, " + argument + "\n");
            return false;
        }
        if (takesValue(*option)) ++i;
    }
    return true;
}

bool OrvaneFrontEnd::addBundleEntries(const std::string& argument) {
    const std::string path = isAbsolute(argument) ? argument : withBase(argument);
    if (tooLong(path) || !isReadableFile(path)) {
        report(stdout, "\nInvalid path [" + path + "]\n");
        return false;
    }
    m_sBundleFile = path;
    const std::size_t last = path.rfind(separator);
    if (last == std::string::npos) return false;
    std::string directory = path.substr(0, last);
    // A bundle file in the root directory lies in "/", not in "".
    if (directory.empty()) directory = std::string(1, separator);
    m_commandVector.push_back("bundle=" + path.substr(last + 1));
    m_commandVector.push_back("bundlepath=" + directory);
    return true;
}

bool OrvaneFrontEnd::buildVector() {
    for (std::size_t i = 1; i < m_arguments.size(); ++i) {
        const std::string& argument = m_arguments[i];
        // The base directory was taken in whole; an option name inside it
        // (a directory called "x-update") must not count as that option.
        if (contains(argument, "-bdir=")) continue;
        // An option whose name holds an earlier one ("-updateid") is itself.
        const Option* option = findExact(argument);
        if (option == nullptr) option = findContained(argument);
        if (option == nullptr) return false;
        if (isLocal(*option)) {
            if (takesValue(*option)) ++i;
            continue;
        }
        if (std::strcmp(option->option, "-path") == 0) {
            if (i + 1 >= m_arguments.size()) return false;
            if (!addBundleEntries(m_arguments[i + 1])) return false;
            ++i;
            continue;
        }
        if (takesValue(*option)) {
            if (i + 1 >= m_arguments.size()) return false;
            m_commandVector.push_back(option->vectorText + m_arguments[i + 1]);
            ++i;
            continue;
        }
        m_commandVector.push_back(option->vectorText);
    }
    m_commandVector.push_back("zuausrmask=7");
    m_commandVector.push_back("zuausrinfo=OrvaneUsr");
    return true;
}

std::string OrvaneFrontEnd::findCommand() const {
    for (const std::string& entry : m_commandVector) {
        if (entry == updateCommand || entry == progressCommand || entry == validateCommand) return entry;
    }
    return std::string();
}

std::string OrvaneFrontEnd::resultLogPath() const {
    for (std::size_t i = 1; i + 1 < m_arguments.size(); ++i) {
        if (m_arguments[i] != "-logc") continue;
        const std::string& name = m_arguments[i + 1];
        return isAbsolute(name) ? name : withBase(name);
    }
    return std::string();
}

bool OrvaneFrontEnd::writeResultLog(const char* answer) const {
    std::string path = resultLogPath();
    if (path.empty()) {
        const char* directory = std::getenv("TEMP");
        if (directory == nullptr || *directory == '\0') directory = std::getenv("TMP");
        if (directory == nullptr || *directory == '\0') directory = std::getenv("TMPDIR");
        if (directory == nullptr || *directory == '\0') directory = "/tmp";
        const std::string folder = directory;
        if (tooLong(folder) || !isDirectory(folder)) {
            std::fprintf(stderr, "\nInvalid path1 [%s]\n", folder.c_str());
            return false;
        }
        path = folder + separator + "Orvane.log";
        // Nobody else decides where the default log goes, or whether it can
        // be written: in a folder that others may write, or in place of
        // something that is not the caller's own file, it goes to the state
        // folder instead.
        const std::string shared = sharedPlace(folder, path);
        if (!shared.empty()) {
            const std::string own =
                VorkSupport::VorkPlatform::windowsDirectory() + separator + "TEMP" + separator + "Orvane.log";
            std::fprintf(stderr, "Orvane: the result log is written to %s: %s\n", own.c_str(), shared.c_str());
            path = own;
        }
    }
    // Through the one atomic writer: the log is whole or as it was, never a
    // link planted at its name followed, and an existing file replaced only
    // when it is the caller's own. It holds the packages' output: only the
    // caller may read it.
    using VorkSupport::VorkAtomicFile;
    const VorkAtomicFile::Outcome outcome =
        tooLong(path) ? VorkAtomicFile::Outcome::Unchanged
                      : VorkAtomicFile::replace(path, answer, 0600, false, VorkAtomicFile::Existing::OwnedOnly, false);
    if (outcome == VorkAtomicFile::Outcome::Written) return true;
    if (outcome == VorkAtomicFile::Outcome::NotDurable) {
        std::fprintf(stderr, "\nResult log [%s] is in place, but could not be made safe on disk\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "\nInvalid path2 [%s]\n", path.c_str());
    return false;
}

std::string OrvaneFrontEnd::sharedPlace(const std::string& folder, const std::string& path) {
    std::string absolute = folder;
    if (!isAbsolute(absolute)) {
        char here[PATH_MAX];
        if (::getcwd(here, sizeof here) == nullptr) return "the folder " + folder + " cannot be placed";
        absolute = std::string(here) + separator + folder;
    }
    const std::string problem = VorkSupport::VorkSafeFolder::problem(absolute, false);
    if (!problem.empty()) return problem;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return std::string();
    if (S_ISLNK(status.st_mode)) return path + " is a symbolic link";
    if (!S_ISREG(status.st_mode)) return path + " is not a regular file";
    if (status.st_uid != ::geteuid()) return path + " belongs to uid " + std::to_string(status.st_uid);
    return std::string();
}

int OrvaneFrontEnd::exitCodeFromAnswer(const std::string& answer, const std::string& command) {
    const std::size_t position = answer.find(statusMarker);
    if (position == std::string::npos) return -1;
    // Read as a long: an out-of-range number must not wrap onto a known code.
    const long status = std::strtol(answer.c_str() + position + std::strlen(statusMarker), nullptr, 10);
    const StatusCode::Info* row = StatusCode::find(status);
    if (row == nullptr) return -1;
    // A validation ends as an update of the same status would.
    if (command == updateCommand || command == validateCommand) return row->updateExitCode;
    if (command == progressCommand) return row->progressExitCode;
    return -1;
}

int OrvaneFrontEnd::run() {
    if (m_bDebugEcho) {
        // Standard output carries the JSON object alone.
        std::FILE* echo = m_bJson ? stderr : stdout;
        for (std::size_t i = 0; i < m_arguments.size(); ++i)
            std::fprintf(echo, "arg[%zu]:%s\n", i, m_arguments[i].c_str());
    }
    fixBaseDirectory();
    if (m_arguments.size() < 2) {
        printHelp();
        return -1;
    }
    if (m_arguments[1] == "-?" || m_arguments[1] == "-help") {
        if (m_bJson) {
            report(stderr, "-json cannot be combined with " + m_arguments[1]);
            return fail(false);
        }
        printHelp();
        return 0;
    }
    if (m_arguments[1] == "-version") return printVersion();
    if (!checkArguments() || !buildVector()) return fail(true);
    const std::string command = findCommand();
    if (hasOption("-history")) {
        if (!command.empty() || hasOption("-watch")) {
            report(stderr, "-history takes no other command\n");
            return fail(true);
        }
        return showHistory();
    }
    if (command.empty()) {
        report(stderr, "command option must be entered\n");
        return fail(true);
    }
    double interval = kWatchInterval;
    if (!readWatchOptions(command, interval)) return fail(true);

    const uint64_t plugin = findPlugin();
    if (plugin == 0) return fail(false);
    if (m_bDebugEcho) {
        std::FILE* echo = m_bJson ? stderr : stdout;
        for (std::size_t k = 0; k < m_commandVector.size(); ++k) {
            std::fputs("Just before sending to the PLIMO library", echo);
            std::fprintf(echo, "arg %zu, %s\n", k, m_commandVector[k].c_str());
        }
    }

    if (hasOption("-watch")) return watchProgress(plugin, interval);

    // On a terminal, an update shows its packages as they run.
    std::unique_ptr<UpdateFollower> follower;
    if (command == updateCommand && ::isatty(STDERR_FILENO) == 1) {
        follower = std::make_unique<UpdateFollower>(plugin, kLiveInterval,
                                                    static_cast<int>(BundlePlan::read(m_sBundleFile).entries().size()));
        if (!follower->start()) follower.reset();
    }
    std::vector<char*> vector;
    for (std::string& entry : m_commandVector) vector.push_back(entry.data());
    const int count = static_cast<int>(vector.size());
    vector.push_back(nullptr);
    char* answer = ZUDBPluginSendCmd(plugin, count, vector.data());
    if (follower) follower->finish(answer != nullptr ? answer : "");
    if (answer == nullptr) {
        report(stderr, std::string("Error! plugin: ") + pluginPrefix + " returned NULL\n");
        return fail(false);
    }
    const int exitCode = showAnswer(answer, command);
    ZUDBPluginFreeData(plugin, answer);
    return exitCode;
}

int OrvaneFrontEnd::showAnswer(const char* answer, const std::string& command) {
    if (m_bJson) {
        // The result log stays the answer as it came.
        const bool logged = writeResultLog(answer);
        const int exitCode = logged ? exitCodeFromAnswer(answer, command) : -1;
        const AnswerDocument document = AnswerDocument::parse(answer);
        std::printf("%s\n", AnswerJson::answer(document, answer, command.substr(command.find('=') + 1), exitCode,
                                               logged ? "" : "Error! writing log file")
                                .c_str());
        std::fflush(stdout);
        if (command == validateCommand) showPlan(document);
        return exitCode;
    }
    // Standard output carries the answer alone, ended by a newline; a
    // terminal shows the control characters of package logs and names as
    // escapes, a pipe or a file gets the answer as it came.
    const std::string shown =
        ::isatty(STDOUT_FILENO) == 1 ? VorkCommon::ControlText::forTerminal(answer, true) : std::string(answer);
    std::fputs(shown.c_str(), stdout);
    if (shown.empty() || shown.back() != '\n') std::fputc('\n', stdout);
    std::fflush(stdout);
    if (!writeResultLog(answer)) {
        std::fputs("\nError! writing log file", stderr);
        return -1;
    }
    if (command == validateCommand) showPlan(AnswerDocument::parse(answer));
    return exitCodeFromAnswer(answer, command);
}

void OrvaneFrontEnd::showPlan(const AnswerDocument& answer) const {
    if (::isatty(STDERR_FILENO) != 1) return;
    const BundlePlan plan = BundlePlan::read(m_sBundleFile);
    if (!plan.valid()) return;
    plan.render(stderr, answer, optionValue("-timeout"));
}

bool OrvaneFrontEnd::readWatchOptions(const std::string& command, double& interval) {
    const bool watch = hasOption("-watch");
    if (watch && command != progressCommand) {
        report(stderr, "-watch needs -progress\n");
        return false;
    }
    if (!hasOption("-interval")) return true;
    if (!watch) {
        report(stderr, "-interval needs -progress -watch\n");
        return false;
    }
    const std::string text = optionValue("-interval");
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno != 0 || !(value > 0) || value > kLongestInterval) {
        report(stderr, "\ninvalid interval, " + text + " (seconds above 0, at most 3600)\n");
        return false;
    }
    interval = value;
    return true;
}

int OrvaneFrontEnd::watchProgress(uint64_t plugin, double interval) {
    const ProgressWatch watch(plugin, interval);
    ProgressView view(stderr, ::isatty(STDERR_FILENO) == 1, 0);
    std::string note;
    const std::string answer = watch.watch(view, note);
    if (answer.empty()) {
        report(stderr, std::string("Error! plugin: ") + pluginPrefix + " returned NULL\n");
        return fail(false);
    }
    return showAnswer(answer.c_str(), progressCommand);
}

int OrvaneFrontEnd::showHistory() {
    UpdateHistory history;
    const std::string folder = UpdateHistory::folder();
    if (!history.read(folder)) {
        report(stderr, history.errorText() + "\n");
        return fail(false);
    }
    // Update ids, messages and package logs of the kept logs are shown,
    // never obeyed, by a terminal.
    auto show = [](const std::function<void(std::FILE*)>& print) {
        if (::isatty(STDOUT_FILENO) != 1) return print(stdout);
        char* table = nullptr;
        std::size_t size = 0;
        std::FILE* text = ::open_memstream(&table, &size);
        if (text == nullptr) return;
        print(text);
        std::fclose(text);
        std::fputs(VorkCommon::ControlText::forTerminal(std::string(table, size), true).c_str(), stdout);
        std::free(table);
    };
    if (hasOption("-updateid")) {
        // One update in full, read anew with its packages.
        const std::string updateId = optionValue("-updateid");
        const UpdateHistory::Row* row = history.find(updateId);
        if (row == nullptr) {
            report(stderr, "no update " + updateId + " in the history\n");
            return fail(false);
        }
        const HistoryRecord record = HistoryRecord::open(AT_FDCWD, row->file, true);
        if (m_bJson)
            std::printf("%s\n",
                        VorkCommon::ControlText::jsonEscaped(UpdateHistory::updateJson(*row, record, 0)).c_str());
        else show([&](std::FILE* out) { UpdateHistory::printUpdate(out, *row, record); });
    } else if (m_bJson) {
        std::printf("%s\n", VorkCommon::ControlText::jsonEscaped(history.json(0)).c_str());
    } else {
        show([&](std::FILE* out) { history.print(out); });
    }
    std::fflush(stdout);
    return 0;
}
