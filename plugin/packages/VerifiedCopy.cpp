#include "VerifiedCopy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "FileHandle.h"
#include "PackageFile.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkRemoveDirectory.h"
#include "VorkScopeTrace.h"

using VorkSupport::FileHandle;

namespace {

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

} // namespace

VerifiedCopy::VerifiedCopy(const std::string& packagePath, const std::string& folder,
                           const std::string& expectedDigest) {
    VORK_TRACE("VerifiedCopy::VerifiedCopy");
    std::string pattern = folder + "/" + kDirectoryPrefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        m_sProblem = "the private copy cannot be made in |" + folder + "|: " + std::strerror(errno);
        return;
    }
    m_sDirectory = pattern;
    make(packagePath, expectedDigest);
    if (!m_sProblem.empty())
        VORK_LOG(1, "VerifiedCopy::VerifiedCopy: |" << packagePath << "| not copied: " << m_sProblem);
}

void VerifiedCopy::make(const std::string& packagePath, const std::string& expectedDigest) {
    const std::string::size_type slash = packagePath.find_last_of('/');
    m_sName = slash == std::string::npos ? packagePath : packagePath.substr(slash + 1);
    const FileHandle directory(m_sDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    FileHandle copy(directory.isOpen() ? ::openat(directory.get(), m_sName.c_str(),
                                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
                                       : -1);
    if (m_sName.empty() || !copy.isOpen()) {
        m_sProblem = "the private copy of |" + packagePath + "| cannot be created: " + std::strerror(errno);
        return;
    }
    const PackageFile package(packagePath, copy.get());
    if (package.missing()) {
        m_bMissing = true;
        return;
    }
    m_sProblem = package.mismatch(expectedDigest);
    // The copy may be executed exactly when the package may; it is closed
    // before it starts, since a file open for writing cannot run.
    if (m_sProblem.empty() && package.executable() && ::fchmod(copy.get(), 0700) != 0)
        m_sProblem = std::string("the private copy cannot be made executable: ") + std::strerror(errno);
    if (!copy.close() && m_sProblem.empty())
        m_sProblem = std::string("the private copy cannot be written: ") + std::strerror(errno);
    if (m_sProblem.empty()) m_sPath = m_sDirectory + "/" + m_sName;
}

VerifiedCopy::~VerifiedCopy() {
    if (m_sDirectory.empty()) return;
    if (!m_sName.empty()) ::unlink((m_sDirectory + "/" + m_sName).c_str());
    if (::rmdir(m_sDirectory.c_str()) != 0)
        VORK_LOG(1, "VerifiedCopy::~VerifiedCopy: cannot remove |" << m_sDirectory << "|: " << std::strerror(errno));
}

void VerifiedCopy::removeStale(const std::string& folder) {
    VORK_TRACE("VerifiedCopy::removeStale");
    std::vector<std::string> stale;
    {
        const std::unique_ptr<DIR, DirectoryCloser> entries(::opendir(folder.c_str()));
        if (!entries) return;
        const std::string prefix = kDirectoryPrefix;
        while (const dirent* entry = ::readdir(entries.get())) {
            if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) stale.push_back(entry->d_name);
        }
    }
    for (const std::string& name : stale) {
        const std::string path = folder + "/" + name;
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) continue;
        try {
            VorkSupport::VorkRemoveDirectory(path, true);
            VORK_LOG(4, "VerifiedCopy::removeStale: removed the copy a killed run left: |" << path << "|");
        } catch (const VorkSupport::VorkException& e) {
            VORK_LOG(1, "VerifiedCopy::removeStale: " << e.getMessageNarrow());
        }
    }
}
