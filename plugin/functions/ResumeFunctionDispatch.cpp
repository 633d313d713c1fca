#include "ResumeFunctionDispatch.h"

#include <cstdlib>
#include <exception>
#include <sstream>
#include <vector>

#include "Bundle.h"
#include "ResumeFunctionService.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;

namespace {

std::string narrowMessage(const VorkException& e) {
    return VorkSupport::VorkStringUtilities::narrow(e.getMessage(), VorkSupport::VorkLocaleFactory::getDefaultLocale());
}

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
    : m_statusLog(), m_pService(new ResumeFunctionService(this)), m_bCleanupAtEnd(true) {}

ResumeFunctionDispatch::~ResumeFunctionDispatch() = default;

std::string ResumeFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ResumeFunctionDispatch::execute");
    ResumeFunctionService& service = *m_pService;

    // Unguarded on purpose: a bad parameter (a log target in a directory that
    // does not exist) gives no answer, before anything has been changed.
    service.processBaseParameters(properties, m_statusLog);

    if (!service.startExclusiveUpdate()) {
        VORK_LOG(3, "ResumeFunctionDispatch::execute: the PLIMO is already running, returning update in progress status");
        m_statusLog.SMStatus(service.lockFailureStatus());
        m_statusLog.setDocDateTime();
        return m_statusLog.dumpRoot();
    }

    m_statusLog.setFileName(service.internalLogName());
    service.setQpkLog(m_statusLog);

