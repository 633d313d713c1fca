#include "BundleDefinition.h"

#include <libxml/parser.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "BundleFile.h"
#include "StatusCode.h"
#include "TrustStore.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XPathNodeList.h"
#include "XmlOwnership.h"
#include "SystemId.h"

using VorkSupport::VorkException;

namespace {
const char* const kPackagesPath = "/SoftwareBundle/Contents/Package";
const char* const kModelsPath = "/SoftwareBundle/TargetSystems/Brand/Model";
const char* const kOSesPath = "/SoftwareBundle/TargetOSes/OperatingSystem";
// The running operating system's name as the bundle definitions know it.
const char* const kOSName = "WIN";

bool hasAttribute(xmlNodePtr node, const char* name) {
    return xmlHasProp(node, reinterpret_cast<const xmlChar*>(name)) != nullptr;
}

// The document of the bytes read, parsed as safely as every other file: no
// network, no external DTD, no entity substitution, no error output. A
// definition needs no DTD: one that declares anything is refused.
xmlDocPtr parseDefinition(const std::string& content, const std::string& fileName) {
    if (content.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    XmlDoc doc(xmlReadMemory(content.data(), static_cast<int>(content.size()), fileName.c_str(), nullptr, options));
    if (doc != nullptr && doc->intSubset != nullptr && doc->intSubset->children != nullptr) return nullptr;
    return doc.release();
}
} // namespace

std::string BundleDefinition::packageKey(xmlNodePtr package) {
    if (hasAttribute(package, "releaseID")) return getStringAttribute(package, "releaseID");
    return getStringAttribute(package, "path");
}

BundleDefinition::BundleDefinition(const std::string& definitionFile, const TrustStore* trustStore)
    : BAAnyXMLDoc(definitionFile, false) {
    VORK_TRACE("BundleDefinition::BundleDefinition");
    const BundleFile file(m_sFileName);
    const bool readable = file.state() == BundleFile::State::Read;
    const bool missing = file.state() == BundleFile::State::Missing;
    if (!readable && !missing) VORK_LOG(1, "BundleDefinition::BundleDefinition: " << file.problem());
    if (trustStore != nullptr && file.state() != BundleFile::State::NotRegular)
        checkSignature(*trustStore, readable, file.content());
    if (readable) m_pDocument = parseDefinition(file.content(), m_sFileName);
    if (m_pDocument == nullptr && !missing) {
        // A definition that is there but cannot be read must not pass for an
        // empty bundle that applies everywhere and succeeds.
        VORK_LOG(1, "BundleDefinition::BundleDefinition: definition file is not well-formed: |" << m_sFileName << "|");
        throw VorkException("BundleDefinition::BundleDefinition: definition file is not well-formed: " + m_sFileName,
                            StatusCode::DefinitionMissing);
    }
    XPathNodeList packages(m_pDocument, kPackagesPath);
    m_packageIDs.reserve(packages.size());
    m_index.reserve(packages.size());
    for (xmlNodePtr package : packages) {
        std::string key;
        if (hasAttribute(package, "releaseID")) {
            key = getStringAttribute(package, "releaseID");
            VORK_LOG(4, "BundleDefinition::BundleDefinition: adding Package using releaseID attribute: " << key);
        } else {
            key = getStringAttribute(package, "path");
            VORK_LOG(4, "BundleDefinition::BundleDefinition: adding Package using path attribute: " << key);
        }
        // The index keeps the first element of a key.
        if (!m_index.emplace(key, package).second && m_sDuplicateKey.empty()) m_sDuplicateKey = key;
        if (hasAttribute(package, "sha256")) m_bCarriesDigest = true;
        m_packageIDs.push_back(std::move(key));
    }
}

BundleDefinition::~BundleDefinition() = default;

void BundleDefinition::checkSignature(const TrustStore& trustStore, bool readable, const std::string& content) {
    if (!trustStore.signatureRequired()) {
        VORK_LOG(2, "BundleDefinition::checkSignature: the trust store |"
                        << trustStore.directory()
                        << "| holds no certificate: the definition's signature is not checked");
        return;
    }
    const std::string problem =
        readable ? trustStore.verify(content, m_sFileName + ".p7s", &m_signers) : "the definition file cannot be read";
    if (!problem.empty()) {
        VORK_LOG(1, "BundleDefinition::checkSignature: |" << m_sFileName << "| refused: " << problem);
        throw VorkException("BundleDefinition::checkSignature: " + problem, StatusCode::IntegrityFailed);
    }
    VORK_LOG(3, "BundleDefinition::checkSignature: signature of |" << m_sFileName << "| verified");
}

bool BundleDefinition::findAttribute(const std::string& id, const std::string& attribute, std::string& value) const {
    VORK_TRACE("BundleDefinition::findAttribute");
    value.clear();
    auto found = m_index.find(id);
    if (found == m_index.end()) {
        VORK_LOG(1, "BundleDefinition::findAttribute: package NOT found for ID: " << id);
        throw VorkException("BundleDefinition::findAttribute: ID not found in bundle", StatusCode::MissingPackage);
    }
    bool result = false;
    if (hasAttribute(found->second, attribute.c_str())) {
        value = getStringAttribute(found->second, attribute);
        result = true;
    }
    VORK_LOG(4, "BundleDefinition::findAttribute: node found for ID: " << id << ", attribute = |" << attribute
                                                                       << "|, value = |" << value << "|");
    return result;
}

bool BundleDefinition::hasReleaseID(const std::string& id) const {
    VORK_TRACE("BundleDefinition::hasReleaseID");
    std::string value;
    if (findAttribute(id, "releaseID", value) && !value.empty()) {
        VORK_LOG(4, "BundleDefinition::hasReleaseID: match found for ID: " << id << ", releaseId: |" << value << "|");
        return true;
    }
    VORK_LOG(4, "BundleDefinition::hasReleaseID: releaseId not found for ID: " << id);
    return false;
}

std::string BundleDefinition::packageName(const std::string& id) const {
    VORK_TRACE("BundleDefinition::packageName");
    std::string value;
    if (findAttribute(id, "path", value))
        VORK_LOG(4, "BundleDefinition::packageName: match found for ID: " << id << ", path: |" << value << "|");
    else VORK_LOG(2, "BundleDefinition::packageName: packageName NOT found for ID: " << id);
    return value;
}

std::string BundleDefinition::packageType(const std::string& id) const {
    VORK_TRACE("BundleDefinition::packageType");
    std::string value;
    if (findAttribute(id, "packageType", value))
        VORK_LOG(4, "BundleDefinition::packageType: match found for ID: " << id << ", packageType: |" << value << "|");
    else VORK_LOG(4, "BundleDefinition::packageType: packageType NOT found for ID: " << id);
    return value;
}

std::string BundleDefinition::pkgInstParms(const std::string& id) const {
    VORK_TRACE("BundleDefinition::pkgInstParms");
    std::string value;
    if (findAttribute(id, "installparams", value))
        VORK_LOG(4,
                 "BundleDefinition::pkgInstParms: match found for ID: " << id << ", pkgInstParms: |" << value << "|");
    else VORK_LOG(4, "BundleDefinition::pkgInstParms: installparams NOT found for ID: " << id);
    return value;
}

std::string BundleDefinition::pkgUpdateOnly(const std::string& id) const {
    VORK_TRACE("BundleDefinition::pkgUpdateOnly");
    std::string value;
    if (findAttribute(id, "updateonly", value))
        VORK_LOG(4,
                 "BundleDefinition::pkgUpdateOnly: match found for ID: " << id << ", pkgUpdateOnly: |" << value << "|");
    else VORK_LOG(4, "BundleDefinition::pkgUpdateOnly: updateonly NOT found for ID: " << id);
    return value;
}

int BundleDefinition::pkgTimeout(const std::string& id) const {
    VORK_TRACE("BundleDefinition::pkgTimeout");
    std::string value;
    if (!findAttribute(id, "timeout", value)) return 0;
    int seconds = 0;
    if (!readTimeout(value, seconds)) {
        // A limit that cannot be read must not quietly mean "no limit".
        VORK_LOG(1, "BundleDefinition::pkgTimeout: invalid timeout |" << value << "| for package " << id);
        throw VorkException("BundleDefinition::pkgTimeout: package " + id + " has an invalid timeout \"" + value +
                                "\" (a positive whole number of seconds is needed)",
                            StatusCode::DefinitionMissing);
    }
    return seconds;
}

bool BundleDefinition::readTimeout(const std::string& text, int& seconds) {
    if (text.empty() || text.size() > 10) return false;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value <= 0 || value > std::numeric_limits<int>::max()) return false;
    seconds = static_cast<int>(value);
    return true;
}

