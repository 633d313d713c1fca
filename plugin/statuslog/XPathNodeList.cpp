#include "XPathNodeList.h"

#include <exception>
#include <memory>
#include <new>

#include <libxml/xpath.h>

namespace {
// XPath errors are the caller's concern; libxml2 must not print them.
void ignoreStructuredError(void*, xmlErrorPtr) {}

struct ContextFree {
    void operator()(xmlXPathContextPtr context) const { xmlXPathFreeContext(context); }
};
struct ObjectFree {
    void operator()(xmlXPathObjectPtr object) const { xmlXPathFreeObject(object); }
};
} // namespace

XPathNodeList::XPathNodeList(xmlDocPtr document, const std::string& xpath) {
    if (document == nullptr) return;
    std::unique_ptr<xmlXPathContext, ContextFree> context(xmlXPathNewContext(document));
    if (!context) throw std::bad_alloc();
    context->error = ignoreStructuredError;
    std::unique_ptr<xmlXPathObject, ObjectFree> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), context.get()));
    if (!result) throw std::exception();
    xmlNodeSetPtr set = result->nodesetval;
    if (set == nullptr) return;
    m_nodes.reserve(static_cast<std::size_t>(set->nodeNr));
    for (int i = 0; i < set->nodeNr; ++i) {
        xmlNodePtr node = set->nodeTab[i];
        if (node != nullptr && node->type == XML_ELEMENT_NODE) m_nodes.push_back(node);
    }
}
