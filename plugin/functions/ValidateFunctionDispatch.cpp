#include "ValidateFunctionDispatch.h"

#include <exception>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleApplicatorBase.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

namespace {

int reportVorkException(const VorkException& e) {
    return BundleApplicatorBase::reportException("ValidateFunctionDispatch::execute: VorkException: \n", e);
}

int reportStdException(const std::exception& e) {
    return BundleApplicatorBase::reportException("ValidateFunctionDispatch::execute: std::exception: \n", e);
}

} // namespace

std::string ValidateFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ValidateFunctionDispatch::execute");
    // The exclusive update is not taken: a validation may run beside an update.
    BAXMLDoc answerLog;
    BundleApplicatorBase applicator;

    try {
        applicator.processBundleParameters(properties, answerLog);
        applicator.processVerifyPolicy(properties, answerLog);
        try {
            Bundle bundle(&answerLog, false);
            answerLog.SMStatus(bundle.validate(false, false));
        } catch (const VorkException& e) {
            answerLog.SMStatus(reportVorkException(e));
            answerLog.progressPercent(100);
        } catch (const std::exception& e) {
            answerLog.SMStatus(reportStdException(e));
            answerLog.progressPercent(100);
        }
        answerLog.setDocDateTime();
        const std::string logTarget = answerLog.logTarget();
        if (!logTarget.empty()) answerLog.saveTo(logTarget);
    } catch (const VorkException& e) {
        answerLog.SMStatus(reportVorkException(e));
        answerLog.progressPercent(100);
        answerLog.setDocDateTime();
    } catch (const std::exception& e) {
        answerLog.SMStatus(reportStdException(e));
        answerLog.progressPercent(100);
        answerLog.setDocDateTime();
    }

    // The answer log has no file name: this only removes a directory that
    // was extracted from a bundle package.
    answerLog.cleanup();
    return answerLog.dumpRoot();
}
