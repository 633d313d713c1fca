#include "MetricsFile.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "BAXMLDoc.h"
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

std::string readText(const std::string& name) {
    std::ifstream file(name);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
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

} // namespace

std::string MetricsFile::directory() {
    const char* directory = std::getenv("PLIMO_METRICS_DIR");
    return directory != nullptr && *directory != '\0' ? directory : kDefaultDirectory;
}

std::string MetricsFile::text(Call call, BAXMLDoc& statusLog, double seconds, const std::string& previous) {
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
        out << lastUpdateLines(previous);
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

void MetricsFile::record(Call call, FunctionCall& functionCall) {
    VORK_TRACE("MetricsFile::record");
    try {
        const std::string folder = directory();
        struct stat status {};
        if (::stat(folder.c_str(), &status) != 0) return;
        if (!S_ISDIR(status.st_mode)) {
            VORK_LOG(2, "MetricsFile::record: |" << folder << "| is no directory; no metrics written");
            return;
        }
        const std::string name = folder + "/" + kFileName;
        const std::string content =
            text(call, functionCall.log(), functionCall.elapsedSeconds(), call == Call::Clean ? readText(name) : "");
        if (VorkSupport::VorkAtomicFile::write(name, content, false) == VorkSupport::VorkAtomicFile::Outcome::Unchanged)
            VORK_LOG(2, "MetricsFile::record: |" << name << "| could not be written; the call's result stands");
    } catch (const std::exception& e) {
        VORK_LOG(2, "MetricsFile::record: no metrics written: " << e.what());
    }
}
