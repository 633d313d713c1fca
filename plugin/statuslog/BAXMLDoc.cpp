#include "BAXMLDoc.h"

#include <optional>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "BAStatusLogFiles.h"
#include "BAXmlText.h"
#include "FixedLogTexts.h"
#include "StatusCode.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkPlatform.h"
#include "VorkRemoveDirectory.h"
#include "VorkScopeTrace.h"
#include "getAbsolutePath.h"
#include "statusMessage.h"
#include "XmlOwnership.h"

using VorkSupport::VorkAtomicFile;
using VorkSupport::VorkException;
using VorkSupport::VorkFailureKind;

const char* const BAXMLDoc::kInterruptedRunText =
    "The run of this package was cut off before it ended, and the update could not go on with it: whether the "
    "package applied is not known.";

namespace {

const xmlChar* toXml(const char* text) { return reinterpret_cast<const xmlChar*>(text); }

xmlNodePtr firstChildElement(xmlNodePtr parent, const char* name) {
    if (parent == nullptr) return nullptr;
    for (xmlNodePtr child = parent->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE && xmlStrEqual(child->name, toXml(name))) return child;
    }
    return nullptr;
}

bool hasAttribute(xmlNodePtr element, const char* name) {
    return element != nullptr && xmlHasProp(element, toXml(name)) != nullptr;
}

[[noreturn]] void noSuchNode() {
    VORK_LOG(9, FixedLogText::StatusLog::kNoSuchNode);
    throw VorkException(FixedLogText::StatusLog::kNoSuchNode, VorkFailureKind::NotFound);
}

} // namespace

BAXMLDoc::BAXMLDoc() : BAPackageEntries(m_changes), m_sections(m_changes) {
    VORK_TRACE("BAXMLDoc::BAXMLDoc");
    init();
}

BAXMLDoc::BAXMLDoc(const std::string& fileName)
    : BAAnyXMLDoc(fileName, false), BAPackageEntries(m_changes), m_sections(m_changes) {
    VORK_TRACE("BAXMLDoc::BAXMLDoc");
    init();
}

BAXMLDoc::~BAXMLDoc() = default;

void BAXMLDoc::attachDocument() {
    m_sections.attach(m_pDocument);
    attachEntries(m_pDocument);
    m_changes.clear();
    m_journal.forget();
}

