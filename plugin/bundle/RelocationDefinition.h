#pragma once
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include <libxml/tree.h>

#include "BAAnyXMLDoc.h"

class TrustStore;

// The optional relocation file (normally relocation.xml): names, per package
// identifier, the directory in which the package's file lies when it is not
// in the bundle directory.
class RelocationDefinition : public BAAnyXMLDoc {
public:
    // An empty path means "no relocation file". A file that cannot be loaded
    // leaves every package at the default location; one that is a pipe or a
    // device raises VorkException 3079. The file is read once and the bytes
    // read are parsed. With a trust store, those bytes must carry a valid
    // detached signature (<relocationFile>.p7s), else VorkException 3092.
    RelocationDefinition(const std::string& relocationFile, const std::string& defaultLocation,
                         const TrustStore* trustStore = nullptr);
    ~RelocationDefinition();

    RelocationDefinition(const RelocationDefinition&) = delete;
    RelocationDefinition& operator=(const RelocationDefinition&) = delete;

    // The directory of the package with that identifier (case-sensitive; the
    // first matching entry wins), or the default location.
    std::string packageLocation(const std::string& id);

private:
    void buildIndex();

    std::string m_sDefaultLocation;
    bool m_bLoaded = false;

    // Built on the first lookup: the entries in document order, the first
    // entry for each releaseID, and the first entry without releaseID (a
    // lookup that would walk past it fails as the walk would).
    bool m_bIndexed = false;
    std::vector<xmlNodePtr> m_entries;
    std::unordered_map<std::string, std::size_t> m_firstEntry;
    std::size_t m_firstWithoutID = static_cast<std::size_t>(-1);
};
