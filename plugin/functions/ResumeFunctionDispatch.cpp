#include "ResumeFunctionDispatch.h"

#include <cstdlib>
#include <optional>
#include <sstream>
#include <vector>

#include "Bundle.h"
#include "FixedLogTexts.h"
#include "HistoryFolder.h"
#include "MetricsFile.h"
#include "ResumeFunctionService.h"
#include "StatusCode.h"
#include "VorkBootId.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;
using State = BundleApplicatorBase::InternalLogState;

namespace {

// A value for the debug record of the state to resume; a setting that the log
// lacks shows as empty instead of ending the resume.
template <typename Getter>
std::string settingText(Getter getter) {
    try {
        std::ostringstream text;
        text << std::boolalpha << getter();
        return text.str();
    } catch (...) {
        return std::string();
    }
}

} // namespace

ResumeFunctionDispatch::ResumeFunctionDispatch()
    : m_statusLog(), m_pService(std::make_unique<ResumeFunctionService>([this] { restart(); })),
      m_call("ResumeFunctionDispatch::execute", *m_pService, m_statusLog) {}

ResumeFunctionDispatch::~ResumeFunctionDispatch() = default;

std::string ResumeFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ResumeFunctionDispatch::execute");
    ResumeFunctionService& service = *m_pService;
    // Unguarded on purpose: a bad parameter (a log target in a directory that
    // does not exist) gives no answer, before anything has been changed.
    service.processBaseParameters(properties, m_statusLog);
    if (!m_call.takeLock()) {
        VORK_LOG(3, "ResumeFunctionDispatch::execute: the PLIMO is already running, returning update in progress "
                    "status");
        return m_call.answer();
    }
    m_call.keepAnswer(
        [](const std::string& answer) { (void)HistoryFolder::keep(HistoryFolder::Call::Resume, answer); });
    m_statusLog.setFileName(service.internalLogName());
    service.setQpkLog(m_statusLog);
    m_call.cleanupAtEnd(true);
    m_call.guard([&] { resumeLoggedUpdate(properties); });
    m_call.recordsAtEnd([this] {
        const MetricsFile metrics(MetricsFile::Call::Resume, m_call);
        return std::function<void()>([metrics] { metrics.write(); });
    });
    return m_call.answer();
}

void ResumeFunctionDispatch::resumeLoggedUpdate(const VorkSupport::VorkProperties<std::string>& properties) {
    if (!m_pService->defaultUpdateLogExists()) return answerNothingToResume();
    const bool hasUpdateId = m_pService->getUpdateId(properties, m_statusLog);
    const std::string requestedId = hasUpdateId ? m_statusLog.updateId() : std::string();
    if (hasUpdateId) VORK_LOG(3, FixedLogText::Resume::kUsingUpdateId << requestedId);
    else VORK_LOG(3, FixedLogText::Resume::kNoUpdateId);

    m_statusLog.load();
    const State state = m_pService->internalLogState(m_statusLog);
    if (state == State::Unreadable || state == State::Absent) return keepUnreadableLog();
    if (state == State::Finished) {
        // An update that ended without being finished off: it is finished
        // and kept, and its log is the answer.
        const std::string kept = m_statusLog.keepAsRecord(false);
        VORK_LOG(3, "ResumeFunctionDispatch::resumeLoggedUpdate: the log of an ended update is kept as: " << kept);
        m_call.cleanupAtEnd(false);
        return;
    }
    logResumeState();
    if (hasUpdateId && requestedId != m_statusLog.updateId()) {
        // A refusal: the waiting update keeps its internal log untouched and
        // is resumed by its own service.
        VORK_LOG(1, FixedLogText::Resume::kIncorrectUpdateId);
        m_call.setStatus(StatusCode::UpdateInProgress);
        m_call.cleanupAtEnd(false);
        return;
    }
    if (restartStillAwaited()) {
        // Started by hand, or the restart was refused or never came: the
        // update still waits for it, as its log says.
        m_call.cleanupAtEnd(false);
        return;
    }
    runService();
}