void BAXMLDoc::init() {
    VORK_TRACE("BAXMLDoc::init");
    replaceDocument(nullptr);
    attachDocument();
    xmlDocPtr doc = xmlNewDoc(toXml("1.0"));
    if (doc == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create document");
        throw VorkException("BAXMLDoc::init: unable to allocate XML document", VorkFailureKind::AllocationFailure);
    }
    replaceDocument(doc);
    xmlNodePtr root = xmlNewDocNode(m_pDocument, nullptr, toXml("BundleLog"), nullptr);
    if (root == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create root node");
        throw VorkException("BAXMLDoc::init: unable to allocate XML document root node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlDocSetRootElement(m_pDocument, root);
    attachDocument();
    setDocDateTime();

    xmlNodePtr smStatus = m_sections.create(BALogSections::SMStatus);
    if (smStatus == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create SMStatus node");
        throw VorkException("BAXMLDoc::init: unable to allocate SMStatus node", VorkFailureKind::AllocationFailure);
    }
    xmlNodePtr text = xmlNewText(toXml("Success"));
    if (text == nullptr) {
        VORK_LOG(1, "BAXMLDoc::init: could not create SMStatus text node");
        m_sections.remove(BALogSections::SMStatus);
        throw VorkException("BAXMLDoc::init: unable to allocate SMStatus text node",
                            VorkFailureKind::AllocationFailure);
    }
    xmlAddChild(smStatus, text);
    setStringAttribute(smStatus, "result", "0");
    m_changes.clear();
}

void BAXMLDoc::load() {
    VORK_TRACE("BAAnyXMLDoc::load");
    replaceDocument(nullptr);
    replaceDocument(BAJournal::load(m_sFileName));
    attachDocument();
}

void BAXMLDoc::takeDocument(BAXMLDoc& other) {
    if (&other == this) return;
    replaceDocument(other.m_pDocument);
    other.m_pDocument = nullptr;
    m_sFileName = std::move(other.m_sFileName);
    other.m_sFileName.clear();
    attachDocument();
    other.attachDocument();
}

void BAXMLDoc::save() {
    VORK_TRACE("BAAnyXMLDoc::save");
    persist(true);
}

void BAXMLDoc::saveWithNext() {
    VORK_TRACE("BAXMLDoc::saveWithNext");
    persist(false);
}

void BAXMLDoc::persist(bool durable) {
    switch (m_journal.append(m_pDocument, m_changes, m_sFileName, m_bPrivateFile, durable)) {
        case BAJournal::Append::Done: m_changes.clear(); return;
        case BAJournal::Append::Failed:
            // The next save writes the log whole.
            m_changes.clear();
            saveFailure(BAJournal::journalName(m_sFileName), VorkAtomicFile::Outcome::Unchanged);
        case BAJournal::Append::SnapshotDue: break;
    }
    saveWhole();
}

void BAXMLDoc::saveWhole() {
    VORK_TRACE("BAXMLDoc::saveWhole");
    const VorkAtomicFile::Outcome outcome = writeWhole(m_pDocument, m_sFileName, m_bPrivateFile);
    m_changes.clear();
    if (outcome != VorkAtomicFile::Outcome::Written) {
        m_journal.forget();
        saveFailure(m_sFileName, outcome);
    }
    m_journal.snapshotWritten(m_pDocument, m_sFileName, m_sSaveText);
}

void BAXMLDoc::setRootAttribute(const std::string& name, const std::string& value) {
    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (root == nullptr) throw VorkException("BAXMLDoc::setRootAttribute: the status log has no root element");
    setStringAttribute(root, name, value);
}

std::string BAXMLDoc::rootAttributeOrEmpty(const char* name) {
    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (std::optional<std::string> value = findStringAttribute(root, name)) return *value;
    VORK_LOG(9, "BAXMLDoc::rootAttributeOrEmpty: attribute " << name << " not found, returning empty value");
    return std::string();
}

void BAXMLDoc::setDocDateTime() {
    VORK_TRACE("BAXMLDoc::setDocDateTime");
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%4.4d-%2.2d-%2.2dT%2.2d:%2.2d:%2.2dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    setRootAttribute("dateTime", text);
}

xmlNodePtr BAXMLDoc::requireSection(Section section) {
    xmlNodePtr element = m_sections.find(section);
    if (element == nullptr) noSuchNode();
    return element;
}

xmlNodePtr BAXMLDoc::createSection(Section section, const char* failure) {
    xmlNodePtr element = m_sections.create(section);
    if (element == nullptr) throw VorkException(failure, VorkFailureKind::AllocationFailure);
    return element;
}

xmlDocPtr BAXMLDoc::strippedCopy(const char* writer) {
    if (m_pDocument == nullptr) return nullptr;
    xmlDocPtr copy = xmlCopyDoc(m_pDocument, 1);
    if (copy == nullptr) {
        throw VorkException(std::string("BAXMLDoc::") + writer + ": unable to copy the document",
                            VorkFailureKind::AllocationFailure);
    }
    xmlNodePtr root = xmlDocGetRootElement(copy);
    xmlNodePtr settings = (root != nullptr && xmlStrEqual(root->name, toXml("BundleLog")))
                              ? firstChildElement(root, "BundleSettings")
                              : nullptr;
    if (xmlAttrPtr logTargetAttr = settings != nullptr ? xmlHasProp(settings, toXml("log-target")) : nullptr) {
        xmlRemoveProp(logTargetAttr);
        VORK_LOG(9, "BAXMLDoc::strippedCopy: removing log-target attribute for " << writer);
    }
    if (xmlAttrPtr bootIdAttr = settings != nullptr ? xmlHasProp(settings, toXml("restartBootId")) : nullptr)
        xmlRemoveProp(bootIdAttr);
    xmlNodePtr bundle = firstChildElement(settings, "Bundle");
    if (xmlAttrPtr stableAttr = bundle != nullptr ? xmlHasProp(bundle, toXml("stable")) : nullptr) {
        xmlRemoveProp(stableAttr);
        VORK_LOG(9, "BAXMLDoc::strippedCopy: removing stable attribute for " << writer);
    }
    return copy;
}

void BAXMLDoc::saveTo(const std::string& fileName) {
    VORK_TRACE("BAXMLDoc::saveTo");
    XmlDoc copy(strippedCopy("saveTo"));
    VORK_LOG(9, "BAXMLDoc::saveTo: saving document to : |" << fileName << "|");
    // The user's log follows the umask; it holds no internal attributes.
    const VorkAtomicFile::Outcome outcome = writeWhole(copy.get(), fileName, false);
    if (outcome != VorkAtomicFile::Outcome::Written) saveFailure(fileName, outcome);
    VORK_LOG(9, "BAXMLDoc::saveTo: document saved");
}

std::string BAXMLDoc::dumpRoot() {
    VORK_TRACE("BAXMLDoc::dumpRoot");
    XmlDoc copy(strippedCopy("dumpRoot"));
    VORK_LOG(9, "BAXMLDoc::dumpRoot: dumping root element");
    if (!copy) return std::string();
    xmlNodePtr root = xmlDocGetRootElement(copy.get());
    if (root == nullptr) return std::string();
    std::string text;
    if (BAXmlText::serialiseElement(copy.get(), root, text)) return text;
    // The answer still tells what happened, in a document small enough to
    // be dumped.
    VORK_LOG(1, "BAXMLDoc::dumpRoot: unable to serialise the document, answering status 3079");
    BAXMLDoc failure;
    failure.SMStatus(StatusCode::UnknownException);
    return failure.dumpRoot();
}

void BAXMLDoc::getStartParameters(std::string& directory, std::string& definitionFile, std::string& relocationName) {
    VORK_TRACE("BAXMLDoc::getStartParameters");
    directory = bundlePath();
    if (m_sections.find(BALogSections::BundlePackage) != nullptr) {
        definitionFile = "bundle.xml";
        // The relocation file of an extracted bundle lies in the bundle
        // directory, never in whatever the process's current directory is.
        relocationName = directory;
        if (relocationName.empty() || (relocationName.back() != '/' && relocationName.back() != '\\')) {
            relocationName += VorkSupport::VorkPlatform::separator;
        }
        relocationName += "relocation.xml";
        VORK_LOG(9, FixedLogText::StatusLog::kDefaultStartFiles);
    } else {
        definitionFile = bundleName();
        relocationName = relocationFile();
        VORK_LOG(9, FixedLogText::StatusLog::kStartFilesFromBundle);
    }
    if (!relocationName.empty()) {
        if (!VorkSupport::VorkPlatform::fileExists(relocationName)) {
            relocationName.clear();
            VORK_LOG(9, FixedLogText::StatusLog::kRelocationNotFound);
        }
    } else {
        VORK_LOG(9, FixedLogText::StatusLog::kNoRelocation);
    }
}

void BAXMLDoc::removeTempFiles() {
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
            throw VorkException("BAXMLDoc::removeTempFiles: refusing to remove |" + path + "|");
        }
        VorkSupport::VorkRemoveDirectory(path, true);
        VORK_LOG(4, "BAXMLDoc::removeTempFiles: Bundle package directory deleted: " << path);
    } catch (const VorkException&) {
        VORK_LOG(1, "BAXMLDoc::removeTempFiles: Bundle package directory could not be deleted: " << path);
    }
}

