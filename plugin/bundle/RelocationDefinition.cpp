#include "RelocationDefinition.h"

#include <exception>

#include "BAXmlText.h"
#include "BundleFile.h"
#include "StatusCode.h"
#include "TrustStore.h"
#include "VorkException.h"
#include "VorkLogRecord.h"
#include "VorkScopeTrace.h"
#include "XPathNodeList.h"

namespace {
const std::size_t kNone = static_cast<std::size_t>(-1);
}

RelocationDefinition::RelocationDefinition(const std::string& relocationFile, const std::string& defaultLocation,
                                           const TrustStore* trustStore)
    : BAAnyXMLDoc(relocationFile, false), m_sDefaultLocation(defaultLocation) {
    VORK_TRACE("RelocationDefinition::RelocationDefinition");
    if (relocationFile.empty()) {
        VORK_LOG(9, "RelocationDefinition::RelocationDefinition: no relocation file, using default");
        return;
    }
    VORK_LOG(9, "RelocationDefinition::RelocationDefinition: loading relocation file: "
                    << "|" << relocationFile << "|");
    const BundleFile file(m_sFileName);
    if (file.state() == BundleFile::State::NotRegular) {
        VORK_LOG(1, "RelocationDefinition::RelocationDefinition: " << file.problem());
        throw VorkSupport::VorkException("RelocationDefinition::RelocationDefinition: " + file.problem(),
                                         StatusCode::UnknownException);
    }
    if (trustStore != nullptr) {
        // Where a verified package lies is part of what was verified.
        const std::string problem = file.state() == BundleFile::State::Read
                                        ? trustStore->verify(file.content(), m_sFileName + ".p7s")
                                        : file.problem();
        if (!problem.empty()) {
            VORK_LOG(1, "RelocationDefinition::RelocationDefinition: |" << m_sFileName << "| refused: " << problem);
            throw VorkSupport::VorkException("RelocationDefinition::RelocationDefinition: " + problem,
                                             StatusCode::IntegrityFailed);
        }
    }
    if (file.state() != BundleFile::State::Read) {
        VORK_LOG(9, "RelocationDefinition::RelocationDefinition: unable to load relocation file, using default");
        return;
    }
    m_pDocument = BAXmlText::parseText(file.content());
    VORK_LOG(9, "RelocationDefinition::RelocationDefinition: relocation file loaded");
    m_bLoaded = true;
}

RelocationDefinition::~RelocationDefinition() = default;

void RelocationDefinition::buildIndex() {
    XPathNodeList entries(m_pDocument, "/QPKPath/Package");
    m_entries = entries.nodes();
    m_firstEntry.reserve(m_entries.size());
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        if (xmlHasProp(m_entries[i], reinterpret_cast<const xmlChar*>("releaseID")) == nullptr) {
            if (m_firstWithoutID == kNone) m_firstWithoutID = i;
            continue;
        }
        m_firstEntry.emplace(getStringAttribute(m_entries[i], "releaseID"), i);
    }
    m_bIndexed = true;
}

std::string RelocationDefinition::packageLocation(const std::string& id) {
    VORK_TRACE("RelocationDefinition::packageLocation");
    if (!m_bLoaded) return m_sDefaultLocation;
    VORK_LOG(9, "RelocationDefinition::packageLocation: searching for ID: "
                    << "|" << id << "|");
    if (!m_bIndexed) buildIndex();
    auto found = m_firstEntry.find(id);
    const std::size_t match = found == m_firstEntry.end() ? kNone : found->second;
    // The entries are searched in document order: one without releaseID met
    // before the match fails the search as reading its releaseID does.
    if (m_firstWithoutID != kNone && m_firstWithoutID < match)
        (void)getStringAttribute(m_entries[m_firstWithoutID], "releaseID");
    if (match == kNone) return m_sDefaultLocation;
    const std::string path = getStringAttribute(m_entries[match], "path");
    VORK_LOG(9, "RelocationDefinition::packageLocation: found ID: "
                    << "|" << id << "|, path: "
                    << "|" << path << "|");
    return path;
}