    try {
        if (!service.defaultUpdateLogExists()) {
            VORK_LOG(3, "ResumeFunctionDispatch::execute: no incomplete update found");
            m_statusLog.setDocDateTime();
            m_statusLog.SMStatus(StatusCode::NoUpdateInProgress);
            // The answer becomes the final log of its update id, unless that
            // update has one already: a finished update's record is kept.
            const std::string updateId = m_statusLog.updateId();
            std::string logName;
            if (!updateId.empty() && service.updateLogExists(updateId, logName)) m_bCleanupAtEnd = false;
        } else {
            const bool hasUpdateId = service.getUpdateId(properties, m_statusLog);
            std::string requestedId;
            if (hasUpdateId) {
                requestedId = m_statusLog.updateId();
                VORK_LOG(3, "ResumeFunctionDispatch::execute: using updateid=" << requestedId);
            } else {
                VORK_LOG(3, "ResumeFunctionDispatch::execute: no updateid specified");
            }

            m_statusLog.load();
            const auto state = service.internalLogState(m_statusLog);
            if (state == BundleApplicatorBase::InternalLogState::Unreadable ||
                state == BundleApplicatorBase::InternalLogState::Absent) {
                // Nothing to resume, but the one record of what happened: it
                // is moved aside, never deleted.
                VORK_LOG(1, "ResumeFunctionDispatch::execute: internal log cannot be read");
                // Moved or not, the log is never deleted here.
                (void)service.moveInternalLogAside();
                m_statusLog.init();
                m_statusLog.SMStatus(StatusCode::ResumeFailed);
                m_statusLog.setDocDateTime();
                m_bCleanupAtEnd = false;
            } else if (state == BundleApplicatorBase::InternalLogState::Finished) {
                // An update that ended without being finished off: cleanup
                // below does it, and its log is the answer.
                VORK_LOG(3, "ResumeFunctionDispatch::execute: finishing the log of an ended update");
            } else {
                BAXMLDoc& log = m_statusLog;
                VORK_LOG(4, "ResumeFunctionDispatch::execute: Resume update: "
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

                if (hasUpdateId && requestedId != m_statusLog.updateId()) {
                    // A refusal: the waiting update keeps its internal log
                    // untouched and is resumed by its own service.
                    VORK_LOG(1, "ResumeFunctionDispatch::execute: trying to resume incorrect update-id");
                    m_statusLog.SMStatus(StatusCode::UpdateInProgress);
                    m_statusLog.setDocDateTime();
                    m_bCleanupAtEnd = false;
                } else {
                    const bool testMode = std::getenv("PLIMO_CMDLINE_TEST") != nullptr;
                    service.m_bUpdateCompleted = false;
                    // A worker that cannot start leaves m_bUpdateCompleted false:
                    // the service stays for the next restart.
                    (void)service.start(std::vector<std::string>(), !testMode);
                    // restart() has called stop(): the worker is done with the
                    // status log and the flags.
                    // The record is durable before the service goes: a service
                    // without a record would leave nothing to finish.
                    m_statusLog.setDocDateTime();
                    const bool saved = UpdateFunctionBase::saveRecords(m_statusLog);
                    if (service.m_bUpdateCompleted && !testMode && saved) {
                        VORK_LOG(4, "ResumeFunctionDispatch::execute: update completed, removing service");
                        service.remove();
                        VORK_LOG(4, "ResumeFunctionDispatch::execute: update completed, service removed");
                    }
                }
            }
        }
    } catch (const VorkException& e) {
        VORK_LOG(1, "ResumeFunctionDispatch::execute: VorkException: \n" << narrowMessage(e));
        m_statusLog.setDocDateTime();
    } catch (const std::exception& e) {
        VORK_LOG(1, "ResumeFunctionDispatch::execute: std::exception: \n" << e.what());
        m_statusLog.setDocDateTime();
    }

    if (m_bCleanupAtEnd) {
        try {
            m_statusLog.cleanup();
        } catch (const VorkException& e) {
            m_statusLog.SMStatus(
                BundleApplicatorBase::reportException("ResumeFunctionDispatch::execute: VorkException: \n", e));
        }
    }
    service.endExclusiveUpdate();
    return m_statusLog.dumpRoot();
}

void ResumeFunctionDispatch::restart() {
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
    VORK_TRACE("ResumeFunctionDispatch::restart");
    ResumeFunctionService& service = *m_pService;

    std::string bundleRoot;
    try {
        bundleRoot = m_statusLog.bundlePath();
    } catch (const VorkException& e) {
        BundleApplicatorBase::reportException("ResumeFunctionDispatch::restart: exception :\n", e,
                                              StatusCode::ResumeFailed);
        return;
    }

    try {
        if (!VorkSupport::VorkPlatform::fileExists(bundleRoot)) {
            // The bundle went while the machine restarted.
            const int previous = m_statusLog.SMStatus();
            const int status = previous == StatusCode::Rebooting            ? StatusCode::MayHaveApplied
                               : previous == StatusCode::RebootingToResume ? StatusCode::MayNotHaveApplied
                                                                           : StatusCode::DefinitionMissing;
            m_statusLog.setDocDateTime();
            m_statusLog.SMStatus(status);
            return;
        }

        Bundle bundle(&m_statusLog, true);
        const int count = m_statusLog.rebootCount();
        service.m_bUpdateCompleted = true;
        int result = 0;
        {
            const VorkSupport::VorkShutdownInhibitor inhibitor = service.inhibitShutdown(m_statusLog.updateId());
            result = UpdateFunctionBase::checkedRunResult(m_statusLog, bundle.execute(true));
        }
        m_statusLog.SMStatus(result);
        m_statusLog.setDocDateTime();

        switch (result) {
        case 0:
        case StatusCode::PackageFailed:
            if (!m_statusLog.preInstallEnv()) bundle.notifyConsumers(true);
            break;
        case StatusCode::RebootRequired:
        case StatusCode::ResumeRequired:
            m_statusLog.save();
            if (count < 3 && m_statusLog.reboot()) {
                m_bCleanupAtEnd = false;
                service.m_bUpdateCompleted = false;
                // False means the unit that started this run is still there: it stays.
                (void)service.install();
                m_statusLog.rebootCount(m_statusLog.rebootCount() + 1);
                m_statusLog.save();
                const std::string logTarget = m_statusLog.logTarget();
                if (!logTarget.empty()) m_statusLog.saveTo(logTarget);
                service.rebootOrFlag();
            } else {
                UpdateFunctionBase::flagRebootRequired();
                if (count >= 3) m_statusLog.SMStatus(StatusCode::PackageFailed);
                m_statusLog.progressPercent(100);
                m_statusLog.save();
                if (!m_statusLog.preInstallEnv()) bundle.notifyConsumers(true);
            }
            break;
        default:
            break;
        }
    } catch (const VorkException& e) {
        const int code =
            BundleApplicatorBase::reportException("ResumeFunctionDispatch::restart: update vork exception\n", e);
        m_statusLog.setDocDateTime();
        m_statusLog.SMStatus(code);
    } catch (const std::exception& e) {
        const int code =
            BundleApplicatorBase::reportException("ResumeFunctionDispatch::restart: update std exception\n", e);
        m_statusLog.setDocDateTime();
        m_statusLog.SMStatus(code);
    }
}
