#include "BundlePackageQPK.h"

#include "BAXMLDoc.h"
#include "BAXMLPackageNode.h"
#include "VorkException.h"
#include "VorkExecuteProgram.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;

BundlePackageQPK::BundlePackageQPK(BAXMLDoc* statusLog, const std::string& releaseID,
                                   const std::string& packageAbsFileName, const std::string& packageType,
                                   const std::string& installParams, int updateOnly)
    : BundlePackage(statusLog, releaseID, packageAbsFileName, packageType, installParams, updateOnly) {}

BundlePackageQPK::BundlePackageQPK(BAXMLDoc* statusLog, xmlNodePtr logNode) : BundlePackage(statusLog, logNode) {}

BundlePackageQPK::BundlePackageQPK(const BundlePackageQPK& other) = default;

BundlePackageQPK::~BundlePackageQPK() = default;

bool BundlePackageQPK::executeImpl() {
    throw VorkException("BundlePackageQPK::executeImpl: invalid code path encountered", 0);
}

void BundlePackageQPK::buildCommandLine() {
    throw VorkException("BundlePackageQPK::buildCommandLine: invalid code path encountered", 0);
}

int BundlePackageQPK::execute(bool& notRun) {
    VORK_TRACE("BundlePackageQPK::execute");
    notRun = false;
    int result = 0;
    bool restart = false;

    if (m_nState == STATE_IN_PROGRESS) {
        VORK_LOG(2, "BundlePackageQPK::execute: package already started, restarting");
        m_nState = STATE_NOT_RUN;
        m_nStatus = 0;
    } else if (m_nState == STATE_COMPLETE) {
        if (m_nStatus == 1) {
            VORK_LOG(4, "BundlePackageQPK::execute: package failed previously; report failed");
            result = 3072;
        } else if (m_nStatus == 2) {
            // The program asked for a reboot to finish its work: it runs
            // again on its existing entry.
            restart = true;
            m_bRestartAfterReboot = true;
            VORK_LOG(4,
                     "BundlePackageQPK::execute: package already executed, with hard dependency error, restarting");
            m_nState = STATE_NOT_RUN;
        } else if (m_nStatus == 4) {
            VORK_LOG(4,
                     "BundlePackageQPK::execute: package already executed, with hard dependency error, restarting");
            m_nState = STATE_NOT_RUN;
        }
    }

    if (m_nState == STATE_COMPLETE || m_nState == STATE_MISSING) {
        VORK_LOG(4, "BundlePackageQPK::execute: package already executed, skipping");
        notRun = true;
        return result;
    }
    if (m_nState != STATE_NOT_RUN) {
        VORK_LOG(1, "BundlePackageQPK::execute: invalid code path encountered");
        return result;
    }

    std::string commandLine = m_sPackageAbsFileName;
    if (forceSetting() && !restart) commandLine += " /f";
    commandLine += " /s /l=";
    commandLine += m_pStatusLog->qpkLogName;
    if (!m_sInstallParams.empty()) {
        commandLine += " ";
        commandLine += m_sInstallParams;
    }
    VORK_LOG(3, "BundlePackageQPK::execute: executing QPK.  sCommandLine=" << "|" << commandLine << "|");

    std::unique_ptr<BAXMLPackageNode> entry;
    if (restart) {
        entry = existingEntry(commandLine);
    } else {
        entry = m_pStatusLog->createPackage(m_sReleaseID, m_sPackageAbsFileName, commandLine, m_sPackageType,
                                            m_sInstallParams, m_nUpdateOnly);
        m_pStatusLog->save();
    }

    if (VorkSupport::VorkExecuteProgram(commandLine, true, nullptr, &m_nStatus)) {
        m_nState = STATE_COMPLETE;
        if (restart) {
            entry->setStatus(m_nStatus);
            entry->setPackageLog(m_nStatus, m_pStatusLog->qpkLogName, "", NO_OS_ERROR_CODE);
        } else {
            entry->setComplete(m_nStatus, m_pStatusLog->qpkLogName, "", NO_OS_ERROR_CODE);
        }
        m_pStatusLog->save();
        removeOutputLog();
        VORK_LOG(4, "BundlePackageQPK::execute: QPK " << m_sPackageAbsFileName << " releaseID " << m_sReleaseID
                    << " returned: " << m_nStatus << ".");
        switch (m_nStatus) {
        case 1:
            VORK_LOG(4, "BundlePackageQPK::execute: QPK failed, reporting failure");
            result = 3072;
            break;
        case 2:
            VORK_LOG(4, "BundlePackageQPK::execute: QPK requires reboot");
            result = 3073;
            break;
        case 4:
            VORK_LOG(4, "BundlePackageQPK::execute: QPK requires resume after reboot");
            result = 3074;
            break;
        case -1:
            VORK_LOG(4, "BundlePackageQPK::execute: QPK did not terminate properly");
            result = 3072;
            break;
        default:
            break;
        }
    } else {
        removeOutputLog();
        VORK_LOG(4, "BundlePackageQPK::execute: QPK package missing: " << m_sPackageAbsFileName << " - "
                    << m_sReleaseID << ".");
        m_nState = STATE_MISSING;
        m_nStatus = 0;
        if (!restart) {
            entry->setMissing();
            m_pStatusLog->save();
        }
        if (!ignoreSetting()) {
            VORK_LOG(4, "BundlePackageQPK::execute: QPK missing, generating exception");
            throw VorkException("BundlePackageQPK::execute: QPK missing", 3075);
        }
    }
    return result;
}
