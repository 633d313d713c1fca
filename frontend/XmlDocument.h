#pragma once
#include <libxml/tree.h>

#include <string>

#include "XmlOwnership.h"

// A parsed XML document owned for its lifetime. Texts and files are read
// without network access, without loading external DTDs and without
// substituting entities; a document whose DTD declares anything is refused,
// as are files that are not regular or larger than kMaxFileSize.
class XmlDocument {
public:
    static constexpr long long kMaxFileSize = 256LL * 1024 * 1024;

    XmlDocument() = default;

    static XmlDocument fromText(const std::string& text);
    static XmlDocument fromFile(const std::string& path);

    bool valid() const { return m_document != nullptr; }
    // The root element, or null.
    xmlNodePtr root() const;

    // Helpers on elements: an attribute's value (or fallback when absent),
    // whether it is present, the element's text, and the element children
    // of a node with a given name.
    static std::string attribute(xmlNodePtr node, const char* name, const std::string& fallback = "");
    static bool hasAttribute(xmlNodePtr node, const char* name);
    static std::string text(xmlNodePtr node);
    static bool named(xmlNodePtr node, const char* name);
    static xmlNodePtr firstChild(xmlNodePtr node, const char* name);

private:
    explicit XmlDocument(XmlDoc document) : m_document(std::move(document)) {}

    XmlDoc m_document;
};
