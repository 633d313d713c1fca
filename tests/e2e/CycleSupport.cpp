#include "CycleSupport.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "BAXMLDoc.h"
#include "BAXmlText.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// "case" arms choosing the run's value, the last one repeating.
template <typename T>
std::string caseArms(const std::vector<T>& values, const char* variable) {
    std::ostringstream s;
    s << "case $n in\n";
    for (std::size_t i = 0; i + 1 < values.size(); ++i)
        s << "  " << i << ") " << variable << "=" << values[i] << ";;\n";
    s << "  *) " << variable << "=" << values.back() << ";;\n";
    s << "esac\n";
    return s.str();
}

// One word of a unit file: plain up to a blank, or double-quoted with
// backslash escapes; systemd's "%%" and "$$" stand for one character.
std::string unitWord(const std::string& line, std::size_t& pos) {
    std::string word;
    if (pos < line.size() && line[pos] == '"') {
        ++pos;
        while (pos < line.size() && line[pos] != '"') {
            if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
            word.push_back(line[pos++]);
        }
        ++pos;
    } else {
        while (pos < line.size() && line[pos] != ' ') word.push_back(line[pos++]);
    }
    while (pos < line.size() && line[pos] == ' ') ++pos;
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        out.push_back(word[i]);
        if ((word[i] == '%' || word[i] == '$') && i + 1 < word.size() && word[i + 1] == word[i]) ++i;
    }
    return out;
}

} // namespace

std::string writeQpk(const std::string& dir, const std::string& name, const std::vector<int>& codes,
                     const std::vector<double>& sleeps) {
    std::ostringstream s;
    s << "#!/bin/sh\n"
      << "runs='" << dir << "/" << name << ".runs'\n"
      << "n=0\n"
      << "if [ -f \"$runs\" ]; then n=$(wc -l < \"$runs\"); n=$((n)); fi\n"
      << "echo \"$*\" >> \"$runs\"\n"
      << "log=''\n"
      << "for a in \"$@\"; do case \"$a\" in /l=*) log=\"${a#/l=}\";; esac; done\n"
      << "if [ -n \"$log\" ]; then echo \"" << name << " run $n\" > \"$log\"; fi\n"
      << caseArms(codes.empty() ? std::vector<int>{0} : codes, "c")
      << caseArms(sleeps.empty() ? std::vector<double>{0} : sleeps, "s") << ": > '" << dir << "/" << name
      << ".started'\n"
      << "if [ \"$s\" != 0 ]; then sleep \"$s\"; fi\n"
      << "exit $c\n";
    return plimotest::writeFile(dir + "/" + name + ".sh", s.str(), true);
}

std::vector<std::string> qpkRunLines(const std::string& dir, const std::string& name) {
    return plimotest::lines(plimotest::readFile(dir + "/" + name + ".runs"));
}

int qpkRuns(const std::string& dir, const std::string& name) { return static_cast<int>(qpkRunLines(dir, name).size()); }

void writeBundle(const std::string& dir, const std::vector<std::string>& packageFiles,
                 const std::string& targetSystems) {
    std::ostringstream s;
    s << "<?xml version=\"1.0\"?>\n<SoftwareBundle>\n" << targetSystems << "<Contents>\n";
    for (std::size_t i = 0; i < packageFiles.size(); ++i)
        s << "<Package releaseID=\"P" << i + 1 << "\" path=\"" << packageFiles[i] << "\" packageType=\"LWXP\"/>\n";
    s << "</Contents>\n</SoftwareBundle>\n";
    plimotest::writeFile(dir + "/bundle.xml", s.str());
}

void writeZip(const std::string& zipFile, const std::string& dir) {
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_filename(a, zipFile.c_str()) != ARCHIVE_OK) {
        archive_write_free(a);
        throw std::runtime_error("cannot create " + zipFile);
    }
    for (const auto& item : fs::recursive_directory_iterator(dir)) {
        if (!item.is_regular_file()) continue;
        const std::string content = plimotest::readFile(item.path().string());
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, fs::relative(item.path(), dir).string().c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0755);
        archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
        archive_write_header(a, entry);
        archive_write_data(a, content.data(), content.size());
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
}

