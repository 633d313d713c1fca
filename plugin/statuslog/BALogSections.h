#pragma once
#include <libxml/tree.h>

#include <array>

class BALogChanges;

// The sections of a status log, found by name in a table instead of by a
// search of the log: SMStatus, BundleSettings (with Bundle, UserInfo and
// BundlePackage inside it), Validation, Progress and rebootCount. The table
// is built with one walk when the document is attached and kept current by
// create() and remove(), the only ways sections come and go; a section is
// the first element of its name, as a path lookup finds it.
class BALogSections {
public:
    enum Section { SMStatus, Settings, Bundle, UserInfo, BundlePackage, Validation, Progress, RebootCount };

    explicit BALogSections(BALogChanges& changes) : m_changes(changes) {}
    BALogSections(const BALogSections&) = delete;
    BALogSections& operator=(const BALogSections&) = delete;

    // The document whose sections are kept; null for none. Only a document
    // whose root is BundleLog has sections.
    void attach(xmlDocPtr doc);
    xmlNodePtr root() const { return m_pRoot; }
    // The section's element, or null when there is none.
    xmlNodePtr find(Section section) const { return m_elements[section]; }
    // Appends a new, empty element for an absent section: to the root, or to
    // BundleSettings for the three that live there (which must exist). Null
    // when libxml2 cannot allocate it.
    xmlNodePtr create(Section section);
    // Removes and frees the section's element, if any.
    void remove(Section section);

    static const char* nameOf(Section section);

private:
    static constexpr int kCount = RebootCount + 1;
    static bool inSettings(Section section);
    void index(xmlNodePtr parent, bool settings);

    BALogChanges& m_changes;
    xmlDocPtr m_pDocument = nullptr;
    xmlNodePtr m_pRoot = nullptr;
    std::array<xmlNodePtr, kCount> m_elements{};
};
