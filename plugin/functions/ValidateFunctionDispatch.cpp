#include "ValidateFunctionDispatch.h"

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleApplicatorBase.h"
#include "FunctionCall.h"
#include "VorkScopeTrace.h"

std::string ValidateFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ValidateFunctionDispatch::execute");
    // The exclusive update is not taken: a validation may run beside an update.
    BAXMLDoc answerLog;
    BundleApplicatorBase applicator;
    FunctionCall call("ValidateFunctionDispatch::execute", applicator, answerLog);
    // The answer log has no file name: its clean-up only removes a directory
    // that was extracted from a bundle package.
    call.cleanupAtEnd(true);
    const bool checked = call.guard([&] {
        applicator.processBundleParameters(properties, answerLog);
        applicator.processVerifyPolicy(properties, answerLog);
        const bool validated = call.guard([&] {
            Bundle bundle(&answerLog, false);
            answerLog.SMStatus(bundle.validate(false, false));
        });
        if (!validated) answerLog.progressPercent(100);
        answerLog.setDocDateTime();
        const std::string logTarget = answerLog.logTarget();
        if (!logTarget.empty()) answerLog.saveTo(logTarget);
    });
    if (!checked) answerLog.progressPercent(100);
    return call.answer();
}