bool ResumeFunctionDispatch::restartStillAwaited() {
    const std::string recorded = m_statusLog.restartBootId();
    if (recorded.empty()) return false;
    if (!VorkSupport::VorkBootId::wellFormed(recorded)) {
        VORK_LOG(2, "ResumeFunctionDispatch::restartStillAwaited: the recorded boot id |" << recorded
                                                                                          << "| is no boot id; "
                                                                                             "resuming");
        return false;
    }
    const std::optional<std::string> current = VorkSupport::VorkBootId::current();
    if (!current) {
        VORK_LOG(2, "ResumeFunctionDispatch::restartStillAwaited: the boot id cannot be read; resuming");
        return false;
    }
    if (*current != recorded) return false;
    VORK_LOG(2, "ResumeFunctionDispatch::restartStillAwaited: the machine has not restarted since the restart was "
                "asked for (boot "
                    << recorded << "); nothing runs, the update waits for the restart");
    return true;
}

void ResumeFunctionDispatch::answerNothingToResume() {
    VORK_LOG(3, FixedLogText::Resume::kNothingToResume);
    m_call.setStatus(StatusCode::NoUpdateInProgress);
    // The answer becomes the final log of its update id, unless that update
    // has one already: a finished update's record is kept.
    const std::string updateId = m_statusLog.updateId();
    std::string logName;
    if (!updateId.empty() && m_pService->updateLogExists(updateId, logName)) m_call.cleanupAtEnd(false);
}

void ResumeFunctionDispatch::keepUnreadableLog() {
    // Nothing to resume, but the one record of what happened: it is moved
    // aside, never deleted.
    VORK_LOG(1, "ResumeFunctionDispatch::keepUnreadableLog: internal log cannot be read");
    (void)m_pService->moveInternalLogAside();
    m_statusLog.init();
    m_call.setStatus(StatusCode::ResumeFailed);
    m_call.cleanupAtEnd(false);
}

void ResumeFunctionDispatch::logResumeState() {
    BAXMLDoc& log = m_statusLog;
    VORK_LOG(4, FixedLogText::Resume::kResumeState
                    << "\nupdate-id: " << settingText([&] { return log.updateId(); })
                    << "\nlog-target: " << settingText([&] { return log.logTarget(); })
                    << "\nbundle-path: " << settingText([&] { return log.bundlePath(); })
                    << "\nbundle: " << settingText([&] { return log.bundleName(); })
                    << "\nbundle-package: " << settingText([&] { return log.bundlePackage(); })
                    << "\nrelocation: " << settingText([&] { return log.relocationFile(); })
                    << "\ninstall-params: " << settingText([&] { return log.installParams(); })
                    << "\nprogress: " << settingText([&] { return log.progressPercent(); })
                    << "\nreboot: " << settingText([&] { return log.reboot(); })
                    << "\nrebootcouont: " << settingText([&] { return log.rebootCount(); })
                    << "\nforce: " << settingText([&] { return log.force(); })
                    << "\nclearpackage: " << settingText([&] { return log.clearPackage(); })
                    << "\nnotify:" << settingText([&] { return log.notify(); })
                    << "\nignore: " << settingText([&] { return log.ignore(); })
                    << "\ncontinueOnFailure: " << settingText([&] { return log.continueOnFailure(); })
                    << "\npreInstallEnv: " << settingText([&] { return log.preInstallEnv(); })
                    << "\nupdateOnly: " << settingText([&] { return log.updateOnly(); }));
}

void ResumeFunctionDispatch::runService() {
    ResumeFunctionService& service = *m_pService;
    const bool testMode = std::getenv("PLIMO_CMDLINE_TEST") != nullptr;
    service.m_bUpdateCompleted = false;
    // A worker that cannot start leaves m_bUpdateCompleted false: the service
    // stays for the next restart.
    (void)service.start(std::vector<std::string>(), !testMode);
    // restart() has called stop(): the worker is done with the status log and
    // the flags. The record is durable before the service goes: a service
    // without a record would leave nothing to finish.
    m_statusLog.setDocDateTime();
    const bool saved = UpdateFunctionBase::saveRecords(m_statusLog);
    if (service.m_bUpdateCompleted && !testMode && saved) {
        VORK_LOG(4, FixedLogText::Resume::kRemovingService);
        if (VorkSupport::VorkPlatform::fileExists(service.unitFileName()) && !service.remove()) {
            // A unit that could come back must find its record: the internal
            // log stays until the unit is gone for good.
            VORK_LOG(1, "ResumeFunctionDispatch::runService: the service is not surely gone; the internal log "
                        "stays");
            m_call.cleanupAtEnd(false);
            return;
        }
        VORK_LOG(4, FixedLogText::Resume::kServiceRemoved);
    }
}

