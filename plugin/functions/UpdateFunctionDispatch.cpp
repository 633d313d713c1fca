#include "UpdateFunctionDispatch.h"

#include <unistd.h>

#include <exception>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "StatusCode.h"
#include "UpdateFunctionBase.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;
using VorkSupport::VorkProperties;

namespace {

const char* const kVorkPrefix = "UpdateFunctionDispatch::execute: VorkException: \n";
const char* const kStdPrefix = "UpdateFunctionDispatch::execute: std::exception: \n";


bool isTrue(const VorkProperties<std::string>& properties, const char* key) {
    return properties.getProperty(key, "") == "true";
}

// The time limit of packages without one of their own (key
// packagetimeout), 0 when not given. A value that is not a positive whole
// number of seconds is refused before anything runs.
int packageTimeoutOf(const VorkProperties<std::string>& properties) {
    std::string text;
    if (!properties.getPropertyValue("packagetimeout", text)) return 0;
    int seconds = 0;
    if (!BundleDefinition::readTimeout(text, seconds))
        throw VorkException("UpdateFunctionDispatch::execute: packagetimeout must be a positive whole number of "
                            "seconds: |" + text + "|",
                            StatusCode::UnknownException);
    return seconds;
}

// Runs the bundle and decides what follows its result: the end of the
// update, or the resume service and a restart.
void runBundle(UpdateFunctionBase& applicator, BAXMLDoc& statusLog, bool& cleanupAtEnd) {
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

    auto rebootBranch = [&](bool saveBeforeNotify) {
        if (statusLog.rebootCount() < 3 && statusLog.reboot()) {
            // Without its resume service the update would never go on after
            // the restart: then it ends here, and the machine stays up.
            if (!applicator.install())
                throw VorkException("UpdateFunctionDispatch::execute: the resume service could not be installed", 0);
            // The internal log carries the update across the restart.
            cleanupAtEnd = false;
            statusLog.rebootCount(statusLog.rebootCount() + 1);
            statusLog.save();
            if (!statusLog.logTarget().empty()) statusLog.saveTo(statusLog.logTarget());
            applicator.rebootOrFlag();
        } else {
            UpdateFunctionBase::flagRebootRequired();
            statusLog.progressPercent(100);
            if (saveBeforeNotify) statusLog.save();
            if (!statusLog.preInstallEnv()) bundle.notifyConsumers(true);
        }
    };

    switch (result) {
    case 0:
    case StatusCode::PackageFailed:
    case StatusCode::FailedAndContinued:
    case StatusCode::EngineUpgradeMissing:
    case StatusCode::PackagesSkipped:
        if (!statusLog.preInstallEnv()) bundle.notifyConsumers(true);
        break;
    case StatusCode::RebootRequired:
        rebootBranch(true);
        break;
    case StatusCode::RebootRequiredWithFailures:
        if (statusLog.reboot())
            statusLog.SMStatus(statusLog.continueOnFailure() ? StatusCode::FailedAndContinued
                                                             : StatusCode::PackageFailed);
        rebootBranch(true);
        break;
    case StatusCode::ResumeRequired:
        rebootBranch(false);
        break;
    default:
        break;
    }
}

// What an earlier update left, while we hold the lock: a run that was cut
// off (nobody is running it any more) is cleared away, a finished update is
// finished off, and a log that cannot be read is moved aside. An update
// waiting for its resume stays.
void clearPreviousUpdate(UpdateFunctionBase& applicator) {
    BAXMLDoc previous(applicator.internalLogName());
    previous.load();
    switch (applicator.internalLogState(previous)) {
    case BundleApplicatorBase::InternalLogState::Unreadable:
        // A log that cannot be moved stays, and the update below finds it.
        (void)applicator.moveInternalLogAside();
        break;
    case BundleApplicatorBase::InternalLogState::Run:
        previous.removeTempFiles();
        VORK_LOG(3, "UpdateFunctionDispatch::execute: removing internal XML log file : " << previous.getFileName());
        ::unlink(previous.getFileName().c_str());
        applicator.remove();
        break;
    case BundleApplicatorBase::InternalLogState::Finished:
        VORK_LOG(3, "UpdateFunctionDispatch::execute: finishing the log of an ended update: "
                        << previous.getFileName());
        previous.cleanup();
        break;
    default:
        break;
    }
}

} // namespace

