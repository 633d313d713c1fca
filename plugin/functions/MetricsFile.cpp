#include "MetricsFile.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>
#include <stdexcept>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "BundleFile.h"
#include "FileHandle.h"
#include "FunctionCall.h"
#include "StatusCode.h"
#include "VorkAtomicFile.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"
#include "VorkService.h"
#include "XmlOwnership.h"

namespace {

const char* const kLastUpdatePrefix = "plimo_last_update_";

const char* callName(MetricsFile::Call call) {
    switch (call) {
        case MetricsFile::Call::Resume: return "resume";
        case MetricsFile::Call::Clean: return "clean";
        case MetricsFile::Call::Update: break;
    }
    return "update";
}

// A label value of the text format: backslash, double quote and line end
// escaped.
std::string labelValue(const std::string& text) {
    std::string value;
    for (char c : text) {
        if (c == '\\' || c == '"') value += '\\';
        if (c == '\n') {
            value += "\\n";
            continue;
        }
        value += c;
    }
    return value;
}

void metric(std::ostringstream& out, const char* name, const char* help) {
    out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << " gauge\n";
}

// A file of root's as it lies, without waiting for a pipe in its place; ""
// when it cannot be read.
std::string readText(const std::string& name) {
    const BundleFile file(name);
    return file.state() == BundleFile::State::Read ? file.content() : std::string();
}

// The status asks for a restart that has not happened.
bool asksForRestart(int status) {
    switch (status) {
        case StatusCode::RebootRequired:
        case StatusCode::ResumeRequired:
        case StatusCode::ResumeRequiredAlias:
        case StatusCode::Rebooting:
        case StatusCode::RebootingToResume:
        case StatusCode::RebootRequiredWithFailures: return true;
        default: return false;
    }
}

// This system's line in the reboot-required flag's package list.
bool flaggedForRestart() {
    const char* flag = std::getenv("PLIMO_REBOOT_REQUIRED_FILE");
    std::istringstream packages(readText(std::string(flag != nullptr ? flag : "/run/reboot-required") + ".pkgs"));
    std::string line;
    while (std::getline(packages, line))
        if (line == "plimo") return true;
    return false;
}

// An attribute's text, "" when it is absent.
std::string attribute(xmlNodePtr node, const char* name) {
    const XmlString value(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
    if (value == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(value.get()));
}

bool named(xmlNodePtr node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

struct Counts {
    int run = 0;
    int failed = 0;
    int skipped = 0;
    int missing = 0;
};

Counts countPackages(BAXMLDoc& log) {
    Counts counts;
    xmlNodePtr root = log.getDocument() != nullptr ? xmlDocGetRootElement(log.getDocument()) : nullptr;
    if (root == nullptr) return counts;
    const std::string refusal = std::to_string(StatusCode::IntegrityFailed);
    for (xmlNodePtr package = root->children; package != nullptr; package = package->next) {
        if (!named(package, "Package")) continue;
        std::string state;
        std::string status;
        bool refused = false;
        for (xmlNodePtr child = package->children; child != nullptr; child = child->next) {
            if (named(child, "Status")) {
                state = attribute(child, "state");
                status = attribute(child, "status");
            } else if (named(child, "PkgLog") && attribute(child, "code") == refusal) {
                refused = true;
            }
        }
        if (state == "skipped") ++counts.skipped;
        // A package the digest check refused failed; any other is missing.
        if (state == "missing") ++(refused ? counts.failed : counts.missing);
        if (state == "complete") {
            ++counts.run;
            // Status number 5: the package failed.
            if (status == "5") ++counts.failed;
        }
    }
    return counts;
}

// The last update's lines of an earlier file, with their comments.
std::string lastUpdateLines(const std::string& previous) {
    std::istringstream lines(previous);
    std::string line;
    std::string kept;
    while (std::getline(lines, line)) {
        std::string name = line;
        if (name.rfind("# HELP ", 0) == 0 || name.rfind("# TYPE ", 0) == 0) name = name.substr(7);
        if (name.rfind(kLastUpdatePrefix, 0) == 0) kept += line + "\n";
    }
    return kept;
}

// What the child that writes the file found and did.
struct Report {
    enum Stage : int { Written, NoFolder, NotFolder, OpenFolder, Create, Fill, Place, Flush };
    enum Standing : int { Nothing, OwnFile, Link, Pipe, Folder, ForeignFile, OtherKind };
    int stage = OpenFolder;
    int error = 0;
    int standing = Nothing;
    unsigned owner = 0;
    // The folder may be written by users other than root (and the caller).
    int shared = 0;
    // A folder in the file's place that could not be removed once replaced.
    int folderKept = 0;
};

const char* standingText(int standing) {
    switch (standing) {
        case Report::Link: return "a symbolic link";
        case Report::Pipe: return "a pipe";
        case Report::Folder: return "a folder";
        case Report::ForeignFile: return "a file of another user";
        case Report::OtherKind: return "no regular file";
        default: return "";
    }
}

// The child's whole work, in system calls only (a forked copy of a process
// with threads may take no lock): the new file made in the folder, filled,
// flushed and renamed over the file's name, whatever stands there.
[[noreturn]] void writeInChild(int reportFd, const char* folder, const char* tempName, const std::string& text) {
    // No descriptor of the parent stays open here but the report's: no lock
    // the parent takes later can be held by a child that hangs.
    if (reportFd != 3) {
        ::dup2(reportFd, 3);
        reportFd = 3;
    }
    ::close_range(4, ~0U, 0);
    Report report;
    const int directory = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0) {
        report.error = errno;
        report.stage = errno == ENOENT ? Report::NoFolder : errno == ENOTDIR ? Report::NotFolder : Report::OpenFolder;
    } else {
        struct stat status {};
        const uid_t caller = ::geteuid();
        if (::fstat(directory, &status) == 0 &&
            ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 || (status.st_uid != 0 && status.st_uid != caller)))
            report.shared = 1;
        if (::fstatat(directory, MetricsFile::kFileName, &status, AT_SYMLINK_NOFOLLOW) == 0) {
            report.owner = status.st_uid;
            report.standing = S_ISLNK(status.st_mode)    ? Report::Link
                              : S_ISFIFO(status.st_mode) ? Report::Pipe
                              : S_ISDIR(status.st_mode)  ? Report::Folder
                              : !S_ISREG(status.st_mode) ? Report::OtherKind
                              : status.st_uid != caller  ? Report::ForeignFile
                                                         : Report::OwnFile;
        }
        report.stage = Report::Create;
        const int file = ::openat(directory, tempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file >= 0) {
            report.stage = Report::Fill;
            std::size_t done = 0;
            bool filled = ::fchmod(file, 0644) == 0;
            while (filled && done < text.size()) {
                const ssize_t count = ::write(file, text.data() + done, text.size() - done);
                if (count < 0 && errno == EINTR) continue;
                if (count <= 0) filled = false;
                else done += static_cast<std::size_t>(count);
            }
            filled = filled && ::fsync(file) == 0;
            filled = ::close(file) == 0 && filled;
            if (filled) {
                report.stage = Report::Place;
                // A folder cannot be renamed over: it changes places with the
                // new file, and goes when it is empty.
                const bool placed =
                    report.standing == Report::Folder
                        ? ::renameat2(directory, tempName, directory, MetricsFile::kFileName, RENAME_EXCHANGE) == 0
                        : ::renameat(directory, tempName, directory, MetricsFile::kFileName) == 0;
                if (placed) {
                    if (report.standing == Report::Folder && ::unlinkat(directory, tempName, AT_REMOVEDIR) != 0)
                        report.folderKept = 1;
                    report.stage = ::fsync(directory) == 0 ? Report::Written : Report::Flush;
                }
            }
            if (report.stage != Report::Written) report.error = errno;
            if (report.stage == Report::Fill || report.stage == Report::Place) ::unlinkat(directory, tempName, 0);
        } else {
            report.error = errno;
        }
    }
    const char* bytes = reinterpret_cast<const char*>(&report);
    std::size_t sent = 0;
    while (sent < sizeof report) {
        const ssize_t count = ::write(reportFd, bytes + sent, sizeof report - sent);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        sent += static_cast<std::size_t>(count);
    }
    // Straight to the kernel: nothing of the parent's (its exit handlers, a
    // sanitizer's end-of-process checks of the parent's threads) runs here.
    ::syscall(SYS_exit_group, 0);
    ::_exit(0);
}

// A name for the new file that nobody can guess beforehand.
std::string temporaryName() {
    unsigned value = 0;
    if (::getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value))
        value = static_cast<unsigned>(std::time(nullptr)) ^ static_cast<unsigned>(::getpid());
    char name[64];
    std::snprintf(name, sizeof name, "%s.tmp%08x", MetricsFile::kFileName, value);
    return name;
}

