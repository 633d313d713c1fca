#pragma once
#include <string>

#include "BundleApplicatorBase.h"
#include "FunctionDispatch.h"

class BAXMLDoc;
class FunctionCall;

// "progress": answers the final log of the given update, or the internal log
// of the update under way or waiting for its resume. The log of an update
// whose process died is never deleted: it is finished (as interrupted when a
// run was cut off, status 3079) and kept as the final log of its update id,
// and that is the answer.
class ProgressFunctionDispatch : public DataAccess::zua::FunctionDispatch<std::string> {
public:
    std::string execute(const VorkSupport::VorkProperties<std::string>& properties) override;

private:
    using State = BundleApplicatorBase::InternalLogState;

    // Finds the log to answer from and answers from it; a log that changes
    // hands meanwhile (an update ending) is looked up again, a few times.
    static void lookUp(FunctionCall& call, BundleApplicatorBase& applicator, const std::string& updateId);
    // Answers from one stored log. False when it must be looked up again.
    static bool answerFromLog(FunctionCall& call, BundleApplicatorBase& applicator, const std::string& logName);
    // Under the lock, with the stored log loaded again: no process runs this
    // update. False when the log went meanwhile and must be looked up again.
    static bool settleUnheldLog(FunctionCall& call, BundleApplicatorBase& applicator, BAXMLDoc& storedLog,
                                bool internal);
    // The log of an update whose process died is finished and kept while we
    // hold the lock, so a new update cannot start in between.
    static void keepDeadUpdate(BundleApplicatorBase& applicator, BAXMLDoc& storedLog, bool interrupted);
    // What a loaded log records. A final log is finished already; one that
    // cannot be read is looked up again, as one that is gone.
    static State stateOf(BundleApplicatorBase& applicator, BAXMLDoc& log, bool internal);
};
