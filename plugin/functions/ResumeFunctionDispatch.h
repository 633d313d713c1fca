#pragma once
#include <memory>
#include <string>

#include "BAXMLDoc.h"
#include "FunctionCall.h"
#include "FunctionDispatch.h"

class Bundle;
class ResumeFunctionService;

// "resume": continues the update of the internal log after a restart. The
// calling thread takes the lock and loads the log, then starts the resume
// service, whose worker thread runs restart(); the calling thread waits until
// restart() has stopped the service and then finishes the log and answers.
//
// The two threads share m_statusLog and the clean-up decision of m_call
// without a lock: the calling thread touches them only before the service
// starts and after VorkService::start has returned, which happens only after
// the worker's last action, stop().
class ResumeFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    ResumeFunctionDispatch();
    ~ResumeFunctionDispatch() override;

    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;

    ResumeFunctionDispatch(const ResumeFunctionDispatch&) = delete;
    ResumeFunctionDispatch& operator=(const ResumeFunctionDispatch&) = delete;

private:
    // The resumed run, on the worker thread; always ends by stopping the
    // service.
    void restart();

    // The calling thread's steps once it holds the lock.
    void resumeLoggedUpdate(const VorkSupport::VorkProperties<std::string>& properties);
    void answerNothingToResume();
    void keepUnreadableLog();
    void logResumeState();
    // Whether the log's restart was asked for in this very boot: then the
    // machine has not restarted yet. A recorded id that is malformed, or a
    // boot id that cannot be read, answers false (logged).
    bool restartStillAwaited();
    // Runs the service and keeps the record of its run.
    void runService();

    // The worker's run; restart() wraps it so that stop() always follows.
    void resumeRun();
    void runResumedBundle(const std::string& bundleRoot);
    // The decision after a run, count being the restarts before it.
    void decide(int result, int count, Bundle& bundle);

    BAXMLDoc m_statusLog;
    std::unique_ptr<ResumeFunctionService> m_pService;
    FunctionCall m_call;
};
