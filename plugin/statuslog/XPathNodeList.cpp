#include "XPathNodeList.h"
#include "XmlOwnership.h"

#include <exception>
#include <memory>
#include <new>

#include <libxml/xpath.h>

namespace {
// XPath errors are the caller's concern; libxml2 must not print them.
void ignoreStructuredError(void*, xmlErrorPtr) {}

} // namespace

XPathNodeList::XPathNodeList(xmlDocPtr document, const std::string& xpath) {
    if (document == nullptr) return;
    XmlXPathContext context(xmlXPathNewContext(document));
    if (!context) throw std::bad_alloc();
    context->error = ignoreStructuredError;
    XmlXPathObject result(xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), context.get()));
    if (!result) throw std::exception();
    xmlNodeSetPtr set = result->nodesetval;
    if (set == nullptr) return;
    m_nodes.reserve(static_cast<std::size_t>(set->nodeNr));
    for (int i = 0; i < set->nodeNr; ++i) {
        xmlNodePtr node = set->nodeTab[i];
        if (node != nullptr && node->type == XML_ELEMENT_NODE) m_nodes.push_back(node);
    }
}
