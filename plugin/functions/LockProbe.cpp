#include "LockProbe.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "VorkLogRecord.h"

namespace {

int lockWith(int fd, int operation) {
    int rc;
    do {
        rc = ::flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

} // namespace

std::string LockProbe::fileName(const std::string& lockFileName) { return lockFileName + ".probe"; }

LockProbe::LockProbe(const std::string& lockFileName) : m_sFileName(fileName(lockFileName)) {
    // The probe goes when its holder lets go, so a holder that waited for it
    // may hold a name already removed: it tries again on the file that the
    // name stands for now.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_file = VorkSupport::FileHandle(m_sFileName, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (!m_file.isOpen() || lockWith(m_file.get(), LOCK_EX) != 0) break;
        struct stat held {};
        struct stat named {};
        if (::fstat(m_file.get(), &held) == 0 && ::lstat(m_sFileName.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            return;
    }
    VORK_LOG(2, "LockProbe::LockProbe: no probe |" << m_sFileName << "|: " << std::strerror(errno));
    m_file.reset();
}

LockProbe::~LockProbe() {
    // Removed while still held: whoever finds no probe finds no moment's
    // holder either.
    if (m_file.isOpen()) (void)::unlink(m_sFileName.c_str());
}

bool LockProbe::held(const std::string& lockFileName) {
    VorkSupport::FileHandle file(fileName(lockFileName), O_RDONLY | O_NOFOLLOW);
    if (!file.isOpen()) return false;
    if (lockWith(file.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}
