#include "BundlePackageQPK.h"

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "FixedLogTexts.h"
#include "StatusCode.h"
#include "VorkExecuteProgram.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

int BundlePackageQPK::execute(bool& notRun) {
    VORK_TRACE("BundlePackageQPK::execute");
    notRun = false;
    int result = 0;

    // A program that asked for a reboot to finish its work runs again, on its
    // existing entry.
    const bool restart = settleRecordedState("BundlePackageQPK", false, result);
    if (!readyForOwnRun("BundlePackageQPK", notRun)) return result;

    // The recorded command line is the package path and its arguments joined
    // by blanks; the program receives the log path as one argument whatever
    // it holds.
    VorkSupport::VorkProgramCall call;
    call.programText = m_sPackageAbsFileName;
    if (forceSetting() && !restart) call.arguments.push_back("/f");
    call.arguments.push_back("/s");
    call.arguments.push_back("/l=" + m_pStatusLog->qpkLogName);
    std::string commandLine = call.joined();
    if (!m_sInstallParams.empty()) {
        commandLine += " ";
        commandLine += m_sInstallParams;
        for (const std::string& word : VorkSupport::VorkSplitCommandLine(m_sInstallParams))
            call.arguments.push_back(word);
    }
    call.commandLine = commandLine;
    VORK_LOG(3, "BundlePackageQPK::execute: executing QPK.  sCommandLine="
                    << "|" << commandLine << "|");

    const std::unique_ptr<BAXMLPackageNode> entry = startEntry(commandLine, restart);

    static constexpr RunTexts kRunTexts = {FixedLogText::Packages::kQpkReturned,
                                           FixedLogText::Packages::kQpkPackageMissing,
                                           FixedLogText::Packages::kQpkMissing, 4};
    RunEnd end(kRunTexts);
    end.started = runProgram(call, m_nStatus, PackageRole::Program);
    // An entry carried over from before the reboot keeps what it holds.
    end.keepEntryWhenMissing = restart;
    if (finishRun(*entry, end, result)) result = resultOfRun();
    return result;
}

int BundlePackageQPK::resultOfRun() const {
    switch (m_nStatus) {
        case STATUS_FAILED: VORK_LOG(4, FixedLogText::Packages::kQpkFailed); return StatusCode::PackageFailed;
        case STATUS_REBOOT_REQUIRED:
            VORK_LOG(4, FixedLogText::Packages::kQpkRebootRequired);
            return StatusCode::RebootRequired;
        case STATUS_RESUME_REQUIRED:
            VORK_LOG(4, FixedLogText::Packages::kQpkResumeRequired);
            return StatusCode::ResumeRequired;
        case -1: VORK_LOG(4, FixedLogText::Packages::kQpkNotTerminated); return StatusCode::PackageFailed;
        default: return 0;
    }
}