void BAXMLDoc::finishAs(const std::string& newName, bool noReplace) {
    stable(true);
    progressPercent(100);
    // A final log that cannot be written leaves the internal log where it
    // is: the save raises before anything is renamed. The final log is one
    // whole file: the journal goes with this save.
    saveWhole();
    m_journal.forget();
    if (BAStatusLogFiles::moveTo(m_sFileName, newName, noReplace)) {
        VORK_LOG(1, FixedLogText::StatusLog::kRenamed << "|" << m_sFileName << "| to : |" << newName << "|");
        return;
    }
    const int error = errno;
    VORK_LOG(1, FixedLogText::StatusLog::kRenameFailed << "|" << m_sFileName << "| to : |" << newName << "|");
    switch (error) {
        case ENOENT: VORK_LOG(1, FixedLogText::StatusLog::kRenameErrno << "ENOENT"); break;
        case EACCES: VORK_LOG(1, FixedLogText::StatusLog::kRenameErrno << "EACCES"); break;
        case EINVAL: VORK_LOG(1, FixedLogText::StatusLog::kRenameErrno << "EINVAL"); break;
        default: VORK_LOG(1, FixedLogText::StatusLog::kRenameErrno << error); break;
    }
    errno = error;
    throw VorkException("BAXMLDoc::cleanup: unable to rename internal log file", StatusCode::UnknownException);
}

