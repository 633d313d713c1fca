#include "BAXMLDoc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "BAJournal.h"
#include "VorkAtomicFile.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkRemoveDirectory.h"
#include "StatusCode.h"
#include "VorkScopeTrace.h"
#include "getAbsolutePath.h"
#include "statusMessage.h"

using VorkSupport::VorkException;

namespace {

const char* const kRootPath = "/BundleLog";
const char* const kSMStatusPath = "/BundleLog/SMStatus";
const char* const kSettingsPath = "/BundleLog/BundleSettings";
const char* const kBundlePath = "/BundleLog/BundleSettings/Bundle";
const char* const kBundlePackagePath = "/BundleLog/BundleSettings/BundlePackage";
const char* const kValidationPath = "/BundleLog/Validation";
const char* const kProgressPath = "/BundleLog/Progress";
const char* const kRebootCountPath = "/BundleLog/rebootCount";

const xmlChar* toXml(const char* text)
{
    return reinterpret_cast<const xmlChar*>(text);
}

xmlNodePtr firstChildElement(xmlNodePtr parent, const char* name)
{
    if (parent == nullptr) return nullptr;
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml(name))) return child;
    }
    return nullptr;
}

struct XmlDocDeleter {
    void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct XmlNodeDeleter {
    void operator()(xmlNodePtr node) const { xmlFreeNode(node); }
};
using NodeHolder = std::unique_ptr<xmlNode, XmlNodeDeleter>;

} // namespace

BAXMLDoc::BAXMLDoc()
{
    VORK_TRACE("BAXMLDoc::BAXMLDoc");
    keepJournal();
    init();
}

BAXMLDoc::BAXMLDoc(const std::string& fileName) : BAAnyXMLDoc(fileName, false)
{
    VORK_TRACE("BAXMLDoc::BAXMLDoc");
    keepJournal();
    init();
}

BAXMLDoc::~BAXMLDoc() = default;

void BAXMLDoc::init()
{
    VORK_TRACE("BAXMLDoc::init");
    if (m_pDocument != nullptr) {
        xmlFreeDoc(m_pDocument);
        m_pDocument = nullptr;
    }
    forgetJournal();
    m_pDocument = xmlNewDoc(toXml("1.0"));
    if (m_pDocument == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create document");
        throw VorkException("BAXMLDoc::init: unable to allocate XML document", 272);
    }
    xmlNodePtr root = xmlNewDocNode(m_pDocument, nullptr, toXml("BundleLog"), nullptr);
    if (root == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create root node");
        throw VorkException("BAXMLDoc::init: unable to allocate XML document root node", 272);
    }
    xmlDocSetRootElement(m_pDocument, root);
    setDocDateTime();

    NodeHolder smStatus(xmlNewDocNode(m_pDocument, nullptr, toXml("SMStatus"), nullptr));
    if (!smStatus) {
        VORK_LOG(1, "BAXMLDoc::init: could not create SMStatus node");
        throw VorkException("BAXMLDoc::init: unable to allocate SMStatus node", 272);
    }
    xmlNodePtr text = xmlNewText(toXml("Success"));
    if (text == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create SMStatus text node");
        throw VorkException("BAXMLDoc::init: unable to allocate SMStatus text node", 272);
    }
    xmlAddChild(smStatus.get(), text);
    setStringAttribute(smStatus.get(), "result", "0");
    xmlAddChild(root, smStatus.release());
}

void BAXMLDoc::setRootAttribute(const std::string& name, const std::string& value)
{
    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (root == nullptr) throw VorkException("BAXMLDoc::setRootAttribute: the status log has no root element", 0);
    setStringAttribute(root, name, value);
}

std::string BAXMLDoc::rootAttributeOrEmpty(const std::string& name)
{
    try {
        xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
        return getStringAttribute(root, name);
    } catch (...) {
        VORK_LOG(9, "BAXMLDoc::rootAttributeOrEmpty: attribute " << name << " not found, returning empty value");
        return std::string();
    }
}

void BAXMLDoc::setDocDateTime()
{
    VORK_TRACE("BAXMLDoc::setDocDateTime");
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:%2.2dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    setRootAttribute("dateTime", text);
}

xmlNodePtr BAXMLDoc::findNode(const std::string& xpath)
{
    try {
        return getFirstNode(xpath);
    } catch (const VorkException&) {
        return nullptr;
    }
}

