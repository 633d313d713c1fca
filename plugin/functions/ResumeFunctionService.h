#pragma once
#include <functional>
#include <memory>

#include "UpdateFunctionBase.h"
#include "VorkThread.h"

// The resume service: the applicator of a resumed update. VorkService::start
// calls startIt(), which runs the service's work (the resumed run it was
// given) on a worker thread; start returns once that work has called stop().
class ResumeFunctionService : public UpdateFunctionBase {
public:
    explicit ResumeFunctionService(std::function<void()> work);
    // Stops the service, waits for and deletes the worker, then releases the
    // lock (UpdateFunctionBase).
    ~ResumeFunctionService() override;

    // Creates and starts the worker thread; false when it cannot run.
    bool startIt() override;
    bool pauseIt() override;

private:
    std::function<void()> m_work;
    std::unique_ptr<VorkSupport::VorkThread> m_pThread;
};
