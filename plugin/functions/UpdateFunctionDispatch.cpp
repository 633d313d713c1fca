#include "UpdateFunctionDispatch.h"

#include <unistd.h>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "FixedLogTexts.h"
#include "FunctionCall.h"
#include "HistoryFolder.h"
#include "MetricsFile.h"
#include "StatusCode.h"
#include "UpdateFunctionBase.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;

namespace {

bool isTrue(const VorkSupport::VorkProperties<std::string>& properties, const char* key) {
    return properties.getProperty(key, "") == "true";
}

// The time limit of packages without one of their own (key
// packagetimeout), 0 when not given. A value that is not a positive whole
// number of seconds is refused before anything runs.
int packageTimeoutOf(const VorkSupport::VorkProperties<std::string>& properties) {
    std::string text;
    if (!properties.getPropertyValue("packagetimeout", text)) return 0;
    int seconds = 0;
    if (!BundleDefinition::readTimeout(text, seconds))
        throw VorkException("packageTimeoutOf: packagetimeout must be a positive whole number of "
                            "seconds: |" +
                                text + "|",
                            StatusCode::UnknownException);
    return seconds;
}

} // namespace

std::string UpdateFunctionDispatch::execute(const Properties& properties) {
    VORK_TRACE("UpdateFunctionDispatch::execute");
    UpdateFunctionBase applicator;
    BAXMLDoc statusLog(applicator.internalLogName());
    FunctionCall call("UpdateFunctionDispatch::execute", applicator, statusLog);
    if (!call.takeLock()) {
        VORK_LOG(3, "UpdateFunctionDispatch::execute: the PLIMO is already running, returning update in progress "
                    "status");
        return call.answer();
    }
    call.keepAnswer([](const std::string& answer) { (void)HistoryFolder::keep(HistoryFolder::Call::Update, answer); });
    call.guard([&] {
        applicator.setQpkLog(statusLog);
        if (applicator.defaultUpdateLogExists()) clearPreviousUpdate(applicator);
        if (applicator.defaultUpdateLogExists()) {
            // A stable internal log waits for its resume.
            VORK_LOG(1, "UpdateFunctionDispatch::execute: update already in progress");
            statusLog.SMStatus(StatusCode::UpdateInProgress);
            return;
        }
        startUpdate(properties, call, applicator);
    });
    call.recordsAtEnd([&call] {
        const MetricsFile metrics(MetricsFile::Call::Update, call);
        return std::function<void()>([metrics] { metrics.write(); });
    });
    return call.answer();
}

void UpdateFunctionDispatch::clearPreviousUpdate(UpdateFunctionBase& applicator) {
    BAXMLDoc previous(applicator.internalLogName());
    previous.load();
    const BundleApplicatorBase::InternalLogState state = applicator.internalLogState(previous);
    switch (state) {
        case BundleApplicatorBase::InternalLogState::Unreadable:
            // A log that cannot be moved stays, and the update finds it.
            (void)applicator.moveInternalLogAside();
            break;
        case BundleApplicatorBase::InternalLogState::Run:
        case BundleApplicatorBase::InternalLogState::Finished: {
            // Its process died: the record is finished (as interrupted when a
            // run was cut off) and kept, never deleted.
            try {
                const std::string kept = previous.keepAsRecord(state == BundleApplicatorBase::InternalLogState::Run);
                VORK_LOG(3, "UpdateFunctionDispatch::clearPreviousUpdate: the log of an update whose process died is "
                            "kept as: "
                                << kept);
            } catch (const VorkException& e) {
                // A final log that cannot be written must not block every later
                // update: the record is kept aside instead.
                VORK_LOG(1, "UpdateFunctionDispatch::clearPreviousUpdate: the final log cannot be written ("
                                << e.getMessageNarrow() << "); keeping the internal log aside");
                (void)applicator.moveInternalLogAside();
            }
            (void)applicator.remove();
            break;
        }
        default: break;
    }
}

void UpdateFunctionDispatch::startUpdate(const Properties& properties, FunctionCall& call,
                                         UpdateFunctionBase& applicator) {
    BAXMLDoc& statusLog = call.log();
    const bool hasUpdateId = applicator.getUpdateId(properties, statusLog);
    // The final log of such an id would be the internal log itself and
    // would block every later update.
    if (hasUpdateId && statusLog.updateId() == "BAUpdate")
        throw VorkException("UpdateFunctionDispatch::startUpdate: the updateid BAUpdate is reserved");
    if (hasUpdateId) VORK_LOG(3, FixedLogText::Functions::kUpdateUsingId << statusLog.updateId());
    else VORK_LOG(3, FixedLogText::Functions::kUpdateNoUpdateId);
    VORK_LOG(3, FixedLogText::Functions::kUpdateStarting);

    const std::string commandLine = resumeCommandLine(properties, statusLog, hasUpdateId);
    const int packageTimeout = packageTimeoutOf(properties);
    applicator.processBundleParameters(properties, statusLog);
    call.cleanupAtEnd(true);
    recordSettings(properties, applicator, statusLog, packageTimeout);
    applicator.setCommandLine(commandLine);

    std::string priorLog;
    if (hasUpdateId && applicator.updateLogExists(statusLog.updateId(), priorLog)) {
        VORK_LOG(3, FixedLogText::Functions::kUpdateRemovingPrior);
        ::unlink(priorLog.c_str());
    }
    call.guard([&] { runBundle(call, applicator); });
    statusLog.setDocDateTime();
    // A record that cannot be written has set its status already.
    (void)UpdateFunctionBase::saveRecords(statusLog);
}

