#include "ResumeFunctionService.h"

#include <new>

#include "ResumeFunctionDispatch.h"
#include "ResumeFunctionDispatchThread.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

ResumeFunctionService::ResumeFunctionService(ResumeFunctionDispatch* dispatch) : m_pDispatch(dispatch) {}

ResumeFunctionService::~ResumeFunctionService() {
    stop();
    m_pThread.reset();  // waits for the worker
}

bool ResumeFunctionService::startIt() {
    VORK_TRACE("ResumeFunctionService::startIt");
    try {
        try {
            m_pThread.reset(new ResumeFunctionDispatchThread(m_pDispatch));
        } catch (const std::bad_alloc&) {
            throw VorkException("ResumeFunctionDispatch::startIt: unable to allocate dispatch thread", VorkFailureKind::AllocationFailure);
        }
    } catch (const VorkException&) {
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
