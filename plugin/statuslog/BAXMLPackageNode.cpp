#include "BAXMLPackageNode.h"

#include "BAAnyXMLDoc.h"
#include "BAPackageEntries.h"
#include "BAPackageLogText.h"
#include "FixedLogTexts.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"

using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

BAXMLPackageNode::BAXMLPackageNode(BAPackageEntries* doc, xmlNodePtr package) : m_pEntries(doc), m_pPackage(package) {
    VORK_TRACE("BAXMLPackageNode::BAXMLPackageNode");
    if (m_pEntries == nullptr || m_pPackage == nullptr) {
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: no status log or no Package element");
    }
}

BAXMLPackageNode::BAXMLPackageNode(BAPackageEntries* doc, const std::string& releaseID, const std::string& path,
                                   const std::string& exeCmd, const std::string& packageType,
                                   const std::string& installParams, int updateOnly)
    : m_pEntries(doc), m_pPackage(nullptr) {
    VORK_TRACE("BAXMLPackageNode::BAXMLPackageNode");
    if (m_pEntries == nullptr) throw VorkException("BAXMLPackageNode::BAXMLPackageNode: no status log");
    m_pPackage = m_pEntries->createEntry(releaseID, path, exeCmd, packageType, installParams, updateOnly);
}

std::unique_ptr<BAXMLPackageNode>
BAXMLPackageNode::createInProgressPackage(BAPackageEntries* doc, const std::string& releaseID, const std::string& path,
                                          const std::string& exeCmd, const std::string& packageType,
                                          const std::string& installParams, int updateOnly) {
    VORK_TRACE("BAXMLPackageNode::createInProgressPackage");
    return std::make_unique<BAXMLPackageNode>(doc, releaseID, path, exeCmd, packageType, installParams, updateOnly);
}

void BAXMLPackageNode::createMissingPackage(BAPackageEntries* doc, const std::string& releaseID,
                                            const std::string& path, const std::string& packageType,
                                            const std::string& installParams, int updateOnly) {
    VORK_TRACE("BAXMLPackageNode::createMissingPackage");
    BAXMLPackageNode node(doc, releaseID, path, "", packageType, installParams, updateOnly);
    node.setMissing();
}

void BAXMLPackageNode::createSkippedPackage(BAPackageEntries* doc, const std::string& releaseID,
                                            const std::string& path, const std::string& packageType,
                                            const std::string& installParams, int updateOnly,
                                            const std::string& message) {
    VORK_TRACE("BAXMLPackageNode::createSkippedPackage");
    BAXMLPackageNode node(doc, releaseID, path, path, packageType, installParams, updateOnly);
    node.setSkipped(message);
}

void BAXMLPackageNode::setSkipped(const std::string& message) {
    VORK_TRACE("BAXMLPackageNode::setSkipped");
    m_pEntries->setEntryState(m_pPackage, "skipped");
    m_pEntries->setEntryNumber(m_pPackage, "status", 3);
    m_pEntries->setEntryNumber(m_pPackage, "code", 3);
    try {
        m_pEntries->appendEntryLog(m_pPackage, BAPackageLogText::xmlSafe(message), 3, NO_OS_ERROR_CODE);
    } catch (const VorkException& e) {
        if (e.kind() != VorkFailureKind::AllocationFailure) throw;
        VORK_LOG(1, FixedLogText::StatusLog::kSkippedPkgLogNotCreated);
        throw VorkException("BAXMLPackageNode::createSkippedPackage: unable to allocate PkgLog node",
                            VorkFailureKind::AllocationFailure);
    }
}

void BAXMLPackageNode::restart(const std::string& exeCmd) {
    VORK_TRACE("BAXMLPackageNode::restart");
    m_pEntries->setEntryState(m_pPackage, "in-progress");
    m_pEntries->setEntryCommand(m_pPackage, exeCmd);
}

void BAXMLPackageNode::setCommand(const std::string& exeCmd) {
    VORK_TRACE("BAXMLPackageNode::setCommand");
    m_pEntries->setEntryCommand(m_pPackage, exeCmd);
}

void BAXMLPackageNode::setMissing() {
    VORK_TRACE("BAXMLPackageNode::setMissing");
    m_pEntries->setEntryState(m_pPackage, "missing");
}

void BAXMLPackageNode::setSha256(const std::string& digest) {
    m_pEntries->setEntryAttribute(m_pPackage, "sha256", digest);
}

std::string BAXMLPackageNode::sha256() const {
    if (xmlHasProp(m_pPackage, reinterpret_cast<const xmlChar*>("sha256")) == nullptr) return std::string();
    return BAAnyXMLDoc::getStringAttribute(m_pPackage, "sha256");
}

void BAXMLPackageNode::setStatus(int nResultCode) {
    VORK_TRACE("BAXMLPackageNode::setStatus");
    int number = 1;
    switch (nResultCode) {
        case -1: number = 5; break;
        case 0: number = 2; break;
        case 1: number = 5; break;
        case 2: number = 3; break;
        case 3: number = 2; break;
        case 4: number = m_pEntries->rebootOption() ? 3 : 4; break;
        case 5: number = 2; break;
        default: number = 1; break;
    }
    m_pEntries->setEntryNumber(m_pPackage, "status", number);
}

void BAXMLPackageNode::setComplete(int nResultCode, const std::string& sQpkLogName, const std::string& sPrependMessage,
                                   int nOsErrorCode) {
    VORK_TRACE("BAXMLPackageNode::setComplete");
    m_pEntries->setEntryState(m_pPackage, "complete");
    m_pEntries->setEntryNumber(m_pPackage, "code", nResultCode);
    setStatus(nResultCode);
    setPackageLog(nResultCode, sQpkLogName, sPrependMessage, nOsErrorCode);
}

void BAXMLPackageNode::setPackageLog(int nResultCode, const std::string& sQpkLogName,
                                     const std::string& sPrependMessage, int nOsErrorCode) {
    VORK_TRACE("BAXMLPackageNode::setPackageLog");
    std::string text;
    if (!sPrependMessage.empty()) {
        text += sPrependMessage;
        if (!sQpkLogName.empty()) text += "\n\n";
    }
    if (!sQpkLogName.empty()) {
        bool opened = false;
        const bool bUnicode = BAPackageLogText::isUnicode(sQpkLogName, opened);
        if (!opened) {
            VORK_LOG(4, "BAXMLPackageNode::setPackageLog: Could not open file: " << sQpkLogName);
            // The entry still says what became of the run.
            m_pEntries->appendEntryLog(
                m_pPackage, BAPackageLogText::xmlSafe(text + "No output log could be read from " + sQpkLogName + "."),
                nResultCode, nOsErrorCode);
            throw VorkException("BAXMLPackageNode::setPackageLog: Unable to open file for unicode peek.",
                                StatusCode::UnknownException);
        }
        if (bUnicode) VORK_LOG(4, "BAXMLPackageNode::setPackageLog: setting bUnicode flag to true.");
        text += BAPackageLogText::read(sQpkLogName, bUnicode);
    }
    text = BAPackageLogText::xmlSafe(text);
    VORK_LOG(4, "BAXMLPackageNode::setPackageLog: log data (count=" << text.size() << ")\n" << text);
    if (text.empty()) return;
    m_pEntries->appendEntryLog(m_pPackage, text, nResultCode, nOsErrorCode);
}

std::string BAXMLPackageNode::ConvertWideToUtf8(const std::u16string& text) { return BAPackageLogText::toUtf8(text); }
