#pragma once
#include <memory>
#include <string>

#include "BAXMLDoc.h"
#include "FunctionDispatch.h"

class ResumeFunctionService;

// "resume": continues the update of the internal log after a restart. The
// calling thread takes the lock and loads the log, then starts the resume
// service, whose worker thread runs restart(); the calling thread waits until
// restart() has stopped the service and then finishes the log and answers.
//
// The two threads share m_statusLog and m_bCleanupAtEnd without a lock: the
// calling thread touches them only before the service starts and after
// VorkService::start has returned, which happens only after the worker's
// last action, stop().
class ResumeFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    ResumeFunctionDispatch();
    ~ResumeFunctionDispatch() override;

    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;

    // The resumed run, on the worker thread; always ends by stopping the
    // service.
    void restart();

    ResumeFunctionDispatch(const ResumeFunctionDispatch&) = delete;
    ResumeFunctionDispatch& operator=(const ResumeFunctionDispatch&) = delete;

private:
    // The run itself; restart() wraps it so that stop() always follows.
    void resumeRun();
    // The decision after a run that asked for another restart.
    void prepareRestart(int count);

    BAXMLDoc m_statusLog;
    std::unique_ptr<ResumeFunctionService> m_pService;
    bool m_bCleanupAtEnd;
};
