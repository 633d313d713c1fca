#include "BundlePackageMSP.h"

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "FixedLogTexts.h"
#include "StatusCode.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

int BundlePackageMSP::execute(bool& notRun) {
    VORK_TRACE("BundlePackageMSP::execute");
    notRun = false;
    int result = 0;

    // A patch that asked for a reboot is complete once the reboot is over: it
    // is not run again.
    settleRecordedState("BundlePackageMSP", true, result);
    if (!readyForOwnRun("BundlePackageMSP", notRun)) return result;

    // Installer arguments are not given to patches. The program receives the
    // package and log paths as one argument each.
    VorkSupport::VorkProgramCall call;
    call.programText = "msiexec.exe";
    call.arguments = {"/qn", "/p", m_sPackageAbsFileName, "/le", m_pStatusLog->qpkLogName, "REBOOT=REALLYSUPPRESS"};
    const std::string commandLine = call.joined();
    call.commandLine = commandLine;
    VORK_LOG(3, "BundlePackageMSP::execute: executing MSP.  sCommandLine="
                    << "|" << commandLine << "|");
    const std::unique_ptr<BAXMLPackageNode> entry = startEntry(commandLine, false);

    static constexpr RunTexts kRunTexts = {FixedLogText::Packages::kMspReturned,
                                           FixedLogText::Packages::kMspPackageMissing,
                                           FixedLogText::Packages::kMspMissing, 4};
    RunEnd end(kRunTexts);
    end.started = runProgram(call, m_nStatus, PackageRole::Argument);
    if (end.started) {
        switch (m_nStatus) {
            case 0: break;
            case 1634:
            case 1642: m_nStatus = STATUS_NOT_APPLICABLE; break;
            case 1641:
            case 3010: m_nStatus = preInstallEnvSetting() ? STATUS_REBOOT_REQUIRED : STATUS_SUCCESS; break;
            default: m_nStatus = STATUS_FAILED; break;
        }
    }
    if (!finishRun(*entry, end, result)) return result;
    if (m_nStatus == STATUS_FAILED) {
        VORK_LOG(2, "BundlePackageMSP::execute: MSP failed, reporting failure");
        result = StatusCode::PackageFailed;
    } else if (m_nStatus == STATUS_REBOOT_REQUIRED) {
        VORK_LOG(4, "BundlePackageMSP::execute: MSP requires reboot");
        result = StatusCode::RebootRequired;
    }
    return result;
}
