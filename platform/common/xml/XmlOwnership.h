#pragma once
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlstring.h>
#include <libxml/xpath.h>

#include <memory>

// Owners of what libxml2 hands out: each frees its object with the call
// libxml2 asks for, once, when it goes. Header only, so that the plug-in and
// the front end, which must not link each other, share them.
namespace XmlOwnership {

struct FreeDoc {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
// A node that is not (or no longer) part of a document.
struct FreeNode {
    void operator()(xmlNodePtr node) const { xmlFreeNode(node); }
};
struct FreeString {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
struct FreeXPathContext {
    void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};
struct FreeXPathObject {
    void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
struct FreeParserContext {
    void operator()(xmlParserCtxtPtr context) const { xmlFreeParserCtxt(context); }
};
struct FreeBuffer {
    void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
};
struct FreeEnumeration {
    void operator()(xmlEnumerationPtr values) const { xmlFreeEnumeration(values); }
};

} // namespace XmlOwnership

using XmlDoc = std::unique_ptr<xmlDoc, XmlOwnership::FreeDoc>;
using XmlNode = std::unique_ptr<xmlNode, XmlOwnership::FreeNode>;
using XmlString = std::unique_ptr<xmlChar, XmlOwnership::FreeString>;
using XmlXPathContext = std::unique_ptr<xmlXPathContext, XmlOwnership::FreeXPathContext>;
using XmlXPathObject = std::unique_ptr<xmlXPathObject, XmlOwnership::FreeXPathObject>;
using XmlParserContext = std::unique_ptr<xmlParserCtxt, XmlOwnership::FreeParserContext>;
using XmlBuffer = std::unique_ptr<xmlBuffer, XmlOwnership::FreeBuffer>;
using XmlEnumeration = std::unique_ptr<xmlEnumeration, XmlOwnership::FreeEnumeration>;