void BAXMLDoc::cleanup() {
    VORK_TRACE("BAXMLDoc::cleanup");
    removeTempFiles();
    if (m_sFileName.empty()) return;
    if (hasEntriesInProgress()) closeInterruptedEntries(kInterruptedRunText);

    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (hasAttribute(root, "update-id")) {
        const std::string::size_type separator = m_sFileName.find_last_of("\\/");
        const std::string directory =
            separator == std::string::npos ? std::string() : m_sFileName.substr(0, separator + 1);
        std::string newName;
        getAbsolutePath(directory + updateId() + ".xml", newName, false);
        finishAs(newName, false);
    } else {
        VORK_LOG(4, "BAXMLDoc::cleanup: deleting internal log file: |" << m_sFileName << "|");
        removeFile(m_sFileName);
        m_journal.forget();
    }
}

std::string BAXMLDoc::keepAsRecord(bool interrupted) {
    VORK_TRACE("BAXMLDoc::keepAsRecord");
    removeTempFiles();
    const int closed = closeInterruptedEntries(kInterruptedRunText);
    if (interrupted) {
        VORK_LOG(2, "BAXMLDoc::keepAsRecord: the update was cut off (" << closed << " entries interrupted)");
        SMStatus(StatusCode::UnknownException);
        setDocDateTime();
    }
    xmlNodePtr root = m_pDocument != nullptr ? xmlDocGetRootElement(m_pDocument) : nullptr;
    if (hasAttribute(root, "update-id")) {
        cleanup();
        const std::string::size_type separator = m_sFileName.find_last_of("\\/");
        return m_sFileName.substr(0, separator + 1) + updateId() + ".xml";
    }
    for (int attempt = 0;; ++attempt) {
        const std::string aside = BAStatusLogFiles::asideName(m_sFileName, "interrupted") +
                                  (attempt == 0 ? std::string() : "-" + std::to_string(attempt));
        try {
            finishAs(aside, true);
            return aside;
        } catch (const VorkException&) {
            if (errno != EEXIST || attempt >= 100) throw;
        }
    }
}

void BAXMLDoc::removeFile(const std::string& fileName) { BAStatusLogFiles::remove(fileName); }

void BAXMLDoc::foldJournal(const std::string& fileName) {
    if (!BAStatusLogFiles::fold(fileName, true)) {
        VORK_LOG(1, "Error:Could not save XML log file!");
        throw VorkException("BAXMLDoc::foldJournal: could not save |" + fileName + "|", StatusCode::UnknownException);
    }
}

void BAXMLDoc::addBundleSettingsNode() {
    VORK_TRACE("BAXMLDoc::addBundleSettingsNode");
    if (m_sections.find(BALogSections::Settings) != nullptr) return;
    if (m_sections.root() == nullptr) noSuchNode();
    xmlNodePtr settings = createSection(BALogSections::Settings,
                                        "BAXMLDoc::addBundleSettingsNode: unable to allocate BundleSettings node");
    setStringAttribute(settings, "bundle-path", "");
}

void BAXMLDoc::addValidationNode() {
    VORK_TRACE("BAXMLDoc::addValidationNode");
    if (m_sections.find(BALogSections::Validation) != nullptr) return;
    if (m_sections.root() == nullptr) noSuchNode();
    xmlNodePtr validation =
        createSection(BALogSections::Validation, "BAXMLDoc::addValidationNode: unable to allocate Validation node");
    setBoolAttribute(validation, "system-supported", false);
    setBoolAttribute(validation, "os-supported", false);
}

