#include "VorkThread.h"

#include <system_error>
#include <utility>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace VorkSupport {

VorkThread::VorkThread(std::function<void()> work) : m_work(std::move(work)) {}

VorkThread::~VorkThread() {
    if (!m_thread.joinable()) return;
    if (m_workerId.load() == std::this_thread::get_id()) {
        // The work destroyed its own thread object: joining would deadlock,
        // and the thread ends right after this anyway.
        m_thread.detach();
        return;
    }
    m_thread.join();
}

bool VorkThread::start() {
    VORK_TRACE("VorkThread::start");
    bool idle = false;
    if (!m_running.compare_exchange_strong(idle, true)) return false;
    if (m_thread.joinable()) {
        if (m_workerId.load() == std::this_thread::get_id()) {
            m_running = false;
            return false;
        }
        m_thread.join(); // an earlier run that has ended
    }
    m_stop = false;
    m_failed = false;
    try {
        m_thread = std::thread([this] {
            // Known before the work begins: m_thread itself is assigned only
            // after the thread has started.
            m_workerId = std::this_thread::get_id();
            try {
                m_work();
            } catch (...) {
                // An escaping failure must not end the whole process.
                m_failed = true;
                VORK_LOG(1, "VorkThread::start: the work ended with an exception |" << m_workInfo << "|");
            }
            m_running = false;
        });
    } catch (const std::system_error&) {
        m_running = false;
        VORK_LOG(1, "VorkThread::start: the thread could not be created |" << m_workInfo << "|");
        return false;
    }
    return true;
}

void VorkThread::stop() { m_stop = true; }

bool VorkThread::wait() {
    if (m_workerId.load() == std::this_thread::get_id()) return false;
    if (!m_thread.joinable()) return true;
    m_thread.join();
    return true;
}

void VorkThread::setWorkInfo(const std::string& info) { m_workInfo = info; }

} // namespace VorkSupport