std::string tempFolder() { return env("windir") + "/TEMP"; }
std::string internalLog() { return tempFolder() + "/BAUpdate.xml"; }
std::string finalLog(const std::string& updateId) { return tempFolder() + "/" + updateId + ".xml"; }
std::string lockFile() { return tempFolder() + "/plimo.tmp"; }
std::string unitFile() { return env("VSUPT_SERVICE_DIR") + "/plimo.service"; }

namespace {
std::vector<std::string> keptLogs(const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(tempFolder()))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}
} // namespace

std::vector<std::string> unreadableLogs() { return keptLogs("BAUpdate.xml.unreadable-"); }
std::vector<std::string> interruptedLogs() { return keptLogs("BAUpdate.xml.interrupted-"); }

int statusOf(const std::string& text) {
    const std::string marker = "<SMStatus result=\"";
    const auto pos = text.find(marker);
    if (pos == std::string::npos) return -1000;
    return std::atoi(text.c_str() + pos + marker.size());
}

std::string attributeOf(const std::string& text, const std::string& elementName, const std::string& name) {
    const auto element = text.find("<" + elementName + " ");
    if (element == std::string::npos) return "<none>";
    const auto end = text.find('>', element);
    const std::string tag = text.substr(element, end - element);
    const auto attr = tag.find(" " + name + "=\"");
    if (attr == std::string::npos) return "<none>";
    const auto valueStart = attr + name.size() + 3;
    return tag.substr(valueStart, tag.find('"', valueStart) - valueStart);
}

int countOf(const std::string& text, const std::string& needle) {
    int count = 0;
    for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++count;
    return count;
}

bool wholeStatusLog(const std::string& file) {
    xmlDocPtr doc = xmlReadFile(file.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlNodePtr root = xmlDocGetRootElement(doc);
    const bool whole = root && std::string(reinterpret_cast<const char*>(root->name)) == "BundleLog";
    xmlFreeDoc(doc);
    return whole;
}

std::string rebuiltLog(const std::string& file) {
    BAXMLDoc log(file);
    log.load();
    std::string text;
    if (log.getDocument() == nullptr || !BAXmlText::serialiseDocument(log.getDocument(), text)) text.clear();
    return text;
}

std::string orvanePath() { return PLIMO_BIN_DIR "/Orvane"; }
std::string svchostPath() { return PLIMO_BIN_DIR "/zuasvchost"; }

std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> result{"PLIMO_MEMFILE=" + plimotest::testDir() + "/no-memory-image"};
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

plimotest::RunResult orvane(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> argv{orvanePath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return plimotest::runProgram(argv, childEnvironment(extraEnv), plimotest::testDir());
}

plimotest::RunResult svchost(const std::vector<std::string>& entries, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> argv{svchostPath(), "plimo"};
    argv.insert(argv.end(), entries.begin(), entries.end());
    return plimotest::runProgram(argv, childEnvironment(extraEnv), plimotest::testDir());
}

Unit readUnit() {
    Unit unit;
    std::istringstream in(plimotest::readFile(unitFile()));
    for (std::string line; std::getline(in, line);) {
        std::size_t pos;
        if (line.rfind("ExecStart=", 0) == 0) {
            pos = 10;
            while (pos < line.size()) unit.command.push_back(unitWord(line, pos));
        } else if (line.rfind("Environment=", 0) == 0) {
            pos = 12;
            while (pos < line.size()) unit.environment.push_back(unitWord(line, pos));
        }
    }
    return unit;
}

plimotest::RunResult runUnit(const std::vector<std::string>& extraEnv) {
    const Unit unit = readUnit();
    if (unit.command.empty()) throw std::runtime_error("no resume unit installed");
    std::vector<std::string> environment = unit.environment;
    environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
    return plimotest::runProgram(unit.command, childEnvironment(environment), plimotest::testDir());
}

int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
    std::vector<std::string> envStrings = plimotest::mergedEnvironment(childEnvironment(extraEnv));
    std::vector<char*> envp = plimotest::cStringArray(envStrings);
    std::vector<std::string> args = argv;
    std::vector<char*> argp = plimotest::cStringArray(args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, plimotest::testDir().c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

int waitChild(int pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1000;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return -1000;
}

bool waitForFile(const std::string& path, double timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (plimotest::fileExists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return plimotest::fileExists(path);
}

} // namespace e2e