void BAXMLDoc::addBundleSettingsBundleNode() {
    VORK_TRACE("BAXMLDoc::addBundleSettingsBundleNode");
    addBundleSettingsNode();
    if (m_sections.find(BALogSections::Bundle) != nullptr) return;
    createSection(BALogSections::Bundle, "BAXMLDoc::addBundleSettingsBundleNode: unable to allocate Bundle node");
    if (m_sections.find(BALogSections::UserInfo) == nullptr)
        createSection(BALogSections::UserInfo,
                      "BAXMLDoc::addBundleSettingsBundleNode: unable to allocate UserInfo node");
}

std::string BAXMLDoc::stringSettingOrEmpty(Section section, const char* name) {
    xmlNodePtr element = m_sections.find(section);
    if (std::optional<std::string> value = findStringAttribute(element, name)) return *value;
    VORK_LOG(9, "BAXMLDoc::stringSettingOrEmpty: attribute " << name << " not found, returning empty value");
    return std::string();
}

void BAXMLDoc::setSetting(Section section, const char* name, const std::string& value) {
    setStringAttribute(requireSection(section), name, value);
}

void BAXMLDoc::setBoolSetting(Section section, const char* name, bool value) {
    setBoolAttribute(requireSection(section), name, value);
}

bool BAXMLDoc::boolSetting(Section section, const char* name) {
    return getBoolAttribute(requireSection(section), name);
}

void BAXMLDoc::updateId(const std::string& value) { setRootAttribute("update-id", value); }
std::string BAXMLDoc::updateId() { return rootAttributeOrEmpty("update-id"); }
void BAXMLDoc::installParams(const std::string& value) { setRootAttribute("install-params", value); }
std::string BAXMLDoc::installParams() { return rootAttributeOrEmpty("install-params"); }

void BAXMLDoc::bundlePath(const std::string& value) {
    addBundleSettingsNode();
    setSetting(BALogSections::Settings, "bundle-path", value);
}
std::string BAXMLDoc::bundlePath() {
    return getStringAttribute(requireSection(BALogSections::Settings), "bundle-path");
}

void BAXMLDoc::logTarget(const std::string& value) {
    addBundleSettingsNode();
    setSetting(BALogSections::Settings, "log-target", value);
}
std::string BAXMLDoc::logTarget() { return stringSettingOrEmpty(BALogSections::Settings, "log-target"); }

#define BAXMLDOC_BOOL_SETTING(operation, addSection, section, attribute)                                               \
    void BAXMLDoc::operation(bool value) {                                                                             \
        addSection();                                                                                                  \
        setBoolSetting(BALogSections::section, attribute, value);                                                      \
    }                                                                                                                  \
    bool BAXMLDoc::operation() { return boolSetting(BALogSections::section, attribute); }

BAXMLDOC_BOOL_SETTING(reboot, addBundleSettingsNode, Settings, "reboot")
BAXMLDOC_BOOL_SETTING(force, addBundleSettingsNode, Settings, "force")
BAXMLDOC_BOOL_SETTING(ignore, addBundleSettingsNode, Settings, "ignore")
BAXMLDOC_BOOL_SETTING(clearPackage, addBundleSettingsNode, Settings, "clearpackage")
BAXMLDOC_BOOL_SETTING(notify, addBundleSettingsNode, Settings, "notify")
BAXMLDOC_BOOL_SETTING(continueOnFailure, addBundleSettingsNode, Settings, "continueOnFailure")
BAXMLDOC_BOOL_SETTING(preInstallEnv, addBundleSettingsNode, Settings, "preInstallEnv")
BAXMLDOC_BOOL_SETTING(updateOnly, addBundleSettingsNode, Settings, "updateonly")
BAXMLDOC_BOOL_SETTING(systemSupported, addValidationNode, Validation, "system-supported")
BAXMLDOC_BOOL_SETTING(osSupported, addValidationNode, Validation, "os-supported")
#undef BAXMLDOC_BOOL_SETTING

void BAXMLDoc::callerReboot(bool value) {
    addBundleSettingsNode();
    setBoolSetting(BALogSections::Settings, "callerReboot", value);
}
bool BAXMLDoc::callerReboot() { return stringSettingOrEmpty(BALogSections::Settings, "callerReboot") == "true"; }

