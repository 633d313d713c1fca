#include "BundlePlan.h"

#include <unistd.h>

#include <algorithm>

#include "AnswerDocument.h"
#include "ControlText.h"
#include "StatusCode.h"
#include "XmlDocument.h"

namespace {

// The answer's entry of a plan entry: by release id, else by the file
// name the absolute path ends with.
const AnswerDocument::Package* entryOf(const AnswerDocument& answer, const BundlePlan::Entry& entry) {
    for (const AnswerDocument::Package& package : answer.packages) {
        if (!entry.releaseId.empty()) {
            if (package.releaseId == entry.releaseId) return &package;
            continue;
        }
        const std::string& path = package.path;
        if (path.size() > entry.path.size() &&
            path.compare(path.size() - entry.path.size(), std::string::npos, entry.path) == 0 &&
            path[path.size() - entry.path.size() - 1] == '/')
            return &package;
    }
    return nullptr;
}

const char* yesNo(bool value) { return value ? "yes" : "no"; }

std::string shown(const std::string& text) { return VorkCommon::ControlText::forTerminal(text); }

} // namespace

BundlePlan BundlePlan::read(const std::string& definitionFile) {
    BundlePlan plan;
    const XmlDocument document = XmlDocument::fromFile(definitionFile);
    xmlNodePtr root = document.root();
    if (!XmlDocument::named(root, "SoftwareBundle")) return plan;
    plan.m_bValid = true;
    plan.m_bSignatureFile = ::access((definitionFile + ".p7s").c_str(), F_OK) == 0;
    xmlNodePtr contents = XmlDocument::firstChild(root, "Contents");
    for (xmlNodePtr node = contents != nullptr ? contents->children : nullptr; node != nullptr; node = node->next) {
        if (!XmlDocument::named(node, "Package")) continue;
        Entry entry;
        entry.releaseId = XmlDocument::attribute(node, "releaseID");
        entry.path = XmlDocument::attribute(node, "path");
        entry.type = XmlDocument::attribute(node, "packageType");
        entry.timeout = XmlDocument::attribute(node, "timeout");
        entry.hasDigest = XmlDocument::hasAttribute(node, "sha256");
        plan.m_entries.push_back(std::move(entry));
    }
    return plan;
}

void BundlePlan::render(std::FILE* out, const AnswerDocument& validation, const std::string& defaultTimeout) const {
    std::vector<std::vector<std::string>> rows = {
        {"#", "release id", "package", "kind", "plan", "digest", "time limit"}};
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        const AnswerDocument::Package* found = entryOf(validation, entry);
        const std::string kind = AnswerDocument::kindOf(entry.path, entry.type);
        std::string plan = kind == "gz" ? "skip" : "run";
        std::string digest = entry.hasDigest ? "verified" : "none";
        if (found != nullptr && found->refused()) {
            plan = "refused";
            digest = entry.hasDigest ? "mismatch" : "required";
        } else if (found != nullptr && found->state == "missing") {
            plan = "missing";
            if (entry.hasDigest) digest = "unchecked";
        }
        const std::string& timeout = entry.timeout.empty() ? defaultTimeout : entry.timeout;
        // What the definition names is shown, never obeyed, by the terminal.
        rows.push_back({std::to_string(i + 1), entry.releaseId.empty() ? "-" : shown(entry.releaseId),
                        shown(entry.path), kind, plan, digest, timeout.empty() ? "none" : shown(timeout) + " s"});
    }
    std::vector<std::size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::string signature = m_bSignatureFile ? "signed" : "unsigned";
    // A refused signature stops the validation before the bundle is read.
    if (validation.status == StatusCode::IntegrityFailed && !validation.hasValidation) signature = "refused";
    if (validation.hasValidation)
        std::fprintf(out, "applies to this system: %s, to this OS: %s; signature: %s\n",
                     yesNo(validation.systemSupported), yesNo(validation.osSupported), signature.c_str());
    else std::fprintf(out, "not checked against this system; signature: %s\n", signature.c_str());
    const std::string& message = validation.message.empty() ? std::string("Success") : validation.message;
    std::fprintf(out, "verdict: status %ld, %s\n", validation.status, shown(message).c_str());
}
