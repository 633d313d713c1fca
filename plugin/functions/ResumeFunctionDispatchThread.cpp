#include "ResumeFunctionDispatchThread.h"

#include "ResumeFunctionDispatch.h"
#include "VorkScopeTrace.h"

ResumeFunctionDispatchThread::ResumeFunctionDispatchThread(ResumeFunctionDispatch* dispatch) : m_pDispatch(dispatch) {}

ResumeFunctionDispatchThread::~ResumeFunctionDispatchThread() { wait(); }

int ResumeFunctionDispatchThread::work() {
    m_pDispatch->restart();
    return 0;
}