xmlDocPtr BAXMLDoc::strippedCopy(const char* writer)
{
    if (m_pDocument == nullptr) return nullptr;
    xmlDocPtr copy = xmlCopyDoc(m_pDocument, 1);
    if (copy == nullptr) {
        throw VorkException(std::string("BAXMLDoc::") + writer + ": unable to copy the document", 272);
    }
    xmlNodePtr root = xmlDocGetRootElement(copy);
    xmlNodePtr settings =
        (root != nullptr && xmlStrEqual(root->name, toXml("BundleLog"))) ? firstChildElement(root, "BundleSettings")
                                                                          : nullptr;
    if (xmlAttrPtr logTargetAttr = settings != nullptr ? xmlHasProp(settings, toXml("log-target")) : nullptr) {
        xmlRemoveProp(logTargetAttr);
        VORK_LOG(9, "BAXMLDoc::" << writer << ": removing log-target attribute");
    }
    xmlNodePtr bundle = firstChildElement(settings, "Bundle");
    if (xmlAttrPtr stableAttr = bundle != nullptr ? xmlHasProp(bundle, toXml("stable")) : nullptr) {
        xmlRemoveProp(stableAttr);
        VORK_LOG(9, "BAXMLDoc::" << writer << ": removing stable attribute");
    }
    return copy;
}

void BAXMLDoc::saveTo(const std::string& fileName)
{
    VORK_TRACE("BAXMLDoc::saveTo");
    std::unique_ptr<xmlDoc, XmlDocDeleter> copy(strippedCopy("saveTo"));
    VORK_LOG(9, "BAXMLDoc::saveTo: saving document to : |" << fileName << "|");
    // The user's log follows the umask; it holds no internal attributes.
    if (!writeFileAtomically(copy.get(), fileName, false)) {
        VORK_LOG(1, "Error:Could not save XML log file!");
        throw VorkException("BAXMLDoc::saveTo: could not save |" + fileName + "|", StatusCode::UnknownException);
    }
    VORK_LOG(9, "BAXMLDoc::saveTo: document saved");
}

std::string BAXMLDoc::dumpRoot()
{
    VORK_TRACE("BAXMLDoc::dumpRoot");
    std::unique_ptr<xmlDoc, XmlDocDeleter> copy(strippedCopy("dumpRoot"));
    VORK_LOG(9, "BAXMLDoc::dumpRoot: dumping root element");
    if (!copy) return std::string();
    xmlNodePtr root = xmlDocGetRootElement(copy.get());
    if (root == nullptr) return std::string();
    std::string text;
    if (serialiseElement(copy.get(), root, text)) return text;
    // The answer still tells what happened, in a document small enough to
    // be dumped.
    VORK_LOG(1, "BAXMLDoc::dumpRoot: unable to serialise the document, answering status 3079");
    BAXMLDoc failure;
    failure.SMStatus(StatusCode::UnknownException);
    return failure.dumpRoot();
}

void BAXMLDoc::getStartParameters(std::string& directory, std::string& definitionFile, std::string& relocationName)
{
    VORK_TRACE("BAXMLDoc::getStartParameters");
    directory = bundlePath();
    if (findNode(kBundlePackagePath) != nullptr) {
        definitionFile = "bundle.xml";
        // The relocation file of an extracted bundle lies in the bundle
        // directory, never in whatever the process's current directory is.
        relocationName = directory;
        if (relocationName.empty() || (relocationName.back() != '/' && relocationName.back() != '\\')) {
            relocationName += VorkSupport::VorkPlatform::separator;
        }
        relocationName += "relocation.xml";
        VORK_LOG(9, "BAXMLDoc::getBundleStartParameters: found BundlePackage element, using default bundle.xml and "
                    "relocation.xml");
    } else {
        definitionFile = bundleName();
        relocationName = relocationFile();
        VORK_LOG(9, "BAXMLDoc::getBundleStartParameters: no BundlePackage element, using bundle and relocation "
                    "attributes from Bundle element");
    }
    if (!relocationName.empty()) {
        if (!VorkSupport::VorkPlatform::fileExists(relocationName)) {
            relocationName.clear();
            VORK_LOG(9, "BAXMLDoc::getBundleStartParameters: relocation file not found, using no relocation file");
        }
    } else {
        VORK_LOG(9, "BAXMLDoc::getBundleStartParameters: using no relocation file");
    }
}

