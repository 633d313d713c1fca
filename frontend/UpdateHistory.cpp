#include "UpdateHistory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

#include <nlohmann/json.hpp>

#include "AnswerJson.h"
#include "FileHandle.h"
#include "HistoryLayout.h"
#include "HistoryRecord.h"
#include "ProgressView.h"
#include "StatusCode.h"
#include "VorkPlatform.h"

using VorkCommon::HistoryLayout;

namespace {

const char* const kInternalLog = "BAUpdate.xml";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string utcText(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string orDash(const std::string& text) { return text.empty() ? "-" : text; }

// Newest first: by the log's own time, else the file's, and within one
// second by when the file was written (an entry's name says it exactly).
struct SortKey {
    std::string date;
    long long written = 0;
    bool operator>(const SortKey& other) const {
        return date != other.date ? date > other.date : written > other.written;
    }
};

struct Found {
    SortKey key;
    UpdateHistory::Row row;
    // Of the history folder: the call, and the time its name tells.
    bool entry = false;
    HistoryLayout::Call call = HistoryLayout::Call::Update;
    std::string when;
    bool dropped = false;
};

// The nanoseconds since the epoch of an entry name's time.
long long nanosecondsOf(const std::string& when) {
    std::tm utc{};
    utc.tm_year = std::atoi(when.substr(0, 4).c_str()) - 1900;
    utc.tm_mon = std::atoi(when.substr(4, 2).c_str()) - 1;
    utc.tm_mday = std::atoi(when.substr(6, 2).c_str());
    utc.tm_hour = std::atoi(when.substr(9, 2).c_str());
    utc.tm_min = std::atoi(when.substr(11, 2).c_str());
    utc.tm_sec = std::atoi(when.substr(13, 2).c_str());
    return static_cast<long long>(timegm(&utc)) * 1000000000LL + std::atoll(when.substr(16, 9).c_str());
}

// The file's own time, for a log that tells none.
void stamp(int directory, const std::string& name, Found& found) {
    struct stat status {};
    if (::fstatat(directory, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return;
    found.key.date = utcText(status.st_mtime);
    found.key.written = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec;
}

void fill(Found& found, const HistoryRecord& record) {
    if (!record.readable) return;
    static_cast<HistoryRecord&>(found.row) = record;
    if (!record.date.empty()) found.key.date = record.date;
}

std::unique_ptr<DIR, int (*)(DIR*)> listingOf(int directory) {
    const int fd = ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    std::unique_ptr<DIR, int (*)(DIR*)> listing(fd >= 0 ? ::fdopendir(fd) : nullptr, ::closedir);
    if (!listing && fd >= 0) ::close(fd);
    return listing;
}

// The remains of a killed write of an entry ("<entry>.tmp<8 hex digits>"):
// no entry, and the next write removes them.
bool isTemporary(const std::string& name) {
    const std::size_t mark = name.rfind(".tmp");
    return mark != std::string::npos && name.size() == mark + 12 && HistoryLayout::parseName(name.substr(0, mark));
}

// The entries of the history folder. A folder that is not the caller's own
// and closed to others' writes is one unreadable row, its files unread.
void readEntries(const std::string& stateFolder, std::vector<Found>& found) {
    const std::string folder = stateFolder + "/" + HistoryLayout::kFolderName;
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0 && errno == ENOENT) return;
    const VorkSupport::FileHandle directory(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK);
    std::unique_ptr<DIR, int (*)(DIR*)> listing(nullptr, ::closedir);
    if (directory.isOpen()) listing = listingOf(directory.get());
    if (!listing || ::fstat(directory.get(), &status) != 0 || status.st_uid != ::geteuid() ||
        (status.st_mode & 022) != 0) {
        Found unreadable;
        unreadable.row.file = folder;
        stamp(AT_FDCWD, folder, unreadable);
        found.push_back(unreadable);
        return;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || isTemporary(name)) continue;
        Found one;
        one.entry = true;
        one.row.file = folder + "/" + name;
        stamp(directory.get(), name, one);
        // A file of another name is none of the writer's: never read.
        if (const auto parsed = HistoryLayout::parseName(name)) {
            one.call = parsed->call;
            one.when = parsed->when;
            one.key.written = nanosecondsOf(parsed->when);
            fill(one, HistoryRecord::open(directory.get(), name, false));
        }
        found.push_back(std::move(one));
    }
}

bool waits(long status) { return status == StatusCode::Rebooting || status == StatusCode::RebootingToResume; }

// The calls of one update become one row, the newest: an update that waits
// for a restart goes on in the resumes of its update id that follow it, and
// ends in the first that does not wait again. Every other entry is a row.
std::vector<Found> oneRowPerUpdate(std::vector<Found> entries) {
    std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) { return a.when < b.when; });
    std::vector<Found> rows;
    std::size_t waiting = 0; // the row that waits, + 1; 0 for none
    for (Found& entry : entries) {
        const bool known = entry.row.readable && !entry.when.empty();
        const bool goesOn = known && entry.call == HistoryLayout::Call::Resume && waiting > 0 &&
                            rows[waiting - 1].row.updateId == entry.row.updateId;
        const bool ran =
            known && entry.call == HistoryLayout::Call::Update && entry.row.status != StatusCode::UpdateInProgress;
        if (goesOn) rows[waiting - 1] = std::move(entry);
        else rows.push_back(std::move(entry));
        if (goesOn || ran) waiting = waits(rows.back().row.status) ? (goesOn ? waiting : rows.size()) : 0;
    }
    return rows;
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
    std::vector<Found> finalLogs;
    while (dirent* entry = ::readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (!endsWith(name, ".xml") || name == kInternalLog) continue;
        Found one;
        one.row.file = folder + "/" + name;
        stamp(::dirfd(directory.get()), name, one);
        fill(one, HistoryRecord::open(::dirfd(directory.get()), name, false));
        // A final log is named after its update.
        if (one.row.updateId.empty()) one.row.updateId = name.substr(0, name.size() - 4);
        finalLogs.push_back(std::move(one));
    }
    std::vector<Found> entries;
    readEntries(folder, entries);
    std::vector<Found> found = oneRowPerUpdate(std::move(entries));
    // The entry of the answer that a final log keeps is that final log.
    for (const Found& log : finalLogs) {
        for (Found& row : found) {
            if (row.entry && log.row.readable && row.row.readable && row.row.updateId == log.row.updateId &&
                row.row.date == log.row.date && row.row.status == log.row.status)
                row.dropped = true;
        }
    }
    found.erase(std::remove_if(found.begin(), found.end(), [](const Found& one) { return one.dropped; }), found.end());
    found.insert(found.end(), finalLogs.begin(), finalLogs.end());
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.key > b.key) return true;
        if (b.key > a.key) return false;
        return a.row.file < b.row.file;
    });
    for (Found& one : found) m_rows.push_back(std::move(one.row));
    return true;
}

