#include "ProgressFunctionDispatch.h"

#include <cstdio>
#include <exception>

#include "BAXMLDoc.h"
#include "BundleApplicatorBase.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;
using State = BundleApplicatorBase::InternalLogState;

namespace {

// A log that changes hands while we look at it (an update ending, moving its
// internal log to the final log) is looked up again, a few times at most.
constexpr int kLookupAttempts = 3;

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

void answerStatus(BAXMLDoc& answerLog, int code) {
    answerLog.SMStatus(code);
    answerLog.setDocDateTime();
}

// The remains of an update whose process died in the middle of a run go
// while we hold the lock, so a new update cannot start in between and lose
// its fresh files.
void clearAwayDeadUpdate(BundleApplicatorBase& applicator, BAXMLDoc& storedLog, const std::string& logName) {
    storedLog.removeTempFiles();
    const std::string internalLog = applicator.internalLogName();
    if (logName != internalLog) {
        VORK_LOG(3, "ProgressFunctionDispatch::execute: removing XML log file : " << logName);
        std::remove(logName.c_str());
    }
    VORK_LOG(3, "ProgressFunctionDispatch::execute: removing internal XML log file : " << internalLog);
    std::remove(internalLog.c_str());
    applicator.remove();
}

// What a loaded log records. A final log is finished already; one that
// cannot be read is looked up again, as one that is gone.
State stateOf(BundleApplicatorBase& applicator, BAXMLDoc& log, bool internal) {
    const State state = applicator.internalLogState(log);
    if (internal) return state;
    if (state == State::Finished) return State::Waiting;
    if (state == State::Unreadable) return State::Absent;
    return state;
}

// Under the lock, with the stored log loaded again: no process runs this
// update. False when the log went meanwhile and must be looked up again.
bool settleUnheldLog(BundleApplicatorBase& applicator, BAXMLDoc& storedLog, const std::string& logName,
                     bool internal, BAXMLDoc& answerLog) {
    storedLog.load();
    switch (stateOf(applicator, storedLog, internal)) {
    case State::Absent:
        return false;
    case State::Run:
        clearAwayDeadUpdate(applicator, storedLog, logName);
        answerStatus(answerLog, StatusCode::NoUpdateInProgress);
        return true;
    case State::Unreadable:
        VORK_LOG(1, "ProgressFunctionDispatch::execute: the internal log cannot be read: " << logName);
        // Moved or not, nothing is resumed from it: the answer is the same.
        (void)applicator.moveInternalLogAside();
        answerStatus(answerLog, StatusCode::NoUpdateInProgress);
        return true;
    case State::Finished:
        // An update that ended without being finished off: its log moves to
        // its final log (or goes, without an update id) and is the answer.
        VORK_LOG(3, "ProgressFunctionDispatch::execute: finishing the log of an ended update: " << logName);
        storedLog.cleanup();
        answerLog.takeDocument(storedLog);
        return true;
    case State::Waiting:
        break;
    }
    answerLog.takeDocument(storedLog);
    return true;
}

// Answers from one stored log. False when it must be looked up again.
bool answerFromLog(BundleApplicatorBase& applicator, const std::string& logName, BAXMLDoc& answerLog) {
    VORK_LOG(9, "ProgressFunctionDispatch::execute: found log file: |" << logName << "|");
    BAXMLDoc storedLog(logName);
    storedLog.load();
    const bool internal = logName == applicator.internalLogName();
    const State state = stateOf(applicator, storedLog, internal);
    if (state == State::Absent) return false;  // gone meanwhile: look again
    if (state == State::Waiting) {
        VORK_LOG(9, "ProgressFunctionDispatch::execute: No update in progress");
        answerLog.takeDocument(storedLog);
        return true;
    }
    if (!applicator.startExclusiveUpdate()) {
        // A live update holds it: its last saved state is the answer.
        if (storedLog.getDocument() == nullptr) answerStatus(answerLog, StatusCode::UpdateInProgress);
        else answerLog.takeDocument(storedLog);
        return true;
    }
    const bool answered = settleUnheldLog(applicator, storedLog, logName, internal, answerLog);
    applicator.endExclusiveUpdate();
    return answered;
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
                    answerStatus(answerLog, StatusCode::NoUpdateInProgress);
                    answered = true;
                    break;
                }
                logName = applicator.internalLogName();
            }
            answered = answerFromLog(applicator, logName, answerLog);
        }

        if (!answered) {
            // The logs kept changing under us: report as if nothing were there.
            answerLog.init();
            answerStatus(answerLog, StatusCode::NoUpdateInProgress);
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
