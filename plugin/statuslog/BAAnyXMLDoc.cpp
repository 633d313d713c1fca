#include "BAAnyXMLDoc.h"

#include <cstdio>
#include <cstdlib>

#include "BAXmlText.h"
#include "FixedLogTexts.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XPathNodeList.h"
#include "getAbsolutePath.h"
#include "XmlOwnership.h"

using VorkSupport::VorkAtomicFile;
using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

namespace {

const xmlChar* toXml(const std::string& text) { return reinterpret_cast<const xmlChar*>(text.c_str()); }

// Leading blanks, a sign and the leading digits; anything else ignored.
// Out-of-range values are clamped instead of overflowing.
int intOf(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > 2147483647LL) return 2147483647;
    if (value < -2147483647LL - 1) return -2147483647 - 1;
    return static_cast<int>(value);
}

} // namespace

BAAnyXMLDoc::BAAnyXMLDoc() = default;

BAAnyXMLDoc::BAAnyXMLDoc(const std::string& fileName, bool loadNow) {
    VORK_TRACE("BAAnyXMLDoc::BAAnyXMLDoc");
    setFileName(fileName);
    if (loadNow) replaceDocument(BAXmlText::parseFile(m_sFileName));
}

BAAnyXMLDoc::~BAAnyXMLDoc() {
    if (m_pDocument != nullptr) xmlFreeDoc(m_pDocument);
}

void BAAnyXMLDoc::replaceDocument(xmlDocPtr doc) {
    if (m_pDocument != nullptr && m_pDocument != doc) xmlFreeDoc(m_pDocument);
    m_pDocument = doc;
}

void BAAnyXMLDoc::load() {
    VORK_TRACE("BAAnyXMLDoc::load");
    replaceDocument(nullptr);
    replaceDocument(BAXmlText::parseFile(m_sFileName));
}

void BAAnyXMLDoc::save() {
    VORK_TRACE("BAAnyXMLDoc::save");
    const VorkAtomicFile::Outcome outcome = writeWhole(m_pDocument, m_sFileName, m_bPrivateFile);
    if (outcome != VorkAtomicFile::Outcome::Written) saveFailure(m_sFileName, outcome);
}

void BAAnyXMLDoc::saveFailure(const std::string& fileName, VorkAtomicFile::Outcome outcome) {
    m_bSaveFailed = true;
    VORK_LOG(1, "Error:Could not save XML log file!");
    if (outcome == VorkAtomicFile::Outcome::NotDurable) {
        VORK_LOG(1, "BAAnyXMLDoc::saveFailure: |" << fileName
                                                  << "| may already hold the new version: it is in place, "
                                                     "but its directory could not be flushed");
        throw VorkException("BAAnyXMLDoc::save: |" + fileName + "| may already hold the new version, not durably",
                            StatusCode::UnknownException);
    }
    throw VorkException("BAAnyXMLDoc::save: could not save |" + fileName + "|", StatusCode::UnknownException);
}

VorkAtomicFile::Outcome BAAnyXMLDoc::writeWhole(xmlDocPtr doc, const std::string& fileName, bool privateFile) {
    VORK_TRACE("BAAnyXMLDoc::writeWhole");
    if (doc == nullptr || fileName.empty()) return VorkAtomicFile::Outcome::Unchanged;
    if (!BAXmlText::serialiseDocument(doc, m_sSaveText)) {
        VORK_LOG(1, "BAAnyXMLDoc::writeWhole: cannot serialise the document for |" << fileName << "|");
        return VorkAtomicFile::Outcome::Unchanged;
    }
    return VorkAtomicFile::write(fileName, m_sSaveText, privateFile);
}

void BAAnyXMLDoc::setFileName(const std::string& fileName) {
    VORK_TRACE("BAAnyXMLDoc::setFileName");
    std::string absoluteName;
    getAbsolutePath(fileName, absoluteName, false);
    m_sFileName = absoluteName;
    fileNameChanged();
}

xmlNodePtr BAAnyXMLDoc::getFirstNode(const std::string& xpath) {
    VORK_TRACE("BAAnyXMLDoc::getFirstNode");
    const XPathNodeList nodes(m_pDocument, xpath);
    if (!nodes.empty()) {
        VORK_LOG(9, "BAAnyXMLDoc::getFirstNode: found a matching node");
        return nodes.nodes().front();
    }
    VORK_LOG(9, FixedLogText::StatusLog::kNoSuchNode);
    throw VorkException(FixedLogText::StatusLog::kNoSuchNode, VorkFailureKind::NotFound);
}

