#include "BundlePackageMSP.h"

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

BundlePackageMSP::BundlePackageMSP(BAXMLDoc* statusLog, const std::string& releaseID,
                                   const std::string& packageAbsFileName, const std::string& packageType,
                                   const std::string& installParams, int updateOnly)
    : BundlePackage(statusLog, releaseID, packageAbsFileName, packageType, installParams, updateOnly) {}

BundlePackageMSP::BundlePackageMSP(BAXMLDoc* statusLog, xmlNodePtr logNode) : BundlePackage(statusLog, logNode) {}

BundlePackageMSP::BundlePackageMSP(const BundlePackageMSP& other) = default;

BundlePackageMSP::~BundlePackageMSP() = default;

bool BundlePackageMSP::executeImpl() {
    throw VorkException("BundlePackageMSP::executeImpl: invalid code path encountered", 0);
}

void BundlePackageMSP::buildCommandLine() {
    throw VorkException("BundlePackageMSP::buildCommandLine: invalid code path encountered", 0);
}

int BundlePackageMSP::execute(bool& notRun) {
    VORK_TRACE("BundlePackageMSP::execute");
    notRun = false;
    int result = 0;

    if (m_nState == STATE_IN_PROGRESS) {
        VORK_LOG(2, "BundlePackageMSP::execute: package already started, restarting");
        m_nState = STATE_NOT_RUN;
        m_nStatus = 0;
    } else if (m_nState == STATE_COMPLETE) {
        if (m_nStatus == 1) {
            VORK_LOG(4, "BundlePackageMSP::execute: package failed previously; report failed");
            result = 3072;
        } else if (m_nStatus == 2) {
            // The reboot has completed the patch: not run again.
            VORK_LOG(4,
                     "BundlePackageMSP::execute: package already executed, with hard dependency error, restarting");
            m_bRestartAfterReboot = true;
            markCompleteAfterReboot();
        } else if (m_nStatus == 4) {
            VORK_LOG(4,
                     "BundlePackageMSP::execute: package already executed, with hard dependency error, restarting");
            m_nState = STATE_NOT_RUN;
        }
    }

    if (m_nState == STATE_COMPLETE || m_nState == STATE_MISSING) {
        VORK_LOG(4, "BundlePackageMSP::execute: package already executed, skipping");
        notRun = true;
        return result;
    }
    if (m_nState != STATE_NOT_RUN) {
        VORK_LOG(1, "BundlePackageMSP::execute: invalid code path encountered");
        return result;
    }

    // Installer arguments are not given to patches.
    const std::string commandLine = "msiexec.exe /qn /p " + m_sPackageAbsFileName + " /le " +
                                    m_pStatusLog->qpkLogName + " REBOOT=REALLYSUPPRESS";
    VORK_LOG(3, "BundlePackageMSP::execute: executing MSP.  sCommandLine=" << "|" << commandLine << "|");
    std::unique_ptr<BAXMLPackageNode> entry = m_pStatusLog->createPackage(
        m_sReleaseID, m_sPackageAbsFileName, commandLine, m_sPackageType, m_sInstallParams, m_nUpdateOnly);
    m_pStatusLog->save();

    if (VorkSupport::VorkExecuteProgram(commandLine, true, nullptr, &m_nStatus)) {
        switch (m_nStatus) {
        case 0: break;
        case 1634:
        case 1642: m_nStatus = 5; break;
        case 1641:
        case 3010: m_nStatus = preInstallEnvSetting() ? 2 : 0; break;
        default: m_nStatus = 1; break;
        }
        m_nState = STATE_COMPLETE;
        entry->setComplete(m_nStatus, m_pStatusLog->qpkLogName, "", NO_OS_ERROR_CODE);
        m_pStatusLog->save();
        removeOutputLog();
        VORK_LOG(4, "BundlePackageMSP::execute: MSP " << m_sPackageAbsFileName << " releaseID " << m_sReleaseID
                    << " returned: " << m_nStatus << ".");
        if (m_nStatus == 1) {
            VORK_LOG(2, "BundlePackageMSP::execute: MSP failed, reporting failure");
            result = 3072;
        } else if (m_nStatus == 2) {
            VORK_LOG(4, "BundlePackageMSP::execute: MSP requires reboot");
            result = 3073;
        }
    } else {
        removeOutputLog();
        VORK_LOG(4, "BundlePackageMSP::execute: MSP package missing: " << m_sPackageAbsFileName << " - "
                    << m_sReleaseID << ".");
        m_nState = STATE_MISSING;
        m_nStatus = 0;
        entry->setMissing();
        m_pStatusLog->save();
        if (!ignoreSetting()) {
            VORK_LOG(4, "BundlePackageMSP::execute: MSP missing, generating exception");
            throw VorkException("BundlePackageMSP::execute: MSP missing", 3075);
        }
    }
    return result;
}
