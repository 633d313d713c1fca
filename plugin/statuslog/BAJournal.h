#pragma once
#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FileHandle.h"

// The saves of a status log between two whole writes of its file.
//
// The file itself is the snapshot: written whole and atomically. Beside it,
// "<file>.journal" holds one record per save since the snapshot, with only
// what that save changed: the root's attributes, the top-level elements that
// are new or changed (a Package entry, Progress, SMStatus, ...) and those
// that went. A record is appended and made durable with one fdatasync, so a
// save costs the size of what changed, not the size of the log.
//
// Journal layout (integers little-endian):
//   header  "PLJRNL01", snapshot size (8 bytes), CRC-32 of the snapshot (4),
//           a random journal number (8), CRC-32 of the 28 bytes before (4)
//   records payload length (4), CRC-32 of the journal number, the length
//           and the payload (4), payload: <Save> with <BundleLog .../> (the
//           root's attributes), <Put slot="n">element</Put> and
//           <Drop slot="n"/>
// Slots number the root's element children: those of the snapshot in
// document order, then every element a record appends. A journal whose
// header does not name the snapshot beside it (the snapshot was rewritten
// and a crash kept the old journal) is ignored. Records are replayed in
// order up to the first that is torn, fails its checksum or cannot be
// applied; that one and everything after it are ignored, since each record
// builds on the ones before. A save that was not completed is therefore
// never half applied, and a load always yields the log as of a completed
// save.
//
// Elements other than Package entries are compared with their last saved
// text on every save (they are few and small); a Package entry is written
// when it is new or was marked changed (noteChange), so a save does not
// serialise the whole log.
class BAJournal {
public:
    BAJournal() = default;
    BAJournal(const BAJournal&) = delete;
    BAJournal& operator=(const BAJournal&) = delete;

    static std::string journalName(const std::string& fileName);
    static bool exists(const std::string& fileName);
    // Removes the journal of fileName, if any.
    static void remove(const std::string& fileName);

    // Reads fileName and replays its journal: the document as of the last
    // completed save (owned by the caller), or null when the file is missing
    // or unreadable. The next save of the document writes it whole.
    xmlDocPtr load(const std::string& fileName);

    enum class Append { Done, SnapshotDue, Failed };
    // Appends what changed in doc since its last save. SnapshotDue: the
    // document must be written whole instead (nothing written yet: no
    // snapshot of it, the journal outgrew the snapshot, or a change a record
    // cannot express). Failed: the append failed; the file is as before or
    // holds the new save, and the next save writes the document whole.
    Append append(xmlDocPtr doc, const std::string& fileName, bool privateFile);

    // The snapshot text of doc is now fileName: records start afresh and the
    // old journal goes.
    void snapshotWritten(xmlDocPtr doc, const std::string& fileName, const std::string& text);

    // The next save writes the whole document (a new document or file name,
    // or a file whose state is unsure).
    void forget();

    // Marks the top-level element that holds node as changed; nothing for a
    // document without a journal.
    static void noteChange(xmlNodePtr node);

private:
    struct Slot {
        bool alive = true;
        // A Package entry: written when marked changed. Other elements are
        // compared with text, their last saved form.
        bool marked = false;
        bool changed = false;
        std::string text;
    };
    // What a record changes, applied to the slots once it is durable.
    struct Changes {
        std::string payload;
        std::string rootText;
        std::vector<std::pair<xmlNodePtr, std::string>> added;
        std::vector<std::pair<std::size_t, std::string>> rewritten;
        std::vector<std::size_t> dropped;
    };

    void markChanged(xmlNodePtr top);
    bool slotOf(xmlNodePtr element, std::size_t& index) const;
    void assignSlot(xmlNodePtr element, std::string text);
    bool describeChanges(xmlDocPtr doc, Changes& changes);
    bool describeElement(xmlDocPtr doc, xmlNodePtr element, std::size_t index, Changes& changes);
    void commit(Changes& changes, std::size_t recordSize);
    bool writeRecord(const std::string& fileName, const std::string& record, bool privateFile);
    bool openJournal(const std::string& fileName, bool privateFile);

    bool m_bBound = false;
    std::uint32_t m_nGeneration = 0;
    std::vector<Slot> m_slots;
    std::string m_sRootText;
    std::uint64_t m_nSnapshotSize = 0;
    std::uint32_t m_nSnapshotCrc = 0;
    std::uint64_t m_nJournalNumber = 0;
    std::uint64_t m_nJournalBytes = 0;
    std::optional<VorkSupport::FileHandle> m_journal;
};
