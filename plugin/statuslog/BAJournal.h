#pragma once
#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <string>

#include "BALogDiff.h"
#include "FileHandle.h"

class BALogChanges;

// The saves of a status log between two whole writes of its file.
//
// The file itself is the snapshot: written whole and atomically. Beside it,
// "<file>.journal" holds one record per save since the snapshot, with only
// what that save changed (BALogDiff), in the format of BAJournalFormat. A
// save costs the size of what changed, not the size of the log. A durable
// save flushes the journal with one fdatasync, which makes every record
// written before it durable too: the record that ends one package and the
// one that starts the next reach the disk together.
//
// A load replays the records in order up to the first that is torn, fails
// its checksum, lies beyond the journal's limit or cannot be applied; that
// one and everything after it are ignored, since each record builds on the
// ones before, and what was ignored is logged. A save that was not completed
// is therefore never half applied, and a load always yields the log as of a
// completed save. A journal whose header does not name the snapshot beside
// it is ignored.
class BAJournal {
public:
    BAJournal() = default;
    BAJournal(const BAJournal&) = delete;
    BAJournal& operator=(const BAJournal&) = delete;

    static std::string journalName(const std::string& fileName);

    // Reads fileName and replays its journal: the document as of the last
    // completed save (owned by the caller), or null when the file is missing
    // or unreadable.
    static xmlDocPtr load(const std::string& fileName);

    enum class Append { Done, SnapshotDue, Failed };
    // Appends what changed in doc since its last save, and, when durable,
    // flushes the journal. SnapshotDue: the document must be written whole
    // instead (nothing written yet: no snapshot of it, the journal would
    // outgrow its limit, or a change a record cannot express). Failed: the
    // append or the flush failed; the file is as before or holds the new
    // save, and the next save writes the document whole.
    Append append(xmlDocPtr doc, const BALogChanges& changes, const std::string& fileName, bool privateFile,
                  bool durable);

    // doc was written whole to fileName as text: records start afresh and
    // the old journal goes.
    void snapshotWritten(xmlDocPtr doc, const std::string& fileName, const std::string& text);

    // The next save writes the whole document (a new document or file name,
    // or a file whose state is unsure).
    void forget();

private:
    bool writeRecord(const std::string& fileName, const std::string& record, bool privateFile, bool durable);

    BALogDiff m_diff;
    std::uint64_t m_nSnapshotSize = 0;
    std::uint32_t m_nSnapshotCrc = 0;
    std::uint64_t m_nJournalNumber = 0;
    std::uint64_t m_nJournalBytes = 0;
    // Records written and not yet flushed.
    bool m_bUnflushed = false;
    // The journal's name is durable (its directory was flushed after it was
    // created).
    bool m_bNamed = false;
    std::optional<VorkSupport::FileHandle> m_journal;
};
