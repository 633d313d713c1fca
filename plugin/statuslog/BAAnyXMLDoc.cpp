#include "BAAnyXMLDoc.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "BAJournal.h"
#include "StatusCode.h"
#include "VorkAtomicFile.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XPathNodeList.h"
#include "getAbsolutePath.h"

using VorkSupport::VorkException;

namespace {

const xmlChar* toXml(const std::string& text)
{
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

// A parse whose DTD declares anything is stopped there and refused: none of
// the system's files needs a declaration, entities can read other files or
// exhaust memory, and an attribute default is copied into every element it
// applies to. The parser context's _private marks a refusal.
int g_refusedMark = 0;

void refuseDeclaration(void* context)
{
    xmlParserCtxtPtr parser = static_cast<xmlParserCtxtPtr>(context);
    parser->_private = &g_refusedMark;
    xmlStopParser(parser);
}

void onElementDeclaration(void* context, const xmlChar*, int, xmlElementContentPtr)
{
    refuseDeclaration(context);
}

void onAttributeDeclaration(void* context, const xmlChar*, const xmlChar*, int, int, const xmlChar*,
                            xmlEnumerationPtr values)
{
    // The handler owns the list of enumerated values.
    if (values != nullptr) xmlFreeEnumeration(values);
    refuseDeclaration(context);
}

void onEntityDeclaration(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*)
{
    refuseDeclaration(context);
}

void onNotationDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*)
{
    refuseDeclaration(context);
}

void onUnparsedEntityDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*)
{
    refuseDeclaration(context);
}

struct ParserContextDeleter {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};