std::string UpdateFunctionDispatch::resumeCommandLine(const Properties& properties, BAXMLDoc& statusLog,
                                                      bool hasUpdateId) {
    // The command line goes into a unit file: anything that could break out
    // of its line is refused before any work starts.
    std::string commandLine;
    if (properties.getPropertyValue("restart-params", commandLine)) {
        if (VorkSupport::VorkStringUtilities::hasControlCharacter(commandLine))
            throw VorkException(
                "UpdateFunctionDispatch::resumeCommandLine: restart-params may hold no control character");
        return commandLine;
    }
    commandLine = "plimo zuacmd=resume";
    if (hasUpdateId) commandLine += " updateid=" + statusLog.updateId();
    return commandLine;
}

void UpdateFunctionDispatch::recordSettings(const Properties& properties, UpdateFunctionBase& applicator,
                                            BAXMLDoc& statusLog, int packageTimeout) {
    statusLog.reboot(isTrue(properties, "reboot"));
    statusLog.force(isTrue(properties, "force"));
    statusLog.clearPackage(properties.getProperty("clearpackage", "true") == "true");
    statusLog.notify(isTrue(properties, "notify"));
    statusLog.ignore(isTrue(properties, "ignore"));
    statusLog.continueOnFailure(isTrue(properties, "continueonfailure"));
    statusLog.preInstallEnv(isTrue(properties, "preinstenv"));
    statusLog.updateOnly(isTrue(properties, "updateonly"));
    applicator.processCallerReboot(properties, statusLog);
    applicator.processVerifyPolicy(properties, statusLog);
    if (packageTimeout > 0) statusLog.packageTimeout(packageTimeout);
}

void UpdateFunctionDispatch::runBundle(FunctionCall& call, UpdateFunctionBase& applicator) {
    BAXMLDoc& statusLog = call.log();
    Bundle bundle(&statusLog, false);
    // A service left over from an earlier update goes.
    applicator.remove();
    if (!statusLog.preInstallEnv()) bundle.notifyConsumers(false);
    int result = 0;
    {
        // Nobody's reboot may cut a package short; the lock goes before this
        // system asks for its own restart.
        const VorkSupport::VorkShutdownInhibitor inhibitor = applicator.inhibitShutdown(statusLog.updateId());
        result = UpdateFunctionBase::checkedRunResult(statusLog, bundle.execute(false));
    }
    statusLog.SMStatus(result);
    decide(result, bundle, call, applicator);
}

void UpdateFunctionDispatch::decide(int result, Bundle& bundle, FunctionCall& call, UpdateFunctionBase& applicator) {
    BAXMLDoc& statusLog = call.log();
    switch (result) {
        case StatusCode::Success:
        case StatusCode::PackageFailed:
        case StatusCode::FailedAndContinued:
        case StatusCode::EngineUpgradeMissing:
        case StatusCode::PackagesSkipped:
            // No completion is reported before it is durable.
            statusLog.save();
            if (!statusLog.preInstallEnv()) bundle.notifyConsumers(true);
            break;
        case StatusCode::RebootRequired: rebootBranch(bundle, call, applicator); break;
        case StatusCode::RebootRequiredWithFailures:
            if (statusLog.reboot())
                statusLog.SMStatus(statusLog.continueOnFailure() ? StatusCode::FailedAndContinued
                                                                 : StatusCode::PackageFailed);
            rebootBranch(bundle, call, applicator);
            break;
        case StatusCode::ResumeRequired: rebootBranch(bundle, call, applicator); break;
        default: break;
    }
}

void UpdateFunctionDispatch::rebootBranch(Bundle& bundle, FunctionCall& call, UpdateFunctionBase& applicator) {
    BAXMLDoc& statusLog = call.log();
    if (statusLog.rebootCount() < 3 && statusLog.reboot()) {
        // Without its resume service the update would never go on after the
        // restart: then it ends here, and the machine stays up.
        if (!applicator.install())
            throw VorkException("UpdateFunctionDispatch::rebootBranch: the resume service could not be installed");
        // The internal log carries the update across the restart, which is
        // asked for once the answer is complete.
        call.cleanupAtEnd(false);
        applicator.prepareRestart(statusLog);
        call.restartAtEnd([&applicator, &statusLog] { applicator.requestRestart(statusLog); });
        return;
    }
    UpdateFunctionBase::flagRebootRequired();
    statusLog.progressPercent(100);
    // No completion is reported before it is durable.
    statusLog.save();
    if (!statusLog.preInstallEnv()) bundle.notifyConsumers(true);
}