const UpdateHistory::Row* UpdateHistory::find(const std::string& updateId) const {
    for (const Row& row : m_rows)
        if (row.readable && row.updateId == updateId) return &row;
    return nullptr;
}

namespace {

void printTable(std::FILE* out, const std::vector<std::vector<std::string>>& table) {
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

nlohmann::ordered_json rowJson(const UpdateHistory::Row& row) {
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
    return item;
}

std::string dump(const nlohmann::ordered_json& object) {
    return object.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

const AnswerDocument::Log* lastLog(const HistoryRecord::Package& package) {
    return package.entry.logs.empty() ? nullptr : &package.entry.logs.back();
}

// The outcome in words; the view's words, with the package alone.
std::string resultOf(const HistoryRecord::Package& package) {
    AnswerDocument one;
    one.packages.push_back(package.entry);
    return ProgressView::outcome(one, 0);
}

} // namespace

void UpdateHistory::print(std::FILE* out) const {
    if (m_rows.empty()) {
        std::fputs("no update history\n", out);
        return;
    }
    std::vector<std::vector<std::string>> table = {
        {"update id", "date", "status", "run", "failed", "skipped", "restarts", "message"}};
    for (const Row& row : m_rows) {
        if (!row.readable) {
            table.push_back({orDash(row.updateId), "-", "unreadable", "-", "-", "-", "-", row.file});
            continue;
        }
        table.push_back({orDash(row.updateId), orDash(row.date), std::to_string(row.status), std::to_string(row.run),
                         std::to_string(row.failed), std::to_string(row.skipped), std::to_string(row.restarts),
                         row.message.empty() ? "Success" : row.message});
    }
    printTable(out, table);
}

std::string UpdateHistory::json(int exitCode) const {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const Row& row : m_rows) rows.push_back(rowJson(row));
    return dump({{"history", rows}, {"exit_code", AnswerJson::shellStatus(exitCode)}});
}

void UpdateHistory::printUpdate(std::FILE* out, const Row& row, const HistoryRecord& record) {
    std::fprintf(out, "update id  %s\nfile       %s\ndate       %s\nstatus     %ld %s\n", orDash(row.updateId).c_str(),
                 row.file.c_str(), row.date.c_str(), row.status, row.message.empty() ? "Success" : row.message.c_str());
    std::fprintf(out, "packages   %d run, %d failed, %d skipped, %d missing; restarts %d\n", record.run, record.failed,
                 record.skipped, record.missing, record.restarts);
    if (record.packages.empty()) return;
    std::vector<std::vector<std::string>> table = {{"#", "release id", "file", "result", "code", "runs"}};
    for (std::size_t i = 0; i < record.packages.size(); ++i) {
        const HistoryRecord::Package& package = record.packages[i];
        table.push_back({std::to_string(i + 1), orDash(package.entry.releaseId), package.entry.fileName(),
                         resultOf(package), package.entry.hasCode ? std::to_string(package.entry.code) : "-",
                         std::to_string(package.runs)});
    }
    std::fputc('\n', out);
    printTable(out, table);
    if (record.packagesLeftOut > 0) std::fprintf(out, "and %zu packages more\n", record.packagesLeftOut);
    for (std::size_t i = 0; i < record.packages.size(); ++i) {
        const AnswerDocument::Log* log = lastLog(record.packages[i]);
        if (log == nullptr || log->text.empty()) continue;
        std::fprintf(out, "\n[%zu] %s, last log:\n", i + 1, record.packages[i].entry.fileName().c_str());
        std::string text = log->text;
        if (text.back() != '\n') text += '\n';
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            std::fprintf(out, "    %s\n", text.substr(start, end - start).c_str());
    }
}

std::string UpdateHistory::updateJson(const Row& row, const HistoryRecord& record, int exitCode) {
    nlohmann::ordered_json update = rowJson(row);
    nlohmann::ordered_json packages = nlohmann::ordered_json::array();
    for (const HistoryRecord::Package& package : record.packages) {
        const AnswerDocument::Log* log = lastLog(package);
        packages.push_back({{"release_id", package.entry.releaseId},
                            {"path", package.entry.path},
                            {"kind", package.entry.kind()},
                            {"state", package.entry.state},
                            {"result", resultOf(package)},
                            {"code", package.entry.hasCode ? nlohmann::ordered_json(package.entry.code) : nullptr},
                            {"runs", package.runs},
                            {"last_log", log != nullptr ? log->text : std::string()}});
    }
    update["packages"] = packages;
    update["packages_left_out"] = record.packagesLeftOut;
    return dump({{"update", update}, {"exit_code", AnswerJson::shellStatus(exitCode)}});
}