void BAXMLDoc::removeTempFiles()
{
    VORK_TRACE("BAXMLDoc::removeTempFiles");
    if (bundlePackage().empty()) {
        VORK_LOG(4, "BAXMLDoc::removeTempFiles: no temporary bundle package directory to remove");
        return;
    }
    std::string path;
    try {
        path = bundlePath();
        // Never let a damaged log take the whole file system with it.
        if (path.empty() || path.find_first_not_of('/') == std::string::npos) {
            throw VorkException("BAXMLDoc::removeTempFiles: refusing to remove |" + path + "|", 0);
        }
        VorkSupport::VorkRemoveDirectory(path, true);
        VORK_LOG(4, "BAXMLDoc::removeTempFiles: Bundle package directory deleted: " << path);
    } catch (const VorkException&) {
        VORK_LOG(1, "BAXMLDoc::removeTempFiles: Bundle package directory could not be deleted: " << path);
    }
}

void BAXMLDoc::cleanup()
{
    VORK_TRACE("BAXMLDoc::cleanup");
    removeTempFiles();
    if (m_sFileName.empty()) return;

    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (root != nullptr && xmlHasProp(root, toXml("update-id")) != nullptr) {
        const std::string::size_type separator = m_sFileName.find_last_of("\\/");
        const std::string directory = separator == std::string::npos ? std::string() : m_sFileName.substr(0, separator + 1);
        std::string newName;
        getAbsolutePath(directory + updateId() + ".xml", newName, false);
        stable(true);
        progressPercent(100);
        // A final log that cannot be written leaves the internal log where it
        // is: the save raises before anything is renamed. The final log is
        // one whole file: the journal goes with this save.
        saveWhole();
        forgetJournal();
        if (VorkSupport::VorkAtomicFile::rename(m_sFileName, newName)) {
            VORK_LOG(1, "BAXMLDoc::cleanup: renamed internal log file: |" << m_sFileName << "| to : |" << newName << "|");
        } else {
            const int error = errno;
            VORK_LOG(1, "BAXMLDoc::cleanup: unable to rename internal log file: |" << m_sFileName << "| to : |"
                                                                                   << newName << "|");
            switch (error) {
            case ENOENT: VORK_LOG(1, "BAXMLDoc::cleanup: errno: ENOENT"); break;
            case EACCES: VORK_LOG(1, "BAXMLDoc::cleanup: errno: EACCES"); break;
            case EINVAL: VORK_LOG(1, "BAXMLDoc::cleanup: errno: EINVAL"); break;
            default: VORK_LOG(1, "BAXMLDoc::cleanup: errno: " << error); break;
            }
            throw VorkException("BAXMLDoc::cleanup: unable to rename internal log file", StatusCode::UnknownException);
        }
    } else {
        VORK_LOG(4, "BAXMLDoc::cleanup: deleting internal log file: |" << m_sFileName << "|");
        removeFile(m_sFileName);
        forgetJournal();
    }
}

void BAXMLDoc::removeFile(const std::string& fileName)
{
    // The file first: a journal without its file is never replayed.
    std::remove(fileName.c_str());
    BAJournal::remove(fileName);
}

void BAXMLDoc::foldJournal(const std::string& fileName)
{
    VORK_TRACE("BAXMLDoc::foldJournal");
    if (!BAJournal::exists(fileName)) return;
    BAXMLDoc log(fileName);
    log.load();
    if (log.getDocument() != nullptr) {
        VORK_LOG(4, "BAXMLDoc::foldJournal: writing |" << fileName << "| whole");
        log.saveWhole();
    } else if (::access(fileName.c_str(), F_OK) != 0) {
        // Nothing it could apply to: a journal whose file was removed.
        BAJournal::remove(fileName);
    }
}

void BAXMLDoc::addBundleSettingsNode()
{
    VORK_TRACE("BAXMLDoc::addBundleSettingsNode");
    if (findNode(kSettingsPath) != nullptr) return;
    xmlNodePtr root = getFirstNode(kRootPath);
    NodeHolder settings(xmlNewDocNode(m_pDocument, nullptr, toXml("BundleSettings"), nullptr));
    if (!settings) throw VorkException("BAXMLDoc::addBundleSettingsNode: unable to allocate BundleSettings node", 272);
    setStringAttribute(settings.get(), "bundle-path", "");
    xmlAddChild(root, settings.release());
}

