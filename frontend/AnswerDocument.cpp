#include "AnswerDocument.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "StatusCode.h"
#include "XmlDocument.h"

namespace {

const char* const statusMarker = "<SMStatus result=\"";

bool equalsNoCase(const std::string& left, const std::string& right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

bool endsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && equalsNoCase(text.substr(text.size() - end.size()), end);
}

long number(const std::string& text) { return std::strtol(text.c_str(), nullptr, 10); }

AnswerDocument::Attributes attributesOf(xmlNodePtr node) {
    AnswerDocument::Attributes attributes;
    if (node == nullptr) return attributes;
    for (xmlAttrPtr attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
        const char* name = reinterpret_cast<const char*>(attribute->name);
        attributes.emplace_back(name, XmlDocument::attribute(node, name));
    }
    return attributes;
}

std::string find(const AnswerDocument::Attributes& attributes, const std::string& name) {
    for (const auto& [key, value] : attributes)
        if (key == name) return value;
    return std::string();
}

AnswerDocument::Package packageOf(xmlNodePtr node) {
    AnswerDocument::Package package;
    package.releaseId = XmlDocument::attribute(node, "releaseID");
    package.path = XmlDocument::attribute(node, "path");
    package.type = XmlDocument::attribute(node, "packageType");
    package.installParams = XmlDocument::attribute(node, "installparams");
    package.updateOnly = XmlDocument::attribute(node, "updateonly");
    xmlNodePtr status = XmlDocument::firstChild(node, "Status");
    package.state = XmlDocument::attribute(status, "state");
    package.hasCode = XmlDocument::hasAttribute(status, "code");
    package.code = number(XmlDocument::attribute(status, "code"));
    package.hasStatus = XmlDocument::hasAttribute(status, "status");
    package.status = number(XmlDocument::attribute(status, "status"));
    package.command = XmlDocument::text(XmlDocument::firstChild(node, "ExeCmd"));
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next) {
        if (!XmlDocument::named(child, "PkgLog")) continue;
        AnswerDocument::Log log;
        log.code = number(XmlDocument::attribute(child, "code"));
        log.hasOsErrorCode = XmlDocument::hasAttribute(child, "osErrCode");
        log.osErrorCode = number(XmlDocument::attribute(child, "osErrCode"));
        log.text = XmlDocument::text(child);
        package.logs.push_back(std::move(log));
    }
    return package;
}

} // namespace

std::string AnswerDocument::kindOf(const std::string& path, const std::string& packageType) {
    if (!packageType.empty()) {
        if (equalsNoCase(packageType, "gz")) return "gz";
        if (equalsNoCase(packageType, "msi")) return "msi";
        if (equalsNoCase(packageType, "msp")) return "msp";
        return "qpk";
    }
    if (endsWithNoCase(path, ".msp")) return "msp";
    if (endsWithNoCase(path, ".msi")) return "msi";
    if (endsWithNoCase(path, ".tar.gz")) return "gz";
    return "qpk";
}

std::string AnswerDocument::Package::kind() const { return kindOf(path, type); }

bool AnswerDocument::Package::refused() const {
    return state == "missing" && std::any_of(logs.begin(), logs.end(),
                                             [](const Log& log) { return log.code == StatusCode::IntegrityFailed; });
}

bool AnswerDocument::Package::failed() const {
    // Status number 5 is a failing result: a program that failed or did not
    // end properly. An exit code that no table knows counts as done, as the
    // run counts it.
    return refused() || (state == "complete" && hasStatus && status == 5);
}

std::string AnswerDocument::Package::fileName() const {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

AnswerDocument AnswerDocument::parse(const std::string& text) {
    AnswerDocument answer;
    const std::size_t marker = text.find(statusMarker);
    if (marker != std::string::npos) {
        answer.hasStatus = true;
        answer.status = std::strtol(text.c_str() + marker + std::strlen(statusMarker), nullptr, 10);
    }
    const XmlDocument document = XmlDocument::fromText(text);
    xmlNodePtr root = document.root();
    if (!XmlDocument::named(root, "BundleLog")) return answer;
    answer.valid = true;
    answer.dateTime = XmlDocument::attribute(root, "dateTime");
    answer.updateId = XmlDocument::attribute(root, "update-id");
    answer.installParams = XmlDocument::attribute(root, "install-params");
    for (xmlNodePtr child = root->children; child != nullptr; child = child->next) {
        if (XmlDocument::named(child, "SMStatus")) {
            if (!answer.message.empty() || answer.statusNumber >= 0) continue;
            answer.message = XmlDocument::text(child);
            if (XmlDocument::hasAttribute(child, "status"))
                answer.statusNumber = static_cast<int>(number(XmlDocument::attribute(child, "status")));
        } else if (XmlDocument::named(child, "BundleSettings")) {
            answer.hasSettings = true;
            answer.settings = attributesOf(child);
            answer.bundle = attributesOf(XmlDocument::firstChild(child, "Bundle"));
            answer.bundlePackage =
                XmlDocument::attribute(XmlDocument::firstChild(child, "BundlePackage"), "bundle-package");
        } else if (XmlDocument::named(child, "Validation")) {
            answer.hasValidation = true;
            answer.systemSupported = XmlDocument::attribute(child, "system-supported") == "true";
            answer.osSupported = XmlDocument::attribute(child, "os-supported") == "true";
            for (xmlNodePtr line = child->children; line != nullptr; line = line->next) {
                if (!XmlDocument::named(line, "Integrity")) continue;
                answer.integrity.push_back({XmlDocument::attribute(line, "releaseID"),
                                            XmlDocument::attribute(line, "path"), XmlDocument::text(line)});
            }
        } else if (XmlDocument::named(child, "Progress")) {
            answer.hasProgress = true;
            answer.progress = static_cast<int>(number(XmlDocument::attribute(child, "value")));
        } else if (XmlDocument::named(child, "rebootCount")) {
            answer.rebootCount = static_cast<int>(number(XmlDocument::attribute(child, "rebootCount")));
        } else if (XmlDocument::named(child, "Package")) {
            answer.packages.push_back(packageOf(child));
        }
    }
    return answer;
}

std::string AnswerDocument::setting(const std::string& name) const { return find(settings, name); }

std::string AnswerDocument::bundleAttribute(const std::string& name) const { return find(bundle, name); }

bool AnswerDocument::running() const {
    return std::any_of(packages.begin(), packages.end(),
                       [](const Package& package) { return package.state == "in-progress"; });
}

int AnswerDocument::countRun() const {
    return static_cast<int>(std::count_if(packages.begin(), packages.end(),
                                          [](const Package& package) { return package.state == "complete"; }));
}

int AnswerDocument::countFailed() const {
    return static_cast<int>(
        std::count_if(packages.begin(), packages.end(), [](const Package& package) { return package.failed(); }));
}

int AnswerDocument::countSkipped() const {
    return static_cast<int>(std::count_if(packages.begin(), packages.end(),
                                          [](const Package& package) { return package.state == "skipped"; }));
}

int AnswerDocument::countMissing() const {
    return static_cast<int>(std::count_if(packages.begin(), packages.end(), [](const Package& package) {
        return package.state == "missing" && !package.refused();
    }));
}
