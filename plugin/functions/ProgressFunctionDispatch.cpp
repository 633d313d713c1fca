#include "ProgressFunctionDispatch.h"

#include <cstdio>
#include <exception>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

namespace {

// A log that changes hands while we look at it (an update ending, moving its
// internal log to the final log) is looked up again, a few times at most.
constexpr int kLookupAttempts = 3;

bool hasDocument(const BAXMLDoc& log) { return log.getDocument() != nullptr; }

// Records a failure's status; an answer log that came from a file without a
// status element is replaced by a fresh one first.
void reportStatus(BAXMLDoc& answerLog, int code) {
    try {
        answerLog.SMStatus(code);
    } catch (const VorkException&) {
        answerLog.init();
        answerLog.SMStatus(code);
    }
    answerLog.setDocDateTime();
}

} // namespace

std::string ProgressFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ProgressFunctionDispatch::execute");
    BundleApplicatorBase applicator;
    BAXMLDoc answerLog;

    try {
        applicator.processBaseParameters(properties, answerLog);
        const std::string logTarget = answerLog.logTarget();
        const std::string updateId = answerLog.updateId();

        bool answered = false;
        for (int attempt = 0; attempt < kLookupAttempts && !answered; ++attempt) {
            std::string logName;
            bool found = false;
            if (!updateId.empty()) found = applicator.updateLogExists(updateId, logName);
            if (!found) {
                if (!applicator.defaultUpdateLogExists()) {
                    VORK_LOG(9, "ProgressFunctionDispatch::execute: No update in progress");
                    answerLog.SMStatus(3080);
                    answerLog.setDocDateTime();
                    answered = true;
                    break;
                }
                logName = applicator.internalLogName();
            }

            VORK_LOG(9, "ProgressFunctionDispatch::execute: found log file: |" << logName << "|");
            BAXMLDoc storedLog(logName);
            storedLog.load();
            if (!hasDocument(storedLog)) continue;  // gone meanwhile: look again

            bool dead = false;
            if (!storedLog.stable() && applicator.startExclusiveUpdate()) {
                // Nobody holds the lock, so no process runs this update. It may
                // have ended between our reading and our locking, though: only
                // a log that is still there and still cut off under the lock is
                // a dead update.
                storedLog.load();
                dead = hasDocument(storedLog) && !storedLog.stable();
                if (!dead) {
                    applicator.endExclusiveUpdate();
                    continue;
                }
            }

            if (!dead) {
                VORK_LOG(9, "ProgressFunctionDispatch::execute: No update in progress");
                answerLog.setFileName(logName);
                answerLog.load();
                if (!hasDocument(answerLog)) {
                    // Replaced or removed since we read it: start over.
                    answerLog.init();
                    continue;
                }
                answered = true;
                break;
            }

            // The dead update's remains go while we still hold the lock, so a
            // new update cannot start in between and lose its fresh files.
            storedLog.removeTempFiles();
            const std::string internalLog = applicator.internalLogName();
            if (logName != internalLog) {
                VORK_LOG(3, "ProgressFunctionDispatch::execute: removing XML log file : " << logName);
                std::remove(logName.c_str());
            }
            VORK_LOG(3, "ProgressFunctionDispatch::execute: removing internal XML log file : " << internalLog);
            std::remove(internalLog.c_str());
            applicator.remove();
            applicator.endExclusiveUpdate();
            answerLog.SMStatus(3080);
            answerLog.setDocDateTime();
            answered = true;
        }

        if (!answered) {
            // The logs kept changing under us: report as if nothing were there.
            answerLog.init();
            answerLog.SMStatus(3080);
            answerLog.setDocDateTime();
        }

        if (!logTarget.empty()) {
            VORK_LOG(9, "ProgressFunctionDispatch::execute: Generating user log: |" << logTarget << "|");
            answerLog.saveTo(logTarget);
        }
    } catch (const VorkException& e) {
        const int code =
            BundleApplicatorBase::reportException("ProgressFunctionDispatch::execute: VorkException: \n", e);
        applicator.endExclusiveUpdate();
        reportStatus(answerLog, code);
    } catch (const std::exception& e) {
        const int code =
            BundleApplicatorBase::reportException("ProgressFunctionDispatch::execute: std::exception: \n", e);
        applicator.endExclusiveUpdate();
        reportStatus(answerLog, code);
    }
    return answerLog.dumpRoot();
}
