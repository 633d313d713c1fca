#include "OrvaneFrontEnd.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "StatusCode.h"
#include "VorkAtomicFile.h"
#include "zuacs64.h"
#include "zuadb64.h"

namespace {

const char separator = '/';
const char* const pluginPrefix = "plimo";
const char* const updateCommand = "zuacmd=update";
const char* const progressCommand = "zuacmd=progress";
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
    {"-timeout", "packagetimeout=", "getnext"},
    {"", "", ""},
};

OrvaneFrontEnd::OrvaneFrontEnd(int argc, char** argv) : m_sBaseDirectory("."), m_bDebugEcho(false) {
    for (int i = 0; i < argc; ++i) m_arguments.emplace_back(argv[i] != nullptr ? argv[i] : "");
    for (const std::string& argument : m_arguments) {
        if (contains(argument, "-debug")) m_bDebugEcho = true;
    }
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
    if (plugin == 0) std::fprintf(stderr, "Error! plugin \"%s\" not found\n", pluginPrefix);
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

std::string OrvaneFrontEnd::withBase(const std::string& path) const {
    return m_sBaseDirectory + separator + path;
}

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
            std::fprintf(stderr, "\ninvalid command, %s\n", argument.c_str());
            return false;
        }
        if (takesValue(*option)) ++i;
    }
    return true;
}

bool OrvaneFrontEnd::addBundleEntries(const std::string& argument) {
    const std::string path = isAbsolute(argument) ? argument : withBase(argument);
    if (tooLong(path) || !isReadableFile(path)) {
        std::printf("\nInvalid path [%s]\n", path.c_str());
        return false;
    }
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
        const Option* option = findContained(argument);
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
        if (entry == updateCommand || entry == progressCommand) return entry;
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
    }
    // Through the one atomic writer: the log is whole or as it was, never a
    // link planted at its name followed, and an existing file replaced only
    // when it is the caller's own.
    using VorkSupport::VorkAtomicFile;
    const VorkAtomicFile::Outcome outcome =
        tooLong(path) ? VorkAtomicFile::Outcome::Unchanged
                      : VorkAtomicFile::replace(path, answer, 0666, false, VorkAtomicFile::Existing::OwnedOnly, false);
    if (outcome == VorkAtomicFile::Outcome::Written) return true;
    if (outcome == VorkAtomicFile::Outcome::NotDurable) {
        std::fprintf(stderr, "\nResult log [%s] is in place, but could not be made safe on disk\n", path.c_str());
        return false;
    }
    std::fprintf(stderr, "\nInvalid path2 [%s]\n", path.c_str());
    return false;
}

int OrvaneFrontEnd::exitCodeFromAnswer(const std::string& answer, const std::string& command) {
    const std::size_t position = answer.find(statusMarker);
    if (position == std::string::npos) return -1;
    // Read as a long: an out-of-range number must not wrap onto a known code.
    const long status = std::strtol(answer.c_str() + position + std::strlen(statusMarker), nullptr, 10);
    const StatusCode::Info* row = StatusCode::find(status);
    if (row == nullptr) return -1;
    if (command == updateCommand) return row->updateExitCode;
    if (command == progressCommand) return row->progressExitCode;
    return -1;
}

int OrvaneFrontEnd::run() {
    if (m_bDebugEcho) {
        for (std::size_t i = 0; i < m_arguments.size(); ++i) std::printf("arg[%zu]:%s\n", i, m_arguments[i].c_str());
    }
    fixBaseDirectory();
    if (m_arguments.size() < 2) {
        printHelp();
        return -1;
    }
    if (m_arguments[1] == "-?" || m_arguments[1] == "-help") {
        printHelp();
        return 0;
    }
    if (m_arguments[1] == "-version") return printVersion();
    if (!checkArguments() || !buildVector()) {
        printHelp();
        return -1;
    }
    const std::string command = findCommand();
    if (command.empty()) {
        std::fputs("command option must be entered\n", stderr);
        printHelp();
        return -1;
    }

    const uint64_t plugin = findPlugin();
    if (plugin == 0) return -1;
    if (m_bDebugEcho) {
        for (std::size_t k = 0; k < m_commandVector.size(); ++k) {
            std::fputs("Just before sending to the PLIMO library", stdout);
            std::printf("arg %zu, %s\n", k, m_commandVector[k].c_str());
        }
    }

    std::vector<char*> vector;
    for (std::string& entry : m_commandVector) vector.push_back(entry.data());
    const int count = static_cast<int>(vector.size());
    vector.push_back(nullptr);
    char* answer = ZUDBPluginSendCmd(plugin, count, vector.data());
    if (answer == nullptr) {
        std::fprintf(stderr, "Error! plugin: %s returned NULL\n", pluginPrefix);
        return -1;
    }

    // Standard output carries the answer alone, ended by a newline.
    const std::size_t length = std::strlen(answer);
    std::fputs(answer, stdout);
    if (length == 0 || answer[length - 1] != '\n') std::fputc('\n', stdout);
    std::fflush(stdout);
    if (!writeResultLog(answer)) {
        std::fputs("\nError! writing log file", stderr);
        // The answer still goes back to the plug-in that made it.
        ZUDBPluginFreeData(plugin, answer);
        return -1;
    }
    const int exitCode = exitCodeFromAnswer(answer, command);
    ZUDBPluginFreeData(plugin, answer);
    return exitCode;
}
