#pragma once
#include <libxml/tree.h>

#include <cstdint>
#include <unordered_set>
#include <vector>

// What changed in a status log since its last save, as far as the elements
// under its root go: those appended (in document order: every top-level
// element is appended at the end), those removed, and the Package entries
// written to. The classes that make these changes say so here; the document
// diff (BALogDiff) reads it when the log is saved. Other top-level elements
// (the few sections) are compared with their saved text instead.
class BALogChanges {
public:
    void appended(xmlNodePtr element) { m_appended.push_back(element); }
    // Before the element is freed: only its address is kept. An element
    // appended since the last save is simply forgotten.
    void removed(xmlNodePtr element);
    void changed(xmlNodePtr entry) { m_changed.insert(entry); }

    const std::vector<xmlNodePtr>& appendedElements() const { return m_appended; }
    const std::vector<std::uintptr_t>& removedElements() const { return m_removed; }
    const std::unordered_set<xmlNodePtr>& changedEntries() const { return m_changed; }

    // The changes are saved, or the document was replaced.
    void clear();

private:
    std::vector<xmlNodePtr> m_appended;
    std::vector<std::uintptr_t> m_removed;
    std::unordered_set<xmlNodePtr> m_changed;
};
