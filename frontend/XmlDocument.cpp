#include "XmlDocument.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>

#include <utility>

#include "FileHandle.h"
#include "XmlOwnership.h"

namespace {

const int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

const xmlChar* xml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

} // namespace

XmlDocument XmlDocument::fromText(const std::string& text) {
    if (text.empty() || text.size() > static_cast<std::size_t>(kMaxFileSize)) return XmlDocument();
    XmlDoc document(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, kParseOptions));
    if (document != nullptr && document->intSubset != nullptr && document->intSubset->children != nullptr) {
        // Declarations could expand or fetch what the text does not hold.
        document.reset();
    }
    return XmlDocument(std::move(document));
}

XmlDocument XmlDocument::fromFile(const std::string& path) {
    // A link, a device or a fifo in place of a log is not read.
    VorkSupport::FileHandle file(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    struct stat status {};
    if (!file.isOpen() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size > kMaxFileSize)
        return XmlDocument();
    std::string content(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = file.read(content.data() + done, content.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    content.resize(done);
    return fromText(content);
}

xmlNodePtr XmlDocument::root() const {
    return m_document != nullptr ? xmlDocGetRootElement(m_document.get()) : nullptr;
}

std::string XmlDocument::attribute(xmlNodePtr node, const char* name, const std::string& fallback) {
    if (node == nullptr) return fallback;
    const XmlString value(xmlGetProp(node, xml(name)));
    if (value == nullptr) return fallback;
    return std::string(reinterpret_cast<const char*>(value.get()));
}

bool XmlDocument::hasAttribute(xmlNodePtr node, const char* name) {
    return node != nullptr && xmlHasProp(node, xml(name)) != nullptr;
}

std::string XmlDocument::text(xmlNodePtr node) {
    if (node == nullptr) return std::string();
    const XmlString content(xmlNodeGetContent(node));
    if (content == nullptr) return std::string();
    return std::string(reinterpret_cast<const char*>(content.get()));
}

bool XmlDocument::named(xmlNodePtr node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, xml(name)) == 0;
}

xmlNodePtr XmlDocument::firstChild(xmlNodePtr node, const char* name) {
    if (node == nullptr) return nullptr;
    for (xmlNodePtr child = node->children; child != nullptr; child = child->next)
        if (named(child, name)) return child;
    return nullptr;
}
