#include "VorkLogging.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <shared_mutex>

#include "VorkWriteAll.h"

namespace VorkSupport {

namespace {

// The instance pointer and the level it admits. A record is written under the
// shared lock; setInstance takes the exclusive lock, so once it returns no
// record is still being written to the log it replaced.
std::shared_mutex& instanceMutex() {
    static auto* mutex = new std::shared_mutex; // never destroyed: usable during static destruction
    return *mutex;
}
VorkLogging* g_instance = nullptr;
std::atomic<int> g_enabledLevel{INT_MIN};

std::string timestamp() {
    struct timeval tv {};
    gettimeofday(&tv, nullptr);
    struct tm tmv {};
    gmtime_r(&tv.tv_sec, &tmv);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tmv.tm_year + 1900, tmv.tm_mon + 1,
                  tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, static_cast<int>(tv.tv_usec / 1000));
    return buffer;
}

} // namespace

VorkLogging::VorkLogging(const std::string& fileName, int target, int level)
    : m_fileName(fileName), m_target(target), m_level(level) {
    if ((m_target & 1) && !m_fileName.empty()) {
        m_file = FileHandle(m_fileName, O_WRONLY | O_CREAT | O_APPEND, 0600);
    }
}

VorkLogging::~VorkLogging() {
    {
        std::unique_lock<std::shared_mutex> lock(instanceMutex());
        if (g_instance == this) {
            g_instance = nullptr;
            g_enabledLevel = INT_MIN;
        }
    }
}

VorkLogging* VorkLogging::getInstance() {
    std::shared_lock<std::shared_mutex> lock(instanceMutex());
    return g_instance;
}

void VorkLogging::setInstance(VorkLogging* instance) {
    std::unique_lock<std::shared_mutex> lock(instanceMutex());
    g_instance = instance;
    g_enabledLevel = instance ? instance->m_level : INT_MIN;
}

bool VorkLogging::isAccessAllowed() {
    std::shared_lock<std::shared_mutex> lock(instanceMutex());
    return g_instance != nullptr;
}

void VorkLogging::write(int level, const std::string& text) {
    if (level > m_level) return;
    std::string record = timestamp() + " [" + std::to_string(level) + "] " + text + "\n";
    std::lock_guard<std::mutex> lock(m_mutex);
    // A debug record that cannot be written has nowhere to be reported.
    if ((m_target & 1) && m_file.isOpen()) (void)VorkWriteAll(m_file.get(), record.data(), record.size());
    if (m_target & 2) (void)VorkWriteAll(STDERR_FILENO, record.data(), record.size());
}

void VorkLogging::log(int level, const std::string& text) {
    std::shared_lock<std::shared_mutex> lock(instanceMutex());
    if (g_instance) g_instance->write(level, text);
}

bool VorkLogging::enabled(int level) { return level <= g_enabledLevel.load(std::memory_order_relaxed); }

} // namespace VorkSupport
