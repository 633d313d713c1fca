#include "VorkAtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "FileHandle.h"
#include "VorkFaultSeam.h"
#include "VorkLogRecord.h"
#include "VorkWriteAll.h"

namespace VorkSupport {

namespace {

std::atomic<VorkAtomicFile::ReplaceHook> g_replaceHook{nullptr};
std::atomic<VorkAtomicFile::AppendHook> g_appendHook{nullptr};

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// The temporary files of a write are "<name>.tmp" and eight hex digits.
const char* const kTempMark = ".tmp";
constexpr std::size_t kTempDigits = 8;

std::string directoryOf(const std::string& fileName) {
    const std::string::size_type slash = fileName.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return fileName.substr(0, slash);
}

std::string baseNameOf(const std::string& fileName) {
    const std::string::size_type slash = fileName.find_last_of('/');
    return slash == std::string::npos ? fileName : fileName.substr(slash + 1);
}

bool isTemporaryOf(const char* entry, const std::string& base) {
    const std::string prefix = base + kTempMark;
    if (std::strncmp(entry, prefix.c_str(), prefix.size()) != 0) return false;
    const char* digits = entry + prefix.size();
    if (std::strlen(digits) != kTempDigits) return false;
    for (const char* c = digits; *c != '\0'; ++c)
        if (std::strchr("0123456789abcdef", *c) == nullptr) return false;
    return true;
}

bool writeAll(int fd, const std::string& content) {
    return VorkWriteAll(fd, content.data(), content.size(), VorkFaultSeam::write);
}

// The file a name stands for: a symbolic link is followed, so the link stays.
bool resolveLink(std::string& fileName) {
    struct stat status;
    if (::lstat(fileName.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return true;
    std::unique_ptr<char, decltype(&std::free)> resolved(realpath(fileName.c_str(), nullptr), &std::free);
    if (!resolved) {
        VORK_LOG(1, "resolveLink: cannot follow link |" << fileName << "|, errno " << errno);
        return false;
    }
    fileName = resolved.get();
    return true;
}

// A device or pipe (such as a terminal the user named as log target) cannot
// be replaced, and must not be: it is written in place.
VorkAtomicFile::Outcome writeInPlace(int directory, const std::string& base, const std::string& content) {
    FileHandle special(::openat(directory, base.c_str(), O_WRONLY | O_TRUNC | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!special.isOpen()) return VorkAtomicFile::Outcome::Unchanged;
    const bool written = writeAll(special.get(), content);
    return special.close() && written ? VorkAtomicFile::Outcome::Written : VorkAtomicFile::Outcome::Unchanged;
}

unsigned randomNumber() {
    unsigned value = 0;
    if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
    return std::random_device{}();
}

// A new file with an unpredictable name beside the target; O_EXCL and
// O_NOFOLLOW keep a planted file or link from being written through.
int createTemporary(int directory, const std::string& base, mode_t mode, std::string& tempName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%s%08x", kTempMark, randomNumber());
        tempName = base + suffix;
        const int fd = VorkFaultSeam::openAt(directory, tempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes, flushes and checks the new file; false when any step fails.
bool fillTemporary(FileHandle& file, const std::string& content) {
    if (!writeAll(file.get(), content)) return false;
    if (VorkFaultSeam::fsync(file.get()) != 0) return false;
    struct stat status;
    if (::fstat(file.get(), &status) != 0 || static_cast<std::size_t>(status.st_size) != content.size()) {
        errno = EIO;
        return false;
    }
    return file.close();
}

// Whether what stands at base may be replaced under the policy; errno tells
// why not.
bool mayReplace(int directory, const std::string& base, VorkAtomicFile::Existing existing) {
    struct stat status {};
    if (::fstatat(directory, base.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    switch (existing) {
        case VorkAtomicFile::Existing::Never: errno = EEXIST; return false;
        case VorkAtomicFile::Existing::OwnedOnly:
            if (S_ISLNK(status.st_mode)) errno = ELOOP;
            else if (!S_ISREG(status.st_mode)) errno = EINVAL;
            else if (status.st_uid != ::geteuid()) errno = EPERM;
            else return true;
            return false;
        case VorkAtomicFile::Existing::Follow: return true;
    }
    return false;
}

// Renames the new file to its name; a policy that never replaces asks the
// file system to refuse, and a file system that cannot is checked first.
bool placeNew(int directory, const std::string& tempName, const std::string& base, bool noReplace) {
    if (!noReplace) return VorkFaultSeam::renameAt(directory, tempName, directory, base, 0) == 0;
    if (VorkFaultSeam::renameAt(directory, tempName, directory, base, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat status;
    if (::fstatat(directory, base.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return VorkFaultSeam::renameAt(directory, tempName, directory, base, 0) == 0;
}

void removeStaleTemporariesAt(int directory, const std::string& base) {
    const int listingFd = ::dup(directory);
    if (listingFd < 0) return;
    std::unique_ptr<DIR, DirectoryCloser> listing(::fdopendir(listingFd));
    if (!listing) {
        ::close(listingFd);
        return;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        if (!isTemporaryOf(entry->d_name, base)) continue;
        VORK_LOG(4, "removeStaleTemporariesAt: removing the remains of a killed write: " << entry->d_name);
        (void)VorkFaultSeam::unlinkAt(directory, entry->d_name);
    }
}

} // namespace

bool VorkAtomicFile::syncDirectory(const std::string& fileName) {
    FileHandle directory(directoryOf(fileName), O_RDONLY | O_DIRECTORY);
    return directory.isOpen() && VorkFaultSeam::fsync(directory.get()) == 0;
}

VorkAtomicFile::Outcome VorkAtomicFile::replace(const std::string& requestedName, const std::string& content,
                                                mode_t mode, bool exact, Existing existing, bool cleanTemporaries) {
    if (requestedName.empty()) return Outcome::Unchanged;
    std::string fileName = requestedName;
    if (existing == Existing::Follow && !resolveLink(fileName)) return Outcome::Unchanged;
    const std::string base = baseNameOf(fileName);
    FileHandle directory(directoryOf(fileName), O_RDONLY | O_DIRECTORY);
    if (!directory.isOpen() || base.empty() || base == "." || base == "..") {
        VORK_LOG(1, "VorkAtomicFile::replace: no directory for |" << fileName << "|, errno " << errno);
        return Outcome::Unchanged;
    }
    if (!mayReplace(directory.get(), base, existing)) {
        VORK_LOG(1, "VorkAtomicFile::replace: |" << fileName << "| is not replaced, errno " << errno);
        return Outcome::Unchanged;
    }
    struct stat status;
    if (existing == Existing::Follow && ::fstatat(directory.get(), base.c_str(), &status, 0) == 0 &&
        !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return writeInPlace(directory.get(), base, content);

    if (cleanTemporaries) removeStaleTemporariesAt(directory.get(), base);
    std::string tempName;
    FileHandle file(createTemporary(directory.get(), base, mode, tempName));
    if (!file.isOpen()) {
        VORK_LOG(1, "VorkAtomicFile::replace: cannot create |" << tempName << "|, errno " << errno);
        return Outcome::Unchanged;
    }
    bool written = (!exact || ::fchmod(file.get(), mode) == 0) && fillTemporary(file, content);
    if (!written) VORK_LOG(1, "VorkAtomicFile::replace: cannot write |" << tempName << "|, errno " << errno);
    const ReplaceHook hook = g_replaceHook.load();
    if (written && hook != nullptr && !hook(directoryOf(fileName) + "/" + tempName, fileName)) written = false;
    if (written && !placeNew(directory.get(), tempName, base, existing == Existing::Never)) {
        VORK_LOG(1, "VorkAtomicFile::replace: cannot place |" << fileName << "|, errno " << errno);
        written = false;
    }
    if (!written) {
        const int error = errno;
        (void)VorkFaultSeam::unlinkAt(directory.get(), tempName);
        errno = error;
        return Outcome::Unchanged;
    }
    // The new file is in place; only a durable rename makes the write whole.
    if (VorkFaultSeam::fsync(directory.get()) != 0) {
        VORK_LOG(1, "VorkAtomicFile::replace: |" << fileName << "| is in place but its directory could not be "
                                                 << "flushed, errno " << errno);
        return Outcome::NotDurable;
    }
    return Outcome::Written;
}

VorkAtomicFile::Outcome VorkAtomicFile::write(const std::string& fileName, const std::string& content,
                                              bool privateFile) {
    if (privateFile) return replace(fileName, content, 0600, false, Existing::Follow, true);
    // A file a user named is never written through a link in its last
    // component and replaced only when it is the caller's own; a device or
    // pipe of the caller's (a terminal named as log target) is written in
    // place.
    struct stat status {};
    if (::lstat(fileName.c_str(), &status) == 0 && !S_ISLNK(status.st_mode) && !S_ISREG(status.st_mode) &&
        !S_ISDIR(status.st_mode) && status.st_uid == ::geteuid())
        return replace(fileName, content, 0666, false, Existing::Follow, false);
    return replace(fileName, content, 0666, false, Existing::OwnedOnly, false);
}

bool VorkAtomicFile::create(const std::string& fileName, const std::string& content, mode_t mode) {
    return replace(fileName, content, mode, true, Existing::Never, false) == Outcome::Written;
}

bool VorkAtomicFile::rename(const std::string& from, const std::string& to) {
    if (VorkFaultSeam::rename(from, to) != 0) return false;
    return VorkAtomicFile::syncDirectory(to);
}

bool VorkAtomicFile::remove(const std::string& fileName) {
    if (VorkFaultSeam::unlink(fileName) != 0) return false;
    return VorkAtomicFile::syncDirectory(fileName);
}

bool VorkAtomicFile::append(int fd, const std::string& data, const std::string& fileName, bool durable) {
    bool appended = writeAll(fd, data);
    const AppendHook hook = g_appendHook.load();
    if (appended && hook != nullptr && !hook(fileName)) appended = false;
    if (appended && durable && VorkFaultSeam::fdatasync(fd) != 0) appended = false;
    if (!appended) VORK_LOG(1, "VorkAtomicFile::append: cannot append to |" << fileName << "|, errno " << errno);
    return appended;
}

bool VorkAtomicFile::flush(int fd, const std::string& fileName) {
    if (VorkFaultSeam::fdatasync(fd) == 0) return true;
    VORK_LOG(1, "VorkAtomicFile::flush: cannot flush |" << fileName << "|, errno " << errno);
    return false;
}

void VorkAtomicFile::removeStaleTemporaries(const std::string& fileName) {
    FileHandle directory(directoryOf(fileName), O_RDONLY | O_DIRECTORY);
    if (directory.isOpen()) removeStaleTemporariesAt(directory.get(), baseNameOf(fileName));
}

void VorkAtomicFile::setReplaceHook(ReplaceHook hook) { g_replaceHook.store(hook); }

void VorkAtomicFile::setAppendHook(AppendHook hook) { g_appendHook.store(hook); }

} // namespace VorkSupport