void ResumeFunctionDispatch::restart() {
    VORK_TRACE("ResumeFunctionDispatch::restart");
    try {
        resumeRun();
    } catch (...) {
        // Nothing may end the worker without stopping the service: the
        // calling thread waits for it.
        VORK_LOG(1, "ResumeFunctionDispatch::restart: unexpected exception");
    }
    m_pService->stop();
}

void ResumeFunctionDispatch::resumeRun() {
    VORK_TRACE("ResumeFunctionDispatch::resumeRun");
    std::string bundleRoot;
    try {
        bundleRoot = m_statusLog.bundlePath();
    } catch (const VorkException&) {
        // Logged only: the log stays as it was loaded.
        FunctionCall::Reporting unreadable =
            FunctionCall::Reporting::withPrefix("ResumeFunctionDispatch::restart: exception :\n");
        unreadable.fallback = StatusCode::ResumeFailed;
        (void)FunctionCall::statusOfCaught(unreadable);
        return;
    }
    const FunctionCall::Reporting reporting{"ResumeFunctionDispatch::restart: update vork exception\n",
                                            "ResumeFunctionDispatch::restart: update std exception\n"};
    m_call.guard(reporting, [&] { runResumedBundle(bundleRoot); });
}

void ResumeFunctionDispatch::runResumedBundle(const std::string& bundleRoot) {
    if (!VorkSupport::VorkPlatform::fileExists(bundleRoot)) {
        // The bundle went while the machine restarted.
        const int previous = m_statusLog.SMStatus();
        m_call.setStatus(previous == StatusCode::Rebooting           ? StatusCode::MayHaveApplied
                         : previous == StatusCode::RebootingToResume ? StatusCode::MayNotHaveApplied
                                                                     : StatusCode::DefinitionMissing);
        return;
    }
    Bundle bundle(&m_statusLog, true);
    const int count = m_statusLog.rebootCount();
    m_pService->m_bUpdateCompleted = true;
    int result = 0;
    {
        const VorkSupport::VorkShutdownInhibitor inhibitor = m_pService->inhibitShutdown(m_statusLog.updateId());
        result = UpdateFunctionBase::checkedRunResult(m_statusLog, bundle.execute(true));
    }
    m_call.setStatus(result);
    decide(result, count, bundle);
}

void ResumeFunctionDispatch::decide(int result, int count, Bundle& bundle) {
    ResumeFunctionService& service = *m_pService;
    switch (result) {
        case StatusCode::Success:
        case StatusCode::PackageFailed:
            // No completion is reported before it is durable.
            m_statusLog.save();
            if (!m_statusLog.preInstallEnv()) bundle.notifyConsumers(true);
            break;
        case StatusCode::RebootRequired:
        case StatusCode::ResumeRequired:
            m_statusLog.save();
            if (count < 3 && m_statusLog.reboot()) {
                m_call.cleanupAtEnd(false);
                service.m_bUpdateCompleted = false;
                // False means the unit that started this run is still there: it stays.
                (void)service.install();
                service.prepareRestart(m_statusLog);
                m_call.restartAtEnd([this] { m_pService->requestRestart(m_statusLog); });
            } else {
                UpdateFunctionBase::flagRebootRequired();
                if (count >= 3) m_statusLog.SMStatus(StatusCode::PackageFailed);
                m_statusLog.progressPercent(100);
                m_statusLog.save();
                if (!m_statusLog.preInstallEnv()) bundle.notifyConsumers(true);
            }
            break;
        default: break;
    }
}
