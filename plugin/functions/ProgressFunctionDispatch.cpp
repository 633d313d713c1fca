#include "ProgressFunctionDispatch.h"

#include "BAXMLDoc.h"
#include "FixedLogTexts.h"
#include "FunctionCall.h"
#include "LockProbe.h"
#include "StatusCode.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

namespace {

// How many times a log that changes hands is looked up.
constexpr int kLookupAttempts = 3;

} // namespace

std::string ProgressFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ProgressFunctionDispatch::execute");
    BundleApplicatorBase applicator;
    BAXMLDoc answerLog;
    FunctionCall call("ProgressFunctionDispatch::execute", applicator, answerLog);
    call.guard([&] {
        applicator.processBaseParameters(properties, answerLog);
        const std::string logTarget = answerLog.logTarget();
        lookUp(call, applicator, answerLog.updateId());
        if (!logTarget.empty()) {
            VORK_LOG(9, "ProgressFunctionDispatch::execute: Generating user log: |" << logTarget << "|");
            answerLog.saveTo(logTarget);
        }
    });
    return call.answer();
}

void ProgressFunctionDispatch::lookUp(FunctionCall& call, BundleApplicatorBase& applicator,
                                      const std::string& updateId) {
    for (int attempt = 0; attempt < kLookupAttempts; ++attempt) {
        std::string logName;
        if (updateId.empty() || !applicator.updateLogExists(updateId, logName)) {
            if (!applicator.defaultUpdateLogExists()) {
                VORK_LOG(9, FixedLogText::Functions::kProgressNoUpdate);
                call.setStatus(StatusCode::NoUpdateInProgress);
                return;
            }
            logName = applicator.internalLogName();
        }
        if (answerFromLog(call, applicator, logName)) return;
    }
    // The logs kept changing under us: report as if nothing were there.
    call.log().init();
    call.setStatus(StatusCode::NoUpdateInProgress);
}

bool ProgressFunctionDispatch::answerFromLog(FunctionCall& call, BundleApplicatorBase& applicator,
                                             const std::string& logName) {
    VORK_LOG(9, FixedLogText::Functions::kProgressFoundLog << logName << "|");
    BAXMLDoc storedLog(logName);
    storedLog.load();
    const bool internal = logName == applicator.internalLogName();
    const State state = stateOf(applicator, storedLog, internal);
    if (state == State::Absent) return false; // gone meanwhile: look again
    if (state == State::Waiting) {
        VORK_LOG(9, FixedLogText::Functions::kProgressNoUpdate);
        call.log().takeDocument(storedLog);
        return true;
    }
    // Whoever finds the lock held meanwhile waits for this moment to pass.
    const LockProbe probe(applicator.lockFileName());
    if (!applicator.startExclusiveUpdate()) {
        // A live update holds it: its last saved state is the answer.
        if (storedLog.getDocument() == nullptr) call.setStatus(StatusCode::UpdateInProgress);
        else call.log().takeDocument(storedLog);
        return true;
    }
    const bool answered = settleUnheldLog(call, applicator, storedLog, internal);
    applicator.endExclusiveUpdate();
    return answered;
}

bool ProgressFunctionDispatch::settleUnheldLog(FunctionCall& call, BundleApplicatorBase& applicator,
                                               BAXMLDoc& storedLog, bool internal) {
    storedLog.load();
    switch (stateOf(applicator, storedLog, internal)) {
        case State::Absent: return false;
        case State::Run:
            // Cut off, and nobody runs it: it is finished as interrupted and
            // kept, and its status is the answer.
            keepDeadUpdate(applicator, storedLog, true);
            break;
        case State::Unreadable:
            VORK_LOG(1, "ProgressFunctionDispatch::settleUnheldLog: the internal log cannot be read: "
                            << storedLog.getFileName());
            // Moved or not, nothing is resumed from it: the answer is the same.
            (void)applicator.moveInternalLogAside();
            call.setStatus(StatusCode::NoUpdateInProgress);
            return true;
        case State::Finished:
            // An update that ended without being finished off: its log becomes
            // its final log and is the answer.
            keepDeadUpdate(applicator, storedLog, false);
            break;
        case State::Waiting: break;
    }
    call.log().takeDocument(storedLog);
    return true;
}

void ProgressFunctionDispatch::keepDeadUpdate(BundleApplicatorBase& applicator, BAXMLDoc& storedLog, bool interrupted) {
    const std::string kept = storedLog.keepAsRecord(interrupted);
    VORK_LOG(3,
             "ProgressFunctionDispatch::keepDeadUpdate: the log of an update whose process died is kept as: " << kept);
    // Nothing is left to resume it, and nothing of an install cut off stays.
    (void)applicator.remove();
}

ProgressFunctionDispatch::State ProgressFunctionDispatch::stateOf(BundleApplicatorBase& applicator, BAXMLDoc& log,
                                                                  bool internal) {
    const State state = applicator.internalLogState(log);
    if (internal) return state;
    if (state == State::Finished) return State::Waiting;
    if (state == State::Unreadable) return State::Absent;
    return state;
}
