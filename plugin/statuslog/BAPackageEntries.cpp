#include "BAPackageEntries.h"

#include <memory>
#include <vector>

#include "BAAnyXMLDoc.h"
#include "BALogChanges.h"
#include "FixedLogTexts.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "XmlOwnership.h"

using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

namespace {

const xmlChar* toXml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

const xmlChar* toXml(const std::string& text) { return toXml(text.c_str()); }

xmlNodePtr firstChildElement(xmlNodePtr parent, const char* name) {
    for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml(name))) return child;
    }
    return nullptr;
}

bool inProgress(xmlNodePtr status) {
    const XmlString state(status != nullptr ? xmlGetProp(status, toXml("state")) : nullptr);
    return state != nullptr && xmlStrEqual(state.get(), toXml("in-progress"));
}

} // namespace

void BAPackageEntries::attachEntries(xmlDocPtr doc) {
    m_pEntriesDocument = doc;
    m_inProgress.clear();
    xmlNodePtr root = doc != nullptr ? xmlDocGetRootElement(doc) : nullptr;
    for (xmlNodePtr child = root != nullptr ? root->children : nullptr; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml("Package")) &&
            inProgress(firstChildElement(child, "Status")))
            m_inProgress.insert(child);
    }
}

xmlNodePtr BAPackageEntries::createEntry(const std::string& releaseID, const std::string& path,
                                         const std::string& exeCmd, const std::string& packageType,
                                         const std::string& installParams, int updateOnly) {
    XmlNode package(xmlNewDocNode(m_pEntriesDocument, nullptr, toXml("Package"), nullptr));
    if (!package) {
        VORK_LOG(1, FixedLogText::StatusLog::kPackageNotCreated << path << " (" << releaseID << ")");
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate Package node",
                            VorkFailureKind::AllocationFailure);
    }
    if (!releaseID.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "releaseID", releaseID);
    if (!packageType.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "packageType", packageType);
    if (!installParams.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "installparams", installParams);
    if (updateOnly != -1) BAAnyXMLDoc::setBoolAttribute(package.get(), "updateonly", updateOnly == 1);
    BAAnyXMLDoc::setStringAttribute(package.get(), "path", path);

    xmlNodePtr status = xmlNewDocNode(m_pEntriesDocument, nullptr, toXml("Status"), nullptr);
    if (status == nullptr) {
        VORK_LOG(1, FixedLogText::StatusLog::kStatusNotCreated);
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate Status node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlAddChild(package.get(), status);
    BAAnyXMLDoc::setStringAttribute(status, "state", "in-progress");

    xmlNodePtr command = xmlNewDocNode(m_pEntriesDocument, nullptr, toXml("ExeCmd"), nullptr);
    if (command == nullptr) {
        VORK_LOG(1, FixedLogText::StatusLog::kExeCmdNotCreated);
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate ExeCmd node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlAddChild(package.get(), command);
    xmlNodePtr commandText = xmlNewText(toXml(exeCmd));
    if (commandText == nullptr) {
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate ExeCmd text node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlAddChild(command, commandText);

    xmlNodePtr root = m_pEntriesDocument != nullptr ? xmlDocGetRootElement(m_pEntriesDocument) : nullptr;
    if (root == nullptr || !xmlStrEqual(root->name, toXml("BundleLog")))
        throw VorkException(FixedLogText::StatusLog::kNoSuchNode, VorkFailureKind::NotFound);
    xmlNodePtr entry = package.release();
    xmlAddChild(root, entry);
    m_changes.appended(entry);
    m_inProgress.insert(entry);
    return entry;
}

xmlNodePtr BAPackageEntries::statusOf(xmlNodePtr entry) const {
    xmlNodePtr status = firstChildElement(entry, "Status");
    if (status == nullptr)
        throw VorkException("BAXMLPackageNode::statusNode: the Package element has no Status element");
    return status;
}

void BAPackageEntries::setEntryState(xmlNodePtr entry, const std::string& state) {
    BAAnyXMLDoc::setStringAttribute(statusOf(entry), "state", state);
    m_changes.changed(entry);
    if (state == "in-progress") m_inProgress.insert(entry);
    else m_inProgress.erase(entry);
}

void BAPackageEntries::setEntryNumber(xmlNodePtr entry, const std::string& name, int value) {
    BAAnyXMLDoc::setIntAttribute(statusOf(entry), name, value);
    m_changes.changed(entry);
}

void BAPackageEntries::setEntryAttribute(xmlNodePtr entry, const std::string& name, const std::string& value) {
    BAAnyXMLDoc::setStringAttribute(entry, name, value);
    m_changes.changed(entry);
}

void BAPackageEntries::setEntryCommand(xmlNodePtr entry, const std::string& exeCmd) {
    xmlNodePtr command = firstChildElement(entry, "ExeCmd");
    if (command == nullptr)
        throw VorkException("BAXMLPackageNode::setCommand: the Package element has no ExeCmd element");
    xmlNodeSetContent(command, nullptr);
    xmlNodePtr text = xmlNewText(toXml(exeCmd));
    if (text == nullptr)
        throw VorkException("BAXMLPackageNode::setCommand: unable to allocate ExeCmd text node",
                            VorkFailureKind::AllocationFailure);
    xmlAddChild(command, text);
    m_changes.changed(entry);
}

void BAPackageEntries::appendEntryLog(xmlNodePtr entry, const std::string& text, int code, int osErrorCode) {
    XmlNode log(xmlNewDocNode(m_pEntriesDocument, nullptr, toXml("PkgLog"), nullptr));
    if (!log) {
        VORK_LOG(1, FixedLogText::StatusLog::kPkgLogNotCreated);
        throw VorkException("BAXMLPackageNode::setPackageLog: unable to allocate PkgLog node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlNodePtr textNode = xmlNewText(toXml(text));
    if (textNode == nullptr) {
        VORK_LOG(1, FixedLogText::StatusLog::kPkgLogTextNotCreated);
        throw VorkException("BAXMLPackageNode::setPackageLog: unable to allocate PkgLog text node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlAddChild(log.get(), textNode);
    BAAnyXMLDoc::setIntAttribute(log.get(), "code", code);
    if (osErrorCode != -31415) BAAnyXMLDoc::setIntAttribute(log.get(), "osErrCode", osErrorCode);
    xmlAddChild(entry, log.release());
    m_changes.changed(entry);
}

bool BAPackageEntries::rebootOption() const {
    xmlNodePtr root = m_pEntriesDocument != nullptr ? xmlDocGetRootElement(m_pEntriesDocument) : nullptr;
    xmlNodePtr settings = root != nullptr && xmlStrEqual(root->name, toXml("BundleLog"))
                              ? firstChildElement(root, "BundleSettings")
                              : nullptr;
    if (settings == nullptr) throw VorkException(FixedLogText::StatusLog::kNoSuchNode, VorkFailureKind::NotFound);
    return BAAnyXMLDoc::getBoolAttribute(settings, "reboot");
}

int BAPackageEntries::closeInterruptedEntries(const std::string& text) {
    // In document order, so the log reads the same whichever way it was
    // reached.
    std::vector<xmlNodePtr> open;
    xmlNodePtr root = m_pEntriesDocument != nullptr ? xmlDocGetRootElement(m_pEntriesDocument) : nullptr;
    if (!m_inProgress.empty() && root != nullptr) {
        for (xmlNodePtr child = root->children; child != nullptr; child = child->next)
            if (m_inProgress.count(child) != 0) open.push_back(child);
    }
    for (xmlNodePtr entry : open) {
        VORK_LOG(2, "BAXMLDoc::closeInterruptedEntries: closing an entry whose run was cut off");
        setEntryState(entry, "complete");
        setEntryNumber(entry, "code", -1);
        setEntryNumber(entry, "status", 5);
        appendEntryLog(entry, text, -1, -31415);
    }
    return static_cast<int>(open.size());
}
