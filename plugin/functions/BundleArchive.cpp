#include "BundleArchive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkWriteAll.h"

using VorkSupport::FileHandle;

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

std::atomic<BundleArchive::SpaceProbe> g_spaceProbe{nullptr};

bool spaceOf(const std::string& directory, std::uint64_t& freeBytes, std::uint64_t& totalBytes) {
    struct statvfs status {};
    if (::statvfs(directory.c_str(), &status) != 0) return false;
    freeBytes = static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
    totalBytes = static_cast<std::uint64_t>(status.f_blocks) * status.f_frsize;
    return true;
}

// The safe parts of a stored name: both separators split it, and empty, "."
// and ".." parts are dropped, so nothing can land outside the target.
std::vector<std::string> safeParts(const std::string& name) {
    std::vector<std::string> parts;
    std::string part;
    auto flush = [&]() {
        if (!part.empty() && part != "." && part != "..") parts.push_back(part);
        part.clear();
    };
    for (char c : name) {
        if (c == '/' || c == '\\') flush();
        else part += c;
    }
    flush();
    return parts;
}

// Opens (creating when missing) the directory parts [0, count) below root,
// never following a symbolic link.
FileHandle openDirectoryChain(int rootFd, const std::vector<std::string>& parts, std::size_t count) {
    FileHandle current(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (!current.isOpen()) return current;
    for (std::size_t i = 0; i < count; ++i) {
        if (::mkdirat(current.get(), parts[i].c_str(), 0700) != 0 && errno != EEXIST) return FileHandle();
        FileHandle next(::openat(current.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isOpen()) return FileHandle();
        current = std::move(next);
    }
    return current;
}

} // namespace

void BundleArchive::setSpaceProbe(SpaceProbe probe) { g_spaceProbe.store(probe); }

void BundleArchive::ReaderCloser::operator()(archive* reader) const { archive_read_free(reader); }

BundleArchive::BundleArchive(std::string packageFile) : m_sPackageFile(std::move(packageFile)) {}

BundleArchive::~BundleArchive() = default;

const char* BundleArchive::readerError() const {
    const char* text = archive_error_string(m_reader.get());
    return text != nullptr ? text : "";
}

bool BundleArchive::extractTo(const std::string& directory) {
    VORK_TRACE("BundleArchive::extractTo");
    m_buffer.resize(kBlockSize);
    if (!open(directory) || !measure() || !roomFor(directory) || !openReader()) return false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int rc = archive_read_next_header(m_reader.get(), &entry);
        if (rc == ARCHIVE_EOF) return true;
        if (rc != ARCHIVE_OK) {
            VORK_LOG(1, "BundleArchive::extractTo: bad entry header: " << readerError());
            return false;
        }
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName != nullptr ? rawName : "";
        if (!admit(entry, name) || !extractEntry(entry, name)) return false;
    }
}

