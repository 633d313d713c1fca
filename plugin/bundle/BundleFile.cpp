#include "BundleFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "FileHandle.h"

BundleFile::BundleFile(const std::string& path) : m_sPath(path) {
    VorkSupport::FileHandle file(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    if (!file.isOpen()) {
        m_state = errno == ENOENT ? State::Missing : State::Unreadable;
        m_sProblem = "|" + path + "| cannot be opened: " + std::strerror(errno);
        return;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        m_state = State::NotRegular;
        m_sProblem = "|" + path + "| is not a regular file";
        return;
    }
    if (status.st_size > kMaxBytes) {
        m_sProblem = "|" + path + "| is larger than " + std::to_string(kMaxBytes) + " bytes";
        return;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t count = file.read(buffer, sizeof buffer);
        if (count < 0) {
            m_sProblem = "|" + path + "| cannot be read: " + std::strerror(errno);
            m_sContent.clear();
            return;
        }
        if (count == 0) break;
        m_sContent.append(buffer, static_cast<std::size_t>(count));
        if (static_cast<long long>(m_sContent.size()) > kMaxBytes) {
            m_sProblem = "|" + path + "| is larger than " + std::to_string(kMaxBytes) + " bytes";
            m_sContent.clear();
            return;
        }
    }
    m_state = State::Read;
}
