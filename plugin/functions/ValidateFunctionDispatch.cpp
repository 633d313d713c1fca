#include "ValidateFunctionDispatch.h"

#include <exception>

#include "BAXMLDoc.h"
#include "Bundle.h"
#include "BundleApplicatorBase.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"

using VorkSupport::VorkException;

namespace {

int reportVorkException(const VorkException& e) {
    const int code = e.getCode() != 0 ? e.getCode() : 3079;
    VORK_LOG(1, "ValidateFunctionDispatch::execute: VorkException: \n"
                    << VorkSupport::VorkStringUtilities::narrow(e.getMessage(),
                                                                VorkSupport::VorkLocaleFactory::getDefaultLocale())
                    << ". code=" << code);
    return code;
}

int reportStdException(const std::exception& e) {
    VORK_LOG(1, "ValidateFunctionDispatch::execute: std::exception: \n" << e.what() << ". code=" << 3079);
    return 3079;
}

} // namespace

std::string ValidateFunctionDispatch::execute(const VorkSupport::VorkProperties<std::string>& properties) {
    VORK_TRACE("ValidateFunctionDispatch::execute");
    // The exclusive update is not taken: a validation may run beside an update.
    BAXMLDoc answerLog;
    BundleApplicatorBase applicator;

    try {
        applicator.processBundleParameters(properties, answerLog);
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