// Runs the write in a child and waits for its report at most kWriteLimit;
// false when it did not come in time (the child is then killed and left to
// whoever collects it: one stuck in a hung file system cannot even die).
bool writeBounded(const std::string& folder, const std::string& text, Report& report) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("no pipe: ") + std::strerror(errno));
    VorkSupport::FileHandle reading(pipeFds[0]);
    VorkSupport::FileHandle writing(pipeFds[1]);
    const std::string tempName = temporaryName();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error(std::string("no child: ") + std::strerror(errno));
    if (child == 0) writeInChild(writing.get(), folder.c_str(), tempName.c_str(), text);
    writing.reset();
    const auto deadline = std::chrono::steady_clock::now() + MetricsFile::kWriteLimit;
    std::string received;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd wait{reading.get(), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&wait, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            ::kill(child, SIGKILL);
            (void)::waitpid(child, nullptr, WNOHANG);
            return false;
        }
        char buffer[sizeof(Report)];
        const ssize_t count = reading.read(buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        received.append(buffer, static_cast<std::size_t>(count));
    }
    // The report's end is the child's end: it is collected at once.
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    if (received.size() != sizeof report) throw std::runtime_error("the writing child gave no report");
    std::memcpy(&report, received.data(), sizeof report);
    return true;
}

