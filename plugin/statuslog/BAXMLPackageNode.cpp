#include "BAXMLPackageNode.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "BAXMLDoc.h"
#include "FileHandle.h"
#include "VorkException.h"
#include "VorkLocaleFactory.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "VorkStringUtilities.h"
#include "zuacs64.h"

using VorkSupport::VorkException;
using VorkSupport::VorkLocaleFactory;
using VorkSupport::VorkStringUtilities;

namespace {

const xmlChar* toXml(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

const xmlChar* toXml(const std::string& text)
{
    return toXml(text.c_str());
}

struct XmlNodeDeleter {
    void operator()(xmlNodePtr node) const { xmlFreeNode(node); }
};
using NodeHolder = std::unique_ptr<xmlNode, XmlNodeDeleter>;

const size_t kBlockSize = 512;

// The text of a little-endian UTF-16 file after its two-byte mark. An odd
// last byte is dropped.
std::u16string readUtf16(FileHandle& file)
{
    std::u16string text;
    std::vector<unsigned char> pending; // bytes not yet paired, mark included
    char block[kBlockSize];
    size_t markLeft = 2;
    for (;;) {
        const ssize_t count = file.read(block, sizeof block);
        if (count <= 0) break;
        size_t start = 0;
        while (markLeft > 0 && start < static_cast<size_t>(count)) {
            --markLeft;
            ++start;
        }
        for (size_t i = start; i < static_cast<size_t>(count); ++i) {
            pending.push_back(static_cast<unsigned char>(block[i]));
            if (pending.size() == 2) {
                text.push_back(static_cast<char16_t>(pending[0] | (pending[1] << 8)));
                pending.clear();
            }
        }
    }
    return text;
}

// The text of an 8-bit (UTF-8) file. A carriage return followed by a newline
// reads as one newline, and a character split between two blocks is joined.
std::u16string readEightBit(FileHandle& file)
{
    std::u16string text;
    std::string carry;
    bool pendingReturn = false;
    char block[kBlockSize];
    for (;;) {
        const ssize_t count = file.read(block, sizeof block);
        if (count <= 0) break;
        std::string bytes;
        bytes.reserve(static_cast<size_t>(count) + 1);
        for (ssize_t i = 0; i < count; ++i) {
            const char c = block[i];
            if (pendingReturn) {
                pendingReturn = false;
                if (c != '\n') bytes.push_back('\r');
            }
            if (c == '\r') {
                pendingReturn = true;
                continue;
            }
            bytes.push_back(c);
        }
        text += VorkStringUtilities::widenPartial(bytes, carry);
    }
    if (pendingReturn) carry.push_back('\r');
    if (!carry.empty()) text += VorkStringUtilities::widen(carry, VorkLocaleFactory::getDefaultLocale(true));
    return text;
}

// Characters that XML cannot hold (control characters other than tab,
// newline and carriage return, U+FFFE, U+FFFF) become U+FFFD, so that a
// package's log can never make the status log unreadable.
void replaceInvalidXmlCharacters(std::u16string& text)
{
    for (char16_t& c : text) {
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF) c = 0xFFFD;
    }
}

std::string xmlSafeText(const std::string& text)
{
    const std::locale& locale = VorkLocaleFactory::getDefaultLocale(true);
    std::u16string wide = VorkStringUtilities::widen(text, locale);
    replaceInvalidXmlCharacters(wide);
    return VorkStringUtilities::narrow(wide, locale);
}

void eraseMarkerLine(std::u16string& text, const std::u16string& marker)
{
    const std::u16string::size_type start = text.find(marker);
    if (start == std::u16string::npos) return;
    const std::u16string::size_type newline = text.find(u'\n', start);
    if (newline == std::u16string::npos) return;
    text.erase(start, newline - start);
}

void trim(std::u16string& text)
{
    const char16_t* blanks = u" \t\r\n";
    const std::u16string::size_type first = text.find_first_not_of(blanks);
    if (first == std::u16string::npos) {
        text.clear();
        return;
    }
    const std::u16string::size_type last = text.find_last_not_of(blanks);
    text = text.substr(first, last - first + 1);
}

xmlNodePtr firstChildElement(xmlNodePtr parent, const char* name)
{
    for (xmlNodePtr child = parent != nullptr ? parent->children : nullptr; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml(name))) return child;
    }
    return nullptr;
}

} // namespace