bool BundleDefinition::validSystem() const {
    VORK_TRACE("BundleDefinition::validSystem");
    XPathNodeList models(m_pDocument, kModelsPath);
    if (models.empty()) {
        VORK_LOG(9, "BundleDefinition::validSystem: no systems defined in bundle, assuming system is valid");
        return true;
    }
    const SystemIdReport identity = identifySystem();
    const unsigned int systemId = static_cast<unsigned int>(identity.id) & 0xFFFFu;
    if (VorkSupport::VorkLogging::enabled(4)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", systemId);
        VORK_LOG(4, "BundleDefinition::validSystem: system id |"
                        << hex << "| by |" << identity.method << "|; SMBIOS table from |" << identity.source << "| |"
                        << identity.location << "|, version |" << identity.majorVersion << "." << identity.minorVersion
                        << "|, |" << identity.tableSize << "| bytes");
    }
    if (VorkSupport::VorkLogging::enabled(9)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X", systemId);
        VORK_LOG(9, "BundleDefinition::validSystem: system id=" << systemId << " (0x" << hex << ")"
                                                                << " - SMBIOS lib version - " << getLibraryVersion());
    }
    for (xmlNodePtr model : models) {
        const std::string text = getStringAttribute(model, "systemID");
        // strtoul in base 16, saturating at the 32-bit maximum as a 32-bit
        // unsigned long does.
        const unsigned long parsed = std::strtoul(text.c_str(), nullptr, 16);
        const unsigned int supported = parsed > 0xFFFFFFFFul ? 0xFFFFFFFFu : static_cast<unsigned int>(parsed);
        VORK_LOG(9, "BundleDefinition::validSystem: supported system=" << supported);
        if (supported == systemId) {
            VORK_LOG(4, "BundleDefinition::validSystem: match found for: " << systemId);
            return true;
        }
    }
    VORK_LOG(9, "BundleDefinition::validSystem: no matching system found");
    return false;
}

bool BundleDefinition::validOS() const {
    VORK_TRACE("BundleDefinition::validOS");
    XPathNodeList systems(m_pDocument, kOSesPath);
    if (systems.empty()) {
        VORK_LOG(9, "BundleDefinition::validOS: no OS defined in bundle, assuming OS is valid");
        return true;
    }
    VORK_LOG(9, "BundleDefinition::validOS: OS name=" << kOSName);
    for (xmlNodePtr system : systems) {
        const std::string code = getStringAttribute(system, "osCode");
        VORK_LOG(9, "BundleDefinition::validOS: supported OS=" << code);
        if (code.find(kOSName) != std::string::npos) {
            VORK_LOG(4, "BundleDefinition::validOS: match found for: " << kOSName);
            return true;
        }
    }
    VORK_LOG(9, "BundleDefinition::validOS: no matching OS found");
    return false;
}