void logReport(const std::string& folder, const Report& report) {
    const std::string name = folder + "/" + MetricsFile::kFileName;
    if (report.stage == Report::NoFolder) return;
    if (report.stage == Report::NotFolder) {
        VORK_LOG(2, "logReport: |" << folder << "| is no directory; no metrics written");
        return;
    }
    if (report.shared != 0)
        VORK_LOG(2, "logReport: the metrics folder |" << folder << "| may be written by users other than "
                                                      << "root; whatever they put there is replaced");
    if (report.stage != Report::Written && report.stage != Report::Flush) {
        VORK_LOG(2, "logReport: |" << name << "| could not be written (" << std::strerror(report.error)
                                   << "); the call's result stands");
        return;
    }
    if (report.standing != Report::Nothing && report.standing != Report::OwnFile)
        VORK_LOG(2, "logReport: |" << name << "| was " << standingText(report.standing) << " of uid " << report.owner
                                   << "; replaced, never opened"
                                   << (report.folderKept != 0 ? " (the folder, not empty, stays beside it)" : ""));
    if (report.stage == Report::Flush)
        VORK_LOG(2, "logReport: |" << name << "| is in place, but its folder could not be flushed");
}

} // namespace

std::string MetricsFile::directory() {
    const char* directory = std::getenv("PLIMO_METRICS_DIR");
    return directory != nullptr && *directory != '\0' ? directory : kDefaultDirectory;
}