void BAXMLDoc::addValidationNode()
{
    VORK_TRACE("BAXMLDoc::addValidationNode");
    if (findNode(kValidationPath) != nullptr) return;
    xmlNodePtr root = getFirstNode(kRootPath);
    NodeHolder validation(xmlNewDocNode(m_pDocument, nullptr, toXml("Validation"), nullptr));
    if (!validation) throw VorkException("BAXMLDoc::addValidationNode: unable to allocate Validation node", 272);
    setBoolAttribute(validation.get(), "system-supported", false);
    setBoolAttribute(validation.get(), "os-supported", false);
    xmlAddChild(root, validation.release());
}

void BAXMLDoc::addBundleSettingsBundleNode()
{
    VORK_TRACE("BAXMLDoc::addBundleSettingsBundleNode");
    addBundleSettingsNode();
    if (findNode(kBundlePath) != nullptr) return;
    xmlNodePtr settings = getFirstNode(kSettingsPath);
    NodeHolder bundle(xmlNewDocNode(m_pDocument, nullptr, toXml("Bundle"), nullptr));
    NodeHolder userInfo(xmlNewDocNode(m_pDocument, nullptr, toXml("UserInfo"), nullptr));
    if (!bundle) throw VorkException("BAXMLDoc::addBundleSettingsBundleNode: unable to allocate Bundle node", 272);
    if (!userInfo) throw VorkException("BAXMLDoc::addBundleSettingsBundleNode: unable to allocate UserInfo node", 272);
    xmlAddChild(settings, bundle.release());
    xmlAddChild(settings, userInfo.release());
}

std::string BAXMLDoc::stringSettingOrEmpty(const std::string& xpath, const std::string& name)
{
    try {
        return getStringAttribute(xpath, name);
    } catch (...) {
        VORK_LOG(9, "BAXMLDoc::stringSettingOrEmpty: attribute " << name << " not found, returning empty value");
        return std::string();
    }
}

void BAXMLDoc::updateId(const std::string& value) { setRootAttribute("update-id", value); }
std::string BAXMLDoc::updateId() { return rootAttributeOrEmpty("update-id"); }
void BAXMLDoc::installParams(const std::string& value) { setRootAttribute("install-params", value); }
std::string BAXMLDoc::installParams() { return rootAttributeOrEmpty("install-params"); }

void BAXMLDoc::bundlePath(const std::string& value)
{
    addBundleSettingsNode();
    setStringAttribute(kSettingsPath, "bundle-path", value);
}
std::string BAXMLDoc::bundlePath() { return getStringAttribute(kSettingsPath, "bundle-path"); }

void BAXMLDoc::logTarget(const std::string& value)
{
    addBundleSettingsNode();
    setStringAttribute(kSettingsPath, "log-target", value);
}
std::string BAXMLDoc::logTarget() { return stringSettingOrEmpty(kSettingsPath, "log-target"); }

#define BAXMLDOC_BOOL_SETTING(operation, section, path, attribute)                                                     \
    void BAXMLDoc::operation(bool value)                                                                               \
    {                                                                                                                  \
        section();                                                                                                     \
        setBoolAttribute(path, attribute, value);                                                                      \
    }                                                                                                                  \
    bool BAXMLDoc::operation() { return getBoolAttribute(path, attribute); }

BAXMLDOC_BOOL_SETTING(reboot, addBundleSettingsNode, kSettingsPath, "reboot")
BAXMLDOC_BOOL_SETTING(force, addBundleSettingsNode, kSettingsPath, "force")
BAXMLDOC_BOOL_SETTING(ignore, addBundleSettingsNode, kSettingsPath, "ignore")
BAXMLDOC_BOOL_SETTING(clearPackage, addBundleSettingsNode, kSettingsPath, "clearpackage")
BAXMLDOC_BOOL_SETTING(notify, addBundleSettingsNode, kSettingsPath, "notify")
BAXMLDOC_BOOL_SETTING(continueOnFailure, addBundleSettingsNode, kSettingsPath, "continueOnFailure")
BAXMLDOC_BOOL_SETTING(preInstallEnv, addBundleSettingsNode, kSettingsPath, "preInstallEnv")
BAXMLDOC_BOOL_SETTING(updateOnly, addBundleSettingsNode, kSettingsPath, "updateonly")
BAXMLDOC_BOOL_SETTING(systemSupported, addValidationNode, kValidationPath, "system-supported")
BAXMLDOC_BOOL_SETTING(osSupported, addValidationNode, kValidationPath, "os-supported")
#undef BAXMLDOC_BOOL_SETTING

