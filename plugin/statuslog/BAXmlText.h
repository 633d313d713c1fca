#pragma once
#include <libxml/tree.h>

#include <string>

// Parsing and serialising XML text, the way every file of the system is read
// and written. A leaf: it knows libxml2 and nothing of the system.
class BAXmlText {
public:
    // Parses a file safely: no network, no external DTD or entity, no entity
    // substitution, no error output, and no document whose DTD declares
    // anything (elements, attributes and their defaults, entities,
    // notations): the parse stops at the first declaration. Null when the
    // file cannot be parsed. The caller frees the document.
    static xmlDocPtr parseFile(const std::string& fileName);
    // The same for a text in memory.
    static xmlDocPtr parseText(const std::string& text);

    // The document as a file holds it (XML declaration, no indentation), or
    // the element alone (no declaration, no indentation, no final newline).
    // False, text undefined, when libxml2 cannot serialise it.
    [[nodiscard]] static bool serialiseDocument(xmlDocPtr doc, std::string& text);
    [[nodiscard]] static bool serialiseElement(xmlDocPtr doc, xmlNodePtr element, std::string& text);
};