// libxml2 output that lands in a string.
int appendToText(void* context, const char* buffer, int length)
{
    try {
        static_cast<std::string*>(context)->append(buffer, static_cast<std::size_t>(length));
        return length;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

xmlOutputBufferPtr textOutput(std::string& text)
{
    text.clear();
    return xmlOutputBufferCreateIO(appendToText, nullptr, &text, nullptr);
}

// Parses with the declaration handlers of a safe parse; frees the context.
xmlDocPtr parseWith(xmlParserCtxtPtr rawContext, const std::string& name)
{
    std::unique_ptr<xmlParserCtxt, ParserContextDeleter> context(rawContext);
    if (!context || context->sax == nullptr) return nullptr;
    xmlSAXHandlerPtr handler = context->sax;
    handler->elementDecl = onElementDeclaration;
    handler->attributeDecl = onAttributeDeclaration;
    handler->entityDecl = onEntityDeclaration;
    handler->notationDecl = onNotationDeclaration;
    handler->unparsedEntityDecl = onUnparsedEntityDeclaration;
    xmlParseDocument(context.get());
    xmlDocPtr doc = context->myDoc;
    context->myDoc = nullptr;
    const bool refused = context->_private == &g_refusedMark;
    if (doc != nullptr && (refused || !context->wellFormed)) {
        if (refused) VORK_LOG(9, "BAAnyXMLDoc::parseFile: document declares in its DTD, refused: |" << name << "|");
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    return doc;
}

// No network, no external DTD, no entity substitution, no error output.
const int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

} // namespace

BAAnyXMLDoc::BAAnyXMLDoc() = default;

BAAnyXMLDoc::BAAnyXMLDoc(const std::string& fileName, bool loadNow)
{
    VORK_TRACE("BAAnyXMLDoc::BAAnyXMLDoc");
    setFileName(fileName);
    if (loadNow) load();
}

BAAnyXMLDoc::~BAAnyXMLDoc()
{
    if (m_pDocument != nullptr) xmlFreeDoc(m_pDocument);
}

xmlDocPtr BAAnyXMLDoc::parseFile(const std::string& fileName)
{
    VORK_TRACE("BAAnyXMLDoc::parseFile");
    if (fileName.empty()) return nullptr;
    return parseWith(xmlCreateURLParserCtxt(fileName.c_str(), kParseOptions), fileName);
}

xmlDocPtr BAAnyXMLDoc::parseText(const std::string& text)
{
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (context != nullptr) xmlCtxtUseOptions(context, kParseOptions);
    return parseWith(context, "(text)");
}

void BAAnyXMLDoc::load()
{
    VORK_TRACE("BAAnyXMLDoc::load");
    if (m_pDocument != nullptr) {
        xmlFreeDoc(m_pDocument);
        m_pDocument = nullptr;
    }
    m_pDocument = m_pJournal ? m_pJournal->load(m_sFileName) : parseFile(m_sFileName);
}

void BAAnyXMLDoc::save()
{
    VORK_TRACE("BAAnyXMLDoc::save");
    if (m_pJournal) {
        switch (m_pJournal->append(m_pDocument, m_sFileName, m_bPrivateFile)) {
        case BAJournal::Append::Done: return;
        case BAJournal::Append::Failed: saveFailure();
        case BAJournal::Append::SnapshotDue: break;
        }
    }
    saveWhole();
}

void BAAnyXMLDoc::saveWhole()
{
    VORK_TRACE("BAAnyXMLDoc::saveWhole");
    if (!writeFileAtomically(m_pDocument, m_sFileName, m_bPrivateFile)) {
        forgetJournal();
        saveFailure();
    }
    if (m_pJournal) m_pJournal->snapshotWritten(m_pDocument, m_sFileName, m_sSaveText);
}

void BAAnyXMLDoc::saveFailure()
{
    m_bSaveFailed = true;
    VORK_LOG(1, "Error:Could not save XML log file!");
    throw VorkException("BAAnyXMLDoc::save: could not save |" + m_sFileName + "|",
                        StatusCode::UnknownException);
}

void BAAnyXMLDoc::keepJournal()
{
    if (!m_pJournal) m_pJournal = std::make_unique<BAJournal>();
}

void BAAnyXMLDoc::forgetJournal()
{
    if (m_pJournal) m_pJournal->forget();
}

bool BAAnyXMLDoc::serialiseDocument(xmlDocPtr doc, std::string& text)
{
    if (doc == nullptr) return false;
    xmlOutputBufferPtr output = textOutput(text);
    if (output == nullptr) return false;
    // xmlSaveFileTo closes the output in every case and answers its result.
    return xmlSaveFileTo(output, doc, reinterpret_cast<const char*>(doc->encoding)) >= 0;
}

bool BAAnyXMLDoc::serialiseElement(xmlDocPtr doc, xmlNodePtr element, std::string& text)
{
    if (doc == nullptr || element == nullptr) return false;
    // Straight into our own output: a failed dump leaves no libxml2 buffer
    // in a state that would be freed twice.
    xmlOutputBufferPtr output = textOutput(text);
    if (output == nullptr) return false;
    xmlNodeDumpOutput(output, doc, element, 0, 0, nullptr);
    return xmlOutputBufferClose(output) >= 0;
}

bool BAAnyXMLDoc::writeFileAtomically(xmlDocPtr doc, const std::string& fileName, bool privateFile)
{
    VORK_TRACE("BAAnyXMLDoc::writeFileAtomically");
    if (doc == nullptr || fileName.empty()) return false;
    if (!serialiseDocument(doc, m_sSaveText)) {
        VORK_LOG(1, "BAAnyXMLDoc::writeFileAtomically: cannot serialise the document for |" << fileName << "|");
        return false;
    }
    return VorkSupport::VorkAtomicFile::write(fileName, m_sSaveText, privateFile);
}

void BAAnyXMLDoc::setFileName(const std::string& fileName)
{
    VORK_TRACE("BAAnyXMLDoc::setFileName");
    std::string absoluteName;
    getAbsolutePath(fileName, absoluteName, false);
    m_sFileName = absoluteName;
    forgetJournal();
}

void BAAnyXMLDoc::takeDocument(BAAnyXMLDoc& other)
{
    if (&other == this) return;
    if (m_pDocument != nullptr) xmlFreeDoc(m_pDocument);
    m_pDocument = other.m_pDocument;
    other.m_pDocument = nullptr;
    m_sFileName = std::move(other.m_sFileName);
    other.m_sFileName.clear();
    // The journal knows the document it saves: it goes with it.
    std::swap(m_pJournal, other.m_pJournal);
    if (other.m_pJournal) other.m_pJournal->forget();
}

xmlNodePtr BAAnyXMLDoc::getFirstNode(const std::string& xpath)
{
    VORK_TRACE("BAAnyXMLDoc::getFirstNode");
    const XPathNodeList nodes(m_pDocument, xpath);
    if (!nodes.empty()) {
        VORK_LOG(9, "BAAnyXMLDoc::getFirstNode: found a matching node");
        return nodes.nodes().front();
    }
    VORK_LOG(9, "BAAnyXMLDoc::getFirstNode: Node does not exist");
    throw VorkException("BAAnyXMLDoc::getFirstNode: Node does not exist", 0);
}

void BAAnyXMLDoc::setStringAttribute(xmlNodePtr node, const std::string& name, const std::string& value)
{
    VORK_TRACE("BAAnyXMLDoc::setStringAttribute");
    if (node == nullptr) throw VorkException("BAAnyXMLDoc::setStringAttribute: no element for attribute " + name, 0);
    if (xmlHasProp(node, toXml(name)) != nullptr) {
        // Replaced in place: the attribute keeps its position.
        if (xmlSetProp(node, toXml(name), toXml(value)) == nullptr) {
            throw VorkException("BAAnyXMLDoc::setStringAttribute: unable to set attribute " + name, 272);
        }
    } else if (xmlNewProp(node, toXml(name), toXml(value)) == nullptr) {
        throw VorkException("BAAnyXMLDoc::setStringAttribute: unable to allocate attribute " + name, 272);
    }
    BAJournal::noteChange(node);
}

void BAAnyXMLDoc::setBoolAttribute(xmlNodePtr node, const std::string& name, bool value)
{
    setStringAttribute(node, name, value ? "true" : "false");
}

void BAAnyXMLDoc::setIntAttribute(xmlNodePtr node, const std::string& name, int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    setStringAttribute(node, name, text);
}

std::string BAAnyXMLDoc::getStringAttribute(xmlNodePtr node, const std::string& name)
{
    VORK_TRACE("BAAnyXMLDoc::getStringAttribute");
    xmlChar* value = node != nullptr ? xmlGetProp(node, toXml(name)) : nullptr;
    if (value == nullptr) {
        VORK_LOG(1, "BAAnyXMLDoc::getStringAttribute: attribute not found: " << name);
        throw VorkException("BAAnyXMLDoc::getStringAttribute: attribute not present: " + name, 0);
    }
    std::string result(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return result;
}

bool BAAnyXMLDoc::getBoolAttribute(xmlNodePtr node, const std::string& name)
{
    return getStringAttribute(node, name) == "true";
}

int BAAnyXMLDoc::getIntAttribute(xmlNodePtr node, const std::string& name)
{
    // Leading blanks, a sign and the leading digits; anything else ignored.
    // Out-of-range values are clamped instead of overflowing.
    const std::string text = getStringAttribute(node, name);
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > 2147483647LL) return 2147483647;
    if (value < -2147483647LL - 1) return -2147483647 - 1;
    return static_cast<int>(value);
}

void BAAnyXMLDoc::setStringAttribute(const std::string& xpath, const std::string& name, const std::string& value)
{
    setStringAttribute(getFirstNode(xpath), name, value);
}

void BAAnyXMLDoc::setBoolAttribute(const std::string& xpath, const std::string& name, bool value)
{
    setBoolAttribute(getFirstNode(xpath), name, value);
}

void BAAnyXMLDoc::setIntAttribute(const std::string& xpath, const std::string& name, int value)
{
    setIntAttribute(getFirstNode(xpath), name, value);
}

std::string BAAnyXMLDoc::getStringAttribute(const std::string& xpath, const std::string& name)
{
    return getStringAttribute(getFirstNode(xpath), name);
}

bool BAAnyXMLDoc::getBoolAttribute(const std::string& xpath, const std::string& name)
{
    return getBoolAttribute(getFirstNode(xpath), name);
}

int BAAnyXMLDoc::getIntAttribute(const std::string& xpath, const std::string& name)
{
    return getIntAttribute(getFirstNode(xpath), name);
}
