#pragma once
#include <memory>

#include "UpdateFunctionBase.h"

class ResumeFunctionDispatch;
class ResumeFunctionDispatchThread;

// The resume service: the applicator of a resumed update. VorkService::start
// calls startIt(), which runs ResumeFunctionDispatch::restart on a worker
// thread; start returns once restart has called stop().
class ResumeFunctionService : public UpdateFunctionBase {
public:
    explicit ResumeFunctionService(ResumeFunctionDispatch* dispatch);
    // Stops the service, waits for and deletes the worker, then releases the
    // lock (UpdateFunctionBase).
    ~ResumeFunctionService() override;

    // Creates and starts the worker thread; false when it cannot run.
    bool startIt() override;
    bool pauseIt() override;

private:
    ResumeFunctionDispatch* m_pDispatch;  // not owned
    std::unique_ptr<ResumeFunctionDispatchThread> m_pThread;
};
