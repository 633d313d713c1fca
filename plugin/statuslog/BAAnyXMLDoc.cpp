#include "BAAnyXMLDoc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/xmlsave.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <random>

#include "FileHandle.h"
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

std::atomic<BAAnyXMLDoc::ReplaceHook> g_replaceHook{nullptr};

// True when the document's DTD declares entities of its own. Such documents
// are refused: none of the system's files needs them, and expanding them can
// read other files or exhaust memory.
bool declaresEntities(xmlDocPtr doc)
{
    for (xmlDtdPtr dtd : {doc->intSubset, doc->extSubset}) {
        if (dtd == nullptr) continue;
        if (dtd->entities != nullptr && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->entities)) > 0) return true;
        if (dtd->pentities != nullptr && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->pentities)) > 0) return true;
    }
    return false;
}

std::string directoryOf(const std::string& fileName)
{
    const std::string::size_type slash = fileName.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return fileName.substr(0, slash);
}

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
    // No network, no external DTD, no entity substitution, no error output.
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlDocPtr doc = xmlReadFile(fileName.c_str(), nullptr, options);
    if (doc != nullptr && declaresEntities(doc)) {
        VORK_LOG(9, "BAAnyXMLDoc::parseFile: document declares entities, refused: |" << fileName << "|");
        xmlFreeDoc(doc);
        doc = nullptr;
    }
    return doc;
}

void BAAnyXMLDoc::load()
{
    VORK_TRACE("BAAnyXMLDoc::load");
    if (m_pDocument != nullptr) {
        xmlFreeDoc(m_pDocument);
        m_pDocument = nullptr;
    }
    m_pDocument = parseFile(m_sFileName);
}

void BAAnyXMLDoc::save()
{
    VORK_TRACE("BAAnyXMLDoc::save");
    if (!writeFileAtomically(m_pDocument, m_sFileName, m_bPrivateFile)) {
        VORK_LOG(1, "Error:Could not save XML log file!");
    }
}

void BAAnyXMLDoc::setReplaceHook(ReplaceHook hook)
{
    g_replaceHook.store(hook);
}

namespace {

// Serialises the document to an open descriptor as xmlSaveFile does.
bool writeDocument(xmlDocPtr doc, int fd)
{
    xmlOutputBufferPtr output = xmlOutputBufferCreateFd(fd, nullptr);
    if (output == nullptr) return false;
    // xmlSaveFileTo releases the buffer (not the descriptor) in every case.
    return xmlSaveFileTo(output, doc, reinterpret_cast<const char*>(doc->encoding)) >= 0;
}

} // namespace

bool BAAnyXMLDoc::writeFileAtomically(xmlDocPtr doc, const std::string& requestedName, bool privateFile)
{
    VORK_TRACE("BAAnyXMLDoc::writeFileAtomically");
    if (doc == nullptr || requestedName.empty()) return false;

    // A symbolic link stays a link: the file it names is replaced.
    std::string fileName = requestedName;
    struct stat status;
    if (::lstat(fileName.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> resolved(realpath(fileName.c_str(), nullptr), &std::free);
        if (!resolved) {
            VORK_LOG(1, "BAAnyXMLDoc::writeFileAtomically: cannot follow link |" << fileName << "|, errno " << errno);
            return false;
        }
        fileName = resolved.get();
    }
    // A device or pipe (such as a terminal the user named as log target) is
    // written in place: it cannot be replaced, and must not be.
    if (::stat(fileName.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        FileHandle special(fileName, O_WRONLY | O_TRUNC | O_NOCTTY);
        if (special.get() < 0) return false;
        const bool written = writeDocument(doc, special.get());
        return special.close() && written;
    }

    // The new file gets an unpredictable name beside the target; O_EXCL and
    // O_NOFOLLOW keep a planted file or link from being written through.
    std::random_device randomSource;
    std::string tempName;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".tmp%08x", static_cast<unsigned>(randomSource()));
        tempName = fileName + suffix;
        fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    privateFile ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        VORK_LOG(1, "BAAnyXMLDoc::writeFileAtomically: cannot create |" << tempName << "|, errno " << errno);
        return false;
    }
    FileHandle file(fd);
    bool written = writeDocument(doc, file.get());
    if (written) written = ::fsync(file.get()) == 0;
    if (!file.close()) written = false;
    if (written) {
        const ReplaceHook hook = g_replaceHook.load();
        if (hook != nullptr && !hook(tempName, fileName)) written = false;
    }
    if (written && std::rename(tempName.c_str(), fileName.c_str()) != 0) {
        VORK_LOG(1, "BAAnyXMLDoc::writeFileAtomically: cannot replace |" << fileName << "|, errno " << errno);
        written = false;
    }
    if (!written) {
        ::unlink(tempName.c_str());
        return false;
    }
    // Make the rename itself durable.
    FileHandle directory(directoryOf(fileName), O_RDONLY | O_DIRECTORY);
    if (directory.isOpen()) ::fsync(directory.get());
    return true;
}

void BAAnyXMLDoc::setFileName(const std::string& fileName)
{
    VORK_TRACE("BAAnyXMLDoc::setFileName");
    std::string absoluteName;
    getAbsolutePath(fileName, absoluteName, false);
    m_sFileName = absoluteName;
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