BAXMLPackageNode::BAXMLPackageNode(BAXMLDoc* doc, xmlNodePtr package) : m_pDoc(doc), m_pPackage(package)
{
    VORK_TRACE("BAXMLPackageNode::BAXMLPackageNode");
    if (m_pDoc == nullptr || m_pPackage == nullptr) {
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: no status log or no Package element", 0);
    }
}

BAXMLPackageNode::BAXMLPackageNode(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                                   const std::string& exeCmd, const std::string& packageType,
                                   const std::string& installParams, int updateOnly)
    : m_pDoc(doc), m_pPackage(nullptr)
{
    VORK_TRACE("BAXMLPackageNode::BAXMLPackageNode");
    if (m_pDoc == nullptr) throw VorkException("BAXMLPackageNode::BAXMLPackageNode: no status log", 0);
    NodeHolder package(xmlNewDocNode(m_pDoc->getDocument(), nullptr, toXml("Package"), nullptr));
    if (!package) {
        VORK_LOG(1, "BAXMLPackageNode::BAXMLPackageNode: could not create log Package: " << path << " (" << releaseID
                                                                                          << ")");
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate Package node", 272);
    }
    if (!releaseID.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "releaseID", releaseID);
    if (!packageType.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "packageType", packageType);
    if (!installParams.empty()) BAAnyXMLDoc::setStringAttribute(package.get(), "installparams", installParams);
    if (updateOnly != -1) BAAnyXMLDoc::setBoolAttribute(package.get(), "updateonly", updateOnly == 1);
    BAAnyXMLDoc::setStringAttribute(package.get(), "path", path);

    xmlNodePtr status = xmlNewDocNode(m_pDoc->getDocument(), nullptr, toXml("Status"), nullptr);
    if (status == nullptr) {
        VORK_LOG(1, "BAXMLPackageNode::BAXMLPackageNode: could not create Status node");
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate Status node", 272);
    }
    xmlAddChild(package.get(), status);
    BAAnyXMLDoc::setStringAttribute(status, "state", "in-progress");

    xmlNodePtr command = xmlNewDocNode(m_pDoc->getDocument(), nullptr, toXml("ExeCmd"), nullptr);
    if (command == nullptr) {
        VORK_LOG(1, "BAXMLPackageNode::BAXMLPackageNode: could not create ExeCmd node");
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate ExeCmd node", 272);
    }
    xmlAddChild(package.get(), command);
    xmlNodePtr commandText = xmlNewText(toXml(exeCmd));
    if (commandText == nullptr) {
        throw VorkException("BAXMLPackageNode::BAXMLPackageNode: unable to allocate ExeCmd text node", 272);
    }
    xmlAddChild(command, commandText);

    xmlNodePtr root = m_pDoc->getFirstNode("/BundleLog");
    m_pPackage = package.release();
    xmlAddChild(root, m_pPackage);
}

std::unique_ptr<BAXMLPackageNode> BAXMLPackageNode::createInProgressPackage(
    BAXMLDoc* doc, const std::string& releaseID, const std::string& path, const std::string& exeCmd,
    const std::string& packageType, const std::string& installParams, int updateOnly)
{
    VORK_TRACE("BAXMLPackageNode::createInProgressPackage");
    return std::make_unique<BAXMLPackageNode>(doc, releaseID, path, exeCmd, packageType, installParams, updateOnly);
}

void BAXMLPackageNode::createMissingPackage(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                                            const std::string& packageType, const std::string& installParams,
                                            int updateOnly)
{
    VORK_TRACE("BAXMLPackageNode::createMissingPackage");
    BAXMLPackageNode node(doc, releaseID, path, "", packageType, installParams, updateOnly);
    node.setMissing();
}

