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

// The temporary files of a save are "<name>.tmp" and eight hex digits.
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
        VORK_LOG(1, "VorkAtomicFile::write: cannot follow link |" << fileName << "|, errno " << errno);
        return false;
    }
    fileName = resolved.get();
    return true;
}

// A device or pipe (such as a terminal the user named as log target) cannot
// be replaced, and must not be: it is written in place.
bool writeInPlace(const std::string& fileName, const std::string& content) {
    FileHandle special(fileName, O_WRONLY | O_TRUNC | O_NOCTTY | O_NOFOLLOW);
    if (!special.isOpen()) return false;
    const bool written = writeAll(special.get(), content);
    return special.close() && written;
}

unsigned randomNumber() {
    unsigned value = 0;
    if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
    return std::random_device{}();
}

// A new file with an unpredictable name beside the target; O_EXCL and
// O_NOFOLLOW keep a planted file or link from being written through.
int createTemporary(const std::string& fileName, bool privateFile, std::string& tempName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%s%08x", kTempMark, randomNumber());
        tempName = fileName + suffix;
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              privateFile ? 0600 : 0666);
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

// Renames the new file to its name, unless that name is taken. A file
// system that cannot refuse to replace is checked first instead.
bool placeNew(const std::string& tempName, const std::string& fileName) {
    if (::renameat2(AT_FDCWD, tempName.c_str(), AT_FDCWD, fileName.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat status;
    if (::lstat(fileName.c_str(), &status) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(tempName.c_str(), fileName.c_str()) == 0;
}

} // namespace

bool VorkAtomicFile::syncDirectory(const std::string& fileName) {
    FileHandle directory(directoryOf(fileName), O_RDONLY | O_DIRECTORY);
    return directory.isOpen() && VorkFaultSeam::fsync(directory.get()) == 0;
}

// A file a user named (not private) is never written through a link in its
// last component, and replaced only when it is the caller's own: a link or a
// file that another user planted there must not redirect the write.
bool userFileMayBeReplaced(const std::string& fileName) {
    struct stat status;
    if (::lstat(fileName.c_str(), &status) != 0) return true;
    if (S_ISLNK(status.st_mode)) {
        VORK_LOG(1, "VorkAtomicFile::write: |" << fileName << "| is a symbolic link, not written through");
        errno = ELOOP;
        return false;
    }
    if (status.st_uid != ::geteuid()) {
        VORK_LOG(1, "VorkAtomicFile::write: |" << fileName << "| belongs to uid " << status.st_uid
                                               << ", not replaced");
        errno = EPERM;
        return false;
    }
    return true;
}

bool VorkAtomicFile::write(const std::string& requestedName, const std::string& content, bool privateFile) {
    if (requestedName.empty()) return false;
    std::string fileName = requestedName;
    if (privateFile ? !resolveLink(fileName) : !userFileMayBeReplaced(fileName)) return false;
    struct stat status;
    if (::stat(fileName.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))
        return writeInPlace(fileName, content);

    if (privateFile) removeStaleTemporaries(fileName);
    std::string tempName;
    FileHandle file(createTemporary(fileName, privateFile, tempName));
    if (!file.isOpen()) {
        VORK_LOG(1, "VorkAtomicFile::write: cannot create |" << tempName << "|, errno " << errno);
        return false;
    }
    bool written = fillTemporary(file, content);
    if (!written) VORK_LOG(1, "VorkAtomicFile::write: cannot write |" << tempName << "|, errno " << errno);
    const ReplaceHook hook = g_replaceHook.load();
    if (written && hook != nullptr && !hook(tempName, fileName)) written = false;
    if (written && VorkFaultSeam::rename(tempName, fileName) != 0) {
        VORK_LOG(1, "VorkAtomicFile::write: cannot replace |" << fileName << "|, errno " << errno);
        written = false;
    }
    if (!written) {
        ::unlink(tempName.c_str());
        return false;
    }
    // The new file is in place; only a durable rename makes the save whole.
    return VorkAtomicFile::syncDirectory(fileName);
}

bool VorkAtomicFile::create(const std::string& fileName, const std::string& content, mode_t mode) {
    std::string tempName;
    FileHandle file(createTemporary(fileName, true, tempName));
    if (!file.isOpen()) {
        VORK_LOG(1, "VorkAtomicFile::create: cannot create |" << tempName << "|, errno " << errno);
        return false;
    }
    if (::fchmod(file.get(), mode) != 0 || !fillTemporary(file, content) || !placeNew(tempName, fileName)) {
        VORK_LOG(1, "VorkAtomicFile::create: cannot place |" << fileName << "|, errno " << errno);
        ::unlink(tempName.c_str());
        return false;
    }
    return syncDirectory(fileName);
}

bool VorkAtomicFile::rename(const std::string& from, const std::string& to) {
    if (VorkFaultSeam::rename(from, to) != 0) return false;
    return VorkAtomicFile::syncDirectory(to);
}

bool VorkAtomicFile::append(int fd, const std::string& data, const std::string& fileName) {
    bool appended = writeAll(fd, data);
    const AppendHook hook = g_appendHook.load();
    if (appended && hook != nullptr && !hook(fileName)) appended = false;
    if (appended && VorkFaultSeam::fdatasync(fd) != 0) appended = false;
    if (!appended) VORK_LOG(1, "VorkAtomicFile::append: cannot append to |" << fileName << "|, errno " << errno);
    return appended;
}

void VorkAtomicFile::removeStaleTemporaries(const std::string& fileName) {
    const std::string directoryName = directoryOf(fileName);
    const std::string base = baseNameOf(fileName);
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(directoryName.c_str()));
    if (!directory) return;
    while (const dirent* entry = ::readdir(directory.get())) {
        if (!isTemporaryOf(entry->d_name, base)) continue;
        VORK_LOG(4, "VorkAtomicFile: removing the remains of a killed save: " << entry->d_name);
        ::unlinkat(::dirfd(directory.get()), entry->d_name, 0);
    }
}

void VorkAtomicFile::setReplaceHook(ReplaceHook hook) {
    g_replaceHook.store(hook);
}

void VorkAtomicFile::setAppendHook(AppendHook hook) {
    g_appendHook.store(hook);
}

} // namespace VorkSupport