std::string UpdateFunctionDispatch::execute(const VorkProperties<std::string>& properties) {
    VORK_TRACE("UpdateFunctionDispatch::execute");
    UpdateFunctionBase applicator;
    BAXMLDoc statusLog(applicator.internalLogName());
    bool cleanupAtEnd = false;

    if (!applicator.startExclusiveUpdate()) {
        VORK_LOG(3, "UpdateFunctionDispatch::execute: the PLIMO is already running, returning update in progress "
                    "status");
        statusLog.SMStatus(applicator.lockFailureStatus());
        statusLog.setDocDateTime();
        return statusLog.dumpRoot();
    }

    try {
        applicator.setQpkLog(statusLog);

        if (applicator.defaultUpdateLogExists()) clearPreviousUpdate(applicator);

        if (applicator.defaultUpdateLogExists()) {
            // A stable internal log waits for its resume.
            VORK_LOG(1, "UpdateFunctionDispatch::execute: update already in progress");
            statusLog.SMStatus(StatusCode::UpdateInProgress);
        } else {
            bool hasUpdateId = applicator.getUpdateId(properties, statusLog);
            // The final log of such an id would be the internal log itself and
            // would block every later update.
            if (hasUpdateId && statusLog.updateId() == "BAUpdate")
                throw VorkException("UpdateFunctionDispatch::execute: the updateid BAUpdate is reserved", 0);
            if (hasUpdateId)
                VORK_LOG(3, "UpdateFunctionDispatch::execute: using updateid=" << statusLog.updateId());
            else
                VORK_LOG(3, "UpdateFunctionDispatch::execute: no updateid specified");
            VORK_LOG(3, "UpdateFunctionDispatch::execute: starting new update");

            // The resume service's command line goes into a unit file: refuse
            // anything that could break out of its line before any work starts.
            std::string commandLine;
            if (properties.getPropertyValue("restart-params", commandLine)) {
                if (VorkSupport::VorkStringUtilities::hasControlCharacter(commandLine))
                    throw VorkException("UpdateFunctionDispatch::execute: restart-params may hold no control "
                                        "character",
                                        0);
            } else {
                commandLine = "plimo zuacmd=resume";
                if (hasUpdateId) commandLine += " updateid=" + statusLog.updateId();
            }

            const int packageTimeout = packageTimeoutOf(properties);

            applicator.processBundleParameters(properties, statusLog);
            cleanupAtEnd = true;

            statusLog.reboot(isTrue(properties, "reboot"));
            statusLog.force(isTrue(properties, "force"));
            statusLog.clearPackage(properties.getProperty("clearpackage", "true") == "true");
            statusLog.notify(isTrue(properties, "notify"));
            statusLog.ignore(isTrue(properties, "ignore"));
            statusLog.continueOnFailure(isTrue(properties, "continueonfailure"));
            statusLog.preInstallEnv(isTrue(properties, "preinstenv"));
            statusLog.updateOnly(isTrue(properties, "updateonly"));
            applicator.processVerifyPolicy(properties, statusLog);
            if (packageTimeout > 0) statusLog.packageTimeout(packageTimeout);

            applicator.setCommandLine(commandLine);

            std::string priorLog;
            if (hasUpdateId && applicator.updateLogExists(statusLog.updateId(), priorLog)) {
                VORK_LOG(3, "UpdateFunctionDispatch::execute: removing prior update with same updateid");
                ::unlink(priorLog.c_str());
            }

            try {
                runBundle(applicator, statusLog, cleanupAtEnd);
            } catch (const VorkException& e) {
                statusLog.SMStatus(BundleApplicatorBase::reportException(kVorkPrefix, e));
            } catch (const std::exception& e) {
                statusLog.SMStatus(BundleApplicatorBase::reportException(kStdPrefix, e));
            }

            statusLog.setDocDateTime();
            // A record that cannot be written has set its status already.
            (void)UpdateFunctionBase::saveRecords(statusLog);
        }
    } catch (const VorkException& e) {
        statusLog.SMStatus(BundleApplicatorBase::reportException(kVorkPrefix, e));
        statusLog.setDocDateTime();
    } catch (const std::exception& e) {
        statusLog.SMStatus(BundleApplicatorBase::reportException(kStdPrefix, e));
        statusLog.setDocDateTime();
    }

    if (cleanupAtEnd) {
        try {
            statusLog.cleanup();
        } catch (const VorkException& e) {
            statusLog.SMStatus(BundleApplicatorBase::reportException(kVorkPrefix, e));
        }
    }
    applicator.endExclusiveUpdate();
    return statusLog.dumpRoot();
}