void BAXMLDoc::restartBootId(const std::string& value) {
    addBundleSettingsNode();
    if (!value.empty()) return setSetting(BALogSections::Settings, "restartBootId", value);
    // A section is saved by its text: removing the attribute is change enough.
    if (xmlAttrPtr attribute = xmlHasProp(requireSection(BALogSections::Settings), toXml("restartBootId")))
        xmlRemoveProp(attribute);
}
std::string BAXMLDoc::restartBootId() { return stringSettingOrEmpty(BALogSections::Settings, "restartBootId"); }

void BAXMLDoc::packageTimeout(int seconds) {
    addBundleSettingsNode();
    setIntAttribute(requireSection(BALogSections::Settings), "packagetimeout", seconds);
}
int BAXMLDoc::packageTimeout() {
    xmlNodePtr settings = m_sections.find(BALogSections::Settings);
    return findIntAttribute(settings, "packagetimeout").value_or(0);
}

void BAXMLDoc::bundleName(const std::string& value) {
    addBundleSettingsBundleNode();
    setSetting(BALogSections::Bundle, "bundle", value);
}
std::string BAXMLDoc::bundleName() { return stringSettingOrEmpty(BALogSections::Bundle, "bundle"); }

void BAXMLDoc::relocationFile(const std::string& value) {
    addBundleSettingsBundleNode();
    setSetting(BALogSections::Bundle, "relocation", value);
}
std::string BAXMLDoc::relocationFile() { return stringSettingOrEmpty(BALogSections::Bundle, "relocation"); }

void BAXMLDoc::UserInfo(const std::string& value) {
    addBundleSettingsBundleNode();
    setSetting(BALogSections::Bundle, "userinfo", value);
}
std::string BAXMLDoc::UserInfo() { return stringSettingOrEmpty(BALogSections::Bundle, "userinfo"); }

void BAXMLDoc::bundlePackage(const std::string& value) {
    VORK_TRACE("BAXMLDoc::bundlePackage");
    addBundleSettingsNode();
    xmlNodePtr package = m_sections.find(BALogSections::BundlePackage);
    if (package == nullptr) {
        package = createSection(BALogSections::BundlePackage,
                                "BAXMLDoc::bundlePackage: unable to allocate BundleSettings/BundlePackage node");
        VORK_LOG(9, "BAXMLDoc::bundlePackage: creating BundleSettings/BundlePackage node");
    }
    setStringAttribute(package, "bundle-package", value);
}
std::string BAXMLDoc::bundlePackage() { return stringSettingOrEmpty(BALogSections::BundlePackage, "bundle-package"); }

void BAXMLDoc::stable(bool value) {
    VORK_TRACE("BAXMLDoc::stable");
    if (value) {
        xmlNodePtr bundle = m_sections.find(BALogSections::Bundle);
        if (xmlAttrPtr attribute = bundle != nullptr ? xmlHasProp(bundle, toXml("stable")) : nullptr) {
            xmlRemoveProp(attribute);
        }
        return;
    }
    addBundleSettingsBundleNode();
    setBoolSetting(BALogSections::Bundle, "stable", false);
}

bool BAXMLDoc::stable() {
    VORK_TRACE("BAXMLDoc::stable");
    xmlNodePtr bundle = m_sections.find(BALogSections::Bundle);
    if (const std::optional<bool> value = findBoolAttribute(bundle, "stable")) return *value;
    VORK_LOG(9, "BAXMLDoc::stable: no stable attribute found, returning true");
    return true;
}

void BAXMLDoc::progressPercent(int percent) {
    VORK_TRACE("BAXMLDoc::progressPercent");
    xmlNodePtr progress = m_sections.find(BALogSections::Progress);
    VORK_LOG(9, "BAXMLDoc::progressPercent: nProgressPercent=" << percent);
    if (percent < 100) {
        if (progress == nullptr) {
            if (m_sections.root() == nullptr) noSuchNode();
            progress =
                createSection(BALogSections::Progress, "BAXMLDoc::progressPercent: unable to allocate Progress node");
            setIntAttribute(progress, "value", 0);
            VORK_LOG(9, "BAXMLDoc::progressPercent: adding Progress node");
        }
        // Progress never goes back while the element exists.
        const int current = findIntAttribute(progress, "value").value_or(0);
        if (percent >= current) setIntAttribute(progress, "value", percent);
    } else if (progress != nullptr) {
        VORK_LOG(9, "BAXMLDoc::progressPercent: removing Progress node");
        m_sections.remove(BALogSections::Progress);
    }
}

