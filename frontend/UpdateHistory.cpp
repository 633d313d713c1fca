#include "UpdateHistory.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <nlohmann/json.hpp>

#include "AnswerDocument.h"
#include "AnswerJson.h"
#include "VorkPlatform.h"
#include "XmlDocument.h"
#include "XmlOwnership.h"

namespace {

const char* const kInternalLog = "BAUpdate.xml";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The status log of a final log file, as its text.
std::string logText(const std::string& path) {
    const XmlDocument document = XmlDocument::fromFile(path);
    if (!XmlDocument::named(document.root(), "BundleLog")) return std::string();
    const XmlBuffer buffer(xmlBufferCreate());
    if (buffer == nullptr) return std::string();
    xmlNodeDump(buffer.get(), nullptr, document.root(), 0, 0);
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())));
}

std::string utcText(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// Newest first: by the log's own time, else the file's, and within one
// second by when the file was last written.
struct SortKey {
    std::string date;
    long long written = 0;
    bool operator>(const SortKey& other) const {
        return date != other.date ? date > other.date : written > other.written;
    }
};

UpdateHistory::Row rowOf(const std::string& folder, const std::string& name, SortKey& sortKey) {
    UpdateHistory::Row row;
    row.file = folder + "/" + name;
    struct stat status {};
    if (::lstat(row.file.c_str(), &status) == 0) {
        sortKey.date = utcText(status.st_mtime);
        sortKey.written = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
    }
    row.updateId = name.substr(0, name.size() - 4);
    const AnswerDocument log = AnswerDocument::parse(logText(row.file));
    if (!log.valid || !log.hasStatus) return row;
    row.readable = true;
    if (!log.updateId.empty()) row.updateId = log.updateId;
    row.date = log.dateTime;
    if (!row.date.empty()) sortKey.date = row.date;
    row.status = log.status;
    row.message = log.message;
    row.run = log.countRun();
    row.failed = log.countFailed();
    row.skipped = log.countSkipped();
    row.missing = log.countMissing();
    row.restarts = log.rebootCount;
    return row;
}

} // namespace

std::string UpdateHistory::folder() {
    const char* windir = std::getenv("windir");
    if (windir != nullptr && *windir != '\0') return std::string(windir) + "/TEMP";
    return VorkSupport::VorkPlatform::stateDirectory() + "/TEMP";
}

bool UpdateHistory::read(const std::string& folder) {
    m_rows.clear();
    std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), ::closedir);
    if (!directory) {
        if (errno == ENOENT) return true;
        m_sError = "cannot read the state folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::pair<SortKey, Row>> found;
    while (dirent* entry = ::readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (!endsWith(name, ".xml") || name == kInternalLog) continue;
        SortKey sortKey;
        Row row = rowOf(folder, name, sortKey);
        found.emplace_back(sortKey, std::move(row));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first > b.first) return true;
        if (b.first > a.first) return false;
        return a.second.file < b.second.file;
    });
    for (auto& [key, row] : found) m_rows.push_back(std::move(row));
    return true;
}

void UpdateHistory::print(std::FILE* out) const {
    if (m_rows.empty()) {
        std::fputs("no update history\n", out);
        return;
    }
    std::vector<std::vector<std::string>> table = {
        {"update id", "date", "status", "run", "failed", "skipped", "restarts", "message"}};
    for (const Row& row : m_rows) {
        if (!row.readable) {
            table.push_back({row.updateId, "-", "unreadable", "-", "-", "-", "-", row.file});
            continue;
        }
        table.push_back({row.updateId, row.date, std::to_string(row.status), std::to_string(row.run),
                         std::to_string(row.failed), std::to_string(row.skipped), std::to_string(row.restarts),
                         row.message.empty() ? "Success" : row.message});
    }
    std::vector<std::size_t> widths(table[0].size(), 0);
    for (const auto& line : table)
        for (std::size_t c = 0; c < line.size(); ++c) widths[c] = std::max(widths[c], line[c].size());
    for (const auto& line : table) {
        std::string text;
        for (std::size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size()) text += std::string(widths[c] - line[c].size() + 2, ' ');
        }
        std::fprintf(out, "%s\n", text.c_str());
    }
}

std::string UpdateHistory::json(int exitCode) const {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const Row& row : m_rows) {
        nlohmann::ordered_json item = {{"file", row.file}, {"update_id", row.updateId}, {"readable", row.readable}};
        if (row.readable) {
            item["date"] = row.date;
            item["status"] = row.status;
            item["message"] = row.message;
            item["run"] = row.run;
            item["failed"] = row.failed;
            item["skipped"] = row.skipped;
            item["missing"] = row.missing;
            item["restarts"] = row.restarts;
        }
        rows.push_back(item);
    }
    const nlohmann::ordered_json object = {{"history", rows}, {"exit_code", AnswerJson::shellStatus(exitCode)}};
    return object.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}
