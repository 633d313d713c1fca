#include "CleanFunctionDispatch.h"

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "FixedLogTexts.h"
#include "FunctionCall.h"
#include "MetricsFile.h"
#include "StatusCode.h"
#include "VorkAtomicFile.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

std::string CleanFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("CleanFunctionDispatch::execute");
    BundleApplicatorBase applicator;
    BAXMLDoc answerLog;
    FunctionCall call("CleanFunctionDispatch::execute", applicator, answerLog);
    FunctionCall::Reporting anyFailure =
        FunctionCall::Reporting::withPrefix("CleanFunctionDispatch::execute: generic exception");
    anyFailure.generic = true;
    const FunctionCall::Reporting deletionFailure =
        FunctionCall::Reporting::withPrefix("CleanFunctionDispatch::execute: exception\n");
    std::string logTarget;
    call.guard(anyFailure, [&] {
        applicator.getLogTarget(properties, logTarget);
        if (call.takeLock()) {
            if (call.guard(deletionFailure, [&] { removeEverything(properties, applicator, answerLog); }))
                call.setStatus(StatusCode::Success);
            const MetricsFile metrics(MetricsFile::Call::Clean, call);
            call.releaseLock();
            metrics.write();
        } else {
            VORK_LOG(3, "CleanFunctionDispatch::execute: another update is running, returning update in progress "
                        "status");
        }
        if (!logTarget.empty()) answerLog.saveTo(logTarget);
    });
    return call.answer();
}

void CleanFunctionDispatch::removeEverything(const VorkSupport::VorkProperties<std::string>& properties,
                                             BundleApplicatorBase& applicator, BAXMLDoc& answerLog) {
    const std::string internalLog = applicator.internalLogName();
    if (applicator.defaultUpdateLogExists()) {
        BAXMLDoc storedLog(internalLog);
        storedLog.load();
        if (applicator.internalLogState(storedLog) == BundleApplicatorBase::InternalLogState::Unreadable) {
            // The one record of what happened is never deleted.
            (void)applicator.moveInternalLogAside();
        } else {
            storedLog.removeTempFiles();
            VORK_LOG(3, FixedLogText::Functions::kCleanRemovingInternalLog << internalLog);
            BAXMLDoc::removeFile(internalLog);
        }
    }
    VorkSupport::VorkAtomicFile::removeStaleTemporaries(internalLog);
    if (applicator.getUpdateId(properties, answerLog)) {
        const std::string updateId = answerLog.updateId();
        std::string logName;
        if (applicator.updateLogExists(updateId, logName)) {
            VORK_LOG(3, FixedLogText::Functions::kCleanResources << updateId);
            BAXMLDoc::removeFile(logName);
        }
        VorkSupport::VorkAtomicFile::removeStaleTemporaries(logName);
    } else {
        VORK_LOG(3, FixedLogText::Functions::kCleanNoUpdateId);
    }
    applicator.remove();
}
