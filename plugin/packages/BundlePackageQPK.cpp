#include "BundlePackageQPK.h"

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

bool BundlePackageQPK::executeImpl() {
    throw VorkException("BundlePackageQPK::executeImpl: invalid code path encountered");
}

void BundlePackageQPK::buildCommandLine() {
    throw VorkException("BundlePackageQPK::buildCommandLine: invalid code path encountered");
}

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
    VORK_LOG(3, "BundlePackageQPK::execute: executing QPK.  sCommandLine=" << "|" << commandLine << "|");

    const std::unique_ptr<BAXMLPackageNode> entry = startEntry(commandLine, restart);

    if (runProgram(call, m_nStatus, PackageRole::Program)) {
        m_nState = STATE_COMPLETE;
        recordRun(*entry, m_pStatusLog->qpkLogName, "", NO_OS_ERROR_CODE);
        VORK_LOG(4, "BundlePackageQPK::execute: QPK " << m_sPackageAbsFileName << " releaseID " << m_sReleaseID
                    << " returned: " << m_nStatus << ".");
        result = resultOfRun();
    } else if (!refusedAtStart(*entry, result)) {
        removeOutputLog();
        VORK_LOG(4, "BundlePackageQPK::execute: QPK package missing: " << m_sPackageAbsFileName << " - "
                    << m_sReleaseID << ".");
        // An entry carried over from before the reboot keeps what it holds.
        recordMissing(restart ? nullptr : entry.get(), "BundlePackageQPK::execute: QPK missing", 4);
    }
    return result;
}

int BundlePackageQPK::resultOfRun() const {
    switch (m_nStatus) {
    case STATUS_FAILED:
        VORK_LOG(4, "BundlePackageQPK::execute: QPK failed, reporting failure");
        return StatusCode::PackageFailed;
    case STATUS_REBOOT_REQUIRED:
        VORK_LOG(4, "BundlePackageQPK::execute: QPK requires reboot");
        return StatusCode::RebootRequired;
    case STATUS_RESUME_REQUIRED:
        VORK_LOG(4, "BundlePackageQPK::execute: QPK requires resume after reboot");
        return StatusCode::ResumeRequired;
    case -1:
        VORK_LOG(4, "BundlePackageQPK::execute: QPK did not terminate properly");
        return StatusCode::PackageFailed;
    default:
        return 0;
    }
}