std::string MetricsFile::text(Call call, BAXMLDoc& statusLog, double seconds, const std::string& keptLastUpdate) {
    int status = StatusCode::UnknownException;
    try {
        status = statusLog.SMStatus();
    } catch (const VorkSupport::VorkException&) {
        // A log without its status reads as the exception status.
    }
    std::ostringstream out;
    metric(out, "plimo_last_status_code", "Status code of the last update, resume or clean (0 success).");
    out << "plimo_last_status_code{call=\"" << callName(call) << "\"} " << status << "\n";
    metric(out, "plimo_last_status_timestamp_seconds", "When the last update, resume or clean ended.");
    out << "plimo_last_status_timestamp_seconds " << static_cast<long long>(std::time(nullptr)) << "\n";
    metric(out, "plimo_restart_pending", "1 when the machine must restart for the updates to apply.");
    out << "plimo_restart_pending " << (asksForRestart(status) || flaggedForRestart() ? 1 : 0) << "\n";
    metric(out, "plimo_resume_service_installed", "1 when the resume service waits for the next start.");
    out << "plimo_resume_service_installed "
        << (VorkSupport::VorkPlatform::fileExists(VorkSupport::VorkService::unitDirectory() + "/plimo.service") ? 1 : 0)
        << "\n";
    if (call == Call::Clean) {
        // A clean runs no update: the last one's figures stay as they were.
        out << lastUpdateLines(keptLastUpdate);
        return out.str();
    }
    const Counts counts = countPackages(statusLog);
    metric(out, "plimo_last_update_info", "The update id of the last update (\"\" without one).");
    out << "plimo_last_update_info{update_id=\"" << labelValue(statusLog.updateId()) << "\"} 1\n";
    metric(out, "plimo_last_update_packages", "Packages of the last update by outcome.");
    out << "plimo_last_update_packages{outcome=\"run\"} " << counts.run << "\n"
        << "plimo_last_update_packages{outcome=\"failed\"} " << counts.failed << "\n"
        << "plimo_last_update_packages{outcome=\"skipped\"} " << counts.skipped << "\n"
        << "plimo_last_update_packages{outcome=\"missing\"} " << counts.missing << "\n";
    metric(out, "plimo_last_update_duration_seconds",
           "How long the last update call ran (for a resumed update, its resume call).");
    out << "plimo_last_update_duration_seconds " << seconds << "\n";
    return out.str();
}

MetricsFile::MetricsFile(Call call, FunctionCall& functionCall) {
    VORK_TRACE("MetricsFile::MetricsFile");
    try {
        const std::string folder = BundleApplicatorBase::systemTempFolder() + "/" + kKeptFolderName;
        const std::string kept = folder + "/" + kKeptFileName;
        if (call == Call::Clean) {
            m_sText = text(call, functionCall.log(), functionCall.elapsedSeconds(), readText(kept));
            return;
        }
        m_sText = text(call, functionCall.log(), functionCall.elapsedSeconds(), std::string());
        // Whole or as it was; a record that cannot be written costs a clean
        // the last update's lines, nothing more.
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            VORK_LOG(2, "MetricsFile::MetricsFile: |" << folder << "| cannot be made: " << std::strerror(errno));
        if (VorkSupport::VorkAtomicFile::write(kept, lastUpdateLines(m_sText), true) ==
            VorkSupport::VorkAtomicFile::Outcome::Unchanged)
            VORK_LOG(2, "MetricsFile::MetricsFile: |" << kept << "| could not be written; a clean will not show "
                                                      << "the last update's figures");
    } catch (const std::exception& e) {
        VORK_LOG(2, "MetricsFile::MetricsFile: no metrics taken: " << e.what());
        m_sText.clear();
    }
}

void MetricsFile::write() const {
    VORK_TRACE("MetricsFile::write");
    if (m_sText.empty()) return;
    try {
        const std::string folder = directory();
        Report report;
        if (!writeBounded(folder, m_sText, report)) {
            VORK_LOG(2, "MetricsFile::write: the metrics folder |" << folder << "| did not answer within "
                                                                   << kWriteLimit.count() << " ms; no metrics written");
            return;
        }
        logReport(folder, report);
    } catch (const std::exception& e) {
        VORK_LOG(2, "MetricsFile::write: no metrics written: " << e.what());
    }
}
