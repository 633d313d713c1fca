#include "BAXmlText.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlsave.h>

#include <climits>
#include <memory>
#include <new>
#include <utility>

#include "VorkLogRecord.h"
#include "XmlOwnership.h"

namespace {

// A parse whose DTD declares anything is stopped there and refused: none of
// the system's files needs a declaration, entities can read other files or
// exhaust memory, and an attribute default is copied into every element it
// applies to. The parser context's _private marks a refusal.
int g_refusedMark = 0;

void refuseDeclaration(void* context) {
    xmlParserCtxtPtr parser = static_cast<xmlParserCtxtPtr>(context);
    parser->_private = &g_refusedMark;
    xmlStopParser(parser);
}

void onElementDeclaration(void* context, const xmlChar*, int, xmlElementContentPtr) { refuseDeclaration(context); }

void onAttributeDeclaration(void* context, const xmlChar*, const xmlChar*, int, int, const xmlChar*,
                            xmlEnumerationPtr values) {
    // The handler owns the list of enumerated values.
    const XmlEnumeration owned(values);
    refuseDeclaration(context);
}

void onEntityDeclaration(void* context, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    refuseDeclaration(context);
}

void onNotationDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    refuseDeclaration(context);
}

void onUnparsedEntityDeclaration(void* context, const xmlChar*, const xmlChar*, const xmlChar*, const xmlChar*) {
    refuseDeclaration(context);
}

// libxml2 output that lands in a string.
int appendToText(void* context, const char* buffer, int length) {
    try {
        static_cast<std::string*>(context)->append(buffer, static_cast<std::size_t>(length));
        return length;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

xmlOutputBufferPtr textOutput(std::string& text) {
    text.clear();
    return xmlOutputBufferCreateIO(appendToText, nullptr, &text, nullptr);
}

// Parses with the declaration handlers of a safe parse; frees the context.
xmlDocPtr parseWith(xmlParserCtxtPtr rawContext, const std::string& name) {
    XmlParserContext context(rawContext);
    if (!context || context->sax == nullptr) return nullptr;
    xmlSAXHandlerPtr handler = context->sax;
    handler->elementDecl = onElementDeclaration;
    handler->attributeDecl = onAttributeDeclaration;
    handler->entityDecl = onEntityDeclaration;
    handler->notationDecl = onNotationDeclaration;
    handler->unparsedEntityDecl = onUnparsedEntityDeclaration;
    xmlParseDocument(context.get());
    XmlDoc doc(std::exchange(context->myDoc, nullptr));
    const bool refused = context->_private == &g_refusedMark;
    if (doc != nullptr && (refused || !context->wellFormed)) {
        if (refused) VORK_LOG(9, "BAXmlText::parseWith: document declares in its DTD, refused: |" << name << "|");
        return nullptr;
    }
    return doc.release();
}

// No network, no external DTD, no entity substitution, no error output.
const int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

} // namespace

xmlDocPtr BAXmlText::parseFile(const std::string& fileName) {
    if (fileName.empty()) return nullptr;
    return parseWith(xmlCreateURLParserCtxt(fileName.c_str(), kParseOptions), fileName);
}

xmlDocPtr BAXmlText::parseText(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    xmlParserCtxtPtr context = xmlCreateMemoryParserCtxt(text.data(), static_cast<int>(text.size()));
    if (context != nullptr) xmlCtxtUseOptions(context, kParseOptions);
    return parseWith(context, "(text)");
}

bool BAXmlText::serialiseDocument(xmlDocPtr doc, std::string& text) {
    if (doc == nullptr) return false;
    xmlOutputBufferPtr output = textOutput(text);
    if (output == nullptr) return false;
    // The output has no encoder: the text is UTF-8 whatever encoding the
    // document was read in, and a declaration must say so, or the next
    // parse reads it in the wrong encoding (or not at all). A document that
    // declared none still declares none.
    const char* encoding = doc->encoding != nullptr ? "UTF-8" : nullptr;
    // xmlSaveFileTo closes the output in every case and answers its result.
    return xmlSaveFileTo(output, doc, encoding) >= 0;
}

bool BAXmlText::serialiseElement(xmlDocPtr doc, xmlNodePtr element, std::string& text) {
    if (doc == nullptr || element == nullptr) return false;
    // Straight into our own output: a failed dump leaves no libxml2 buffer
    // in a state that would be freed twice.
    xmlOutputBufferPtr output = textOutput(text);
    if (output == nullptr) return false;
    xmlNodeDumpOutput(output, doc, element, 0, 0, nullptr);
    return xmlOutputBufferClose(output) >= 0;
}