int BAXMLDoc::progressPercent() {
    VORK_TRACE("BAXMLDoc::progressPercent");
    xmlNodePtr progress = m_sections.find(BALogSections::Progress);
    if (progress == nullptr) {
        VORK_LOG(9, "BAXMLDoc::progressPercent: no Progress element, returning 100");
        return 100;
    }
    return getIntAttribute(progress, "value");
}

void BAXMLDoc::rebootCount(int count) {
    VORK_TRACE("BAXMLDoc::rebootCount");
    xmlNodePtr counter = m_sections.find(BALogSections::RebootCount);
    VORK_LOG(9, "BAXMLDoc::rebootCount: nRebootCount=" << count);
    if (count < 100) {
        if (counter == nullptr) {
            if (m_sections.root() == nullptr) noSuchNode();
            counter =
                createSection(BALogSections::RebootCount, "BAXMLDoc::rebootCount: unable to allocate rebootCount node");
            setIntAttribute(counter, "rebootCount", 0);
            VORK_LOG(9, "BAXMLDoc::rebootCount: adding rebootCount node");
        }
        setIntAttribute(counter, "rebootCount", count);
    } else if (counter != nullptr) {
        VORK_LOG(9, "BAXMLDoc::rebootCount: removing rebootCount node");
        m_sections.remove(BALogSections::RebootCount);
    }
}

int BAXMLDoc::rebootCount() {
    VORK_TRACE("BAXMLDoc::rebootCount");
    xmlNodePtr counter = m_sections.find(BALogSections::RebootCount);
    if (counter == nullptr) {
        VORK_LOG(9, "BAXMLDoc::rebootCount: no rebootCount element, returning 0");
        return 0;
    }
    return getIntAttribute(counter, "rebootCount");
}

void BAXMLDoc::SMStatus(int code) {
    VORK_TRACE("BAXMLDoc::SMStatus");
    xmlNodePtr node = requireSection(BALogSections::SMStatus);
    // Without a reboot option the code stays as it is.
    xmlNodePtr settings = m_sections.find(BALogSections::Settings);
    if (findBoolAttribute(settings, "reboot").value_or(false)) {
        if (code == StatusCode::RebootRequired) code = StatusCode::Rebooting;
        else if (code == StatusCode::ResumeRequired) code = StatusCode::RebootingToResume;
    }
    setIntAttribute(node, "result", code);
    const int number = StatusCode::statusNumber(code);
    setIntAttribute(node, "state", number);
    setIntAttribute(node, "status", number);
    const char* message = statusMessage(code);
    xmlNodeSetContent(node, nullptr);
    if (*message != '\0') {
        xmlNodePtr text = xmlNewText(toXml(message));
        if (text == nullptr)
            throw VorkException("BAXMLDoc::SMStatus: unable to allocate SMStatus text node",
                                VorkFailureKind::AllocationFailure);
        xmlAddChild(node, text);
    }
}

int BAXMLDoc::SMStatus() {
    VORK_TRACE("BAXMLDoc::SMStatus");
    return getIntAttribute(requireSection(BALogSections::SMStatus), "result");
}

std::unique_ptr<BAXMLPackageNode> BAXMLDoc::createPackage(const std::string& releaseID, const std::string& path,
                                                          const std::string& exeCmd, const std::string& packageType,
                                                          const std::string& installParams, int updateOnly) {
    return BAXMLPackageNode::createInProgressPackage(this, releaseID, path, exeCmd, packageType, installParams,
                                                     updateOnly);
}

void BAXMLDoc::createMissingPackage(const std::string& releaseID, const std::string& path,
                                    const std::string& packageType, const std::string& installParams, int updateOnly) {
    BAXMLPackageNode::createMissingPackage(this, releaseID, path, packageType, installParams, updateOnly);
}

void BAXMLDoc::createSkippedPackage(const std::string& releaseID, const std::string& path,
                                    const std::string& packageType, const std::string& installParams, int updateOnly,
                                    const std::string& message) {
    BAXMLPackageNode::createSkippedPackage(this, releaseID, path, packageType, installParams, updateOnly, message);
}
