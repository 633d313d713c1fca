#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include <libxml/tree.h>

#include "BAAnyXMLDoc.h"
#include "TrustStore.h"

// The bundle definition file (normally bundle.xml): the ordered list of the
// bundle's packages, their attributes, and the systems and operating systems
// the bundle applies to. Read once, never written.
//
// A package's key is its releaseID attribute when present (even when empty),
// else its path attribute. A key that occurs twice is listed twice; every
// lookup answers the first element with that key.
class BundleDefinition : public BAAnyXMLDoc {
public:
    // Reads the file once, from one descriptor, and parses exactly the bytes
    // that were read. A file that exists but yields no document (not
    // well-formed, unreadable, a DTD that declares anything, a pipe or
    // device) raises VorkException code 3081: it must never run as an empty
    // bundle. A
    // missing file gives an empty definition. With a trust store that
    // requires signatures, those bytes must carry a valid detached signature
    // (<definitionFile>.p7s), else VorkException 3092.
    explicit BundleDefinition(const std::string& definitionFile, const TrustStore* trustStore = nullptr);
    ~BundleDefinition();

    BundleDefinition(const BundleDefinition&) = delete;
    BundleDefinition& operator=(const BundleDefinition&) = delete;

    const std::vector<std::string>& packageIDs() const { return m_packageIDs; }
    // The first key that two packages share, "" when every key is unique.
    const std::string& duplicateKey() const { return m_sDuplicateKey; }
    // Whether any package carries a sha256 attribute.
    bool carriesDigest() const { return m_bCarriesDigest; }
    // Who signed the definition, when its signature was checked.
    const std::vector<TrustStore::Signer>& signers() const { return m_signers; }

    // Reads one attribute of the package with that key; false (value empty)
    // when the package lacks the attribute. Raises VorkException 3075 when no
    // package has that key.
    bool findAttribute(const std::string& id, const std::string& attribute, std::string& value) const;

    bool hasReleaseID(const std::string& id) const;
    std::string packageName(const std::string& id) const;
    std::string packageType(const std::string& id) const;
    std::string pkgInstParms(const std::string& id) const;
    std::string pkgUpdateOnly(const std::string& id) const;
    // The package's time limit in seconds (attribute timeout), 0 when it
    // has none. A limit that is not a positive whole number of seconds
    // raises VorkException 3081 naming the package.
    int pkgTimeout(const std::string& id) const;

    // A time limit text: a positive whole number of seconds (decimal digits
    // only) that fits an int. False for anything else.
    static bool readTimeout(const std::string& text, int& seconds);

    // Whether the bundle applies to this machine's system identifier.
    bool validSystem() const;
    // Whether the bundle applies to the running operating system (the fixed
    // name "WIN").
    bool validOS() const;

    // The key of a Package element: releaseID when present, else path
    // (raises when the element has neither).
    static std::string packageKey(xmlNodePtr package);

private:
    // Raises VorkException 3092 unless the trust store accepts content.
    void checkSignature(const TrustStore& trustStore, bool readable, const std::string& content);

    std::vector<std::string> m_packageIDs;
    // Key to the first Package element with that key, built once.
    std::unordered_map<std::string, xmlNodePtr> m_index;
    std::string m_sDuplicateKey;
    bool m_bCarriesDigest = false;
    std::vector<TrustStore::Signer> m_signers;
};
