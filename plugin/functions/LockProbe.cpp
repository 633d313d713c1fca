#include "LockProbe.h"

#include <fcntl.h>
#include <sys/file.h>

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

LockProbe::LockProbe(const std::string& lockFileName)
    : m_file(fileName(lockFileName), O_RDONLY | O_CREAT | O_NOFOLLOW, 0600) {
    if (!m_file.isOpen() || lockWith(m_file.get(), LOCK_EX) != 0) {
        VORK_LOG(2, "LockProbe::LockProbe: no probe |" << fileName(lockFileName) << "|: " << std::strerror(errno));
        m_file.reset();
    }
}

bool LockProbe::held(const std::string& lockFileName) {
    VorkSupport::FileHandle file(fileName(lockFileName), O_RDONLY | O_NOFOLLOW);
    if (!file.isOpen()) return false;
    if (lockWith(file.get(), LOCK_SH | LOCK_NB) == 0) return false;
    return errno == EWOULDBLOCK;
}