void BAXMLDoc::callerReboot(bool value)
{
    addBundleSettingsNode();
    setBoolAttribute(kSettingsPath, "callerReboot", value);
}
bool BAXMLDoc::callerReboot() { return stringSettingOrEmpty(kSettingsPath, "callerReboot") == "true"; }

void BAXMLDoc::packageTimeout(int seconds)
{
    addBundleSettingsNode();
    setIntAttribute(kSettingsPath, "packagetimeout", seconds);
}
int BAXMLDoc::packageTimeout()
{
    if (stringSettingOrEmpty(kSettingsPath, "packagetimeout").empty()) return 0;
    return getIntAttribute(kSettingsPath, "packagetimeout");
}

void BAXMLDoc::bundleName(const std::string& value)
{
    addBundleSettingsBundleNode();
    setStringAttribute(kBundlePath, "bundle", value);
}
std::string BAXMLDoc::bundleName() { return stringSettingOrEmpty(kBundlePath, "bundle"); }

void BAXMLDoc::relocationFile(const std::string& value)
{
    addBundleSettingsBundleNode();
    setStringAttribute(kBundlePath, "relocation", value);
}
std::string BAXMLDoc::relocationFile() { return stringSettingOrEmpty(kBundlePath, "relocation"); }

void BAXMLDoc::UserInfo(const std::string& value)
{
    addBundleSettingsBundleNode();
    setStringAttribute(kBundlePath, "userinfo", value);
}
std::string BAXMLDoc::UserInfo() { return stringSettingOrEmpty(kBundlePath, "userinfo"); }

void BAXMLDoc::bundlePackage(const std::string& value)
{
    VORK_TRACE("BAXMLDoc::bundlePackage");
    addBundleSettingsNode();
    xmlNodePtr package = findNode(kBundlePackagePath);
    if (package == nullptr) {
        xmlNodePtr settings = getFirstNode(kSettingsPath);
        NodeHolder created(xmlNewDocNode(m_pDocument, nullptr, toXml("BundlePackage"), nullptr));
        if (!created) {
            throw VorkException("BAXMLDoc::bundlePackage: unable to allocate BundleSettings/BundlePackage node", 272);
        }
        VORK_LOG(9, "BAXMLDoc::bundlePackage: creating BundleSettings/BundlePackage node");
        package = created.release();
        xmlAddChild(settings, package);
    }
    setStringAttribute(package, "bundle-package", value);
}
std::string BAXMLDoc::bundlePackage() { return stringSettingOrEmpty(kBundlePackagePath, "bundle-package"); }

void BAXMLDoc::stable(bool value)
{
    VORK_TRACE("BAXMLDoc::stable");
    if (value) {
        xmlNodePtr bundle = findNode(kBundlePath);
        if (xmlAttrPtr attribute = bundle != nullptr ? xmlHasProp(bundle, toXml("stable")) : nullptr) {
            xmlRemoveProp(attribute);
        }
        return;
    }
    addBundleSettingsBundleNode();
    setBoolAttribute(kBundlePath, "stable", false);
}

bool BAXMLDoc::stable()
{
    VORK_TRACE("BAXMLDoc::stable");
    try {
        return getBoolAttribute(kBundlePath, "stable");
    } catch (...) {
        VORK_LOG(9, "BAXMLDoc::stable: no stable attribute found, returning true");
        return true;
    }
}

void BAXMLDoc::progressPercent(int percent)
{
    VORK_TRACE("BAXMLDoc::progressPercent");
    xmlNodePtr progress = findNode(kProgressPath);
    VORK_LOG(9, "BAXMLDoc::progressPercent: nProgressPercent=" << percent);
    if (percent < 100) {
        if (progress == nullptr) {
            xmlNodePtr root = getFirstNode(kRootPath);
            NodeHolder created(xmlNewDocNode(m_pDocument, nullptr, toXml("Progress"), nullptr));
            if (!created) throw VorkException("BAXMLDoc::progressPercent: unable to allocate Progress node", 272);
            setIntAttribute(created.get(), "value", 0);
            VORK_LOG(9, "BAXMLDoc::progressPercent: adding Progress node");
            progress = created.release();
            xmlAddChild(root, progress);
        }
        // Progress never goes back while the element exists.
        int current = 0;
        try {
            current = getIntAttribute(progress, "value");
        } catch (const VorkException&) {
            current = 0;
        }
        if (percent >= current) setIntAttribute(progress, "value", percent);
    } else if (progress != nullptr) {
        VORK_LOG(9, "BAXMLDoc::progressPercent: removing Progress node");
        xmlUnlinkNode(progress);
        xmlFreeNode(progress);
    }
}

