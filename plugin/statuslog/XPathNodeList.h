#pragma once
#include <string>
#include <vector>

#include <libxml/tree.h>

// The element nodes that an absolute XPath expression selects in a document,
// in document order. Other node kinds in the result are passed over. A null
// document selects nothing. Evaluation errors are never printed. Raises
// std::bad_alloc when no evaluation context can be made and a
// default-constructed std::exception when the expression cannot be evaluated.
class XPathNodeList {
public:
    XPathNodeList(xmlDocPtr document, const std::string& xpath);

    const std::vector<xmlNodePtr>& nodes() const { return m_nodes; }
    bool empty() const { return m_nodes.empty(); }
    std::size_t size() const { return m_nodes.size(); }
    std::vector<xmlNodePtr>::const_iterator begin() const { return m_nodes.begin(); }
    std::vector<xmlNodePtr>::const_iterator end() const { return m_nodes.end(); }

private:
    std::vector<xmlNodePtr> m_nodes;
};