void BAXMLPackageNode::createSkippedPackage(BAXMLDoc* doc, const std::string& releaseID, const std::string& path,
                                            const std::string& packageType, const std::string& installParams,
                                            int updateOnly, const std::string& message)
{
    VORK_TRACE("BAXMLPackageNode::createSkippedPackage");
    BAXMLPackageNode node(doc, releaseID, path, path, packageType, installParams, updateOnly);
    xmlNodePtr status = node.statusNode();
    BAAnyXMLDoc::setStringAttribute(status, "state", "skipped");
    BAAnyXMLDoc::setIntAttribute(status, "status", 3);
    BAAnyXMLDoc::setIntAttribute(status, "code", 3);

    NodeHolder log(xmlNewDocNode(doc->getDocument(), nullptr, toXml("PkgLog"), nullptr));
    if (!log) {
        VORK_LOG(1, "BAXMLPackageNode::createSkippedPackage: could not create PkgLog node");
        throw VorkException("BAXMLPackageNode::createSkippedPackage: unable to allocate PkgLog node", 272);
    }
    xmlNodePtr text = xmlNewText(toXml(xmlSafeText(message)));
    if (text == nullptr) {
        VORK_LOG(1, "BAXMLPackageNode::createSkippedPackage: could not create PkgLog text node");
        throw VorkException("BAXMLPackageNode::createSkippedPackage: unable to allocate PkgLog text node", 272);
    }
    xmlAddChild(log.get(), text);
    BAAnyXMLDoc::setIntAttribute(log.get(), "code", 3);
    xmlAddChild(node.m_pPackage, log.release());
}

xmlNodePtr BAXMLPackageNode::statusNode()
{
    xmlNodePtr status = firstChildElement(m_pPackage, "Status");
    if (status == nullptr) throw VorkException("BAXMLPackageNode: the Package element has no Status element", 0);
    return status;
}

void BAXMLPackageNode::setMissing()
{
    VORK_TRACE("BAXMLPackageNode::setMissing");
    BAAnyXMLDoc::setStringAttribute(statusNode(), "state", "missing");
}

void BAXMLPackageNode::setStatus(int nResultCode)
{
    VORK_TRACE("BAXMLPackageNode::setStatus");
    int number = 1;
    switch (nResultCode) {
    case -1: number = 5; break;
    case 0: number = 2; break;
    case 1: number = 5; break;
    case 2: number = 3; break;
    case 3: number = 2; break;
    case 4: number = m_pDoc->reboot() ? 3 : 4; break;
    case 5: number = 2; break;
    default: number = 1; break;
    }
    BAAnyXMLDoc::setIntAttribute(statusNode(), "status", number);
}

void BAXMLPackageNode::setComplete(int nResultCode, const std::string& sQpkLogName,
                                   const std::string& sPrependMessage, int nOsErrorCode)
{
    VORK_TRACE("BAXMLPackageNode::setComplete");
    xmlNodePtr status = statusNode();
    BAAnyXMLDoc::setStringAttribute(status, "state", "complete");
    BAAnyXMLDoc::setIntAttribute(status, "code", nResultCode);
    setStatus(nResultCode);
    setPackageLog(nResultCode, sQpkLogName, sPrependMessage, nOsErrorCode);
}

