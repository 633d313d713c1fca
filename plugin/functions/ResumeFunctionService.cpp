#include "ResumeFunctionService.h"

#include <new>
#include <utility>

#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

ResumeFunctionService::ResumeFunctionService(std::function<void()> work) : m_work(std::move(work)) {}

ResumeFunctionService::~ResumeFunctionService() {
    stop();
    m_pThread.reset(); // waits for the worker
}

bool ResumeFunctionService::startIt() {
    VORK_TRACE("ResumeFunctionService::startIt");
    try {
        m_pThread = std::make_unique<VorkSupport::VorkThread>(m_work);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // A worker that cannot start would never stop the service: answering
    // false lets start() return instead of waiting for ever.
    if (!m_pThread->start()) {
        VORK_LOG(1, "ResumeFunctionService::startIt: unable to start dispatch thread");
        m_pThread.reset();
        return false;
    }
    return true;
}

bool ResumeFunctionService::pauseIt() { return false; }