xmlNodePtr BAAnyXMLDoc::findFirstNode(const std::string& xpath) {
    const XPathNodeList nodes(m_pDocument, xpath);
    return nodes.empty() ? nullptr : nodes.nodes().front();
}

void BAAnyXMLDoc::setStringAttribute(xmlNodePtr node, const std::string& name, const std::string& value) {
    VORK_TRACE("BAAnyXMLDoc::setStringAttribute");
    if (node == nullptr) throw VorkException("BAAnyXMLDoc::setStringAttribute: no element for attribute " + name);
    if (xmlHasProp(node, toXml(name)) != nullptr) {
        // Replaced in place: the attribute keeps its position.
        if (xmlSetProp(node, toXml(name), toXml(value)) == nullptr) {
            throw VorkException("BAAnyXMLDoc::setStringAttribute: unable to set attribute " + name,
                                VorkFailureKind::AllocationFailure);
        }
    } else if (xmlNewProp(node, toXml(name), toXml(value)) == nullptr) {
        throw VorkException("BAAnyXMLDoc::setStringAttribute: unable to allocate attribute " + name,
                            VorkFailureKind::AllocationFailure);
    }
}

void BAAnyXMLDoc::setBoolAttribute(xmlNodePtr node, const std::string& name, bool value) {
    setStringAttribute(node, name, value ? "true" : "false");
}

void BAAnyXMLDoc::setIntAttribute(xmlNodePtr node, const std::string& name, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    setStringAttribute(node, name, text);
}

std::string BAAnyXMLDoc::getStringAttribute(xmlNodePtr node, const std::string& name) {
    VORK_TRACE("BAAnyXMLDoc::getStringAttribute");
    std::optional<std::string> value = findStringAttribute(node, name);
    if (!value) {
        VORK_LOG(1, "BAAnyXMLDoc::getStringAttribute: attribute not found: " << name);
        throw VorkException("BAAnyXMLDoc::getStringAttribute: attribute not present: " + name,
                            VorkFailureKind::NotFound);
    }
    return *value;
}

bool BAAnyXMLDoc::getBoolAttribute(xmlNodePtr node, const std::string& name) {
    return getStringAttribute(node, name) == "true";
}

int BAAnyXMLDoc::getIntAttribute(xmlNodePtr node, const std::string& name) {
    return intOf(getStringAttribute(node, name));
}

std::optional<std::string> BAAnyXMLDoc::findStringAttribute(xmlNodePtr node, const std::string& name) {
    const XmlString value(node != nullptr ? xmlGetProp(node, toXml(name)) : nullptr);
    if (value == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value.get()));
}

std::optional<bool> BAAnyXMLDoc::findBoolAttribute(xmlNodePtr node, const std::string& name) {
    const std::optional<std::string> value = findStringAttribute(node, name);
    if (!value) return std::nullopt;
    return *value == "true";
}

std::optional<int> BAAnyXMLDoc::findIntAttribute(xmlNodePtr node, const std::string& name) {
    const std::optional<std::string> value = findStringAttribute(node, name);
    if (!value) return std::nullopt;
    return intOf(*value);
}

void BAAnyXMLDoc::setStringAttribute(const std::string& xpath, const std::string& name, const std::string& value) {
    setStringAttribute(getFirstNode(xpath), name, value);
}

void BAAnyXMLDoc::setBoolAttribute(const std::string& xpath, const std::string& name, bool value) {
    setBoolAttribute(getFirstNode(xpath), name, value);
}

void BAAnyXMLDoc::setIntAttribute(const std::string& xpath, const std::string& name, int value) {
    setIntAttribute(getFirstNode(xpath), name, value);
}

std::string BAAnyXMLDoc::getStringAttribute(const std::string& xpath, const std::string& name) {
    return getStringAttribute(getFirstNode(xpath), name);
}

bool BAAnyXMLDoc::getBoolAttribute(const std::string& xpath, const std::string& name) {
    return getBoolAttribute(getFirstNode(xpath), name);
}

int BAAnyXMLDoc::getIntAttribute(const std::string& xpath, const std::string& name) {
    return getIntAttribute(getFirstNode(xpath), name);
}