void BAXMLPackageNode::setPackageLog(int nResultCode, const std::string& sQpkLogName,
                                     const std::string& sPrependMessage, int nOsErrorCode)
{
    VORK_TRACE("BAXMLPackageNode::setPackageLog");
    std::string text;
    if (!sPrependMessage.empty()) {
        text += sPrependMessage;
        if (!sQpkLogName.empty()) text += "\n\n";
    }
    if (!sQpkLogName.empty()) {
        bool bUnicode = false;
        {
            FileHandle peek(sQpkLogName, O_RDONLY);
            if (!peek.isOpen()) {
                VORK_LOG(4, "BAXMLPackageNode::setPackageLog: Could not open file: " << sQpkLogName);
                // The entry still says what became of the run.
                appendPackageLog(xmlSafeText(text + "No output log could be read from " + sQpkLogName + "."),
                                 nResultCode, nOsErrorCode);
                throw VorkException("BAXMLPackageNode::setPackageLog: Unable to open file for unicode peek.", 3079);
            }
            unsigned char mark[2] = {0, 0};
            size_t got = 0;
            while (got < 2) {
                const ssize_t count = peek.read(reinterpret_cast<char*>(mark) + got, 2 - got);
                if (count <= 0) break;
                got += static_cast<size_t>(count);
            }
            if (got == 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
                VORK_LOG(4, "BAXMLPackageNode::setPackageLog: setting bUnicode flag to true.");
                bUnicode = true;
            }
        }
        FileHandle file(sQpkLogName, O_RDONLY);
        if (file.isOpen()) {
            std::u16string log = bUnicode ? readUtf16(file) : readEightBit(file);
            if (!log.empty()) {
                VORK_LOG(9, "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging started:' (size before = "
                                << log.size() << ")");
                eraseMarkerLine(log, u"=== Logging started: ");
                VORK_LOG(9, "BAXMLPackageNode::setPackageLog: getting rid of '=== Logging stopped:' (size before == "
                                << log.size() << ")");
                eraseMarkerLine(log, u"=== Logging stopped: ");
                VORK_LOG(9, "BAXMLPackageNode::setPackageLog: trimming string (size before == " << log.size() << ")");
                trim(log);
                if (!log.empty()) {
                    VORK_LOG(9, "BAXMLPackageNode::setPackageLog: converting to UTF-8 (size before == " << log.size()
                                                                                                      << ")");
                    replaceInvalidXmlCharacters(log);
                    try {
                        text += ConvertWideToUtf8(log);
                    } catch (const VorkException& e) {
                        text += VorkStringUtilities::narrow(e.getMessage(), VorkLocaleFactory::getDefaultLocale(true));
                    }
                }
            }
        }
    }
    text = xmlSafeText(text);
    VORK_LOG(4, "BAXMLPackageNode::setPackageLog: log data (count=" << text.size() << ")\n" << text);
    if (text.empty()) return;
    appendPackageLog(text, nResultCode, nOsErrorCode);
}

void BAXMLPackageNode::appendPackageLog(const std::string& text, int nResultCode, int nOsErrorCode)
{
    NodeHolder log(xmlNewDocNode(m_pDoc->getDocument(), nullptr, toXml("PkgLog"), nullptr));
    if (!log) {
        VORK_LOG(1, "BAXMLPackageNode::setPackageLog: could not create PkgLog node");
        throw VorkException("BAXMLPackageNode::setPackageLog: unable to allocate PkgLog node", 272);
    }
    xmlNodePtr textNode = xmlNewText(toXml(text));
    if (textNode == nullptr) {
        VORK_LOG(1, "BAXMLPackageNode::setPackageLog: could not create PkgLog text node");
        throw VorkException("BAXMLPackageNode::setPackageLog: unable to allocate PkgLog text node", 272);
    }
    xmlAddChild(log.get(), textNode);
    BAAnyXMLDoc::setIntAttribute(log.get(), "code", nResultCode);
    if (nOsErrorCode != NO_OS_ERROR_CODE) BAAnyXMLDoc::setIntAttribute(log.get(), "osErrCode", nOsErrorCode);
    xmlAddChild(m_pPackage, log.release());
}

std::string BAXMLPackageNode::ConvertWideToUtf8(const std::u16string& text)
{
    VORK_TRACE("BAXMLPackageNode::ConvertWideToUtf8");
    uint32_t size = 0;
    int result = ZCSUCS2StrToUTF8Str(nullptr, &size, text.c_str());
    if (result != 0) {
        VORK_LOG(1, "BAXMLPackageNode::ConvertWideToUtf8: Error getting size of required buffer; SM_STATUS = "
                        << result);
        throw VorkException("BAXMLPackageNode::ConvertWideToUtf8: Error getting size of required buffer.", 0);
    }
    std::vector<char> buffer(size > 0 ? size : 1, '\0');
    result = ZCSUCS2StrToUTF8Str(buffer.data(), &size, text.c_str());
    if (result != 0) {
        VORK_LOG(1, "BAXMLPackageNode::ConvertWideToUtf8: Error converting string; SM_STATUS = " << result);
        throw VorkException("BAXMLPackageNode::ConvertWideToUtf8: Error converting string.", 0);
    }
    buffer.back() = '\0';
    return std::string(buffer.data());
}
