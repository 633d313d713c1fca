#pragma once
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class BALogChanges;

// The document diff of a status log: what changed since its last save, as
// the payload of one journal record, and the replay of such a payload.
//
// Slots number the root's element children: those of the snapshot (the log
// as last written whole) in document order, then every element a record
// appends. A payload is <Save> holding <BundleLog .../> (the root's
// attributes, when they changed), <Drop slot="n"/> for an element that went
// and <Put slot="n">element</Put> for one that changed or is new (n one past
// the last slot: appended at the end).
//
// What changed is found without walking the log: the Package entries written
// to and the elements appended or removed come from BALogChanges; the few
// other top-level elements (the sections) are compared with their text as
// last saved. The diff keeps its own table from element to slot.
class BALogDiff {
public:
    // What one record will change once it is written.
    struct Pending {
        std::string payload;
        std::string rootText;
        std::vector<std::pair<xmlNodePtr, std::string>> added;
        std::vector<std::pair<std::size_t, std::string>> rewritten;
        std::vector<std::size_t> dropped;
    };

    // Forgets the snapshot: nothing can be described until the next one.
    void reset();
    bool bound() const { return m_bBound; }
    // The document was written whole: its elements get their slots (the one
    // walk over the log a snapshot costs). False, unbound, when it cannot be
    // serialised.
    bool snapshot(xmlDocPtr doc);
    // The changes since the snapshot or the last commit; the payload is empty
    // when nothing changed. False when a record cannot express them (an
    // element put anywhere but at the end, an entry the diff does not know):
    // the log must be written whole.
    bool describe(xmlDocPtr doc, const BALogChanges& changes, Pending& pending) const;
    // The record of pending is written.
    void commit(Pending& pending);

    // Replay. The slots of a snapshot: its root's element children.
    static std::vector<xmlNodePtr> slotsOf(xmlDocPtr doc);
    // Applies one payload to doc, whole or not at all (false: it does not
    // fit the slots, or is no record).
    static bool apply(xmlDocPtr doc, const std::string& payload, std::vector<xmlNodePtr>& slots);

private:
    struct Slot {
        bool alive = true;
        bool entry = false;
        xmlNodePtr element = nullptr;
        // A section's text as last saved; "" for entries.
        std::string text;
    };
    void addSlot(xmlNodePtr element, std::string text);
    bool lastElementIsKnown(xmlNodePtr root, const BALogChanges& changes, const std::vector<bool>& droppedNow) const;

    bool m_bBound = false;
    std::vector<Slot> m_slots;
    std::vector<std::size_t> m_sectionSlots;
    std::unordered_map<std::uintptr_t, std::size_t> m_slotOf;
    std::string m_sRootText;
};