int BAXMLDoc::progressPercent()
{
    VORK_TRACE("BAXMLDoc::progressPercent");
    xmlNodePtr progress = findNode(kProgressPath);
    if (progress == nullptr) {
        VORK_LOG(9, "BAXMLDoc::progressPercent: no Progress element, returning 100");
        return 100;
    }
    return getIntAttribute(progress, "value");
}

void BAXMLDoc::rebootCount(int count)
{
    VORK_TRACE("BAXMLDoc::rebootCount");
    xmlNodePtr counter = findNode(kRebootCountPath);
    VORK_LOG(9, "BAXMLDoc::rebootCount: nRebootCount=" << count);
    if (count < 100) {
        if (counter == nullptr) {
            xmlNodePtr root = getFirstNode(kRootPath);
            NodeHolder created(xmlNewDocNode(m_pDocument, nullptr, toXml("rebootCount"), nullptr));
            if (!created) throw VorkException("BAXMLDoc::rebootCount: unable to allocate rebootCount node", 272);
            setIntAttribute(created.get(), "rebootCount", 0);
            VORK_LOG(9, "BAXMLDoc::rebootCount: adding rebootCount node");
            counter = created.release();
            xmlAddChild(root, counter);
        }
        setIntAttribute(counter, "rebootCount", count);
    } else if (counter != nullptr) {
        VORK_LOG(9, "BAXMLDoc::rebootCount: removing rebootCount node");
        xmlUnlinkNode(counter);
        xmlFreeNode(counter);
    }
}

int BAXMLDoc::rebootCount()
{
    VORK_TRACE("BAXMLDoc::rebootCount");
    xmlNodePtr counter = findNode(kRebootCountPath);
    if (counter == nullptr) {
        VORK_LOG(9, "BAXMLDoc::rebootCount: no rebootCount element, returning 0");
        return 0;
    }
    return getIntAttribute(counter, "rebootCount");
}

void BAXMLDoc::SMStatus(int code)
{
    VORK_TRACE("BAXMLDoc::SMStatus");
    xmlNodePtr node = getFirstNode(kSMStatusPath);
    try {
        if (reboot()) {
            if (code == StatusCode::RebootRequired) code = StatusCode::Rebooting;
            else if (code == StatusCode::ResumeRequired) code = StatusCode::RebootingToResume;
        }
    } catch (const VorkException&) {
        // No reboot option: the code stays as it is.
    }
    setIntAttribute(node, "result", code);
    const int number = StatusCode::statusNumber(code);
    setIntAttribute(node, "state", number);
    setIntAttribute(node, "status", number);
    const char* message = statusMessage(code);
    xmlNodeSetContent(node, nullptr);
    if (*message != '\0') {
        xmlNodePtr text = xmlNewText(toXml(message));
        if (text == nullptr) throw VorkException("BAXMLDoc::SMStatus: unable to allocate SMStatus text node", 272);
        xmlAddChild(node, text);
    }
}

int BAXMLDoc::SMStatus()
{
    VORK_TRACE("BAXMLDoc::SMStatus");
    return getIntAttribute(kSMStatusPath, "result");
}

std::unique_ptr<BAXMLPackageNode> BAXMLDoc::createPackage(const std::string& releaseID, const std::string& path,
                                                          const std::string& exeCmd, const std::string& packageType,
                                                          const std::string& installParams, int updateOnly)
{
    return BAXMLPackageNode::createInProgressPackage(this, releaseID, path, exeCmd, packageType, installParams,
                                                     updateOnly);
}

void BAXMLDoc::createMissingPackage(const std::string& releaseID, const std::string& path,
                                    const std::string& packageType, const std::string& installParams, int updateOnly)
{
    BAXMLPackageNode::createMissingPackage(this, releaseID, path, packageType, installParams, updateOnly);
}

void BAXMLDoc::createSkippedPackage(const std::string& releaseID, const std::string& path,
                                    const std::string& packageType, const std::string& installParams, int updateOnly,
                                    const std::string& message)
{
    BAXMLPackageNode::createSkippedPackage(this, releaseID, path, packageType, installParams, updateOnly, message);
}