bool BundleArchive::open(const std::string& directory) {
    // O_NONBLOCK: a pipe in the package's place must not hang the update.
    m_package = FileHandle(m_sPackageFile, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat status {};
    if (!m_package.isOpen() || ::fstat(m_package.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        VORK_LOG(1, "BundleArchive::open: |" << m_sPackageFile << "| is not a readable regular file");
        return false;
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return false;
    m_root = FileHandle(directory, O_RDONLY | O_DIRECTORY);
    return m_root.isOpen();
}

bool BundleArchive::openReader() {
    m_reader.reset(archive_read_new());
    if (!m_reader || ::lseek(m_package.get(), 0, SEEK_SET) != 0) return false;
    archive_read_support_format_zip(m_reader.get());
    if (archive_read_open_fd(m_reader.get(), m_package.get(), kBlockSize) != ARCHIVE_OK) {
        VORK_LOG(1, "BundleArchive::openReader: cannot open |" << m_sPackageFile << "|: " << readerError());
        return false;
    }
    return true;
}

bool BundleArchive::measure() {
    if (!openReader()) return false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int rc = archive_read_next_header(m_reader.get(), &entry);
        if (rc == ARCHIVE_EOF) return true;
        if (rc != ARCHIVE_OK) {
            VORK_LOG(1, "BundleArchive::measure: bad entry header: " << readerError());
            return false;
        }
        if (m_nNeeded > kMaxExtractedBytes) continue; // refused anyway, as the extraction shows
        if (archive_entry_size_is_set(entry)) {
            if (archive_entry_size(entry) > 0) m_nNeeded += static_cast<std::uint64_t>(archive_entry_size(entry));
            continue;
        }
        la_ssize_t got;
        while ((got = archive_read_data(m_reader.get(), m_buffer.data(), m_buffer.size())) > 0)
            m_nNeeded += static_cast<std::uint64_t>(got);
        if (got < 0) {
            VORK_LOG(1, "BundleArchive::measure: cannot read an entry: " << readerError());
            return false;
        }
    }
}

bool BundleArchive::roomFor(const std::string& directory) {
    std::uint64_t freeBytes = 0;
    std::uint64_t totalBytes = 0;
    const SpaceProbe probe = g_spaceProbe.load();
    if (!(probe != nullptr ? probe(directory, freeBytes, totalBytes) : spaceOf(directory, freeBytes, totalBytes))) {
        VORK_LOG(1, "BundleArchive::roomFor: the free space of |" << directory << "| cannot be had");
        return false;
    }
    const std::uint64_t reserve = std::max(totalBytes / 20, kMinFreeBytes);
    if (freeBytes < reserve || m_nNeeded > freeBytes - reserve) {
        VORK_LOG(1, "BundleArchive::roomFor: |" << m_sPackageFile << "| holds " << m_nNeeded
                                                << " bytes; the file system of |" << directory << "| has " << freeBytes
                                                << " of " << totalBytes << " bytes free, and " << reserve
                                                << " must stay free: not extracted");
        return false;
    }
    m_nRoom = freeBytes - reserve;
    return true;
}

bool BundleArchive::admit(archive_entry* entry, const std::string& name) {
    if (++m_nEntries > kMaxEntries) {
        VORK_LOG(1, "BundleArchive::admit: more than " << kMaxEntries << " entries");
        return false;
    }
    if (archive_entry_is_encrypted(entry)) {
        VORK_LOG(1, "BundleArchive::admit: encrypted entry |" << name << "| not extracted");
        return false;
    }
    if (archive_entry_hardlink(entry) != nullptr) {
        VORK_LOG(1, "BundleArchive::admit: link entry |" << name << "| not created");
        return false;
    }
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0) {
        const auto declared = static_cast<std::uint64_t>(archive_entry_size(entry));
        if (declared > kMaxExtractedBytes || m_nExtractedBytes + declared > kMaxExtractedBytes) {
            VORK_LOG(1, "BundleArchive::admit: archive too large at |" << name << "|");
            return false;
        }
    }
    return true;
}

bool BundleArchive::extractEntry(archive_entry* entry, const std::string& name) {
    const std::vector<std::string> parts = safeParts(name);
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR) {
        if (!parts.empty() && !openDirectoryChain(m_root.get(), parts, parts.size()).isOpen()) {
            VORK_LOG(1, "BundleArchive::extractEntry: cannot create directory |" << name << "|");
            return false;
        }
        return true;
    }
    if (type != AE_IFREG) {
        VORK_LOG(1, "BundleArchive::extractEntry: entry |" << name << "| is not a file or directory, not created");
        return false;
    }
    if (parts.empty()) {
        VORK_LOG(1, "BundleArchive::extractEntry: entry without a usable name |" << name << "|");
        return false;
    }
    return extractFile(entry, name, parts);
}

bool BundleArchive::extractFile(archive_entry* entry, const std::string& name, const std::vector<std::string>& parts) {
    const FileHandle parent = openDirectoryChain(m_root.get(), parts, parts.size() - 1);
    if (!parent.isOpen()) {
        VORK_LOG(1, "BundleArchive::extractFile: cannot create the directory of |" << name << "|");
        return false;
    }
    const mode_t mode = (archive_entry_perm(entry) & 0777) | 0600;
    const FileHandle file(
        ::openat(parent.get(), parts.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!file.isOpen()) {
        VORK_LOG(1, "BundleArchive::extractFile: cannot create |" << name << "|");
        return false;
    }
    // A file that was there keeps its old mode when this fails: no harm, it
    // is ours and private to the extraction directory.
    (void)::fchmod(file.get(), mode);
    return copyData(file.get(), name);
}

bool BundleArchive::copyData(int fd, const std::string& name) {
    for (;;) {
        const la_ssize_t got = archive_read_data(m_reader.get(), m_buffer.data(), m_buffer.size());
        if (got == 0) return true;
        if (got < 0) {
            VORK_LOG(1, "BundleArchive::copyData: cannot read |" << name << "|: " << readerError());
            return false;
        }
        m_nExtractedBytes += static_cast<std::uint64_t>(got);
        if (m_nExtractedBytes > kMaxExtractedBytes || m_nExtractedBytes > m_nRoom) {
            VORK_LOG(1, "BundleArchive::copyData: archive too large at |" << name << "|");
            return false;
        }
        if (!VorkSupport::VorkWriteAll(fd, m_buffer.data(), static_cast<std::size_t>(got))) {
            VORK_LOG(1, "BundleArchive::copyData: cannot write |" << name << "|");
            return false;
        }
    }
}
