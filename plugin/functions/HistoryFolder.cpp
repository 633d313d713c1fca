#include "HistoryFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <vector>

#include "BundleApplicatorBase.h"
#include "FileHandle.h"
#include "VorkAtomicFile.h"
#include "VorkFaultSeam.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkCommon::HistoryLayout;
using VorkSupport::FileHandle;
using VorkSupport::VorkAtomicFile;
using VorkSupport::VorkFaultSeam;

namespace {

// A killed write leaves "<entry>.tmp<8 hex digits>" behind; one this old is
// no write under way.
constexpr std::time_t kStaleSeconds = 600;

bool isStaleTemporary(const std::string& name, const struct stat& status) {
    const std::size_t mark = name.rfind(".tmp");
    if (mark == std::string::npos || !HistoryLayout::parseName(name.substr(0, mark))) return false;
    return S_ISREG(status.st_mode) && status.st_mtime + kStaleSeconds < std::time(nullptr);
}

struct Entry {
    std::string name;
    long long size = 0;
};

} // namespace

std::string HistoryFolder::keep(Call call, std::string answer) {
    try {
        (void)keepIn(BundleApplicatorBase::systemTempFolder(), call, answer);
    } catch (const std::exception& e) {
        VORK_LOG(2, "HistoryFolder::keep: no history entry kept: " << e.what());
    }
    return answer;
}

bool HistoryFolder::keepIn(const std::string& stateFolder, Call call, const std::string& answer) {
    VORK_TRACE("HistoryFolder::keepIn");
    const std::string folder = stateFolder + "/" + HistoryLayout::kFolderName;
    // No answer (the host then sees none either) is nothing to keep.
    if (answer.empty()) return false;
    if (static_cast<long long>(answer.size()) > HistoryLayout::kMaxBytes) {
        VORK_LOG(2, "HistoryFolder::keepIn: an answer of " << answer.size()
                                                           << " bytes is more than the whole history may hold; no "
                                                              "entry kept");
        return false;
    }
    const bool made = ::mkdir(folder.c_str(), 0700) == 0;
    if (!made && errno != EEXIST) {
        VORK_LOG(2, "HistoryFolder::keepIn: cannot make |" << folder << "|: " << std::strerror(errno)
                                                           << "; no entry kept");
        return false;
    }
    if (made && !VorkAtomicFile::syncDirectory(folder))
        VORK_LOG(2, "HistoryFolder::keepIn: |" << folder << "| is made, but could not be made safe on disk");
    // Never through a link, and only a folder of the caller's own: root's
    // history is root's alone.
    FileHandle directory(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    struct stat status {};
    if (!directory.isOpen() || ::fstat(directory.get(), &status) != 0 || status.st_uid != ::geteuid()) {
        VORK_LOG(2, "HistoryFolder::keepIn: |" << folder << "| is no folder of this user's own; no entry kept");
        return false;
    }
    if ((status.st_mode & 077) != 0 && ::fchmod(directory.get(), 0700) != 0) {
        VORK_LOG(2, "HistoryFolder::keepIn: |" << folder << "| cannot be closed to others: " << std::strerror(errno)
                                               << "; no entry kept");
        return false;
    }
    makeRoom(directory.get(), folder, static_cast<long long>(answer.size()));
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string name = folder + "/" + HistoryLayout::entryName(call, now, ::getpid());
        const VorkAtomicFile::Outcome outcome =
            VorkAtomicFile::replace(name, answer, 0600, true, VorkAtomicFile::Existing::Never, false);
        if (outcome == VorkAtomicFile::Outcome::Written) return true;
        if (outcome == VorkAtomicFile::Outcome::NotDurable) {
            VORK_LOG(2, "HistoryFolder::keepIn: |" << name << "| is kept, but could not be made safe on disk");
            return true;
        }
        if (errno != EEXIST) break;
        // Another entry of this very moment: the next nanosecond.
        now.tv_nsec = (now.tv_nsec + 1) % 1000000000L;
    }
    VORK_LOG(2, "HistoryFolder::keepIn: no entry kept in |" << folder << "| (" << std::strerror(errno)
                                                            << "); the call's answer stands");
    return false;
}

void HistoryFolder::makeRoom(int folder, const std::string& name, long long newSize) {
    const int listingFd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (listingFd < 0) return;
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::fdopendir(listingFd), ::closedir);
    if (!listing) {
        ::close(listingFd);
        return;
    }
    std::vector<Entry> entries;
    std::vector<std::string> goners;
    while (const dirent* found = ::readdir(listing.get())) {
        const std::string entry = found->d_name;
        struct stat status {};
        if (::fstatat(folder, entry.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
        // What this writer did not make stays: the reader lists it as
        // unreadable.
        if (HistoryLayout::parseName(entry)) {
            if (S_ISREG(status.st_mode)) entries.push_back({entry, static_cast<long long>(status.st_size)});
        } else if (isStaleTemporary(entry, status)) {
            goners.push_back(entry);
        }
    }
    // Newest first; once one does not fit, it and every older one go.
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.name > b.name; });
    std::size_t kept = 0;
    long long bytes = newSize;
    bool full = false;
    for (const Entry& entry : entries) {
        full = full || kept + 1 >= HistoryLayout::kMaxEntries || bytes + entry.size > HistoryLayout::kMaxBytes;
        if (full) {
            goners.push_back(entry.name);
            continue;
        }
        ++kept;
        bytes += entry.size;
    }
    if (goners.empty()) return;
    std::size_t removed = 0;
    for (const std::string& goner : goners)
        if (VorkFaultSeam::unlinkAt(folder, goner) == 0) ++removed;
    if (VorkFaultSeam::fsync(folder) != 0)
        VORK_LOG(2, "HistoryFolder::makeRoom: the removals in |" << name << "| could not be made safe on disk");
    VORK_LOG(3, "HistoryFolder::makeRoom: " << removed << " of " << goners.size() << " old files removed from |" << name
                                            << "|");
}
