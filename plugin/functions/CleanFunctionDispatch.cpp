#include "CleanFunctionDispatch.h"

#include <cstdio>
#include <exception>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "StatusCode.h"
#include "VorkAtomicFile.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

std::string CleanFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("CleanFunctionDispatch::execute");
    BundleApplicatorBase applicator;
    BAXMLDoc answerLog;
    std::string logTarget;

    try {
        applicator.getLogTarget(properties, logTarget);

        if (applicator.startExclusiveUpdate()) {
            int code = 0;
            try {
                const std::string internalLog = applicator.internalLogName();
                if (applicator.defaultUpdateLogExists()) {
                    BAXMLDoc storedLog(internalLog);
                    storedLog.load();
                    if (applicator.internalLogState(storedLog) == BundleApplicatorBase::InternalLogState::Unreadable) {
                        // The one record of what happened is never deleted.
                        (void)applicator.moveInternalLogAside();
                    } else {
                        storedLog.removeTempFiles();
                        VORK_LOG(3, "CleanFunctionDispatch::execute: removing internal XML log file : " << internalLog);
                        std::remove(internalLog.c_str());
                    }
                }
                VorkSupport::VorkAtomicFile::removeStaleTemporaries(internalLog);
                if (applicator.getUpdateId(properties, answerLog)) {
                    const std::string updateId = answerLog.updateId();
                    std::string logName;
                    if (applicator.updateLogExists(updateId, logName)) {
                        VORK_LOG(3, "CleanFunctionDispatch::execute: cleaning up resources for updateid=" << updateId);
                        std::remove(logName.c_str());
                    }
                    VorkSupport::VorkAtomicFile::removeStaleTemporaries(logName);
                } else {
                    VORK_LOG(3, "CleanFunctionDispatch::execute: no updateid specified");
                }
                applicator.remove();
            } catch (const VorkException& e) {
                code = BundleApplicatorBase::reportException("CleanFunctionDispatch::execute: exception\n", e);
            } catch (const std::exception& e) {
                code = BundleApplicatorBase::reportException("CleanFunctionDispatch::execute: exception\n", e);
            }
            answerLog.SMStatus(code);
            answerLog.setDocDateTime();
            applicator.endExclusiveUpdate();
        } else {
            VORK_LOG(3, "CleanFunctionDispatch::execute: another update is running, returning update in progress status");
            answerLog.SMStatus(applicator.lockFailureStatus());
            answerLog.setDocDateTime();
        }

        if (!logTarget.empty()) answerLog.saveTo(logTarget);
    } catch (...) {
        VORK_LOG(1, "CleanFunctionDispatch::execute: generic exception"
                        << ". code=" << StatusCode::UnknownException);
        applicator.endExclusiveUpdate();
        answerLog.SMStatus(StatusCode::UnknownException);
        answerLog.setDocDateTime();
    }
    return answerLog.dumpRoot();
}
